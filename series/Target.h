#pragma once

// The target: pruvex under --control, driven a command at a time. A reply
// comes once the monitor shows the picture, so a shot may follow it at once.

#include "series/Process.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

namespace pruvex::series {

// The pruvex beside this program, else the one on PATH.
std::string TargetProgram();

class Target {
  public:
    // Starts the program and waits for its first picture.
    Target(const std::string& program, int monitor, int settleMs);
    ~Target();
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    // Sends a command and returns its reply; throws Stop when the target
    // refuses it or has gone.
    nlohmann::json Send(const std::string& command);
    // Full screen (on the monitor asked for), and back to a window.
    void FullScreen();
    void Window();
    // Quits and waits for it to end.
    void Close();
    // The time spent waiting for its replies.
    double Seconds() const { return seconds_; }

  private:
    nlohmann::json Reply(const std::string& command);
    std::unique_ptr<Child> child_;
    int monitor_ = 0;
    bool fullScreen_ = true;
    double seconds_ = 0;
};

} // namespace pruvex::series
