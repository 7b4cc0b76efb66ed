// Starts the real VantorTrans under a private Xvfb 20 times and prints the
// median time from process start to its main window being mapped, and the
// peak resident memory of the running program.

// Qt first: Xlib defines macros (Bool, Status) that Qt headers refuse.
#include "tests/support/e2e_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

long window_pid(Display* d, Window w) {
    static const Atom pid_atom = XInternAtom(d, "_NET_WM_PID", False);
    Atom type;
    int format;
    unsigned long n, after;
    unsigned char* data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(d, w, pid_atom, 0, 1, False, XA_CARDINAL, &type, &format, &n, &after,
                           &data) == Success &&
        data && n == 1) {
        pid = static_cast<long>(*reinterpret_cast<unsigned long*>(data));
    }
    if (data)
        XFree(data);
    return pid;
}

long peak_rss_kib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atol(line.c_str() + 6);
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    // A bare server: without a window manager the main window is mapped as a
    // child of the root, where this process sees it.
    if (!vt::test::EnsureTestDesktop() || !vt::test::StopWindowManager()) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    Display* d = XOpenDisplay(nullptr);
    if (!d)
        return 1;
    XSelectInput(d, DefaultRootWindow(d), SubstructureNotifyMask);
    XSync(d, False);

    char dir_template[] = "/tmp/vt-bench-startup-XXXXXX";
    const std::string dir = ::mkdtemp(dir_template);
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    const std::string exe = VT_BIN_DIR "/VantorTrans";

    std::vector<double> ms;
    long peak = 0;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::chdir(dir.c_str()) != 0)
                ::_exit(126);
            ::execl(exe.c_str(), exe.c_str(), nullptr);
            ::_exit(127);
        }
        bool mapped = false;
        while (!mapped && Clock::now() - t0 < std::chrono::seconds(20)) {
            while (XPending(d)) {
                XEvent ev;
                XNextEvent(d, &ev);
                if (ev.type == MapNotify && window_pid(d, ev.xmap.window) == pid)
                    mapped = true;
            }
            if (!mapped)
                ::usleep(200);
        }
        const auto t1 = Clock::now();
        if (!mapped) {
            std::fprintf(stderr, "run %d: no window\n", i);
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        ::usleep(500 * 1000);  // let it settle: activation, port timers
        peak = std::max(peak, peak_rss_kib(pid));
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("startup: %d runs, median %.1f ms to the mapped main window (min %.1f, max %.1f)\n",
                runs, ms[ms.size() / 2], ms.front(), ms.back());
    std::printf("startup: peak resident memory %.1f MiB\n", static_cast<double>(peak) / 1024.0);
    std::system(("rm -rf " + dir).c_str());
    return 0;
}
