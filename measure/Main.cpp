// pruvex-measure: the sensor's figures (conversion gain, read noise, full
// well and dynamic range per ISO and channel) from raw photographs of the
// grid mosaic, by the photon transfer method.

#include "generated/Version.h"
#include "measure/FileNames.h"
#include "measure/Options.h"
#include "measure/RawFile.h"
#include "measure/Report.h"
#include "measure/Run.h"
#include "measure/Series.h"

#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace pruvex::measure;

constexpr int ExitSuccess = 0;
constexpr int ExitFileError = 1;
constexpr int ExitUsage = 2;

bool WriteFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
    std::ofstream out(FileName(path), std::ios::binary | std::ios::trunc);
    if (out) {
        write(out);
        out.flush();
    }
    if (!out) {
        std::cerr << "pruvex-measure: " << path << ": cannot be written\n";
        return false;
    }
    return true;
}

int Run(const std::vector<std::string_view>& args) {
    Options options;
    std::string error;
    bool done = false;
    if (!Parse(args, options, error, done)) {
        std::cerr << "pruvex-measure: " << error << '\n' << Usage;
        return ExitUsage;
    }
    if (done) {
        return ExitSuccess;
    }
    // Wildcards the shell left to the program (on Windows).
    std::vector<Input> files;
    for (const Input& input : options.Files) {
        const std::optional<std::vector<std::string>> names = ExpandWildcards(input.Path);
        if (!names) {
            std::cerr << "pruvex-measure: no file matches " << input.Path << '\n' << Usage;
            return ExitUsage;
        }
        for (const std::string& name : *names) {
            files.push_back({name, input.Dark});
        }
    }
    options.Files = std::move(files);
    // A series' manifest stands for the files it lists.
    if (!ExpandManifests(options.Files, error)) {
        std::cerr << "pruvex-measure: " << error << '\n';
        return ExitUsage;
    }

    Series series(TheMosaic());
    std::vector<std::string> darkLines;
    bool fileError = false;
    // A progress line for runs of many files, on a terminal only.
    const bool progress = options.Files.size() > 2 && isatty(STDERR_FILENO) == 1;
    std::vector<RunInput> inputs;
    inputs.reserve(options.Files.size());
    for (const Input& input : options.Files) {
        inputs.push_back({input.Path, input.Dark});
    }
    const auto read = [&](std::size_t i) {
        RawResult raw = ReadRaw(options.Files[i].Path);
        raw.Ok = raw.Ok && TakeRowSettings(options.Files[i], raw.Frame, raw.Error);
        return LoadedFrame{raw.Ok, std::move(raw.Error), std::move(raw.Frame)};
    };
    const auto joined = [&](std::size_t i, const LoadedFrame& loaded, FrameRole role) {
        const Input& input = options.Files[i];
        if (progress) {
            std::cerr << "\rpruvex-measure: " << i + 1 << '/' << options.Files.size() << ' '
                      << input.Path << "\x1b[K" << std::flush;
        }
        if (!loaded.Ok) {
            if (progress) {
                std::cerr << '\n';
            }
            std::cerr << "pruvex-measure: " << input.Path << ": " << loaded.Error << '\n';
            fileError = true;
            return;
        }
        char isoText[32];
        std::snprintf(isoText, sizeof isoText, "%g", loaded.Frame.Iso);
        if (role == FrameRole::Dark) {
            darkLines.push_back(input.Path + " (ISO " + isoText + ", given with --dark)");
        } else if (role == FrameRole::FoundDark) {
            darkLines.push_back(input.Path + " (ISO " + isoText +
                                ", no mosaic and at the black level)");
        } else if (role == FrameRole::NoMosaic) {
            if (progress) {
                std::cerr << '\n';
            }
            std::cerr << "pruvex-measure: " << input.Path
                      << ": no mosaic found, and not a dark frame (its signal lies above the black "
                         "level)\n";
            fileError = true;
        }
    };
    RunSeries(series, inputs, read, joined, options.Threads);
    if (progress) {
        std::cerr << "\r\x1b[K" << std::flush;
    }

    const std::vector<IsoFigures> figures = series.Figures();
    for (const std::string& line : darkLines) {
        std::cout << "dark: " << line << '\n';
    }
    for (const double iso : series.DarkOnlyIsos()) {
        std::cout << "ISO " << iso << ": dark frames but no mosaic, nothing to measure\n";
    }
    if (figures.empty()) {
        std::cerr << "pruvex-measure: nothing to measure: no frame shows the mosaic\n";
        return ExitUsage;
    }
    WriteTable(std::cout, figures);
    // Too few squares below clipping: said on the error output too.
    for (const IsoFigures& iso : figures) {
        for (const std::string& note : TooFewNotes(iso)) {
            std::cerr << "pruvex-measure: " << note << '\n';
        }
    }
    if (!AnyFigures(figures)) {
        std::cerr << "pruvex-measure: nothing to measure: no ISO has enough squares below "
                     "clipping\n";
        return ExitUsage;
    }
    bool written = true;
    if (options.Csv) {
        written &= WriteFile(*options.Csv, [&](std::ostream& o) { WriteFiguresCsv(o, figures); });
    }
    if (options.Squares) {
        written &=
            WriteFile(*options.Squares, [&](std::ostream& o) { WriteSquaresCsv(o, figures); });
    }
    if (options.Plot) {
        written &= WriteFile(*options.Plot, [&](std::ostream& o) { WritePlot(o, figures); });
    }
    return fileError || !written ? ExitFileError : ExitSuccess;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    const std::vector<std::string_view> args(arguments.begin(), arguments.end());
    try {
        return Run(args);
    } catch (const std::exception& e) {
        std::cerr << "pruvex-measure: " << e.what() << '\n';
        return ExitFileError;
    }
}
