// The journal entry reader on any bytes, as a hand-edited or damaged entry
// file reaches it: it must not crash, must not call an entry complete that
// lost its end, and must read the same bytes the same way every time.

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
    if (e.state == JournalEntry::State::Complete && bytes.endsWith('\n')) {
        // Without its last byte the final record is torn: an entry that ended
        // with its end record is then no longer complete.
        const JournalEntry cut = ParseJournalEntry(bytes.left(bytes.size() - 1));
        Check(e.outcome != JournalOutcome::None || cut.state != JournalEntry::State::Complete,
              "an entry without its whole end record reads as complete");
        Check(cut.lines.size() <= e.lines.size(), "a shorter entry holds more lines");
    }
    return 0;
}
