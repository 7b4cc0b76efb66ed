#pragma once
// "Beim Anmelden starten": the brand's entry in the desktop's autostart folder
// ($XDG_CONFIG_HOME/autostart/, default ~/.config/autostart/), on Windows its
// value under the user's Run key. Whether the
// program starts at login is whether that entry is there, so nothing about it
// is kept in the INI file. An entry of that name that the program did not
// write is the user's: it is never replaced or removed.

#include <QString>

namespace vt {

// The brand's desktop entry id, shared with the menu entry and the icons.
QString DesktopId(const QString& program);

// $XDG_CONFIG_HOME/autostart/<DesktopId>.desktop; on Windows the value
// HKEY_CURRENT_USER\...\CurrentVersion\Run\<program>.
QString AutostartPath(const QString& program);
// The folder (or registry key) that holds it, for a message that it could
// not be written.
QString AutostartPlace(const QString& program);

// The entry exists and is not switched off (Hidden=true).
bool AutostartEnabled(const QString& program);

enum class AutostartResult { Done, NotOurs, CannotWrite };

// Writes (on) or removes (off) the entry; the entry starts `executable` with
// the per-user folder option. The autostart folder is created when missing.
AutostartResult SetAutostart(const QString& program, const QString& display_name, bool on,
                             const QString& executable);

// SetAutostart for this program; a failure is told in one box.
void ApplyAutostart(bool on);
bool AutostartEnabledForThisProgram();

}  // namespace vt
