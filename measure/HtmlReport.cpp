#include "measure/DatasheetPlots.h"
#include "measure/FigureRows.h"
#include "measure/Outputs.h"
#include "measure/Report.h"
#include "measure/Svg.h"

#include <algorithm>
#include <sstream>

namespace pruvex::measure {

namespace {

using svg::Escape;
using svg::Format;

// The page's looks, for the screen and for A4 paper; nothing loaded.
constexpr const char* Style = R"(
@page { size: A4; margin: 14mm 12mm; }
body { font-family: sans-serif; font-size: 10pt; color: #111; max-width: 190mm; margin: 1em auto; }
h1 { font-size: 16pt; margin: 0 0 0.4em; }
h2 { font-size: 12pt; margin: 1.2em 0 0.4em; border-bottom: 1px solid #999; }
table { border-collapse: collapse; font-size: 7.5pt; }
td, th { border: 1px solid #bbb; padding: 1px 4px; text-align: right; }
th { background: #eee; }
dt { float: left; width: 9em; font-weight: bold; }
dd { margin: 0 0 0.2em 9em; }
figure { margin: 0.6em 0; break-inside: avoid; page-break-inside: avoid; }
figure svg { width: 100%; height: auto; }
ul.notes { font-size: 9pt; }
)";

void Head(std::ostream& out, const std::string& title) {
    out << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        << "<title>" << Escape(title) << "</title>\n<style>" << Style << "</style>\n</head>\n"
        << "<body>\n<h1>" << Escape(title) << "</h1>\n";
}

void Facts(std::ostream& out, const RunFacts& facts) {
    out << "<dl>\n<dt>Camera</dt><dd>" << Escape(facts.Camera.Label()) << "</dd>\n"
        << "<dt>Measured</dt><dd>" << Escape(facts.Date) << "</dd>\n"
        << "<dt>Raw files read by</dt><dd>LibRaw " << Escape(facts.LibRaw) << "</dd>\n</dl>\n";
}

// Per ISO: the mosaic's frames at each exposure time, the dark and the
// flat frames.
void Shot(std::ostream& out, const std::vector<IsoFigures>& figures) {
    out << "<h2>What was shot</h2>\n<table>\n<tr><th>ISO</th><th>mosaic frames (exposure "
           "time)</th><th>dark frames</th><th>flat pairs</th></tr>\n";
    for (const IsoFigures& iso : figures) {
        std::string sets;
        for (const ExposureSet& set : iso.Sets) {
            sets += (sets.empty() ? "" : ", ") + std::to_string(set.Frames) + " at " +
                    ShutterText(set.Shutter);
        }
        std::size_t flats = 0;
        for (const ChannelDatasheet& d : iso.Datasheet) {
            flats = std::max(flats, d.Line.Points.size());
        }
        out << "<tr><td>" << Format("%g", iso.Iso) << "</td><td>" << Escape(sets) << "</td><td>"
            << iso.DarkFrames << "</td><td>" << flats << "</td></tr>\n";
    }
    out << "</table>\n";
}

void Figures(std::ostream& out, const std::vector<IsoFigures>& figures) {
    out << "<h2>Figures</h2>\n<table>\n<tr>";
    for (std::string column : FigureColumns()) {
        std::replace(column.begin(), column.end(), '_', ' '); // to wrap in narrow columns
        out << "<th>" << Escape(column) << "</th>";
    }
    out << "</tr>\n";
    for (const FigureRow& row : FigureRows(figures)) {
        out << "<tr>";
        for (const Cell& cell : row) {
            out << "<td>" << Escape(CellText(cell.Value)) << "</td>";
        }
        out << "</tr>\n";
    }
    out << "</table>\n<ul class=\"notes\">\n";
    for (const IsoFigures& iso : figures) {
        for (const std::string& note : Notes(iso)) {
            out << "<li>" << Escape(note) << "</li>\n";
        }
    }
    out << "</ul>\n";
}

void Uniformity(std::ostream& out, const std::vector<IsoFigures>& figures) {
    out << "<h2>Uniformity</h2>\n<table>\n<tr><th>ISO</th><th>ch</th><th>DSNU e</th><th>row</th>"
           "<th>column</th><th>pixel</th><th>PRNU %</th><th>row</th><th>column</th>"
           "<th>pixel</th></tr>\n";
    const auto cells = [&out](const NonUniformity& u) {
        for (const double v : {u.Total, u.Row, u.Column, u.Pixel}) {
            out << "<td>" << (u.Valid ? Format("%.3g", v) : std::string()) << "</td>";
        }
    };
    for (const IsoFigures& iso : figures) {
        for (int ch = 0; ch < iso.ChannelsUsed(); ++ch) {
            const ChannelDatasheet& d = iso.Datasheet[static_cast<std::size_t>(ch)];
            out << "<tr><td>" << Format("%g", iso.Iso) << "</td><td>"
                << ChannelName(ch, iso.Monochrome) << "</td>";
            cells(d.DsnuE);
            cells(d.PrnuPct);
            out << "</tr>\n";
        }
    }
    out << "</table>\n";
}

// A figure: the plot (its XML prolog left out) and its caption.
void Figure(std::ostream& out, const std::string& svg, const std::string& caption) {
    const std::size_t start = svg.find("<svg");
    out << "<figure>\n"
        << svg.substr(start == std::string::npos ? 0 : start) << "<figcaption>" << Escape(caption)
        << "</figcaption>\n</figure>\n";
}

void Plots(std::ostream& out, const std::vector<IsoFigures>& figures) {
    out << "<h2>Plots</h2>\n";
    std::ostringstream plot;
    WritePlot(plot, figures);
    Figure(out, plot.str(), "Photon transfer: filled squares are in the fit, the lines fitted.");
    plot.str({});
    WriteIsoPlot(plot, figures);
    Figure(out, plot.str(), "Read noise in electrons and dynamic range against ISO.");
    plot.str({});
    if (WriteLinearityPlot(plot, figures)) {
        Figure(out, plot.str(),
               "Linearity: the flat pairs' signal and its deviation from the "
               "line fitted between 5 % and 95 % of saturation.");
    } else {
        out << "<p>Linearity: no flat frames were measured.</p>\n";
    }
    plot.str({});
    if (WriteUniformityPlot(plot, figures)) {
        Figure(out, plot.str(),
               "Uniformity: the dark signal's against ISO, and the response's at the flat "
               "frames' ISO, whole and split into its row, column and pixel parts.");
    }
    plot.str({});
    WriteSnrPlot(plot, figures);
    Figure(out, plot.str(),
           "Signal-to-noise ratio against signal (EMVA 1288 eq. 69, with the measured read "
           "noise, DSNU and PRNU).");
}

} // namespace

void WriteHtmlReport(std::ostream& out, const RunFacts& facts,
                     const std::vector<IsoFigures>& figures) {
    Head(out, "Sensor datasheet: " + facts.Camera.Label());
    Facts(out, facts);
    Shot(out, figures);
    Figures(out, figures);
    Uniformity(out, figures);
    Plots(out, figures);
    out << "</body>\n</html>\n";
}

void WriteCompareReport(std::ostream& out, const std::vector<CameraFigures>& cameras) {
    Head(out, "Sensors compared");
    out << "<ul>\n";
    for (const CameraFigures& camera : cameras) {
        out << "<li>" << Escape(camera.Facts.Camera.Label()) << " (LibRaw "
            << Escape(camera.Facts.LibRaw) << ")</li>\n";
    }
    out << "</ul>\n";
    std::ostringstream plot;
    WriteComparePlot(plot, cameras);
    Figure(out, plot.str(),
           "Read noise in electrons, dynamic range and full well against ISO (green channel).");
    for (const CameraFigures& camera : cameras) {
        out << "<h2>" << Escape(camera.Facts.Camera.Label()) << "</h2>\n";
        Figures(out, camera.Figures);
    }
    out << "</body>\n</html>\n";
}

} // namespace pruvex::measure
