#pragma once

// Text for the user before any window opens (--help, --version,
// --list-monitors, warnings and errors), written where it can be read: the
// standard handle the program inherited when it is a pipe, a file or a
// device, else the console of the program it was started from, else (for
// what must be seen) a message box. A program built for the Windows
// subsystem has no console of its own.

#include <string>

namespace console {

enum class Kind { Information, Warning, Error };

// The text's lines end in "\n"; they are written with "\r\n".
void Write(Kind kind, const std::string& text);

} // namespace console
