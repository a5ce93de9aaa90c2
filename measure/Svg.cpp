#include "measure/Svg.h"

#include <cmath>
#include <limits>

namespace pruvex::measure {

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

void Text(std::ostream& out, double x, double y, const std::string& text, const char* anchor,
          const char* extra) {
    out << "<text x=\"" << Format("%.1f", x) << "\" y=\"" << Format("%.1f", y)
        << "\" text-anchor=\"" << anchor << "\"" << extra << ">" << text << "</text>\n";
}

void SvgOpen(std::ostream& out, double width, double height, bool prolog) {
    if (prolog) {
        out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    }
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << width << "\" height=\"" << height
        << "\" viewBox=\"0 0 " << width << ' ' << height
        << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
        << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

void SvgClose(std::ostream& out) {
    out << "</svg>\n";
}

void GridLine(std::ostream& out, double left, double right, double y) {
    out << "<line x1=\"" << left << "\" y1=\"" << Format("%.1f", y) << "\" x2=\"" << right
        << "\" y2=\"" << Format("%.1f", y) << "\" stroke=\"#ddd\"/>\n";
}

void PanelFrame(std::ostream& out, double left, double top, double right, double bottom,
                const std::string& xLabel, const std::string& label) {
    out << "<rect x=\"" << left << "\" y=\"" << top << "\" width=\"" << right - left
        << "\" height=\"" << bottom - top << "\" fill=\"none\" stroke=\"black\"/>\n";
    Text(out, (left + right) / 2, bottom + 36, xLabel, "middle");
    Text(out, left - 34, (top + bottom) / 2, label, "middle",
         Format(" transform=\"rotate(-90 %.1f %.1f)\"", left - 34, (top + bottom) / 2).c_str());
}

void LogGrid(std::ostream& out, const Scale& y, double left, double right) {
    const double n0 = std::min(y.From0, y.From1);
    const double n1 = std::max(y.From0, y.From1);
    for (double d = std::floor(n0); d <= n1; ++d) {
        for (const double m : {1.0, 2.0, 5.0}) {
            const double l = d + std::log10(m);
            if (l < n0 - 1e-9 || l > n1 + 1e-9) {
                continue;
            }
            GridLine(out, left, right, y(l));
            Text(out, left - 6, y(l) + 4, Format("%g", std::pow(10.0, l)), "end");
        }
    }
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

void IsoAxes(std::ostream& out, const std::vector<IsoFigures>& figures, const Scale& x, double top,
             double bottom, const std::string& label) {
    for (const IsoFigures& iso : figures) {
        if (iso.Iso > 0) {
            Text(out, x(std::log2(iso.Iso)), bottom + 16, Format("%g", iso.Iso), "middle");
        }
    }
    PanelFrame(out, x.To0, top, x.To1, bottom, "ISO", label);
}

void IsoLines(std::ostream& out, const std::vector<IsoFigures>& figures, std::size_t channels,
              const std::array<const char*, ChannelCount>& colours, const Scale& x, const Scale& y,
              const ChannelValue& value) {
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

void IsoPanel(std::ostream& out, const std::vector<IsoFigures>& figures, std::size_t channels,
              const std::array<const char*, ChannelCount>& colours, const Scale& x, const Scale& y,
              double top, double bottom, const char* label, const ChannelValue& value) {
    IsoAxes(out, figures, x, top, bottom, label);
    IsoLines(out, figures, channels, colours, x, y, value);
}

} // namespace pruvex::measure
