#include "app/trans_main.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <utility>

#include "app/jpeg_image.h"
#include "settings/main_timers.h"
#include "settings/messages.h"
#include "delivery/key_delivery.h"
#include "delivery/shop_delivery.h"
#include "links/opl_cycle.h"
#include "links/opl_protocol.h"
#include "links/opn_link.h"
#include "links/port_control.h"
#include "platform/window_system.h"
#include "settings/settings.h"
#include "settings/setup.h"
#include "settings/start_dir.h"

namespace vt {
namespace {

constexpr int kLogoWidth = 439;
constexpr int kLogoHeight = 100;

QLabel* MakeLogo(QWidget* parent, const char* resource, int x, int y) {
    auto* label = new QLabel(parent);
    label->setGeometry(x, y, kLogoWidth, kLogoHeight);
    QFile f(QStringLiteral(":/resources/") + QString::fromUtf8(resource));
    if (f.open(QIODevice::ReadOnly)) {
        const QImage image = DecodeJpeg(f.readAll());
        if (!image.isNull())
            label->setPixmap(QPixmap::fromImage(image));
    }
    label->hide();
    return label;
}

QIcon TrayImage(int index) {
    return QIcon(QStringLiteral(":/resources/scanner%1.png").arg(index));
}

QPlainTextEdit* MakeMemo(QWidget* parent, const QRect& geometry) {
    auto* memo = new QPlainTextEdit(parent);
    memo->setGeometry(geometry);
    memo->setReadOnly(true);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Fixed pitch so that "MDE     :" lines up under "Browser :".
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPixelSize(11);
    memo->setFont(mono);
    return memo;
}

}  // namespace

TForm1::TForm1() {
    BuildComponents();
    FormCreate();
}

TForm1::~TForm1() {
    if (created_)
        FormDestroy();
}

void TForm1::BuildComponents() {
    setWindowTitle(QStringLiteral("Form1"));
    setWindowIcon(QIcon(QStringLiteral(":/resources/window_icon.png")));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont base = font();
    base.setPixelSize(11);
    setFont(base);

    auto* client = new QWidget(this);
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    Panel1 = new QWidget(client);
    Panel1->setGeometry(0, 0, kClientWidth, kLogoHeight + 2);
    ImageOrbelin = MakeLogo(Panel1, brand_info(0).logo, 0, 0);
    ImageMirabo = MakeLogo(Panel1, brand_info(1).logo, 1, 1);
    ImageDoerfal = MakeLogo(Panel1, brand_info(2).logo, 0, 0);

    StatusPanel = new QLabel(client);
    StatusPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    StatusPanel->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    RadioButton1 = new QRadioButton(StatusPanel);
    RadioButton1->setGeometry(425, 4, 13, 17);
    RadioButton1->setAutoExclusive(false);
    RadioButton1->setEnabled(false);

    Panel2 = new QWidget(client);
    targets_ = new QButtonGroup(this);
    targets_->setExclusive(true);
    auto make_button = [&](int id, int left, int width, const QString& caption) {
        auto* b = new QToolButton(Panel2);
        b->setGeometry(left, 4, width, 22);
        b->setCheckable(true);
        b->setAutoRaise(false);
        b->setText(caption);
        targets_->addButton(b, id);
        return b;
    };
    SpeedButton1 = make_button(0, 4, 196, QStringLiteral("Shop Orbelin"));
    SpeedButton2 = make_button(1, 208, 196, QStringLiteral("Shop Simple System"));
    SpeedButton3 = make_button(2, 411, 32, QStringLiteral("CSV"));
    connect(targets_, &QButtonGroup::idClicked, this, [this] { SpeedButton1Click(); });

    Memo1 = MakeMemo(Panel2, QRect(4, 33, 437, 202));
    // The log list of a program that runs for weeks keeps its newest lines
    // only; unbounded, it would grow with every transfer.
    Memo1->setMaximumBlockCount(kLogListMaxLines);
    Memo2 = MakeMemo(Panel2, QRect(4, 241, 437, 109));
    Edit1 = new QLineEdit(Panel2);

    // Named as the rest of the program knows them, so a test (or a style
    // sheet) can find them in the running program.
    const std::pair<QObject*, const char*> names[] = {
        {Panel1, "Panel1"},           {ImageOrbelin, "ImageOrbelin"},
        {ImageMirabo, "ImageMirabo"}, {ImageDoerfal, "ImageDoerfal"},
        {Panel2, "Panel2"},           {SpeedButton1, "SpeedButton1"},
        {SpeedButton2, "SpeedButton2"}, {SpeedButton3, "SpeedButton3"},
        {Memo1, "Memo1"},             {Memo2, "Memo2"},
        {Edit1, "Edit1"},             {StatusPanel, "StatusPanel"},
        {RadioButton1, "RadioButton1"}, {menuBar(), "MainMenu1"}};
    for (const auto& [object, name] : names)
        object->setObjectName(QLatin1String(name));

    Einstellungen1 = menuBar()->addAction(QStringLiteral("Einstellungen"));
    connect(Einstellungen1, &QAction::triggered, this, &TForm1::Einstellungen1Click);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    Info1 = PopupMenu1->addAction(QStringLiteral("&Info"));
    PopupMenu1->addSeparator();
    Beenden1 = PopupMenu1->addAction(QStringLiteral("&Beenden"));
    connect(Info1, &QAction::triggered, this, &TForm1::Info1Click);
    connect(Beenden1, &QAction::triggered, this, &TForm1::Beenden1Click);

    for (QTimer* t : {&TimerOPL, &TimerOPLComopen, &TimerOPN, &TimerOPNComopen}) {
        t->setInterval(1000);
        t->stop();
    }
    Timers = MainTimers{&TimerOPL, &TimerOPLComopen, &TimerOPN, &TimerOPNComopen};
    connect(&TimerOPLComopen, &QTimer::timeout, this, [] { TimerOPLComopenTimer(); });
    connect(&TimerOPL, &QTimer::timeout, this, [] { TimerOPLTimer(); });
    connect(&TimerOPNComopen, &QTimer::timeout, this, [] { TimerOPNComopenTimer(); });
    connect(&TimerOPN, &QTimer::timeout, this, [] { TimerOPNTimer(); });
}

void TForm1::FormCreate() {
    Edit1->hide();
    SetClipboardEdit(Edit1);
    BatchLines.clear();
    if (instance_.acquire(QString::fromUtf8(brand().mutex_name)) ==
        SingleInstance::Result::AlreadyRunning) {
        dialogs().beep();
        return;
    }
    AppClosing = false;
    qApp->installEventFilter(this);  // sees every key press first (key preview)
    StartDir = StartDirForThisRun();
    SetupBrand();
    LoadSettings();
    PrepareTray();
    set_display(this);
    NoteDeliveryChannel();
    created_ = true;
}

void TForm1::SetupBrand() {
    const BrandInfo& b = brand();
    IniName = QString::fromUtf8(b.ini_name);
    SpeedButton1->setText(QString::fromUtf8(b.shop_button));
    OplFiles[0].m2text = QString::fromUtf8(b.opl_file0_text);
    QLabel* logos[3] = {ImageOrbelin, ImageMirabo, ImageDoerfal};
    QLabel* shown = logos[b.id];
    Panel1->setFixedHeight(shown->height() + 2);
    for (QLabel* l : logos)
        l->setVisible(l == shown);

    // The rest of the client area below the banner, above the status bar.
    const int banner = Panel1->height();
    StatusPanel->setGeometry(0, kClientHeight - 23, kClientWidth, 23);
    Panel2->setGeometry(0, banner, kClientWidth, kClientHeight - banner - 23);
}

void TForm1::PrepareTray() {
    ReadyIcon = TrayImage(0);
    NotReadyIcon = TrayImage(4);
    tray_ready_icon_ = true;
    tray_tip_ = Text(brand().tray_start).left(127);
    // Without a notification area (a bare X server) the program goes on
    // without a tray icon, as it does when the shell fails.
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    TrayIcon = new QSystemTrayIcon(ReadyIcon, this);
    TrayIcon->setToolTip(tray_tip_);
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason r) { ClickTrayIcon(static_cast<int>(r)); });
}

void TForm1::AddTray() {
    if (TrayIcon)
        TrayIcon->show();
}

void TForm1::UpdateTray(bool ready, const QString& text) {
    tray_ready_icon_ = ready;
    tray_tip_ = text.left(127);
    if (!TrayIcon)
        return;
    TrayIcon->setIcon(ready ? ReadyIcon : NotReadyIcon);
    TrayIcon->setToolTip(tray_tip_);
}

void TForm1::RestoreFromTray() {
    // Hidden while minimised, the window still carries the iconic start hint
    // of its minimising; mapped with it, it would stay in the tray.
    if (!isVisible())
        window_system().map_normally_next(winId());
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    showNormal();
    raise();
    activateWindow();
}

void TForm1::ClickTrayIcon(int reason) {
    switch (static_cast<QSystemTrayIcon::ActivationReason>(reason)) {
        case QSystemTrayIcon::Trigger:
        case QSystemTrayIcon::DoubleClick:
            RestoreFromTray();
            break;
        case QSystemTrayIcon::Context:
            // The menu belongs to the button's release: opened on the press,
            // the release would pick its first item at once.
            PopupAfterRelease(0);
            break;
        default:
            break;
    }
}

void TForm1::PopupAfterRelease(int waited_ms) {
    if (QGuiApplication::mouseButtons() != Qt::NoButton && waited_ms < 2000) {
        QTimer::singleShot(20, this, [this, waited_ms] { PopupAfterRelease(waited_ms + 20); });
        return;
    }
    PopupMenu1->popup(QCursor::pos());
}

void TForm1::MinimizeClick() {
    if (progpar.trayicon && TrayIcon) {
        TrayIcon->setIcon(tray_ready_icon_ ? ReadyIcon : NotReadyIcon);
        TrayIcon->setToolTip(tray_tip_);
    }
    if (!progpar.taskbar && isVisible())
        hide();
}

bool TForm1::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate && created_ && !activated_) {
        activated_ = true;
        FormActivate();
    } else if (e->type() == QEvent::Show && created_ && !activated_) {
        // A bare X server (no window manager) may never activate the window;
        // the set-up must not depend on it.
        QTimer::singleShot(300, this, [this] {
            if (!activated_) {
                activated_ = true;
                FormActivate();
            }
        });
    }
    return QMainWindow::event(e);
}

void TForm1::FormActivate() {
    PortClosed = true;
    TimerOPN.stop();
    TimerOPL.stop();
    browserrecord.state = {true, true};
    QToolButton* down = browserrecord.mode == 0   ? SpeedButton1
                        : browserrecord.mode == 1 ? SpeedButton2
                                                  : SpeedButton3;
    down->setChecked(true);
    SpeedButton1Click();
    if (IsMiraboOrDoerfal()) {
        SpeedButton1->resize(160, SpeedButton1->height());
        SpeedButton2->resize(160, SpeedButton2->height());
        SpeedButton2->move(SpeedButton1->x() + SpeedButton1->width() + 4, SpeedButton2->y());
        SpeedButton3->move(SpeedButton2->x() + SpeedButton2->width() + 4, SpeedButton3->y());
        SpeedButton3->resize(Panel2->width() - SpeedButton1->x() - SpeedButton1->width() -
                                 SpeedButton2->width() - 14,
                             SpeedButton3->height());
    } else {
        SpeedButton3->hide();
    }
    SetCaptions();
    if (!QDir(QStringLiteral("Temp")).exists())
        QDir().mkdir(StartDir + QStringLiteral("Temp"));
    Memo1->clear();
    Memo2->clear();
    if (progpar.minimize)
        showMinimized();
    if (progpar.trayicon)
        AddTray();
    if (!progpar.taskbar && progpar.minimize && isVisible())
        hide();
    OpenComport();
}

void TForm1::SpeedButton1Click() {
    if (progpar.device != 1) {
        SpeedButton1->hide();
        SpeedButton2->hide();
        SpeedButton3->hide();
        return;
    }
    SpeedButton1->show();
    SpeedButton2->show();
    SpeedButton3->setVisible(IsMiraboOrDoerfal());
    QToolButton* buttons[3] = {SpeedButton1, SpeedButton2, SpeedButton3};
    for (int i = 0; i < 3; ++i) {
        QFont f = buttons[i]->font();
        f.setBold(buttons[i]->isChecked());
        buttons[i]->setFont(f);
        if (buttons[i]->isChecked())
            browserrecord.mode = i;
    }
}

void TForm1::SetCaptions() {
    setWindowTitle(Text(brand().caption_name) + QStringLiteral("  ") + Text(msg::Version) + u' ' +
                   QString::fromUtf8(txt::ProgramVersion));
    Einstellungen1->setText(Text(msg::Settings));
}

void TForm1::Info1Click() {
    const QString name = Text(brand().info_name);
    dialogs().message_box(name,
                          name + QStringLiteral("  ") + Text(msg::Version) + u' ' +
                              QString::fromUtf8(txt::ProgramVersion),
                          BoxIcon::Information, BoxButtons::Ok);
}

void TForm1::Einstellungen1Click() {
    // The program entry creates the dialogs right after this window; a
    // window without them is a wiring fault, not a reason to ignore the menu.
    Q_ASSERT_X(FormSetup1, "Einstellungen1Click", "the settings dialog was never created");
    if (!FormSetup1)
        CreateSetupForms(this);
    CloseComport();
    FormSetup1->exec();
    Memo1->clear();
    Memo2->clear();
    SetCaptions();
    OpenComport();
    SpeedButton1Click();
}

void TForm1::Beenden1Click() {
    close();
}

void TForm1::OpenComport() {
    vt::OpenComport();
}

void TForm1::CloseComport() {
    vt::CloseComport();
}

bool TForm1::eventFilter(QObject* watched, QEvent* e) {
    if (e->type() == QEvent::KeyPress) {
        auto* w = qobject_cast<QWidget*>(watched);
        const auto* k = static_cast<QKeyEvent*>(e);
        if (w && w->window() == this && k->key() == Qt::Key_C &&
            (k->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier) {
            Memo1->clear();
        }
    }
    return QMainWindow::eventFilter(watched, e);
}

bool TForm1::FormCloseQuery() {
    bool can_close = true;
    if (!PortClosed && progpar.confirmclose) {
        can_close =
            dialogs().message_box(QString::fromUtf8(txt::WarningTitle), Text(msg::ConfirmClose),
                                  BoxIcon::Warning, BoxButtons::YesNo) == BoxResult::Yes;
    }
    if (can_close) {
        AppClosing = true;
        CloseComport();
        // A failed save has shown its error box; the program closes anyway.
        SaveSettings();
    }
    return can_close;
}

void TForm1::closeEvent(QCloseEvent* e) {
    if (closing_) {
        e->accept();
        return;
    }
    // The close request itself ends every pumping wait, as the message hook
    // did; a declined close clears the flag again so later transfers work.
    AppClosing = true;
    if (FormCloseQuery()) {
        closing_ = true;
        e->accept();
        qApp->quit();
    } else {
        AppClosing = false;
        e->ignore();
    }
}

void TForm1::changeEvent(QEvent* e) {
    if (e->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) &&
        created_) {
        // Hiding inside the state change itself is undone by Qt's own
        // handling of it; the hook runs right after.
        QTimer::singleShot(0, this, [this] {
            if (windowState() & Qt::WindowMinimized)
                MinimizeClick();
        });
    }
    QMainWindow::changeEvent(e);
}

void TForm1::FormDestroy() {
    qApp->removeEventFilter(this);
    if (TrayIcon)
        TrayIcon->hide();
    delete TrayIcon;
    TrayIcon = nullptr;
    Timers = MainTimers{};
    set_display(nullptr);
}

void TForm1::log_line(const QString& line) {
    Memo1->appendPlainText(line);
}

void TForm1::status_clear() {
    Memo2->clear();
}

void TForm1::status_line(const QString& line) {
    Memo2->appendPlainText(line);
}

void TForm1::status_bar(const QString& text) {
    StatusPanel->setText(text);
    StatusPanel->repaint();
}

QString TForm1::status_bar_text() const {
    return StatusPanel->text();
}

void TForm1::toggle_activity() {
    RadioButton1->setChecked(!RadioButton1->isChecked());
}

void QtDialogs::beep() {
    QApplication::beep();
}

BoxResult QtDialogs::message_box(const QString& title, const QString& text, BoxIcon icon,
                                 BoxButtons buttons) {
    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
        case BoxIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case BoxIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case BoxIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case BoxIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    if (buttons == BoxButtons::YesNo) {
        QPushButton* yes = box.addButton(QStringLiteral("&Ja"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("&Nein"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? BoxResult::Yes : BoxResult::No;
    }
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return BoxResult::Ok;
}

}  // namespace vt
