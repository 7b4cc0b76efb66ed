#pragma once
// What a long download shows while it runs: the growing count in the status
// bar and the tray tooltip, so that a minute of download does not look like a
// hang. Shown at most every 100 ms, so a fast line is not slowed by painting.

#include <QElapsedTimer>
#include <QString>
#include <cstdint>

namespace vt {

class TransferProgress {
  public:
    // `pattern` holds "%s" where the count goes.
    explicit TransferProgress(const QString& pattern);
    // Puts back the status bar text from before the download.
    ~TransferProgress();
    TransferProgress(const TransferProgress&) = delete;
    TransferProgress& operator=(const TransferProgress&) = delete;

    // One more line (barcode) has arrived.
    void add(int64_t n = 1);
    int64_t count() const { return count_; }

    static constexpr int64_t kIntervalMs = 100;

  private:
    void show();

    QString pattern_;
    QString before_;
    bool tray_ready_before_ = false;
    QString tray_tip_before_;
    int64_t count_ = 0;
    QElapsedTimer since_shown_;
};

// True while a scanner cycle runs (it pumps events, so a window's button can
// be pressed in the middle of a download).
extern bool CycleRunning;
struct CycleRunningScope {
    CycleRunningScope() { CycleRunning = true; }
    ~CycleRunningScope() { CycleRunning = false; }
    CycleRunningScope(const CycleRunningScope&) = delete;
    CycleRunningScope& operator=(const CycleRunningScope&) = delete;
};

// "Empfange <file>: %s Zeilen" for an OPL-98xx file.
QString ReceivingFilePattern(const QString& file);

}  // namespace vt
