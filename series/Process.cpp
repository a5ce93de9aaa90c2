#include "series/Process.h"

#include <algorithm>

namespace pruvex::series {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

std::optional<std::string> Child::ReadLine(int timeoutMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const std::size_t newline = buffer_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            return line;
        }
        if (Interrupted() || Clock::now() >= end ||
            !ReadSome(std::min(100, MillisecondsLeft(end)))) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> Answers::TakeLine() {
    const std::size_t newline = buffer_.find('\n');
    if (newline == std::string::npos) {
        if (ended_ && !buffer_.empty()) {
            std::string last;
            last.swap(buffer_);
            return last;
        }
        return std::nullopt;
    }
    std::string line = buffer_.substr(0, newline);
    buffer_.erase(0, newline + 1);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

std::optional<std::string> Answers::Poll(int timeoutMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (std::optional<std::string> line = TakeLine()) {
            return line;
        }
        if (ended_ || Interrupted() || Clock::now() >= end) {
            return std::nullopt;
        }
        ReadSome(std::min(100, MillisecondsLeft(end)));
    }
}

std::optional<std::string> Answers::Next() {
    for (;;) {
        if (std::optional<std::string> line = Poll(1000)) {
            return line;
        }
        if (ended_ || Interrupted()) {
            return std::nullopt;
        }
    }
}

} // namespace pruvex::series
