#pragma once

// The pieces every plot of the reports is drawn with: numbers as SVG writes
// them, linear scales, text, frames, grid lines and panels of a figure
// against ISO.

#include "measure/PhotonTransfer.h"

#include <array>
#include <cstdio>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace pruvex::measure::svg {

// printf-style formatting into a string (the C locale: a point as the
// decimal separator).
template <typename... Args> std::string Format(const char* format, Args... args) {
    std::array<char, 128> buffer{};
    const int n = std::snprintf(buffer.data(), buffer.size(), format, args...);
    return n > 0 ? std::string(buffer.data(),
                               std::min(static_cast<std::size_t>(n), buffer.size() - 1))
                 : std::string();
}

// A linear map of a value range onto a pixel range.
struct Scale {
    double From0 = 0;
    double From1 = 1;
    double To0 = 0;
    double To1 = 1;
    double operator()(double v) const { return To0 + (v - From0) / (From1 - From0) * (To1 - To0); }
};

// A panel's place on the page, in pixels.
struct Box {
    double Left = 0;
    double Right = 0;
    double Top = 0;
    double Bottom = 0;
};

// The colour of each channel, and how many channels are drawn.
struct Palette {
    std::size_t Channels = ChannelCount;
    bool Monochrome = false;
    std::array<const char*, ChannelCount> Colours{};
};
Palette PaletteOf(const std::vector<IsoFigures>& figures);

std::string Pos(double x, double y);
void Start(std::ostream& out, double width, double height);
void End(std::ostream& out);
void Text(std::ostream& out, double x, double y, const std::string& text, const char* anchor,
          const char* extra = "");
// The panel's frame, its title above and its axis labels.
void Frame(std::ostream& out, const Box& box, const std::string& title, const std::string& xLabel,
           const std::string& yLabel);
void HorizontalLine(std::ostream& out, const Box& box, double y);
void VerticalLine(std::ostream& out, const Box& box, double x);

// The ISOs' scale in stops, half a stop beyond the lowest and highest.
Scale IsoScale(const std::vector<IsoFigures>& figures, double left, double right);
// The points of one figure against ISO: the ISOs along the bottom, and per
// channel its points joined by a line (where `value` gives one, on the
// scale of `y`).
void IsoPanel(std::ostream& out, const std::vector<IsoFigures>& figures, const Palette& palette,
              const Scale& x, const Scale& y, const Box& box,
              const std::function<std::optional<double>(const ChannelFigures&)>& value);

} // namespace pruvex::measure::svg
