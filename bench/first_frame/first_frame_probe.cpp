// first_frame_probe: how long programs take from exec to their first frame
// on the X server, and how much memory they use at most.
//
//   first_frame_probe RUNS -- PROGRAM_A [ARGS...] [-- PROGRAM_B [ARGS...]] ...
//
// Each program is started RUNS times, the programs taking turns (each turn
// starting with the next program). A run's
// time goes from just before the program is spawned to the moment DAMAGE
// has reported drawing over every pixel of the first top-level window the
// program made and mapped: its first whole frame. (Windows it makes but
// never maps, as Wine's helpers do, never count. The probe watches the root window,
// which DAMAGE also reports its children's drawing to; a window without a
// background draws nothing by being mapped. Drawing reported after the
// window is gone does not count.) The probe then sends the window
// WM_DELETE_WINDOW, waits for the program to end, and reads its peak
// resident memory from the kernel.
//
// Prints one line per run (ending with the start and the frame's time on the
// steady clock, CLOCK_MONOTONIC seconds) and a summary per program, NAME
// being the program and its arguments joined by ':':
//   program NAME median_ms M min_ms A max_ms B peak_rss_kib_median R peak_rss_kib_max S
// Exit status: 0 done, 1 a run failed (reason on stderr), 2 bad usage.
#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/deadline.h"
#include "tests/support/x11_delete_window.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

struct Run {
    double milliseconds = 0;
    double firstDamageMilliseconds = 0;
    long peakRssKib = 0;
    // The run's start and first whole frame on the steady clock (Linux's
    // CLOCK_MONOTONIC), for matching with what others saw meanwhile.
    double startSeconds = 0;
    double frameSeconds = 0;
};

// Which pixels of a window drawing has reached so far.
class Coverage {
public:
    void Reset(int x, int y, int width, int height) {
        x_ = x;
        y_ = y;
        width_ = std::max(width, 0);
        height_ = std::max(height, 0);
        cells_.assign(static_cast<std::size_t>(width_) * height_, 0);
        covered_ = 0;
    }
    // Adds a rectangle in root coordinates; true once all is covered.
    bool Add(int x, int y, int width, int height) {
        int left = std::max(x - x_, 0);
        int top = std::max(y - y_, 0);
        int right = std::min(x + width - x_, width_);
        int bottom = std::min(y + height - y_, height_);
        for (int row = top; row < bottom; ++row) {
            for (int column = left; column < right; ++column) {
                unsigned char& cell = cells_[static_cast<std::size_t>(row) * width_ + column];
                covered_ += cell == 0 ? 1 : 0;
                cell = 1;
            }
        }
        return Complete();
    }
    bool Complete() const { return width_ > 0 && covered_ == cells_.size(); }

private:
    int x_ = 0;
    int y_ = 0;
    int width_ = 0;
    int height_ = 0;
    std::vector<unsigned char> cells_;
    std::size_t covered_ = 0;
};

struct Program {
    std::vector<std::string> argv;
    std::vector<Run> runs;
    // The program and its arguments joined by ':', one word for the report.
    std::string Name() const {
        std::string name = argv[0];
        for (std::size_t i = 1; i < argv.size(); ++i) {
            name += ":" + argv[i];
        }
        return name;
    }
};

int damageEventBase = 0;

bool protocolError = false;
int OnError(Display*, XErrorEvent*) {
    protocolError = true;
    return 0;
}

// Waits for an event until `deadline`; false on timeout.
bool NextEvent(Display* display, XEvent* event, Clock::time_point deadline) {
    while (XPending(display) == 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd connection = {ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, static_cast<int>(left.count()));
    }
    XNextEvent(display, event);
    return true;
}

// Waits for the child to end, killing it after `seconds`; the peak RSS in
// KiB, or -1 if it failed.
long Reap(pid_t pid, int seconds, int* status) {
    rusage usage = {};
    auto deadline = Clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        pid_t done = wait4(pid, status, WNOHANG, &usage);
        if (done == pid) {
            return usage.ru_maxrss;
        }
        if (Clock::now() >= deadline) {
            kill(pid, SIGKILL);
            wait4(pid, status, 0, &usage);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

bool RunOnce(Display* display, Program& program, std::string* error) {
    Window root = DefaultRootWindow(display);
    Damage damage = XDamageCreate(display, root, XDamageReportRawRectangles);
    XSync(display, False);
    while (XPending(display) > 0) {
        XEvent stale;
        XNextEvent(display, &stale);
    }

    std::vector<char*> argv;
    for (std::string& arg : program.argv) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    Clock::time_point start = Clock::now();
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        XDamageDestroy(display, damage);
        *error = "cannot start " + program.argv[0];
        return false;
    }

    // The top-level windows made since the spawn, where they are, until
    // one is mapped: that one is the program's window.
    struct Place {
        int x, y, width, height;
    };
    std::map<Window, Place> made;
    Window window = 0;
    bool gone = false;
    bool drawn = false;
    bool damaged = false;
    Coverage coverage;
    Clock::time_point firstDamage;
    Clock::time_point firstFrame;
    // Only a fault waits this long; the time measured is the frame's.
    auto deadline = start + std::chrono::seconds(OSTREVANE_TEST_DEADLINE_SECONDS);
    while (!drawn && !gone) {
        XEvent event;
        if (!NextEvent(display, &event, deadline)) {
            break;
        }
        if (event.type == CreateNotify && event.xcreatewindow.parent == root && window == 0) {
            const XCreateWindowEvent& e = event.xcreatewindow;
            made[e.window] = {e.x, e.y, e.width, e.height};
        } else if (event.type == MapNotify && window == 0 && made.count(event.xmap.window) != 0) {
            window = event.xmap.window;
            const Place& at = made[window];
            coverage.Reset(at.x, at.y, at.width, at.height);
        } else if (event.type == ConfigureNotify && made.count(event.xconfigure.window) != 0) {
            const XConfigureEvent& e = event.xconfigure;
            made[e.window] = {e.x, e.y, e.width, e.height};
            if (e.window == window) {
                coverage.Reset(e.x, e.y, e.width, e.height);
            }
        } else if ((event.type == DestroyNotify && event.xdestroywindow.window == window) ||
                   (event.type == UnmapNotify && event.xunmap.window == window)) {
            gone = true;
        } else if (event.type == damageEventBase + XDamageNotify && window != 0) {
            const XRectangle& area = reinterpret_cast<XDamageNotifyEvent&>(event).area;
            if (!damaged) {
                firstDamage = Clock::now();
                damaged = true;
            }
            if (coverage.Add(area.x, area.y, area.width, area.height)) {
                firstFrame = Clock::now();
                drawn = true;
            }
        }
    }
    XDamageDestroy(display, damage);
    int status = 0;
    long peak = 0;
    if (drawn) {
        SendDeleteWindow(display, window);
        XFlush(display);
        peak = Reap(pid, OSTREVANE_TEST_DEADLINE_SECONDS, &status);
    } else {
        kill(pid, SIGKILL);
        Reap(pid, OSTREVANE_TEST_DEADLINE_SECONDS, &status);
    }
    if (!drawn) {
        *error = program.argv[0] + (gone ? " took its window away before drawing all of it"
                                         : " did not draw a whole frame within the deadline");
        return false;
    }
    if (peak < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        *error = program.argv[0] + " did not end cleanly after WM_DELETE_WINDOW";
        return false;
    }
    Run run;
    run.milliseconds = std::chrono::duration<double, std::milli>(firstFrame - start).count();
    run.firstDamageMilliseconds =
        std::chrono::duration<double, std::milli>(firstDamage - start).count();
    run.peakRssKib = peak;
    run.startSeconds = std::chrono::duration<double>(start.time_since_epoch()).count();
    run.frameSeconds = std::chrono::duration<double>(firstFrame.time_since_epoch()).count();
    program.runs.push_back(run);
    std::printf("run %s %.3f ms (first drawing %.3f ms) %ld KiB start_s %.6f frame_s %.6f\n",
                program.Name().c_str(), run.milliseconds, run.firstDamageMilliseconds, peak,
                run.startSeconds, run.frameSeconds);
    std::fflush(stdout);
    return true;
}

template <typename T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Usage() {
    std::fprintf(stderr, "usage: first_frame_probe RUNS -- PROGRAM [ARGS...] [-- PROGRAM ...]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
        return Usage();
    }
    int runs = std::atoi(argv[1]);
    if (runs < 1 || runs > 1000) {
        return Usage();
    }
    std::vector<Program> programs;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            programs.emplace_back();
        } else {
            programs.back().argv.push_back(argv[i]);
        }
    }
    for (const Program& program : programs) {
        if (program.argv.empty()) {
            return Usage();
        }
    }

    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "first_frame_probe: cannot open display\n");
        return 1;
    }
    int damageErrorBase = 0;
    if (!XDamageQueryExtension(display, &damageEventBase, &damageErrorBase)) {
        std::fprintf(stderr, "first_frame_probe: the X server has no DAMAGE extension\n");
        return 1;
    }
    int major = 1;
    int minor = 1;
    XDamageQueryVersion(display, &major, &minor);
    XSetErrorHandler(OnError);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);

    // Each turn starts with the next program, so that none always runs
    // right after the same one (or first, after the probe's own set-up).
    for (int i = 0; i < runs; ++i) {
        for (std::size_t k = 0; k < programs.size(); ++k) {
            Program& program = programs[(i + k) % programs.size()];
            std::string error;
            if (!RunOnce(display, program, &error)) {
                std::fprintf(stderr, "first_frame_probe: %s\n", error.c_str());
                return 1;
            }
        }
    }

    for (const Program& program : programs) {
        std::vector<double> times;
        std::vector<long> peaks;
        for (const Run& run : program.runs) {
            times.push_back(run.milliseconds);
            peaks.push_back(run.peakRssKib);
        }
        std::printf(
            "program %s median_ms %.3f min_ms %.3f max_ms %.3f peak_rss_kib_median %ld "
            "peak_rss_kib_max %ld\n",
            program.Name().c_str(), Median(times), *std::min_element(times.begin(), times.end()),
            *std::max_element(times.begin(), times.end()), Median(peaks),
            *std::max_element(peaks.begin(), peaks.end()));
    }
    XCloseDisplay(display);
    return 0;
}
