// first_paint: how long a program takes from its start to its first window on the screen, mapped and painted.
//
//   first_paint [--runs N] -- PROGRAM [ARGS...]
//
// Runs on the X display named by DISPLAY (an Xvfb for measuring). For each run it starts the program, watches
// every top-level window the program creates through the X DAMAGE extension and stops the clock at the first
// drawing into a mapped window that shows more than a blank fill: the program's first painted frame. Then it
// ends the program and prints one line per run, "run K: mapped M ms, painted P ms", and with several runs the
// median, minimum and maximum.
//
// Exit status: 0 when every run painted a window, 1 when a run timed out (10 s) or the program ended first,
// 2 for bad usage or no display.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xdamage.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <poll.h>
#include <set>
#include <signal.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto Timeout = std::chrono::seconds(10);

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using ImageHandle = std::unique_ptr<XImage, ImageDestroyer>;

struct RunTimes {
    double mappedMs = 0;
    double paintedMs = 0;
};

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A window that shows at least three colours has been drawn by its program: a blank fill by the server or a
// cleared background has one.
bool ShowsContent(Display* display, Window window) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable)
        return false;
    const ImageHandle image(
        XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap));
    if (!image) return false;
    std::set<unsigned long> colours;
    for (int y = 0; y < image->height; y += 2)
        for (int x = 0; x < image->width; x += 2) {
            colours.insert(XGetPixel(image.get(), x, y));
            if (colours.size() >= 3) return true;
        }
    return false;
}

pid_t Start(char** argv) {
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[0], argv);
        std::perror(argv[0]);
        _exit(127);
    }
    return child;
}

void End(pid_t child) {
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
}

bool ChildEnded(pid_t child) {
    return waitpid(child, nullptr, WNOHANG) == child;
}

// Errors on windows that vanish between their creation and our request (a short-lived helper window) are
// expected; they must not end the watcher.
int IgnoreXError(Display*, XErrorEvent*) {
    return 0;
}

std::optional<RunTimes> MeasureRun(Display* display, int damageEvent, char** argv) {
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, True);

    std::set<Window> mapped;
    std::vector<Damage> damages;
    RunTimes times;
    const Clock::time_point start = Clock::now();
    const pid_t child = Start(argv);
    std::optional<RunTimes> result;

    while (!result && Clock::now() - start < Timeout) {
        if (XPending(display) == 0) {
            if (ChildEnded(child)) {
                std::fprintf(stderr, "first_paint: the program ended before it painted a window\n");
                XSelectInput(display, root, NoEventMask);
                return std::nullopt;
            }
            pollfd watched{ConnectionNumber(display), POLLIN, 0};
            poll(&watched, 1, 20);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == CreateNotify && event.xcreatewindow.parent == root) {
            // Watched from its creation, so that no drawing before we see it mapped is missed.
            damages.push_back(XDamageCreate(display, event.xcreatewindow.window, XDamageReportNonEmpty));
        } else if (event.type == MapNotify && event.xmap.event == root) {
            if (mapped.empty()) times.mappedMs = MillisecondsSince(start);
            mapped.insert(event.xmap.window);
        } else if (event.type == damageEvent + XDamageNotify) {
            const auto& notify = reinterpret_cast<const XDamageNotifyEvent&>(event);
            const double at = MillisecondsSince(start);
            XDamageSubtract(display, notify.damage, None, None);
            if (mapped.count(notify.drawable) && ShowsContent(display, notify.drawable)) {
                times.paintedMs = at;
                result = times;
            }
        }
    }
    for (const Damage damage : damages)
        XDamageDestroy(display, damage);
    XSelectInput(display, root, NoEventMask);
    XSync(display, True);
    if (!result)
        std::fprintf(stderr, "first_paint: no painted window within %lld s\n",
                     static_cast<long long>(Timeout.count()));
    End(child);
    return result;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Usage() {
    std::fprintf(stderr, "usage: first_paint [--runs N] -- PROGRAM [ARGS...]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int runs = 1;
    int k = 1;
    for (; k < argc && std::strcmp(argv[k], "--") != 0; ++k) {
        if (std::strcmp(argv[k], "--runs") == 0 && k + 1 < argc)
            runs = std::max(1, std::atoi(argv[++k]));
        else
            return Usage();
    }
    if (k + 1 >= argc) return Usage();
    char** program = argv + k + 1;

    const DisplayHandle display(XOpenDisplay(nullptr));
    if (!display) {
        std::fprintf(stderr, "first_paint: cannot open the display (DISPLAY=%s)\n",
                     std::getenv("DISPLAY") ? std::getenv("DISPLAY") : "");
        return 2;
    }
    int damageEvent = 0;
    int damageError = 0;
    if (!XDamageQueryExtension(display.get(), &damageEvent, &damageError)) {
        std::fprintf(stderr, "first_paint: the display has no DAMAGE extension\n");
        return 2;
    }
    XSetErrorHandler(IgnoreXError);

    std::vector<double> mapped;
    std::vector<double> painted;
    for (int run = 1; run <= runs; ++run) {
        const std::optional<RunTimes> times = MeasureRun(display.get(), damageEvent, program);
        if (!times) return 1;
        std::printf("run %d: mapped %.1f ms, painted %.1f ms\n", run, times->mappedMs, times->paintedMs);
        std::fflush(stdout);
        mapped.push_back(times->mappedMs);
        painted.push_back(times->paintedMs);
    }
    if (runs > 1) {
        std::printf("median: mapped %.1f ms, painted %.1f ms (painted min %.1f, max %.1f, %d runs)\n",
                    Median(mapped), Median(painted), *std::min_element(painted.begin(), painted.end()),
                    *std::max_element(painted.begin(), painted.end()), runs);
    }
    return 0;
}
