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
#include <utility>
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

// A figure of a channel, where it has one.
using ChannelValue = std::function<std::optional<double>(const ChannelFigures&)>;

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

// Text with &, <, > and " written as XML and HTML want them.
std::string Escape(const std::string& text);
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
// Grid lines labelled at whole units of a linear y scale; and at 1, 2 and 5
// times each power of ten of a logarithmic one (log10).
void UnitGrid(std::ostream& out, const Box& box, const Scale& y);
void LogGrid(std::ostream& out, const Box& box, const Scale& y);
// The lowest and highest of a figure over every ISO and channel that has
// it; `low` and `high` where none has.
std::pair<double, double>
RangeOf(const std::vector<IsoFigures>& figures,
        const std::function<std::optional<double>(const ChannelFigures&)>& value, double low,
        double high);

// The ISOs' scale in stops, half a stop beyond the lowest and highest.
Scale IsoScale(const std::vector<IsoFigures>& figures, double left, double right);
// The ISOs along the bottom of a panel.
void IsoLabels(std::ostream& out, const std::vector<IsoFigures>& figures, const Scale& x,
               const Box& box);
// The points of one figure against ISO: the ISOs along the bottom (unless
// `labels` is false), and per channel its points joined by a line (where
// `value` gives one, on the scale of `y`).
void IsoPanel(std::ostream& out, const std::vector<IsoFigures>& figures, const Palette& palette,
              const Scale& x, const Scale& y, const Box& box,
              const std::function<std::optional<double>(const ChannelFigures&)>& value,
              bool labels = true);

} // namespace pruvex::measure::svg
