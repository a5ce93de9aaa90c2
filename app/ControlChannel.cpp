#include "ControlChannel.h"

namespace pruvex {

void ControlChannel::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (!Skipping) {
            if (Partial.size() + piece.size() > LongestCommandLine) {
                Skipping = true;
                Partial.clear();
                Partial.shrink_to_fit();
            } else {
                Partial.append(piece);
            }
        }
        if (end == std::string_view::npos) {
            return;
        }
        EndLine();
        bytes.remove_prefix(end + 1);
    }
}

void ControlChannel::EndOfInput() {
    if (Skipping || !Partial.empty()) {
        EndLine();
    }
}

void ControlChannel::EndLine() {
    Queue.push_back({std::move(Partial), Skipping});
    Partial.clear();
    Skipping = false;
}

void ControlChannel::Pump() {
    while (!Queue.empty() && !Target.ReplyPending()) {
        const Line line = std::move(Queue.front());
        Queue.pop_front();
        if (line.TooLong) {
            Target.CommandTooLong();
        } else {
            Target.Command(line.Text);
        }
    }
}

} // namespace pruvex
