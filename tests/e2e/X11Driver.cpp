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
#include "app/Options.h"
#include "pattern/LevelColour.h"
#include "pattern/PatternState.h"
#include "tools/icon/PngFile.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/extensions/scrnsaver.h>
#include <xcb/present.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <mutex>
#include <optional>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
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
int skips = 0;

void Check(bool ok, const std::string& what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAIL", what.c_str());
    std::fflush(stdout);
    (ok ? passes : failures)++;
}

// What this environment cannot observe is said, not passed.
void Skip(const std::string& what, const std::string& reason) {
    std::printf("SKIPPED: %s (%s)\n", what.c_str(), reason.c_str());
    std::fflush(stdout);
    ++skips;
}

void Info(const std::string& what) {
    std::printf("info: %s\n", what.c_str());
    std::fflush(stdout);
}

// The program runs under Wine (PRUVEX_UNDER_WINE is set by the test).
bool UnderWine() {
    return std::getenv("PRUVEX_UNDER_WINE") != nullptr;
}

struct Rect {
    int X = 0, Y = 0, W = 0, H = 0;
    bool operator==(const Rect&) const = default;
    std::string Text() const {
        return std::to_string(W) + "x" + std::to_string(H) + "+" + std::to_string(X) + "+" +
               std::to_string(Y);
    }
};

// What a program run to its end printed, and its exit status.
struct RunResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;         // empty for a terminal, where both outputs go together
    bool MessageBox = false; // a window "Pruvex" came up instead (the program was ended)
};

// How a program run to its end gets its standard handles: as the scenarios
// run it (under Wine its standard output reaches the file through the pipe of
// wine-run.sh, its error output the file itself), files given to the
// program itself, or one pseudo-terminal for all three (under Wine a
// console, as when started from a terminal).
enum class Output { AsRun, Files, Terminal };

const char* OutputName(Output output) {
    return output == Output::AsRun ? "as run" : output == Output::Files ? "files" : "terminal";
}

// Text as a reader sees it: carriage returns and a terminal's escape
// sequences (CSI ... final byte, OSC ... BEL or ST) left out.
std::string ShownText(const std::string& raw) {
    std::string shown;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r') {
            continue;
        }
        if (raw[i] == '\x1b' && i + 1 < raw.size() && raw[i + 1] == '[') {
            i += 2;
            while (i < raw.size() && !(raw[i] >= 0x40 && raw[i] <= 0x7E)) {
                ++i;
            }
            continue;
        }
        if (raw[i] == '\x1b' && i + 1 < raw.size() && raw[i + 1] == ']') {
            const std::size_t bell = raw.find('\a', i);
            const std::size_t st = raw.find("\x1b\\", i + 2);
            const std::size_t end = std::min(bell, st == std::string::npos ? st : st + 1);
            i = end == std::string::npos ? raw.size() : end;
            continue;
        }
        shown += raw[i];
    }
    return shown;
}

// Appends what the terminal has within the wait; false when it had nothing.
bool ReadTerminal(int terminal, std::string& text, int milliseconds) {
    pollfd p{terminal, POLLIN, 0};
    if (poll(&p, 1, milliseconds) <= 0 || (p.revents & POLLIN) == 0) {
        return false;
    }
    char buffer[4096];
    const ssize_t got = read(terminal, buffer, sizeof buffer);
    if (got <= 0) {
        return false;
    }
    text.append(buffer, static_cast<std::size_t>(got));
    return true;
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

    // The program with its standard input and output on pipes of ours, for
    // the control channel.
    // Lines given in `early` wait in the pipe before the program starts.
    void LaunchControlled(const std::vector<std::string>& arguments,
                          const std::string& early = "") {
        int in[2];
        int out[2];
        if (pipe(in) != 0 || pipe(out) != 0) {
            std::perror("driver: pipe");
            std::exit(2);
        }
        if (!early.empty() && write(in[1], early.data(), early.size()) < 0) {
            std::perror("driver: write");
        }
        StdinFd = in[0];
        StdoutFd = out[1];
        Launch(arguments, {}, [&] {
            close(in[1]);
            close(out[0]);
        });
        close(in[0]);
        close(out[1]);
        StdinFd = -1;
        StdoutFd = -1;
        ToProgram = in[1];
        FromProgram = out[0];
    }

    void Launch(const std::vector<std::string>& arguments,
                const std::vector<std::string>& environment = {},
                const std::function<void()>& inChild = {}) {
        std::vector<std::string> all = Command;
        all.insert(all.end(), arguments.begin(), arguments.end());
        Child = fork();
        if (Child == 0) {
            setpgid(0, 0);
            if (inChild) {
                inChild();
            }
            if (StdinFd >= 0) {
                dup2(StdinFd, STDIN_FILENO);
                dup2(StdoutFd, STDOUT_FILENO);
                close(StdinFd);
                close(StdoutFd);
            }
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

    // Runs the command with the arguments to its end, its output captured.
    // With closeWindow, the program's window is closed once it is shown.
    RunResult Run(const std::vector<std::string>& arguments, Output output = Output::AsRun,
                  bool closeWindow = false) {
        std::vector<std::string> all = Command;
        all.insert(all.end(), arguments.begin(), arguments.end());
        char outName[] = "/tmp/pruvex-out-XXXXXX";
        char errName[] = "/tmp/pruvex-err-XXXXXX";
        const int outFd = mkstemp(outName);
        const int errFd = mkstemp(errName);
        int terminal = -1;
        std::string terminalName;
        if (output == Output::Terminal) {
            terminal = posix_openpt(O_RDWR | O_NOCTTY);
            if (terminal < 0 || grantpt(terminal) != 0 || unlockpt(terminal) != 0) {
                std::perror("driver: pseudo-terminal");
                std::exit(2);
            }
            terminalName = ptsname(terminal);
            // As wide as a terminal window may be: Wine's console breaks
            // lines at the terminal's width (80 columns when it has none).
            const winsize size{50, 300, 0, 0};
            ioctl(terminal, TIOCSWINSZ, &size);
        }
        const pid_t child = fork();
        if (child == 0) {
            if (terminal >= 0) {
                // A session of its own, whose controlling terminal this is.
                setsid();
                const int slave = open(terminalName.c_str(), O_RDWR);
                for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
                    dup2(slave, fd);
                }
                close(slave);
                close(terminal);
            } else {
                dup2(outFd, STDOUT_FILENO);
                dup2(errFd, STDERR_FILENO);
                const int null = open("/dev/null", O_RDONLY);
                dup2(null, STDIN_FILENO);
            }
            if (output != Output::AsRun) {
                // wine-run.sh hands the handles to Wine as they are.
                putenv(strdup("PRUVEX_WINE_DIRECT=1"));
            }
            std::vector<char*> argv;
            argv.reserve(all.size() + 1);
            for (std::string& a : all) {
                argv.push_back(a.data());
            }
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        std::string shown;
        bool messageBox = false;
        bool windowClosed = !closeWindow;
        Clock::time_point giveUp = Clock::time_point::max(); // once the window is closed
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (terminal < 0 || !ReadTerminal(terminal, shown, 50)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(terminal < 0 ? 50 : 0));
            }
            if (!windowClosed) {
                Client = FindClient(Root);
                if (Client != None && Viewable()) {
                    Close();
                    windowClosed = true;
                    giveUp = Clock::now() + PollTimeout;
                }
            }
            // Text that found nowhere to go waits in a message box for a
            // click that never comes.
            if (!messageBox && FindNamed(Root, "Pruvex") != None) {
                messageBox = true;
                kill(child, SIGKILL);
            }
            if (Clock::now() > giveUp) {
                kill(child, SIGKILL); // a window that does not close: the exit status tells
                giveUp = Clock::time_point::max();
            }
        }
        RunResult result;
        result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.MessageBox = messageBox;
        const auto slurp = [](const char* name) {
            std::ifstream file(name);
            std::stringstream text;
            text << file.rdbuf();
            return text.str();
        };
        if (terminal >= 0) {
            // What is still on its way: the terminal may stay open in Wine's
            // own processes, so no end of file comes.
            while (ReadTerminal(terminal, shown, 500)) {
            }
            close(terminal);
            result.Out = ShownText(shown);
        } else {
            result.Out = ShownText(slurp(outName));
            result.Err = ShownText(slurp(errName));
        }
        close(outFd);
        close(errFd);
        unlink(outName);
        unlink(errName);
        return result;
    }

    void SetRootProperty(const char* name, const std::string& value) {
        XChangeProperty(Dpy, Root, XInternAtom(Dpy, name, False), XA_CARDINAL, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(value.data()),
                        static_cast<int>(value.size()));
        XSync(Dpy, False);
    }

    void DeleteRootProperty(const char* name) {
        XDeleteProperty(Dpy, Root, XInternAtom(Dpy, name, False));
        XSync(Dpy, False);
    }

    // Owns a selection with a window of its own (true), or gives it up.
    void OwnSelection(const char* name, bool own) {
        if (own && Owner == None) {
            Owner = XCreateSimpleWindow(Dpy, Root, 0, 0, 1, 1, 0, 0, 0);
        }
        XSetSelectionOwner(Dpy, XInternAtom(Dpy, name, False), own ? Owner : None, CurrentTime);
        XSync(Dpy, False);
    }

    // Runs the command while a window of another program lies over the
    // rectangle of the screen: an override-redirect window, raised again and
    // again so that it stays above whatever the command maps.
    RunResult RunUnderOverlay(const std::vector<std::string>& arguments, const Rect& place) {
        Display* other = XOpenDisplay(nullptr);
        XSetWindowAttributes attributes{};
        attributes.override_redirect = True;
        attributes.background_pixel = 0xFF00FF;
        const ::Window overlay = XCreateWindow(
            other, DefaultRootWindow(other), place.X, place.Y, static_cast<unsigned>(place.W),
            static_cast<unsigned>(place.H), 0, CopyFromParent, InputOutput, CopyFromParent,
            CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised(other, overlay);
        XSync(other, False);
        std::atomic<bool> done{false};
        std::thread raiser([&] {
            while (!done) {
                XRaiseWindow(other, overlay);
                XSync(other, False);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
        RunResult result = Run(arguments);
        done = true;
        raiser.join();
        XDestroyWindow(other, overlay);
        XCloseDisplay(other);
        return result;
    }

    // The control channel: one line to the program.
    bool SendLine(const std::string& line) { return WriteAll(line + "\n"); }

    bool WriteAll(const std::string& bytes) {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(ToProgram, bytes.data() + done, bytes.size() - done);
            if (n <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    void EndInput() {
        close(ToProgram);
        ToProgram = -1;
    }

    int Input() const { return ToProgram; }

    // The next reply line, or nothing after the time given.
    std::optional<std::string> ReadReply(std::chrono::milliseconds limit = PollTimeout) {
        const auto end = Clock::now() + limit;
        for (;;) {
            const std::size_t newline = Replies.find('\n');
            if (newline != std::string::npos) {
                std::string line = Replies.substr(0, newline);
                Replies.erase(0, newline + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0) {
                return std::nullopt;
            }
            pollfd p{FromProgram, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                continue;
            }
            char buffer[65536];
            const ssize_t n = read(FromProgram, buffer, sizeof buffer);
            if (n <= 0) {
                return std::nullopt;
            }
            Replies.append(buffer, static_cast<std::size_t>(n));
        }
    }

    // The window's client area in root coordinates.
    Rect RootGeometry() {
        XWindowAttributes a{};
        XGetWindowAttributes(Dpy, Client, &a);
        int x = 0, y = 0;
        Window child = None;
        XTranslateCoordinates(Dpy, Client, Root, 0, 0, &x, &y, &child);
        return {x, y, a.width, a.height};
    }

    // The top-level window the window manager knows: the client itself,
    // or its ancestor below the frame.
    std::vector<long> CardinalProperty(const char* name) {
        std::vector<long> values;
        Atom type = None;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(Dpy, Client, XInternAtom(Dpy, name, False), 0, 64, False,
                               AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
            data != nullptr) {
            const auto* longs = reinterpret_cast<const long*>(data);
            values.assign(longs, longs + count);
            XFree(data);
        }
        return values;
    }

    bool HasState(const char* state) {
        const long atom = static_cast<long>(XInternAtom(Dpy, state, False));
        for (const long value : CardinalProperty("_NET_WM_STATE")) {
            if (value == atom) {
                return true;
            }
        }
        return false;
    }

    void MovePointer(int x, int y) {
        int rootX = 0, rootY = 0;
        Window child = None;
        XTranslateCoordinates(Dpy, Client, Root, x, y, &rootX, &rootY, &child);
        XTestFakeMotionEvent(Dpy, -1, rootX, rootY, CurrentTime);
        XSync(Dpy, False);
    }

    // The pointer's image is blank: every pixel fully transparent.
    bool PointerBlank() {
        int event = 0, error = 0;
        if (!XFixesQueryExtension(Dpy, &event, &error)) {
            return false;
        }
        int major = 5, minor = 0;
        XFixesQueryVersion(Dpy, &major, &minor);
        XFixesCursorImage* image = XFixesGetCursorImage(Dpy);
        if (image == nullptr) {
            return false;
        }
        bool blank = true;
        for (int i = 0; i < image->width * image->height; ++i) {
            blank = blank && (image->pixels[i] >> 24) == 0;
        }
        XFree(image);
        return blank;
    }

    // The server's screen saver: on after the seconds given without input.
    void SetScreenSaverTimeout(int seconds) {
        XSetScreenSaver(Dpy, seconds, seconds, DontPreferBlanking, AllowExposures);
        XSync(Dpy, False);
    }

    bool SaverActive() {
        XScreenSaverInfo* info = XScreenSaverAllocInfo();
        XScreenSaverQueryInfo(Dpy, Root, info);
        const bool on = info->state == ScreenSaverOn;
        XFree(info);
        return on;
    }

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

    // Writes the drawing area, as read back from the X server, to a PNG file.
    bool SaveDrawingArea(const std::string& path) {
        const auto [width, height] = ClientSize();
        const int w = width - 2 * Frame;
        const int h = height - 2 * Frame;
        XImage* image = w > 0 && h > 0
                            ? XGetImage(Dpy, Client, Frame, Frame, static_cast<unsigned>(w),
                                        static_cast<unsigned>(h), AllPlanes, ZPixmap)
                            : nullptr;
        if (image == nullptr) {
            return false;
        }
        std::vector<std::uint8_t> rgb;
        rgb.reserve(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                rgb.insert(rgb.end(), {static_cast<std::uint8_t>((pixel & image->red_mask) >> 16),
                                       static_cast<std::uint8_t>((pixel & image->green_mask) >> 8),
                                       static_cast<std::uint8_t>(pixel & image->blue_mask)});
            }
        }
        XDestroyImage(image);
        return pruvex::WritePng(path, w, h, rgb);
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
        // The property comes before the window manager takes map requests,
        // and a request made while it starts may be lost: a window of its
        // own, mapped again until it is managed (given WM_STATE), shows that
        // the window manager has started.
        const ::Window probe = XCreateSimpleWindow(Dpy, Root, 0, 0, 1, 1, 0, 0, 0);
        const Atom wmState = XInternAtom(Dpy, "WM_STATE", False);
        const auto managed = [&] {
            Atom type = None;
            int format = 0;
            unsigned long count = 0, after = 0;
            unsigned char* data = nullptr;
            XGetWindowProperty(Dpy, probe, wmState, 0, 2, False, AnyPropertyType, &type, &format,
                               &count, &after, &data);
            if (data != nullptr) {
                XFree(data);
            }
            return type != None;
        };
        const auto end = Clock::now() + PollTimeout;
        while (!managed() && Clock::now() < end) {
            XUnmapWindow(Dpy, probe);
            XMapWindow(Dpy, probe);
            XSync(Dpy, False);
            for (int wait = 0; wait < 10 && !managed(); ++wait) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        XDestroyWindow(Dpy, probe);
        XSync(Dpy, False);
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

    // The first window below `window` (itself included) whose caption the
    // test accepts.
    Window FindCaptioned(Window window, const std::function<bool(const std::string&)>& wanted) {
        if (wanted(Caption(window))) {
            return window;
        }
        Window rootReturn = None, parent = None;
        Window* children = nullptr;
        unsigned int count = 0;
        Window found = None;
        if (XQueryTree(Dpy, window, &rootReturn, &parent, &children, &count)) {
            for (unsigned int i = 0; i < count && found == None; ++i) {
                found = FindCaptioned(children[i], wanted);
            }
            if (children != nullptr) {
                XFree(children);
            }
        }
        return found;
    }

    Window FindNamed(Window window, const std::string& name) {
        return FindCaptioned(window, [&](const std::string& caption) { return caption == name; });
    }

    Window FindClient(Window window) {
        return FindCaptioned(window, [](const std::string& caption) {
            return caption.rfind("Flat @", 0) == 0 || caption.rfind("Grid @", 0) == 0;
        });
    }

  public:
    Rgb PixelAt(int x, int y) {
        XImage* image = XGetImage(Dpy, Client, x, y, 1, 1, AllPlanes, ZPixmap);
        if (image == nullptr) {
            return {-1, -1, -1};
        }
        const unsigned long pixel = XGetPixel(image, 0, 0);
        XDestroyImage(image);
        return {static_cast<int>((pixel >> 16) & 0xFF), static_cast<int>((pixel >> 8) & 0xFF),
                static_cast<int>(pixel & 0xFF)};
    }

    // The drawing area lies inside a frame of this width: 2 in a window,
    // 0 in full screen.
    void SetBorder(int border) { Border = border; }

    std::string CompareDrawingArea(const std::function<Rgb(int, int)>& expected) {
        const auto [width, height] = ClientSize();
        const int w = width - 2 * Border;
        const int h = height - 2 * Border;
        if (w <= 0 || h <= 0) {
            return {};
        }
        XImage* image = XGetImage(Dpy, Client, Border, Border, static_cast<unsigned>(w),
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

  private:
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
    int Border = Frame;
    int StdinFd = -1; // the child's ends of the control pipes while launching
    int StdoutFd = -1;
    int ToProgram = -1;
    int FromProgram = -1;
    std::string Replies;
    ::Window Owner = None;
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

// The README's pictures, read back from the real window into the folder
// PRUVEX_PICTURE_DIR: the flat field at start-up and the grid mosaic after
// "G", each saved once the picture is complete.
void Pictures(Session& s) {
    const char* folder = std::getenv("PRUVEX_PICTURE_DIR");
    if (folder == nullptr) {
        Check(false, "PRUVEX_PICTURE_DIR names the folder for the pictures");
        return;
    }
    s.Launch({});
    Check(s.WaitForCaption(FlatCaption(212)), "flat field at start-up");
    Check(s.WaitForPicture(Uniform(Level(212))).empty(), "flat field drawn");
    Check(s.SaveDrawingArea(std::string(folder) + "/flat.png"), "flat.png written");
    s.Type("G");
    Check(s.WaitForCaption(GridCaption(25)), "grid mosaic after \"G\"");
    Check(s.WaitForPicture(GridFor(s, 25)).empty(), "grid mosaic drawn");
    Check(s.SaveDrawingArea(std::string(folder) + "/grid.png"), "grid.png written");
}

// The two monitors of the two-monitor session (run-under-x.sh with
// PRUVEX_MONITORS=two), as the program numbers them.
const Rect MonitorOne{0, 0, 1920, 1200};
const Rect MonitorTwo{1920, 0, 1280, 1024};

// "N: NAME WxH+X+Y[ primary]" lines: the geometry and the marker, the name
// being the system's own.
std::vector<std::pair<Rect, bool>> ReadMonitorLines(const std::string& text) {
    std::vector<std::pair<Rect, bool>> monitors;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::size_t colon = line.find(": ");
        const std::size_t space = line.find(' ', colon + 2);
        Rect r;
        int number = 0;
        if (colon == std::string::npos || space == std::string::npos ||
            std::sscanf(line.c_str(), "%d", &number) != 1 ||
            std::sscanf(line.c_str() + space + 1, "%dx%d+%d+%d", &r.W, &r.H, &r.X, &r.Y) != 4 ||
            number != static_cast<int>(monitors.size()) + 1) {
            return {};
        }
        monitors.emplace_back(r, line.size() > 8 && line.substr(line.size() - 8) == " primary");
    }
    return monitors;
}

void Monitors(Session& s) {
    const RunResult listed = s.Run({"--list-monitors"});
    Check(listed.ExitCode == 0,
          "--list-monitors exits 0 (got " + std::to_string(listed.ExitCode) + ")");
    const auto monitors = ReadMonitorLines(listed.Out);
    Check(monitors.size() == 2 && monitors[0].first == MonitorOne && monitors[0].second &&
              monitors[1].first == MonitorTwo && !monitors[1].second,
          "two monitors, left to right, the first primary: \"" + listed.Out + "\"");
    for (const char* bad : {"--fullscreen=3", "--fullscreen=0", "--fullscreen=x"}) {
        const RunResult refused = s.Run({bad});
        const std::size_t lines =
            static_cast<std::size_t>(std::count(refused.Err.begin(), refused.Err.end(), '\n'));
        Check(refused.ExitCode == 2 && lines == 1 && refused.Out.empty(),
              std::string(bad) + ": exit 2 with one line (got " + std::to_string(refused.ExitCode) +
                  ", \"" + refused.Err + "\")");
    }
}

// What the program says outside its window (--version, --help,
// --list-monitors, the errors and the warning of a bad option, the --check
// report) reaches every kind of standard handle whole: files, the pipe of
// wine-run.sh, and a terminal (under Wine the console the program starts
// with). The texts are the shared options code's; the test is that each
// arrives.
void Texts(Session& s) {
    struct TextCase {
        std::vector<std::string> Arguments;
        bool OpensWindow; // closed by the driver, or by the program itself (--check)
        int ExitStatus;   // -1: the --check verdict's, 0 to 2
        std::string Out;  // the whole standard output, or "" when checked apart
        std::string Err;  // the whole error output
    };
    const auto answer = [](const char* arguments) {
        return pruvex::AnswerOptions(pruvex::ReadOptions(arguments), "Pruvex 1.00");
    };
    const std::string monitorError = "pruvex: there is no monitor 9; this desktop has ";
    const TextCase cases[] = {
        {{"--version"}, false, 0, "Pruvex 1.00\n", ""},
        {{"--help"}, false, 0, pruvex::UsageText, ""},
        {{"--fullscreen=x"}, false, 2, "", answer("--fullscreen=x").Err},
        {{"5", "--bogus"}, true, 0, "", answer("5 --bogus").Err},
        {{"--bogus", "--list-monitors"}, false, 0, "", answer("--bogus").Err},
        {{"--fullscreen=9"}, false, 2, "", monitorError},
        {{"--check"}, true, -1, "", ""},
    };
    std::vector<Output> outputs = {Output::Files, Output::Terminal};
    if (UnderWine()) {
        outputs.insert(outputs.begin(), Output::AsRun);
    }
    for (const Output output : outputs) {
        for (const TextCase& c : cases) {
            std::string what = "\"";
            for (const std::string& argument : c.Arguments) {
                what += argument;
                what += argument == c.Arguments.back() ? "\" (" : " ";
            }
            what += OutputName(output);
            what += "): ";
            const bool closes = c.OpensWindow && c.Arguments[0] != "--check";
            RunResult run = s.Run(c.Arguments, output, closes);
            if (output == Output::Terminal) {
                // Both outputs on one terminal: the error output's lines are
                // those that begin with the program's name.
                std::istringstream lines(run.Out);
                run.Out.clear();
                for (std::string line; std::getline(lines, line);) {
                    std::string& to = line.rfind("pruvex: ", 0) == 0 ? run.Err : run.Out;
                    to += line;
                    to += '\n';
                }
            }
            bool right = !run.MessageBox &&
                         (c.ExitStatus >= 0 ? run.ExitCode == c.ExitStatus : run.ExitCode <= 2);
            if (c.Arguments[0] == "--check") {
                const std::size_t verdict = run.Out.rfind("\nverdict: ");
                right = right && verdict != std::string::npos &&
                        run.Out.find('\n', verdict + 1) == run.Out.size() - 1;
                what += "the report ends in its verdict line";
            } else if (c.Arguments.back() == "--list-monitors") {
                right = right && !ReadMonitorLines(run.Out).empty() && run.Err == c.Err;
                what += "the monitors, and the warning on the error output";
            } else if (c.Err == monitorError) {
                right = right && run.Out.empty() && run.Err.rfind(monitorError, 0) == 0 &&
                        std::count(run.Err.begin(), run.Err.end(), '\n') == 1;
                what += "one error line";
            } else {
                right = right && run.Out == c.Out && run.Err == c.Err;
                what += "exit " + std::to_string(c.ExitStatus) + ", the whole text";
            }
            what += " (got ";
            what += run.MessageBox ? std::string("a message box") : std::to_string(run.ExitCode);
            what += ", \"" + run.Out;
            what += "\", \"" + run.Err;
            what += "\")";
            Check(right, what);
        }
    }
}

bool WaitForGeometry(Session& s, const Rect& expected) {
    return Session::Poll([&] { return s.RootGeometry() == expected; });
}

void CheckFullScreenOn(Session& s, const Rect& monitor, const std::string& when) {
    const bool covered = WaitForGeometry(s, monitor);
    Check(covered, when + ": client area covers " + monitor.Text() + " (got " +
                       s.RootGeometry().Text() + ")");
    // The window manager sets its properties as it gets to them, which on a
    // loaded machine can be after the window has its place.
    Check(Session::Poll([&] { return s.HasState("_NET_WM_STATE_FULLSCREEN"); }),
          when + ": _NET_WM_STATE_FULLSCREEN");
    Check(Session::Poll(
              [&] { return s.CardinalProperty("_NET_FRAME_EXTENTS") == std::vector<long>(4, 0); }),
          when + ": no frame (_NET_FRAME_EXTENTS all 0)");
}

// Started full screen on monitor 2, every pixel of it pattern; F11 and
// Escape leave and enter, giving back the window's place exactly.
void FullScreen(Session& s) {
    s.Launch({"--fullscreen=2", "--grid"});
    s.SetBorder(0);
    CheckFullScreenOn(s, MonitorTwo, "--fullscreen=2");
    const int pitch = static_cast<int>(pruvex::testing::ModelPitch(MonitorTwo.W, MonitorTwo.H));
    Check(pitch == 104, "1280 x 1024 gives pitch 104");
    std::string difference = s.WaitForPicture(Grid(pitch, 25));
    Check(difference.empty(), "grid exact over the whole monitor " + difference);
    s.Type("f");
    difference = s.WaitForPicture(Uniform(Level(212)));
    Check(difference.empty(), "flat field exact over the whole monitor " + difference);

    s.TakeBells();
    s.TypeKeysym(XK_F11);
    s.SetBorder(Frame);
    const bool left = Session::Poll([&] { return s.ClientSize() == std::pair{776, 520}; });
    Check(left, "F11 leaves to the 776 x 520 window (got " + SizeText(s.ClientSize()) + ")");
    Check(Session::Poll([&] { return !s.HasState("_NET_WM_STATE_FULLSCREEN"); }),
          "no longer full screen");
    // The move goes through the window manager: wait until it has landed
    // (the window may already stand anywhere but on monitor 2's left edge).
    const Rect beforeMove = s.RootGeometry();
    s.MoveTo(300, 200);
    Session::Poll([&] { return !(s.RootGeometry() == beforeMove); });
    const Rect window = s.RootGeometry();
    difference = s.WaitForPicture(Uniform(Level(212)));
    Check(difference.empty(), "window picture inside its frame again " + difference);

    s.TypeKeysym(XK_F11);
    s.SetBorder(0);
    CheckFullScreenOn(s, MonitorOne, "F11 in a window on monitor 1");
    const int pitchOne = static_cast<int>(pruvex::testing::ModelPitch(MonitorOne.W, MonitorOne.H));
    s.Type("g");
    difference = s.WaitForPicture(Grid(pitchOne, 25));
    Check(difference.empty(), "grid exact at pitch " + std::to_string(pitchOne) + " " + difference);
    s.Type("\x1b");
    s.SetBorder(Frame);
    const bool restored = WaitForGeometry(s, window);
    Check(restored, "Escape gives back the window at " + window.Text() + " (got " +
                        s.RootGeometry().Text() + ")");
    difference = s.WaitForPicture(Grid(61, 25));
    Check(difference.empty(), "grid at pitch 61 in the window again " + difference);
    Check(s.TakeBells() == 0, "F11 and Escape in full screen ring no bell");
    s.Type("\x1b");
    s.Type("f");
    Check(s.WaitForCaption(FlatCaption(212)), "keys still work");
    // Wine rings the bell through a process of its own: it may come after
    // the caption.
    int bells = 0;
    Session::Poll([&] { return (bells += s.TakeBells()) >= 1; });
    Check(bells == 1, "Escape in a window rings the bell");
}

// Over the picture the pointer hides after 2 s without motion and shows
// again on the first motion.
void Pointer(Session& s) {
    s.Launch({});
    s.MovePointer(300, 200);
    Check(Session::Poll([&] { return !s.PointerBlank(); }), "pointer shown after motion");
    const auto moved = Clock::now();
    Check(Session::Poll([&] { return s.PointerBlank(); }), "pointer hidden while still");
    const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - moved);
    Info("pointer hidden after " + std::to_string(idle.count()) + " ms without motion");
    s.MovePointer(310, 205);
    Check(Session::Poll([&] { return !s.PointerBlank(); }), "pointer back on motion");
}

// The screen saver, set to start after 2 s without input, stays off while
// the window is shown and starts once it is minimised. Where the session bus
// has an org.freedesktop.ScreenSaver service (the fake one of the test,
// PRUVEX_FAKE_SAVER_LOG names its log), the program inhibits it while shown.
void ScreenSaver(Session& s) {
    s.SetScreenSaverTimeout(2);
    s.Launch({});
    const char* log = std::getenv("PRUVEX_FAKE_SAVER_LOG");
    const auto logText = [&] {
        std::ifstream file(log != nullptr ? log : "");
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    };
    const auto count = [&](const std::string& call) {
        const std::string text = logText();
        int n = 0;
        for (std::size_t at = text.find(call); at != std::string::npos;
             at = text.find(call, at + 1)) {
            ++n;
        }
        return n;
    };
    std::this_thread::sleep_for(std::chrono::milliseconds(3500));
    if (UnderWine()) {
        Skip("screen saver held while shown",
             "SetThreadExecutionState changes nothing on X11 under Wine");
    } else {
        Check(!s.SaverActive(), "screen saver off 3.5 s after the last input while shown");
    }
    if (log == nullptr || UnderWine()) {
        Skip("Inhibit on org.freedesktop.ScreenSaver",
             UnderWine() ? "a Windows program has no session bus" : "no fake service");
    } else {
        Check(Session::Poll([&] { return count("Inhibit ") == 1; }),
              "the ScreenSaver service was asked once to inhibit: " + logText());
    }
    Check(s.Minimise(), "minimised");
    if (UnderWine()) {
        Skip("screen saver released when minimised", "nothing is held under Wine");
    } else {
        Check(Session::Poll([&] { return s.SaverActive(); }), "screen saver on once minimised");
    }
    if (log != nullptr && !UnderWine()) {
        Check(Session::Poll([&] { return count("UnInhibit ") == 1; }),
              "the inhibition was released when minimised: " + logText());
        Check(s.Restore(), "restored");
        Check(Session::Poll([&] { return count("Inhibit ") - count("UnInhibit ") == 2; }),
              "inhibited again when restored: " + logText());
        s.Close();
        s.WaitForExit(std::chrono::seconds(5));
        Check(Session::Poll([&] { return count("UnInhibit ") == 2; }),
              "released when closed: " + logText());
    }
}

// A few fields of a reply line.
struct Reply {
    bool Ok = false;
    std::string Mode;
    Rgb Colour{-1, -1, -1};
    int Pitch = -1;
    int Level = -1;
    int GridLevel = -1;
    int Step = -1;
    int Line = -1;
    double Ms = -1;
    double ShownMs = -1;
    double RefreshHz = -1;
    int SettleMs = -1;
    bool FullScreen = false;
    std::string Caption;
};

Reply ReadReplyFields(const std::string& line) {
    Reply r;
    const auto number = [&](const char* key) -> double {
        const std::size_t at = line.find(std::string("\"") + key + "\":");
        return at == std::string::npos ? -1 : std::atof(line.c_str() + at + std::strlen(key) + 3);
    };
    r.Ok = line.rfind("{\"ok\":true,", 0) == 0;
    const std::size_t mode = line.find("\"mode\":\"");
    if (mode != std::string::npos) {
        r.Mode = line.substr(mode + 8, 1);
    }
    const std::size_t rgb = line.find("\"rgb\":[");
    if (rgb != std::string::npos) {
        std::sscanf(line.c_str() + rgb + 7, "%d,%d,%d", &r.Colour.R, &r.Colour.G, &r.Colour.B);
    }
    const std::size_t caption = line.find("\"caption\":\"");
    if (caption != std::string::npos) {
        r.Caption = line.substr(caption + 11, line.find('"', caption + 11) - caption - 11);
    }
    r.Pitch = static_cast<int>(number("pitch"));
    r.Level = static_cast<int>(number("level"));
    r.GridLevel = static_cast<int>(number("grid_level"));
    r.Step = static_cast<int>(number("step"));
    r.Line = static_cast<int>(number("line"));
    r.Ms = number("ms");
    r.ShownMs = number("shown_ms");
    r.RefreshHz = number("refresh_hz");
    r.SettleMs = static_cast<int>(number("settle_ms"));
    r.FullScreen = line.find("\"fullscreen\":true") != std::string::npos;
    return r;
}

std::string Percentiles(std::vector<double> ms) {
    if (ms.empty()) {
        return "none";
    }
    std::sort(ms.begin(), ms.end());
    char text[96];
    std::snprintf(text, sizeof text, "median %.2f ms, 99th percentile %.2f ms over %zu",
                  ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.size());
    return text;
}

// Sends the commands one by one; after each reply, the pixels on the X
// server must already be the ones the reply describes. Returns the times
// from sending to the reply.
std::vector<double> CommandsWithReadBack(Session& s, const std::vector<std::string>& commands,
                                         int& wrongPictures) {
    std::vector<double> times;
    for (const std::string& command : commands) {
        const auto sent = Clock::now();
        s.SendLine(command);
        const std::optional<std::string> line = s.ReadReply();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
        const Reply reply = ReadReplyFields(line.value_or(""));
        if (!reply.Ok) {
            Check(false, "\"" + command + "\" replied " + line.value_or("nothing"));
            ++wrongPictures;
            continue;
        }
        const std::string difference = s.CompareDrawingArea(
            reply.Mode == "F" ? Uniform(reply.Colour) : Grid(reply.Pitch, reply.GridLevel));
        const bool captionRight = s.Caption() == reply.Caption;
        if (!difference.empty() || !captionRight ||
            (reply.Mode == "G" && !(Level(reply.GridLevel) == reply.Colour))) {
            ++wrongPictures;
            if (wrongPictures <= 3) {
                std::string what = "after \"" + command;
                what += "\" the server shows " + difference;
                if (!captionRight) {
                    what += " caption \"" + s.Caption() + "\"";
                }
                Check(false, what);
            }
        }
    }
    return times;
}

std::vector<std::string> TwoHundredCommands() {
    std::vector<std::string> commands;
    unsigned int random = 200;
    for (int i = 0; i < 200; ++i) {
        random = random * 1103515245U + 12345U;
        const unsigned int r = (random >> 16) % 100;
        if (r < 40) {
            commands.push_back("level " + std::to_string((random >> 4) % 256));
        } else if (r < 60) {
            commands.push_back("grid-level " + std::to_string((random >> 4) % 179));
        } else if (r < 70) {
            commands.emplace_back(r % 2 == 0 ? "grid" : "flat");
        } else if (r < 80) {
            commands.push_back("step " + std::to_string(1 + (random >> 4) % 255));
        } else if (r < 95) {
            commands.push_back(
                "keys " +
                std::string("+-zaGgFf").substr((random >> 8) % 8, 1 + (random >> 12) % 3));
        } else {
            commands.emplace_back("state");
        }
    }
    return commands;
}

// Key to pixels: the time from typing a key until the server shows its
// picture, for comparison with the command-to-reply time.
std::string KeyToPixelTimes(Session& s, int count) {
    std::vector<double> times;
    for (int i = 0; i < count; ++i) {
        const char key = i % 2 == 0 ? '+' : '-';
        const Rgb want = Level(212 + (i % 2 == 0 ? 1 : 0));
        const auto typed = Clock::now();
        s.Type(std::string(1, key));
        // One pixel read again and again, without the pause of Poll.
        const auto end = typed + PollTimeout;
        while (!(s.PixelAt(100, 100) == want) && Clock::now() < end) {
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - typed).count());
    }
    return Percentiles(times);
}

// With the window manager stopped, `fullscreen` is answered by an error
// once the 10 s it is given have run out, not by a state that says the
// picture is shown; once it runs again, the window goes back to its frame.
void WindowManagerUnanswered(Session& s) {
    const char* wm = std::getenv("PRUVEX_WM_PID");
    if (wm == nullptr) {
        Skip("fullscreen with the window manager stopped",
             "the window manager's process is not known (run under run-under-x.sh)");
        return;
    }
    const auto pid = static_cast<pid_t>(std::strtol(wm, nullptr, 10));
    const bool stopped = kill(pid, SIGSTOP) == 0;
    s.SendLine("fullscreen");
    const std::string text = s.ReadReply(std::chrono::seconds(30)).value_or("");
    kill(pid, SIGCONT);
    Check(stopped && !ReadReplyFields(text).Ok &&
              text.find("did not give the window the whole monitor") != std::string::npos,
          "fullscreen with the window manager stopped is refused: " + text);
    s.SendLine("window");
    Check(ReadReplyFields(s.ReadReply(std::chrono::seconds(30)).value_or("")).Ok,
          "window with the window manager running again is replied to");
}

// Bad lines change nothing and each gets its error reply with its number
// (after the 204 lines before them: grid, flat, state, 200 commands and
// level 7). Gives the state after them.
Reply BadLinesRefused(Session& s) {
    s.SendLine("level 7");
    const Reply before = ReadReplyFields(s.ReadReply().value_or(""));
    const char* const bad[] = {
        "",          "levell 3",      "level",          "level 256",    "level 12.5",
        "level 1e2", "level 0x10",    "level -0",       "level +5",     "level 007",
        "level  5",  "level 5 6",     "grid-level 179", "step 0",       "flat now",
        "keys",      "keys \xff\xfe", "caf\xc3\xa9",    "fullscreen 3", "window x"};
    int lineNumber = 204; // grid, flat, state, 200 commands, level 7
    bool allRefused = true;
    for (const char* line : bad) {
        ++lineNumber;
        s.SendLine(line);
        const std::string text = s.ReadReply().value_or("");
        const Reply reply = ReadReplyFields(text);
        if (reply.Ok || reply.Line != lineNumber ||
            text.find("\"error\":\"") == std::string::npos) {
            allRefused = false;
            Check(false, std::string("\"").append(line).append("\" replied ").append(text));
        }
    }
    ++lineNumber;
    s.WriteAll(std::string("level\0 9\n", 9));
    const Reply nul = ReadReplyFields(s.ReadReply().value_or(""));
    Check(allRefused && !nul.Ok && nul.Line == lineNumber,
          "every bad line is refused with its line number, a NUL byte too");
    s.SendLine("state\r");
    Reply after = ReadReplyFields(s.ReadReply().value_or(""));
    Check(after.Ok && after.Level == before.Level && after.Mode == before.Mode &&
              after.GridLevel == before.GridLevel,
          "nothing changed by the bad lines; a trailing CR is ignored");
    return after;
}

void Control(Session& s) {
    // A command that comes before the window is up is replied to once its
    // picture is on the server.
    s.LaunchControlled({"--control", "5", "100"}, "grid\n");
    const Reply early = ReadReplyFields(s.ReadReply().value_or(""));
    const std::string difference = s.CompareDrawingArea(Grid(61, 25));
    Check(early.Ok && early.Pitch == 61 && difference.empty(),
          "a command sent before the window was up: the grid is on the server at its reply " +
              difference);
    s.SendLine("flat");
    s.ReadReply();
    s.SendLine("state");
    const Reply first = ReadReplyFields(s.ReadReply().value_or(""));
    Check(first.Ok && first.Level == 100 && first.Mode == "F" && first.Colour == Level(100),
          "state replies level 100 in mode F");

    int wrong = 0;
    const std::vector<double> times = CommandsWithReadBack(s, TwoHundredCommands(), wrong);
    Check(times.size() == 200 && wrong == 0,
          "200 commands, 200 replies in order, each picture on the server at its reply (" +
              std::to_string(wrong) + " wrong)");
    Info("command to reply at 776 x 520: " + Percentiles(times));

    const Reply after = BadLinesRefused(s);

    // Keys typed by hand still work beside the channel.
    s.FocusClient();
    s.Type("f+");
    const int raised = after.Level + after.Step < 255 ? after.Level + after.Step : after.Level;
    Check(s.WaitForCaption(FlatCaption(raised)),
          "typed keys still reach the window (level " + std::to_string(raised) + ")");
    s.SendLine("step 1");
    s.SendLine("level 212");
    Check(s.ReadReply().has_value() && s.ReadReply().has_value(), "back at level 212, step 1");

    Info("key to pixels at 776 x 520: " + KeyToPixelTimes(s, 50));

    // In the flat field the reply's pitch is the mosaic's at the window's
    // size: at 1000 x 700 the width gives 968 / 12 = 81 (the height 84).
    const bool resized = s.Resize(1000, 700) && Session::Poll([&] {
                             return s.CompareDrawingArea(Uniform(Level(212))).empty();
                         });
    s.SendLine("state");
    const Reply wider = ReadReplyFields(s.ReadReply().value_or(""));
    Check(resized && wider.Ok && wider.Mode == "F" && wider.Pitch == 81,
          "in the flat field at 1000 x 700 the reply's pitch is 81 (got " +
              std::to_string(wider.Pitch) + ")");
    WindowManagerUnanswered(s);
    s.SendLine("quit");
    const Reply bye = ReadReplyFields(s.ReadReply().value_or(""));
    Check(bye.Ok, "quit is replied to");
    const std::optional<int> status = s.WaitForExit(std::chrono::seconds(10));
    Check(status == 0, "quit ends the program with status 0 (got " +
                           (status ? std::to_string(*status) : "none") + ")");
}

// Timing only, not a test: command to reply and key to pixels with the
// window full screen on the whole (large) screen. Run by hand, e.g. with
// PRUVEX_XVFB_SCREEN=3840x2160x24.
// The X server's vertical blanks as the Present extension times them, on a
// connection and a thread of the driver's own: each blank's event asks for
// the next.
class PresentTicks {
  public:
    PresentTicks() : Connection(xcb_connect(nullptr, nullptr)) {
        const xcb_query_extension_reply_t* present =
            xcb_connection_has_error(Connection) == 0
                ? xcb_get_extension_data(Connection, &xcb_present_id)
                : nullptr;
        if (present == nullptr || present->present == 0) {
            return;
        }
        std::free(xcb_present_query_version_reply(
            Connection, xcb_present_query_version(Connection, 1, 0), nullptr));
        Root = xcb_setup_roots_iterator(xcb_get_setup(Connection)).data->root;
        const std::uint32_t events = xcb_generate_id(Connection);
        xcb_present_select_input(Connection, events, Root, XCB_PRESENT_EVENT_MASK_COMPLETE_NOTIFY);
        xcb_present_notify_msc(Connection, Root, 0, 0, 0, 0); // where the count is now
        xcb_flush(Connection);
        Reader = std::thread([this] { Read(); });
    }
    ~PresentTicks() {
        Stop = true;
        if (Reader.joinable()) {
            Reader.join();
        }
        xcb_disconnect(Connection);
    }
    PresentTicks(const PresentTicks&) = delete;
    PresentTicks& operator=(const PresentTicks&) = delete;

    bool Running() const { return Reader.joinable(); }
    // The first blank after the moment. A loaded Xvfb stamps a blank late
    // for one client and not another, never early: each blank is taken at
    // the earliest its neighbours allow.
    std::optional<Clock::time_point> FirstAfter(Clock::time_point moment) {
        const std::lock_guard<std::mutex> lock(Guard);
        const auto period = std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double, std::milli>(MedianPeriodMs()));
        for (std::size_t i = 0; i < Blanks.size(); ++i) {
            Clock::time_point earliest = Blanks[i];
            for (std::size_t j = i > 3 ? i - 3 : 0; j < std::min(Blanks.size(), i + 4); ++j) {
                const auto counts = static_cast<std::int64_t>(Counters[i] - Counters[j]);
                earliest = std::min(earliest, Blanks[j] + counts * period);
            }
            if (earliest > moment) {
                return earliest;
            }
        }
        return std::nullopt;
    }
    // Waits for the first blank after the moment, polling the reader's
    // record; nothing when none came within the limit.
    std::optional<Clock::time_point> WaitForBlankAfter(Clock::time_point moment,
                                                       std::chrono::milliseconds limit) {
        const auto until = Clock::now() + limit;
        std::optional<Clock::time_point> blank = FirstAfter(moment);
        while (!blank && Clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            blank = FirstAfter(moment);
        }
        return blank;
    }
    double PeriodMs() {
        const std::lock_guard<std::mutex> lock(Guard);
        return MedianPeriodMs();
    }

  private:
    // Over the blanks' counts: a blank the reader missed is no period.
    double MedianPeriodMs() const {
        std::vector<double> periods;
        for (std::size_t i = 1; i < Blanks.size(); ++i) {
            if (Counters[i] > Counters[i - 1]) {
                periods.push_back(
                    std::chrono::duration<double, std::milli>(Blanks[i] - Blanks[i - 1]).count() /
                    static_cast<double>(Counters[i] - Counters[i - 1]));
            }
        }
        std::sort(periods.begin(), periods.end());
        return periods.empty() ? 0 : periods[periods.size() / 2];
    }
    void Read() {
        while (!Stop) {
            xcb_generic_event_t* event = xcb_wait_for_event(Connection);
            if (event == nullptr) {
                return;
            }
            const auto* complete = reinterpret_cast<xcb_present_complete_notify_event_t*>(event);
            if ((event->response_type & 0x7F) == XCB_GE_GENERIC &&
                complete->event_type == XCB_PRESENT_EVENT_COMPLETE_NOTIFY) {
                if (complete->serial != 0) { // the first answer is the time of asking
                    const std::lock_guard<std::mutex> lock(Guard);
                    Blanks.emplace_back(std::chrono::duration_cast<Clock::duration>(
                        std::chrono::microseconds(complete->ust)));
                    Counters.push_back(complete->msc);
                }
                xcb_present_notify_msc(Connection, Root, 1, complete->msc + 1, 0, 0);
                xcb_flush(Connection);
            }
            std::free(event);
        }
    }

    xcb_connection_t* Connection;
    xcb_window_t Root = 0;
    std::thread Reader;
    std::atomic<bool> Stop{false};
    std::mutex Guard;
    std::vector<Clock::time_point> Blanks;
    std::vector<std::uint64_t> Counters;

  public:
    // The clock's rate from its first and last blank seen: over seconds, a
    // few milliseconds of lateness hardly count.
    double RateHz() {
        const std::lock_guard<std::mutex> lock(Guard);
        const double seconds =
            Blanks.size() < 2 ? 0
                              : std::chrono::duration<double>(Blanks.back() - Blanks[0]).count();
        return seconds > 0 ? static_cast<double>(Counters.back() - Counters[0]) / seconds : 0;
    }
};

// Each reply comes once the monitor shows the picture: no earlier than the
// first blank after the command was sent, one refresh to scan it out and the
// settle time. How much later is measured, not asserted.
void FrameTiming(Session& s) {
    PresentTicks ticks;
    if (!ticks.Running()) {
        Skip("frame-timed replies", "this X server has no Present extension to compare with");
        return;
    }
    if (UnderWine()) {
        Skip("replies timed by the monitor's vertical blank",
             "Wine's gdi32 has no D3DKMTWaitForVerticalBlankEvent and DXGI's WaitForVBlank is "
             "not implemented: Pruvex.exe waits by the nominal rate, checked here not to be early");
    }
    s.LaunchControlled({"--control", "--settle=25"});
    Check(s.WaitForCaption(FlatCaption(212)), "window shown");
    // The driver's and the program's times of a blank can differ by a few
    // milliseconds on a loaded virtual server.
    constexpr double Tolerance = 6.0;
    struct Sent {
        Clock::time_point At;
        Clock::time_point Replied;
        Reply Fields;
        int Settle;
    };
    std::vector<Sent> sent;
    unsigned phase = 7;
    // 40 replies with a settle time, 30 without, then 10 with a compositing
    // manager, which shows the window one frame later (X11 only).
    const bool composited = !UnderWine();
    for (int i = 0; i < 80; ++i) {
        const int settle = i < 40 ? 25 : 0;
        if (i == 40) {
            s.SendLine("settle 0");
            Check(ReadReplyFields(s.ReadReply().value_or("")).Ok, "settle 0 is taken");
        }
        if (i == 70 && composited) {
            s.OwnSelection("_NET_WM_CM_S0", true);
        }
        phase = phase * 1103515245U + 12345U;
        std::this_thread::sleep_for(std::chrono::microseconds((phase >> 8) % 17000));
        const auto at = Clock::now();
        s.SendLine(i % 2 == 0 ? "level 100" : "keys +");
        const std::string line = s.ReadReply().value_or("");
        sent.push_back({at, Clock::now(), ReadReplyFields(line), settle});
    }
    if (composited) {
        s.OwnSelection("_NET_WM_CM_S0", false);
    }
    // The blank after the last reply: then every blank the replies are
    // timed against has come in.
    if (!sent.empty()) {
        ticks.WaitForBlankAfter(sent.back().Replied, std::chrono::seconds(10));
    }
    const double period = ticks.PeriodMs();
    std::vector<double> lateness;
    int early = 0;
    int fieldsWrong = 0;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        const Sent& one = sent[i];
        const std::optional<Clock::time_point> blank = ticks.FirstAfter(one.At);
        if (!one.Fields.Ok || !blank) {
            ++fieldsWrong;
            continue;
        }
        const int refreshes = composited && i >= 70 ? 2 : 1;
        const double late =
            std::chrono::duration<double, std::milli>(one.Replied - *blank).count() -
            refreshes * period - one.Settle;
        lateness.push_back(late);
        early += late < -Tolerance ? 1 : 0;
        // What the reply says of itself: scanned out, then settled.
        const bool consistent = one.Fields.SettleMs == one.Settle && one.Fields.RefreshHz > 40 &&
                                one.Fields.RefreshHz < 90 && one.Fields.ShownMs > 0 &&
                                one.Fields.Ms >= one.Fields.ShownMs + one.Settle - 0.5;
        fieldsWrong += consistent ? 0 : 1;
    }
    Check(lateness.size() == sent.size() && fieldsWrong == 0,
          "80 replies with refresh_hz, shown_ms and settle_ms consistent (" +
              std::to_string(fieldsWrong) + " not)");
    Check(early == 0, "no reply before the frame was scanned out and settled (" +
                          std::to_string(early) + " early by more than 6 ms)");
    std::vector<double> sorted = lateness;
    std::sort(sorted.begin(), sorted.end());
    char text[160];
    std::snprintf(text, sizeof text,
                  "reply after the earliest it may come: median %.2f ms, worst %.2f ms, least "
                  "%.2f ms (blank period %.2f ms)",
                  sorted.empty() ? 0 : sorted[sorted.size() / 2],
                  sorted.empty() ? 0 : sorted.back(), sorted.empty() ? 0 : sorted.front(), period);
    Info(text);

    s.SendLine("settle 10001");
    const Reply refused = ReadReplyFields(s.ReadReply().value_or(""));
    s.SendLine("settle 300");
    s.ReadReply();
    const auto slow = Clock::now();
    s.SendLine("state");
    const Reply settled = ReadReplyFields(s.ReadReply().value_or(""));
    const double waited = std::chrono::duration<double, std::milli>(Clock::now() - slow).count();
    Check(!refused.Ok && settled.Ok && settled.SettleMs == 300 && waited >= 300,
          "settle 10001 is refused; after settle 300 a reply waits at least 300 ms");
}

void FullScreenTiming(Session& s) {
    s.LaunchControlled({"--control", "--fullscreen"});
    s.SetBorder(0);
    Session::Poll([&] { return s.HasState("_NET_WM_STATE_FULLSCREEN"); });
    int wrong = 0;
    const std::vector<double> times = CommandsWithReadBack(s, TwoHundredCommands(), wrong);
    Check(wrong == 0, "200 commands read back exact at " + SizeText(s.ClientSize()));
    Info("command to reply at " + SizeText(s.ClientSize()) + ": " + Percentiles(times));
    s.SendLine("step 1");
    s.SendLine("level 212");
    s.SendLine("flat");
    s.ReadReply();
    s.ReadReply();
    s.ReadReply();
    s.FocusClient();
    Info("key to pixels at " + SizeText(s.ClientSize()) + ": " + KeyToPixelTimes(s, 50));
}

// A 10 MB line and 100,000 junk lines: one reply each, memory flat, the
// window responsive; the end of input leaves the window open.
void ControlFlood(Session& s) {
    s.LaunchControlled({"--control"});
    Check(s.WaitForCaption(FlatCaption(212)), "window shown");
    s.SendLine("level 100");
    Check(ReadReplyFields(s.ReadReply().value_or("")).Ok, "warm-up command");
    const pid_t pid = s.WindowPid();
    {
        std::ofstream reset("/proc/" + std::to_string(pid) + "/clear_refs");
        reset << "5";
    }
    const long base = s.PeakMemoryKiB();

    bool longOk = false;
    std::thread writer([&] {
        const std::string chunk(1 << 20, 'x');
        for (int i = 0; i < 10; ++i) {
            s.WriteAll(chunk);
        }
        s.WriteAll("\n");
    });
    const std::string longReply = s.ReadReply(std::chrono::seconds(60)).value_or("");
    writer.join();
    longOk = longReply.find("\"ok\":false") != std::string::npos &&
             longReply.find("4096") != std::string::npos;
    Check(longOk, "a 10 MB line gets one error reply: " + longReply.substr(0, 120));
    const long afterLong = s.PeakMemoryKiB();

    constexpr int Junk = 100000;
    std::thread junkWriter([&] {
        std::string block;
        for (int i = 0; i < Junk; ++i) {
            block += i % 3 == 0 ? "junk\n" : i % 3 == 1 ? "level 999\n" : "\x01\x02\n";
            if (block.size() > 60000) {
                s.WriteAll(block);
                block.clear();
            }
        }
        s.WriteAll(block);
    });
    int errors = 0;
    int others = 0;
    for (int i = 0; i < Junk; ++i) {
        const std::optional<std::string> line = s.ReadReply(std::chrono::seconds(30));
        if (!line) {
            break;
        }
        (line->rfind("{\"ok\":false", 0) == 0 ? errors : others)++;
    }
    junkWriter.join();
    Check(errors == Junk && others == 0,
          std::to_string(Junk) + " junk lines, " + std::to_string(errors) + " error replies");
    const long afterJunk = s.PeakMemoryKiB();
    Check(base > 0 && afterLong - base < 2048 && afterJunk - base < 2048,
          "peak memory " + std::to_string(base) + " KiB, after the long line " +
              std::to_string(afterLong) + ", after the junk " + std::to_string(afterJunk) +
              " (limit +2048)");
    s.SendLine("level 120");
    const Reply reply = ReadReplyFields(s.ReadReply().value_or(""));
    Check(reply.Ok && reply.Level == 120, "a good command after the junk works");
    Check(s.CompareDrawingArea(Uniform(Level(120))).empty(), "and its picture is shown");

    s.EndInput();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    Check(s.Alive(), "the end of input leaves the window open");
    s.FocusClient();
    s.Type("+");
    Check(s.WaitForCaption(FlatCaption(121)), "keys work after the end of input");
    s.Close();
    const std::optional<int> status = s.WaitForExit(std::chrono::seconds(10));
    Check(status == 0, "closed with status 0");
}

// --check: each failure provoked for real on the X server, read from the
// report's lines and its exit status.
std::string ReportLine(const std::string& report, const std::string& name) {
    std::istringstream lines(report);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() > 11 && line.compare(11, name.size() + 1, name + ":") == 0) {
            return line;
        }
    }
    return "(no line " + name + ")";
}

bool Says(const std::string& line, const char* result) {
    return line.rfind(result, 0) == 0;
}

void SetGamma(const char* gamma) {
    const std::string command = std::string("xrandr --output screen --gamma ") + gamma;
    Check(std::system(command.c_str()) == 0, command);
}

void CheckReport(Session& s) {
    SetGamma("1:1:1");
    RunResult run = s.Run({"--check", "--grid", "3", "100"});
    const bool wine = UnderWine();
    Check(run.ExitCode == (wine ? 2 : 0),
          "identity ramp: exit " + std::to_string(run.ExitCode) + "\n" + run.Out + run.Err);
    Check(run.Out.find("\nverdict: ") != std::string::npos, "the last line is the verdict");
    Check(Says(ReportLine(run.Out, "read-back from the screen"), "PASS"),
          "read-back from the screen passes");
    if (wine) {
        Check(Says(ReportLine(run.Out, "gamma"), "UNVERIFIED"),
              "Wine cannot read the gamma ramp: UNVERIFIED");
        // Wine answers the advanced colour request with error 87.
        Check(Says(ReportLine(run.Out, "HDR (advanced colour)"), "UNVERIFIED"),
              "Wine cannot read the advanced colour state: UNVERIFIED");
        Check(Says(ReportLine(run.Out, "colour depth"), "PASS"),
              "colour depth: " + ReportLine(run.Out, "colour depth"));
        Check(Says(ReportLine(run.Out, "frame timing"), "UNVERIFIED") &&
                  ReportLine(run.Out, "frame timing").find("nominal 60.0 Hz") != std::string::npos,
              "Wine has no vertical-blank wait: " + ReportLine(run.Out, "frame timing"));
    } else {
        Check(Says(ReportLine(run.Out, "frame timing"), "PASS") &&
                  ReportLine(run.Out, "frame timing").find("Present") != std::string::npos,
              "frame timing: " + ReportLine(run.Out, "frame timing"));
    }

    SetGamma("1.1:1.1:1.1");
    run = s.Run({"--check"});
    if (wine) {
        Skip("gamma 1.1 fails", "Wine cannot read the ramp on Xvfb (no XF86VidMode)");
    } else {
        Check(run.ExitCode == 1 && Says(ReportLine(run.Out, "gamma"), "FAIL"),
              "gamma 1.1: " + ReportLine(run.Out, "gamma") + " exit " +
                  std::to_string(run.ExitCode));
    }
    SetGamma("1:1:1");

    // A profile on the root window, as a colour manager sets it.
    const std::string profile = "not really a profile";
    s.SetRootProperty("_ICC_PROFILE", profile);
    run = s.Run({"--check"});
    if (wine) {
        Info("ICC profile with Wine: " + ReportLine(run.Out, "ICC profile"));
    } else {
        Check(run.ExitCode == 0 && Says(ReportLine(run.Out, "ICC profile"), "WARN"),
              "_ICC_PROFILE: " + ReportLine(run.Out, "ICC profile"));
    }
    s.DeleteRootProperty("_ICC_PROFILE");

    // A compositing manager: someone owns _NET_WM_CM_S0.
    s.OwnSelection("_NET_WM_CM_S0", true);
    run = s.Run({"--check"});
    if (wine) {
        Skip("compositor warning", "Windows has no _NET_WM_CM_Sn to look at");
    } else {
        Check(run.ExitCode == 0 && Says(ReportLine(run.Out, "compositor"), "WARN"),
              "_NET_WM_CM_S0 owned: " + ReportLine(run.Out, "compositor"));
        Check(ReportLine(run.Out, "frame timing").find("one frame more") != std::string::npos,
              "and replies count a frame more: " + ReportLine(run.Out, "frame timing"));
    }
    s.OwnSelection("_NET_WM_CM_S0", false);

    // A window over part of Pruvex's full-screen window.
    const Rect overlay{200, 150, 40, 30};
    run = s.RunUnderOverlay({"--check", "--fullscreen"}, overlay);
    const std::string screen = ReportLine(run.Out, "read-back from the screen");
    int x = -1, y = -1;
    const std::size_t at = screen.find("pixel (");
    if (at != std::string::npos) {
        std::sscanf(screen.c_str() + at, "pixel (%d,%d)", &x, &y);
    }
    Check(run.ExitCode == 1 && Says(screen, "FAIL") && x >= overlay.X &&
              x < overlay.X + overlay.W && y >= overlay.Y && y < overlay.Y + overlay.H,
          "an overlay window: " + screen);
}

// --check on a server of another depth: PRUVEX_XVFB_SCREEN sets it.
void CheckDepth(Session& s, int depth) {
    const RunResult run = s.Run({"--check"});
    const std::string visual = ReportLine(run.Out, UnderWine() ? "colour depth" : "visual");
    if (depth == 16) {
        Check(run.ExitCode == 1 && Says(visual, "FAIL") &&
                  visual.find("level 212 (212,96,145) becomes") != std::string::npos,
              "depth 16: " + visual);
        Check(Says(ReportLine(run.Out, "read-back from the window"), "FAIL"),
              "depth 16 read-back: " + ReportLine(run.Out, "read-back from the window"));
    } else {
        Check(Says(visual, "WARN"), "depth 30: " + visual);
        Check(Says(ReportLine(run.Out, "read-back from the window"), "PASS"),
              "depth 30 read-back, scaled to 8 bits: " +
                  ReportLine(run.Out, "read-back from the window"));
    }
}

} // namespace

// Busy processes on every core for as long as it lives.
class Load {
  public:
    Load() {
        const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < 2 * cores; ++i) {
            const pid_t child = fork();
            if (child == 0) {
                std::atomic<unsigned long> spin{0};
                for (;;) {
                    spin.fetch_add(1, std::memory_order_relaxed);
                }
            }
            if (child > 0) {
                Children.push_back(child);
            }
        }
    }
    ~Load() {
        for (const pid_t child : Children) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
    }
    Load(const Load&) = delete;
    Load& operator=(const Load&) = delete;

  private:
    std::vector<pid_t> Children;
};

// The rate is read from the blanks over a second or more, not from the
// first few: on a loaded machine --check at start-up and the replies name
// the clock's rate within 1 %.
void RefreshRate(Session& s) {
    PresentTicks ticks;
    if (!ticks.Running()) {
        Skip("the refresh rate", "this X server has no Present extension to compare with");
        return;
    }
    std::vector<double> named;
    {
        const Load load;
        for (int run = 0; run < 3; ++run) {
            const std::string line = ReportLine(s.Run({"--check"}).Out, "frame timing");
            const std::size_t hz = line.find(" Hz");
            const std::size_t from = line.rfind(", ", hz);
            named.push_back(hz != std::string::npos && from != std::string::npos
                                ? std::atof(line.c_str() + from + 2)
                                : 0.0);
            Info("--check under load: " + line);
        }
        s.LaunchControlled({"--control"});
        Check(s.WaitForCaption(FlatCaption(212)), "window shown");
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        for (int i = 0; i < 5; ++i) {
            s.SendLine(i % 2 == 0 ? "level 100" : "state");
            named.push_back(ReadReplyFields(s.ReadReply().value_or("")).RefreshHz);
        }
    }
    s.SendLine("quit");
    s.ReadReply();
    const double truth = ticks.RateHz();
    std::string seen;
    int off = 0;
    for (const double hz : named) {
        seen += (seen.empty() ? "" : ", ") + std::to_string(hz).substr(0, 6);
        off += std::abs(hz - truth) > truth * 0.01 ? 1 : 0;
    }
    Check(truth > 0 && off == 0, "3 --check reports and 5 replies name the clock's " +
                                     std::to_string(truth).substr(0, 6) +
                                     " Hz within 1 % under load (" + seen + ")");

    // A mode with timings, as a real monitor's: 88.89 MHz over 1440 x 823.
    const int added = std::system(
        "xrandr --newmode pruvex75 88.89 1280 1328 1360 1440 800 803 809 823 +hsync -vsync && "
        "xrandr --addmode screen pruvex75 && xrandr --output screen --mode pruvex75");
    if (added != 0) {
        Skip("the rate of the monitor's mode", "this X server takes no new mode");
        return;
    }
    const std::string line = ReportLine(s.Run({"--check"}).Out, "frame timing");
    Check(line.find("75.0 Hz from the monitor's mode") != std::string::npos,
          "--check takes the rate of the monitor's mode: " + line);
}

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
        {"pictures", Pictures},
        {"monitors", Monitors},
        {"texts", Texts},
        {"fullscreen", FullScreen},
        {"pointer", Pointer},
        {"screensaver", ScreenSaver},
        {"control", Control},
        {"control_flood", ControlFlood},
        {"frame_timing", FrameTiming},
        {"refresh_rate", RefreshRate},
        {"check", CheckReport},
        {"timing_fullscreen", FullScreenTiming},
        {"check_depth16", [](Session& s) { CheckDepth(s, 16); }},
        {"check_depth30", [](Session& s) { CheckDepth(s, 30); }},
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
    std::printf("%d passed, %d failed, %d skipped\n", passes, failures, skips);
    return failures == 0 ? 0 : 1;
}
