// Starts the real executables and checks that each loads and saves its own
// INI file in its start directory, or in its per-user folder when started
// as the menu does.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "platform/profile_file.h"
#include "tests/support/temp_files.h"

namespace {

struct Brand {
    const char* exe;
    const char* ini;
    const char* section;
};

QProcess* start(const QString& exe, const QString& dir, const QString& runtime,
                const QStringList& args = {}, const QString& data_home = {}) {
    auto* p = new QProcess;
    p->setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime);
    if (!data_home.isEmpty())
        env.insert("XDG_DATA_HOME", data_home);
    p->setProcessEnvironment(env);
    p->setProgram(exe);
    p->setArguments(args);
    p->start();
    return p;
}

TEST(ProgramSmoke, EachBrandLoadsAndSavesItsOwnIniFile) {
    for (const Brand& b : {Brand{"VantorTrans", "VantorTrans.ini", "Vantor"},
                           Brand{"MiraboTrans", "MiraboTrans.ini", "Mirabo"},
                           Brand{"DoerfalTrans", "DoerfalTrans.ini", "Doerfal"}}) {
        SCOPED_TRACE(b.exe);
        QTemporaryDir dir, runtime;
        const QString ini = dir.filePath(b.ini);
        vt::test::write_file(ini, QByteArray("; kept\r\n[PORT]\r\nPort=COM7\r\n[") + b.section +
                                      "]\r\nFormTitle=Bestellung\r\n[DEBUG]\r\nDebug=1\r\n");
        std::unique_ptr<QProcess> p(
            start(QString(VT_BIN_DIR "/") + b.exe, dir.path(), runtime.path()));
        ASSERT_TRUE(p->waitForStarted(5000));
        QThread::msleep(800);
        ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
        ASSERT_TRUE(p->waitForFinished(10000));
        EXPECT_EQ(p->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p->exitCode(), 0);
        const vt::ProfileFile saved(ini);
        EXPECT_EQ(saved.read_string(u"PORT", u"Port", ""), "COM7");
        EXPECT_EQ(saved.read_string(u"PORT", u"Baud", ""), "115200");
        EXPECT_EQ(saved.read_string(QString(b.section), u"FormTitle", ""), "Bestellung");
        EXPECT_EQ(saved.read_string(u"DEBUG", u"Debug", ""), "1");
        const std::string text = vt::test::str(vt::test::read_file(ini));
        EXPECT_EQ(text.rfind("; kept\r\n", 0), 0u);
    }
}

// The menu entry's command: the start directory (here a writable one, as the
// home folder is) is left alone; the per-user folder gets Temp/ and the INI.
TEST(ProgramSmoke, TheMenuCommandWorksInThePerUserFolder) {
    QTemporaryDir home, start_dir, runtime;
    const QString folder = home.filePath("data/DoerfalTrans");
    std::unique_ptr<QProcess> p(start(VT_BIN_DIR "/DoerfalTrans", start_dir.path(), runtime.path(),
                                      {"--user-folder"}, home.filePath("data")));
    ASSERT_TRUE(p->waitForStarted(5000));
    for (int i = 0; i < 100 && !QFileInfo::exists(folder + "/Temp"); ++i)
        QThread::msleep(100);
    EXPECT_TRUE(QFileInfo(folder + "/Temp").isDir());
    ::kill(static_cast<pid_t>(p->processId()), SIGTERM);
    ASSERT_TRUE(p->waitForFinished(10000));
    EXPECT_EQ(p->exitCode(), 0);
    EXPECT_EQ(vt::ProfileFile(folder + "/DoerfalTrans.ini").read_string(u"PORT", u"Port", ""),
              "COM1");
    EXPECT_TRUE(QDir(start_dir.path()).isEmpty()) << "nothing lands in the start directory";
}

}  // namespace
