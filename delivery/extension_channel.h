#pragma once
// Delivery through the browser extension: the order form is a browser tab
// whose title names the form, found among the tabs the extension lists; a
// line (mode 0) or the collected batch (modes 1 and 2) is written into the
// tab's field by the extension, which acknowledges each text. Nothing here
// needs a display server.
//
// Every text carries a sequence number of this program run. A text whose
// answer never came is sent again with the same number when it is the next
// text for the same tab, so the tab that had applied it answers "duplicate"
// instead of inserting it twice.
//
// In mode 0 a line's answer is awaited by the next line (or by the end of
// the transfer), so the scanner's next line arrives while the browser
// inserts this one; a line is never sent before the one ahead of it has
// been acknowledged. Each text names the form title, and the extension
// refuses a tab that no longer carries it: the tab need not be searched
// again between the lines of a file.

#include <QElapsedTimer>
#include <QString>
#include <cstdint>

#include "delivery/delivery_channel.h"
#include "delivery/extension_server.h"

namespace vt {

class ExtensionChannel final : public DeliveryChannel {
  public:
    // How long a request waits for its answer.
    static constexpr int kAnswerTimeoutMs = 2000;
    // A batch above this many bytes goes as several texts, cut at line ends:
    // the browser takes no message from the host above 1 MiB.
    static constexpr qsizetype kChunkBytes = 512 * 1024;

    explicit ExtensionChannel(ExtensionServer& server);

    bool find_window(int shop) override;
    bool window_still_there(int shop) override;
    bool bring_to_front() override;
    bool deliver_line(int shop, const QString& line) override;
    bool paste_batch() override;
    bool await_last_paste() override;
    void begin_batch() override;
    void confirm_first_line() override {}
    QString status_text() override;

    // The form's name in `browserrecord.handle`: browser kind and tab id,
    // stable across a reconnection of the same browser.
    static uint64_t FormHandle(int kind, qint64 tab);

  private:
    // Sends `text` into the tab of the last search and leaves its answer to
    // `settle`; `what` is named in the log line when it does not arrive, and
    // logged on its own when it does and `log_arrival` is set.
    bool post(const QString& text, const QString& what, bool log_arrival);
    // Awaits the answer of the text in flight, if any; false when it did not
    // arrive, with one log line why.
    bool settle();

    ExtensionServer& server_;
    QString session_;
    qint64 seq_ = 0;
    int shop_ = 0;  // of the last search or line: its access key focuses the field
    // The tab of the last search, on the connection that listed it.
    int connection_ = 0;
    qint64 tab_ = 0;
    // A text whose answer never came: unknown whether the tab has it.
    struct Unanswered {
        bool open = false;
        uint64_t handle = 0;
        QString text;
        qint64 seq = 0;
    } unanswered_;
    // The text whose answer has not been taken yet.
    struct InFlight {
        bool open = false;
        int shop = 0;
        int connection = 0;
        qint64 rid = 0;
        QElapsedTimer sent;
        uint64_t handle = 0;
        QString text;
        qint64 seq = 0;
        QString what;
        bool log_arrival = false;
    } flight_;
    // Whether every text of the transfer so far arrived; told once, by
    // await_last_paste.
    bool all_arrived_ = true;
};

}  // namespace vt
