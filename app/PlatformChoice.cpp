#include "PlatformChoice.h"

#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pruvex {

namespace {

bool IsSet(const char* value) {
    return value != nullptr && *value != '\0';
}

} // namespace

std::string WaylandSocketPath(const PlatformEnvironment& environment) {
    if (!IsSet(environment.WaylandDisplay)) {
        return {};
    }
    const std::string name = environment.WaylandDisplay;
    if (name.front() == '/') {
        return name;
    }
    if (!IsSet(environment.RuntimeDir)) {
        return {};
    }
    return std::string(environment.RuntimeDir) + "/" + name;
}

std::string ChoosePlatform(const PlatformEnvironment& environment,
                           const std::function<bool(const std::string&)>& accepts) {
    if (IsSet(environment.QtPlatform)) {
        return environment.QtPlatform;
    }
    const std::string socket = WaylandSocketPath(environment);
    if (!socket.empty() && accepts(socket)) {
        return "wayland;xcb";
    }
    return "xcb";
}

bool SocketAccepts(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof(address.sun_path)) {
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const bool accepted =
        connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    close(fd);
    return accepted;
}

} // namespace pruvex
