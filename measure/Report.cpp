#include "measure/Report.h"

#include "measure/Svg.h"

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

using svg::Format;

std::string Number(double value, bool known = true) {
    return known && std::isfinite(value) ? Format("%.6g", value) : std::string();
}

std::string Iso(double iso) {
    return Format("%g", iso);
}

} // namespace

std::string ShutterFraction(double seconds) {
    if (seconds > 0 && seconds < 1) {
        const double denominator = 1 / seconds;
        if (std::abs(denominator - std::round(denominator)) < 0.01 * denominator) {
            return Format("1/%.0f", std::round(denominator));
        }
    }
    return Format("%g", seconds);
}

std::string ShutterText(double seconds) {
    return ShutterFraction(seconds) + " s";
}

std::vector<std::string> TooFewNotes(const IsoFigures& iso) {
    std::vector<std::string> notes;
    const std::string name = "ISO " + Iso(iso.Iso);
    for (int ch = 0; ch < iso.ChannelsUsed(); ++ch) {
        const ChannelFigures& f = iso.Channels[static_cast<std::size_t>(ch)];
        if (f.TooFew) {
            notes.push_back(name + " " + ChannelName(ch, iso.Monochrome) + ": " +
                            std::to_string(f.Usable) + " squares below clipping, fewer than " +
                            std::to_string(LeastUsableSquares) +
                            ": no figures; shoot it again at " +
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
           "read_noise_from\n";
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
                << (f.ReadNoiseFromDark ? "dark" : "fit") << '\n';
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

} // namespace pruvex::measure
