#pragma once
// A private X server for one test process. Call UseOwnXvfb() from a static
// initialiser at namespace scope of a GUI test file, so DISPLAY is set before
// main() creates the QApplication:
//
//     static const bool kDisplay = vt::test::UseOwnXvfb();
//
// The server (and the window manager, when asked for) end with the process.

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace vt::test {

namespace detail {
inline pid_t g_xvfb = -1;
inline pid_t g_wm = -1;
inline void stop_servers() {
    for (pid_t* p : {&g_wm, &g_xvfb}) {
        if (*p > 0) {
            ::kill(*p, SIGTERM);
            ::waitpid(*p, nullptr, 0);
            *p = -1;
        }
    }
}
inline pid_t spawn(const char* const argv[], int keep_fd = -1) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        // The server must not outlive a test that crashes, nor keep its
        // output pipes open.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int null_fd = ::open("/dev/null", O_RDWR);
        ::dup2(null_fd, 1);
        ::dup2(null_fd, 2);
        for (int fd = 3; fd < 256; ++fd) {
            if (fd != keep_fd)
                ::close(fd);
        }
        ::execvp(argv[0], const_cast<char* const*>(argv));
        ::_exit(127);
    }
    return pid;
}
}  // namespace detail

// Starts Xvfb (and openbox when `window_manager`), sets DISPLAY and
// QT_QPA_PLATFORM=xcb. Returns false when no server could be started.
inline bool UseOwnXvfb(bool window_manager = false) {
    int fds[2];
    if (::pipe(fds) != 0)
        return false;
    const std::string fd = std::to_string(fds[1]);
    const char* argv[] = {"Xvfb",         "-displayfd", fd.c_str(), "-screen",  "0",
                          "1280x1024x24", "-nolisten",  "tcp",      "-noreset", nullptr};
    detail::g_xvfb = detail::spawn(argv, fds[1]);
    ::close(fds[1]);
    char buf[32] = {};
    ssize_t n = 0, got = 0;
    while (got < static_cast<ssize_t>(sizeof buf) - 1 &&
           (n = ::read(fds[0], buf + got, sizeof buf - 1 - static_cast<size_t>(got))) > 0) {
        got += n;
        if (buf[got - 1] == '\n')
            break;
    }
    ::close(fds[0]);
    if (got <= 0)
        return false;
    const std::string display = ":" + std::string(buf, static_cast<size_t>(got - 1));
    ::setenv("DISPLAY", display.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    std::atexit(detail::stop_servers);
    if (window_manager) {
        const char* wm[] = {"openbox", "--sm-disable", nullptr};
        detail::g_wm = detail::spawn(wm);
        // openbox announces itself on the root window once it manages it.
        for (int i = 0; i < 100; ++i) {
            if (std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q window") ==
                0)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return true;
}

}  // namespace vt::test
