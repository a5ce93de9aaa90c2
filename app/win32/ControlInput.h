#pragma once

// The control channel on standard input. A reader thread takes at most
// 8 KiB at a time from the inherited handle (a pipe) and posts them to the
// window; the window's thread feeds them to the channel one line at a time
// whenever its message queue is empty, so that typed keys and paints come
// first, and lets the thread read again only once every line before has been
// replied to. However much comes, one read is in flight and one message
// posted: the state is only ever touched on the window's thread.

#include "FrmMain.h"
#include "app/ControlChannel.h"

#include <windows.h>

#include <array>
#include <string_view>

class ControlInput {
  public:
    ControlInput(FrmMain& window, HANDLE input);
    ControlInput(const ControlInput&) = delete;
    ControlInput& operator=(const ControlInput&) = delete;
    // The reader thread is never joined: at the end it may be waiting in a
    // read that only the process's end can stop, so this object must outlive
    // the message loop (give it static storage).
    ~ControlInput() = default;

    void Start();
    // True while bytes read are waiting for the channel.
    bool HasWork() const { return !Pending.empty() && Channel.Idle(); }
    // Hands the next line (or the rest of the bytes read) to the channel.
    void Step();

  private:
    static DWORD WINAPI ReadLoop(void* self);
    void Take(WPARAM count);
    void Release();

    static constexpr std::size_t ReadSize = 8192;

    pruvex::ControlChannel Channel;
    HWND Window;
    HANDLE Input;
    HANDLE Taken; // set when the bytes read have all been taken
    std::array<char, ReadSize> Buffer{};
    std::string_view Pending;
    bool Released = false; // the reader was let go for the bytes read
};
