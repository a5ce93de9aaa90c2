#include "Monitors.h"

#include <algorithm>

namespace pruvex {

std::vector<Monitor> NumberMonitors(std::vector<Monitor> monitors) {
    std::stable_sort(monitors.begin(), monitors.end(), [](const Monitor& a, const Monitor& b) {
        return a.Left != b.Left ? a.Left < b.Left : a.Top < b.Top;
    });
    return monitors;
}

std::string MonitorLine(int number, const Monitor& monitor) {
    std::string line = std::to_string(number);
    line += ": ";
    line += monitor.Name;
    line += ' ';
    line += std::to_string(monitor.Width);
    line += 'x';
    line += std::to_string(monitor.Height);
    for (const int offset : {monitor.Left, monitor.Top}) {
        if (offset >= 0) {
            line += '+';
        }
        line += std::to_string(offset);
    }
    if (monitor.Primary) {
        line += " primary";
    }
    return line;
}

int MonitorHolding(const std::vector<Monitor>& numbered, int left, int top, int width, int height) {
    long long best = -1;
    int number = 0;
    for (std::size_t i = 0; i < numbered.size(); ++i) {
        const Monitor& m = numbered[i];
        const long long across =
            std::max(0, std::min(left + width, m.Left + m.Width) - std::max(left, m.Left));
        const long long down =
            std::max(0, std::min(top + height, m.Top + m.Height) - std::max(top, m.Top));
        if (across * down > best) {
            best = across * down;
            number = static_cast<int>(i) + 1;
        }
    }
    return number;
}

} // namespace pruvex
