#include "app/Controller.h"
#include "FakePlatform.h"
#include "app/ControlChannel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include <string>
#include <vector>

namespace {

using pruvex::Controller;
using pruvex::Key;
using pruvex::ReadOptions;
using pruvex::testing::FakePlatform;
using Calls = std::vector<std::string>;

// An event given to the controller: a typed character, F11 ("<F11>"),
// pointer motion ("<move>"), the pointer timer ("<idle>"), the window shown
// or minimised ("<shown>", "<minimised>"), closed ("<closed>").
void Give(Controller& controller, const std::string& event) {
    if (event == "<F11>") {
        controller.PressKey(Key::FullScreen);
    } else if (event == "<other key>") {
        controller.PressKey(Key::Other);
    } else if (event == "<move>") {
        controller.PointerMoved();
    } else if (event == "<idle>") {
        controller.PointerIdle();
    } else if (event == "<shown>") {
        controller.WindowVisible(true);
    } else if (event == "<minimised>") {
        controller.WindowVisible(false);
    } else if (event == "<closed>") {
        controller.WindowClosed();
    } else {
        for (const char c : event) {
            controller.TypeCharacter(static_cast<unsigned char>(c));
        }
    }
}

struct EventCase {
    const char* Name;
    const char* Arguments;
    std::vector<std::string> Events;
    Calls Expected; // the calls of the events, repaints left out
};

class EventTable : public testing::TestWithParam<EventCase> {};

TEST_P(EventTable, AsksThePlatform) {
    FakePlatform platform;
    Controller controller(platform, ReadOptions(GetParam().Arguments));
    controller.Show();
    platform.Take();
    for (const std::string& event : GetParam().Events) {
        Give(controller, event);
    }
    EXPECT_EQ(platform.Take(), GetParam().Expected);
}

const std::string Escape = "\x1b";

INSTANTIATE_TEST_SUITE_P(
    Events, EventTable,
    testing::Values(
        EventCase{
            "F11TogglesOnTheWindowsMonitor", "", {"<F11>", "<F11>"}, {"fullscreen 1", "window"}},
        EventCase{"EscapeLeavesFullScreenWithoutABeep",
                  "",
                  {"<F11>", Escape},
                  {"fullscreen 1", "window"}},
        EventCase{"EscapeInAWindowBeeps", "", {Escape}, {"beep"}},
        EventCase{
            "EscapeTwiceLeavesThenBeeps", "--fullscreen=2", {Escape, Escape}, {"window", "beep"}},
        EventCase{"OtherKeysDoNothing", "", {"<other key>"}, {}},
        EventCase{"PointerHidesWhenIdleAndShowsOnMotion",
                  "",
                  {"<idle>", "<idle>", "<move>", "<move>"},
                  {"pointer hidden", "pointer shown", "timer 2000", "timer 2000"}},
        EventCase{"ScreenSaverHeldWhileShownOnly",
                  "",
                  {"<shown>", "<shown>", "<minimised>", "<shown>", "<closed>", "<shown>"},
                  {"saver held", "saver released", "saver held", "saver released"}},
        EventCase{"NeverHeldNothingReleased", "", {"<minimised>", "<closed>"}, {}}),
    [](const testing::TestParamInfo<EventCase>& param) { return std::string(param.param.Name); });

TEST(Controller, ShowsAsTheOptionsSay) {
    const std::pair<const char*, Calls> cases[] = {
        {"", {"show", "timer 2000"}},
        {"--fullscreen", {"fullscreen 1", "timer 2000"}},
        {"5 --fullscreen=2 100", {"fullscreen 2", "timer 2000"}},
    };
    for (const auto& [arguments, expected] : cases) {
        FakePlatform platform;
        Controller controller(platform, ReadOptions(arguments));
        controller.Show();
        EXPECT_EQ(platform.Take(), expected) << arguments;
        EXPECT_EQ(controller.IsFullScreen(), expected[0] != "show") << arguments;
    }
    FakePlatform platform;
    Controller controller(platform, ReadOptions("--grid 5 100"));
    controller.Show();
    EXPECT_EQ(platform.Caption.substr(0, 9), "Grid @25:");
    EXPECT_EQ(controller.State().LevelStep, 5);
    EXPECT_EQ(controller.State().FlatLevel, 100);
}

// Commands applied: the state they leave and the reply. What each line reads
// as is ControlProtocolTest's table.
struct CommandCase {
    std::vector<std::string> Lines;
    const char* Reply; // the last reply, or its start for a state reply
    int FlatLevel;
    int GridLevel;
    int LevelStep;
    const char* Mode;
};

class CommandTable : public testing::TestWithParam<CommandCase> {};

TEST_P(CommandTable, RepliesAndChanges) {
    FakePlatform platform;
    Controller controller(platform, ReadOptions("2 100"));
    controller.Show();
    for (const std::string& line : GetParam().Lines) {
        controller.Command(line);
    }
    ASSERT_EQ(platform.Replies.size(), GetParam().Lines.size());
    const std::string& reply = platform.Replies.back();
    EXPECT_EQ(reply.substr(0, std::string(GetParam().Reply).size()), GetParam().Reply) << reply;
    EXPECT_EQ(controller.State().FlatLevel, GetParam().FlatLevel);
    EXPECT_EQ(controller.State().GridLevel, GetParam().GridLevel);
    EXPECT_EQ(controller.State().LevelStep, GetParam().LevelStep);
    EXPECT_EQ(controller.State().Mode, GetParam().Mode);
}

const char* const Ok = "{\"ok\":true,";
const char* const Range =
    R"({"ok":false,"error":"level must be an integer from 0 to 255","line":1})";

INSTANTIATE_TEST_SUITE_P(
    Commands, CommandTable,
    testing::Values(
        CommandCase{
            {"level 213"},
            R"({"ok":true,"mode":"F","level":213,"step":2,"grid_level":25,"pitch":61,"rgb":[213,97,145],"caption":"Flat @213: Adjust)",
            213,
            25,
            2,
            "F"},
        CommandCase{
            {"grid", "grid-level 178"},
            R"({"ok":true,"mode":"G","level":100,"step":2,"grid_level":178,"pitch":61,"rgb":[178,81,121])",
            100,
            178,
            2,
            "G"},
        CommandCase{{"step 255", "keys +"}, Ok, 100, 25, 255, "F"},
        CommandCase{{"keys ++Gz-aQ\xc3\xa9"}, Ok, 104, 24, 2, "G"},
        CommandCase{{"grid", "flat", "state"}, Ok, 100, 25, 2, "F"},
        CommandCase{{"level 256"}, Range, 100, 25, 2, "F"},
        CommandCase{{"grid", "level 300", "keys +"}, Ok, 100, 26, 2, "G"},
        CommandCase{{"grid", "level 7", "bad \"quote\\"},
                    R"({"ok":false,"error":"unknown command \"bad\"; the commands are)",
                    7,
                    25,
                    2,
                    "G"}));

TEST(Controller, FullScreenCommandsRepliedOnceSettled) {
    FakePlatform platform;
    Controller controller(platform, ReadOptions(""));
    controller.Show();
    platform.Take();
    platform.GeometryChanging = true;
    controller.Command("fullscreen 2");
    EXPECT_TRUE(controller.ReplyPending());
    EXPECT_EQ(platform.Take(), (Calls{"fullscreen 2"}));
    platform.GeometryChanging = false;
    platform.Client = {1280, 1024};
    controller.Settled();
    EXPECT_FALSE(controller.ReplyPending());
    EXPECT_EQ(platform.Take(), (Calls{"paint now", "reply"}));
    EXPECT_NE(platform.Replies.back().find("\"fullscreen\":true"), std::string::npos);
    // The flat field's reply names the mosaic's pitch at the new size, the
    // smaller of 1248 / 12 and 992 / 8; the state's own Pitch is the grid's
    // to write.
    EXPECT_NE(platform.Replies.back().find("\"pitch\":104,"), std::string::npos)
        << platform.Replies.back();
    EXPECT_EQ(controller.State().Pitch, 64);
    platform.Client = {0, 0};
    controller.Command("grid");
    EXPECT_NE(platform.Replies.back().find("\"pitch\":-4,"), std::string::npos)
        << platform.Replies.back();
    controller.Command("flat");
    platform.Take();
    controller.Command("window");
    controller.Command("fullscreen");
    controller.Command("quit");
    EXPECT_EQ(platform.Take(), (Calls{"window", "paint now", "reply", "fullscreen 1", "paint now",
                                      "reply", "paint now", "reply", "close"}));
}

// A full-screen change the window manager never carries out is answered by
// an error, not by a state that says the picture is shown; a late Settled()
// writes nothing more.
TEST(Controller, FullScreenNotCarriedOutRepliedAsError) {
    FakePlatform platform;
    Controller controller(platform, ReadOptions(""));
    controller.Show();
    controller.Command("level 9");
    platform.Take();
    platform.GeometryChanging = true;
    controller.Command("fullscreen");
    controller.NotSettled(pruvex::NotFullScreenError());
    EXPECT_FALSE(controller.ReplyPending());
    EXPECT_EQ(platform.Take(), (Calls{"fullscreen 1", "reply"}));
    EXPECT_EQ(platform.Replies.back(), R"({"ok":false,"error":"the window manager did not give )"
                                       R"(the window the whole monitor within 10 s","line":2})");
    controller.Settled();
    EXPECT_EQ(platform.Take(), Calls{});
}

// A reply goes out once the first frame after the paint is scanned out and
// the panel has settled; meanwhile keys work and the next line waits.
TEST(Controller, RepliesOnceTheFrameIsShownAndSettled) {
    using namespace std::chrono_literals;
    using pruvex::Milliseconds;
    FakePlatform platform;
    Controller controller(platform, ReadOptions("--settle=30"));
    pruvex::ControlChannel channel(controller);
    controller.Show();
    platform.Take();
    platform.BlankAtOnce = false; // the clock answers later
    channel.Feed("level 5\nlevel 9\n");
    channel.Pump();
    ASSERT_EQ(platform.BlanksAwaited.size(), 1U);
    EXPECT_EQ(platform.Take(), (Calls{"paint now"}));
    controller.TypeCharacter('+');
    EXPECT_EQ(controller.State().FlatLevel, 6);
    controller.ReplyDue(); // before the blank: too early
    EXPECT_TRUE(platform.Replies.empty());

    // Blank 10 s after the paint, two refreshes of 100 ms, 30 ms to settle.
    const pruvex::FrameTime held = platform.BlanksAwaited[0];
    controller.Blanked({held + 10s, Milliseconds(100), 2});
    controller.Blanked({held + 20s, Milliseconds(100), 1}); // only the first counts
    ASSERT_EQ(platform.ReplyTimers.size(), 1U);
    EXPECT_LE(platform.ReplyTimers[0].count(), 10230.0);
    EXPECT_GT(platform.ReplyTimers[0].count(), 10215.0); // settled too
    EXPECT_TRUE(platform.Replies.empty());
    channel.Pump();
    EXPECT_EQ(controller.State().FlatLevel, 6); // the next line is held back
    controller.ReplyDue();
    ASSERT_EQ(platform.Replies.size(), 1U);
    const std::string& reply = platform.Replies[0];
    EXPECT_NE(reply.find(R"("level":6,)"), std::string::npos) << reply;
    EXPECT_NE(reply.find(R"("refresh_hz":10.000,"shown_ms":102)"), std::string::npos) << reply;
    EXPECT_NE(reply.find(R"("settle_ms":30})"), std::string::npos) << reply;

    // A blank already past: the reply is due at once. Errors never wait.
    channel.Pump();
    ASSERT_EQ(platform.BlanksAwaited.size(), 2U);
    controller.Blanked({platform.BlanksAwaited[1] - 1s, Milliseconds(16), 1});
    EXPECT_EQ(platform.Replies.size(), 2U);
    platform.BlankAtOnce = true;
    channel.Feed("settle 0\nsettle 10001\nstate\n");
    channel.Pump();
    ASSERT_EQ(platform.Replies.size(), 5U);
    EXPECT_NE(platform.Replies[2].find(R"("settle_ms":0})"), std::string::npos);
    EXPECT_NE(platform.Replies[3].find("settle must be an integer from 0 to 10000"),
              std::string::npos);
    EXPECT_EQ(controller.SettleMilliseconds(), 0);
    EXPECT_EQ(platform.ReplyTimers.size(), 1U);
}

TEST(ControlChannel, SplitsLinesAndSkipsLongOnesWithoutHoldingThem) {
    FakePlatform platform;
    Controller controller(platform, ReadOptions(""));
    pruvex::ControlChannel channel(controller);
    channel.Feed("level 1");
    channel.Feed("0\nsta");
    channel.Pump();
    EXPECT_EQ(platform.Replies.size(), 1U);
    EXPECT_EQ(controller.State().FlatLevel, 10);
    channel.Feed("te\n" + std::string(pruvex::LongestCommandLine, 'x') + "\n");
    channel.Feed(std::string(5000, 'y'));
    channel.Feed(std::string(5000, 'y') + "\nlevel 11");
    channel.Pump();
    ASSERT_EQ(platform.Replies.size(), 4U);
    EXPECT_NE(platform.Replies[2].find("unknown command"), std::string::npos); // 4096 bytes: taken
    EXPECT_NE(platform.Replies[3].find("longer than 4096 bytes"), std::string::npos);
    EXPECT_NE(platform.Replies[3].find("\"line\":4"), std::string::npos);
    channel.EndOfInput();
    channel.Pump();
    EXPECT_EQ(controller.State().FlatLevel, 11); // the last line without its end
    EXPECT_TRUE(channel.Idle());

    platform.GeometryChanging = true;
    channel.Feed("fullscreen\nlevel 12\n");
    channel.Pump();
    EXPECT_FALSE(channel.Idle());
    EXPECT_EQ(controller.State().FlatLevel, 11); // held back until the reply is out
    platform.GeometryChanging = false;
    controller.Settled();
    channel.Pump();
    EXPECT_EQ(controller.State().FlatLevel, 12);
    EXPECT_TRUE(channel.Idle());
}

} // namespace

namespace {

using pruvex::CheckLine;
using pruvex::Verdict;

std::vector<std::uint16_t> Ramp(std::size_t n, double gamma) {
    std::vector<std::uint16_t> ramp(n);
    for (std::size_t i = 0; i < n; ++i) {
        const double x = static_cast<double>(i) / static_cast<double>(n - 1);
        ramp[i] = static_cast<std::uint16_t>(std::lround(std::pow(x, 1.0 / gamma) * 65535.0));
    }
    return ramp;
}

TEST(GammaRamp, IdentityWithinTheRulesOnly) {
    struct RampCase {
        const char* Name;
        std::vector<std::uint16_t> Ramp;
        bool Identity;
        int Largest;
        int First;
    };
    std::vector<std::uint16_t> shifted(256);
    for (std::size_t i = 0; i < 256; ++i) {
        shifted[i] = static_cast<std::uint16_t>(i << 8);
    }
    std::vector<std::uint16_t> nudged = Ramp(256, 1.0);
    nudged[100] = static_cast<std::uint16_t>(nudged[100] + 255); // within n - 1
    std::vector<std::uint16_t> pushed = Ramp(256, 1.0);
    pushed[100] = static_cast<std::uint16_t>(pushed[100] + 256 * 3); // 3 levels off
    const RampCase cases[] = {
        {"scaled 256", Ramp(256, 1.0), true, 0, -1},
        {"scaled 1024", Ramp(1024, 1.0), true, 0, -1},
        {"shifted 256", shifted, true, 0, -1},
        {"nudged within n-1", nudged, true, 0, -1},
        {"one entry off", pushed, false, 3, 100},
        {"gamma 1.1", Ramp(256, 1.1), false, 9, 1},
        {"all zero", std::vector<std::uint16_t>(256, 0), false, 255, 1},
    };
    for (const RampCase& c : cases) {
        const pruvex::RampDeviation d = pruvex::CompareRampWithIdentity(c.Ramp);
        EXPECT_EQ(d.Identity, c.Identity) << c.Name;
        EXPECT_EQ(d.LargestLevels, c.Largest) << c.Name;
        EXPECT_EQ(d.FirstLevel, c.First) << c.Name;
    }
}

TEST(Report, VerdictAndExitStatus) {
    const CheckLine pass{Verdict::Pass, "a", "fine", ""};
    const CheckLine warn{Verdict::Warn, "b", "odd", "Look."};
    const CheckLine fail{Verdict::Fail, "c", "wrong", "Fix it."};
    const CheckLine unknown{Verdict::Unverified, "d", "unknown", "Check by eye."};
    const std::pair<std::vector<CheckLine>, int> cases[] = {
        {{pass}, 0},       {{pass, warn}, 0},    {{pass, unknown}, 2},
        {{warn, fail}, 1}, {{unknown, fail}, 1}, {{}, 0},
    };
    for (const auto& [lines, status] : cases) {
        EXPECT_EQ(pruvex::ReportExitStatus(lines), status);
    }
    EXPECT_EQ(pruvex::ReportText({pass, fail}),
              "PASS       a: fine\nFAIL       c: wrong. Fix it.\n"
              "verdict: FAIL, the display does not show exactly what Pruvex paints (1 failure, 0 "
              "warnings)\n");
    EXPECT_EQ(
        pruvex::ReportJson({warn}),
        R"({"ok":true,"verdict":"PASS","checks":[{"result":"WARN","name":"b","measured":"odd","advice":"Look."}]})");
    EXPECT_EQ(pruvex::ThroughDepth16({212, 96, 145}), (pruvex::Colour{214, 97, 148}));
    EXPECT_EQ(pruvex::ScaleChannel(401, 10), 100);
}

// A platform whose server shows the picture with one pixel changed.
class OnePixelOff : public FakePlatform {
  public:
    pruvex::Controller* Owner = nullptr;
    bool ReadBack(pruvex::ReadBackImage& window, pruvex::ReadBackImage& screen) override {
        window.ClientWidth = 776;
        window.ClientHeight = 520;
        window.Width = 772;
        window.Height = 516;
        const std::vector<pruvex::PaintRect> plan = pruvex::PaintPlan(
            pruvex::Draw(Owner->State(), 776.0F, 520.0F), window.Width, window.Height);
        window.Pixels.assign(std::size_t{772} * 516, {});
        for (const pruvex::PaintRect& r : plan) {
            for (int y = r.Pixels.Top; y < r.Pixels.Bottom; ++y) {
                for (int x = r.Pixels.Left; x < r.Pixels.Right; ++x) {
                    window.Pixels[static_cast<std::size_t>(y) * 772 + static_cast<std::size_t>(x)] =
                        r.Fill;
                }
            }
        }
        screen = window;
        if (Owner->State().Mode == "G") {
            screen.Pixels[static_cast<std::size_t>(40 * 772 + 50)] = {1, 2, 3};
        }
        return true;
    }
};

TEST(Controller, CheckReadsEveryPictureBackAndGivesTheStateBack) {
    OnePixelOff platform;
    Controller controller(platform, ReadOptions("3 100"));
    platform.Owner = &controller;
    const std::vector<CheckLine> lines = controller.CheckDisplay();
    ASSERT_EQ(lines.size(), 4U);
    EXPECT_EQ(lines[0].Result, Verdict::Unverified); // the fake has no pipeline checks
    EXPECT_EQ(lines[1].Name, "frame timing");
    EXPECT_EQ(lines[2].Result, Verdict::Pass);
    EXPECT_EQ(lines[3].Result, Verdict::Fail);
    EXPECT_EQ(lines[3].Measured, "mosaic from 25: pixel (50,40) is (1,2,3), painted (25,11,17)");
    EXPECT_EQ(controller.State().FlatLevel, 100);
    EXPECT_EQ(controller.State().Mode, "F");
    EXPECT_EQ(std::count(platform.Calls.begin(), platform.Calls.end(), "paint now"), 6);
}

} // namespace
