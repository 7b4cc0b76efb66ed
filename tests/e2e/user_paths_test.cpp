// The real brand executables driven through the X server as a person drives
// them: the menu bar's "Einstellungen" and every tab of the settings dialog,
// the directory dialogs, the close box with and without the confirmation,
// and the tray icon's menu. What the windows show is read through the probe
// plugin; what the program keeps is read from its INI file and its exports.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPoint>
#include <QProcess>
#include <QRegularExpression>
#include <memory>

#include "tests/support/e2e_desktop.h"
#include "tests/support/opl_sim.h"
#include "tests/support/opn_sim.h"
#include "tests/support/real_program.h"
#include "tests/support/temp_files.h"

namespace vt::test {
namespace {

static const bool kDesktop = EnsureTestDesktop();

const QString kSettings = QStringLiteral("Einstellungen");
const QString kVantorCaption = QStringLiteral("VantorTrans  Version 1.18");

QByteArray CsvRecord(const QByteArray& article, const QByteArray& quantity) {
    return QByteArray("KST-1").leftJustified(12, ' ') + ' ' +
           QByteArray("LAGER").leftJustified(12, ' ') + ' ' + article.leftJustified(28, ' ') + ' ' +
           quantity.rightJustified(6, ' ') + " 31.01.2024 14:05:09";
}

QByteArray ShopRecord(const QByteArray& article, const QByteArray& quantity) {
    return article.leftJustified(28, ' ') + ' ' + quantity.rightJustified(6, ' ');
}

int Polls(const OplSim& sim) {
    return sim.log_lines(QStringLiteral("RX HMS0")).size();
}

bool WaitPolls(const OplSim& sim, int polls, int timeout_ms = 8000) {
    QElapsedTimer t;
    t.start();
    while (Polls(sim) < polls && t.elapsed() < timeout_ms)
        PumpEvents(100);
    return Polls(sim) >= polls;
}

class UserPaths : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(kDesktop); }
    void TearDown() override {
        if (HasFailure()) {
            RealProgram::screenshot(QString::fromUtf8(
                ::testing::UnitTest::GetInstance()->current_test_info()->name()));
        }
    }

    // Clicks the menu bar's "Einstellungen" and waits for the dialog.
    std::optional<QJsonObject> OpenSettings(RealProgram& program) {
        const auto main = program.main_window();
        if (!main)
            return std::nullopt;
        const auto bar = Child(*main, QStringLiteral("MainMenu1"));
        if (!bar)
            return std::nullopt;
        const auto item = WithText(bar->value("actions").toArray(), kSettings);
        if (!item)
            return std::nullopt;
        Click(*item);
        return program.window(kSettings);
    }

    // Clicks the tab captioned `tab` and returns the dialog as it then shows.
    std::optional<QJsonObject> ShowTab(RealProgram& program, const QString& tab) {
        const auto pages = program.widget(kSettings, QStringLiteral("PageControl"));
        if (!pages)
            return std::nullopt;
        const auto header = WithText(pages->value("tabs").toArray(), tab);
        if (!header)
            return std::nullopt;
        Click(*header);
        return program.wait_for([&](const QJsonArray& all) -> std::optional<QJsonObject> {
            for (const QJsonValue& v : all) {
                const QJsonObject w = v.toObject();
                if (w.value("title").toString() != kSettings || !w.value("visible").toBool())
                    continue;
                const auto p = Child(w, QStringLiteral("PageControl"));
                if (p && p->value("text").toString() == tab)
                    return w;
            }
            return std::nullopt;
        });
    }

    // Clicks the widget named `name` of the visible window `title`.
    bool ClickWidget(RealProgram& program, const QString& title, const QString& name) {
        const auto w = program.widget(title, name);
        if (w)
            Click(*w);
        return w.has_value();
    }

    // Clicks the push button captioned `caption` of the visible window `title`
    // (message boxes name none of their buttons).
    bool ClickButton(RealProgram& program, const QString& title, const QString& caption) {
        const auto box = program.window(title);
        if (!box)
            return false;
        for (const QJsonValue& v : box->value("widgets").toArray()) {
            const QJsonObject w = v.toObject();
            if (w.value("class").toString() == "QPushButton" &&
                w.value("text").toString() == caption) {
                Click(w);
                return true;
            }
        }
        return false;
    }

    // Closes the main window with the window manager's close key, as a
    // person's Alt+F4 on it would.
    void CloseMainWindow(RealProgram& program) {
        if (const auto memo = program.widget(kVantorCaption, QStringLiteral("Memo1")))
            Click(*memo);
        Keys(QStringLiteral("alt+F4"));
    }

    // Makes a folder `name` in the directory chooser through "Neu", opens it
    // and takes it with "Übernehmen".
    void ChooseNewFolder(RealProgram& program, const QString& name) {
        const QString chooser = QStringLiteral("Verzeichnis");
        const QString maker = QStringLiteral("Neues Verzeichnis");
        ASSERT_TRUE(program.window(chooser)) << "the directory chooser opens";
        ASSERT_TRUE(ClickWidget(program, chooser, QStringLiteral("ButtonNeu")));
        ASSERT_TRUE(program.window(maker)) << "\"Neu\" opens the new-folder dialog";
        ASSERT_TRUE(ClickWidget(program, maker, QStringLiteral("Edit1")));
        Type(name);
        ASSERT_TRUE(ClickWidget(program, maker, QStringLiteral("ButtonUebernehmen")));
        ASSERT_TRUE(program.gone(maker));
        // The new folder is listed, indented under the folder it was made in.
        const auto entry = program.wait_for([&](const QJsonArray& all) -> std::optional<QJsonObject> {
            for (const QJsonValue& v : all) {
                const QJsonObject w = v.toObject();
                if (w.value("title").toString() != chooser || !w.value("visible").toBool())
                    continue;
                const auto list = Child(w, QStringLiteral("DirectoryListBox"));
                for (const QJsonValue& item : list ? list->value("items").toArray() : QJsonArray()) {
                    if (item.toObject().value("text").toString().trimmed() == name)
                        return item.toObject();
                }
            }
            return std::nullopt;
        });
        ASSERT_TRUE(entry) << "the made folder is listed";
        DoubleClick(*entry);
        const auto label = program.wait_for([&](const QJsonArray& all) -> std::optional<QJsonObject> {
            for (const QJsonValue& v : all) {
                const QJsonObject w = v.toObject();
                const auto l = w.value("title").toString() == chooser
                                   ? Child(w, QStringLiteral("DirectoryLabel"))
                                   : std::nullopt;
                if (l && l->value("text").toString().endsWith(u'/' + name))
                    return l;
            }
            return std::nullopt;
        });
        ASSERT_TRUE(label) << "a double click opens the made folder";
        ASSERT_TRUE(ClickWidget(program, chooser, QStringLiteral("ButtonUebernehmen")));
        ASSERT_TRUE(program.gone(chooser));
    }
};

// The menu item opens the dialog on its first tab; a new port and device,
// taken with "Speichern", are opened at once and reach the INI file at the
// orderly close.
TEST_F(UserPaths, SettingsMoveThePortToAnotherScannerAtOnceAndTheIniKeepsIt) {
    OplSim opl(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    OpnSim opn(QStringLiteral(VT_BIN_DIR "/opn2001-sim"));
    ASSERT_TRUE(opl.start());
    ASSERT_TRUE(opn.start());
    RealProgram program;
    program.write_ini(("; von Hand\r\n[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=" + opl.pty_path() +
                       "\r\nCOM4=" + opn.pty_path() + "\r\n")
                          .toUtf8());
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(opl.wait_for_log("RX HMS0", 8000)) << "the OPL-98xx on COM3 is polled";

    const auto dialog = OpenSettings(program);
    ASSERT_TRUE(dialog) << "\"Einstellungen\" opens the settings dialog";
    const auto pages = Child(*dialog, QStringLiteral("PageControl"));
    ASSERT_TRUE(pages);
    EXPECT_EQ(pages->value("text").toString(), kSettings) << "it opens on its first tab";
    EXPECT_EQ(Texts(pages->value("tabs").toArray()),
              QStringList({"Einstellungen", "Shop", "CSV", "UGS"}));
    EXPECT_EQ(Child(*dialog, "ButtonBeenden")->value("text").toString(), "Speichern");
    EXPECT_TRUE(Child(*dialog, "ComboBoxCom")->value("text").toString().startsWith("COM3"));
    EXPECT_EQ(Child(*dialog, "ComboBoxDevice")->value("text").toString(), "OPL-98xx");
    EXPECT_FALSE(Child(*dialog, "Label101")) << "no DLL version for the OPL-98xx";

    // The port list: one step down from COM3 is COM4.
    ASSERT_TRUE(ClickWidget(program, kSettings, "ComboBoxCom"));
    Keys("Down");
    // The device list opens on a click; the second entry is taken with Return.
    ASSERT_TRUE(ClickWidget(program, kSettings, "ComboBoxDevice"));
    Keys("Down Return");
    const auto label = program.widget(kSettings, "Label101");
    ASSERT_TRUE(label) << "choosing the OPN-2001 shows its DLL version line";
    EXPECT_EQ(label->value("text").toString(), "DLL-Version :");
    const auto port = program.widget(kSettings, "ComboBoxCom");
    ASSERT_TRUE(port);
    EXPECT_EQ(port->value("index").toInt(), 3);

    const int polls_before = Polls(opl);
    ASSERT_TRUE(ClickWidget(program, kSettings, "ButtonBeenden"));
    ASSERT_TRUE(program.gone(kSettings)) << "\"Speichern\" closes the dialog";
    EXPECT_TRUE(opn.wait_for_log("RX", 8000)) << "the OPN-2001 on COM4 is spoken to at once";
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 1500)
        PumpEvents(100);
    EXPECT_LE(Polls(opl), polls_before) << "COM3 is no longer polled";
    const auto status = program.widget(kVantorCaption, "StatusPanel");
    ASSERT_TRUE(status);
    EXPECT_EQ(status->value("text").toString(), " Schnittstelle geöffnet");

    CloseMainWindow(program);
    EXPECT_EQ(program.wait_exit(10000), 0) << "the close box ends the program";
    const QByteArray ini = program.ini();
    EXPECT_TRUE(ini.contains("Port=COM4\r\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("Device=1\r\n")) << ini.constData();
    EXPECT_TRUE(ini.startsWith("; von Hand\r\n")) << "the user's comment stays";
    EXPECT_TRUE(ini.contains("COM3=" + opl.pty_path().toUtf8())) << "the mapping stays";
}

// The dialog's close box writes back as "Speichern" does; "Beenden
// bestätigen" then makes the main window's close box ask, "Nein" keeps the
// program running with its port, "Ja" ends it.
TEST_F(UserPaths, CloseBoxOfTheDialogKeepsTheChoiceAndTheCloseIsConfirmed) {
    OplSim opl(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    ASSERT_TRUE(opl.start());
    RealProgram program;
    program.write_ini(("[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=" + opl.pty_path() + "\r\n").toUtf8());
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(opl.wait_for_log("RX HMS0", 8000));

    ASSERT_TRUE(OpenSettings(program));
    const auto box = program.widget(kSettings, "CheckBox103");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->value("text").toString(), "Beenden bestätigen");
    EXPECT_FALSE(box->value("checked").toBool());
    // On its box, not on the empty space right of its text.
    const QJsonObject r = box->value("rect").toObject();
    ClickAt(r.value("x").toInt() + 8, r.value("y").toInt() + r.value("h").toInt() / 2);
    const auto ticked = program.widget(kSettings, "CheckBox103");
    ASSERT_TRUE(ticked && ticked->value("checked").toBool()) << "a click ticks the box";
    const auto login = program.widget(kSettings, "CheckBox104");
    ASSERT_TRUE(login);
    EXPECT_EQ(login->value("text").toString(), "Beim Anmelden starten");
    EXPECT_FALSE(login->value("checked").toBool());
    const QJsonObject l = login->value("rect").toObject();
    ClickAt(l.value("x").toInt() + 8, l.value("y").toInt() + l.value("h").toInt() / 2);
    Keys("alt+F4");
    ASSERT_TRUE(program.gone(kSettings)) << "the close box closes the dialog";

    // Reopened, the dialog shows what the close box kept.
    ASSERT_TRUE(OpenSettings(program));
    const auto kept = program.widget(kSettings, "CheckBox103");
    ASSERT_TRUE(kept);
    EXPECT_TRUE(kept->value("checked").toBool());
    const QStringList entries =
        QDir(program.file("config/autostart")).entryList({"*.desktop"}, QDir::Files);
    EXPECT_EQ(entries.size(), 1) << "\"Beim Anmelden starten\" writes the autostart entry";
    const auto login_kept = program.widget(kSettings, "CheckBox104");
    ASSERT_TRUE(login_kept);
    EXPECT_TRUE(login_kept->value("checked").toBool()) << "the box shows the entry";
    // The lines go to the browser extension from now on.
    const auto keys = program.widget(kSettings, "RadioDeliveryKeys");
    ASSERT_TRUE(keys);
    EXPECT_TRUE(keys->value("checked").toBool()) << "keystrokes unless chosen otherwise";
    const auto extension = program.widget(kSettings, "RadioDeliveryExtension");
    ASSERT_TRUE(extension);
    EXPECT_EQ(extension->value("text").toString(), "Browser-Erweiterung");
    const QJsonObject e = extension->value("rect").toObject();
    ClickAt(e.value("x").toInt() + 8, e.value("y").toInt() + e.value("h").toInt() / 2);
    const auto chosen = program.widget(kSettings, "RadioDeliveryExtension");
    ASSERT_TRUE(chosen && chosen->value("checked").toBool()) << "a click chooses the extension";
    ASSERT_TRUE(ClickWidget(program, kSettings, "ButtonBeenden"));
    ASSERT_TRUE(program.gone(kSettings));
    ASSERT_TRUE(program.widget(kVantorCaption, "StatusPanel"));
    const int polls = Polls(opl);
    ASSERT_TRUE(WaitPolls(opl, polls + 1));

    CloseMainWindow(program);
    const auto question = program.window("Warnung");
    ASSERT_TRUE(question) << "the close box asks";
    EXPECT_EQ(question->value("text").toString(), "Programm beenden ?");
    ASSERT_TRUE(ClickButton(program, "Warnung", "&Nein"));
    ASSERT_TRUE(program.gone("Warnung"));
    EXPECT_TRUE(program.running()) << "\"Nein\" keeps the program running";
    const int after_no = Polls(opl);
    EXPECT_TRUE(WaitPolls(opl, after_no + 2)) << "and polling the scanner";

    CloseMainWindow(program);
    ASSERT_TRUE(program.window("Warnung"));
    ASSERT_TRUE(ClickButton(program, "Warnung", "&Ja"));
    EXPECT_EQ(program.wait_exit(10000), 0) << "\"Ja\" ends the program";
    EXPECT_TRUE(program.ini().contains("ConfirmClose=1\r\n")) << program.ini().constData();
    EXPECT_TRUE(program.ini().contains("Delivery=1\r\n")) << program.ini().constData();
}

// The "Shop" tab's browser kind locks its title; the CSV and UGS tabs choose
// folders made through "Neu", and the next download's exports land there.
TEST_F(UserPaths, ShopTabAndExportFoldersChosenInTheDialogAreUsed) {
    RealProgram program;
    const QString link = program.file("scanner-link");
    program.write_ini(QString("[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=%1\r\n"
                              "[Vantor]\r\nBrowser=0\r\nBrowserTitle=Chromium\r\nFormTitle=Alt\r\n"
                              "[Directory]\r\nCSV=%2/\r\nUGS=%2/\r\n")
                          .arg(link, program.dir())
                          .toUtf8());
    ASSERT_TRUE(program.start());
    ASSERT_TRUE(OpenSettings(program));

    auto shop = ShowTab(program, "Shop");
    ASSERT_TRUE(shop);
    EXPECT_EQ(Child(*shop, "GroupBox200")->value("text").toString(), "Shop Vantor");
    EXPECT_EQ(Texts(Child(*shop, "ComboBoxBrowser1")->value("items").toArray()),
              QStringList({"Manuell", "Microsoft", "Firefox", "Chrome"}));
    ASSERT_TRUE(ClickWidget(program, kSettings, "ComboBoxBrowser1"));
    Keys("Down Down Down Return");
    const auto title = program.widget(kSettings, "Edit201");
    ASSERT_TRUE(title);
    EXPECT_EQ(title->value("text").toString(), "Chrome");
    EXPECT_TRUE(title->value("readonly").toBool()) << "a named browser locks the title";
    ASSERT_TRUE(ClickWidget(program, kSettings, "Edit202"));
    Keys("ctrl+a");
    Type("Neues Formular");

    auto csv = ShowTab(program, "CSV");
    ASSERT_TRUE(csv);
    EXPECT_EQ(Texts(Child(*csv, "ListBox1")->value("items").toArray()),
              QStringList({"Kostenstelle", "Lagerort", "Artikel", "Menge", "Datum", "Zeit"}));
    ASSERT_TRUE(ClickWidget(program, kSettings, "Button1000"));
    ChooseNewFolder(program, "CSV-Neu");
    if (HasFatalFailure())
        return;
    const auto csv_dir = program.widget(kSettings, "Edit1000");
    ASSERT_TRUE(csv_dir);
    EXPECT_TRUE(csv_dir->value("text").toString().endsWith("CSV-Neu/"))
        << csv_dir->value("text").toString().toStdString();

    ASSERT_TRUE(ShowTab(program, "UGS"));
    ASSERT_TRUE(ClickWidget(program, kSettings, "Button2000"));
    ChooseNewFolder(program, "UGS-Neu");
    if (HasFatalFailure())
        return;
    ASSERT_TRUE(ClickWidget(program, kSettings, "ButtonBeenden"));
    ASSERT_TRUE(program.gone(kSettings));
    EXPECT_TRUE(QDir(program.file("CSV-Neu")).exists());
    EXPECT_TRUE(QDir(program.file("UGS-Neu")).exists());

    // The scanner's cradle is plugged in now: its files go to the new folders.
    OplSim opl(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    opl.set_file(2, {CsvRecord("4711", "12")});
    opl.set_file(3, {QByteArray("4711").leftJustified(28, ' ') + "     12 31.01.2024 14:05:09"});
    ASSERT_TRUE(opl.start({"--drop-after-end", "--link", link}));
    auto exported = [&](const QString& folder) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 15000) {
            const QStringList files = QDir(program.file(folder)).entryList(QDir::Files);
            if (!files.isEmpty())
                return files;
            PumpEvents(100);
        }
        return QStringList();
    };
    const QStringList csv_files = exported("CSV-Neu");
    const QStringList ugs_files = exported("UGS-Neu");
    ASSERT_EQ(csv_files.size(), 1) << "the CSV export lands in the chosen folder";
    EXPECT_TRUE(QRegularExpression("^CSV_\\d{8}_\\d{6}\\.TXT$").match(csv_files[0]).hasMatch())
        << csv_files[0].toStdString();
    ASSERT_EQ(ugs_files.size(), 1) << "the UGS export lands in the chosen folder";
    EXPECT_TRUE(QDir(program.dir()).entryList({"CSV_*", "UGS_*"}, QDir::Files).isEmpty())
        << "nothing in the old folder";

    CloseMainWindow(program);
    ASSERT_EQ(program.wait_exit(10000), 0);
    const QByteArray ini = program.ini();
    EXPECT_TRUE(ini.contains("Browser=3\r\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("BrowserTitle=Chrome\r\n")) << ini.constData();
    EXPECT_TRUE(ini.contains("FormTitle=Neues Formular\r\n")) << ini.constData();
    EXPECT_TRUE(ini.contains(("CSV=" + program.file("CSV-Neu") + "/\r\n").toUtf8()))
        << ini.constData();
    EXPECT_TRUE(ini.contains(("UGS=" + program.file("UGS-Neu") + "/\r\n").toUtf8()))
        << ini.constData();
}

// "Verlauf" from the menu bar after a cycle: the brand shop's entry sent
// again goes through the confirmation box into a fresh order form, each line
// once; the CSV entry sent again is a second export, byte for byte the first.
TEST_F(UserPaths, VerlaufSendsAShopEntryAndACsvEntryAgain) {
    const QString form_title = QStringLiteral("Verlauf Bestellformular");
    const QString history = QStringLiteral("Verlauf");
    const QString confirm = QStringLiteral("Bestätigen");
    const QString lines = QStringLiteral("4711\t12\n0815\t3\n");
    auto first = std::make_unique<OrderForm>();
    ASSERT_TRUE(first->open(form_title));
    RealProgram program;
    const QString link = program.file("scanner-link");
    QDir(program.dir()).mkdir("csv");
    program.write_ini(QString("[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=%1\r\n"
                              "[PARAMETER]\r\nKeysendmode=0\r\n"
                              "[Vantor]\r\nBrowser=0\r\nBrowserTitle=Chromium\r\nFormTitle=%2\r\n"
                              "AccessKey=I\r\n[Directory]\r\nCSV=%3/\r\n")
                          .arg(link, form_title, program.file("csv"))
                          .toUtf8());
    ASSERT_TRUE(program.start());
    OplSim opl(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    opl.set_file(0, {ShopRecord("4711", "12"), ShopRecord("0815", "3")});
    opl.set_file(2, {CsvRecord("4711", "12"), CsvRecord("0815", "3")});
    ASSERT_TRUE(opl.start({"--drop-after-end", "--link", link}));
    ASSERT_TRUE(program.window(confirm, 20000)) << "the shop file waits for the confirmation";
    ASSERT_TRUE(ClickButton(program, confirm, "OK"));
    auto log_list = [&] {
        const auto main = program.main_window();
        const auto memo = main ? Child(*main, QStringLiteral("Memo1")) : std::nullopt;
        return memo ? memo->value("text").toString().toStdString() : std::string();
    };
    ASSERT_TRUE(first->wait_for_field(lines, 15000))
        << first->field_text().toStdString() << "\n" << log_list();
    ASSERT_TRUE(opl.wait_for_log("DROP 0", 10000));
    ASSERT_TRUE(opl.wait_for_log("DROP 2", 10000));
    const QStringList exports = QDir(program.file("csv")).entryList({"CSV_*"}, QDir::Files);
    ASSERT_EQ(exports.size(), 1);
    const QByteArray exported = read_file(program.file("csv/" + exports[0]));
    ASSERT_FALSE(exported.isEmpty());

    // The browser crashed before the order was sent: a fresh form is empty.
    first->close();
    first.reset();
    OrderForm fresh;
    ASSERT_TRUE(fresh.open(form_title));

    // The program's window is brought back in front of the new browser, as
    // the taskbar does.
    RunOnDesktop("xdotool", {"search", "--name", "^" + kVantorCaption + "$", "windowactivate",
                             "--sync"});
    PumpEvents(300);
    const auto main = program.main_window();
    ASSERT_TRUE(main);
    const auto bar = Child(*main, QStringLiteral("MainMenu1"));
    ASSERT_TRUE(bar);
    const auto item = WithText(bar->value("actions").toArray(), history);
    ASSERT_TRUE(item) << "the menu bar has \"Verlauf\"";
    Click(*item);
    ASSERT_TRUE(program.window(history)) << "\"Verlauf\" opens its window";
    auto entry_of = [&](const QString& target) -> std::optional<QJsonObject> {
        const auto list = program.widget(history, QStringLiteral("JournalList"));
        for (const QJsonValue& v : list ? list->value("items").toArray() : QJsonArray()) {
            if (v.toObject().value("cells").toArray().at(2).toString() == target)
                return v.toObject();
        }
        return std::nullopt;
    };
    const auto shop_entry = entry_of(QStringLiteral("Shop Vantor"));
    ASSERT_TRUE(shop_entry) << "the shop file is listed";
    EXPECT_EQ(shop_entry->value("cells").toArray().at(3).toString(), "2");
    Click(*shop_entry);
    ASSERT_TRUE(ClickWidget(program, history, QStringLiteral("JournalResend")));
    ASSERT_TRUE(program.window(confirm)) << "a resend asks as a download does";
    ASSERT_TRUE(ClickButton(program, confirm, "OK"));
    EXPECT_TRUE(fresh.wait_for_field(lines, 15000))
        << fresh.field_text().toStdString() << "\n" << log_list();
    EXPECT_EQ(fresh.settle(500), lines) << "every line exactly once";

    // The typing brought the browser to the front; the user comes back to
    // "Verlauf" for the CSV file.
    RunOnDesktop("xdotool", {"search", "--name", "^" + history + "$", "windowactivate", "--sync"});
    PumpEvents(300);
    const auto csv_entry = entry_of(QStringLiteral("CSV"));
    ASSERT_TRUE(csv_entry) << "the CSV file is listed";
    Click(*csv_entry);
    ASSERT_TRUE(ClickWidget(program, history, QStringLiteral("JournalResend")));
    QStringList again;
    QElapsedTimer t;
    t.start();
    while (again.size() < 2 && t.elapsed() < 10000) {
        PumpEvents(100);
        again = QDir(program.file("csv")).entryList({"CSV_*"}, QDir::Files);
    }
    ASSERT_EQ(again.size(), 2) << "a second export under a new name";
    again.removeAll(exports[0]);
    EXPECT_EQ(read_file(program.file("csv/" + again.value(0))), exported);
}

// A paced download of 2,000 lines shows its rising count in the status bar,
// and the bar's own text comes back afterwards.
TEST_F(UserPaths, ALongDownloadShowsItsRisingCountInTheStatusBar) {
    RealProgram program;
    const QString link = program.file("scanner-link");
    program.write_ini(QString("[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=%1\r\n"
                              "[Directory]\r\nUGS=%2/\r\n")
                          .arg(link, program.dir())
                          .toUtf8());
    ASSERT_TRUE(program.start());
    QList<QByteArray> many;
    for (int i = 0; i < 2000; ++i)
        many << ShopRecord("A" + QByteArray::number(10000 + i), "1") + " 31.01.2024 14:05:09";
    OplSim opl(QStringLiteral(VT_BIN_DIR "/opl98xx-sim"));
    opl.set_file(3, many);
    ASSERT_TRUE(opl.start({"--drop-after-end", "--link", link, "--baud", "200000"}));
    const QRegularExpression shown(QStringLiteral("^ Empfange UGS\\.TXT: (\\d+) Zeilen$"));
    QList<int> counts;
    QStringList seen;
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 40000 && opl.log_lines("DROP 3").isEmpty()) {
        const auto panel = program.widget(kVantorCaption, QStringLiteral("StatusPanel"), 1000);
        const QString text = panel ? panel->value("text").toString() : QString();
        if (seen.isEmpty() || seen.last() != text)
            seen << text;
        const auto m = shown.match(text);
        if (m.hasMatch() && (counts.isEmpty() || counts.last() != m.captured(1).toInt()))
            counts << m.captured(1).toInt();
        PumpEvents(150);
    }
    ASSERT_FALSE(opl.log_lines("DROP 3").isEmpty()) << "the download ended";
    ASSERT_GE(counts.size(), 3) << "the count was seen to move: " << seen.join(" | ").toStdString();
    for (qsizetype i = 1; i < counts.size(); ++i)
        EXPECT_GT(counts[i], counts[i - 1]);
    EXPECT_LE(counts.last(), 2000);
    const auto after = program.wait_for([&](const QJsonArray& all) -> std::optional<QJsonObject> {
        for (const QJsonValue& v : all) {
            const auto p = Child(v.toObject(), QStringLiteral("StatusPanel"));
            if (p && !p->value("text").toString().trimmed().startsWith("Empfange"))
                return p;
        }
        return std::nullopt;
    }, 10000);
    ASSERT_TRUE(after) << "the status bar's text comes back";
    EXPECT_EQ(after->value("text").toString(), " Schnittstelle geöffnet");
    CloseMainWindow(program);
    EXPECT_EQ(program.wait_exit(10000), 0);
}

// The tray icon in our own notification area, the window minimised into it:
// the menu's "&Info" shows the brand's box (and closing it does not end the
// program), a left click restores the window, "&Beenden" ends the program
// with the INI saved.
TEST_F(UserPaths, TrayMenuInfoRestoreAndBeenden) {
    QProcess host;
    host.start(QStringLiteral(VT_TRAY_HOST), {});
    ASSERT_TRUE(host.waitForReadyRead(5000));
    ASSERT_TRUE(host.readLine().startsWith("ready"));
    RealProgram program;
    const QByteArray kTrayIni = "[PORT]\r\nPort=COM3\r\n[Ports]\r\nCOM3=/nonexistent/tty\r\n"
                                "[PARAMETER]\r\nTrayIcon=1\r\nMinimize=1\r\nTaskBar=0\r\n";
    program.write_ini(kTrayIni);
    ASSERT_TRUE(program.start());
    auto docked = [&]() -> QPoint {
        QElapsedTimer t;
        t.start();
        while (!host.canReadLine() && t.elapsed() < 8000) {
            host.waitForReadyRead(100);
            PumpEvents(20);
        }
        const QList<QByteArray> f = host.readLine().trimmed().split(' ');
        return f.size() == 4 && f[0] == "docked" ? QPoint(f[2].toInt(), f[3].toInt()) : QPoint();
    };
    const QPoint icon = docked();
    ASSERT_FALSE(icon.isNull()) << "the icon docks in the notification area";
    auto in_tray = [](const QJsonArray& all) -> std::optional<QJsonObject> {
        for (const QJsonValue& v : all) {
            const QJsonObject w = v.toObject();
            if (w.value("class").toString() == "vt::TForm1" && !w.value("visible").toBool())
                return w;
        }
        return std::nullopt;
    };
    ASSERT_TRUE(program.wait_for(in_tray))
        << "minimised without a taskbar button, the window is hidden";
    // The window manager may still be busy with the minimising; a menu opened
    // meanwhile would be closed by it.
    PumpEvents(500);

    auto click_icon = [&](int button, const auto& pick) {
        ClickAt(icon.x(), icon.y(), button);
        return program.wait_for(pick, 4000);
    };
    auto menu_item = [&](const QString& text) -> std::optional<QJsonObject> {
        return click_icon(3, [&](const QJsonArray& all) -> std::optional<QJsonObject> {
            for (const QJsonValue& v : all) {
                const QJsonObject w = v.toObject();
                if (w.value("name").toString() == "PopupMenu1" && w.value("visible").toBool())
                    return WithText(w.value("actions").toArray(), text);
            }
            return std::nullopt;
        });
    };
    const auto info = menu_item("&Info");
    ASSERT_TRUE(info) << "a right click opens the menu";
    Click(*info);
    const auto box = program.window("VantorTrans");
    ASSERT_TRUE(box) << "\"&Info\" shows the info box";
    EXPECT_EQ(box->value("text").toString(), kVantorCaption);
    Keys("Return");
    ASSERT_TRUE(program.gone("VantorTrans"));
    PumpEvents(500);
    ASSERT_TRUE(program.running()) << "closing the box does not end the program";

    // Restored from the tray, the window shows; its start hint from the
    // minimising once kept it iconified instead.
    const auto restored = click_icon(1, [](const QJsonArray& all) -> std::optional<QJsonObject> {
        for (const QJsonValue& v : all) {
            const QJsonObject w = v.toObject();
            if (w.value("class").toString() == "vt::TForm1" && w.value("visible").toBool() &&
                !w.value("minimized").toBool())
                return w;
        }
        return std::nullopt;
    });
    ASSERT_TRUE(restored) << "a left click on the icon restores the window";
    const auto mapped = RunOnDesktop("xdotool", {"search", "--onlyvisible", "--name", "^" + kVantorCaption + "$"});
    EXPECT_FALSE(mapped.value_or(QByteArray()).trimmed().isEmpty())
        << "the X server shows the restored window";

    CloseMainWindow(program);
    ASSERT_EQ(program.wait_exit(10000), 0);

    // "&Beenden" from the tray, with the window still in it.
    RealProgram second;
    second.write_ini(kTrayIni);
    ASSERT_TRUE(second.start());
    const QPoint second_icon = docked();
    ASSERT_FALSE(second_icon.isNull());
    ASSERT_TRUE(second.wait_for(in_tray));
    PumpEvents(500);
    ClickAt(second_icon.x(), second_icon.y(), 3);
    const auto quit = second.wait_for([&](const QJsonArray& all) -> std::optional<QJsonObject> {
        for (const QJsonValue& v : all) {
            const QJsonObject w = v.toObject();
            if (w.value("name").toString() == "PopupMenu1" && w.value("visible").toBool())
                return WithText(w.value("actions").toArray(), "&Beenden");
        }
        return std::nullopt;
    });
    ASSERT_TRUE(quit);
    Click(*quit);
    EXPECT_EQ(second.wait_exit(10000), 0) << "\"&Beenden\" ends the program";
    const QByteArray ini = second.ini();
    EXPECT_TRUE(ini.contains("Baud=115200\r\n")) << "the settings were saved: " << ini.constData();
    EXPECT_TRUE(ini.contains("TrayIcon=1\r\n")) << ini.constData();
    host.kill();
    host.waitForFinished();
}

// Each brand's own dialog: its shop group, and in the Mirabo and Dörfal
// builds with the OPN-2001 the CSV tab's three barcode columns.
TEST_F(UserPaths, EachBrandOpensItsOwnDialog) {
    struct Brand {
        const char* executable;
        const char* caption;
        const char* shop;
    };
    for (const Brand& b : {Brand{"MiraboTrans", "MiraboTrans  Version 1.18", "Shop Mirabo"},
                           Brand{"DoerfalTrans", "DörfalTrans  Version 1.18", "Shop Dörfal"}}) {
        SCOPED_TRACE(b.executable);
        RealProgram program(b.executable);
        program.write_ini("[PORT]\r\nPort=COM3\r\nDevice=1\r\n[Ports]\r\nCOM3=/nonexistent/tty\r\n");
        ASSERT_TRUE(program.start());
        ASSERT_TRUE(program.window(QString::fromUtf8(b.caption))) << "the brand's caption";
        const auto dialog = OpenSettings(program);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(Child(*dialog, "ComboBoxDevice")->value("text").toString(), "OPN-2001");
        EXPECT_TRUE(Child(*dialog, "Label101")) << "the DLL version line";
        const auto shop = ShowTab(program, "Shop");
        ASSERT_TRUE(shop);
        EXPECT_EQ(Child(*shop, "GroupBox200")->value("text").toString(), QString::fromUtf8(b.shop));
        const auto csv = ShowTab(program, "CSV");
        ASSERT_TRUE(csv);
        EXPECT_EQ(Texts(Child(*csv, "ListBox1")->value("items").toArray()),
                  QStringList({"Artikel", "Datum", "Zeit"}));
        ASSERT_TRUE(ClickWidget(program, kSettings, "ButtonBeenden"));
        ASSERT_TRUE(program.gone(kSettings));
        const auto main = program.main_window();
        ASSERT_TRUE(main);
        EXPECT_TRUE(Child(*main, "SpeedButton3")) << "the CSV target button of the OPN-2001";
        if (const auto memo = Child(*main, "Memo1"))
            Click(*memo);
        Keys("alt+F4");
        EXPECT_EQ(program.wait_exit(10000), 0);
    }
}

}  // namespace
}  // namespace vt::test
