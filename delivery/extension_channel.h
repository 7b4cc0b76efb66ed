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
// In mode 0 the lines go out without waiting for the answers of the last
// few, so the scanner's next lines arrive while the browser inserts; each
// text names the one that must be in the tab before it ("after"), and the
// extension refuses it otherwise: a line never lands without its
// predecessors. After the first line that did not arrive, nothing more is
// sent; the lines from it on count as not arrived, and those whose fate is
// unknown keep their numbers for the next attempt.
//
// Each text names the form title, and the extension refuses a tab that no
// longer carries it: the tab need not be searched again between the lines
// of a file.

#include <QElapsedTimer>
#include <QString>
#include <cstdint>
#include <deque>

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
    // Mode 0: lines sent whose answers have not been taken yet, at most.
    static constexpr size_t kLinesAhead = 32;

    explicit ExtensionChannel(ExtensionServer& server);

    bool find_window(int shop) override;
    bool window_still_there(int shop) override;
    bool bring_to_front() override;
    bool deliver_line(int shop, const QString& line) override;
    bool paste_batch() override;
    bool await_last_paste() override;
    int lines_not_arrived() const override { return not_arrived_; }
    void begin_batch() override;
    void confirm_first_line() override {}
    QString status_text() override;

    // The form's name in `browserrecord.handle`: browser kind and tab id,
    // stable across a reconnection of the same browser.
    static uint64_t FormHandle(int kind, qint64 tab, const QString& doc = {});

  private:
    struct Text {
        QString text;
        qint64 seq = 0;
    };
    struct InFlight {
        Text sent;
        int shop = 0;
        int connection = 0;
        qint64 rid = 0;
        QElapsedTimer clock;
        uint64_t handle = 0;
        QString what;
        bool log_arrival = false;
    };

    // Sends `text` into the tab of the last search and leaves its answer to
    // the settling below; `what` is named in the log line when it does not
    // arrive, and logged on its own when it does and `log_arrival` is set.
    bool post(const QString& text, const QString& what, bool log_arrival);
    // Takes the answer of the oldest text on its way; false when it did not
    // arrive, with one log line why, and then every later one is settled too.
    bool settle_first();
    // Takes every answer still due; false when a text did not arrive.
    bool settle_all();

    ExtensionServer& server_;
    QString session_;
    qint64 seq_ = 0;
    int shop_ = 0;  // of the last search or line: its access key focuses the field
    // The tab of the last search, on the connection that listed it.
    int connection_ = 0;
    qint64 tab_ = 0;
    QString doc_;
    std::deque<InFlight> flights_;
    // The number of the last text sent into `chain_handle_`, which the next
    // one names as its predecessor; 0 starts anew.
    uint64_t chain_handle_ = 0;
    qint64 chain_ = 0;
    // Texts for `unanswered_handle_` whose fate is unknown, in order: sent
    // again, they keep their numbers, so the tab that has them answers
    // "duplicate" instead of inserting them twice.
    uint64_t unanswered_handle_ = 0;
    std::deque<Text> unanswered_;
    // A text of this transfer did not arrive: nothing more is sent, and
    // await_last_paste says so once.
    bool failed_ = false;
    int not_arrived_ = 0;
};

}  // namespace vt
