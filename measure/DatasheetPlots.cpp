#include "measure/DatasheetPlots.h"

#include "measure/Plot.h"
#include "measure/Svg.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pruvex::measure {

namespace {

using svg::Box;
using svg::ChannelValue;
using svg::Format;
using svg::Palette;
using svg::Pos;
using svg::Scale;
using svg::Text;

constexpr Box NoiseBox{80, 380, 50, 330};
constexpr Box RangeBox{500, 800, 50, 330};
constexpr Box SignalBox{80, 590, 50, 250};
constexpr Box DeviationBox{80, 590, 300, 400};
constexpr Box SnrBox{80, 590, 50, 400};
constexpr Box DsnuBox{80, 380, 50, 330};
constexpr Box PrnuBox{500, 800, 50, 330};

// The digital-gain ISOs shaded, the conversion-gain switch of each channel
// a dashed line labelled by its channel.
void IsoMarks(std::ostream& out, const std::vector<IsoFigures>& figures, const Palette& palette,
              const Box& box) {
    const Scale x = svg::IsoScale(figures, box.Left, box.Right);
    for (const IsoFigures& iso : figures) {
        const bool digital =
            std::any_of(iso.Datasheet.begin(), iso.Datasheet.end(),
                        [](const ChannelDatasheet& d) { return d.DigitalGain > 1; });
        if (digital && iso.Iso > 0) {
            const double left = std::max(box.Left, x(std::log2(iso.Iso) - 0.5));
            const double right = std::min(box.Right, x(std::log2(iso.Iso) + 0.5));
            out << "<rect class=\"digital\" x=\"" << Format("%.1f", left) << "\" y=\"" << box.Top
                << "\" width=\"" << Format("%.1f", right - left) << "\" height=\""
                << box.Bottom - box.Top << "\" fill=\"#e6e6e6\"/>\n";
        }
    }
    for (std::size_t ch = 0; ch < palette.Channels; ++ch) {
        for (std::size_t i = 1; i < figures.size(); ++i) {
            if (figures[i].Datasheet[ch].GainStage == 2 &&
                figures[i - 1].Datasheet[ch].GainStage == 1) {
                const double at =
                    x((std::log2(figures[i].Iso) + std::log2(figures[i - 1].Iso)) / 2);
                out << "<line class=\"switch\" x1=\"" << Format("%.1f", at) << "\" y1=\"" << box.Top
                    << "\" x2=\"" << Format("%.1f", at) << "\" y2=\"" << box.Bottom
                    << "\" stroke=\"" << palette.Colours[ch] << "\" stroke-dasharray=\"5 4\"/>\n";
                Text(out, at + 3, box.Top + 14 + 14 * static_cast<double>(ch),
                     std::string("high gain ") +
                         ChannelName(static_cast<int>(ch), palette.Monochrome),
                     "start", " font-size=\"10\"");
            }
        }
    }
}

// A round step for about five ticks over a range, and the ticks' lines and
// labels across a panel (on y) or along it (on x).
double TickStep(double range) {
    const double raw = range / 5;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0}) {
        if (raw <= m * power) {
            return m * power;
        }
    }
    return 10 * power;
}

void YTicks(std::ostream& out, const Scale& y, const Box& box) {
    const double step = TickStep(y.From1 - y.From0);
    for (double v = std::ceil(y.From0 / step) * step; v <= y.From1 + 1e-9; v += step) {
        svg::HorizontalLine(out, box, y(v));
        Text(out, box.Left - 6, y(v) + 4, Format("%g", std::abs(v) < step / 2 ? 0 : v), "end");
    }
}

void XTicks(std::ostream& out, const Scale& x, double bottom, double scale) {
    const double step = TickStep(x.From1 - x.From0);
    for (double v = std::ceil(x.From0 / step) * step; v <= x.From1 + 1e-9; v += step) {
        Text(out, x(v), bottom + 16, Format("%g", v * scale), "middle");
    }
}

void Dot(std::ostream& out, double x, double y, const char* colour, bool filled) {
    out << "<circle cx=\"" << Format("%.1f", x) << "\" cy=\"" << Format("%.1f", y) << "\" r=\"3\" "
        << (filled ? Format("fill=\"%s\"", colour) : Format("fill=\"none\" stroke=\"%s\"", colour))
        << "/>\n";
}

void Polyline(std::ostream& out, const std::string& points, const char* colour,
              const char* extra = "") {
    out << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"1.2\"" << extra
        << " points=\"" << points << "\"/>\n";
}

// The ISO whose flat frames give a linearity, if any.
const IsoFigures* FlatIso(const std::vector<IsoFigures>& figures) {
    for (const IsoFigures& iso : figures) {
        if (std::any_of(iso.Datasheet.begin(), iso.Datasheet.end(),
                        [](const ChannelDatasheet& d) { return d.Line.Valid; })) {
            return &iso;
        }
    }
    return nullptr;
}

// The upper panel: signal against time, the lines fitted; the lower: the
// deviations in percent.
void LinearityPanels(std::ostream& out, const IsoFigures& iso, const Palette& palette,
                     const Scale& x, const Scale& y, const Scale& dev) {
    const auto& colours = palette.Colours;
    for (std::size_t ch = 0; ch < palette.Channels; ++ch) {
        const Linearity& line = iso.Datasheet[ch].Line;
        if (!line.Valid) {
            continue;
        }
        std::string fitted;
        std::string deviation;
        for (const LinearityPoint& p : line.Points) {
            Dot(out, x(p.Shutter), y(p.Mean), colours[ch], p.InRange);
            const double pct = p.Fitted != 0 ? (p.Mean - p.Fitted) / p.Fitted * 100 : 0;
            const double clamped = std::clamp(pct, dev.From0, dev.From1);
            Dot(out, x(p.Shutter), dev(clamped), colours[ch], p.InRange);
            deviation += Pos(x(p.Shutter), dev(clamped)) + ' ';
        }
        // The line up to where it leaves the panel.
        double end = x.From1;
        if (line.Slope > 0 && line.Intercept + line.Slope * end > y.From1) {
            end = (y.From1 - line.Intercept) / line.Slope;
        }
        for (const double t : {x.From0, end}) {
            fitted += Pos(x(t), y(line.Intercept + line.Slope * t)) + ' ';
        }
        Polyline(out, fitted, colours[ch]);
        Polyline(out, deviation, colours[ch], " stroke-dasharray=\"3 3\"");
    }
}

} // namespace

bool WriteLinearityPlot(std::ostream& out, const std::vector<IsoFigures>& figures) {
    const IsoFigures* iso = FlatIso(figures);
    if (iso == nullptr) {
        return false;
    }
    double longest = 0;
    double highest = 0;
    double worst = 1;
    for (const ChannelDatasheet& d : iso->Datasheet) {
        for (const LinearityPoint& p : d.Line.Points) {
            longest = std::max(longest, p.Shutter);
            highest = std::max(highest, p.Mean);
            if (p.InRange && p.Fitted != 0) {
                worst = std::max(worst, std::abs(p.Mean - p.Fitted) / p.Fitted * 100);
            }
        }
    }
    const double devRange = std::ceil(std::min(worst, 20.0));
    const Box& top = SignalBox;
    const Box& bottom = DeviationBox;
    const Scale x{0, longest > 0 ? longest * 1.05 : 1, top.Left, top.Right};
    const Scale y{0, highest > 0 ? highest * 1.05 : 1, top.Bottom, top.Top};
    const Scale dev{-devRange, devRange, bottom.Bottom, bottom.Top};
    svg::Start(out, 620, 460);
    YTicks(out, y, top);
    YTicks(out, dev, bottom);
    XTicks(out, x, top.Bottom, 1000);
    XTicks(out, x, bottom.Bottom, 1000);
    svg::Frame(out, top, "Linearity at ISO " + Format("%g", iso->Iso), "",
               "signal above black (DN)");
    svg::Frame(out, bottom, "", "exposure time (ms)", "deviation (%)");
    LinearityPanels(out, *iso, svg::PaletteOf(figures), x, y, dev);
    Text(out, 80, 452, "hollow: outside 5-95 % of saturation, not in the fit", "start",
         " font-size=\"10\"");
    svg::End(out);
    return true;
}

void WriteSnrPlot(std::ostream& out, const std::vector<IsoFigures>& figures) {
    double most = 10;
    for (const IsoFigures& iso : figures) {
        for (const ChannelFigures& f : iso.Channels) {
            most = std::max(most, f.FullWellE);
        }
    }
    const double s1 = std::ceil(std::log10(most));
    const Box& box = SnrBox;
    const Scale x{0, s1, box.Left, box.Right};
    const Scale y{-1, std::ceil(s1 / 2) + 0.0, box.Bottom, box.Top};
    svg::Start(out, 720, 460);
    svg::LogGrid(out, box, y);
    for (double d = 0; d <= s1; ++d) {
        Text(out, x(d), box.Bottom + 16, Format("%g", std::pow(10.0, d)), "middle");
    }
    svg::Frame(out, box, "Signal-to-noise ratio", "signal (electrons)", "SNR");
    std::size_t line = 0;
    for (const IsoFigures& iso : figures) {
        const std::size_t ch = iso.Monochrome ? 0 : 1;
        const ChannelFigures& f = iso.Channels[ch];
        if (f.TooFew || !(f.FullWellE > 0) || !(f.ReadNoiseE > 0)) {
            continue;
        }
        const ChannelDatasheet& d = iso.Datasheet[ch];
        const double dsnu = d.DsnuE.Valid ? d.DsnuE.Total : 0;
        const double prnu = d.PrnuPct.Valid ? d.PrnuPct.Total / 100 : 0;
        std::string points;
        for (int i = 0; i <= 100; ++i) {
            const double l = std::log10(f.FullWellE) * i / 100.0;
            const double signal = std::pow(10.0, l);
            const double noise = std::sqrt(f.ReadNoiseE * f.ReadNoiseE + dsnu * dsnu + signal +
                                           prnu * prnu * signal * signal);
            const double snr = std::log10(signal / noise);
            if (snr >= y.From0 && snr <= y.From1) {
                points += Pos(x(l), y(snr)) + ' ';
            }
        }
        const char* colour = LineColour(line);
        Polyline(out, points, colour);
        Text(out, box.Right + 10, box.Top + 14 + 14 * static_cast<double>(line),
             "ISO " + Format("%g", iso.Iso), "start", Format(" fill=\"%s\"", colour).c_str());
        ++line;
    }
    svg::End(out);
}

namespace {

// DSNU in electrons against ISO, a line per channel.
void DsnuPanel(std::ostream& out, const std::vector<IsoFigures>& figures, const Palette& palette) {
    const Box& box = DsnuBox;
    double most = 0;
    for (const IsoFigures& iso : figures) {
        for (const ChannelDatasheet& d : iso.Datasheet) {
            most = d.DsnuE.Valid ? std::max(most, d.DsnuE.Total) : most;
        }
    }
    const Scale x = svg::IsoScale(figures, box.Left, box.Right);
    const Scale y{0, most > 0 ? 1.15 * most : 1, box.Bottom, box.Top};
    YTicks(out, y, box);
    svg::Frame(out, box, "Dark-signal non-uniformity", "ISO", "DSNU (electrons)");
    svg::IsoLabels(out, figures, x, box);
    for (std::size_t ch = 0; ch < palette.Channels; ++ch) {
        std::string points;
        for (const IsoFigures& iso : figures) {
            const NonUniformity& u = iso.Datasheet[ch].DsnuE;
            if (iso.Iso > 0 && u.Valid) {
                points += Pos(x(std::log2(iso.Iso)), y(u.Total)) + ' ';
                Dot(out, x(std::log2(iso.Iso)), y(u.Total), palette.Colours[ch], true);
            }
        }
        Polyline(out, points, palette.Colours[ch]);
    }
}

// PRNU in percent at the ISO that has it, per channel: the whole and its
// row, column and pixel parts side by side.
void PrnuPanel(std::ostream& out, const IsoFigures& iso, const Palette& palette) {
    const Box& box = PrnuBox;
    double most = 0;
    for (const ChannelDatasheet& d : iso.Datasheet) {
        most = d.PrnuPct.Valid ? std::max(most, d.PrnuPct.Total) : most;
    }
    const Scale y{0, most > 0 ? 1.15 * most : 1, box.Bottom, box.Top};
    YTicks(out, y, box);
    svg::Frame(out, box, "Photo-response non-uniformity, ISO " + Format("%g", iso.Iso),
               "channel: whole, row, column, pixel", "PRNU (%)");
    const double group = (box.Right - box.Left) / static_cast<double>(palette.Channels);
    const double bar = group / 6;
    for (std::size_t ch = 0; ch < palette.Channels; ++ch) {
        const NonUniformity& u = iso.Datasheet[ch].PrnuPct;
        const double left = box.Left + group * static_cast<double>(ch) + bar;
        Text(out, left + 2 * bar, box.Bottom + 16,
             ChannelName(static_cast<int>(ch), palette.Monochrome), "middle");
        if (!u.Valid) {
            continue;
        }
        const std::array<double, 4> parts{u.Total, u.Row, u.Column, u.Pixel};
        const std::array<const char*, 4> opacity{"1", "0.65", "0.45", "0.25"};
        for (std::size_t k = 0; k < parts.size(); ++k) {
            const double top = y(std::max(0.0, parts[k]));
            out << "<rect class=\"prnu\" x=\""
                << Format("%.1f", left + bar * static_cast<double>(k)) << "\" y=\""
                << Format("%.1f", top) << "\" width=\"" << Format("%.1f", bar * 0.9)
                << "\" height=\"" << Format("%.1f", box.Bottom - top) << "\" fill=\""
                << palette.Colours[ch] << "\" fill-opacity=\"" << opacity[k] << "\"/>\n";
        }
    }
}

} // namespace

bool WriteUniformityPlot(std::ostream& out, const std::vector<IsoFigures>& figures) {
    const IsoFigures* flat = nullptr;
    bool dsnu = false;
    for (const IsoFigures& iso : figures) {
        for (const ChannelDatasheet& d : iso.Datasheet) {
            dsnu = dsnu || d.DsnuE.Valid;
            flat = flat == nullptr && d.PrnuPct.Valid ? &iso : flat;
        }
    }
    if (!dsnu && flat == nullptr) {
        return false;
    }
    const Palette palette = svg::PaletteOf(figures);
    svg::Start(out, 820, 380);
    if (dsnu) {
        DsnuPanel(out, figures, palette);
    }
    if (flat != nullptr) {
        PrnuPanel(out, *flat, palette);
    }
    svg::End(out);
    return true;
}

const char* LineColour(std::size_t index) {
    static constexpr std::array<const char*, 8> Colours{"#1f5fbf", "#c8102e", "#2e8b2e", "#8a3ffc",
                                                        "#e07b00", "#007d79", "#9f1853", "#555555"};
    return Colours[index % Colours.size()];
}

void WriteIsoPlot(std::ostream& out, const std::vector<IsoFigures>& figures) {
    const Palette palette = svg::PaletteOf(figures);
    svg::Start(out, 820, 400);
    IsoMarks(out, figures, palette, NoiseBox);
    IsoMarks(out, figures, palette, RangeBox);
    DrawReadNoisePanel(out, figures, palette, NoiseBox);
    DrawRangePanel(out, figures, palette, RangeBox);
    Text(out, 80, 394,
         "grey band: an ISO with digital gain; dashed: the switch to the high conversion gain",
         "start", " font-size=\"10\"");
    svg::End(out);
}

} // namespace pruvex::measure
