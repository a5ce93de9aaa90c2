#include "Controller.h"

#include "KeyCommands.h"
#include "pattern/LevelColour.h"
#include "pattern/Picture.h"

#include <vector>

namespace pruvex {

namespace {
constexpr char32_t Escape = 0x1B;
} // namespace

Controller::Controller(Platform& platform, const Options& options)
    : Shell(platform), StartFullScreen(options.FullScreen), StartMonitor(options.FullScreenMonitor),
      Settle(options.SettleMilliseconds) {
    ApplyArguments(Pattern, options.Numbers);
    if (options.Grid) {
        Pattern.Mode = std::string("G");
    }
}

void Controller::Show() {
    Redraw();
    if (StartFullScreen) {
        EnterFullScreen(StartMonitor);
    } else {
        Shell.ShowWindow();
    }
    Shell.StartPointerTimer(PointerIdleMilliseconds);
}

void Controller::Redraw() {
    Shell.SetCaption(Caption(Pattern));
    Shell.Repaint();
}

void Controller::TypeCharacter(char32_t character) {
    if (character == Escape && InFullScreen) {
        LeaveFullScreen();
    } else if (!ApplyKey(Pattern, character)) {
        Shell.Beep();
    }
    Redraw();
}

void Controller::PressKey(Key key) {
    if (key != Key::FullScreen) {
        return;
    }
    if (InFullScreen) {
        LeaveFullScreen();
    } else {
        EnterFullScreen(0);
    }
}

void Controller::PointerMoved() {
    if (!PointerShown) {
        PointerShown = true;
        Shell.ShowPointer(true);
    }
    Shell.StartPointerTimer(PointerIdleMilliseconds);
}

void Controller::PointerIdle() {
    if (PointerShown) {
        PointerShown = false;
        Shell.ShowPointer(false);
    }
}

void Controller::WindowVisible(bool visible) {
    if (!Closed && visible != ScreenSaverHeld) {
        ScreenSaverHeld = visible;
        Shell.HoldScreenSaver(visible);
    }
}

void Controller::WindowClosed() {
    WindowVisible(false);
    Closed = true;
}

void Controller::EnterFullScreen(int monitor) {
    Shell.EnterFullScreen(monitor > 0 ? monitor : Shell.WindowMonitor());
    InFullScreen = true;
}

void Controller::LeaveFullScreen() {
    if (InFullScreen) {
        Shell.LeaveFullScreen();
        InFullScreen = false;
    }
}

void Controller::Command(std::string_view line) {
    CommandStart = std::chrono::steady_clock::now();
    ++LineNumber;
    const CommandLimits limits{HighestGridLevel(Pattern),
                               [this] { return static_cast<int>(Shell.Monitors().size()); }};
    const ReadLine read = ReadCommand(line, limits);
    if (!read.Command) {
        ReplyError(read.Error);
        return;
    }
    const Outcome outcome = Apply(*read.Command);
    QuitPending = outcome.Quit;
    PendingReply = outcome.Reply;
    Phase = ReplyPhase::Settling;
    if (!Shell.Settling()) {
        Settled();
    }
}

void Controller::CommandTooLong() {
    CommandStart = std::chrono::steady_clock::now();
    ++LineNumber;
    ReplyError(LineTooLongError());
}

void Controller::Settled() {
    if (Phase != ReplyPhase::Settling) {
        return;
    }
    Phase = ReplyPhase::Blank;
    Shell.PaintNow();
    const std::optional<VerticalBlank> blank = Shell.AwaitBlank(std::chrono::steady_clock::now());
    if (blank) {
        Blanked(*blank);
    }
}

void Controller::NotSettled(const std::string& error) {
    if (Phase != ReplyPhase::Settling) {
        return;
    }
    Phase = ReplyPhase::None;
    PendingReply.clear();
    ReplyError(error);
    if (QuitPending) {
        QuitPending = false;
        Shell.CloseWindow();
    }
}

void Controller::Blanked(const VerticalBlank& blank) {
    if (Phase != ReplyPhase::Blank) {
        return;
    }
    Phase = ReplyPhase::Shown;
    const auto refresh = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        blank.Period * blank.Refreshes);
    ShownAt = blank.When + refresh;
    const FrameTime due = ShownAt + std::chrono::milliseconds(Settle);
    RefreshHz = blank.Period.count() > 0 ? 1000.0 / blank.Period.count() : 0;
    const auto now = std::chrono::steady_clock::now();
    if (due <= now) {
        WriteReply();
    } else {
        Shell.StartReplyTimer(due - now);
    }
}

void Controller::ReplyDue() {
    if (Phase == ReplyPhase::Shown) {
        WriteReply();
    }
}

void Controller::WriteReply() {
    Phase = ReplyPhase::None;
    const auto now = std::chrono::steady_clock::now();
    Shell.WriteReply(
        PendingReply.empty()
            ? StateReply({Pattern, InFullScreen, ShownPitch(),
                          Milliseconds(now - CommandStart).count(),
                          Milliseconds(ShownAt - CommandStart).count(), RefreshHz, Settle})
            : PendingReply);
    PendingReply.clear();
    if (QuitPending) {
        QuitPending = false;
        Shell.CloseWindow();
    }
}

int Controller::ShownPitch() {
    const PixelSize client = Shell.ClientSize();
    return GridPitch(Pattern, static_cast<float>(client.Width), static_cast<float>(client.Height));
}

void Controller::ReplyError(const std::string& error) {
    Shell.WriteReply(ErrorReply(error, LineNumber));
}

std::vector<CheckLine> Controller::CheckDisplay() {
    std::vector<CheckLine> lines = Shell.PipelineChecks();
    const PatternState kept = Pattern;
    struct Shown {
        const char* Mode;
        std::int16_t Level;
    };
    const Shown pictures[] = {{"F", 0}, {"F", 1}, {"F", 128}, {"F", 254}, {"F", 255}, {"G", 0}};
    std::string fromWindow;
    std::string fromScreen;
    bool read = true;
    for (const Shown& shown : pictures) {
        Pattern.Mode = std::string(shown.Mode);
        if (shown.Mode[0] == 'F') {
            Pattern.FlatLevel = shown.Level;
        }
        Redraw();
        Shell.PaintNow();
        ReadBackImage window;
        ReadBackImage screen;
        if (!Shell.ReadBack(window, screen)) {
            read = false;
            break;
        }
        const std::vector<PaintRect> painted =
            PaintPlan(Draw(Pattern, static_cast<float>(window.ClientWidth),
                           static_cast<float>(window.ClientHeight)),
                      window.Width, window.Height);
        const std::string name = shown.Mode[0] == 'F'
                                     ? "flat field at " + std::to_string(shown.Level)
                                     : "mosaic from " + std::to_string(Pattern.GridLevel);
        // The first picture that differs, and its first differing pixel.
        for (auto [image, found] : {std::pair{&window, &fromWindow}, {&screen, &fromScreen}}) {
            if (found->empty()) {
                const std::string difference = FirstDifference(*image, painted);
                if (!difference.empty()) {
                    *found = name;
                    *found += ": ";
                    *found += difference;
                }
            }
        }
    }
    Pattern = kept;
    Redraw();
    // The clock as the pictures just painted found it.
    lines.push_back(Shell.FrameTiming());
    const char* const everything =
        "every pixel exact in the flat field at 0, 1, 128, 254 and 255 and in the mosaic";
    if (!read) {
        lines.push_back({Verdict::Unverified, "read-back", "the pixels cannot be read back here",
                         "Compare the picture with the README's pictures by eye"});
        return lines;
    }
    lines.push_back({fromWindow.empty() ? Verdict::Pass : Verdict::Fail,
                     "read-back from the window", fromWindow.empty() ? everything : fromWindow,
                     "The display server does not keep the colours Pruvex paints: use a "
                     "24-bit (8 bits per channel) display mode"});
    lines.push_back({fromScreen.empty() ? Verdict::Pass : Verdict::Fail,
                     "read-back from the screen", fromScreen.empty() ? everything : fromScreen,
                     "Something covers or changes the window on screen: close windows over it "
                     "and switch off the compositor's effects (opacity, tint) for it"});
    return lines;
}

Controller::Outcome Controller::Apply(const ControlCommand& command) {
    switch (command.Name) {
    case CommandName::Keys:
        for (const char32_t character : command.Characters) {
            TypeCharacter(character);
        }
        break;
    case CommandName::Flat:
    case CommandName::Grid:
        Pattern.Mode = std::string(command.Name == CommandName::Flat ? "F" : "G");
        Redraw();
        break;
    case CommandName::Level:
        Pattern.FlatLevel = static_cast<std::int16_t>(command.Number);
        Redraw();
        break;
    case CommandName::GridLevel:
        Pattern.GridLevel = static_cast<std::int16_t>(command.Number);
        Redraw();
        break;
    case CommandName::Step:
        Pattern.LevelStep = static_cast<std::int16_t>(command.Number);
        Redraw();
        break;
    case CommandName::FullScreen:
        EnterFullScreen(command.Number);
        break;
    case CommandName::Window:
        LeaveFullScreen();
        break;
    case CommandName::Check:
        return {false, ReportJson(CheckDisplay())};
    case CommandName::Settle:
        Settle = command.Number;
        break;
    case CommandName::State:
        break;
    case CommandName::Quit:
        return {true, {}};
    }
    return {};
}

} // namespace pruvex
