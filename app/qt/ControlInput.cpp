#include "ControlInput.h"

#include "FrmMain.h"

#include <array>
#include <cerrno>
#include <unistd.h>

namespace {
// Small reads keep the lines queued at once few, whatever comes.
constexpr std::size_t ReadSize = 8192;
} // namespace

ControlInput::ControlInput(FrmMain& window)
    : Channel(window.Control()), Notifier(STDIN_FILENO, QSocketNotifier::Read) {
    connect(&Notifier, &QSocketNotifier::activated, this, [this] { Read(); });
    window.SetReplyListener([this] { Resume(); });
}

void ControlInput::Read() {
    std::array<char, ReadSize> buffer{};
    const ssize_t count = read(STDIN_FILENO, buffer.data(), buffer.size());
    if (count < 0 && (errno == EINTR || errno == EAGAIN)) {
        return;
    }
    if (count <= 0) {
        // End of input, or input that cannot be read: the window stays.
        Ended = true;
        Channel.EndOfInput();
    } else {
        Channel.Feed(std::string_view(buffer.data(), static_cast<std::size_t>(count)));
    }
    Resume();
}

void ControlInput::Resume() {
    Channel.Pump();
    Notifier.setEnabled(!Ended && Channel.Idle());
}
