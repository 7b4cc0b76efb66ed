#pragma once
// The main window: logo banner, target buttons, log list, status list,
// status bar, menus, tray icon and the four scanner timers.

#include <QIcon>
#include <QMainWindow>
#include <QTimer>

#include "settings/ui_seam.h"
#include "platform/single_instance.h"

class QButtonGroup;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QRadioButton;
class QSystemTrayIcon;
class QToolButton;
class QWidget;

namespace vt {

class TForm1 : public QMainWindow, public Display {
    Q_OBJECT
  public:
    static constexpr int kClientWidth = 448;
    static constexpr int kClientHeight = 483;
    static constexpr int kLogListMaxLines = 1000;

    TForm1();
    ~TForm1() override;

    // False when FormCreate found another copy of this brand running; the
    // caller then ends the process without showing anything.
    bool created() const { return created_; }

    // Display: the window's status places.
    void log_line(const QString& line) override;
    void status_clear() override;
    void status_line(const QString& line) override;
    void status_bar(const QString& text) override;
    QString status_bar_text() const override;
    void toggle_activity() override;
    void update_tray(bool ready, const QString& tooltip) override { UpdateTray(ready, tooltip); }

    void SpeedButton1Click();
    void SetCaptions();
    void Info1Click();
    void Einstellungen1Click();
    void Beenden1Click();
    void UpdateTray(bool ready, const QString& text);

    // Components, named as the rest of the program knows them.
    QWidget* Panel1 = nullptr;
    QLabel* ImageOrbelin = nullptr;
    QLabel* ImageMirabo = nullptr;
    QLabel* ImageDoerfal = nullptr;
    QWidget* Panel2 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* SpeedButton3 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPlainTextEdit* Memo2 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* StatusPanel = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* Einstellungen1 = nullptr;
    QAction* Info1 = nullptr;
    QAction* Beenden1 = nullptr;
    QTimer TimerOPL;
    QTimer TimerOPLComopen;
    QTimer TimerOPN;
    QTimer TimerOPNComopen;
    QSystemTrayIcon* TrayIcon = nullptr;  // null where no system tray exists
    QIcon ReadyIcon;
    QIcon NotReadyIcon;
    bool activated() const { return activated_; }

  protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void changeEvent(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

  private:
    void BuildComponents();
    void FormCreate();
    void SetupBrand();
    void FormActivate();
    bool FormCloseQuery();
    void FormDestroy();
    void PrepareTray();
    void AddTray();
    void ClickTrayIcon(int reason);
    void MinimizeClick();
    void PopupAfterRelease(int waited_ms);
    void OpenComport();
    void CloseComport();
    void RestoreFromTray();

    SingleInstance instance_;
    QButtonGroup* targets_ = nullptr;
    QString tray_tip_;
    bool tray_ready_icon_ = true;
    bool created_ = false;
    bool activated_ = false;
    bool closing_ = false;
};

// The real boxes and beep, with the German button texts set explicitly.
class QtDialogs final : public Dialogs {
  public:
    void beep() override;
    BoxResult message_box(const QString& title, const QString& text, BoxIcon icon,
                          BoxButtons buttons) override;
};

}  // namespace vt
