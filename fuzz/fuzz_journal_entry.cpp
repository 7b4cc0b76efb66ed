// The journal entry reader on any bytes, as a hand-edited or damaged entry
// file reaches it: it must not crash, must not call an entry complete that
// lost lines, and must read the same bytes the same way every time.

#include <QByteArray>

#include "fuzz/fuzz_support.h"
#include "links/journal.h"

using namespace vt;
using vt::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const JournalEntry e = ParseJournalEntry(bytes);
    const JournalEntry again = ParseJournalEntry(bytes);
    Check(e.state == again.state && e.lines == again.lines && e.outcome == again.outcome,
          "the same bytes read differently");
    qsizetype total = 0;
    for (const QByteArray& l : e.lines)
        total += l.size();
    Check(total <= bytes.size(), "more line bytes than the entry holds");
    // A crash can cut an entry anywhere. Whatever is left reads as complete
    // only if it still holds every line the whole entry holds.
    for (const qsizetype cut_at : {bytes.size() - 1, bytes.size() - 2, bytes.size() - 5,
                                   bytes.size() / 2, bytes.size() / 4}) {
        if (cut_at <= 0 || cut_at >= bytes.size())
            continue;
        const JournalEntry cut = ParseJournalEntry(bytes.left(cut_at));
        if (cut.state != JournalEntry::State::Complete)
            continue;
        Check(e.state != JournalEntry::State::Incomplete,
              "a cut entry reads as complete, the whole one does not");
        Check(e.state != JournalEntry::State::Complete || cut.lines == e.lines,
              "a cut entry reads as complete without all of its lines");
    }
    return 0;
}
