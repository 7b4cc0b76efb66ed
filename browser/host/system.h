#pragma once
// What the host does the system's own way: system_unix.cpp, system_win32.cpp.

#include <QCoreApplication>
#include <QString>

namespace vt::host {

// Relays between the browser on stdin/stdout and the running programs until
// the browser lets go; the exit code.
int RunRelay(QCoreApplication& app);

// A command line option of this system alone (on Windows --register and
// --unregister); its exit code, or -1 when `option` is none of them.
int SystemOption(const QString& option);

}  // namespace vt::host
