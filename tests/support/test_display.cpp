#include "tests/support/test_display.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vt::test {
namespace {

pid_t g_server = 0;

void StopServer() {
    if (g_server <= 0)
        return;
    ::kill(g_server, SIGTERM);
    ::waitpid(g_server, nullptr, 0);
    g_server = 0;
}

}  // namespace

void StartPrivateDisplay() {
    // Another test file of the same binary may have started one already.
    if (g_server > 0 || std::getenv("VT_TEST_XVFB_PID") != nullptr)
        return;
    int fds[2];
    if (::pipe(fds) != 0)
        std::abort();
    const pid_t pid = ::fork();
    if (pid < 0)
        std::abort();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // never outlive a crashed test
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        std::freopen("/dev/null", "w", stderr);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                 "1280x1024x24", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    ::close(fds[0]);
    if (number.empty()) {
        std::fprintf(stderr, "test display: Xvfb did not start\n");
        std::abort();
    }
    g_server = pid;
    std::atexit(StopServer);
    ::setenv("DISPLAY", (":" + number).c_str(), 1);
    ::setenv("VT_TEST_XVFB_PID", std::to_string(pid).c_str(), 1);
    ::unsetenv("QT_QPA_PLATFORM");
}

}  // namespace vt::test
