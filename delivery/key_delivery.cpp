#include "delivery/key_delivery.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QThread>

#include "app/messages.h"
#include "app/ui_seam.h"
#include "delivery/delivery_rules.h"
#include "delivery/shop_window.h"
#include "platform/clipboard_watch.h"
#include "platform/keyboard.h"
#include "settings/settings.h"

namespace vt {

QStringList BatchLines;
bool FirstLine = false;

namespace {

// How long a paste may take to fetch the text before the next one may
// replace it.
constexpr int kFetchTimeoutMs = 2000;

QPointer<QLineEdit> g_clipboard_edit;

QLineEdit& ClipboardEdit() {
    if (!g_clipboard_edit) {
        static QLineEdit* own = [] {
            auto* edit = new QLineEdit;
            edit->setMaxLength(1 << 20);
            return edit;
        }();
        g_clipboard_edit = own;
    }
    return *g_clipboard_edit;
}

void Wait(int ms) {
    QThread::msleep(static_cast<unsigned long>(ms));
}

void Tap(int code) {
    keyboard().key_down(code);
    keyboard().key_up(code);
}

// Checked right before keys are sent: they must reach the shop's window and
// no other (a terminal would run the lines as commands).
bool ShopIsActive(const QString& what) {
    const uint64_t handle = browserrecord.handle;
    if (handle != 0 && window_system().has_keyboard_focus(handle))
        return true;
    const bool gone = handle == 0 || !window_system().window_exists(handle);
    display().log_line(
        QString::fromUtf8(gone ? txt::NotSentFormClosed : txt::NotSentFormNotActive) + what);
    return false;
}

// Ctrl+V, then hold on until the pasting client has fetched the text, so the
// next text cannot take its place first.
void PasteAndWaitForFetch(const QString& what, int hold_v_ms) {
    ClipboardWatch& watch = clipboard_watch();
    const uint64_t seen = watch.serve_waiting_requests();
    keyboard().key_down(vk::Control);
    keyboard().key_down(vk::V);
    if (hold_v_ms > 0)
        Wait(hold_v_ms);
    keyboard().key_up(vk::V);
    keyboard().key_up(vk::Control);
    if (!watch.wait_for_fetch(seen, kFetchTimeoutMs)) {
        display().log_line(QString::fromUtf8(txt::ClipboardNotFetched) + what);
    }
}

}  // namespace

void SetClipboardEdit(QLineEdit* edit) {
    g_clipboard_edit = edit;
}

bool DeliverLine(int shop, const QString& line) {
    BringShopToFront();
    if (progpar.keysendmode == 1 || progpar.keysendmode == 2) {
        BatchLines << line + QChar(u'\r');
        return true;
    }
    return SendLine(shop, line);
}

bool SendLine(int shop, const QString& line) {
    const QString received = line;
    const bool first = FirstLine;
    FirstLine = false;
    const auto s = static_cast<size_t>(shop);

    BringShopToFront();
    Wait(20);
    if (!ShopIsActive(received))
        return false;

    const QString& accesskey = progpar.accesskey[s];
    const int key = AccessKeyCode(accesskey);
    if (key != 0) {
        if (key < 0 || !keyboard().has_key(key)) {
            // Another key in its place could trigger anything in the page.
            display().log_line(FormatS(QString::fromUtf8(txt::NotSentAccessKey), accesskey) +
                               received);
            return false;
        }
        keyboard().key_down(vk::Menu);
        keyboard().key_down(key);
        keyboard().key_up(key);
        keyboard().key_up(vk::Menu);
        if (first)
            Wait(500);
    }

    const bool caps = keyboard().caps_lock_on();
    if (caps)
        Tap(vk::Capital);

    const QString text = (shop == 0 ? RemovePraefix(line, progpar.praefix) : line) + QChar(u'\r');
    QLineEdit& edit = ClipboardEdit();
    edit.setText(text);
    edit.selectAll();
    edit.copy();
    Wait(50);

    const bool sent = ShopIsActive(received);
    if (sent) {
        PasteAndWaitForFetch(received, 0);
        display().log_line(received);
    }
    if (caps)
        Tap(vk::Capital);
    return sent;
}

bool PasteBatch() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(BatchLines.join(QString()));
    if (progpar.keysendmode != 1)
        return true;
    Wait(100);
    const QString what =
        FormatS(QString::fromUtf8(txt::BatchLinesText), QString::number(BatchLines.size()));
    if (!ShopIsActive(what))
        return false;
    PasteAndWaitForFetch(what, 100);
    return true;
}

}  // namespace vt
