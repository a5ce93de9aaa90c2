// Drives the real program in a real X session: launches it, finds its
// window, reads the caption and the pixels back from the X server, types with
// XTest and counts the bells the server rings.
//
//   pruvex_x11_driver SCENARIO -- COMMAND [ARGS...]
//
// The scenario's own arguments are appended to COMMAND. Prints one line per
// check and exits non-zero when any check failed.

#include "Captions.h"
#include "GridModel.h"
#include "KeyModel.h"
#include "pattern/LevelColour.h"
#include "pattern/PatternState.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto PollTimeout = std::chrono::seconds(15);
constexpr int Frame = 2;

using pruvex::testing::FlatInstruction;
using pruvex::testing::GridInstruction;

struct Rgb {
    int R, G, B;
    bool operator==(const Rgb&) const = default;
};

Rgb Level(int level) {
    const pruvex::Colour c = pruvex::LevelColour(static_cast<std::int16_t>(level), {});
    return {c.Red, c.Green, c.Blue};
}

std::string FlatCaption(int level) {
    return "Flat @" + std::to_string(level) + ":" + FlatInstruction;
}
std::string GridCaption(int level) {
    return "Grid @" + std::to_string(level) + ":" + GridInstruction;
}

int failures = 0;
int passes = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
    (ok ? passes : failures)++;
}

int IgnoreErrors(Display*, XErrorEvent*) {
    return 0;
}

class Session {
  public:
    explicit Session(std::vector<std::string> command) : Command(std::move(command)) {
        XSetErrorHandler(IgnoreErrors);
        Dpy = XOpenDisplay(nullptr);
        if (Dpy == nullptr) {
            std::fprintf(stderr, "driver: cannot open display\n");
            std::exit(2);
        }
        Root = DefaultRootWindow(Dpy);
        int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
        if (!XkbQueryExtension(Dpy, &opcode, &XkbEventBase, &error, &major, &minor)) {
            std::fprintf(stderr, "driver: no XKB extension\n");
            std::exit(2);
        }
        XkbSelectEvents(Dpy, XkbUseCoreKbd, XkbBellNotifyMask, XkbBellNotifyMask);
        WaitForWindowManager();
    }

    ~Session() {
        if (Child > 0) {
            kill(-Child, SIGTERM); // the program and any wrapper around it
            waitpid(Child, nullptr, 0);
        }
        if (Dpy != nullptr) {
            XCloseDisplay(Dpy);
        }
    }

    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void SetResource(const std::string& resources) {
        XChangeProperty(Dpy, Root, XA_RESOURCE_MANAGER, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(resources.c_str()),
                        static_cast<int>(resources.size()));
        XSync(Dpy, False);
    }

    void Launch(const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment = {}) {
        std::vector<std::string> all = Command;
        all.insert(all.end(), arguments.begin(), arguments.end());
        Child = fork();
        if (Child == 0) {
            setpgid(0, 0);
            for (const std::string& setting : environment) {
                putenv(strdup(setting.c_str()));
            }
            std::vector<char*> argv;
            argv.reserve(all.size() + 1);
            for (std::string& a : all) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            std::perror("driver: exec");
            _exit(127);
        }
        const auto found = Poll([&] {
            Client = FindClient(Root);
            return Client != None;
        });
        if (!found) {
            std::fprintf(stderr, "driver: the program's window did not appear\n");
            std::exit(1);
        }
        // Wait until the window is mapped and its first picture is drawn.
        Poll([&] {
            XWindowAttributes a{};
            return XGetWindowAttributes(Dpy, Client, &a) && a.map_state == IsViewable;
        });
        XRaiseWindow(Dpy, Client);
        FocusClient();
    }

    // Typed keys go to the focused window: give the focus to the program's
    // window until the server reports it there (the window manager may still
    // be settling its own focus for the new window).
    void FocusClient() {
        Poll([&] {
            Window focus = None;
            int revert = 0;
            XGetInputFocus(Dpy, &focus, &revert);
            if (focus == Client) {
                return true;
            }
            XSetInputFocus(Dpy, Client, RevertToParent, CurrentTime);
            XSync(Dpy, False);
            return false;
        });
    }

    bool Alive() { return !WaitForExit(std::chrono::milliseconds(0)).has_value(); }

    // The program's exit status (128 + signal number after a signal) once it
    // has ended within the time given, or nothing while it still runs.
    std::optional<int> WaitForExit(std::chrono::milliseconds limit) {
        if (Child <= 0) {
            return ExitStatus;
        }
        const auto end = Clock::now() + limit;
        for (;;) {
            int status = 0;
            if (waitpid(Child, &status, WNOHANG) == Child) {
                Child = -1;
                ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                return ExitStatus;
            }
            if (Clock::now() >= end) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // The program's peak resident memory so far (VmHWM), in KiB; 0 if unknown.
    // The process is the one that owns the window, which under a wrapper
    // (Wine's) is not the process launched.
    long PeakMemoryKiB() {
        std::ifstream status("/proc/" + std::to_string(WindowPid()) + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("VmHWM:", 0) == 0) {
                return std::strtol(line.c_str() + 6, nullptr, 10);
            }
        }
        return 0;
    }

    // What the window manager's close button does: WM_DELETE_WINDOW.
    void Close() {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = Client;
        event.xclient.message_type = XInternAtom(Dpy, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(Dpy, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(Dpy, Client, False, NoEventMask, &event);
        XSync(Dpy, False);
    }

    bool Viewable() {
        XWindowAttributes a{};
        return XGetWindowAttributes(Dpy, Client, &a) && a.map_state == IsViewable;
    }

    bool Minimise() {
        XIconifyWindow(Dpy, Client, DefaultScreen(Dpy));
        XSync(Dpy, False);
        return Poll([&] { return !Viewable(); });
    }

    // Back from the taskbar: the window manager maps and activates it.
    bool Restore() {
        SendToWindowManager("_NET_ACTIVE_WINDOW", 1, CurrentTime);
        if (!Poll([&] { return Viewable(); })) {
            return false;
        }
        FocusClient();
        return true;
    }

    // Maximised (true) or back to its size before (false), through
    // _NET_WM_STATE; true once the client size has changed.
    bool Maximise(bool on) {
        const auto before = ClientSize();
        const long action = on ? 1 : 0; // _NET_WM_STATE_ADD, _NET_WM_STATE_REMOVE
        SendToWindowManager(
            "_NET_WM_STATE", action,
            static_cast<long>(XInternAtom(Dpy, "_NET_WM_STATE_MAXIMIZED_VERT", False)),
            static_cast<long>(XInternAtom(Dpy, "_NET_WM_STATE_MAXIMIZED_HORZ", False)));
        return Poll([&] { return ClientSize() != before; });
    }

    void MoveTo(int x, int y) {
        XMoveWindow(Dpy, Client, x, y);
        XSync(Dpy, False);
    }

    // The X server has gone (a scenario killed it): the connection must not
    // be used again, not even to close it.
    void ServerGone() { Dpy = nullptr; }

    // The process that owns the window, as it says itself (_NET_WM_PID).
    pid_t WindowPid() {
        const Atom netPid = XInternAtom(Dpy, "_NET_WM_PID", False);
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        pid_t pid = Child;
        if (XGetWindowProperty(Dpy, Client, netPid, 0, 1, False, XA_CARDINAL, &type, &format,
                               &count, &after, &data) == Success &&
            data != nullptr) {
            if (count == 1 && format == 32) {
                pid = static_cast<pid_t>(*reinterpret_cast<unsigned long*>(data));
            }
            XFree(data);
        }
        return pid;
    }

    std::pair<int, int> ClientSize() {
        XWindowAttributes a{};
        XGetWindowAttributes(Dpy, Client, &a);
        return {a.width, a.height};
    }

    std::string Caption() { return Caption(Client); }

    bool WaitForCaption(const std::string& expected) {
        return Poll([&] { return Caption() == expected; });
    }

    // Waits until every pixel of the drawing area (inside the 2-pixel frame)
    // matches; returns the first difference, or an empty text.
    std::string WaitForPicture(const std::function<Rgb(int, int)>& expected) {
        std::string difference;
        Poll([&] {
            difference = CompareDrawingArea(expected);
            return difference.empty();
        });
        return difference;
    }

    void Type(const std::string& text) {
        for (const char c : text) {
            TypeCharacter(c);
        }
        XSync(Dpy, False);
    }

    void TypeKeysym(KeySym keysym, bool shift = false) {
        const KeyCode code = XKeysymToKeycode(Dpy, keysym);
        const KeyCode shiftCode = XKeysymToKeycode(Dpy, XK_Shift_L);
        if (shift) {
            XTestFakeKeyEvent(Dpy, shiftCode, True, CurrentTime);
        }
        XTestFakeKeyEvent(Dpy, code, True, CurrentTime);
        XTestFakeKeyEvent(Dpy, code, False, CurrentTime);
        if (shift) {
            XTestFakeKeyEvent(Dpy, shiftCode, False, CurrentTime);
        }
        XSync(Dpy, False);
    }

    void ClickAt(int x, int y) {
        int rootX = 0, rootY = 0;
        Window child = None;
        XTranslateCoordinates(Dpy, Client, Root, x, y, &rootX, &rootY, &child);
        XTestFakeMotionEvent(Dpy, -1, rootX, rootY, CurrentTime);
        XTestFakeButtonEvent(Dpy, 1, True, CurrentTime);
        XTestFakeButtonEvent(Dpy, 1, False, CurrentTime);
        XSync(Dpy, False);
    }

    bool Resize(int width, int height) {
        RequestSize(width, height);
        return Poll([&] { return ClientSize() == std::pair{width, height}; });
    }

    // Asks for a size without waiting for it (the server or the window
    // manager may refuse it).
    void RequestSize(int width, int height) {
        XResizeWindow(Dpy, Client, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XSync(Dpy, False);
    }

    // Bells rung since the last call.
    int TakeBells() {
        XSync(Dpy, False);
        int bells = 0;
        while (XPending(Dpy) > 0) {
            XEvent event;
            XNextEvent(Dpy, &event);
            if (event.type == XkbEventBase) {
                const auto* xkb = reinterpret_cast<XkbAnyEvent*>(&event);
                if (xkb->xkb_type == XkbBellNotify) {
                    ++bells;
                }
            }
        }
        return bells;
    }

    static bool Poll(const std::function<bool()>& condition) {
        const auto end = Clock::now() + PollTimeout;
        while (Clock::now() < end) {
            if (condition()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return condition();
    }

  private:
    void SendToWindowManager(const char* message, long l0, long l1 = 0, long l2 = 0) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = Client;
        event.xclient.message_type = XInternAtom(Dpy, message, False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = l0;
        event.xclient.data.l[1] = l1;
        event.xclient.data.l[2] = l2;
        event.xclient.data.l[3] = 1; // from an application
        XSendEvent(Dpy, Root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XSync(Dpy, False);
    }

    void WaitForWindowManager() {
        const Atom check = XInternAtom(Dpy, "_NET_SUPPORTING_WM_CHECK", False);
        Poll([&] {
            Atom type = None;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            XGetWindowProperty(Dpy, Root, check, 0, 1, False, XA_WINDOW, &type, &format, &count,
                               &after, &data);
            const bool ready = data != nullptr && count == 1;
            if (data != nullptr) {
                XFree(data);
            }
            return ready;
        });
    }

    std::string Caption(Window window) {
        const Atom netName = XInternAtom(Dpy, "_NET_WM_NAME", False);
        const Atom utf8 = XInternAtom(Dpy, "UTF8_STRING", False);
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        std::string text;
        if (XGetWindowProperty(Dpy, window, netName, 0, 4096, False, utf8, &type, &format, &count,
                               &after, &data) == Success &&
            data != nullptr) {
            text.assign(reinterpret_cast<char*>(data), count);
            XFree(data);
            return text;
        }
        char* name = nullptr;
        if (XFetchName(Dpy, window, &name) && name != nullptr) {
            text = name;
            XFree(name);
        }
        return text;
    }

    Window FindClient(Window window) {
        const std::string caption = Caption(window);
        if (caption.rfind("Flat @", 0) == 0 || caption.rfind("Grid @", 0) == 0) {
            return window;
        }
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        Window found = None;
        if (XQueryTree(Dpy, window, &rootReturn, &parent, &children, &count)) {
            for (unsigned int i = 0; i < count && found == None; ++i) {
                found = FindClient(children[i]);
            }
            if (children != nullptr) {
                XFree(children);
            }
        }
        return found;
    }

    std::string CompareDrawingArea(const std::function<Rgb(int, int)>& expected) {
        const auto [width, height] = ClientSize();
        const int w = width - 2 * Frame;
        const int h = height - 2 * Frame;
        if (w <= 0 || h <= 0) {
            return {};
        }
        XImage* image = XGetImage(Dpy, Client, Frame, Frame, static_cast<unsigned>(w),
                                  static_cast<unsigned>(h), AllPlanes, ZPixmap);
        if (image == nullptr) {
            return "no image";
        }
        std::string difference;
        for (int y = 0; y < h && difference.empty(); ++y) {
            for (int x = 0; x < w; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                const Rgb got{static_cast<int>((pixel & image->red_mask) >> 16),
                              static_cast<int>((pixel & image->green_mask) >> 8),
                              static_cast<int>(pixel & image->blue_mask)};
                const Rgb want = expected(x, y);
                if (!(got == want)) {
                    char line[160];
                    std::snprintf(line, sizeof line, "at %d,%d got (%d,%d,%d) want (%d,%d,%d)", x,
                                  y, got.R, got.G, got.B, want.R, want.G, want.B);
                    difference = line;
                    break;
                }
            }
        }
        XDestroyImage(image);
        return difference;
    }

    void TypeCharacter(char c) {
        KeySym keysym = static_cast<unsigned char>(c);
        switch (c) {
        case '\t':
            keysym = XK_Tab;
            break;
        case '\r':
            keysym = XK_Return;
            break;
        case '\x1b':
            keysym = XK_Escape;
            break;
        default:
            break;
        }
        const KeyCode code = XKeysymToKeycode(Dpy, keysym);
        const bool shift = XkbKeycodeToKeysym(Dpy, code, 0, 0) != keysym;
        TypeKeysym(keysym, shift);
    }

    std::vector<std::string> Command;
    Display* Dpy = nullptr;
    Window Root = None;
    Window Client = None;
    int XkbEventBase = 0;
    pid_t Child = -1;
    std::optional<int> ExitStatus;
};

std::function<Rgb(int, int)> Uniform(Rgb colour) {
    return [colour](int, int) { return colour; };
}

std::function<Rgb(int, int)> Grid(int pitch, int gridLevel) {
    return [=](int x, int y) {
        const std::optional<int> level = pruvex::testing::ModelLevelAt(x, y, pitch, gridLevel);
        return level ? Level(*level) : Rgb{255, 255, 255};
    };
}

void Startup(Session& s) {
    s.Launch({});
    const auto size = s.ClientSize();
    Check(size == std::pair{776, 520}, "client area is 776 x 520 (got " +
                                           std::to_string(size.first) + " x " +
                                           std::to_string(size.second) + ")");
    Check(s.WaitForCaption(FlatCaption(212)), "caption is \"" + s.Caption() + "\"");
    const std::string difference = s.WaitForPicture(Uniform({212, 96, 145}));
    Check(difference.empty(), "drawing area is (212,96,145) throughout " + difference);
}

void Arguments(Session& s) {
    s.Launch({"5", "100"});
    Check(s.WaitForCaption(FlatCaption(100)), "\"5 100\" starts at level 100");
    std::string difference = s.WaitForPicture(Uniform(Level(100)));
    Check(difference.empty(), "level 100 colour throughout " + difference);
    s.Type("+");
    Check(s.WaitForCaption(FlatCaption(105)), "\"+\" raises by the step 5");
    difference = s.WaitForPicture(Uniform(Level(105)));
    Check(difference.empty(), "level 105 colour throughout " + difference);
}

void Keys(Session& s) {
    s.Launch({});
    Check(s.WaitForCaption(FlatCaption(212)), "starts at 212");
    s.TakeBells();
    s.Type("+");
    Check(s.WaitForCaption(FlatCaption(213)), "\"+\" raises to 213");
    std::string difference = s.WaitForPicture(Uniform({213, 97, 145}));
    Check(difference.empty(), "(213,97,145) throughout " + difference);
    s.Type("Q");
    s.Type("a");
    Check(s.WaitForCaption(FlatCaption(212)), "\"a\" lowers to 212");
    Check(s.TakeBells() == 1, "\"Q\" rings exactly one bell");
    s.Type("\t");
    s.TypeKeysym(XK_Left);
    s.TypeKeysym(XK_F5);
    s.Type("z");
    Check(s.WaitForCaption(FlatCaption(213)), "\"z\" raises to 213");
    Check(s.TakeBells() == 1, "Tab rings one bell, arrow and function keys none");
    s.ClickAt(300, 200);
    s.Type("-");
    Check(s.WaitForCaption(FlatCaption(212)), "a key after a click on the picture still works");
    Check(s.Alive(), "still running");
}

void GridMosaic(Session& s) {
    s.Launch({});
    Check(s.WaitForCaption(FlatCaption(212)), "starts in the flat field");
    s.Type("G");
    Check(s.WaitForCaption(GridCaption(25)), "\"G\" shows the grid caption");
    std::string difference = s.WaitForPicture(Grid(61, 25));
    Check(difference.empty(), "grid at pitch 61 exact " + difference);
    s.Type("+");
    Check(s.WaitForCaption(GridCaption(26)), "\"+\" raises the grid to 26");
    difference = s.WaitForPicture(Grid(61, 26));
    Check(difference.empty(), "grid from level 26 exact " + difference);
    Check(s.Resize(1000, 700), "window resized to 1000 x 700");
    difference = s.WaitForPicture(Grid(81, 26)); // dx 968/12 = 80.7, dy 668/8 = 83.5
    Check(difference.empty(), "grid redrawn at pitch 81 " + difference);
    Check(s.Resize(500, 30), "window resized to 500 x 30");
    difference = s.WaitForPicture(Grid(0, 26));
    Check(difference.empty(), "tiny window shows white " + difference);
    Check(s.Resize(776, 520), "window back at 776 x 520");
    s.Type("f");
    Check(s.WaitForCaption(FlatCaption(212)), "\"f\" returns to the flat field");
    difference = s.WaitForPicture(Uniform({212, 96, 145}));
    Check(difference.empty(), "no trace of the grid " + difference);
}

void Scaled(Session& s) {
    s.SetResource("Xft.dpi:\t192\n");
    s.Launch({}, {"QT_SCALE_FACTOR=2"});
    const auto size = s.ClientSize();
    Check(size == std::pair{776, 520}, "client area is 776 x 520 device pixels at 2x (got " +
                                           std::to_string(size.first) + " x " +
                                           std::to_string(size.second) + ")");
    const std::string difference = s.WaitForPicture(Uniform({212, 96, 145}));
    Check(difference.empty(), "colour exact at 2x " + difference);
}

std::string SizeText(std::pair<int, int> size) {
    return std::to_string(size.first) + " x " + std::to_string(size.second);
}

// The grid the program must show for its current client size.
std::function<Rgb(int, int)> GridFor(Session& s, int gridLevel) {
    const auto [width, height] = s.ClientSize();
    return Grid(static_cast<int>(pruvex::testing::ModelPitch(width, height)), gridLevel);
}

// Every key of the table and others that beep, in a fixed pseudo-random
// order that ends with a beep, so that the last bell marks the end.
std::string FloodText(int count, unsigned int seed) {
    std::string text;
    unsigned int random = seed;
    for (int i = 0; i < count - 1; ++i) {
        random = random * 1103515245U + 12345U;
        const unsigned int r = (random >> 16) % 100;
        const char* keys = r < 42 ? "-aA" : r < 84 ? "+zZ" : r < 90 ? "FfGg" : "Qq5?x/ ";
        text += keys[(random >> 8) % std::strlen(keys)];
    }
    return text + 'Q';
}

// Types the text into the program and into the model, each run of 1,000
// characters at full speed; after each run, waits until its bells have rung,
// so that the characters not yet taken do not pile up in the program's input
// queue (memory that is the windowing library's, not the program's). Returns
// the bells rung.
long TypeAndCountBells(Session& s, const std::string& text, pruvex::testing::KeyModel& model) {
    constexpr std::size_t Run = 1000;
    long bells = 0;
    for (std::size_t start = 0; start < text.size(); start += Run) {
        const std::string run = text.substr(start, Run);
        for (const char c : run) {
            model.Type(static_cast<unsigned char>(c));
        }
        s.Type(run);
        Session::Poll([&] {
            bells += s.TakeBells();
            return bells >= model.Beeps;
        });
    }
    return bells;
}

// 20,000 characters typed as fast as the server takes them, after a warm-up.
void Flood(Session& s) {
    s.Launch({});
    Check(s.WaitForCaption(FlatCaption(212)), "starts at 212");
    s.TakeBells();
    // The program's first use of each key, pattern and bell allocates for
    // good; the baseline is taken after a short flood of the same kind.
    pruvex::testing::KeyModel model;
    const long warmUpBells = TypeAndCountBells(s, FloodText(1000, 1000), model);
    Check(warmUpBells == model.Beeps, "warmed up with 1,000 characters");
    const long before = s.PeakMemoryKiB();

    constexpr int Count = 20000;
    model.Beeps = 0;
    const long bells = TypeAndCountBells(s, FloodText(Count, 20000), model);
    Check(bells == model.Beeps, std::to_string(Count) + " characters rang " +
                                    std::to_string(bells) + " bells, the model " +
                                    std::to_string(model.Beeps));
    const std::string caption =
        model.Grid ? GridCaption(model.GridLevel) : FlatCaption(model.FlatLevel);
    Check(s.WaitForCaption(caption), "caption is the model's \"" + caption.substr(0, 10) + "\"");
    const std::string difference = s.WaitForPicture(model.Grid ? GridFor(s, model.GridLevel)
                                                               : Uniform(Level(model.FlatLevel)));
    Check(difference.empty(), "picture is the model's " + difference);
    Check(s.TakeBells() == 0, "no bell after the last character");
    const long after = s.PeakMemoryKiB();
    Check(before > 0 && after - before < 2048,
          "peak memory " + std::to_string(before) + " KiB before, " + std::to_string(after) +
              " KiB after (grew " + std::to_string(after - before) + " KiB, limit 2048)");
    Check(s.Alive(), "still running");
}

// Both patterns must be exact at the window's present size.
void CheckBothPatterns(Session& s, const std::string& when) {
    const std::string size = SizeText(s.ClientSize());
    s.Type("g");
    Check(s.WaitForCaption(GridCaption(25)), when + ": grid caption");
    std::string difference = s.WaitForPicture(GridFor(s, 25));
    Check(difference.empty(), when + ": grid exact at " + size + " " + difference);
    s.Type("f");
    Check(s.WaitForCaption(FlatCaption(212)), when + ": flat caption");
    difference = s.WaitForPicture(Uniform({212, 96, 145}));
    Check(difference.empty(), when + ": flat field exact at " + size + " " + difference);
}

// From no size at all up to 4096 x 4096, then minimised, maximised and
// restored: alive after each, both patterns exact after each. The X session
// needs a screen that holds the largest window (PRUVEX_XVFB_SCREEN).
// A Windows window keeps the system's minimum width (room for its caption
// buttons), which X does not know of; the Windows sweep leaves out the widths
// below it.
constexpr int WindowsMinimumWidth = 100;

void Sweep(Session& s, int minimumWidth) {
    s.Launch({});
    s.MoveTo(0, 0);
    const std::pair<int, int> sizes[] = {
        {0, 0},       {1, 1},       {2, 2},    {4, 4},    {5, 5},       {16, 800},
        {800, 24},    {800, 36},    {37, 37},  {100, 40}, {776, 520},   {1000, 700},
        {1920, 1080}, {2048, 2048}, {4096, 1}, {1, 4096}, {4095, 4093}, {4096, 4096}};
    for (const auto& [width, height] : sizes) {
        if (width < minimumWidth) {
            continue;
        }
        if (width == 0 || height == 0) {
            // X has no empty windows: the request is refused, the window stays.
            s.RequestSize(width, height);
            Check(s.Alive(), "alive after asking for " + SizeText({width, height}) + " (now " +
                                 SizeText(s.ClientSize()) + ")");
        } else {
            const bool resized = s.Resize(width, height);
            Check(resized, "resized to " + SizeText({width, height}) + " (got " +
                               SizeText(s.ClientSize()) + ")");
            Check(s.Alive(), "alive at " + SizeText(s.ClientSize()));
        }
        CheckBothPatterns(s, SizeText({width, height}));
    }
    Check(s.Resize(776, 520), "back at 776 x 520");
    Check(s.Minimise(), "minimised");
    Check(s.Alive(), "alive while minimised");
    Check(s.Restore(), "restored from minimised");
    CheckBothPatterns(s, "restored from minimised");
    const bool maximised = s.Maximise(true);
    Check(maximised, "maximised (" + SizeText(s.ClientSize()) + ")");
    Check(s.Alive(), "alive maximised");
    CheckBothPatterns(s, "maximised");
    const bool restored = s.Maximise(false);
    Check(restored, "restored from maximised (" + SizeText(s.ClientSize()) + ")");
    CheckBothPatterns(s, "restored from maximised");
}

// The window manager's close button ends the program at once, successfully.
void CloseWindow(Session& s) {
    s.Launch({});
    s.Type("G+f-");
    Check(s.WaitForCaption(FlatCaption(211)), "keys taken");
    s.Close();
    const std::optional<int> status = s.WaitForExit(std::chrono::seconds(1));
    Check(status.has_value(), "ended within a second of the close request");
    Check(status == 0, "exit status 0 (got " + (status ? std::to_string(*status) : "none") + ")");
}

// The X server dies under the program: it must end, neither hanging nor
// spinning on a dead connection.
void KillServer(Session& s) {
    const char* server = std::getenv("PRUVEX_XVFB_PID");
    if (server == nullptr) {
        Check(false, "PRUVEX_XVFB_PID names the X server (run under run-under-x.sh)");
        return;
    }
    s.Launch({});
    Check(s.WaitForCaption(FlatCaption(212)), "running");
    kill(static_cast<pid_t>(std::strtol(server, nullptr, 10)), SIGKILL);
    s.ServerGone();
    const std::optional<int> status = s.WaitForExit(std::chrono::seconds(5));
    Check(status.has_value(), "ended within 5 s of the X server's death (status " +
                                  (status ? std::to_string(*status) : "none") + ")");
}

// A session of keys, resizes and mode switches ended with the close button,
// for a system-call trace of the program (run it under strace).
void QuietSession(Session& s) {
    s.Launch({"3", "100"});
    Check(s.WaitForCaption(FlatCaption(100)), "running");
    s.Type("++-zaQ");
    Check(s.WaitForCaption(FlatCaption(103)), "flat keys");
    s.Type("G+++-");
    Check(s.WaitForCaption(GridCaption(27)), "grid keys");
    for (const auto& [width, height] : {std::pair{1000, 700}, {300, 200}, {10, 10}, {776, 520}}) {
        Check(s.Resize(width, height), "resized to " + SizeText({width, height}));
    }
    Check(s.WaitForPicture(GridFor(s, 27)).empty(), "grid exact");
    s.Type("fgF");
    Check(s.WaitForPicture(Uniform(Level(103))).empty(), "flat field exact");
    s.Close();
    const std::optional<int> status = s.WaitForExit(std::chrono::seconds(10));
    Check(status == 0, "closed with status 0");
}

} // namespace

int main(int argc, char** argv) {
    using Scenario = std::function<void(Session&)>;
    const std::pair<const char*, Scenario> scenarios[] = {
        {"startup", Startup},
        {"arguments", Arguments},
        {"keys", Keys},
        {"grid", GridMosaic},
        {"scaled", Scaled},
        {"flood", Flood},
        {"sweep", [](Session& s) { Sweep(s, 0); }},
        {"windows_sweep", [](Session& s) { Sweep(s, WindowsMinimumWidth); }},
        {"close", CloseWindow},
        {"killx", KillServer},
        {"quiet", QuietSession},
    };
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
        std::fprintf(stderr, "usage: %s SCENARIO -- COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    const Scenario* run = nullptr;
    for (const auto& [name, scenario] : scenarios) {
        if (std::strcmp(argv[1], name) == 0) {
            run = &scenario;
        }
    }
    if (run == nullptr) {
        std::fprintf(stderr, "unknown scenario %s\n", argv[1]);
        return 2;
    }
    Session session(std::vector<std::string>(argv + 3, argv + argc));
    (*run)(session);
    std::printf("%d passed, %d failed\n", passes, failures);
    return failures == 0 ? 0 : 1;
}
