#include "series/Target.h"

#include "series/Stop.h"

#include <chrono>
#include <filesystem>

namespace pruvex::series {

namespace {

// A reply may wait for the frame clock, the settle time and a window
// manager: far less than this.
constexpr int ReplyTimeoutMs = 30000;

} // namespace

std::string TargetProgram() {
#ifdef _WIN32
    // Only the one beside this program: the zip holds both.
    const std::u8string beside = (OwnFolder() / "Pruvex.exe").u8string();
    return {beside.begin(), beside.end()};
#else
    const std::filesystem::path folder = OwnFolder();
    if (!folder.empty()) {
        if (std::optional<std::string> beside = FindProgram((folder / "pruvex").string())) {
            return *beside;
        }
    }
    return FindProgram("pruvex").value_or("pruvex");
#endif
}

Target::Target(const std::string& program, int monitor, int settleMs) : monitor_(monitor) {
    std::vector<std::string> args{program, "--control",
                                  monitor > 0 ? "--fullscreen=" + std::to_string(monitor)
                                              : std::string("--fullscreen"),
                                  "--settle=" + std::to_string(settleMs)};
    child_ = std::make_unique<Child>(args);
    Send("state");
}

Target::~Target() {
    Close();
}

nlohmann::json Target::Send(const std::string& command) {
    const auto start = std::chrono::steady_clock::now();
    nlohmann::json reply = Reply(command);
    seconds_ += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return reply;
}

nlohmann::json Target::Reply(const std::string& command) {
    if (!child_ || !child_->Write(command + "\n")) {
        throw Stop{ExitStopped, "the target (pruvex) has closed"};
    }
    const std::optional<std::string> line = child_->ReadLine(ReplyTimeoutMs);
    if (!line) {
        if (Interrupted()) {
            throw Stop{ExitInterrupted, "interrupted"};
        }
        throw Stop{ExitStopped, "the target (pruvex) gave no reply to \"" + command + "\""};
    }
    nlohmann::json reply = nlohmann::json::parse(*line, nullptr, false);
    if (reply.is_discarded() || !reply.is_object()) {
        throw Stop{ExitStopped, "the target (pruvex) replied something other than JSON: " + *line};
    }
    if (!reply.value("ok", false)) {
        throw Stop{ExitStopped, "the target (pruvex) refused \"" + command +
                                    "\": " + reply.value("error", std::string("no reason"))};
    }
    return reply;
}

void Target::FullScreen() {
    if (!fullScreen_) {
        Send(monitor_ > 0 ? "fullscreen " + std::to_string(monitor_) : "fullscreen");
        fullScreen_ = true;
    }
}

void Target::Window() {
    if (fullScreen_) {
        Send("window");
        fullScreen_ = false;
    }
}

void Target::Close() {
    if (child_) {
        child_->Write("quit\n");
        child_->Finish(5000);
        child_.reset();
    }
}

} // namespace pruvex::series
