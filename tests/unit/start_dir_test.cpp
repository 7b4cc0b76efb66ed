// Where the program works: the current directory from a shell, the per-user
// folder for a menu or login start and for a start directory it cannot write.

#include "settings/start_dir.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "settings/autostart.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

namespace vt {
namespace {

// Points HOME and the XDG folders at a fresh folder and restores them.
class EnvFolder {
  public:
    explicit EnvFolder(const char* name) : name_(name), had_(qEnvironmentVariableIsSet(name)),
                                           saved_(qgetenv(name)) {}
    ~EnvFolder() {
        if (had_)
            qputenv(name_, saved_);
        else
            qunsetenv(name_);
    }
    void set(const QString& value) { qputenv(name_, QFile::encodeName(value)); }
    void unset() { qunsetenv(name_); }

  private:
    const char* name_;
    bool had_;
    QByteArray saved_;
};

class StartDirTest : public ::testing::Test {
  protected:
    QStringList Args(bool user_folder) const {
        QStringList a{QStringLiteral("/usr/bin/VantorTrans")};
        if (user_folder) a << QString::fromUtf8(kUserFolderOption);
        return a;
    }
    QTemporaryDir home_;
    QTemporaryDir shell_;
    EnvFolder home_env_{"HOME"};
    EnvFolder data_env_{"XDG_DATA_HOME"};
    test::RecordingDialogs boxes_;
};

TEST_F(StartDirTest, AShellStartKeepsTheCurrentDirectory) {
    data_env_.set(home_.filePath("data"));
    EXPECT_EQ(ChooseStartDir(Args(false), shell_.path(), "VantorTrans", "VantorTrans.ini"),
              shell_.path());
    EXPECT_FALSE(QDir(home_.filePath("data")).exists()) << "no user folder is made for it";
    // The option is the menu's, not the program name's.
    EXPECT_EQ(ChooseStartDir({QString::fromUtf8(kUserFolderOption)}, shell_.path(), "VantorTrans",
                             "VantorTrans.ini"),
              shell_.path());
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(StartDirTest, AMenuStartWorksInTheUserFolderMadeAtFirstStart) {
    data_env_.set(home_.filePath("data"));
    const QString folder = home_.filePath("data/MiraboTrans");
    EXPECT_EQ(ChooseStartDir(Args(true), "/", "MiraboTrans", "MiraboTrans.ini"), folder);
    EXPECT_TRUE(QDir(folder).exists());
    EXPECT_EQ(ChooseStartDir(Args(true), "/", "MiraboTrans", "MiraboTrans.ini"), folder)
        << "the second start finds it";

    // The INI where a menu start starts comes along once; after that the
    // user's own is kept.
    test::write_file(shell_.filePath("MiraboTrans.ini"), "[PORT]\r\nPort=COM4\r\n");
    EXPECT_EQ(ChooseStartDir(Args(true), shell_.path(), "MiraboTrans", "MiraboTrans.ini"), folder);
    EXPECT_EQ(test::read_file(folder + "/MiraboTrans.ini"), "[PORT]\r\nPort=COM4\r\n");
    test::write_file(folder + "/MiraboTrans.ini", "[PORT]\r\nPort=COM5\r\n");
    ChooseStartDir(Args(true), shell_.path(), "MiraboTrans", "MiraboTrans.ini");
    EXPECT_EQ(test::read_file(folder + "/MiraboTrans.ini"), "[PORT]\r\nPort=COM5\r\n");

    // Without XDG_DATA_HOME (or with a relative one) the folder is under HOME.
    home_env_.set(home_.path());
    data_env_.unset();
    EXPECT_EQ(UserFolder("VantorTrans"), home_.filePath(".local/share/VantorTrans"));
    data_env_.set("relative/data");
    EXPECT_EQ(UserFolder("VantorTrans"), home_.filePath(".local/share/VantorTrans"));
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(StartDirTest, AStartDirectoryThatCannotBeWrittenIsReplacedByTheUserFolder) {
    data_env_.set(home_.filePath("data"));
    // /proc takes no new files, not even from root.
    EXPECT_FALSE(DirectoryWritable("/proc"));
    EXPECT_TRUE(DirectoryWritable(shell_.path()));
    EXPECT_EQ(ChooseStartDir(Args(false), "/proc", "VantorTrans", "VantorTrans.ini"),
              home_.filePath("data/VantorTrans"));
    EXPECT_TRUE(QDir(shell_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                    .isEmpty())
        << "the write probe leaves nothing behind";
}

TEST_F(StartDirTest, TheSettingsOfAStartDirectoryThatCannotBeWrittenComeAlong) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder it may not";
    data_env_.set(home_.filePath("data"));
    test::write_file(shell_.filePath("VantorTrans.ini"), "[PORT]\r\nPort=COM7\r\n");
    ASSERT_TRUE(QFile::setPermissions(shell_.path(), QFile::ReadOwner | QFile::ExeOwner));
    const QString chosen = ChooseStartDir(Args(false), shell_.path(), "VantorTrans", "VantorTrans.ini");
    QFile::setPermissions(shell_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    EXPECT_EQ(chosen, home_.filePath("data/VantorTrans"));
    EXPECT_EQ(test::read_file(chosen + "/VantorTrans.ini"), "[PORT]\r\nPort=COM7\r\n");
}

TEST_F(StartDirTest, AUserFolderThatCannotBeMadeIsToldOnceAndTheProgramGoesOn) {
    data_env_.set("/proc/no-such-place");
    EXPECT_EQ(ChooseStartDir(Args(true), shell_.path(), "VantorTrans", "VantorTrans.ini"),
              shell_.path());
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].text,
              "Benutzerordner /proc/no-such-place/VantorTrans konnte nicht erstellt werden. "
              "Das Programm arbeitet in " + shell_.path() + ".");
    EXPECT_EQ(boxes_.boxes[0].icon, BoxIcon::Error);
}

// The autostart entry's own rules; the settings dialog's box is tested with
// the dialog.
TEST_F(StartDirTest, AutostartEntryIsWrittenRemovedAndAForeignOneKept) {
    EnvFolder config_env("XDG_CONFIG_HOME");
    config_env.set(home_.filePath("config"));
    const QString path = AutostartPath("VantorTrans");
    EXPECT_EQ(path, home_.filePath("config/autostart/de.vantortrans.VantorTrans.desktop"));
    EXPECT_FALSE(AutostartEnabled("VantorTrans"));

    EXPECT_EQ(SetAutostart("VantorTrans", "VantorTrans", true, "/opt/Vantor Trans/VantorTrans"),
              AutostartResult::Done);
    const QByteArray written = test::read_file(path);
    EXPECT_TRUE(written.contains("\nExec=\"/opt/Vantor Trans/VantorTrans\" --user-folder\n"))
        << written.constData();
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (!validator.isEmpty()) {
        QProcess check;
        check.start(validator, {path});
        ASSERT_TRUE(check.waitForFinished(10000));
        EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().constData();
    }
    EXPECT_TRUE(AutostartEnabled("VantorTrans"));
    EXPECT_FALSE(AutostartEnabled("MiraboTrans")) << "each brand has its own entry";
    EXPECT_EQ(SetAutostart("VantorTrans", "VantorTrans", false, "/usr/bin/VantorTrans"),
              AutostartResult::Done);
    EXPECT_FALSE(QFile::exists(path));

    // Switched off by hand with Hidden=true: it exists but does not start.
    const QByteArray by_hand = "[Desktop Entry]\nType=Application\nExec=VantorTrans\nHidden=true\n";
    test::write_file(path, by_hand);
    EXPECT_FALSE(AutostartEnabled("VantorTrans"));
    EXPECT_EQ(SetAutostart("VantorTrans", "VantorTrans", true, "/usr/bin/VantorTrans"),
              AutostartResult::NotOurs);
    EXPECT_EQ(SetAutostart("VantorTrans", "VantorTrans", false, "/usr/bin/VantorTrans"),
              AutostartResult::NotOurs);
    EXPECT_EQ(test::read_file(path), by_hand);

    // An autostart folder that cannot be made.
    QFile::remove(path);
    config_env.set("/proc/no-such-place");
    EXPECT_EQ(SetAutostart("VantorTrans", "VantorTrans", true, "/usr/bin/VantorTrans"),
              AutostartResult::CannotWrite);
}

}  // namespace
}  // namespace vt
