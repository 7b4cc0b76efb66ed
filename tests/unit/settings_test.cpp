#include "settings/settings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "platform/profile_file.h"
#include "tests/support/recording_ui.h"
#include "tests/support/temp_files.h"

using namespace vt;
using vt::test::read_file;
using vt::test::str;
using vt::test::write_file;

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override { use_brand(0); }
    void TearDown() override { BrandId = 0; }

    void use_brand(int id) {
        BrandId = id;
        StartDir = WithTrailingSeparator(dir.path());
        IniName = QString::fromUtf8(brand().ini_name);
        progpar = progparstruct{};
        browserrecord = browserrecordtype{};
    }
    void ini(const QByteArray& text) { write_file(IniPath(), text); }
    std::vector<int> csvpos(int n = 6) const {
        return std::vector<int>(progpar.csvpos.begin(), progpar.csvpos.begin() + n);
    }
    std::vector<int> opn_csvpos() const {
        return std::vector<int>(progpar.opn_csvpos.begin(), progpar.opn_csvpos.begin() + 3);
    }
    QString saved(const char* section, const char* key) const {
        return ProfileFile(IniPath()).read_string(QString::fromUtf8(section),
                                                  QString::fromUtf8(key), "<absent>");
    }

    QTemporaryDir dir;
    vt::test::RecordingDialogs dialogs;
};

TEST_F(SettingsTest, MissingFileGivesTheDefaults) {
    LoadSettings();
    const progparstruct& p = progpar;
    EXPECT_EQ(p.port, "COM1");
    EXPECT_EQ(p.baud, 115200);
    EXPECT_EQ(p.device, 0);
    EXPECT_TRUE(p.taskbar);
    EXPECT_TRUE(p.alwaysforeground);
    EXPECT_FALSE(p.minimize || p.trayicon || p.confirmclose || p.debug || p.donotdelete);
    EXPECT_FALSE(p.csvoverwrite || p.opn_csvoverwrite || p.ugs_overwrite);
    EXPECT_EQ(p.keysendmode, 1);
    EXPECT_EQ(p.csvdir, StartDir);
    EXPECT_EQ(p.opn_csvdir, StartDir);
    EXPECT_EQ(p.ugsdir, StartDir);
    EXPECT_EQ(csvpos(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
    EXPECT_EQ(opn_csvpos(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(p.opn_csvfilename, "EXPORT.CSV");
    EXPECT_EQ(p.accesskey[1], "I");
    EXPECT_EQ(p.accesskey[0], "");
    EXPECT_EQ(browserrecord.mode, 0);
    EXPECT_EQ(p.journaldays, 90);
}

TEST_F(SettingsTest, CsvPosConversion) {
    struct Case {
        const char* value;
        std::vector<int> expected;
        const char* saved_as;
    };
    const Case cases[] = {
        {"3,1", {2, 0, 0, 0, 0, 0}, "3,1,1,1,1,1"},
        {"0,2,3,4,5,6", {0, 1, 2, 3, 4, 5}, "1,2,3,4,5,6"},
        {"2 , 1 ,3", {1, 0, 2, 0, 0, 0}, "2,1,3,1,1,1"},
        {"6,5,4,3,2,1,7,8", {5, 4, 3, 2, 1, 0}, "6,5,4,3,2,1"},
        // A piece that is not a number keeps the default order for the key.
        {"2,x,3", {0, 1, 2, 3, 4, 5}, "1,2,3,4,5,6"},
        {"2,,3", {0, 1, 2, 3, 4, 5}, "1,2,3,4,5,6"},
        // A position past the record's fields takes its own place.
        {"9,1,-4,2,3,4", {0, 0, 2, 1, 2, 3}, "1,1,3,2,3,4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        use_brand(0);
        ini(QByteArray("[CSV]\r\nCsvPos=") + c.value + "\r\n[PORT]\r\nBaud=0x1C200\r\n");
        LoadSettings();
        EXPECT_EQ(csvpos(), c.expected);
        EXPECT_EQ(progpar.baud, 115200) << "keys after CsvPos still load";
        ASSERT_TRUE(SaveSettings());
        EXPECT_EQ(saved("CSV", "CsvPos"), c.saved_as);
    }
}

TEST_F(SettingsTest, OpnCsvPosOutsideItsThreeFieldsTakesItsOwnPlace) {
    ini("[CSVOPN2001]\r\nCsvPos=3,4,1\r\n");
    LoadSettings();
    EXPECT_EQ(opn_csvpos(), (std::vector<int>{2, 1, 0}));
}

TEST_F(SettingsTest, EditedValuesOutOfRangeAreCorrected) {
    ini("[PORT]\r\nDevice=7\r\n[CSV]\r\nSeparator=9\r\n[CSVOPN2001]\r\nSeparator=-1\r\n"
        "[Browser]\r\nActiveBrowser=2\r\n[PARAMETER]\r\nJournalDays=-5\r\n");
    LoadSettings();
    EXPECT_EQ(progpar.journaldays, 0) << "a negative number of days keeps nothing";
    EXPECT_EQ(progpar.device, 0);
    EXPECT_EQ(progpar.csvseparator, 0);
    EXPECT_EQ(progpar.opn_csvseparator, 0);
    EXPECT_EQ(browserrecord.mode, 0) << "device 7 counts as OPL-98xx";
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(saved("PORT", "Device"), "0");
}

TEST_F(SettingsTest, DeliveryIsKeystrokesUnlessItIsExactlyOne) {
    LoadSettings();
    EXPECT_EQ(progpar.delivery, 0) << "a file without the key types as before";
    for (const auto& [text, want] : std::vector<std::pair<std::string, int>>{
             {"1", 1}, {" 1 ", 1}, {"0", 0}, {"2", 0}, {"-1", 0}, {"ja", 0}, {"", 0}}) {
        use_brand(0);
        ini(QByteArray::fromStdString("[parameter]\r\ndelivery=" + text + "\r\n"));
        LoadSettings();
        EXPECT_EQ(progpar.delivery, want) << text;
    }
    ini("[PARAMETER]\r\nDelivery=7\r\n");
    LoadSettings();
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(saved("PARAMETER", "Delivery"), "0");
    progpar.delivery = 1;
    ASSERT_TRUE(SaveSettings());
    LoadSettings();
    EXPECT_EQ(progpar.delivery, 1);
}

TEST_F(SettingsTest, TruthValuesAndNamesIgnoreCase) {
    ini("[parameter]\r\nTRAYICON=1\r\nminimize=yes\r\ntaskbar=0\r\n");
    LoadSettings();
    EXPECT_TRUE(progpar.trayicon);
    EXPECT_FALSE(progpar.minimize) << "'yes' is not an integer: the default";
    EXPECT_FALSE(progpar.taskbar);
}

TEST_F(SettingsTest, ActiveBrowserDependsOnDevice) {
    ini("[PORT]\r\nDevice=0\r\n[Browser]\r\nActiveBrowser=2\r\n");
    LoadSettings();
    EXPECT_EQ(browserrecord.mode, 0);
    use_brand(0);
    ini("[PORT]\r\nDevice=1\r\n[Browser]\r\nActiveBrowser=2\r\n");
    LoadSettings();
    EXPECT_EQ(browserrecord.mode, 2);
    use_brand(0);
    ini("[PORT]\r\nDevice=0\r\n[Browser]\r\nActiveBrowser=1\r\n");
    LoadSettings();
    EXPECT_EQ(browserrecord.mode, 1);
}

TEST_F(SettingsTest, DirectoriesFallBackToStartDirAndGainASeparator) {
    QDir(dir.path()).mkdir("out");
    const QString out = dir.filePath("out");
    ini(("[Directory]\r\nCSV=" + out + "\r\nUGS=" + dir.filePath("missing") + "\r\nCSVOPN2001=\r\n")
            .toUtf8());
    LoadSettings();
    EXPECT_EQ(progpar.csvdir, out + QDir::separator());
    EXPECT_EQ(progpar.ugsdir, StartDir);
    EXPECT_EQ(progpar.opn_csvdir, StartDir);
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(saved("Directory", "UGS"), StartDir);
}

TEST_F(SettingsTest, BrandSectionsAndBrandDependentKeys) {
    for (int id : {0, 1, 2}) {
        for (int device : {0, 1}) {
            SCOPED_TRACE(testing::Message() << "brand " << id << " device " << device);
            use_brand(id);
            ini(QByteArray("[PORT]\r\nDevice=") + QByteArray::number(device) +
                "\r\n[Vantor]\r\nFormTitle=V\r\n[Mirabo]\r\nFormTitle=M\r\n[Doerfal]\r\nFormTitle="
                "D\r\n");
            LoadSettings();
            EXPECT_EQ(progpar.formtitle[0], QString("VMD"[id]));
            progpar.formtitle[0] = "changed";
            ASSERT_TRUE(SaveSettings());
            const bool mirabo_or_doerfal = id != 0;
            EXPECT_EQ(saved("Directory", "CSVOPN2001") != "<absent>", mirabo_or_doerfal);
            EXPECT_EQ(saved("CSVOPN2001", "Filename") != "<absent>",
                      mirabo_or_doerfal && device == 1);
            EXPECT_EQ(saved("CSVOPN2001", "CsvPos") != "<absent>",
                      mirabo_or_doerfal && device == 1);
            EXPECT_EQ(saved("CSVOPN2001", "Separator") != "<absent>",
                      mirabo_or_doerfal && device == 1);
            const char* sections[] = {"Vantor", "Mirabo", "Doerfal"};
            for (int other = 0; other < 3; ++other) {
                EXPECT_EQ(saved(sections[other], "FormTitle"),
                          other == id ? QString("changed") : QString("VMD"[other]));
            }
        }
    }
}

TEST_F(SettingsTest, IniOnlyKeysSurviveSaves) {
    const QByteArray text =
        "[PARAMETER]\r\nKeysendmode=2\r\nLanguage=3\r\nAlwaysForeground=0\r\nJournalDays=0\r\n"
        "[Simple System]\r\nAccessKey=Q\r\n[Vantor]\r\nAccessKey=B\r\n"
        "[DEBUG]\r\nDebug=1\r\nDonotDelete=1\r\n[CSV]\r\nOverwrite=1\r\n";
    ini(text);
    for (int round = 0; round < 3; ++round) {
        use_brand(0);
        LoadSettings();
        EXPECT_EQ(progpar.keysendmode, 2);
        EXPECT_EQ(progpar.journaldays, 0);
        EXPECT_EQ(progpar.language, 3);
        EXPECT_FALSE(progpar.alwaysforeground);
        EXPECT_EQ(progpar.accesskey[1], "Q");
        EXPECT_EQ(progpar.accesskey[0], "B");
        EXPECT_TRUE(progpar.debug && progpar.donotdelete && progpar.csvoverwrite);
        ASSERT_TRUE(SaveSettings());
    }
    const std::string after = str(read_file(IniPath()));
    for (const char* line :
         {"Keysendmode=2\r\n", "Language=3\r\n", "JournalDays=0\r\n", "AccessKey=Q\r\n", "AccessKey=B\r\n",
          "Debug=1\r\n", "DonotDelete=1\r\n", "Overwrite=1\r\n"}) {
        EXPECT_NE(after.find(line), std::string::npos) << line;
    }
}

TEST_F(SettingsTest, NewFileHoldsTheSavedKeysInOrder) {
    LoadSettings();
    ASSERT_TRUE(SaveSettings());
    const QString d = StartDir;
    const std::string expected =
        "[PORT]\r\nPort=COM1\r\nBaud=115200\r\nDevice=0\r\n"
        "[PARAMETER]\r\nMinimize=0\r\nTrayIcon=0\r\nTaskBar=1\r\nConfirmClose=0\r\n"
        "Delivery=0\r\n"
        "[CSV]\r\nCsvPos=1,2,3,4,5,6\r\nSeparator=0\r\n"
        "[Vantor]\r\nBrowser=0\r\nBrowserTitle=\r\nFormTitle=\r\n"
        "[Simple System]\r\nBrowser=0\r\nBrowserTitle=\r\nFormTitle=\r\n"
        "[Directory]\r\nCSV=" +
        d.toStdString() + "\r\nUGS=" + d.toStdString() +
        "\r\n"
        "[Browser]\r\nActiveBrowser=0\r\n"
        "[Options]\r\nPraefix=\r\n";
    EXPECT_EQ(str(read_file(IniPath())), expected);
    EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(SettingsTest, SaveThatCannotWriteShowsTheBoxAndLeavesTheFile) {
    StartDir = WithTrailingSeparator(dir.filePath("plain"));  // a file, not a folder
    write_file(dir.filePath("plain"), "x");
    LoadSettings();
    EXPECT_FALSE(SaveSettings());
    ASSERT_EQ(dialogs.boxes.size(), 1u);
    EXPECT_EQ(dialogs.boxes[0].text, "In " + IniPath() + " kann nicht geschrieben werden");
    EXPECT_EQ(dialogs.beeps, 1);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"plain"});
}

}  // namespace
