#pragma once

// The control channel's input: bytes as they come from standard input,
// split into lines and handed to the controller one at a time, each only
// once the reply to the one before it is out.

#include "Controller.h"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace pruvex {

class ControlChannel {
  public:
    explicit ControlChannel(Controller& controller) : Target(controller) {}

    // Splits the bytes into lines and queues them.
    void Feed(std::string_view bytes);
    // End of input: a last line without its line end still counts.
    void EndOfInput();
    // Hands queued lines to the controller while it has no reply pending.
    void Pump();
    // True when every line read so far has been replied to, so that the
    // shell may read more.
    bool Idle() const { return Queue.empty() && !Target.ReplyPending(); }

  private:
    struct Line {
        std::string Text;
        bool TooLong = false;
    };
    void EndLine();

    Controller& Target;
    std::deque<Line> Queue;
    std::string Partial;
    bool Skipping = false;
};

} // namespace pruvex
