// The directory chooser and the new-directory dialog on a real X server,
// working on real folders.

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "settings/dir_new.h"
#include "settings/dir_select.h"
#include "tests/support/e2e_desktop.h"
#include "tests/support/modal_answer.h"
#include "tests/support/recording_ui.h"

using namespace vt;

namespace {

const bool kDisplay = test::EnsureTestDesktop();

class DirDialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(root_.filePath("Kunden/Alt")));
        ASSERT_TRUE(QDir().mkpath(root_.filePath("Lager")));
    }

    // Shows the chooser modally starting at `start` and lets `answer` act in it.
    QString Choose(const QString& start, std::function<void(TFormDirSelect*)> answer) {
        chooser_.SelectedDirectory = start;
        test::AnswerNextModal<TFormDirSelect>(std::move(answer));
        chooser_.exec();
        return chooser_.SelectedDirectory;
    }

    // "Neu" in the chooser standing in `dir`, answering the name dialog by `answer`.
    void New(const QString& dir, std::function<void(TFormDirNew*)> answer) {
        chooser_.SetDirectory(dir);
        test::AnswerNextModal<TFormDirNew>(std::move(answer));
        chooser_.ButtonNeuClick();
    }

    static auto Create(const QString& name) {
        return [name](TFormDirNew* d) {
            EXPECT_TRUE(d->Edit1->text().isEmpty()) << "every opening starts empty";
            QTest::keyClicks(d->Edit1, name);
            d->ButtonUebernehmen->click();
        };
    }

    QStringList Listed() const {
        QStringList out;
        for (int i = 0; i < chooser_.DirectoryListBox->count(); ++i) {
            out << chooser_.DirectoryListBox->item(i)->text().trimmed();
        }
        return out;
    }

    QTemporaryDir root_;
    test::RecordingDialogs boxes_;
    TFormDirNew dir_new_;
    TFormDirSelect chooser_{&dir_new_};
};

TEST_F(DirDialogsTest, AcceptingGivesTheDirectoryWithOneTrailingSeparator) {
    const QString root = root_.path();
    EXPECT_EQ(Choose(root + "/Kunden/", [](TFormDirSelect* d) { d->ButtonUebernehmen->click(); }),
              root + "/Kunden/");
    EXPECT_EQ(Choose(root, [](TFormDirSelect* d) { d->ButtonUebernehmen->click(); }), root + "/");

    // Opening a listed folder from the keyboard, then accepting.
    EXPECT_EQ(Choose(root,
                     [](TFormDirSelect* d) {
                         QListWidget* list = d->DirectoryListBox;
                         const QList<QListWidgetItem*> found =
                             list->findItems("Lager", Qt::MatchEndsWith);
                         ASSERT_EQ(found.size(), 1);
                         list->setCurrentItem(found.front());
                         QTest::keyClick(list, Qt::Key_Return);
                         EXPECT_TRUE(d->isVisible()) << "Enter opens the folder, it does not close";
                         d->ButtonUebernehmen->click();
                     }),
              root + "/Lager/");

    // The root "drive" is the first entry of the drive list.
    EXPECT_EQ(Choose(root,
                     [](TFormDirSelect* d) {
                         EXPECT_EQ(d->DriveComboBox->itemText(0), "/");
                         d->DriveComboBox->setCurrentIndex(0);
                         emit d->DriveComboBox->activated(0);
                         EXPECT_EQ(d->Directory(), "/");
                         d->ButtonUebernehmen->click();
                     }),
              "/");
    EXPECT_TRUE(DriveRoots().contains(QDir::homePath()));
}

TEST_F(DirDialogsTest, CancelLeavesTheValueAndTheCloseBoxAccepts) {
    const QString root = root_.path();
    const QString start = root + "/Kunden/";
    EXPECT_EQ(Choose(start,
                     [&](TFormDirSelect* d) {
                         d->SetDirectory(root + "/Lager");
                         d->ButtonAbbrechen->click();
                     }),
              start);
    EXPECT_TRUE(chooser_.Cancelled);
    EXPECT_EQ(Choose(start,
                     [&](TFormDirSelect* d) {
                         EXPECT_FALSE(d->Cancelled);
                         d->SetDirectory(root + "/Lager");
                         d->close();
                     }),
              root + "/Lager/");
    EXPECT_EQ(Choose(start,
                     [&](TFormDirSelect* d) {
                         d->SetDirectory(root + "/Lager");
                         QTest::keyClick(d, Qt::Key_Escape);
                     }),
              start)
        << "Escape cancels";
}

TEST_F(DirDialogsTest, AMissingStartDirectoryOpensWhereTheListStoodBefore) {
    const QString root = root_.path();
    Choose(root + "/Kunden/Alt/", [](TFormDirSelect* d) { d->ButtonUebernehmen->click(); });
    EXPECT_EQ(
        Choose(root + "/gibt-es-nicht/", [](TFormDirSelect* d) { d->ButtonUebernehmen->click(); }),
        root + "/Kunden/Alt/");
}

TEST_F(DirDialogsTest, NeuCreatesOneLevelAndStaysWhereItWas) {
    const QString root = root_.path();
    New(root, Create("Neu 2024"));
    EXPECT_TRUE(QFileInfo(root + "/Neu 2024").isDir());
    EXPECT_EQ(chooser_.Directory(), root) << "the list does not move into the new folder";
    EXPECT_TRUE(Listed().contains("Neu 2024"));
    EXPECT_EQ(boxes_.beeps, 0);
    EXPECT_TRUE(boxes_.boxes.empty());

    // A name with a further level is made only when its first level is there.
    New(root, Create("Kunden/Neu"));
    EXPECT_TRUE(QFileInfo(root + "/Kunden/Neu").isDir());
}

TEST_F(DirDialogsTest, NeuFailsWithAMessageForAnExistingNameOrAMissingParent) {
    const QString root = root_.path();
    New(root, Create("Lager"));
    New(root, Create("fehlt/neu"));
    EXPECT_FALSE(QFileInfo::exists(root + "/fehlt"));
    EXPECT_EQ(boxes_.events,
              QStringList({"beep", "box:Verzeichnis konnte nicht erstellt werden.", "beep",
                           "box:Verzeichnis konnte nicht erstellt werden."}));
    EXPECT_EQ(chooser_.Directory(), root);
}

TEST_F(DirDialogsTest, AnEmptyNameOrTheCloseBoxCreatesNothing) {
    const QString root = root_.path();
    const QStringList before = QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    New(root, Create(""));
    EXPECT_TRUE(dir_new_.NewDirName.isEmpty());
    // The name typed into an earlier "Erstellen" is not taken again.
    New(root, Create("Einmal"));
    New(root, [](TFormDirNew* d) {
        QTest::keyClicks(d->Edit1, "Zweimal");
        d->close();
    });
    New(root, [](TFormDirNew* d) {
        QTest::keyClicks(d->Edit1, "Dreimal");
        d->ButtonAbbrechen->click();
    });
    EXPECT_TRUE(dir_new_.NewDirName.isEmpty());
    QStringList expected = before;
    expected << "Einmal";
    expected.sort();
    EXPECT_EQ(QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), expected)
        << "only the named folder was made";
    EXPECT_TRUE(boxes_.boxes.empty());
    EXPECT_EQ(boxes_.beeps, 0);
}

}  // namespace
