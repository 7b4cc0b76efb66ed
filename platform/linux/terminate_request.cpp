#include "platform/terminate_request.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

namespace vt {
namespace {

int g_signal_pipe[2] = {-1, -1};

// Only a write is safe in a signal handler; the event loop does the rest.
void on_terminate(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(g_signal_pipe[1], &c, 1);
}

}  // namespace

void OnTerminateRequest(QObject* context, std::function<void()> handler) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signal_pipe) != 0)
        return;
    struct sigaction sa {};
    sa.sa_handler = on_terminate;
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
    auto* notifier =
        new QSocketNotifier(g_signal_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, context, [handler] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(g_signal_pipe[0], &c, 1);
        handler();
    });
}

}  // namespace vt
