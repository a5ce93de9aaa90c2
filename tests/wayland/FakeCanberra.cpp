// A stand-in for libcanberra (built as libcanberra.so.0 in a folder of its
// own, found through LD_LIBRARY_PATH): it records each call the program
// makes, one line each, in the file that PRUVEX_FAKE_CANBERRA_LOG names.

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Record(const std::string& line) {
    const char* path = std::getenv("PRUVEX_FAKE_CANBERRA_LOG");
    if (path == nullptr) {
        return;
    }
    if (std::FILE* log = std::fopen(path, "a")) {
        std::fprintf(log, "%s\n", line.c_str());
        std::fclose(log);
    }
}

int Token = 0;

} // namespace

extern "C" {

int ca_context_create(void** context) {
    Record("create");
    *context = &Token;
    return 0;
}

// Properties come as name, value pairs up to a null name.
int ca_context_play(void* context, std::uint32_t id, ...) {
    std::string line = context == &Token ? "play " : "play on an unknown context ";
    line.append(std::to_string(id));
    va_list properties;
    va_start(properties, id);
    while (const char* name = va_arg(properties, const char*)) {
        const char* value = va_arg(properties, const char*);
        line.append(" ").append(name).append("=").append(value != nullptr ? value : "(null)");
    }
    va_end(properties);
    Record(line);
    return 0;
}
}
