#pragma once
// Small helpers for tests that work on real files in a fresh folder.

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <string>

namespace vt::test {

inline void write_file(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write");
    f.write(bytes);
}

inline QByteArray read_file(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<missing>");
    return f.readAll();
}

inline std::string str(const QByteArray& b) {
    return std::string(b.constData(), size_t(b.size()));
}

}  // namespace vt::test
