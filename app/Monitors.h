#pragma once

// The monitors of the desktop as both programs number them: from 1, left to
// right, and top to bottom where two share a left edge.

#include <string>
#include <vector>

namespace pruvex {

struct Monitor {
    std::string Name;
    int Left = 0; // device pixels of the desktop
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool Primary = false;
    friend bool operator==(const Monitor&, const Monitor&) = default;
};

std::vector<Monitor> NumberMonitors(std::vector<Monitor> monitors);

// "2: DUMMY1 1280x1024+1920+0" with " primary" on the primary monitor.
std::string MonitorLine(int number, const Monitor& monitor);

// The number of the monitor that holds the largest part of the rectangle
// (the first monitor when none holds any of it), 0 when there is none.
int MonitorHolding(const std::vector<Monitor>& numbered, int left, int top, int width, int height);

} // namespace pruvex
