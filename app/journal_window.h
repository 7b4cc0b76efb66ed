#pragma once
// "Verlauf": the journal's entries, newest first, with the lines of the one
// selected; sends an entry again, saves its lines, opens the folder.

#include <QDialog>
#include <QList>

#include "links/journal.h"

class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace vt {

// The target's name as the list shows it.
QString JournalTargetName(int32_t target);
// The result column: outcome, or "unvollständig" / "beschädigt".
QString JournalResultText(const JournalEntry& e);
// The lines as text: an OPL-98xx line in its code page, an OPN-2001 packet
// as its code.
QStringList JournalLineTexts(const JournalEntry& e);

// Sends the entry to its target again: a shop with the confirmation box and
// the delivery's own checks, an export as a new file. False when it was
// refused or failed (the user has seen why).
bool ResendJournalEntry(const JournalEntry& e);

class JournalWindow : public QDialog {
    Q_OBJECT
  public:
    explicit JournalWindow(QWidget* parent = nullptr);
    void Reload();

  private:
    const JournalEntry* Selected() const;
    void ShowSelected();
    void Resend();
    void SaveAs();

    QList<JournalEntry> entries_;
    QTreeWidget* list_ = nullptr;
    QPlainTextEdit* lines_ = nullptr;
    QPushButton* resend_ = nullptr;
    QPushButton* save_ = nullptr;
};

}  // namespace vt
