#include "delivery/key_delivery.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPointer>
#include <QThread>
#include <algorithm>

#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "delivery/delivery_rules.h"
#include "delivery/shop_window.h"
#include "platform/clipboard_watch.h"
#include "platform/keyboard.h"
#include "settings/settings.h"

namespace vt {

bool FirstLine = false;

namespace {

// How long a paste may take to fetch the text before the next one may
// replace it.
constexpr int kFetchTimeoutMs = 2000;
// How long a line waits for its form to come back to the front when another
// window took it: a click into another program costs a pause, not the file.
constexpr int kRegainFrontMs = 2000;

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

// A paste whose text has not been fetched yet. The next text must not take
// its place before, but the waits that come first need not wait for it.
struct PendingPaste {
    bool open = false;
    uint64_t seen = 0;
    QString what;
};
PendingPaste g_pending;

bool g_last_fetched = true;

// Holds on until the last paste has fetched its text (or gave up on it);
// false when that paste did not fetch it.
bool AwaitPendingPaste() {
    if (!g_pending.open)
        return g_last_fetched;
    g_pending.open = false;
    g_last_fetched = clipboard_watch().wait_for_fetch(g_pending.seen, kFetchTimeoutMs);
    if (!g_last_fetched)
        display().log_line(QString::fromUtf8(txt::ClipboardNotFetched) + g_pending.what);
    return g_last_fetched;
}

bool HasFocus(uint64_t handle) {
    return handle != 0 && window_system().has_keyboard_focus(handle);
}

// Sends keys only when the shop's window has the focus: they must reach it
// and no other (a terminal would run the lines as commands). The display is
// held from the look until the keys have arrived, so that no other program
// can take the focus in between.
template <class Keys>
bool SendToShop(Keys&& keys) {
    DisplayHold hold;
    if (!HasFocus(browserrecord.handle))
        return false;
    keys();
    return true;
}

// After a look that found the shop's window not in front: brings it back
// while `budget_ms` lasts (shared by the looks of one line); true when it
// is back, with the 20 ms after bringing it to the front passed.
bool RegainFront(const QString& what, qint64& budget_ms) {
    const uint64_t handle = browserrecord.handle;
    QElapsedTimer spent;
    spent.start();
    bool back = false;
    while (!back && handle != 0 && window_system().window_exists(handle) &&
           spent.elapsed() < budget_ms) {
        window_system().activate(
            handle, static_cast<int>(std::clamp<qint64>(budget_ms - spent.elapsed(), 1, 200)));
        Wait(20);
        back = HasFocus(handle);
    }
    budget_ms = std::max<qint64>(0, budget_ms - spent.elapsed());
    if (back)
        return true;
    const bool gone = handle == 0 || !window_system().window_exists(handle);
    display().log_line(
        QString::fromUtf8(gone ? txt::NotSentFormClosed : txt::NotSentFormNotActive) + what);
    return false;
}

void PressV(int hold_v_ms) {
    keyboard().key_down(vk::Control);
    keyboard().key_down(vk::V);
    if (hold_v_ms > 0)
        Wait(hold_v_ms);
    keyboard().key_up(vk::V);
    keyboard().key_up(vk::Control);
}

// Ctrl+V into the shop's window, when it has the focus. The fetch of the
// text is awaited by whatever next changes the clipboard, so the waits that
// come first run meanwhile.
bool PasteIntoShop(const QString& what, int hold_v_ms) {
    // A browser may fetch a new text as soon as it appears; such a fetch
    // is not the paste's. Served before the hold: Qt's connection waits
    // while the display is held.
    const uint64_t seen = clipboard_watch().serve_waiting_requests();
    if (!SendToShop([&] { PressV(hold_v_ms); }))
        return false;
    g_pending = {true, seen, what};
    return true;
}

// False when the last paste did not fetch its text: that line is missing
// in the form, and the next must not follow it as if it were there.
bool LastPasteFetched() {
    const bool pending = g_pending.open;
    return AwaitPendingPaste() || !pending;
}

void SetClipboardText(const QString& text) {
    AwaitPendingPaste();
    QLineEdit& edit = ClipboardEdit();
    edit.setText(text);
    edit.selectAll();
    edit.copy();
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
    bool first = FirstLine;
    FirstLine = false;
    const auto s = static_cast<size_t>(shop);
    const QString& accesskey = progpar.accesskey[s];
    const int key = AccessKeyCode(accesskey);
    if (key < 0 || (key != 0 && !keyboard().has_key(key))) {
        // Another key in its place could trigger anything in the page.
        display().log_line(FormatS(QString::fromUtf8(txt::NotSentAccessKey), accesskey) +
                           received);
        return false;
    }
    const QString text = (shop == 0 ? RemovePraefix(line, progpar.praefix) : line) + QChar(u'\r');
    qint64 regain_ms = kRegainFrontMs;

    // A line whose window lost the front starts over once it is back, so
    // its access key puts the cursor where it belongs again.
    for (;;) {
        QElapsedTimer front;
        front.start();
        BringShopToFront();
        // The last paste's fetch runs out within the 20 ms: no key may reach
        // the browser before it has taken its text (a key in the middle of
        // a paste can cost the paste).
        if (!LastPasteFetched())
            return false;
        Wait(static_cast<int>(std::max<qint64>(0, 20 - front.elapsed())));
        const bool keyed = SendToShop([&] {
            if (key == 0)
                return;
            keyboard().key_down(vk::Menu);
            keyboard().key_down(key);
            keyboard().key_up(key);
            keyboard().key_up(vk::Menu);
        });
        if (!keyed) {
            if (!RegainFront(received, regain_ms))
                return false;
            continue;
        }
        if (key != 0 && first)
            Wait(500);
        first = false;

        const bool caps = keyboard().caps_lock_on();
        if (caps)
            Tap(vk::Capital);
        SetClipboardText(text);
        Wait(50);
        const bool pasted = PasteIntoShop(received, 0);
        if (pasted)
            display().log_line(received);
        if (caps)
            Tap(vk::Capital);
        if (pasted)
            return true;
        if (!RegainFront(received, regain_ms))
            return false;
    }
}

bool PasteBatch() {
    AwaitPendingPaste();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(BatchLines.join(QString()));
    if (progpar.keysendmode != 1)
        return true;
    Wait(100);
    const QString what =
        FormatS(QString::fromUtf8(txt::BatchLinesText), QString::number(BatchLines.size()));
    qint64 regain_ms = kRegainFrontMs;
    while (!PasteIntoShop(what, 100)) {
        if (!RegainFront(what, regain_ms))
            return false;
    }
    AwaitPendingPaste();
    return true;
}

bool AwaitLastPaste() {
    const bool fetched = AwaitPendingPaste();
    g_last_fetched = true;  // told once, to the transfer it belongs to
    return fetched;
}

}  // namespace vt
