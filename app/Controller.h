#pragma once

// The application's logic, shared by every shell: it owns the display's
// state, takes typed characters, keys without a character, pointer and
// window events and control commands, and tells the shell what to do through
// Platform.

#include "ControlProtocol.h"
#include "Options.h"
#include "Platform.h"
#include "pattern/PatternState.h"

#include <chrono>
#include <string>
#include <string_view>
#include <utility>

namespace pruvex {

// Keys that type no character but do something.
enum class Key { FullScreen, Other };

// The pointer hides over the picture after this long without motion.
inline constexpr int PointerIdleMilliseconds = 2000;

class Controller {
  public:
    Controller(Platform& platform, const Options& options);

    PatternState& State() { return Pattern; }
    const PatternState& State() const { return Pattern; }
    bool IsFullScreen() const { return InFullScreen; }

    // Shows the window, full screen when the options ask for it.
    void Show();
    // The caption for the state, and a repaint.
    void Redraw();

    void TypeCharacter(char32_t character);
    void PressKey(Key key);
    void PointerMoved();
    void PointerIdle();
    // Shown and not minimised (true), or minimised or hidden (false).
    void WindowVisible(bool visible);
    void WindowClosed();

    void EnterFullScreen(int monitor);
    void LeaveFullScreen();

    // The report of --check: the platform's checks of its display, then the
    // flat field at 0, 1, 128, 254 and 255 and the mosaic painted and read
    // back; the state is given back afterwards.
    std::vector<CheckLine> CheckDisplay();

    // One line of the control channel (without its line end): applies it and
    // replies through the platform, at once or, while the window's geometry
    // settles, on Settled().
    void Command(std::string_view line);
    // A line longer than the channel takes: replied to as an error.
    void CommandTooLong();
    // The window's geometry has settled: the picture is painted and the
    // reply waits until the monitor shows it (Blanked, ReplyDue).
    void Settled();
    // The window did not reach the whole monitor in the time the window
    // manager is given: the reply is this error, since the monitor does not
    // show the picture as asked.
    void NotSettled(const std::string& error);
    // The first vertical blank after the picture was held.
    void Blanked(const VerticalBlank& blank);
    // The reply's wait is over: the frame is out and the panel has settled.
    void ReplyDue();
    // While true, the shell holds back the next line.
    bool ReplyPending() const { return Phase != ReplyPhase::None; }
    // The panel's settle time, waited after the frame is scanned out.
    int SettleMilliseconds() const { return Settle; }

  private:
    struct Outcome {
        bool Quit = false;
        std::string Reply; // a reply of its own instead of the state
    };
    Outcome Apply(const ControlCommand& command);
    void ReplyError(const std::string& error);
    void WriteReply();
    // The mosaic's pitch at the window's size, shown or not.
    int ShownPitch();

    Platform& Shell;
    PatternState Pattern;
    bool StartFullScreen = false;
    int StartMonitor = 0;
    bool InFullScreen = false;
    bool PointerShown = true;
    bool ScreenSaverHeld = false;
    bool Closed = false;

    long LineNumber = 0;
    // A reply waits for the window's geometry, then for the first vertical
    // blank after the paint, then for the frame to scan out and settle.
    enum class ReplyPhase { None, Settling, Blank, Shown };
    ReplyPhase Phase = ReplyPhase::None;
    int Settle = DefaultSettleMilliseconds;
    FrameTime ShownAt; // the frame scanned out to its last line
    double RefreshHz = 0;
    bool QuitPending = false;
    std::string PendingReply;
    std::chrono::steady_clock::time_point CommandStart;
};

} // namespace pruvex
