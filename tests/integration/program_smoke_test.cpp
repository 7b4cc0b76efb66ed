// Starts the real executables and checks that each loads and saves its own
// INI file in its start directory.

#include <gtest/gtest.h>
#include <signal.h>

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

QProcess* start(const QString& exe, const QString& dir, const QString& runtime) {
    auto* p = new QProcess;
    p->setWorkingDirectory(dir);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", runtime);
    p->setProcessEnvironment(env);
    p->setProgram(exe);
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

}  // namespace
