#include "measure/Measurement.h"

#include "measure/FileNames.h"
#include "measure/FrameSets.h"
#include "measure/InOrder.h"
#include "measure/Manifest.h"
#include "measure/RawFile.h"
#include "measure/Report.h"

#include <cstdio>
#include <fstream>
#include <utility>

namespace pruvex::measure {

namespace {

std::string IsoText(double iso) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", iso);
    return text;
}

// What became of one file once it joined: a dark frame named, a file that
// could not be measured told.
void NoteFile(Measurement& measurement, const MeasureEvents& events, const MeasuredFile& file,
              const LoadedFrame& loaded, FrameRole role) {
    const auto problem = [&](const std::string& text) {
        measurement.FileProblems = true;
        if (events.Problem) {
            events.Problem(file.Path, text);
        }
    };
    if (!loaded.Ok) {
        problem(loaded.Error);
    } else if (role == FrameRole::Dark) {
        measurement.Darks.push_back(file.Path + " (ISO " + IsoText(loaded.Frame.Iso) +
                                    ", given with --dark)");
    } else if (role == FrameRole::FoundDark) {
        measurement.Darks.push_back(file.Path + " (ISO " + IsoText(loaded.Frame.Iso) +
                                    ", no mosaic and at the black level)");
    } else if (role == FrameRole::NoMosaic) {
        problem("no mosaic found, and not a dark frame (its signal lies above the black level)");
    }
}

bool WriteFile(const std::string& path, const std::function<void(std::ostream&)>& write,
               const std::function<void(const std::string& line)>& problem) {
    std::ofstream out(FileName(path), std::ios::binary | std::ios::trunc);
    if (out) {
        write(out);
        out.flush();
    }
    if (!out) {
        problem(path + ": cannot be written");
        return false;
    }
    return true;
}

} // namespace

Measurement MeasureFiles(const std::vector<MeasuredFile>& files, unsigned threads,
                         const MeasureEvents& events) {
    Measurement measurement;
    FrameSets sets(TheMosaic());
    const auto read = [&](std::size_t i) {
        RawResult raw = ReadRaw(files[i].Path);
        raw.Ok = raw.Ok && TakeRowSettings(files[i], raw.Frame, raw.Error);
        return LoadedFrame{raw.Ok, std::move(raw.Error), std::move(raw.Frame)};
    };
    const auto joined = [&](std::size_t i, const LoadedFrame& loaded, FrameRole role) {
        if (events.Joined) {
            events.Joined(i, files.size(), files[i].Path);
        }
        NoteFile(measurement, events, files[i], loaded, role);
    };
    AddInOrder(sets, files, read, joined, threads);
    measurement.Figures = sets.Figures();
    measurement.DarkOnlyIsos = sets.DarkOnlyIsos();
    return measurement;
}

void WriteSummary(std::ostream& out, const Measurement& measurement) {
    for (const std::string& line : measurement.Darks) {
        out << "dark: " << line << '\n';
    }
    for (const double iso : measurement.DarkOnlyIsos) {
        out << "ISO " << iso << ": dark frames but no mosaic, nothing to measure\n";
    }
    if (!measurement.Figures.empty()) {
        WriteTable(out, measurement.Figures);
    }
}

bool WriteOutputs(const Measurement& measurement, const Outputs& outputs,
                  const std::function<void(const std::string& line)>& problem) {
    const std::vector<IsoFigures>& figures = measurement.Figures;
    bool written = true;
    if (outputs.Csv) {
        written &= WriteFile(
            *outputs.Csv, [&](std::ostream& o) { WriteFiguresCsv(o, figures); }, problem);
    }
    if (outputs.Squares) {
        written &= WriteFile(
            *outputs.Squares, [&](std::ostream& o) { WriteSquaresCsv(o, figures); }, problem);
    }
    if (outputs.Plot) {
        written &= WriteFile(
            *outputs.Plot, [&](std::ostream& o) { WritePlot(o, figures); }, problem);
    }
    return written;
}

} // namespace pruvex::measure
