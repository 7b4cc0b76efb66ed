// The settings dialog on a real X server: what it shows for the settings
// record, what it writes back, and the port list it offers.

#include <gtest/gtest.h>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <memory>
#include <sstream>

#include "platform/port_list.h"
#include "settings/dir_new.h"
#include "settings/dir_select.h"
#include "settings/opn_state.h"
#include "settings/settings.h"
#include "settings/setup.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/modal_answer.h"
#include "tests/support/pseudo_terminals.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

using namespace vt;

namespace {

const bool kDisplay = test::EnsureTestDesktop();

// The fields the dialog edits, as one comparable text.
std::string Edited(const progparstruct& p) {
    std::ostringstream s;
    s << p.port.toStdString() << '|' << p.device << '|' << p.minimize << p.trayicon << p.taskbar
      << p.confirmclose << '|' << p.delivery;
    for (size_t i = 0; i < 2; ++i) {
        s << '|' << p.browser[i] << ',' << p.browsertitle[i].toStdString() << ','
          << p.formtitle[i].toStdString();
    }
    s << "|csv";
    for (int k = 0; k < 6; ++k)
        s << p.csvpos[size_t(k)];
    s << ',' << p.csvseparator << "|opn";
    for (int k = 0; k < 3; ++k)
        s << p.opn_csvpos[size_t(k)];
    s << ',' << p.opn_csvseparator << '|' << p.praefix.toStdString() << '|'
      << p.csvdir.toStdString() << '|' << p.opn_csvdir.toStdString() << '|'
      << p.ugsdir.toStdString();
    return s.str();
}

QStringList Items(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

std::vector<int32_t> First(const std::array<int32_t, 11>& pos, int n) {
    return std::vector<int32_t>(pos.begin(), pos.begin() + n);
}

class SetupDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = progpar;
        saved_brand_ = BrandId;
        saved_start_ = StartDir;
        saved_ini_ = IniName;
        saved_roots_ = port_list_roots();
        BrandId = 0;
        StartDir = WithTrailingSeparator(start_.path());
        IniName = "VantorTrans.ini";
        // No serial device of this machine may show up in the lists under test.
        port_list_roots() = {start_.filePath("no-sys"), start_.filePath("no-dev")};
        progpar = progparstruct{};
        progpar.port = "COM1";
        progpar.taskbar = true;
        progpar.csvpos = {0, 1, 2, 3, 4, 5};
        progpar.opn_csvpos = {0, 1, 2};
        progpar.csvdir = progpar.opn_csvdir = progpar.ugsdir = StartDir;
        MakeForms();
    }
    void TearDown() override {
        form_.reset();
        dir_select_.reset();
        dir_new_.reset();
        progpar = saved_;
        BrandId = saved_brand_;
        StartDir = saved_start_;
        IniName = saved_ini_;
        port_list_roots() = saved_roots_;
        opn = opnstruct{};
    }

    void MakeForms() {
        form_.reset();
        dir_select_.reset();
        dir_new_ = std::make_unique<TFormDirNew>();
        dir_select_ = std::make_unique<TFormDirSelect>(dir_new_.get());
        form_ = std::make_unique<TFormSetup1>(dir_select_.get());
    }

    void Open() {
        form_->show();
        QApplication::processEvents();
    }

    static void Choose(QComboBox* box, int index) {
        box->setCurrentIndex(index);
        emit box->activated(index);
    }

    // A deep tree of real folders whose full path does not fit the edit.
    static QString DeepFolder(QTemporaryDir& root) {
        QString path = root.path();
        for (const char* name : {"Kundenauftraege", "Niederlassung-Sued", "Bestellungen-2024",
                                 "Quartal-drei", "Export"}) {
            path += '/' + QString(name);
        }
        EXPECT_TRUE(QDir().mkpath(path));
        return path + '/';
    }

    QTemporaryDir start_;
    std::unique_ptr<TFormDirNew> dir_new_;
    std::unique_ptr<TFormDirSelect> dir_select_;
    std::unique_ptr<TFormSetup1> form_;
    test::RecordingDialogs boxes_;
    test::PseudoTerminals ptys_;
    progparstruct saved_;
    int saved_brand_ = 0;
    QString saved_start_, saved_ini_;
    PortListRoots saved_roots_;
};

TEST_F(SetupDialogTest, ShowsTheRecordAndWritesEveryControlBack) {
    progpar.port = "COM12";
    progpar.device = 1;
    progpar.minimize = true;
    progpar.trayicon = false;
    progpar.taskbar = true;
    progpar.confirmclose = true;
    progpar.delivery = 1;
    progpar.browser = {0, 2};
    progpar.browsertitle = {"Chromium", "alt"};
    progpar.formtitle = {"Bestellung", "Warenkorb"};
    progpar.csvpos = {5, 4, 3, 2, 1, 0};
    progpar.csvseparator = 3;
    progpar.praefix = "X-";
    progpar.ugsdir = "/tmp/";
    opn.dllversion = "4.2.1";
    Open();

    EXPECT_EQ(form_->windowTitle(), "Einstellungen");
    EXPECT_EQ(form_->ButtonBeenden->text(), "Speichern");
    EXPECT_EQ(form_->GroupBox200->title(), "Shop Vantor");
    EXPECT_EQ(form_->ComboBoxCom->count(), 100);
    EXPECT_EQ(form_->ComboBoxCom->currentIndex(), 11);
    EXPECT_EQ(form_->ComboBoxDevice->currentText(), "OPN-2001");
    EXPECT_TRUE(form_->CheckBox100->isChecked());
    EXPECT_FALSE(form_->CheckBox101->isChecked());
    EXPECT_TRUE(form_->CheckBox102->isChecked());
    EXPECT_TRUE(form_->CheckBox103->isChecked());
    EXPECT_EQ(form_->GroupBoxDelivery->title(), "Übertragung an den Browser");
    EXPECT_EQ(form_->GroupBoxDelivery->parentWidget(), form_->TabSheetEinstellungen);
    EXPECT_TRUE(form_->RadioDeliveryExtension->isChecked());
    EXPECT_FALSE(form_->RadioDeliveryKeys->isChecked());
    EXPECT_EQ(form_->RadioDeliveryKeys->text(), "Tastatur");
    EXPECT_EQ(form_->RadioDeliveryExtension->text(), "Browser-Erweiterung");
    EXPECT_EQ(form_->ComboBoxBrowser1->currentText(), "Manuell");
    EXPECT_EQ(form_->Edit201->text(), "Chromium");
    EXPECT_EQ(form_->Edit202->text(), "Bestellung");
    EXPECT_EQ(form_->ComboBoxBrowser2->currentText(), "Firefox");
    EXPECT_EQ(form_->Edit211->text(), "Firefox") << "the browser kind names the window";
    EXPECT_EQ(form_->Edit212->text(), "Warenkorb");
    EXPECT_EQ(form_->Edit205->text(), "X-");
    EXPECT_EQ(Items(form_->ListBox1),
              QStringList({"Zeit", "Datum", "Menge", "Artikel", "Lagerort", "Kostenstelle"}));
    EXPECT_EQ(form_->ComboBox1->currentText(), "|");
    EXPECT_EQ(form_->Edit2000->text(), "/tmp/");
    EXPECT_TRUE(form_->Edit1001->isHidden());
    EXPECT_EQ(form_->Label110->text(), "1.18");
    EXPECT_FALSE(form_->Label111->isHidden());
    EXPECT_EQ(form_->Label111->text(), "4.2.1");

    form_->ComboBoxCom->setCurrentIndex(99);
    Choose(form_->ComboBoxDevice, 0);
    form_->CheckBox100->setChecked(false);
    form_->CheckBox101->setChecked(true);
    form_->CheckBox103->setChecked(false);
    form_->RadioDeliveryKeys->click();
    Choose(form_->ComboBoxBrowser1, 3);
    form_->Edit202->setText("Auftrag");
    Choose(form_->ComboBoxBrowser2, 0);
    form_->Edit211->setText("Edge");
    form_->ComboBox1->setCurrentIndex(4);
    form_->Edit205->setText("");
    form_->ButtonBeenden->click();

    EXPECT_FALSE(form_->isVisible());
    EXPECT_EQ(progpar.port, "COM100");
    EXPECT_EQ(progpar.device, 0);
    EXPECT_FALSE(progpar.minimize);
    EXPECT_TRUE(progpar.trayicon);
    EXPECT_TRUE(progpar.taskbar);
    EXPECT_FALSE(progpar.confirmclose);
    EXPECT_EQ(progpar.delivery, 0);
    EXPECT_EQ(progpar.browser[0], 3);
    EXPECT_EQ(progpar.browsertitle[0], "Chrome");
    EXPECT_EQ(progpar.formtitle[0], "Auftrag");
    EXPECT_EQ(progpar.browser[1], 0);
    EXPECT_EQ(progpar.browsertitle[1], "Edge");
    EXPECT_EQ(progpar.formtitle[1], "Warenkorb");
    EXPECT_EQ(progpar.csvseparator, 4);
    EXPECT_EQ(progpar.praefix, "");
    EXPECT_EQ(First(progpar.csvpos, 6), (std::vector<int32_t>{5, 4, 3, 2, 1, 0}));
    EXPECT_EQ(progpar.ugsdir, "/tmp/") << "directories change only through their buttons";
}

TEST_F(SetupDialogTest, CloseBoxWritesBackExactlyAsSpeichernDoes) {
    const progparstruct start = progpar;
    auto edit_and_close = [&](bool by_button) {
        progpar = start;
        MakeForms();
        Open();
        form_->PageControl->setCurrentWidget(form_->TabSheetCSV);
        form_->ComboBoxCom->setCurrentIndex(6);
        Choose(form_->ComboBoxBrowser1, 1);
        form_->Edit212->setText("Formular");
        form_->CheckBox102->setChecked(false);
        form_->RadioDeliveryExtension->click();
        form_->ListBox1->setCurrentRow(5);
        form_->SpinButton1Up->click();
        form_->ComboBox1->setCurrentIndex(2);
        if (by_button) {
            form_->ButtonBeenden->click();
        } else {
            form_->close();
        }
        EXPECT_FALSE(form_->isVisible());
        return Edited(progpar);
    };
    const std::string saved = edit_and_close(true);
    const std::string closed = edit_and_close(false);
    EXPECT_EQ(saved, closed);
    EXPECT_NE(saved, Edited(start)) << "the edits must have reached the record";
}

TEST_F(SetupDialogTest, AlwaysOpensOnTheFirstTab) {
    Open();
    form_->PageControl->setCurrentWidget(form_->TabSheetUGS);
    form_->close();
    Open();
    EXPECT_EQ(form_->PageControl->currentWidget(), form_->TabSheetEinstellungen);
    EXPECT_EQ(form_->PageControl->tabText(0), "Einstellungen");
}

TEST_F(SetupDialogTest, ValuesOutsideTheListsShowTheFirstEntryAndAreWrittenBackAsZero) {
    progpar.browser = {7, -1};
    progpar.browsertitle = {"Titel", "Titel2"};
    progpar.csvseparator = 7;
    progpar.device = 7;
    Open();
    EXPECT_EQ(form_->ComboBoxBrowser1->currentText(), "Manuell");
    EXPECT_EQ(form_->ComboBoxBrowser2->currentText(), "Manuell");
    EXPECT_FALSE(form_->Edit201->isReadOnly());
    EXPECT_EQ(form_->ComboBox1->currentText(), ";");
    EXPECT_EQ(form_->ComboBoxDevice->currentText(), "OPL-98xx");
    form_->close();
    EXPECT_EQ(progpar.browser[0], 0);
    EXPECT_EQ(progpar.browser[1], 0);
    EXPECT_EQ(progpar.browsertitle[0], "Titel");
    EXPECT_EQ(progpar.csvseparator, 0);
    EXPECT_EQ(progpar.device, 0);
}

TEST_F(SetupDialogTest, BrowserKindLocksTheTitleAndManualUnlocksItKeepingTheText) {
    progpar.browsertitle[0] = "Mein Browser";
    Open();
    EXPECT_FALSE(form_->Edit201->isReadOnly());
    Choose(form_->ComboBoxBrowser1, 1);
    EXPECT_EQ(form_->Edit201->text(), "Explorer");
    EXPECT_TRUE(form_->Edit201->isReadOnly());
    EXPECT_FALSE(form_->Edit211->isReadOnly()) << "the other shop is not touched";
    Choose(form_->ComboBoxBrowser1, 0);
    EXPECT_FALSE(form_->Edit201->isReadOnly());
    EXPECT_FALSE(form_->Edit201->isHidden());
    EXPECT_EQ(form_->Edit201->text(), "Explorer");
    Choose(form_->ComboBoxBrowser2, 3);
    EXPECT_EQ(form_->Edit211->text(), "Chrome");
    EXPECT_TRUE(form_->Edit211->isReadOnly());
    form_->ButtonBeenden->click();
    EXPECT_EQ(progpar.browser[0], 0);
    EXPECT_EQ(progpar.browsertitle[0], "Explorer");
    EXPECT_EQ(progpar.browser[1], 3);
    EXPECT_EQ(progpar.browsertitle[1], "Chrome");
}

TEST_F(SetupDialogTest, DeviceChangeSwitchesTheCsvTabAtOnceInTheMiraboBuild) {
    BrandId = 1;
    QTemporaryDir opn_dir;
    progpar.opn_csvdir = WithTrailingSeparator(opn_dir.path());
    progpar.opn_csvpos = {2, 0, 1};
    progpar.opn_csvseparator = 4;
    progpar.csvseparator = 1;
    opn.dllversion = "1.0.7";
    Open();
    EXPECT_EQ(form_->GroupBox200->title(), "Shop Mirabo");
    EXPECT_EQ(form_->ListBox1->count(), 6);
    EXPECT_EQ(form_->ComboBox1->currentText(), ",");
    EXPECT_TRUE(form_->Label101->isHidden());

    Choose(form_->ComboBoxDevice, 1);
    EXPECT_EQ(progpar.device, 1) << "the device is written at once";
    EXPECT_EQ(Items(form_->ListBox1), QStringList({"Zeit", "Artikel", "Datum"}));
    EXPECT_EQ(form_->ComboBox1->currentText(), "Tab");
    EXPECT_EQ(form_->Edit1000->toolTip(), progpar.opn_csvdir);
    EXPECT_FALSE(form_->Label101->isHidden());
    EXPECT_EQ(form_->Label101->text(), "DLL-Version :");
    EXPECT_EQ(form_->Label111->text(), "1.0.7");

    form_->ListBox1->setCurrentRow(0);
    form_->SpinButton1Down->click();
    form_->ComboBox1->setCurrentIndex(0);
    form_->ButtonBeenden->click();
    EXPECT_EQ(First(progpar.opn_csvpos, 3), (std::vector<int32_t>{0, 2, 1}));
    EXPECT_EQ(progpar.opn_csvseparator, 0);
    EXPECT_EQ(progpar.csvseparator, 1) << "the CSV settings of the OPL-98xx stay as they were";
    EXPECT_EQ(First(progpar.csvpos, 6), (std::vector<int32_t>{0, 1, 2, 3, 4, 5}));
}

TEST_F(SetupDialogTest, DeviceChangeInTheVantorBuildOnlyAddsTheDllVersion) {
    progpar.csvseparator = 2;
    Open();
    Choose(form_->ComboBoxDevice, 1);
    EXPECT_EQ(progpar.device, 1);
    EXPECT_EQ(form_->ListBox1->count(), 6);
    EXPECT_EQ(form_->ComboBox1->currentText(), " ");
    EXPECT_EQ(form_->Edit1000->toolTip(), progpar.csvdir);
    EXPECT_FALSE(form_->Label101->isHidden());
    Choose(form_->ComboBoxDevice, 0);
    EXPECT_EQ(progpar.device, 0);
    EXPECT_TRUE(form_->Label111->isHidden());
}

TEST_F(SetupDialogTest, ColumnOrderMovesTheSelectedColumnAndBeepsAtTheEnds) {
    Open();
    EXPECT_EQ(Items(form_->ListBox1),
              QStringList({"Kostenstelle", "Lagerort", "Artikel", "Menge", "Datum", "Zeit"}));
    const QStringList before = Items(form_->ListBox1);
    form_->ListBox1->setCurrentRow(-1);
    form_->SpinButton1Up->click();
    form_->SpinButton1Down->click();
    form_->ListBox1->setCurrentRow(0);
    form_->SpinButton1Up->click();
    form_->ListBox1->setCurrentRow(5);
    form_->SpinButton1Down->click();
    EXPECT_EQ(boxes_.beeps, 4);
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_EQ(Items(form_->ListBox1), before);

    form_->ListBox1->setCurrentRow(2);
    form_->SpinButton1Up->click();
    form_->SpinButton1Up->click();
    EXPECT_EQ(form_->ListBox1->currentRow(), 0) << "the moved column stays selected";
    EXPECT_EQ(boxes_.beeps, 4);
    form_->close();
    EXPECT_EQ(First(progpar.csvpos, 6), (std::vector<int32_t>{2, 0, 1, 3, 4, 5}));
}

TEST_F(SetupDialogTest, LongDirectoriesAreShortenedInTheEditsFont) {
    Open();
    QLineEdit* edit = form_->Edit1000;
    const QFontMetrics metrics(edit->font());
    auto fits = [&](const QString& text) {
        return metrics.horizontalAdvance(text) <= edit->width();
    };

    EXPECT_EQ(form_->ShortenPathForEdit("/tmp/csv/", edit), "/tmp/csv/");
    const QString one_name = "/" + QString(120, 'W') + "/";
    ASSERT_FALSE(fits(one_name));
    EXPECT_EQ(form_->ShortenPathForEdit(one_name, edit), one_name);
    const QString only_shortest = "/daten/" + QString(120, 'W') + "/";
    EXPECT_EQ(form_->ShortenPathForEdit(only_shortest, edit), "/.../" + QString(120, 'W') + "/");

    QTemporaryDir root;
    const QString deep = DeepFolder(root);
    ASSERT_FALSE(fits(deep));
    const QString shown = form_->ShortenPathForEdit(deep, edit);
    EXPECT_TRUE(fits(shown)) << shown.toStdString();
    ASSERT_TRUE(shown.startsWith("/..."));
    const QString kept = shown.mid(4);
    EXPECT_TRUE(deep.endsWith(kept));
    EXPECT_TRUE(kept.endsWith("/Export/"));
    // Only as many leading folders go as must: keeping one more would not fit.
    const qsizetype previous = deep.lastIndexOf('/', deep.size() - kept.size() - 1);
    EXPECT_FALSE(fits("/..." + deep.mid(previous)));

    // The directory button stores the full path and shows the short one.
    test::AnswerNextModal<TFormDirSelect>([&](TFormDirSelect* chooser) {
        EXPECT_EQ(WithTrailingSeparator(chooser->Directory()), StartDir);
        chooser->SetDirectory(deep);
        chooser->ButtonUebernehmen->click();
    });
    form_->Button1000->click();
    EXPECT_EQ(progpar.csvdir, deep);
    EXPECT_EQ(form_->Edit1000->text(), shown);
}

TEST_F(SetupDialogTest, DirectoryButtonsWriteAtOnceAndCancelKeepsTheDirectory) {
    QTemporaryDir other;
    Open();
    test::AnswerNextModal<TFormDirSelect>([&](TFormDirSelect* chooser) {
        chooser->SetDirectory(other.path());
        chooser->ButtonAbbrechen->click();
    });
    form_->Button2000->click();
    EXPECT_EQ(progpar.ugsdir, StartDir);
    test::AnswerNextModal<TFormDirSelect>([&](TFormDirSelect* chooser) {
        chooser->SetDirectory(other.path());
        chooser->ButtonUebernehmen->click();
    });
    form_->Button2000->click();
    EXPECT_EQ(progpar.ugsdir, WithTrailingSeparator(other.path()));
    EXPECT_EQ(form_->Edit2000->toolTip(), progpar.ugsdir);
    EXPECT_TRUE(form_->isVisible()) << "the settings dialog is still open";
}

TEST_F(SetupDialogTest, MappedPseudoTerminalsFillTheirEntriesAndTheSelectionSurvivesARefresh) {
    const QString a = ptys_.Open();
    const QString b = ptys_.Open();
    const QString c = ptys_.Open();
    test::write_file(
        IniPath(),
        ("[Ports]\r\nCOM12=" + b + "\r\nCOM3=" + a + "\r\nCOM100=" + c + "\r\n").toUtf8());
    progpar.port = "COM12";
    Open();
    QComboBox* box = form_->ComboBoxCom;
    EXPECT_EQ(box->itemText(2), "COM3  :  Pseudo-Terminal " + a);
    EXPECT_EQ(box->itemText(11), "COM12 :  Pseudo-Terminal " + b);
    EXPECT_EQ(box->itemText(99), "COM100 :  Pseudo-Terminal " + c);
    EXPECT_EQ(box->itemText(9), "COM10") << "COM100 is not port 10";
    EXPECT_EQ(box->itemText(3), "COM4");
    EXPECT_EQ(box->currentIndex(), 11);

    // A port that appears while the dialog is open shows up when the list drops down.
    const QString d = ptys_.Open();
    test::write_file(
        IniPath(), ("[Ports]\r\nCOM12=" + b + "\r\nCOM3=" + a + "\r\nCOM5=" + d + "\r\n").toUtf8());
    box->showPopup();
    QApplication::processEvents();
    box->hidePopup();
    EXPECT_EQ(box->itemText(4), "COM5  :  Pseudo-Terminal " + d);
    EXPECT_EQ(box->currentIndex(), 11);
    EXPECT_EQ(box->currentText(), "COM12 :  Pseudo-Terminal " + b);
    form_->close();
    EXPECT_EQ(progpar.port, "COM12");
}

TEST_F(SetupDialogTest, WithNothingPresentTheHundredPlainEntriesStay) {
    progpar.port = "COM100";
    Open();
    QComboBox* box = form_->ComboBoxCom;
    ASSERT_EQ(box->count(), 100);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(box->itemText(i), QString("COM%1").arg(i + 1));
    EXPECT_EQ(box->currentIndex(), 99);
}

TEST_F(SetupDialogTest, TypedPortTextKeepsAValidPort) {
    struct Case {
        const char* typed;
        const char* stored;
    };
    for (const Case& c : {Case{"com7", "COM7"}, Case{"COM100", "COM100"}, Case{"Unsinn", "COM9"},
                          Case{"COM0", "COM9"}, Case{"COM101", "COM9"}, Case{"", "COM9"}}) {
        progpar.port = "COM9";
        Open();
        form_->ComboBoxCom->setEditText(c.typed);
        form_->close();
        EXPECT_EQ(progpar.port, c.stored) << c.typed;
    }
}

// "Beim Anmelden starten" is the autostart entry: the box shows whether it is
// there, switching it writes or removes it, and an entry the user wrote stays.
TEST_F(SetupDialogTest, StartAtLoginWritesAndRemovesTheAutostartEntry) {
    QTemporaryDir config;
    const bool had = qEnvironmentVariableIsSet("XDG_CONFIG_HOME");
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const QString entry = config.filePath("autostart/de.vantortrans.VantorTrans.desktop");

    Open();
    EXPECT_FALSE(form_->CheckBox104->isChecked());
    EXPECT_EQ(form_->CheckBox104->text(), u"Beim Anmelden starten");
    form_->CheckBox104->setChecked(true);
    form_->ButtonBeenden->click();
    ASSERT_TRUE(QFile::exists(entry)) << "the missing autostart folder is made";
    EXPECT_TRUE(test::read_file(entry).contains(
        "\nExec=" + QFile::encodeName(QApplication::applicationFilePath()) + " --user-folder\n"));

    Open();
    EXPECT_TRUE(form_->CheckBox104->isChecked());
    form_->CheckBox104->setChecked(false);
    form_->close();
    EXPECT_FALSE(QFile::exists(entry));
    Open();
    EXPECT_FALSE(form_->CheckBox104->isChecked());
    form_->close();
    EXPECT_TRUE(boxes_.boxes.empty());

    // Written by hand: shown as there, and left as it is when switched off.
    const QByteArray by_hand = "[Desktop Entry]\nType=Application\nExec=VantorTrans -x\n";
    test::write_file(entry, by_hand);
    Open();
    EXPECT_TRUE(form_->CheckBox104->isChecked());
    form_->CheckBox104->setChecked(false);
    form_->close();
    EXPECT_EQ(test::read_file(entry), by_hand);
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].text, "Der Autostart-Eintrag " + entry +
                                        " wurde nicht von diesem Programm angelegt und bleibt "
                                        "unverändert.");
    // Closing again without a change says nothing more.
    Open();
    form_->close();
    EXPECT_EQ(boxes_.boxes.size(), 1u);

    if (had)
        qputenv("XDG_CONFIG_HOME", saved);
    else
        qunsetenv("XDG_CONFIG_HOME");
}

}  // namespace
