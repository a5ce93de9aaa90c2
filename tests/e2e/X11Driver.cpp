// Drives the real program in a real X session: launches it, finds its
// window, reads the caption and the pixels back from the X server, types with
// XTest and counts the bells the server rings.
//
//   pruvex_x11_driver SCENARIO -- COMMAND [ARGS...]
//
// The scenario's own arguments are appended to COMMAND. Prints one line per
// check and exits non-zero when any check failed.

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

const std::string FlatInstruction =
    " Adjust monitor brightness so properly exposed at 1/30s with lens wide open at lowest ISO.";
const std::string GridInstruction =
    " Take slightly out of focus images of the grid but with no white at 1/250s at each ISO.";

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
            kill(Child, SIGTERM);
            waitpid(Child, nullptr, 0);
        }
        XCloseDisplay(Dpy);
    }

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

    bool Alive() { return Child > 0 && waitpid(Child, nullptr, WNOHANG) == 0; }

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
        XResizeWindow(Dpy, Client, static_cast<unsigned>(width), static_cast<unsigned>(height));
        XSync(Dpy, False);
        return Poll([&] { return ClientSize() == std::pair{width, height}; });
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

  private:
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
};

std::function<Rgb(int, int)> Uniform(Rgb colour) {
    return [colour](int, int) { return colour; };
}

// The mosaic in drawing-area pixels: square (row, col) covers
// [1 + P/2 + P*col, 1 + P/2 + P*(col + 1)) across, likewise down.
std::function<Rgb(int, int)> Grid(int pitch, int gridLevel) {
    return [=](int x, int y) {
        if (pitch <= 0) {
            return Rgb{255, 255, 255};
        }
        const int start = 1 + pitch / 2;
        const int col = x >= start ? (x - start) / pitch : -1;
        const int row = y >= start ? (y - start) / pitch : -1;
        if (col < 0 || col >= 11 || row < 0 || row >= 7) {
            return Rgb{255, 255, 255};
        }
        return Level(gridLevel + 4 * (row * 11 + col));
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

} // namespace

int main(int argc, char** argv) {
    if (argc < 4 || std::strcmp(argv[2], "--") != 0) {
        std::fprintf(stderr, "usage: %s SCENARIO -- COMMAND [ARGS...]\n", argv[0]);
        return 2;
    }
    const std::string scenario = argv[1];
    Session session(std::vector<std::string>(argv + 3, argv + argc));
    if (scenario == "startup") {
        Startup(session);
    } else if (scenario == "arguments") {
        Arguments(session);
    } else if (scenario == "keys") {
        Keys(session);
    } else if (scenario == "grid") {
        GridMosaic(session);
    } else if (scenario == "scaled") {
        Scaled(session);
    } else {
        std::fprintf(stderr, "unknown scenario %s\n", scenario.c_str());
        return 2;
    }
    std::printf("%d passed, %d failed\n", passes, failures);
    return failures == 0 ? 0 : 1;
}
