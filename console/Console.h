#pragma once

// Text for the user before any window opens (--help, --version,
// --list-monitors, warnings and errors), written where it can be read: the
// standard handle when it is a console the program is attached to (started
// with a console as its standard handles) or a pipe, a file or a device;
// else the console the program already has, or the console of the program
// it was started from; else (for what must be seen) a message box. A
// program built for the Windows subsystem gets no console of its own.
// Every program of the project that writes through it links this unit
// (library pruvex_console): Pruvex.exe, and pruvex-measure(.exe) and
// pruvex-series for all their output. Elsewhere than on Windows the text
// goes to the standard output or error as it is.

#include <string>

namespace console {

enum class Kind { Information, Warning, Error };

// The text's lines end in "\n"; they are written with "\r\n".
void Write(Kind kind, const std::string& text);

} // namespace console
