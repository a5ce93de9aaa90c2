#include "series/Choices.h"

#include "measure/Report.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace pruvex::series {

namespace {

std::optional<double> ParseNumber(std::string_view text) {
    if (text.empty() || text.front() < '0' || text.front() > '9') {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !(value > 0) ||
        !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

} // namespace

std::optional<double> ParseShutter(const std::string& text) {
    std::string_view t = text;
    while (!t.empty() && (t.back() == ' ' || t.back() == 's' || t.back() == '"')) {
        t.remove_suffix(1);
    }
    const std::size_t slash = t.find('/');
    if (slash == std::string_view::npos) {
        return ParseNumber(t);
    }
    const std::optional<double> numerator = ParseNumber(t.substr(0, slash));
    const std::optional<double> denominator = ParseNumber(t.substr(slash + 1));
    if (!numerator || !denominator) {
        return std::nullopt;
    }
    return *numerator / *denominator;
}

std::optional<int> ParseIso(const std::string& text) {
    std::string_view t = text;
    if (t.substr(0, 4) == "ISO ") {
        t.remove_prefix(4);
    }
    int value = 0;
    const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (t.empty() || error != std::errc() || end != t.data() + t.size() || value <= 0 ||
        t.front() == '0') {
        return std::nullopt;
    }
    return value;
}

std::string ShutterName(double seconds) {
    std::string name = measure::ShutterFraction(seconds);
    std::replace(name.begin(), name.end(), '/', '_');
    return name;
}

std::vector<int> WholeStopIsos(const std::vector<std::string>& choices) {
    std::vector<int> isos;
    for (const std::string& choice : choices) {
        if (const std::optional<int> iso = ParseIso(choice)) {
            isos.push_back(*iso);
        }
    }
    std::sort(isos.begin(), isos.end());
    isos.erase(std::unique(isos.begin(), isos.end()), isos.end());
    std::vector<int> stops;
    for (const int iso : isos) {
        const double stop = std::log2(static_cast<double>(iso) / static_cast<double>(isos.front()));
        if (std::abs(stop - std::round(stop)) < 0.05) {
            stops.push_back(iso);
        }
    }
    return stops;
}

std::optional<std::string> NearestShutter(const std::vector<std::string>& choices, double seconds) {
    std::optional<std::string> best;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (const std::string& choice : choices) {
        if (const std::optional<double> time = ParseShutter(choice)) {
            const double distance = std::abs(std::log(*time / seconds));
            if (distance < bestDistance) {
                best = choice;
                bestDistance = distance;
            }
        }
    }
    return best;
}

std::optional<std::string> ShorterShutter(const std::vector<std::string>& choices, double seconds) {
    std::vector<std::string> shorter;
    for (const std::string& choice : choices) {
        const std::optional<double> time = ParseShutter(choice);
        if (time && *time < seconds * 0.97) {
            shorter.push_back(choice);
        }
    }
    return NearestShutter(shorter, seconds / 2);
}

std::optional<std::vector<int>> ParseIsoList(const std::vector<std::string>& items) {
    std::vector<int> isos;
    for (const std::string& item : items) {
        const std::optional<int> iso = ParseIso(item);
        if (!iso || item.substr(0, 4) == "ISO ") {
            return std::nullopt;
        }
        isos.push_back(*iso);
    }
    if (isos.empty()) {
        return std::nullopt;
    }
    return isos;
}

} // namespace pruvex::series
