// mapwait: starts a program on the current X display and reports how long it took until its
// first top-level window was mapped, then its resident memory a while later.
//
//   mapwait [--settle-ms N] [--cwd DIR] [--timeout-ms N] -- program [arguments...]
//
// Prints one line "map_ms=<ms> rss_kb=<kB> cpu_ms=<ms>" and exits 0, or explains on stderr and
// exits 1. cpu_ms is the processor time the program had used when its window was mapped: on a
// loaded machine it varies far less than the wall time.
// Meant for a private Xvfb with no window manager: top-level windows are children of the root.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>
#include <string>

#include <dirent.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

double nowMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

// The pid a toolkit stamps on its windows, or -1 when the window carries none.
long windowPid(Display *display, Window window, Atom netWmPid)
{
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char *data = nullptr;
    long pid = -1;
    if (XGetWindowProperty(display, window, netWmPid, 0, 1, False, XA_CARDINAL, &type, &format,
                           &count, &after, &data) == Success &&
        data) {
        if (type == XA_CARDINAL && format == 32 && count == 1)
            pid = long(*reinterpret_cast<unsigned long *>(data));
        XFree(data);
    }
    return pid;
}

long residentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::strtol(line.c_str() + 6, nullptr, 10);
    }
    return -1;
}

// Processor time of all threads of the process so far, in ms; -1 when it cannot be read.
double cpuMs(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task/";
    DIR *dir = opendir(tasks.c_str());
    if (!dir)
        return -1;
    double total = 0;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream schedstat(tasks + entry->d_name + "/schedstat");
        unsigned long long onCpuNs = 0;
        if (schedstat >> onCpuNs)
            total += double(onCpuNs) / 1e6;
    }
    closedir(dir);
    return total;
}

// A window destroyed between its event and our query must not end the measurement.
int ignoreXErrors(Display *, XErrorEvent *)
{
    return 0;
}

void stopChild(pid_t pid)
{
    kill(pid, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        if (waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

int usage()
{
    std::fputs("usage: mapwait [--settle-ms N] [--cwd DIR] [--timeout-ms N] -- program [args...]\n",
               stderr);
    return 2;
}

} // namespace

int main(int argc, char *argv[])
{
    int settleMs = 1000;
    int timeoutMs = 20000;
    const char *cwd = nullptr;
    int first = 1;
    for (; first < argc; ++first) {
        const std::string arg = argv[first];
        if (arg == "--") {
            ++first;
            break;
        }
        if (first + 1 >= argc)
            return usage();
        if (arg == "--settle-ms")
            settleMs = std::atoi(argv[++first]);
        else if (arg == "--timeout-ms")
            timeoutMs = std::atoi(argv[++first]);
        else if (arg == "--cwd")
            cwd = argv[++first];
        else
            return usage();
    }
    if (first >= argc)
        return usage();

    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fputs("mapwait: cannot open the X display\n", stderr);
        return 1;
    }
    XSetErrorHandler(ignoreXErrors);
    const Window root = DefaultRootWindow(display);
    const Atom netWmPid = XInternAtom(display, "_NET_WM_PID", False);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, True);

    const double started = nowMs();
    const pid_t child = fork();
    if (child < 0) {
        std::perror("mapwait: fork");
        return 1;
    }
    if (child == 0) {
        close(ConnectionNumber(display));
        if (cwd && chdir(cwd) != 0)
            _exit(126);
        execvp(argv[first], argv + first);
        _exit(127);
    }

    // Windows created since the start: on a private display they can only be the child's, which
    // covers a toolkit that sets no _NET_WM_PID.
    std::set<Window> created;
    double mappedAt = -1;
    double cpuAtMap = -1;
    pollfd pfd{ConnectionNumber(display), POLLIN, 0};
    while (mappedAt < 0) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == CreateNotify && event.xcreatewindow.parent == root) {
                created.insert(event.xcreatewindow.window);
            } else if (event.type == MapNotify && event.xmap.event == root &&
                       !event.xmap.override_redirect) {
                const Window window = event.xmap.window;
                const long pid = windowPid(display, window, netWmPid);
                if (pid == long(child) || (pid < 0 && created.count(window))) {
                    mappedAt = nowMs();
                    cpuAtMap = cpuMs(child);
                    break;
                }
            }
        }
        if (mappedAt >= 0)
            break;
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) {
            std::fprintf(stderr, "mapwait: %s ended before mapping a window (status %d)\n",
                         argv[first], status);
            return 1;
        }
        if (nowMs() - started > timeoutMs) {
            std::fprintf(stderr, "mapwait: no window of %s within %d ms\n", argv[first], timeoutMs);
            stopChild(child);
            return 1;
        }
        poll(&pfd, 1, 50);
    }

    usleep(useconds_t(settleMs) * 1000);
    const long rss = residentKb(child);
    stopChild(child);
    XCloseDisplay(display);
    std::printf("map_ms=%.1f rss_kb=%ld cpu_ms=%.1f\n", mappedAt - started, rss, cpuAtMap);
    return rss < 0 ? 1 : 0;
}
