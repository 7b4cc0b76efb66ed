#pragma once
// Unit DirSelect: the directory chooser of the settings dialog, with a "drive"
// list (the root, the home folder and mounted removable media) above a list
// of directories.

#include <QDialog>
#include <QString>
#include <QStringList>

class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace vt {

class TFormDirNew;

// The drives: "/", the home folder, then every mounted volume under /media,
// /mnt and /run/media.
QStringList DriveRoots();

class TFormDirSelect : public QDialog {
    Q_OBJECT
  public:
    explicit TFormDirSelect(TFormDirNew* dir_new, QWidget* parent = nullptr);

    // In: the directory to start at. Out: the chosen directory with one
    // trailing separator, or unchanged after "Abbrechen".
    QString SelectedDirectory;
    bool Cancelled = false;

    QComboBox* DriveComboBox;
    QListWidget* DirectoryListBox;
    QLabel* DirectoryLabel;
    QPushButton* ButtonNeu;
    QPushButton* ButtonAbbrechen;
    QPushButton* ButtonUebernehmen;

    // The directory the list stands in.
    const QString& Directory() const { return directory_; }
    // Moves the list into `dir` (as opening it in the list does); false when
    // it is not a directory.
    bool SetDirectory(const QString& dir);

    void FormActivate();
    bool FormCloseQuery();
    void ButtonAbbrechenClick();
    void ButtonUebernehmenClick();
    void ButtonNeuClick();

    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void FillDrives();
    void FillDirectories();
    void DriveComboBoxChange(int index);
    void DirectoryListBoxOpen(QListWidgetItem* item);

    TFormDirNew* dir_new_;
    QString directory_;
};

}  // namespace vt
