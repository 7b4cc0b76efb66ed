#pragma once
// Unit Setup: the settings dialog. It fills its controls from the settings
// record each time it opens and writes them back each time it closes, by
// "Speichern" or by the close box alike; the device list and the two
// directory buttons write into the record at once.

#include <QComboBox>
#include <QDialog>
#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QToolButton;
class QWidget;

namespace vt {

class TFormDirNew;
class TFormDirSelect;

// A drop-down list that says when it is about to open.
class DropDownComboBox : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;
    std::function<void()> OnDropDown;
    void showPopup() override;
};

class TFormSetup1 : public QDialog {
    Q_OBJECT
  public:
    explicit TFormSetup1(TFormDirSelect* dir_select, QWidget* parent = nullptr);

    QTabWidget* PageControl;
    QWidget* TabSheetEinstellungen;
    QWidget* TabSheet3;
    QWidget* TabSheetCSV;
    QWidget* TabSheetUGS;
    QPushButton* ButtonBeenden;

    QGroupBox* GroupBox100;
    QLabel* Label110;
    QLabel* Label101;
    QLabel* Label111;
    QGroupBox* GroupBox3;
    QLabel* Label20;
    DropDownComboBox* ComboBoxCom;
    QLabel* Label21;
    QComboBox* ComboBoxDevice;
    QGroupBox* GroupBox2;
    QCheckBox* CheckBox100;
    QCheckBox* CheckBox101;
    QCheckBox* CheckBox102;
    QCheckBox* CheckBox103;
    // Start at login: shows and sets whether the autostart entry is there.
    QCheckBox* CheckBox104;
    // How the lines reach the order form: keystrokes or the browser extension.
    QGroupBox* GroupBoxDelivery;
    QRadioButton* RadioDeliveryKeys;
    QRadioButton* RadioDeliveryExtension;

    QGroupBox* GroupBox200;
    QComboBox* ComboBoxBrowser1;
    QLineEdit* Edit201;
    QLineEdit* Edit202;
    QLineEdit* Edit205;
    QGroupBox* GroupBox4;
    QComboBox* ComboBoxBrowser2;
    QLineEdit* Edit211;
    QLineEdit* Edit212;

    QLineEdit* Edit1000;
    QPushButton* Button1000;
    QLabel* Label1101;
    QLineEdit* Edit1001;
    QListWidget* ListBox1;
    QToolButton* SpinButton1Up;
    QToolButton* SpinButton1Down;
    QLabel* Label1;
    QComboBox* ComboBox1;

    QLineEdit* Edit2000;
    QPushButton* Button2000;

    void FormActivate();
    void FormClose();
    void ButtonBeendenClick();
    void ComboBoxComDropDown();
    void ComboBoxDeviceChange();
    void ComboBoxBrowser1Change(QComboBox* box);
    void SpinButton1UpClick();
    void SpinButton1DownClick();
    void Button1000Click();
    void Button2000Click();
    void SetTexts();
    void ShowVersionInfo();
    void FillCsvTab();
    void FillComboBoxCom();
    // The text to show for a directory in a read-only edit, measured in its font
    // against its width; the whole path becomes the edit's tool tip.
    QString ShortenPathForEdit(const QString& path, QLineEdit* edit) const;
    int ComPortNumber() const;

    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    QString& CsvDirField() const;
    void ChooseDirectory(QString& field, QLineEdit* edit);
    QString PortToStore() const;

    TFormDirSelect* dir_select_;
};

// The three dialogs live from start-up to exit, hidden until shown modally.
extern TFormSetup1* FormSetup1;
extern TFormDirSelect* FormDirSelect;
extern TFormDirNew* FormDirNew;

// Creates the three dialogs, owned by `parent` (the main window).
void CreateSetupForms(QWidget* parent);

}  // namespace vt
