#include "PlatformChoice.h"

#include <cmath>
#include <cstdio>
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
    if (environment.WaylandDisplay[0] == '/') {
        return environment.WaylandDisplay;
    }
    if (!IsSet(environment.RuntimeDir)) {
        return {};
    }
    return std::string(environment.RuntimeDir) + "/" + environment.WaylandDisplay;
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

int WholeScale(double devicePixelRatio) {
    const double whole = std::round(devicePixelRatio);
    if (whole < 1 || whole > 64 || std::fabs(devicePixelRatio - whole) > 1e-6) {
        return 0;
    }
    return static_cast<int>(whole);
}

std::string FractionalScaleWarning(double devicePixelRatio) {
    if (WholeScale(devicePixelRatio) != 0) {
        return {};
    }
    char ratio[32];
    std::snprintf(ratio, sizeof(ratio), "%g", devicePixelRatio);
    return std::string("pruvex: this display is scaled by ") + ratio +
           ", a fraction: the compositor resamples the picture and blends the edges of the "
           "mosaic, so it is not exact; use an output scale of 1 or 2 for shooting";
}

} // namespace pruvex
