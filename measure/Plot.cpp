// The plot: the photon transfer curves, the dynamic range and the read
// noise in electrons against ISO, side by side in one SVG.

#include "measure/Report.h"
#include "measure/Svg.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pruvex::measure {

namespace {

using svg::Box;
using svg::Format;
using svg::Palette;
using svg::Scale;
using svg::Text;

constexpr double PlotWidth = 1300;
constexpr double PlotHeight = 460;
constexpr Box TransferBox{70, 560, 50, 400};
constexpr Box RangeBox{660, 950, 50, 400};
constexpr Box NoiseBox{1010, 1270, 50, 400};

// The decades the photon transfer panel spans, in log10 of DN: signal
// across, noise up.
struct Decades {
    double X0 = 0;
    double X1 = 1;
    double Y0 = 0;
    double Y1 = 1;
    double HighSignal = 10;
    bool Inside(double lx, double ly) const { return lx >= X0 && lx <= X1 && ly >= Y0 && ly <= Y1; }
};

Decades TransferDecades(const std::vector<IsoFigures>& figures) {
    double lowSignal = std::numeric_limits<double>::max();
    double highSignal = 0;
    double lowNoise = std::numeric_limits<double>::max();
    double highNoise = 0;
    for (const IsoFigures& iso : figures) {
        for (const Stats& square : iso.Squares) {
            for (const ChannelStats& s : square) {
                if (s.Pixels > 0 && s.Mean > 0 && s.Variance > 0) {
                    lowSignal = std::min(lowSignal, s.Mean);
                    highSignal = std::max(highSignal, s.Mean);
                    lowNoise = std::min(lowNoise, std::sqrt(s.Variance));
                    highNoise = std::max(highNoise, std::sqrt(s.Variance));
                }
            }
        }
        for (const ChannelFigures& f : iso.Channels) {
            if (f.ReadNoiseDn > 0) {
                lowNoise = std::min(lowNoise, f.ReadNoiseDn);
            }
        }
    }
    if (highSignal <= 0) {
        lowSignal = 1;
        highSignal = 10;
        lowNoise = 1;
        highNoise = 10;
    }
    Decades d;
    d.X0 = std::floor(std::log10(lowSignal));
    d.X1 = std::max(std::ceil(std::log10(highSignal)), d.X0 + 1);
    d.Y0 = std::floor(std::log10(lowNoise));
    d.Y1 = std::max(std::ceil(std::log10(highNoise)), d.Y0 + 1);
    d.HighSignal = highSignal;
    return d;
}

void DrawTransferGrid(std::ostream& out, const Decades& d, const Scale& sx, const Scale& sy) {
    const Box& box = TransferBox;
    for (double x = d.X0; x <= d.X1; ++x) {
        svg::VerticalLine(out, box, sx(x));
        Text(out, sx(x), box.Bottom + 16, Format("%g", std::pow(10.0, x)), "middle");
    }
    for (double y = d.Y0; y <= d.Y1; ++y) {
        svg::HorizontalLine(out, box, sy(y));
        Text(out, box.Left - 6, sy(y) + 4, Format("%g", std::pow(10.0, y)), "end");
    }
    svg::Frame(out, box, "Photon transfer: temporal noise against signal",
               "mean signal above black (DN)", "noise (DN)");
}

// A channel's squares: filled when in the fit, hollow when left out.
void DrawSquares(std::ostream& out, const IsoFigures& iso, std::size_t ch, const char* colour,
                 const Decades& d, const Scale& sx, const Scale& sy) {
    const ChannelFigures& f = iso.Channels[ch];
    for (std::size_t k = 0; k < iso.Squares.size(); ++k) {
        const ChannelStats& s = iso.Squares[k][ch];
        if (s.Pixels == 0 || !(s.Mean > 0) || !(s.Variance > 0)) {
            continue;
        }
        const double lx = std::log10(s.Mean);
        const double ly = 0.5 * std::log10(s.Variance);
        if (!d.Inside(lx, ly)) {
            continue;
        }
        const bool kept = k < f.Fit.Kept.size() && f.Fit.Kept[k];
        out << "<circle cx=\"" << Format("%.1f", sx(lx)) << "\" cy=\"" << Format("%.1f", sy(ly))
            << "\" r=\"2.2\" "
            << (kept ? Format("fill=\"%s\"", colour)
                     : Format("fill=\"none\" stroke=\"%s\"", colour))
            << "/>\n";
    }
}

// The fitted line: noise = sqrt(read variance + signal / K).
void DrawFittedLine(std::ostream& out, const ChannelFigures& f, const char* colour,
                    const Decades& d, const Scale& sx, const Scale& sy) {
    const double read =
        f.ReadNoiseFromDark ? f.ReadNoiseDn * f.ReadNoiseDn : std::max(f.Fit.Intercept, 0.0);
    std::string points;
    for (int i = 0; i <= 100; ++i) {
        const double lx = d.X0 + (d.X1 - d.X0) * i / 100.0;
        const double variance = read + std::pow(10.0, lx) * f.Fit.Slope;
        if (!(variance > 0)) {
            continue;
        }
        const double ly = 0.5 * std::log10(variance);
        if (ly < d.Y0 || ly > d.Y1) {
            continue;
        }
        points += svg::Pos(sx(lx), sy(ly)) + ' ';
    }
    out << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"1.2\" points=\""
        << points << "\"/>\n";
}

// The ISO beside its green curve's upper end.
void LabelCurve(std::ostream& out, const IsoFigures& iso, const Palette& palette, const Decades& d,
                const Scale& sx, const Scale& sy) {
    const ChannelFigures& g = iso.Channels[palette.Monochrome ? 0 : 1];
    if (g.Fit.Valid) {
        const double variance = std::max(g.Fit.Intercept, 0.0) + d.HighSignal * g.Fit.Slope;
        const double ly = std::clamp(0.5 * std::log10(variance), d.Y0, d.Y1);
        Text(out, sx(std::log10(d.HighSignal)) + 4, sy(ly) + 4, "ISO " + Format("%g", iso.Iso),
             "start", " font-size=\"10\"");
    }
}

void DrawLegend(std::ostream& out, const Palette& palette) {
    const Box& box = TransferBox;
    for (std::size_t ch = 0; ch < palette.Channels; ++ch) {
        const double y = box.Top + 16 + 16 * static_cast<double>(ch);
        out << "<circle cx=\"" << box.Left + 14 << "\" cy=\"" << y - 4 << "\" r=\"3\" fill=\""
            << palette.Colours[ch] << "\"/>\n";
        Text(out, box.Left + 22, y, ChannelName(static_cast<int>(ch), palette.Monochrome), "start");
    }
    Text(out, box.Left + 10, box.Top + 16 + 16 * 3, "hollow: left out of the fit", "start",
         " font-size=\"10\"");
}

void DrawTransferPanel(std::ostream& out, const std::vector<IsoFigures>& figures,
                       const Palette& palette) {
    const Decades d = TransferDecades(figures);
    const Scale sx{d.X0, d.X1, TransferBox.Left, TransferBox.Right};
    const Scale sy{d.Y0, d.Y1, TransferBox.Bottom, TransferBox.Top};
    DrawTransferGrid(out, d, sx, sy);
    for (const IsoFigures& iso : figures) {
        for (std::size_t ch = 0; ch < palette.Channels; ++ch) {
            DrawSquares(out, iso, ch, palette.Colours[ch], d, sx, sy);
            if (iso.Channels[ch].Fit.Valid) {
                DrawFittedLine(out, iso.Channels[ch], palette.Colours[ch], d, sx, sy);
            }
        }
        LabelCurve(out, iso, palette, d, sx, sy);
    }
    DrawLegend(out, palette);
}

// Dynamic range (EV) against ISO on a scale of stops.
void DrawRangePanel(std::ostream& out, const std::vector<IsoFigures>& figures,
                    const Palette& palette) {
    double lowEv = std::numeric_limits<double>::max();
    double highEv = 0;
    for (const IsoFigures& iso : figures) {
        for (const ChannelFigures& f : iso.Channels) {
            if (f.ReadNoiseDn > 0) {
                lowEv = std::min(lowEv, f.DynamicRangeEv);
                highEv = std::max(highEv, f.DynamicRangeEv);
            }
        }
    }
    if (highEv <= 0) {
        lowEv = 8;
        highEv = 12;
    }
    const Box& box = RangeBox;
    const Scale se{std::floor(lowEv) - 1, std::ceil(highEv) + 1, box.Bottom, box.Top};
    for (double e = se.From0; e <= se.From1; ++e) {
        svg::HorizontalLine(out, box, se(e));
        Text(out, box.Left - 6, se(e) + 4, Format("%g", e), "end");
    }
    svg::Frame(out, box, "Engineering dynamic range", "ISO", "dynamic range (EV)");
    svg::IsoPanel(out, figures, palette, svg::IsoScale(figures, box.Left, box.Right), se, box,
                  [](const ChannelFigures& f) {
                      return f.ReadNoiseDn > 0 ? std::optional(f.DynamicRangeEv) : std::nullopt;
                  });
}

// The read noise in electrons against ISO, on a logarithmic scale (a
// dual-gain sensor's step shows here).
void DrawReadNoisePanel(std::ostream& out, const std::vector<IsoFigures>& figures,
                        const Palette& palette) {
    double lowE = std::numeric_limits<double>::max();
    double highE = 0;
    for (const IsoFigures& iso : figures) {
        for (const ChannelFigures& f : iso.Channels) {
            if (f.ReadNoiseE > 0) {
                lowE = std::min(lowE, f.ReadNoiseE);
                highE = std::max(highE, f.ReadNoiseE);
            }
        }
    }
    if (highE <= 0) {
        lowE = 1;
        highE = 10;
    }
    const Box& box = NoiseBox;
    const double n0 = std::floor(std::log10(lowE) * 3) / 3;
    const double n1 = std::max(std::ceil(std::log10(highE) * 3) / 3, n0 + 1.0 / 3);
    const Scale sn{n0, n1, box.Bottom, box.Top};
    for (double d = std::floor(n0); d <= n1; ++d) {
        for (const double m : {1.0, 2.0, 5.0}) {
            const double l = d + std::log10(m);
            if (l >= n0 - 1e-9 && l <= n1 + 1e-9) {
                svg::HorizontalLine(out, box, sn(l));
                Text(out, box.Left - 6, sn(l) + 4, Format("%g", std::pow(10.0, l)), "end");
            }
        }
    }
    svg::Frame(out, box, "Read noise", "ISO", "read noise (electrons)");
    svg::IsoPanel(out, figures, palette, svg::IsoScale(figures, box.Left, box.Right), sn, box,
                  [](const ChannelFigures& f) {
                      return f.ReadNoiseE > 0 ? std::optional(std::log10(f.ReadNoiseE))
                                              : std::nullopt;
                  });
}

} // namespace

void WritePlot(std::ostream& out, const std::vector<IsoFigures>& figures) {
    const Palette palette = svg::PaletteOf(figures);
    svg::Start(out, PlotWidth, PlotHeight);
    DrawTransferPanel(out, figures, palette);
    DrawRangePanel(out, figures, palette);
    DrawReadNoisePanel(out, figures, palette);
    svg::End(out);
}

} // namespace pruvex::measure
