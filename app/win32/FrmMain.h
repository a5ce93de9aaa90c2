#pragma once

// The one window of Pruvex.exe: frmMain, a top-level window, with its only
// child picMain, a surface with a 2-pixel sunken edge kept over the whole
// client area (no edge in full screen). It is the controller's platform:
// every event goes to the controller, which owns the display's state, and
// each of its requests is a few Win32 calls here.

#include "app/Controller.h"
#include "app/Options.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Posted to frmMain by the control channel's reader thread; wParam is the
// number of bytes read, 0 at the end of input.
inline constexpr UINT ControlInputMessage = WM_APP + 1;
// Posted by the frame clock's threads: a vertical blank (lParam: the
// performance counter at it, 0 when the wait failed), and a reply's wait
// over.
inline constexpr UINT BlankMessage = WM_APP + 2;
inline constexpr UINT ReplyDueMessage = WM_APP + 3;
// A blank that did not come in time (a monitor asleep): the reply goes by the
// nominal rate.
inline constexpr UINT BlankLateMessage = WM_APP + 4;

class FrmMain : public pruvex::Platform {
  public:
    // Creates the window, hidden, at a 776 x 520 client area; showCommand is
    // how wWinMain was asked to show it.
    FrmMain(HINSTANCE instance, const pruvex::Options& options, int showCommand);
    ~FrmMain() override = default;
    FrmMain(const FrmMain&) = delete;
    FrmMain& operator=(const FrmMain&) = delete;

    pruvex::Controller& Control() { return Logic; }
    HWND Handle() const { return frmMain; }

    // Called on the window's thread for each ControlInputMessage.
    void SetControlListener(std::function<void(WPARAM)> listener) {
        ControlListener = std::move(listener);
    }
    // Called after a reply that waited for the frame, when the channel may
    // take the next line.
    void SetReplyListener(std::function<void()> listener) { ReplyListener = std::move(listener); }

    // Platform
    void SetCaption(const std::string& caption) override;
    void Repaint() override;
    void PaintNow() override;
    void Beep() override;
    pruvex::PixelSize ClientSize() override;
    void ShowWindow() override;
    void CloseWindow() override;
    std::vector<pruvex::Monitor> Monitors() override;
    int WindowMonitor() override;
    void EnterFullScreen(int monitor) override;
    void LeaveFullScreen() override;
    // On Windows SetWindowPos has moved the window by the time it returns;
    // under Wine the X window manager moves it later, and the change has
    // settled once the screen shows the window's pixels.
    bool Settling() override;
    void ShowPointer(bool shown) override;
    void StartPointerTimer(int milliseconds) override;
    void HoldScreenSaver(bool held) override;
    std::optional<pruvex::VerticalBlank> AwaitBlank(pruvex::FrameTime held) override;
    void StartReplyTimer(pruvex::Milliseconds wait) override;
    pruvex::CheckLine FrameTiming() override;
    void WriteReply(const std::string& line) override;
    std::vector<pruvex::CheckLine> PipelineChecks() override;
    bool ReadBack(pruvex::ReadBackImage& fromWindow, pruvex::ReadBackImage& fromScreen) override;

    // --check: once the window is shown and settled, the report goes to the
    // standard output and the window closes; the program ends with the
    // report's status.
    void CheckWhenShown();

  private:
    template <HWND FrmMain::*Window, LRESULT (FrmMain::*Handler)(UINT, WPARAM, LPARAM)>
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnFrmMain(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT OnPicMain(UINT message, WPARAM wParam, LPARAM lParam);
    void RegisterClasses(HINSTANCE instance);
    void OnChar(wchar_t unit);
    void OnPointerMove(LPARAM lParam);
    void Paint();
    void SetFrame(bool framed);
    void OnCheckTimer();
    void StartSettling();
    void OnSettleTimer();
    void PlaceFullScreen();
    bool HasItsPlace();
    bool ScreenShowsPicture();
    void OnBlank(LPARAM counter);
    void ReplyMayBeOut();

    static constexpr UINT_PTR CheckTimer = 2;
    static constexpr UINT_PTR SettleTimer = 3;
    static constexpr int SettlePollMilliseconds = 50;

    pruvex::Controller Logic;
    HWND frmMain = nullptr;
    HWND picMain = nullptr;
    int ShowCommand;
    wchar_t PendingSurrogate = 0; // first half of a character typed as two WM_CHARs
    bool PointerHidden = false;
    POINT LastPointer{-32768, -32768}; // screen position of the last real motion
    bool InFullScreen = false;
    WINDOWPLACEMENT Placement{}; // the window's place before full screen
    RECT FullScreenPlace{};      // the monitor's rectangle, in full screen
    HANDLE ReplyOutput;
    bool ReplyOutputBroken = false;
    bool UnderWine;
    std::function<void(WPARAM)> ControlListener;
    std::function<void()> ReplyListener;
    pruvex::FrameTime HeldAt; // the picture a reply waits for reached the server
    RECT CheckPlace{};        // the window's place at the check's last poll
    int CheckPolls = 0;       // polls since the window was last seen to move
    int CheckPollsInAll = 0;  // polls since the check was asked for
    int ExitStatus = 0;       // the program's, once the window is gone
    int SettlePollsLeft = 0;  // under Wine, while a full-screen change settles
    bool PaintedSinceChange = true;
};

// The monitors as numbered for --list-monitors and --fullscreen=N.
std::vector<pruvex::Monitor> DesktopMonitors();
