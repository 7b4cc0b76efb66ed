#include "platform/terminate_request.h"

#include <windows.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMetaObject>
#include <QPointer>
#include <QSessionManager>
#include <atomic>

namespace vt {
namespace {

QPointer<QObject> g_context;
std::function<void()> g_handler;
std::atomic<bool> g_done{false};

// Runs on a thread of its own. For a closed console, a logoff or a shutdown
// the process ends as soon as this returns, so it waits a little for the
// orderly close to have saved the settings.
BOOL WINAPI OnConsoleEvent(DWORD type) {
    QObject* context = g_context.data();
    if (!context)
        return FALSE;
    QMetaObject::invokeMethod(
        context,
        [] {
            g_handler();
            g_done = true;
        },
        Qt::QueuedConnection);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        for (int i = 0; i < 400 && !g_done; ++i)
            Sleep(10);
    }
    return TRUE;
}

}  // namespace

void OnTerminateRequest(QObject* context, std::function<void()> handler) {
    g_context = context;
    g_handler = std::move(handler);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    // The end of the session reaches a windowed program as a message, which
    // Qt turns into a request to save its data.
    if (auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QObject::connect(app, &QGuiApplication::commitDataRequest, context,
                         [](QSessionManager&) { g_handler(); });
}

}  // namespace vt
