// pruvex-measure: the sensor's figures (conversion gain, read noise, full
// well and dynamic range per ISO and channel) from raw photographs of the
// grid mosaic, by the photon transfer method.

#include "generated/Version.h"
#include "measure/FileNames.h"
#include "measure/Measurement.h"
#include "measure/Options.h"
#include "measure/Report.h"

#include <unistd.h>

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

// The files the arguments name: wildcards the shell left to the program (on
// Windows) expanded, and each series' manifest replaced by the files it
// lists; false, with its line on the error output, when one cannot be.
bool ExpandFiles(std::vector<Input>& inputs) {
    std::vector<Input> files;
    for (const Input& input : inputs) {
        const std::optional<std::vector<std::string>> names = ExpandWildcards(input.Path);
        if (!names) {
            std::cerr << "pruvex-measure: no file matches " << input.Path << '\n' << UsageText();
            return false;
        }
        for (const std::string& name : *names) {
            files.push_back({name, input.Dark});
        }
    }
    inputs = std::move(files);
    std::string error;
    if (!ExpandManifests(inputs, error)) {
        std::cerr << "pruvex-measure: " << error << '\n';
        return false;
    }
    return true;
}

// A progress line for runs of many files, on a terminal only; each problem
// on its own line.
MeasureEvents ErrorOutputEvents(std::size_t files) {
    const bool progress = files > 2 && isatty(STDERR_FILENO) == 1;
    MeasureEvents events;
    if (progress) {
        events.Joined = [](std::size_t i, std::size_t count, const std::string& path) {
            std::cerr << "\rpruvex-measure: " << i + 1 << '/' << count << ' ' << path << "\x1b[K"
                      << std::flush;
        };
    }
    events.Problem = [progress](const std::string& path, const std::string& problem) {
        std::cerr << (progress ? "\n" : "") << "pruvex-measure: " << path << ": " << problem
                  << '\n';
    };
    return events;
}

int Run(const std::vector<std::string>& args) {
    Options options;
    std::string error;
    bool done = false;
    if (!Parse(args, options, error, done)) {
        std::cerr << "pruvex-measure: " << error << '\n' << UsageText();
        return ExitUsage;
    }
    if (done) {
        return ExitSuccess;
    }
    if (!ExpandFiles(options.Files)) {
        return ExitUsage;
    }
    const Measurement measurement =
        MeasureFiles(options.Files, options.Threads, ErrorOutputEvents(options.Files.size()));
    if (options.Files.size() > 2 && isatty(STDERR_FILENO) == 1) {
        std::cerr << "\r\x1b[K" << std::flush;
    }
    WriteSummary(std::cout, measurement);
    if (measurement.Figures.empty()) {
        std::cerr << "pruvex-measure: nothing to measure: no frame shows the mosaic\n";
        return ExitUsage;
    }
    // Too few squares below clipping: said on the error output too.
    for (const IsoFigures& iso : measurement.Figures) {
        for (const std::string& note : TooFewNotes(iso)) {
            std::cerr << "pruvex-measure: " << note << '\n';
        }
    }
    if (!AnyFigures(measurement.Figures)) {
        std::cerr << "pruvex-measure: nothing to measure: no ISO has enough squares below "
                     "clipping\n";
        return ExitUsage;
    }
    const bool written = WriteOutputs(
        measurement, {options.Csv, options.Squares, options.Plot},
        [](const std::string& line) { std::cerr << "pruvex-measure: " << line << '\n'; });
    return measurement.FileProblems || !written ? ExitFileError : ExitSuccess;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments = ProgramArguments(argc, argv);
    try {
        return Run(arguments);
    } catch (const std::exception& e) {
        std::cerr << "pruvex-measure: " << e.what() << '\n';
        return ExitFileError;
    }
}
