#include "FrmMain.h"

#include "FrameClock.h"
#include "app/Monitors.h"
#include "pattern/Checked.h"
#include "pattern/Picture.h"

#include <windowsx.h>

#include <array>

namespace {

const wchar_t* const FrmMainClass = L"frmMain";
const wchar_t* const PicMainClass = L"picMain";
constexpr UINT_PTR PointerTimer = 1;
// The longest a reply waits for the vertical blank before going by the
// nominal rate.
constexpr pruvex::Milliseconds BlankPatience{250.0};
constexpr int SurrogateShift = 10;

// Every window operation reports success or failure; a failure ends the run.
template <typename T> T Checked(T result, const char* what) {
    if (!result) {
        pruvex::Fatal(what);
    }
    return result;
}

// A window style word; 0 can be a value, so failure is told by the last error.
void SetStyle(HWND hwnd, int index, LONG_PTR style) {
    SetLastError(0);
    if (SetWindowLongPtrW(hwnd, index, style) == 0 && GetLastError() != 0) {
        pruvex::Fatal("cannot change the window's style");
    }
}

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// The compositor's flush, where there is one: dwmapi.dll is loaded when first
// needed so that the program imports no more than the core system DLLs.
class Compositor {
  public:
    Compositor() {
        const HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
        if (dwm == nullptr) {
            return;
        }
        using IsEnabledFunction = HRESULT(WINAPI*)(BOOL*);
        // Through a function type without arguments, as GetProcAddress's
        // result is meant to be cast.
        const auto isEnabled = reinterpret_cast<IsEnabledFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(dwm, "DwmIsCompositionEnabled")));
        Flush = reinterpret_cast<FlushFunction>(
            reinterpret_cast<void (*)()>(GetProcAddress(dwm, "DwmFlush")));
        BOOL enabled = FALSE;
        if (isEnabled == nullptr || FAILED(isEnabled(&enabled)) || !enabled) {
            Flush = nullptr;
        }
    }
    // Returns once the compositor has presented what was drawn before.
    void WaitForPresent() const {
        if (Flush != nullptr) {
            Flush();
        }
    }

  private:
    using FlushFunction = HRESULT(WINAPI*)();
    FlushFunction Flush = nullptr;
};

const Compositor& TheCompositor() {
    static const Compositor compositor;
    return compositor;
}

// Wine's own export: the program runs on Wine's X11 driver, not on Windows.
bool RunsUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

BOOL CALLBACK AddMonitor(HMONITOR handle, HDC /*dc*/, LPRECT /*rect*/, LPARAM data) {
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(handle, &info)) {
        std::string name;
        for (const wchar_t* c = info.szDevice; *c != 0; ++c) {
            name += *c > 0x20 && *c < 0x7F ? static_cast<char>(*c) : '?';
        }
        const RECT& r = info.rcMonitor;
        reinterpret_cast<std::vector<pruvex::Monitor>*>(data)->push_back(
            {name, r.left, r.top, r.right - r.left, r.bottom - r.top,
             (info.dwFlags & MONITORINFOF_PRIMARY) != 0});
    }
    return TRUE;
}

// Outer size = outer - client + wanted client, in each direction, at the
// window's current place.
void SizeForClientArea(HWND hwnd, int width, int height) {
    RECT outer;
    RECT client;
    Checked(GetWindowRect(hwnd, &outer), "cannot read the window's size");
    Checked(GetClientRect(hwnd, &client), "cannot read the client size");
    const int outerWidth = outer.right - outer.left - client.right + width;
    const int outerHeight = outer.bottom - outer.top - client.bottom + height;
    Checked(SetWindowPos(hwnd, nullptr, outer.left, outer.top, outerWidth, outerHeight,
                         SWP_NOZORDER | SWP_NOACTIVATE),
            "cannot size the window");
}

} // namespace

std::vector<pruvex::Monitor> DesktopMonitors() {
    std::vector<pruvex::Monitor> monitors;
    Checked(EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&monitors)),
            "cannot list the monitors");
    return pruvex::NumberMonitors(std::move(monitors));
}

FrmMain::FrmMain(HINSTANCE instance, const pruvex::Options& options, int showCommand)
    : Logic(*this, options), ShowCommand(showCommand), ReplyOutput(GetStdHandle(STD_OUTPUT_HANDLE)),
      UnderWine(RunsUnderWine()) {
    RegisterClasses(instance);
    Checked(CreateWindowExW(0, FrmMainClass, L"Form1", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance,
                            this),
            "cannot create the window");
    Checked(CreateWindowExW(WS_EX_CLIENTEDGE, PicMainClass, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                            frmMain, nullptr, instance, this),
            "cannot create the picture");
    SizeForClientArea(frmMain, pruvex::StartupClientWidth(Logic.State()),
                      pruvex::StartupClientHeight(Logic.State()));
}

void FrmMain::RegisterClasses(HINSTANCE instance) {
    WNDCLASSEXW frm{};
    frm.cbSize = sizeof frm;
    frm.lpfnWndProc = WindowProc<&FrmMain::frmMain, &FrmMain::OnFrmMain>;
    frm.hInstance = instance;
    frm.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    frm.hIconSm = frm.hIcon;
    frm.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    frm.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frm.lpszClassName = FrmMainClass;
    Checked(RegisterClassExW(&frm), "cannot register the window class");

    WNDCLASSEXW pic{};
    pic.cbSize = sizeof pic;
    pic.lpfnWndProc = WindowProc<&FrmMain::picMain, &FrmMain::OnPicMain>;
    pic.hInstance = instance;
    pic.hCursor = frm.hCursor;
    pic.lpszClassName = PicMainClass;
    Checked(RegisterClassExW(&pic), "cannot register the picture class");
}

// Both window procedures find the object through the window's user data,
// set from the creation parameters on the first message that carries them.
template <HWND FrmMain::*Window, LRESULT (FrmMain::*Handler)(UINT, WPARAM, LPARAM)>
LRESULT CALLBACK FrmMain::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<FrmMain*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->*Window = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<FrmMain*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    return self != nullptr ? (self->*Handler)(message, wParam, lParam)
                           : DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT FrmMain::OnFrmMain(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SIZE:
        if (picMain != nullptr) {
            Checked(MoveWindow(picMain, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE),
                    "cannot move the picture");
        }
        Logic.WindowVisible(wParam != SIZE_MINIMIZED && IsWindowVisible(frmMain));
        return 0;
    case WM_SHOWWINDOW:
        Logic.WindowVisible(wParam != FALSE && !IsIconic(frmMain));
        break;
    case WM_WINDOWPOSCHANGED:
        // Also shown by SetWindowPos (full screen at start-up), which sends
        // no WM_SHOWWINDOW.
        Logic.WindowVisible(IsWindowVisible(frmMain) && !IsIconic(frmMain));
        break;
    case WM_CHAR:
        OnChar(static_cast<wchar_t>(wParam));
        return 0;
    case WM_KEYDOWN:
        // F11 types no character; a held key's repeats do not toggle again.
        if (wParam == VK_F11) {
            if ((lParam & (1 << 30)) == 0) {
                Logic.PressKey(pruvex::Key::FullScreen);
            }
            return 0;
        }
        break;
    case WM_TIMER:
        if (wParam == PointerTimer) {
            KillTimer(frmMain, PointerTimer);
            Logic.PointerIdle();
            return 0;
        }
        if (wParam == CheckTimer) {
            OnCheckTimer();
            return 0;
        }
        if (wParam == SettleTimer) {
            OnSettleTimer();
            return 0;
        }
        break;
    case ControlInputMessage:
        if (ControlListener) {
            ControlListener(wParam);
        }
        return 0;
    case BlankMessage:
    case BlankLateMessage:
        OnBlank(message == BlankMessage ? lParam : 0);
        return 0;
    case ReplyDueMessage:
        Logic.ReplyDue();
        ReplyMayBeOut();
        return 0;
    case WM_DPICHANGED:
        return 0; // device pixels stay device pixels on every monitor
    case WM_DESTROY:
        KillTimer(frmMain, PointerTimer);
        KillTimer(frmMain, CheckTimer);
        KillTimer(frmMain, SettleTimer);
        Logic.WindowClosed();
        PostQuitMessage(ExitStatus);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(frmMain, message, wParam, lParam);
}

LRESULT FrmMain::OnPicMain(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ERASEBKGND:
        return 1; // the paint covers every pixel
    case WM_SIZE:
        InvalidateRect(picMain, nullptr, FALSE);
        return 0;
    case WM_SETFOCUS:
        SetFocus(frmMain);
        return 0;
    case WM_MOUSEMOVE:
        OnPointerMove(lParam);
        return 0;
    case WM_SETCURSOR:
        if (PointerHidden && LOWORD(lParam) == HTCLIENT) {
            SetCursor(nullptr);
            return TRUE;
        }
        break;
    default:
        break;
    }
    return DefWindowProcW(picMain, message, wParam, lParam);
}

void FrmMain::OnChar(wchar_t unit) {
    if (unit >= 0xD800 && unit < 0xDC00) {
        PendingSurrogate = unit;
        return;
    }
    char32_t character = unit;
    if (unit >= 0xDC00 && unit < 0xE000 && PendingSurrogate != 0) {
        character = 0x10000 +
                    ((static_cast<char32_t>(PendingSurrogate) - 0xD800) << SurrogateShift) +
                    (static_cast<char32_t>(unit) - 0xDC00);
    }
    PendingSurrogate = 0;
    Logic.TypeCharacter(character);
}

// Windows also sends WM_MOUSEMOVE when nothing moved (a window appearing or
// moving under a still pointer, a cursor change): only a new position on the
// screen is motion.
void FrmMain::OnPointerMove(LPARAM lParam) {
    POINT position{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    ClientToScreen(picMain, &position);
    if (position.x != LastPointer.x || position.y != LastPointer.y) {
        LastPointer = position;
        Logic.PointerMoved();
    }
}

pruvex::PixelSize FrmMain::ClientSize() {
    RECT client;
    Checked(GetClientRect(frmMain, &client), "cannot read the client size");
    return {client.right, client.bottom};
}

// Each pixel of the drawing area is written once, in the colour it ends in.
void FrmMain::Paint() {
    PAINTSTRUCT ps;
    HDC dc = Checked(BeginPaint(picMain, &ps), "cannot paint the picture");
    PaintedSinceChange = true;
    RECT area;
    Checked(GetClientRect(picMain, &area), "cannot read the picture's size");
    RECT client;
    Checked(GetClientRect(frmMain, &client), "cannot read the client size");
    const pruvex::Picture picture = pruvex::Draw(Logic.State(), static_cast<float>(client.right),
                                                 static_cast<float>(client.bottom));
    const HBRUSH brush = static_cast<HBRUSH>(GetStockObject(DC_BRUSH));
    for (const pruvex::PaintRect& rect : pruvex::PaintPlan(picture, area.right, area.bottom)) {
        const pruvex::PixelRect& p = rect.Pixels;
        const RECT pixels{p.Left, p.Top, p.Right, p.Bottom};
        SetDCBrushColor(dc, RGB(rect.Fill.Red, rect.Fill.Green, rect.Fill.Blue));
        Checked(FillRect(dc, &pixels, brush), "cannot fill the picture");
    }
    EndPaint(picMain, &ps);
}

void FrmMain::SetCaption(const std::string& caption) {
    Checked(SetWindowTextW(frmMain, Widen(caption).c_str()), "cannot set the window caption");
}

void FrmMain::Repaint() {
    InvalidateRect(picMain, nullptr, FALSE);
}

// Painted now and handed on: GdiFlush empties the GDI batch, DwmFlush waits
// for the compositor's next presentation. Under Wine the pixels reach the X
// server only when the thread waits for messages, and a read from the screen
// is the round trip that returns once the server has them; on Windows the
// compositor's flush is the end of the road and such a read would only stall
// on the graphics card.
void FrmMain::PaintNow() {
    Checked(RedrawWindow(picMain, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW),
            "cannot paint the picture");
    GdiFlush();
    TheCompositor().WaitForPresent();
    if (UnderWine) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
        RECT area;
        Checked(GetWindowRect(picMain, &area), "cannot read the picture's place");
        HDC screen = Checked(GetDC(nullptr), "cannot read the screen");
        GetPixel(screen, area.left, area.top);
        ReleaseDC(nullptr, screen);
    }
}

// After the compositor's flush the picture goes out at the monitor's next
// vertical blank: waited for on a thread where the system can, else one
// period from now by the mode's rate, the latest it can come.
std::optional<pruvex::VerticalBlank> FrmMain::AwaitBlank(pruvex::FrameTime held) {
    HeldAt = held;
    if (frameclock::PostNextBlank(frmMain, BlankMessage) &&
        frameclock::PostAfter(frmMain, BlankLateMessage, BlankPatience)) {
        return std::nullopt;
    }
    return pruvex::LatestBlank(held, frameclock::NominalPeriod(frmMain));
}

// A blank from before the picture was held belongs to an earlier reply's
// wait (it came after that reply gave up on it).
void FrmMain::OnBlank(LPARAM counter) {
    const pruvex::Milliseconds period = frameclock::NominalPeriod(frmMain);
    const pruvex::VerticalBlank blank =
        counter != 0 ? pruvex::VerticalBlank{frameclock::FromPerformanceCounter(
                                                 static_cast<LONGLONG>(counter)),
                                             period, 1}
                     : pruvex::LatestBlank(std::chrono::steady_clock::now(), period);
    if (blank.When <= HeldAt) {
        return;
    }
    Logic.Blanked(blank);
    ReplyMayBeOut();
}

void FrmMain::StartReplyTimer(pruvex::Milliseconds wait) {
    if (!frameclock::PostAfter(frmMain, ReplyDueMessage, wait)) {
        pruvex::Fatal("cannot time the reply");
    }
}

pruvex::CheckLine FrmMain::FrameTiming() {
    const pruvex::Milliseconds period = frameclock::NominalPeriod(frmMain);
    const std::string rate = pruvex::RateText(period) +
                             (frameclock::ModeHasRate(frmMain) ? "" : " (the mode reports none)");
    if (frameclock::CanWaitForBlank()) {
        return {pruvex::Verdict::Pass, "frame timing",
                "the vertical blank of the window's monitor (D3DKMT), " + rate, ""};
    }
    return {pruvex::Verdict::Unverified, "frame timing",
            "this system cannot wait for a vertical blank (gdi32 has no "
            "D3DKMTWaitForVerticalBlankEvent); replies wait by the nominal " +
                rate,
            "Leave a frame or two between a reply and the exposure"};
}

void FrmMain::ReplyMayBeOut() {
    if (!Logic.ReplyPending() && ReplyListener) {
        ReplyListener();
    }
}

void FrmMain::Beep() {
    MessageBeep(0xFFFFFFFF);
}

void FrmMain::ShowWindow() {
    ::ShowWindow(frmMain, ShowCommand);
    SetFocus(frmMain);
}

// As the close button does; the window goes once this message is taken.
void FrmMain::CloseWindow() {
    Checked(PostMessageW(frmMain, WM_CLOSE, 0, 0), "cannot close the window");
}

std::vector<pruvex::Monitor> FrmMain::Monitors() {
    return DesktopMonitors();
}

int FrmMain::WindowMonitor() {
    RECT r;
    Checked(GetWindowRect(frmMain, &r), "cannot read the window's place");
    return pruvex::MonitorHolding(Monitors(), r.left, r.top, r.right - r.left, r.bottom - r.top);
}

// picMain's sunken edge and frmMain's frame and caption, on or off.
void FrmMain::SetFrame(bool framed) {
    const LONG_PTR style = GetWindowLongPtrW(frmMain, GWL_STYLE);
    SetStyle(frmMain, GWL_STYLE,
             framed ? (style & ~WS_POPUP) | WS_OVERLAPPEDWINDOW
                    : (style & ~WS_OVERLAPPEDWINDOW) | WS_POPUP);
    const LONG_PTR edge = GetWindowLongPtrW(picMain, GWL_EXSTYLE);
    SetStyle(picMain, GWL_EXSTYLE, framed ? edge | WS_EX_CLIENTEDGE : edge & ~WS_EX_CLIENTEDGE);
    const UINT unchanged = SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE;
    Checked(SetWindowPos(picMain, nullptr, 0, 0, 0, 0, unchanged | SWP_FRAMECHANGED),
            "cannot change the picture's edge");
}

// The monitor's rectangle in device pixels (the process is per-monitor DPI
// aware), with neither frame nor edge: every pixel of it is the picture.
void FrmMain::EnterFullScreen(int monitor) {
    const std::vector<pruvex::Monitor> monitors = Monitors();
    if (monitor < 1 || monitor > static_cast<int>(monitors.size())) {
        return;
    }
    const pruvex::Monitor& m = monitors[static_cast<std::size_t>(monitor - 1)];
    if (!InFullScreen) {
        // Started full screen, the window has never been shown: leaving gives
        // the 776 x 520 window, at the top left of the same monitor.
        if (!IsWindowVisible(frmMain)) {
            Checked(SetWindowPos(frmMain, nullptr, m.Left, m.Top, 0, 0,
                                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE),
                    "cannot place the window");
        }
        Placement.length = sizeof Placement;
        Checked(GetWindowPlacement(frmMain, &Placement), "cannot read the window's place");
        if (IsZoomed(frmMain)) {
            ::ShowWindow(frmMain, SW_SHOWNORMAL);
        }
        SetFrame(false);
        InFullScreen = true;
    }
    FullScreenPlace = RECT{m.Left, m.Top, m.Left + m.Width, m.Top + m.Height};
    PlaceFullScreen();
    SetFocus(frmMain);
    StartSettling();
}

void FrmMain::PlaceFullScreen() {
    const RECT& r = FullScreenPlace;
    Checked(SetWindowPos(frmMain, HWND_TOP, r.left, r.top, r.right - r.left, r.bottom - r.top,
                         SWP_FRAMECHANGED | SWP_SHOWWINDOW),
            "cannot make the window full screen");
}

void FrmMain::LeaveFullScreen() {
    if (!InFullScreen) {
        return;
    }
    InFullScreen = false;
    SetFrame(true);
    if (Placement.showCmd == SW_HIDE || Placement.showCmd == SW_SHOWMINIMIZED ||
        Placement.showCmd == SW_MINIMIZE) {
        Placement.showCmd = SW_SHOWNORMAL;
    }
    Checked(SetWindowPos(frmMain, nullptr, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED),
            "cannot give the window its frame");
    Checked(SetWindowPlacement(frmMain, &Placement), "cannot give the window its place back");
    StartSettling();
}

// Under Wine a full-screen change is asked of the X window manager, which
// makes it when it gets to it (a busy one, seconds later), and Wine takes
// the window's place from its answer: a reply waits until the window has
// the place asked for and the screen shows the picture there, polled every
// 50 ms, for WindowManagerMilliseconds at most.
void FrmMain::StartSettling() {
    if (!UnderWine || !IsWindowVisible(frmMain)) {
        return;
    }
    if (SetTimer(frmMain, SettleTimer, static_cast<UINT>(SettlePollMilliseconds), nullptr) == 0) {
        pruvex::Fatal("cannot time the window's change");
    }
    SettlePollsLeft = pruvex::WindowManagerMilliseconds / SettlePollMilliseconds;
    PaintedSinceChange = false;
}

bool FrmMain::Settling() {
    if (SettlePollsLeft > 0 && PaintedSinceChange && HasItsPlace() && ScreenShowsPicture()) {
        SettlePollsLeft = 0;
        KillTimer(frmMain, SettleTimer);
    }
    return SettlePollsLeft > 0;
}

// A window manager loaded by quick changes (a framed window, then full
// screen again) can carry out an older request after the newer one and
// leave the window at its framed size: every second the whole monitor is
// asked for again, until the window has it. Given up, a full-screen window
// that does not show the picture on the whole monitor makes the reply an
// error; a framed one's goes out.
void FrmMain::OnSettleTimer() {
    constexpr int PollsBeforeAskingAgain = 1000 / SettlePollMilliseconds;
    const bool settled = !Settling();
    if (!settled && --SettlePollsLeft > 0) {
        if (SettlePollsLeft % PollsBeforeAskingAgain == 0 && !HasItsPlace()) {
            PaintedSinceChange = false;
            PlaceFullScreen();
        }
        return;
    }
    SettlePollsLeft = 0;
    KillTimer(frmMain, SettleTimer);
    if (!Logic.ReplyPending()) {
        return;
    }
    if (!settled && InFullScreen) {
        Logic.NotSettled(pruvex::NotFullScreenError());
    } else {
        Logic.Settled();
    }
    ReplyMayBeOut();
}

// Full screen, the window has the whole monitor; framed, any place will do.
bool FrmMain::HasItsPlace() {
    RECT place;
    return !InFullScreen ||
           (GetWindowRect(frmMain, &place) && EqualRect(&place, &FullScreenPlace) != 0);
}

// The picture's corners and centre, as painted since the change, are what
// the screen shows there.
bool FrmMain::ScreenShowsPicture() {
    RECT area;
    POINT origin{0, 0};
    if (!GetClientRect(picMain, &area) || !ClientToScreen(picMain, &origin) || area.right <= 0 ||
        area.bottom <= 0) {
        return false;
    }
    const HDC window = GetDC(picMain);
    const HDC screen = GetDC(nullptr);
    bool same = window != nullptr && screen != nullptr;
    const std::array<POINT, 5> points{{{0, 0},
                                       {area.right - 1, 0},
                                       {0, area.bottom - 1},
                                       {area.right - 1, area.bottom - 1},
                                       {area.right / 2, area.bottom / 2}}};
    for (const POINT& p : points) {
        same =
            same && GetPixel(window, p.x, p.y) == GetPixel(screen, origin.x + p.x, origin.y + p.y);
    }
    ReleaseDC(nullptr, screen);
    ReleaseDC(picMain, window);
    return same;
}

void FrmMain::ShowPointer(bool shown) {
    PointerHidden = !shown;
    POINT position;
    if (GetCursorPos(&position) && WindowFromPoint(position) == picMain) {
        SetCursor(shown ? LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)) : nullptr);
    }
}

void FrmMain::StartPointerTimer(int milliseconds) {
    Checked(SetTimer(frmMain, PointerTimer, static_cast<UINT>(milliseconds), nullptr),
            "cannot start the pointer's timer");
}

// The display stays on and the screen saver off while the thread holds
// ES_DISPLAY_REQUIRED; the system's own setting is never touched. A refusal
// costs the user no more than the screen saver.
void FrmMain::HoldScreenSaver(bool held) {
    SetThreadExecutionState(held ? ES_CONTINUOUS | ES_DISPLAY_REQUIRED : ES_CONTINUOUS);
}

// One line on the inherited standard output: WriteFile hands it to the pipe
// or file at once (no buffer of ours to flush). A reader that has gone away
// ends the replies, not the program.
void FrmMain::WriteReply(const std::string& line) {
    if (ReplyOutputBroken || ReplyOutput == nullptr || ReplyOutput == INVALID_HANDLE_VALUE) {
        return;
    }
    const std::string text = line + "\n";
    DWORD written = 0;
    for (std::size_t done = 0; done < text.size(); done += written) {
        if (!WriteFile(ReplyOutput, text.data() + done, static_cast<DWORD>(text.size() - done),
                       &written, nullptr) ||
            written == 0) {
            ReplyOutputBroken = true;
            return;
        }
    }
}
