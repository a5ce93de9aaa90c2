#pragma once

// A platform that does nothing but write down what the controller asks of
// it, for the controller's unit tests and the command fuzzer.

#include "app/Platform.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace pruvex::testing {

class FakePlatform : public Platform {
  public:
    std::vector<std::string> Calls; // in order, e.g. "beep", "fullscreen 2"
    std::vector<std::string> Replies;
    std::string Caption;
    std::vector<Monitor> Screens{{"one", 0, 0, 1920, 1200, true},
                                 {"two", 1920, 0, 1280, 1024, false}};
    int HoldingMonitor = 1;
    bool GeometryChanging = false; // Settling() while a full-screen change runs
    PixelSize Client{776, 520};
    // AwaitBlank answers at once with a blank this long after the picture
    // was held (by default so long before that the reply is due at once),
    // or, when false, leaves the answer to the test.
    bool BlankAtOnce = true;
    Milliseconds BlankAfterHeld{-1000.0};
    std::vector<FrameTime> BlanksAwaited;  // the moments the picture was held
    std::vector<Milliseconds> ReplyTimers; // each wait asked for

    void SetCaption(const std::string& caption) override { Caption = caption; }
    void Repaint() override { Calls.emplace_back("repaint"); }
    void PaintNow() override { Calls.emplace_back("paint now"); }
    void Beep() override { Calls.emplace_back("beep"); }
    PixelSize ClientSize() override { return Client; }
    void ShowWindow() override { Calls.emplace_back("show"); }
    void CloseWindow() override { Calls.emplace_back("close"); }
    std::vector<Monitor> Monitors() override { return Screens; }
    int WindowMonitor() override { return HoldingMonitor; }
    void EnterFullScreen(int monitor) override {
        Calls.push_back("fullscreen " + std::to_string(monitor));
    }
    void LeaveFullScreen() override { Calls.emplace_back("window"); }
    bool Settling() override { return GeometryChanging; }
    void ShowPointer(bool shown) override {
        Calls.emplace_back(shown ? "pointer shown" : "pointer hidden");
    }
    void StartPointerTimer(int milliseconds) override {
        Calls.push_back("timer " + std::to_string(milliseconds));
    }
    void HoldScreenSaver(bool held) override {
        Calls.emplace_back(held ? "saver held" : "saver released");
    }
    std::optional<VerticalBlank> AwaitBlank(FrameTime held) override {
        BlanksAwaited.push_back(held);
        if (!BlankAtOnce) {
            return std::nullopt;
        }
        return VerticalBlank{held + std::chrono::duration_cast<FrameTime::duration>(BlankAfterHeld),
                             Milliseconds(20), 1};
    }
    void StartReplyTimer(Milliseconds wait) override { ReplyTimers.push_back(wait); }
    void WriteReply(const std::string& line) override {
        Calls.emplace_back("reply");
        Replies.push_back(line);
    }

    // The calls other than repaints since the last Take.
    std::vector<std::string> Take() {
        std::vector<std::string> taken;
        for (const std::string& call : Calls) {
            if (call != "repaint") {
                taken.push_back(call);
            }
        }
        Calls.clear();
        return taken;
    }
};

} // namespace pruvex::testing
