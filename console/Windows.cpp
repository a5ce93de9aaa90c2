#include "console/Console.h"

#include <windows.h>

namespace console {

namespace {

std::string WindowsLineEnds(const std::string& text) {
    std::string converted;
    converted.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
        if (c == '\n') {
            converted += '\r';
        }
        converted += c;
    }
    return converted;
}

bool WriteAll(HANDLE handle, const std::string& text) {
    DWORD written = 0;
    for (std::size_t done = 0; done < text.size(); done += written) {
        if (!WriteFile(handle, text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                       nullptr) ||
            written == 0) {
            return false;
        }
    }
    return true;
}

// A pipe, a file or a device other than a console: written to as bytes.
bool Inherited(HANDLE handle) {
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    const DWORD type = GetFileType(handle);
    DWORD mode = 0;
    return type == FILE_TYPE_DISK || type == FILE_TYPE_PIPE ||
           (type == FILE_TYPE_CHAR && !GetConsoleMode(handle, &mode));
}

// A handle of the console this process is attached to: GetConsoleMode
// succeeds only on those. (A console handle inherited without its console
// fails it and cannot be written to.)
bool OfOwnConsole(HANDLE handle) {
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

// The console's screen buffer, opened once: the console this process
// already has (it was started with a console: AttachConsole then fails with
// ERROR_ACCESS_DENIED), or else the console of the process that started it
// (a command prompt).
HANDLE ConsoleOutput() {
    static const HANDLE console = [] {
        if (!AttachConsole(ATTACH_PARENT_PROCESS) && GetLastError() != ERROR_ACCESS_DENIED) {
            return INVALID_HANDLE_VALUE;
        }
        return CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    }();
    return console;
}

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    wide.resize(static_cast<std::size_t>(length));
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                        length);
    return wide;
}

// Text to a console as characters, not bytes: the console's code page
// plays no part.
bool WriteConsoleText(HANDLE console, const std::string& text) {
    const std::wstring wide = Widen(text);
    DWORD written = 0;
    for (std::size_t done = 0; done < wide.size(); done += written) {
        if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(wide.size() - done),
                           &written, nullptr) ||
            written == 0) {
            return false;
        }
    }
    return true;
}

} // namespace

void Write(Kind kind, const std::string& text) {
    const HANDLE handle =
        GetStdHandle(kind == Kind::Information ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    const std::string lines = WindowsLineEnds(text);
    if (OfOwnConsole(handle) ? WriteConsoleText(handle, lines)
                             : Inherited(handle) && WriteAll(handle, lines)) {
        return;
    }
    const HANDLE console = ConsoleOutput();
    if (console != INVALID_HANDLE_VALUE && WriteConsoleText(console, lines)) {
        return;
    }
    // A warning is not worth stopping the start for.
    if (kind != Kind::Warning) {
        MessageBoxW(nullptr, Widen(text).c_str(), L"Pruvex",
                    MB_OK | MB_TASKMODAL |
                        (kind == Kind::Error ? MB_ICONERROR : MB_ICONINFORMATION));
    }
}

} // namespace console
