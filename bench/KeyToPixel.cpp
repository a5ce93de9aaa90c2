// Typed key to changed pixel, full screen, on the X server of DISPLAY: the
// program given, against a floor of a plain window whose background the
// server fills itself. Also the program's peak resident memory.
//   pruvex_key_to_pixel PROGRAM [PRESSES]
// Run it in a private session: bench/key-to-pixel.sh.

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

unsigned long CentrePixel(Display* display) {
    const Window root = DefaultRootWindow(display);
    XWindowAttributes a{};
    XGetWindowAttributes(display, root, &a);
    XImage* image = XGetImage(display, root, a.width / 2, a.height / 2, 1, 1, AllPlanes, ZPixmap);
    if (image == nullptr) {
        return 0;
    }
    const unsigned long pixel = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return pixel;
}

bool WaitForChange(Display* display, unsigned long from, double seconds) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        if (CentrePixel(display) != from) {
            return true;
        }
    }
    return false;
}

// A window in the window manager's full-screen state whose background the
// server fills: each key press changes its colour.
[[noreturn]] void Floor() {
    Display* display = XOpenDisplay(nullptr);
    XWindowAttributes root{};
    XGetWindowAttributes(display, DefaultRootWindow(display), &root);
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0,
                                              static_cast<unsigned>(root.width),
                                              static_cast<unsigned>(root.height), 0, 0, 0x404040);
    const Atom state = XInternAtom(display, "_NET_WM_STATE", False);
    Atom fullScreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
    XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                    reinterpret_cast<unsigned char*>(&fullScreen), 1);
    XSelectInput(display, window, KeyPressMask);
    XMapWindow(display, window);
    // Once the window manager has framed and placed it.
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XFlush(display);
    unsigned long level = 0x40;
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == KeyPress) {
            level = level == 0x40 ? 0x80 : 0x40;
            XSetWindowBackground(display, window, level << 16 | level << 8 | level);
            XClearWindow(display, window);
            XFlush(display);
        }
    }
}

// Key to pixel over the presses, alternating two keys; the times in ms.
std::vector<double> Measure(Display* display, int presses) {
    const KeyCode keys[] = {XKeysymToKeycode(display, XK_KP_Add),
                            XKeysymToKeycode(display, XK_KP_Subtract)};
    std::vector<double> times;
    for (int i = 0; i < presses; ++i) {
        const unsigned long before = CentrePixel(display);
        const auto start = Clock::now();
        XTestFakeKeyEvent(display, keys[i % 2], True, 0);
        XTestFakeKeyEvent(display, keys[i % 2], False, 0);
        XFlush(display);
        if (!WaitForChange(display, before, 2.0)) {
            std::fprintf(stderr, "key-to-pixel: press %d changed nothing\n", i);
            continue;
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
    return times;
}

void Report(const char* what, std::vector<double> times) {
    if (times.empty()) {
        std::printf("%-8s no measurement\n", what);
        return;
    }
    std::sort(times.begin(), times.end());
    std::printf("%-8s key to pixel: median %.2f ms, best %.2f ms, worst %.2f ms (%zu presses)\n",
                what, times[times.size() / 2], times.front(), times.back(), times.size());
}

long PeakKilobytes(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return -1;
}

pid_t Start(const std::vector<std::string>& command) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        for (const std::string& word : command) {
            argv.push_back(const_cast<char*>(word.c_str()));
        }
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

void Stop(pid_t pid) {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: pruvex_key_to_pixel PROGRAM [PRESSES]\n");
        return 2;
    }
    const int presses = argc > 2 ? std::atoi(argv[2]) : 60;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "key-to-pixel: no X display\n");
        return 1;
    }
    const unsigned long empty = CentrePixel(display);

    const pid_t floor = fork();
    if (floor == 0) {
        Floor();
    }
    WaitForChange(display, empty, 5.0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Report("floor", Measure(display, presses));
    Stop(floor);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    // The flat field, then the mosaic: the grid's 78 rectangles against one.
    for (const bool grid : {false, true}) {
        std::vector<std::string> command = {argv[1], "--fullscreen", "100", "5"};
        if (grid) {
            command.emplace_back("--grid");
        }
        const pid_t program = Start(command);
        WaitForChange(display, CentrePixel(display), 10.0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        Report(grid ? "grid" : "flat", Measure(display, presses));
        std::printf("%-8s peak resident memory: %.1f MB\n", grid ? "grid" : "flat",
                    static_cast<double>(PeakKilobytes(program)) / 1024.0);
        Stop(program);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
    }
    XCloseDisplay(display);
    return 0;
}
