#include "ControlInput.h"

#include "pattern/Checked.h"

ControlInput::ControlInput(FrmMain& window, HANDLE input)
    : Channel(window.Control()), Window(window.Handle()), Input(input),
      Taken(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {
    if (Taken == nullptr) {
        pruvex::Fatal("cannot create the control channel's event");
    }
    window.SetControlListener([this](WPARAM count) { Take(count); });
    window.SetReplyListener([this] { Release(); });
}

void ControlInput::Start() {
    const HANDLE thread = CreateThread(nullptr, 0, ReadLoop, this, 0, nullptr);
    if (thread == nullptr) {
        pruvex::Fatal("cannot start the control channel's reader");
    }
    CloseHandle(thread);
}

// The reader thread: touches nothing but the buffer, and that only while the
// window's thread is done with it.
DWORD WINAPI ControlInput::ReadLoop(void* self) {
    auto& input = *static_cast<ControlInput*>(self);
    for (;;) {
        DWORD count = 0;
        if (!ReadFile(input.Input, input.Buffer.data(), static_cast<DWORD>(input.Buffer.size()),
                      &count, nullptr)) {
            count = 0; // a broken pipe, a closed or missing handle: the end
        }
        if (!PostMessageW(input.Window, ControlInputMessage, count, 0) || count == 0) {
            return 0;
        }
        WaitForSingleObject(input.Taken, INFINITE);
    }
}

void ControlInput::Take(WPARAM count) {
    if (count == 0) {
        // The end of input: a last line without its line end still counts;
        // the window stays open.
        Channel.EndOfInput();
        Channel.Pump();
        return;
    }
    Pending = std::string_view(Buffer.data(), count);
    Released = false;
}

// Once every line read has been replied to, the reader may read again (once
// for each read).
void ControlInput::Release() {
    if (!Released && Pending.empty() && Channel.Idle()) {
        Released = true;
        SetEvent(Taken);
    }
}

void ControlInput::Step() {
    const std::size_t end = Pending.find('\n');
    const std::size_t length = end == std::string_view::npos ? Pending.size() : end + 1;
    Channel.Feed(Pending.substr(0, length));
    Pending.remove_prefix(length);
    Channel.Pump();
    Release();
}
