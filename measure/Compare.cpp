#include "measure/DatasheetPlots.h"
#include "measure/Outputs.h"
#include "measure/Svg.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pruvex::measure {

namespace {

constexpr double Top = 50;
constexpr double Bottom = 330;

// A camera's figures with the channel compared (green, or the only one)
// first, as the panels draw the first channel.
std::vector<IsoFigures> Compared(const CameraFigures& camera) {
    std::vector<IsoFigures> figures = camera.Figures;
    for (IsoFigures& iso : figures) {
        if (!iso.Monochrome) {
            iso.Channels[0] = iso.Channels[1];
        }
    }
    return figures;
}

// Every camera's ISOs, once each, lowest first: the panels' axis.
std::vector<IsoFigures> AllIsos(const std::vector<std::vector<IsoFigures>>& cameras) {
    std::vector<IsoFigures> all;
    for (const std::vector<IsoFigures>& figures : cameras) {
        for (const IsoFigures& iso : figures) {
            const auto at =
                std::lower_bound(all.begin(), all.end(), iso.Iso,
                                 [](const IsoFigures& f, double value) { return f.Iso < value; });
            if (at == all.end() || at->Iso != iso.Iso) {
                IsoFigures only;
                only.Iso = iso.Iso;
                all.insert(at, only);
            }
        }
    }
    return all;
}

// The scale of a figure over every camera: logarithmic (log10) or in EV.
Scale ValueScale(const std::vector<std::vector<IsoFigures>>& cameras, const ChannelValue& value,
                 bool logarithmic) {
    double least = std::numeric_limits<double>::max();
    double most = std::numeric_limits<double>::lowest();
    for (const std::vector<IsoFigures>& figures : cameras) {
        for (const IsoFigures& iso : figures) {
            if (const std::optional<double> v = value(iso.Channels[0])) {
                least = std::min(least, *v);
                most = std::max(most, *v);
            }
        }
    }
    if (most < least) {
        least = logarithmic ? 0 : 8;
        most = logarithmic ? 1 : 12;
    }
    if (logarithmic) {
        return {std::floor(least * 3) / 3, std::max(std::ceil(most * 3) / 3, least + 1.0 / 3),
                Bottom, Top};
    }
    return {std::floor(least) - 1, std::ceil(most) + 1, Bottom, Top};
}

struct ComparedFigure {
    const char* Title;
    const char* Label;
    bool Logarithmic;
    ChannelValue Value;
};

void ComparePanel(std::ostream& out, const std::vector<std::vector<IsoFigures>>& cameras,
                  const ComparedFigure& figure, double left, double right) {
    const std::vector<IsoFigures> all = AllIsos(cameras);
    const Scale x = IsoScale(all, left, right);
    const Scale y = ValueScale(cameras, figure.Value, figure.Logarithmic);
    Text(out, (left + right) / 2, 28, figure.Title, "middle", " font-size=\"15\"");
    if (figure.Logarithmic) {
        LogGrid(out, y, left, right);
    } else {
        for (double e = y.From0; e <= y.From1; ++e) {
            GridLine(out, left, right, y(e));
            Text(out, left - 6, y(e) + 4, Format("%g", e), "end");
        }
    }
    IsoAxes(out, all, x, Top, Bottom, figure.Label);
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const char* colour = LineColour(i);
        IsoLines(out, cameras[i], 1, {colour, colour, colour}, x, y, figure.Value);
    }
}

} // namespace

void WriteComparePlot(std::ostream& out, const std::vector<CameraFigures>& cameras) {
    std::vector<std::vector<IsoFigures>> compared;
    for (const CameraFigures& camera : cameras) {
        compared.push_back(Compared(camera));
    }
    const auto known = [](const ChannelFigures& f, double value, bool logarithmic) {
        return !f.TooFew && value > 0 ? std::optional(logarithmic ? std::log10(value) : value)
                                      : std::nullopt;
    };
    const std::array<ComparedFigure, 3> figures{{
        {"Read noise", "read noise (electrons)", true,
         [&](const ChannelFigures& f) { return known(f, f.ReadNoiseE, true); }},
        {"Engineering dynamic range", "dynamic range (EV)", false,
         [&](const ChannelFigures& f) {
             return f.ReadNoiseDn > 0 ? known(f, f.DynamicRangeEv, false) : std::nullopt;
         }},
        {"Full well", "full well (electrons)", true,
         [&](const ChannelFigures& f) { return known(f, f.FullWellE, true); }},
    }};
    const double height = 400 + 16 * static_cast<double>(cameras.size());
    SvgOpen(out, 1300, height, true);
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const double left = 80 + 430 * static_cast<double>(i);
        ComparePanel(out, compared, figures[i], left, left + 330);
    }
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const double y = 392 + 16 * static_cast<double>(i);
        out << "<rect x=\"80\" y=\"" << y - 9 << "\" width=\"18\" height=\"4\" fill=\""
            << LineColour(i) << "\"/>\n";
        Text(out, 104, y, Escape(cameras[i].Facts.Camera.Label()), "start");
    }
    SvgClose(out);
}

} // namespace pruvex::measure
