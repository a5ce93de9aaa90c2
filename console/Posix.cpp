#include "console/Console.h"

#include <cstdio>

namespace console {

void Write(Kind kind, const std::string& text) {
    std::FILE* stream = kind == Kind::Information ? stdout : stderr;
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fflush(stream);
}

} // namespace console
