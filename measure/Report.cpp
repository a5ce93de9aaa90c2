#include "measure/Report.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <limits>
#include <optional>
#include <string>

namespace pruvex::measure {

namespace {

// printf-style formatting into a string (the C locale: a point as the
// decimal separator).
template <typename... Args> std::string Format(const char* format, Args... args) {
    std::array<char, 128> buffer{};
    const int n = std::snprintf(buffer.data(), buffer.size(), format, args...);
    return n > 0 ? std::string(buffer.data(),
                               std::min(static_cast<std::size_t>(n), buffer.size() - 1))
                 : std::string();
}

std::string Number(double value, bool known = true) {
    return known && std::isfinite(value) ? Format("%.6g", value) : std::string();
}

std::string Iso(double iso) {
    return Format("%g", iso);
}

constexpr std::array<const char*, ChannelCount> ColourOf{"#c8102e", "#2e8b2e", "#1f5fbf"};

} // namespace

std::string ShutterText(double seconds) {
    if (seconds > 0 && seconds < 1) {
        return Format("1/%.0f s", 1 / seconds);
    }
    return Format("%g s", seconds);
}

std::vector<std::string> TooFewNotes(const IsoFigures& iso) {
    std::vector<std::string> notes;
    const std::string name = "ISO " + Iso(iso.Iso);
    for (int ch = 0; ch < iso.ChannelsUsed(); ++ch) {
        const ChannelFigures& f = iso.Channels[static_cast<std::size_t>(ch)];
        if (f.TooFew) {
            notes.push_back(name + " " + ChannelName(ch, iso.Monochrome) + ": " +
                            std::to_string(f.Usable) + " squares below clipping, fewer than " +
                            std::to_string(LeastSquares) + ": no figures; shoot it again at " +
                            (f.SuggestedShutter > 0 ? ShutterText(f.SuggestedShutter)
                                                    : std::string("a shorter time")));
        }
    }
    return notes;
}

std::vector<std::string> Notes(const IsoFigures& iso) {
    std::vector<std::string> notes = TooFewNotes(iso);
    const std::string name = "ISO " + Iso(iso.Iso);
    for (const std::string& frame : iso.Unpaired) {
        std::string note = name;
        note += ": ";
        note += frame;
        note += " has no partner of its ISO and exposure time: left out of the fit";
        notes.push_back(std::move(note));
    }
    for (const ExposureSet& set : iso.Sets) {
        if (set.Banded) {
            notes.push_back(name + ", " + ShutterText(set.Shutter) +
                            ": bands across the rows (a dimmed backlight) found in the pairs' "
                            "differences and removed");
        }
    }
    if (iso.SingleFrame) {
        notes.push_back(name + ": single frame (no pair of frames at the same place): the "
                               "variance includes the fixed pattern");
    }
    notes.insert(notes.end(), iso.DatasheetNotes.begin(), iso.DatasheetNotes.end());
    return notes;
}

bool AnyFigures(const std::vector<IsoFigures>& figures) {
    return std::any_of(figures.begin(), figures.end(), [](const IsoFigures& iso) {
        return std::any_of(iso.Channels.begin(), iso.Channels.begin() + iso.ChannelsUsed(),
                           [](const ChannelFigures& f) { return !f.TooFew; });
    });
}

void WriteTable(std::ostream& out, const std::vector<IsoFigures>& figures) {
    out << Format("%-7s %-2s %6s %7s %10s %9s %9s %11s %6s  %s\n", "ISO", "ch", "frames", "squares",
                  "gain e/DN", "read DN", "read e", "full well e", "DR EV", "read noise from");
    for (const IsoFigures& iso : figures) {
        for (int ch = 0; ch < iso.ChannelsUsed(); ++ch) {
            const ChannelFigures& f = iso.Channels[static_cast<std::size_t>(ch)];
            if (f.TooFew) {
                continue;
            }
            const bool read = f.ReadNoiseDn > 0;
            const auto cell = [](double v, bool known, const char* format) {
                return known ? Format(format, v) : std::string("-");
            };
            out << Format("%-7s %-2s %6d %7d ", Iso(iso.Iso).c_str(),
                          ChannelName(ch, iso.Monochrome), iso.Frames, f.Squares)
                << Format("%10s %9s %9s %11s %6s  %s\n", cell(f.Gain, f.Gain > 0, "%.4f").c_str(),
                          cell(f.ReadNoiseDn, read, "%.3f").c_str(),
                          cell(f.ReadNoiseE, read && f.Gain > 0, "%.3f").c_str(),
                          cell(f.FullWellE, f.Gain > 0, "%.0f").c_str(),
                          cell(f.DynamicRangeEv, read, "%.2f").c_str(),
                          f.ReadNoiseFromDark ? "dark frames" : "fit");
        }
        for (const std::string& note : Notes(iso)) {
            out << "        " << note << '\n';
        }
    }
}

void WriteFiguresCsv(std::ostream& out, const std::vector<IsoFigures>& figures) {
    out << "iso,channel,frames,squares,gain_e_per_dn,read_noise_dn,read_noise_e,full_well_e,dr_ev,"
           "read_noise_from,dsnu_e,prnu_pct,linearity_error_pct,white_dn,white_from,gain_stage,"
           "digital_gain\n";
    for (const IsoFigures& iso : figures) {
        for (int ch = 0; ch < iso.ChannelsUsed(); ++ch) {
            const ChannelFigures& f = iso.Channels[static_cast<std::size_t>(ch)];
            if (f.TooFew) {
                continue;
            }
            const bool gain = f.Gain > 0;
            const bool read = f.ReadNoiseDn > 0;
            out << Iso(iso.Iso) << ',' << ChannelName(ch, iso.Monochrome) << ',' << iso.Frames
                << ',' << f.Squares << ',' << Number(f.Gain, gain) << ','
                << Number(f.ReadNoiseDn, read) << ',' << Number(f.ReadNoiseE, read && gain) << ','
                << Number(f.FullWellE, gain) << ',' << Number(f.DynamicRangeEv, read) << ','
                << (f.ReadNoiseFromDark ? "dark" : "fit") << ',';
            const ChannelDatasheet& d = iso.Datasheet[static_cast<std::size_t>(ch)];
            out << Number(d.DsnuE.Total, d.DsnuE.Valid) << ','
                << Number(d.PrnuPct.Total, d.PrnuPct.Valid) << ','
                << Number(d.Line.ErrorPct, d.Line.Valid) << ',' << Number(d.WhiteDn) << ','
                << (d.WhiteMeasured ? "measured" : "file") << ','
                << (d.GainStage > 0 ? std::to_string(d.GainStage) : std::string()) << ','
                << d.DigitalGain << '\n';
        }
    }
}

void WriteSquaresCsv(std::ostream& out, const std::vector<IsoFigures>& figures) {
    out << "iso,exposure_s,square,channel,mean_dn,variance_dn2,pixels,clipped\n";
    for (const IsoFigures& iso : figures) {
        for (const ExposureSet& set : iso.Sets) {
            for (std::size_t k = 0; k < set.Squares.size(); ++k) {
                for (int ch = 0; ch < iso.ChannelsUsed(); ++ch) {
                    const ChannelStats& s = set.Squares[k][static_cast<std::size_t>(ch)];
                    const bool known = s.Pixels > 0;
                    out << Iso(iso.Iso) << ',' << Format("%.6g", set.Shutter) << ',' << k << ','
                        << ChannelName(ch, iso.Monochrome) << ',' << Number(s.Mean, known) << ','
                        << Number(s.Variance, known) << ',' << s.Pixels << ',' << s.Clipped << '\n';
                }
            }
        }
    }
}

namespace {

// A linear map of a value range onto a pixel range.
struct Scale {
    double From0 = 0;
    double From1 = 1;
    double To0 = 0;
    double To1 = 1;
    double operator()(double v) const { return To0 + (v - From0) / (From1 - From0) * (To1 - To0); }
};

std::string Pos(double x, double y) {
    return Format("%.1f,%.1f", x, y);
}

void Text(std::ostream& out, double x, double y, const std::string& text, const char* anchor,
          const char* extra = "") {
    out << "<text x=\"" << Format("%.1f", x) << "\" y=\"" << Format("%.1f", y)
        << "\" text-anchor=\"" << anchor << "\"" << extra << ">" << text << "</text>\n";
}

// A panel of one figure against ISO: the ISOs along the bottom, the
// panel's frame and labels, and per channel its points joined by a line
// (where `value` gives one, on the scale of `y`).
void IsoPanel(std::ostream& out, const std::vector<IsoFigures>& figures, std::size_t channels,
              const std::array<const char*, ChannelCount>& colours, const Scale& x, const Scale& y,
              double top, double bottom, const char* label,
              const std::function<std::optional<double>(const ChannelFigures&)>& value) {
    const double left = x.To0;
    const double right = x.To1;
    for (const IsoFigures& iso : figures) {
        if (iso.Iso > 0) {
            Text(out, x(std::log2(iso.Iso)), bottom + 16, Iso(iso.Iso), "middle");
        }
    }
    out << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << right - left
        << "\" height=\"" << bottom - top << "\" fill=\"none\" stroke=\"black\"/>\n";
    Text(out, (left + right) / 2, bottom + 36, "ISO", "middle");
    Text(out, left - 34, (top + bottom) / 2, label, "middle",
         Format(" transform=\"rotate(-90 %.1f %.1f)\"", left - 34, (top + bottom) / 2).c_str());
    for (std::size_t ch = 0; ch < channels; ++ch) {
        std::string points;
        for (const IsoFigures& iso : figures) {
            const std::optional<double> v = value(iso.Channels[ch]);
            if (iso.Iso > 0 && v) {
                const double px = x(std::log2(iso.Iso));
                const double py = y(*v);
                points += Pos(px, py) + ' ';
                out << "<circle cx=\"" << Format("%.1f", px) << "\" cy=\"" << Format("%.1f", py)
                    << "\" r=\"3\" fill=\"" << colours[ch] << "\"/>\n";
            }
        }
        out << "<polyline fill=\"none\" stroke=\"" << colours[ch] << "\" points=\"" << points
            << "\"/>\n";
    }
}

} // namespace

void WritePlot(std::ostream& out, const std::vector<IsoFigures>& figures) {
    constexpr double width = 1300;
    constexpr double height = 460;
    // Left: the photon transfer curves; right: dynamic range against ISO.
    constexpr double left0 = 70;
    constexpr double left1 = 560;
    constexpr double right0 = 660;
    constexpr double right1 = 950;
    constexpr double top = 50;
    constexpr double bottom = 400;

    const bool mono = !figures.empty() && figures.front().Monochrome;
    const std::size_t channels = mono ? 1 : ChannelCount;
    const std::array<const char*, ChannelCount> Colours =
        mono ? std::array<const char*, ChannelCount>{"#333333", "#333333", "#333333"} : ColourOf;
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
    const double x0 = std::floor(std::log10(lowSignal));
    const double x1 = std::max(std::ceil(std::log10(highSignal)), x0 + 1);
    const double y0 = std::floor(std::log10(lowNoise));
    const double y1 = std::max(std::ceil(std::log10(highNoise)), y0 + 1);
    const Scale sx{x0, x1, left0, left1};
    const Scale sy{y0, y1, bottom, top};

    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << ' ' << height
        << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    Text(out, (left0 + left1) / 2, 28, "Photon transfer: temporal noise against signal", "middle",
         " font-size=\"15\"");
    Text(out, (right0 + right1) / 2, 28, "Engineering dynamic range", "middle",
         " font-size=\"15\"");

    // Decades and the axes of the left panel.
    for (double d = x0; d <= x1; ++d) {
        out << "<line x1=\"" << Format("%.1f", sx(d)) << "\" y1=\"" << top << "\" x2=\""
            << Format("%.1f", sx(d)) << "\" y2=\"" << bottom << "\" stroke=\"#ddd\"/>\n";
        Text(out, sx(d), bottom + 16, Format("%g", std::pow(10.0, d)), "middle");
    }
    for (double d = y0; d <= y1; ++d) {
        out << "<line x1=\"" << left0 << "\" y1=\"" << Format("%.1f", sy(d)) << "\" x2=\"" << left1
            << "\" y2=\"" << Format("%.1f", sy(d)) << "\" stroke=\"#ddd\"/>\n";
        Text(out, left0 - 6, sy(d) + 4, Format("%g", std::pow(10.0, d)), "end");
    }
    out << "<rect x=\"" << left0 << "\" y=\"" << top << "\" width=\"" << left1 - left0
        << "\" height=\"" << bottom - top << "\" fill=\"none\" stroke=\"black\"/>\n";
    Text(out, (left0 + left1) / 2, bottom + 36, "mean signal above black (DN)", "middle");
    Text(out, 18, (top + bottom) / 2, "noise (DN)", "middle",
         Format(" transform=\"rotate(-90 18 %.1f)\"", (top + bottom) / 2).c_str());

    const auto inside = [&](double lx, double ly) {
        return lx >= x0 && lx <= x1 && ly >= y0 && ly <= y1;
    };
    for (const IsoFigures& iso : figures) {
        for (std::size_t ch = 0; ch < channels; ++ch) {
            const ChannelFigures& f = iso.Channels[ch];
            // The squares: filled when in the fit, hollow when left out.
            for (std::size_t k = 0; k < iso.Squares.size(); ++k) {
                const ChannelStats& s = iso.Squares[k][ch];
                if (s.Pixels == 0 || !(s.Mean > 0) || !(s.Variance > 0)) {
                    continue;
                }
                const double lx = std::log10(s.Mean);
                const double ly = 0.5 * std::log10(s.Variance);
                if (!inside(lx, ly)) {
                    continue;
                }
                const bool kept = k < f.Fit.Kept.size() && f.Fit.Kept[k];
                out << "<circle cx=\"" << Format("%.1f", sx(lx)) << "\" cy=\""
                    << Format("%.1f", sy(ly)) << "\" r=\"2.2\" "
                    << (kept ? Format("fill=\"%s\"", Colours[ch])
                             : Format("fill=\"none\" stroke=\"%s\"", Colours[ch]))
                    << "/>\n";
            }
            if (!f.Fit.Valid) {
                continue;
            }
            // The fitted line: noise = sqrt(read variance + signal / K).
            const double read = f.ReadNoiseFromDark ? f.ReadNoiseDn * f.ReadNoiseDn
                                                    : std::max(f.Fit.Intercept, 0.0);
            std::string points;
            for (int i = 0; i <= 100; ++i) {
                const double lx = x0 + (x1 - x0) * i / 100.0;
                const double variance = read + std::pow(10.0, lx) * f.Fit.Slope;
                if (!(variance > 0)) {
                    continue;
                }
                const double ly = 0.5 * std::log10(variance);
                if (ly < y0 || ly > y1) {
                    continue;
                }
                points += Pos(sx(lx), sy(ly)) + ' ';
            }
            out << "<polyline fill=\"none\" stroke=\"" << Colours[ch]
                << "\" stroke-width=\"1.2\" points=\"" << points << "\"/>\n";
        }
        // The ISO beside its green curve's upper end.
        const ChannelFigures& g = iso.Channels[mono ? 0 : 1];
        if (g.Fit.Valid) {
            const double variance = std::max(g.Fit.Intercept, 0.0) + highSignal * g.Fit.Slope;
            const double ly = std::clamp(0.5 * std::log10(variance), y0, y1);
            Text(out, sx(std::log10(highSignal)) + 4, sy(ly) + 4, "ISO " + Iso(iso.Iso), "start",
                 " font-size=\"10\"");
        }
    }
    // The legend.
    for (std::size_t ch = 0; ch < channels; ++ch) {
        const double y = top + 16 + 16 * static_cast<double>(ch);
        out << "<circle cx=\"" << left0 + 14 << "\" cy=\"" << y - 4 << "\" r=\"3\" fill=\""
            << Colours[ch] << "\"/>\n";
        Text(out, left0 + 22, y, ChannelName(static_cast<int>(ch), mono), "start");
    }
    Text(out, left0 + 10, top + 16 + 16 * 3, "hollow: left out of the fit", "start",
         " font-size=\"10\"");

    // Right panel: dynamic range (EV) against ISO on a scale of stops.
    double lowIso = std::numeric_limits<double>::max();
    double highIso = 0;
    double lowEv = std::numeric_limits<double>::max();
    double highEv = 0;
    for (const IsoFigures& iso : figures) {
        if (iso.Iso > 0) {
            lowIso = std::min(lowIso, iso.Iso);
            highIso = std::max(highIso, iso.Iso);
        }
        for (const ChannelFigures& f : iso.Channels) {
            if (f.ReadNoiseDn > 0) {
                lowEv = std::min(lowEv, f.DynamicRangeEv);
                highEv = std::max(highEv, f.DynamicRangeEv);
            }
        }
    }
    if (highIso <= 0) {
        lowIso = 100;
        highIso = 100;
    }
    if (highEv <= 0) {
        lowEv = 8;
        highEv = 12;
    }
    const double i0 = std::floor(std::log2(lowIso)) - 0.5;
    const double i1 = std::ceil(std::log2(highIso)) + 0.5;
    const double e0 = std::floor(lowEv) - 1;
    const double e1 = std::ceil(highEv) + 1;
    const Scale si{i0, i1, right0, right1};
    const Scale se{e0, e1, bottom, top};
    for (double e = e0; e <= e1; ++e) {
        out << "<line x1=\"" << right0 << "\" y1=\"" << Format("%.1f", se(e)) << "\" x2=\""
            << right1 << "\" y2=\"" << Format("%.1f", se(e)) << "\" stroke=\"#ddd\"/>\n";
        Text(out, right0 - 6, se(e) + 4, Format("%g", e), "end");
    }
    IsoPanel(out, figures, channels, Colours, si, se, top, bottom, "dynamic range (EV)",
             [](const ChannelFigures& f) {
                 return f.ReadNoiseDn > 0 ? std::optional(f.DynamicRangeEv) : std::nullopt;
             });

    // Third panel: the read noise in electrons against ISO, on a
    // logarithmic scale (a dual-gain sensor's step shows here).
    constexpr double noise0 = 1010;
    constexpr double noise1 = 1270;
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
    const double n0 = std::floor(std::log10(lowE) * 3) / 3;
    const double n1 = std::max(std::ceil(std::log10(highE) * 3) / 3, n0 + 1.0 / 3);
    const Scale sn{n0, n1, bottom, top};
    const Scale sj{i0, i1, noise0, noise1};
    Text(out, (noise0 + noise1) / 2, 28, "Read noise", "middle", " font-size=\"15\"");
    for (double d = std::floor(n0); d <= n1; ++d) {
        for (const double m : {1.0, 2.0, 5.0}) {
            const double l = d + std::log10(m);
            if (l < n0 - 1e-9 || l > n1 + 1e-9) {
                continue;
            }
            out << "<line x1=\"" << noise0 << "\" y1=\"" << Format("%.1f", sn(l)) << "\" x2=\""
                << noise1 << "\" y2=\"" << Format("%.1f", sn(l)) << "\" stroke=\"#ddd\"/>\n";
            Text(out, noise0 - 6, sn(l) + 4, Format("%g", std::pow(10.0, l)), "end");
        }
    }
    IsoPanel(out, figures, channels, Colours, sj, sn, top, bottom, "read noise (electrons)",
             [](const ChannelFigures& f) {
                 return f.ReadNoiseE > 0 ? std::optional(std::log10(f.ReadNoiseE)) : std::nullopt;
             });
    out << "</svg>\n";
}

} // namespace pruvex::measure
