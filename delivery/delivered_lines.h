#pragma once
// What a shop's order form already holds of a file whose line-by-line
// delivery failed part-way. The scanner keeps such a file, and its next
// download brings every line again: typed again into the same form, the
// lines before the failure would be ordered twice.
//
// The memory belongs to one window: the lines a delivery typed into it, in
// order, are kept while the file is incomplete. When the same shop's file
// is delivered again into that same window, the lines received are compared
// with the ones kept; only when all kept lines come again, in order, at the
// start of the file, are they skipped (one log line says how many). Until
// then the matching lines are held back; a difference, or an end of the file
// before all of them matched, types the held lines after all. A different
// window (a new form) gets the whole file. Nothing that did not reach the
// form is ever skipped.
//
// Only the line-by-line mode is remembered: a batch is pasted whole or not
// at all.

#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>

namespace vt {

class DeliveredLines {
  public:
    // Types one line into the form; false when it did not reach it.
    using Deliver = std::function<bool(const QString&)>;

    // A delivery of a file of `shop` into `window` begins.
    void begin(int shop, uint64_t window);
    // The next line of the file, received while `window` is the form (the
    // search runs again for every line); false when a line typed for it
    // did not reach the form, which ends the file.
    bool pass(const QString& line, uint64_t window, const Deliver& deliver);
    // The file's end came: types the lines still held back.
    bool end_of_file(const Deliver& deliver);
    // The delivery is over; a complete one leaves nothing to skip. The last
    // `not_arrived` lines typed that did not arrive after all (a paste that
    // never fetched its text, texts the browser did not acknowledge) are not
    // kept.
    void finish(bool complete, int not_arrived = 0);

    // The lines kept for the form, for a look from outside.
    const QStringList& kept() const { return lines_; }
    uint64_t window() const { return window_; }

  private:
    bool release(const QStringList& lines, const Deliver& deliver);

    int shop_ = -1;
    uint64_t window_ = 0;
    QStringList lines_;    // typed into window_, from the file's first line on
    qsizetype matched_ = 0;  // of lines_, received again and held back
    bool matching_ = false;
    bool in_order_ = true;   // lines_ is the start of the file
    bool line_by_line_ = false;
    qsizetype typed_ = 0;  // lines this delivery typed
};

// The memory of the program's shop deliveries (both scanner families).
DeliveredLines& ShopFileMemory();

}  // namespace vt
