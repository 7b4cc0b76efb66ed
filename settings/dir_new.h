#pragma once
// Unit DirNew: asks for the name of a directory to create.

#include <QDialog>
#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

namespace vt {

class TFormDirNew : public QDialog {
    Q_OBJECT
  public:
    explicit TFormDirNew(QWidget* parent = nullptr);

    // The name as typed after "Erstellen"; empty after "Abbrechen" or the close box.
    QString NewDirName;

    QLabel* Label1;
    QLineEdit* Edit1;
    QPushButton* ButtonAbbrechen;
    QPushButton* ButtonUebernehmen;

    void FormActivate();
    void ButtonAbbrechenClick();
    void ButtonUebernehmenClick();

    void done(int result) override;

  protected:
    void showEvent(QShowEvent* event) override;
};

}  // namespace vt
