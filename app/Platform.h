#pragma once

// What a shell does for the controller: the window, the system's services
// and the display server, behind one small interface. Each shell implements
// it with a few lines of its own toolkit.

#include "DisplayCheck.h"
#include "Monitors.h"

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace pruvex {

struct PixelSize {
    int Width = 0;
    int Height = 0;
};

using FrameTime = std::chrono::steady_clock::time_point;
using Milliseconds = std::chrono::duration<double, std::milli>;

// A vertical blank of the monitor that shows the window: the moment a frame
// starts to scan out, and what it takes to scan it out to its last line.
struct VerticalBlank {
    FrameTime When;
    Milliseconds Period{1000.0 / 60.0}; // one refresh
    // Refreshes from the blank until the window's picture is out: one, and
    // one more where a compositor shows it a frame later.
    int Refreshes = 1;
};

// Where no clock tells: the first blank after `after` comes one period
// later at the latest.
inline VerticalBlank LatestBlank(FrameTime after, Milliseconds period) {
    return {after + std::chrono::duration_cast<FrameTime::duration>(period), period, 1};
}

// A period as the rate a report names, e.g. "60.0 Hz".
inline std::string RateText(Milliseconds period) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f Hz", 1000.0 / period.count());
    return text;
}

class Platform {
  public:
    virtual ~Platform() = default;

    virtual void SetCaption(const std::string& caption) = 0;
    // Schedules a paint of the picture; the paint reads the state.
    virtual void Repaint() = 0;
    // Paints now and returns once the display server holds the picture.
    virtual void PaintNow() = 0;
    virtual void Beep() = 0;

    // The window's client area in device pixels, the size the picture is
    // drawn for.
    virtual PixelSize ClientSize() = 0;

    virtual void ShowWindow() = 0;
    virtual void CloseWindow() = 0;
    // The monitors, numbered (NumberMonitors), and the number of the one
    // that holds most of the window.
    virtual std::vector<Monitor> Monitors() = 0;
    virtual int WindowMonitor() = 0;
    // Full screen on monitor N (1-based): no frame, no border, the picture
    // covers the monitor. Leaving gives back the window as it was before.
    virtual void EnterFullScreen(int monitor) = 0;
    virtual void LeaveFullScreen() = 0;
    // The window's geometry is changing (full screen entered or left); the
    // shell calls Controller::Settled() once it is done.
    virtual bool Settling() = 0;

    virtual void ShowPointer(bool shown) = 0;
    // One-shot: the shell calls Controller::PointerIdle() when it expires.
    // Starting it again restarts it.
    virtual void StartPointerTimer(int milliseconds) = 0;
    virtual void HoldScreenSaver(bool held) = 0;

    // The first vertical blank after `held`, the moment the display server
    // held the picture: returned when known at once, else the shell calls
    // Controller::Blanked with it later, without blocking its event loop.
    virtual std::optional<VerticalBlank> AwaitBlank(FrameTime held) = 0;
    // One-shot: the shell calls Controller::ReplyDue() when it expires, no
    // earlier.
    virtual void StartReplyTimer(Milliseconds wait) = 0;
    // The clock AwaitBlank goes by, for --check: PASS naming it and its rate,
    // UNVERIFIED when replies wait by a nominal rate.
    virtual CheckLine FrameTiming() {
        return {Verdict::Unverified, "frame timing", "this platform has no frame clock",
                "Wait a few frames after each reply before the exposure"};
    }

    // One reply line of the control channel, without its line end.
    virtual void WriteReply(const std::string& line) = 0;

    // The checks of the way from the window to the monitor that this
    // platform can make (display server, visual, gamma, colour management).
    virtual std::vector<CheckLine> PipelineChecks() {
        return {{Verdict::Unverified, "pipeline", "this platform has no checks of its display",
                 "Check the monitor's settings by eye"}};
    }
    // The drawing area as the display server holds it, read from the window
    // and from the screen over the window's place; false when it cannot be
    // read.
    virtual bool ReadBack(ReadBackImage& /*fromWindow*/, ReadBackImage& /*fromScreen*/) {
        return false;
    }
};

} // namespace pruvex
