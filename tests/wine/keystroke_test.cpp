// The Windows program under Wine delivers the shop files by keystrokes and
// the clipboard into Windows programs that nobody here wrote: Wine's Notepad
// for the modes that paste without an access key, and a form of Windows' own
// controls (tests/tools/win_form.cpp) whose field is reached by its access
// key. What arrived is read back from the edit controls with WM_GETTEXT.

#include <gtest/gtest.h>

#include <QProcess>

#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_records.h"
#include "tests/support/opl_sim.h"
#include "tests/support/qt_print.h"
#include "tests/support/real_program.h"
#include "tests/support/wine.h"
#include "tests/support/wine_test.h"

namespace vt::test {
namespace {

const QString kNotepad = QStringLiteral("Untitled - Notepad");
const QString kShopForm = QStringLiteral("Bestellformular - Testform");
const QString kSimpleForm = QStringLiteral("Simple System - Testform");

QString WinForm() { return WindowsPath(QStringLiteral(VT_WINDOWS_BUILD "/bin/win_form.exe")); }

class WindowsKeystrokes : public WinePrefixTest {
  protected:
    void TearDown() override {
        if (HasFailure()) {
            std::fprintf(stderr, "log list:\n%s\nstatus list:\n%s\nsimulator:\n%s\n",
                         qPrintable(MainWindowText(program_, "Memo1")),
                         qPrintable(MainWindowText(program_, "Memo2")),
                         qPrintable(sim_.log().mid(std::max<qsizetype>(0, sim_.log().size() - 20))
                                        .join('\n')));
        }
        WinePrefixTest::TearDown();
        for (QProcess* p : windows_) {
            p->kill();
            p->waitForFinished(3000);
            delete p;
        }
    }

    // The scanner with a file for each shop (none for an empty list).
    void StartScanner(const QList<QByteArray>& shop, const QList<QByteArray>& simple) {
        sim_.set_file(0, shop);
        if (!simple.isEmpty())
            sim_.set_file(1, simple);
        ASSERT_TRUE(sim_.start({"--drop-after-end"}));
        // Wine knows a port only when it is mapped before its server starts.
        ASSERT_TRUE(prefix_.map_com(3, sim_.pty_path()));
    }
    void StartScanner() {
        StartScanner({ShopRecord("4711", "12"), ShopRecord("X;0815;Y", "3")},
                     {ShopRecord("S-100", "1"), ShopRecord("S-200", "4")});
    }

    // A Windows program of the prefix whose window titled `title` shows.
    void Open(const QStringList& args, const QString& title) {
        auto* p = new QProcess;
        windows_.push_back(p);
        p->setProcessEnvironment(prefix_.environment(DesktopEnvironment()));
        p->start(QString::fromLatin1(kWine), args);
        ASSERT_TRUE(p->waitForStarted(5000));
        ASSERT_TRUE(WaitFor([&] { return Text(title).has_value(); }, 60000, 200))
            << title.toStdString() << " did not show";
    }
    void OpenForm(const QString& title) { Open({WinForm(), "form", title}, title); }

    // What the edit of the window titled `title` holds.
    std::optional<QByteArray> Text(const QString& title) {
        return prefix_.run({WinForm(), "text", title}, 15000);
    }

    void StartProgram(int keysendmode, const QString& shops) {
        program_.write_ini(QString("[PORT]\r\nPort=COM3\r\n[PARAMETER]\r\nKeysendmode=%1\r\n%2")
                               .arg(keysendmode)
                               .arg(shops)
                               .toUtf8());
        program_.run_under_wine(&prefix_);
        ASSERT_TRUE(program_.start());
    }

    bool WaitForDrops(const QString& what, int n, int timeout_ms) {
        return WaitFor([&] { return sim_.count(what) >= n; }, timeout_ms, 100);
    }
    // Two more polls: whatever was to come has come.
    bool TwoMorePolls() {
        const int polls = sim_.count("RX HMS0");
        return WaitForDrops("RX HMS0", polls + 2, 20000);
    }

    OplSim sim_{QStringLiteral(VT_BIN_DIR "/opl98xx-sim")};
    RealProgram program_;
    std::vector<QProcess*> windows_;
};

const QString kShopToNotepad =
    QStringLiteral("[Vantor]\r\nBrowser=0\r\nBrowserTitle=Notepad\r\nFormTitle=Untitled\r\n");

class NotepadBatch : public WindowsKeystrokes, public ::testing::WithParamInterface<int> {};

// Mode 1 pastes the whole file at once with Ctrl+V; mode 2 leaves it on the
// clipboard, where the user's own Ctrl+V takes it. Either way Notepad holds
// the lines byte for byte, TABs and line ends as sent, and the scanner lets
// the file go once. The Simple System shop has no window and keeps its file.
TEST_P(NotepadBatch, GetsTheLinesPastedOrFromTheClipboard) {
    const int mode = GetParam();
    StartScanner();
    Open({"notepad"}, kNotepad);
    StartProgram(mode, kShopToNotepad);
    ASSERT_TRUE(AnswerBox(program_, "Bestätigen", 60000));
    ASSERT_TRUE(WaitForDrops("DROP 0", 1, 30000)) << "the scanner let the shop file go";
    const QByteArray lines = "4711\t12\r0815\t3\r";
    if (mode == 2) {
        EXPECT_EQ(Text(kNotepad), QByteArray()) << "nothing is typed in mode 2";
        const QByteArray id = RunOnDesktop("xdotool", {"search", "--name", "^" + kNotepad + "$"})
                                  .value_or(QByteArray())
                                  .trimmed();
        ASSERT_FALSE(id.isEmpty());
        RunOnDesktop("xdotool", {"windowactivate", "--sync", QString::fromLatin1(id)});
        PumpEvents(300);
        Keys("ctrl+v");
    }
    EXPECT_TRUE(WaitFor([&] { return Text(kNotepad) == lines; }, 10000, 200))
        << Text(kNotepad).value_or("(none)").constData();
    ASSERT_TRUE(TwoMorePolls());
    EXPECT_EQ(Text(kNotepad), lines) << "nothing twice";
    EXPECT_EQ(sim_.count("DROP 0"), 1);
    EXPECT_EQ(sim_.count("DROP 1"), 0) << "the Simple System file waits for its form";
    EXPECT_EQ(sim_.count("RX HMS2"), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, NotepadBatch, ::testing::Values(1, 2));

const QString kShopsToForms = QStringLiteral(
    "[Vantor]\r\nBrowser=0\r\nBrowserTitle=Testform\r\nFormTitle=Bestellformular\r\n"
    "AccessKey=A\r\n"
    "[Simple System]\r\nBrowser=0\r\nBrowserTitle=Testform\r\nFormTitle=Simple System\r\n"
    "AccessKey=A\r\n");

// Mode 0 into both shops: each line goes with the form's access key first
// (the form's button has the focus until then, so a paste without it would
// be lost), one Ctrl+V a line, and the log list shows each line as sent.
TEST_F(WindowsKeystrokes, EachLineGoesToItsFormWithTheAccessKey) {
    StartScanner();
    OpenForm(kShopForm);
    OpenForm(kSimpleForm);
    StartProgram(0, kShopsToForms);
    ASSERT_TRUE(AnswerBox(program_, "Bestätigen", 60000));
    ASSERT_TRUE(WaitForDrops("DROP", 2, 60000)) << "both shop files were let go";
    EXPECT_EQ(Text(kShopForm), QByteArray("4711\t12\r0815\t3\r"));
    EXPECT_EQ(Text(kSimpleForm), QByteArray("S-100\rS-200\r"));
    ASSERT_TRUE(TwoMorePolls());
    EXPECT_EQ(Text(kShopForm), QByteArray("4711\t12\r0815\t3\r")) << "nothing twice";
    EXPECT_EQ(Text(kSimpleForm), QByteArray("S-100\rS-200\r"));
    const QString log = MainWindowText(program_, "Memo1");
    for (const char* line : {"4711\t12", "0815\t3", "S-100", "S-200"})
        EXPECT_TRUE(log.contains(QString::fromUtf8(line))) << line << " in " << log;
    // Each paste was seen fetching its text before the next line replaced it.
    EXPECT_FALSE(log.contains("Zwischenablage nicht abgeholt")) << log;
}

// A window that takes the front in the middle of a file gets no key: the
// form is brought back, and the line that found it gone goes again from
// its access key on, so every line arrives once and in order.
TEST_F(WindowsKeystrokes, AWindowThatTakesTheFrontMidFileGetsNoKey) {
    QList<QByteArray> records;
    QByteArray expected;
    for (int i = 1; i <= 10; ++i) {
        records << ShopRecord("A-" + QByteArray::number(i), QByteArray::number(i));
        expected += "A-" + QByteArray::number(i) + "\t" + QByteArray::number(i) + "\r";
    }
    StartScanner(records, {});
    OpenForm(kShopForm);
    const QString intruder = QStringLiteral("Neue Nachricht");
    auto* steal = new QProcess;
    windows_.push_back(steal);
    steal->setProcessEnvironment(prefix_.environment(DesktopEnvironment()));
    steal->start(QString::fromLatin1(kWine), {WinForm(), "steal", intruder, kShopForm, "3"});
    ASSERT_TRUE(steal->waitForStarted(5000));
    StartProgram(0, kShopsToForms);
    ASSERT_TRUE(AnswerBox(program_, "Bestätigen", 60000));
    ASSERT_TRUE(WaitFor([&] { return steal->readAllStandardOutput().contains("stolen") ||
                                     Text(intruder).has_value(); },
                        60000, 100))
        << "the other window came up during the file";
    ASSERT_TRUE(WaitForDrops("DROP 0", 1, 60000)) << "the file was let go";
    EXPECT_EQ(Text(kShopForm), expected);
    EXPECT_EQ(Text(intruder), QByteArray()) << "not a key in the other window";
}

}  // namespace
}  // namespace vt::test
