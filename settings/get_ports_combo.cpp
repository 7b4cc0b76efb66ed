#include <QApplication>
#include <QComboBox>

#include "settings/get_ports.h"

namespace vt {
namespace {

// The enumeration can take a moment on a machine with many ports.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

void FillComboBoxCom(QComboBox& box) {
    WaitCursor wait;
    const int selected = box.currentIndex();
    // Text typed by hand is not an entry; a refresh must not replace it.
    const QString typed = box.isEditable() ? box.currentText() : QString();
    const bool was_typed = box.isEditable() && (selected < 0 || typed != box.itemText(selected));

    if (std::optional<QStringList> list = EnumerateComPorts(false)) {
        SortComPortList(*list);
        for (const QString& entry : *list) {
            const int n = entry.size() < 4 ? 0 : PortNumberOf(entry);
            if (n >= 1 && n <= box.count())
                box.setItemText(n - 1, entry);
        }
    }
    box.setCurrentIndex(selected);
    if (was_typed)
        box.setEditText(typed);
}

}  // namespace vt
