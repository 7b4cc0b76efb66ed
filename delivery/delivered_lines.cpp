#include "delivery/delivered_lines.h"

#include <algorithm>

#include "settings/messages.h"
#include "settings/ui_seam.h"
#include "settings/settings.h"

namespace vt {

void DeliveredLines::begin(int shop, uint64_t window) {
    line_by_line_ = progpar.keysendmode != 1 && progpar.keysendmode != 2;
    if (!line_by_line_ || window == 0 || shop != shop_ || window != window_) {
        lines_.clear();
        shop_ = shop;
        window_ = window;
    }
    in_order_ = true;
    typed_ = 0;
    matched_ = 0;
    matching_ = line_by_line_ && !lines_.isEmpty();
}

bool DeliveredLines::pass(const QString& line, uint64_t window, const Deliver& deliver) {
    if (!line_by_line_)
        return deliver(line);
    if (window != window_) {
        // Lines of this file went to another window: neither form holds a
        // start of it that could be trusted.
        QStringList held = lines_.mid(0, matched_);
        lines_.clear();
        window_ = window;
        in_order_ = false;
        matching_ = false;
        return release(held << line, deliver);
    }
    if (matching_) {
        if (line == lines_[matched_]) {
            if (++matched_ == lines_.size()) {
                matching_ = false;
                display().log_line(
                    FormatS(QString::fromUtf8(txt::LinesAlreadyDelivered), QString::number(matched_)));
            }
            return true;
        }
        // Not the file that was typed before: what matched so far goes too.
        QStringList held = lines_.mid(0, matched_);
        lines_.clear();
        matching_ = false;
        return release(held << line, deliver);
    }
    return release({line}, deliver);
}

bool DeliveredLines::end_of_file(const Deliver& deliver) {
    if (!matching_)
        return true;
    matching_ = false;
    const QStringList held = lines_.mid(0, matched_);
    lines_.clear();
    return release(held, deliver);
}

void DeliveredLines::finish(bool complete, int not_arrived) {
    const qsizetype gone = std::min({qsizetype(std::max(not_arrived, 0)), typed_, lines_.size()});
    lines_.resize(lines_.size() - gone);
    if (complete || !in_order_ || !line_by_line_)
        lines_.clear();
    matching_ = false;
    matched_ = 0;
}

bool DeliveredLines::release(const QStringList& lines, const Deliver& deliver) {
    for (const QString& l : lines) {
        if (!deliver(l))
            return false;
        ++typed_;
        lines_ << l;
    }
    return true;
}

DeliveredLines& ShopFileMemory() {
    static DeliveredLines memory;
    return memory;
}

}  // namespace vt
