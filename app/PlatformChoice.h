#pragma once

// How the Linux program meets its display: which of Qt's platform plugins it
// starts with (a native Wayland window where a Wayland compositor answers,
// X11 otherwise, and the user's own QT_QPA_PLATFORM before either), and at
// which output scales its picture can be exact.

#include <functional>
#include <string>

namespace pruvex {

// What the choice reads from the process's environment (nullptr: unset).
struct PlatformEnvironment {
    const char* QtPlatform = nullptr;     // QT_QPA_PLATFORM
    const char* WaylandDisplay = nullptr; // WAYLAND_DISPLAY
    const char* RuntimeDir = nullptr;     // XDG_RUNTIME_DIR
};

// The compositor's socket that WAYLAND_DISPLAY names: an absolute path as it
// is, a name inside XDG_RUNTIME_DIR otherwise; "" when there is none.
std::string WaylandSocketPath(const PlatformEnvironment& environment);

// The value for QT_QPA_PLATFORM: the user's own when it is set and not
// empty; "wayland;xcb" when the Wayland socket accepts a connection (X11
// stays behind it for a Qt without its Wayland plugin); "xcb" otherwise.
std::string ChoosePlatform(const PlatformEnvironment& environment,
                           const std::function<bool(const std::string&)>& accepts);

// Whether a Unix-domain socket at this path accepts a connection now.
bool SocketAccepts(const std::string& path);

// The output scale as a whole number (1, 2, 3...) when the window's device
// pixel ratio is one, 0 when it is fractional: then the compositor resamples
// the window's buffer and no picture can be exact.
int WholeScale(double devicePixelRatio);

// The line (no line end) that says so for a fractional ratio, "" otherwise.
std::string FractionalScaleWarning(double devicePixelRatio);

} // namespace pruvex
