#pragma once

// The pieces every plot is drawn from: SVG elements, scales, panels of a
// figure against ISO. The plot, the report and the comparison of cameras
// all draw with them.

#include "measure/PhotonTransfer.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pruvex::measure {

// printf-style formatting into a string (the C locale: a point as the
// decimal separator).
template <typename... Args> std::string Format(const char* format, Args... args) {
    std::array<char, 128> buffer{};
    const int n = std::snprintf(buffer.data(), buffer.size(), format, args...);
    return n > 0 ? std::string(buffer.data(),
                               std::min(static_cast<std::size_t>(n), buffer.size() - 1))
                 : std::string();
}

inline constexpr std::array<const char*, ChannelCount> ColourOf{"#c8102e", "#2e8b2e", "#1f5fbf"};

// A linear map of a value range onto a pixel range.
struct Scale {
    double From0 = 0;
    double From1 = 1;
    double To0 = 0;
    double To1 = 1;
    double operator()(double v) const { return To0 + (v - From0) / (From1 - From0) * (To1 - To0); }
};

// Text with &, <, > and " written as XML and HTML want them.
std::string Escape(const std::string& text);
std::string Pos(double x, double y);
void Text(std::ostream& out, double x, double y, const std::string& text, const char* anchor,
          const char* extra = "");
// The start of a self-contained SVG of that size (with the XML prolog for a
// file of its own, without it inside a page), white behind; and its end.
void SvgOpen(std::ostream& out, double width, double height, bool prolog);
void SvgClose(std::ostream& out);
// A grey line across a panel at y.
void GridLine(std::ostream& out, double left, double right, double y);
// The panel's frame, the label of its x axis below it and that of its y
// axis turned along the left side.
void PanelFrame(std::ostream& out, double left, double top, double right, double bottom,
                const std::string& xLabel, const std::string& label);
// Lines and labels at 1, 2 and 5 times each power of ten between the
// decades n0 and n1 (log10) of a logarithmic y scale.
void LogGrid(std::ostream& out, const Scale& y, double left, double right);

// The scale of stops of ISO (log2) over the figures' ISOs, half a stop
// beyond them.
Scale IsoScale(const std::vector<IsoFigures>& figures, double left, double right);
// The ISOs along the bottom of a panel against ISO, its frame and labels.
void IsoAxes(std::ostream& out, const std::vector<IsoFigures>& figures, const Scale& x, double top,
             double bottom, const std::string& label);
// Per channel (the first `channels`), the points that `value` gives (on
// the scale of `y`) joined by a line.
using ChannelValue = std::function<std::optional<double>(const ChannelFigures&)>;
void IsoLines(std::ostream& out, const std::vector<IsoFigures>& figures, std::size_t channels,
              const std::array<const char*, ChannelCount>& colours, const Scale& x, const Scale& y,
              const ChannelValue& value);
// Both.
void IsoPanel(std::ostream& out, const std::vector<IsoFigures>& figures, std::size_t channels,
              const std::array<const char*, ChannelCount>& colours, const Scale& x, const Scale& y,
              double top, double bottom, const char* label, const ChannelValue& value);

} // namespace pruvex::measure
