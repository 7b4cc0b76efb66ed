#pragma once
// A request from outside to end the program in order, as the user would:
// SIGTERM or SIGINT on Linux; Ctrl+C, a closed console or the end of the
// session on Windows. `handler` runs on the GUI thread, in the event loop.

#include <QObject>
#include <functional>

namespace vt {

void OnTerminateRequest(QObject* context, std::function<void()> handler);

}  // namespace vt
