#include "measure/DatasheetPlots.h"
#include "measure/Outputs.h"
#include "measure/Svg.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pruvex::measure {

namespace {

using svg::Box;
using svg::ChannelValue;
using svg::Format;
using svg::Scale;
using svg::Text;

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
                 bool logarithmic, const Box& box) {
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
                box.Bottom, box.Top};
    }
    return {std::floor(least) - 1, std::ceil(most) + 1, box.Bottom, box.Top};
}

struct ComparedFigure {
    const char* Title;
    const char* Label;
    bool Logarithmic;
    ChannelValue Value;
};

void ComparePanel(std::ostream& out, const std::vector<std::vector<IsoFigures>>& cameras,
                  const ComparedFigure& figure, const Box& box) {
    const Scale x = svg::IsoScale(AllIsos(cameras), box.Left, box.Right);
    const Scale y = ValueScale(cameras, figure.Value, figure.Logarithmic, box);
    if (figure.Logarithmic) {
        svg::LogGrid(out, box, y);
    } else {
        svg::UnitGrid(out, box, y);
    }
    svg::Frame(out, box, figure.Title, "ISO", figure.Label);
    // Every ISO labelled once, whichever cameras have it.
    svg::IsoLabels(out, AllIsos(cameras), x, box);
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const char* colour = LineColour(i);
        svg::IsoPanel(out, cameras[i], {1, false, {colour, colour, colour}}, x, y, box,
                      figure.Value, false);
    }
}

} // namespace

void WriteComparePlot(std::ostream& out, const std::vector<CameraFigures>& cameras) {
    std::vector<std::vector<IsoFigures>> compared;
    compared.reserve(cameras.size());
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
    svg::Start(out, 1300, height);
    for (std::size_t i = 0; i < figures.size(); ++i) {
        const double left = 80 + 430 * static_cast<double>(i);
        ComparePanel(out, compared, figures[i], {left, left + 330, 50, 330});
    }
    for (std::size_t i = 0; i < cameras.size(); ++i) {
        const double y = 392 + 16 * static_cast<double>(i);
        out << "<rect x=\"80\" y=\"" << y - 9 << "\" width=\"18\" height=\"4\" fill=\""
            << LineColour(i) << "\"/>\n";
        Text(out, 104, y, svg::Escape(cameras[i].Facts.Camera.Label()), "start");
    }
    svg::End(out);
}

} // namespace pruvex::measure
