#include "measure/Svg.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace pruvex::measure::svg {

namespace {

constexpr std::array<const char*, ChannelCount> ColourOf{"#c8102e", "#2e8b2e", "#1f5fbf"};

} // namespace

Palette PaletteOf(const std::vector<IsoFigures>& figures) {
    const bool mono = !figures.empty() && figures.front().Monochrome;
    if (mono) {
        return {1, true, {"#333333", "#333333", "#333333"}};
    }
    return {ChannelCount, false, ColourOf};
}

std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Pos(double x, double y) {
    return Format("%.1f,%.1f", x, y);
}

void Start(std::ostream& out, double width, double height) {
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << ' ' << height
        << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

void End(std::ostream& out) {
    out << "</svg>\n";
}

void Text(std::ostream& out, double x, double y, const std::string& text, const char* anchor,
          const char* extra) {
    out << "<text x=\"" << Format("%.1f", x) << "\" y=\"" << Format("%.1f", y)
        << "\" text-anchor=\"" << anchor << "\"" << extra << ">" << text << "</text>\n";
}

void Frame(std::ostream& out, const Box& box, const std::string& title, const std::string& xLabel,
           const std::string& yLabel) {
    out << "<rect x=\"" << box.Left << "\" y=\"" << box.Top << "\" width=\"" << box.Right - box.Left
        << "\" height=\"" << box.Bottom - box.Top << "\" fill=\"none\" stroke=\"black\"/>\n";
    const double middle = (box.Top + box.Bottom) / 2;
    Text(out, (box.Left + box.Right) / 2, box.Top - 22, title, "middle", " font-size=\"15\"");
    Text(out, (box.Left + box.Right) / 2, box.Bottom + 36, xLabel, "middle");
    const double x = box.Left - 48;
    Text(out, x, middle, yLabel, "middle",
         Format(" transform=\"rotate(-90 %.1f %.1f)\"", x, middle).c_str());
}

void HorizontalLine(std::ostream& out, const Box& box, double y) {
    out << "<line x1=\"" << box.Left << "\" y1=\"" << Format("%.1f", y) << "\" x2=\"" << box.Right
        << "\" y2=\"" << Format("%.1f", y) << "\" stroke=\"#ddd\"/>\n";
}

void VerticalLine(std::ostream& out, const Box& box, double x) {
    out << "<line x1=\"" << Format("%.1f", x) << "\" y1=\"" << box.Top << "\" x2=\""
        << Format("%.1f", x) << "\" y2=\"" << box.Bottom << "\" stroke=\"#ddd\"/>\n";
}

void UnitGrid(std::ostream& out, const Box& box, const Scale& y) {
    for (double e = y.From0; e <= y.From1; ++e) {
        HorizontalLine(out, box, y(e));
        Text(out, box.Left - 6, y(e) + 4, Format("%g", e), "end");
    }
}

void LogGrid(std::ostream& out, const Box& box, const Scale& y) {
    const double n0 = std::min(y.From0, y.From1);
    const double n1 = std::max(y.From0, y.From1);
    for (double d = std::floor(n0); d <= n1; ++d) {
        for (const double m : {1.0, 2.0, 5.0}) {
            const double l = d + std::log10(m);
            if (l >= n0 - 1e-9 && l <= n1 + 1e-9) {
                HorizontalLine(out, box, y(l));
                Text(out, box.Left - 6, y(l) + 4, Format("%g", std::pow(10.0, l)), "end");
            }
        }
    }
}

std::pair<double, double>
RangeOf(const std::vector<IsoFigures>& figures,
        const std::function<std::optional<double>(const ChannelFigures&)>& value, double low,
        double high) {
    double least = std::numeric_limits<double>::max();
    double most = std::numeric_limits<double>::lowest();
    for (const IsoFigures& iso : figures) {
        for (const ChannelFigures& f : iso.Channels) {
            if (const std::optional<double> v = value(f)) {
                least = std::min(least, *v);
                most = std::max(most, *v);
            }
        }
    }
    return most >= least ? std::pair(least, most) : std::pair(low, high);
}

Scale IsoScale(const std::vector<IsoFigures>& figures, double left, double right) {
    double lowIso = std::numeric_limits<double>::max();
    double highIso = 0;
    for (const IsoFigures& iso : figures) {
        if (iso.Iso > 0) {
            lowIso = std::min(lowIso, iso.Iso);
            highIso = std::max(highIso, iso.Iso);
        }
    }
    if (highIso <= 0) {
        lowIso = 100;
        highIso = 100;
    }
    return {std::floor(std::log2(lowIso)) - 0.5, std::ceil(std::log2(highIso)) + 0.5, left, right};
}

void IsoLabels(std::ostream& out, const std::vector<IsoFigures>& figures, const Scale& x,
               const Box& box) {
    for (const IsoFigures& iso : figures) {
        if (iso.Iso > 0) {
            Text(out, x(std::log2(iso.Iso)), box.Bottom + 16, Format("%g", iso.Iso), "middle");
        }
    }
}

void IsoPanel(std::ostream& out, const std::vector<IsoFigures>& figures, const Palette& palette,
              const Scale& x, const Scale& y, const Box& box,
              const std::function<std::optional<double>(const ChannelFigures&)>& value,
              bool labels) {
    if (labels) {
        IsoLabels(out, figures, x, box);
    }
    for (std::size_t ch = 0; ch < palette.Channels; ++ch) {
        std::string points;
        for (const IsoFigures& iso : figures) {
            const std::optional<double> v = value(iso.Channels[ch]);
            if (iso.Iso > 0 && v) {
                const double px = x(std::log2(iso.Iso));
                const double py = y(*v);
                points += Pos(px, py) + ' ';
                out << "<circle cx=\"" << Format("%.1f", px) << "\" cy=\"" << Format("%.1f", py)
                    << "\" r=\"3\" fill=\"" << palette.Colours[ch] << "\"/>\n";
            }
        }
        out << "<polyline fill=\"none\" stroke=\"" << palette.Colours[ch] << "\" points=\""
            << points << "\"/>\n";
    }
}

} // namespace pruvex::measure::svg
