#pragma once
// The seam between the scanner cycles and the shop's order form. A cycle
// searches the form, hands it its lines and learns whether each arrived; how
// they get there is the channel's business. Two channels exist: keystrokes
// into a desktop window (clipboard and Ctrl+V) and the browser extension,
// which writes into a browser tab and acknowledges each text.
//
// Both fill `browserrecord` on a search, so the cycles and the memory of
// delivered lines treat a window and a tab alike: `handle` names the form.

#include <QString>
#include <QStringList>

namespace vt {

// The lines collected in modes 1 and 2, each ending with CR; the callers
// clear it when a transfer starts.
extern QStringList BatchLines;

class DeliveryChannel {
  public:
    virtual ~DeliveryChannel() = default;
    // Searches the order form of `shop` (0 or 1); true when it is there.
    virtual bool find_window(int shop) = 0;
    // Between the lines of a file: whether the form found last is still
    // there, so that no line goes anywhere else.
    virtual bool window_still_there(int shop) { return find_window(shop); }
    virtual bool bring_to_front() = 0;
    // Mode 0 delivers the line at once, modes 1 and 2 collect it. False
    // when it should have been delivered and did not reach the form.
    virtual bool deliver_line(int shop, const QString& line) = 0;
    // After the last line of a transfer in modes 1 and 2: the collected
    // lines as one text; false when they did not reach the form.
    virtual bool paste_batch() = 0;
    // After the last line: whether it really arrived (a paste may still be
    // fetching its text).
    virtual bool await_last_paste() = 0;
    // When await_last_paste said no: how many of the last lines delivered
    // did not arrive after all (with keystrokes only the last paste can be
    // missing).
    virtual int lines_not_arrived() const { return 1; }
    // Empties the collected lines of the batch modes.
    virtual void begin_batch() = 0;
    // The user has just confirmed a transfer (the first line waits longer).
    virtual void confirm_first_line() = 0;
    // The pause between the go-ahead and a shop file's first line: a
    // browser takes keystrokes only a moment after the confirmation box.
    virtual int start_pause_ms() const { return 0; }
    // A line for the status list about the channel itself; empty when it
    // has nothing to say.
    virtual QString status_text() { return QString(); }
};

}  // namespace vt
