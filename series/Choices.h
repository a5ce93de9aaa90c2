#pragma once

// The camera's settings as its choices name them: ISO values and shutter
// times read from their texts, the ISOs a series runs at, and the next
// shorter time.

#include <optional>
#include <string>
#include <vector>

namespace pruvex::series {

// A shutter time from a camera's text: "1/250", "1/250s", "0.004", "2", "2s",
// "1.3\"". Nothing for texts such as "bulb" or "auto".
std::optional<double> ParseShutter(const std::string& text);

// An ISO value from a camera's text ("400", "ISO 400"); nothing for "Auto",
// "Hi 1" and the like.
std::optional<int> ParseIso(const std::string& text);

// A time as file names carry it: "1_250" for 1/250 s, "2" for 2 s, "0.3" for
// 0.3 s (as people read it, measure::ShutterText: "1/250 s").
std::string ShutterName(double seconds);

// The numeric ISO choices in whole stops from the lowest, ascending.
std::vector<int> WholeStopIsos(const std::vector<std::string>& choices);

// The choice nearest to a time (by ratio); nothing when no choice is a time.
std::optional<std::string> NearestShutter(const std::vector<std::string>& choices, double seconds);

// The choice one stop shorter than the time given, or the nearest to that
// among the shorter ones; nothing when none is shorter.
std::optional<std::string> ShorterShutter(const std::vector<std::string>& choices, double seconds);

// The ISOs of --iso=LIST: positive integers; nothing on a bad entry.
std::optional<std::vector<int>> ParseIsoList(const std::vector<std::string>& items);

} // namespace pruvex::series
