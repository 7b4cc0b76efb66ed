#include "links/transfer_progress.h"

#include "settings/messages.h"
#include "settings/ui_seam.h"

namespace vt {

bool CycleRunning = false;

TransferProgress::TransferProgress(const QString& pattern)
    : pattern_(pattern),
      before_(display().status_bar_text()),
      tray_ready_before_(display().current_tray_ready()),
      tray_tip_before_(display().current_tray_tip()) {}

TransferProgress::~TransferProgress() {
    if (!since_shown_.isValid())
        return;
    display().status_bar(before_);
    display().update_tray(tray_ready_before_, tray_tip_before_);
}

void TransferProgress::add(int64_t n) {
    count_ += n;
    if (!since_shown_.isValid() || since_shown_.elapsed() >= kIntervalMs)
        show();
}

void TransferProgress::show() {
    since_shown_.start();
    // The count takes the last "%s": a file name may hold one of its own.
    QString text = pattern_;
    const qsizetype at = text.lastIndexOf(QStringLiteral("%s"));
    if (at >= 0)
        text.replace(at, 2, QString::number(count_));
    display().status_bar(QStringLiteral(" ") + text);
    display().update_tray(true, text);
}

QString ReceivingFilePattern(const QString& file) {
    return FormatS(QString::fromUtf8(txt::ReceivingFile), file);
}

}  // namespace vt
