#pragma once
// A fresh start directory for a main window made in the test process: the
// process's current directory (where the program finds its INI file and
// makes Temp/) and its own lock folder, both restored afterwards.

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QTemporaryDir>

namespace vt::test {

class ProgramDir {
public:
    ProgramDir() : old_cwd_(QDir::currentPath()), old_runtime_(qgetenv("XDG_RUNTIME_DIR")) {
        QDir::setCurrent(dir_.path());
        qputenv("XDG_RUNTIME_DIR", runtime_.path().toUtf8());
    }
    ~ProgramDir() {
        QDir::setCurrent(old_cwd_);
        qputenv("XDG_RUNTIME_DIR", old_runtime_);
    }
    ProgramDir(const ProgramDir&) = delete;
    ProgramDir& operator=(const ProgramDir&) = delete;

    QString path() const { return dir_.path(); }
    QString filePath(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_, runtime_;
    QString old_cwd_;
    QByteArray old_runtime_;
};

}  // namespace vt::test
