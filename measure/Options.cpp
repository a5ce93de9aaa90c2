#include "measure/Options.h"

#include "generated/Version.h"
#include "measure/RawFile.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>

namespace pruvex::measure {

namespace {

// What CLI11 reads the command line into.
struct Values {
    std::string Csv;
    std::string Squares;
    std::string Plot;
    std::vector<std::string> Dark;
    unsigned Threads = 0;
    std::vector<std::string> Raw;
};

// The options as the program takes them and as --help shows them.
struct Declared {
    CLI::App App{"Measures conversion gain, read noise, full well and dynamic range per ISO and\n"
                 "channel from raw photographs of the grid mosaic (two per ISO and exposure\n"
                 "time) and dark frames (lens capped), or from the series.csv of a series that\n"
                 "pruvex-series shot.",
                 "pruvex-measure"};
    Values Read;
    CLI::Option* Dark = nullptr;
    CLI::Option* Raw = nullptr;

    Declared() {
        const CLI::Validator named(
            [](const std::string& name) {
                return name.empty() ? std::string("needs a file name") : std::string();
            },
            "", "a file name");
        // Of an option given twice, the last counts.
        App.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        App.set_help_flag("--help", "print this text and exit");
        App.set_version_flag(
            "--version",
            [] { return "pruvex-measure " PRUVEX_VERSION " (LibRaw " + LibRawVersion() + ")"; },
            "print the program's version and LibRaw's and exit");
        App.add_option("--csv", Read.Csv, "one row per ISO and channel")
            ->type_name("FILE")
            ->check(named);
        App.add_option("--squares", Read.Squares,
                       "one row per ISO, exposure time, square and channel")
            ->type_name("FILE")
            ->check(named);
        App.add_option("--plot", Read.Plot,
                       "the photon transfer curves, dynamic range and read noise as SVG")
            ->type_name("FILE")
            ->check(named);
        Dark = App.add_option("--dark", Read.Dark,
                              "a dark frame (may be repeated); files without a mosaic at the "
                              "black level are taken as dark too")
                   ->type_name("FILE")
                   ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                   ->allow_extra_args(false) // one file each time: those after it are RAW
                   ->check(named);
        App.add_option("--threads", Read.Threads,
                       "read and measure on N threads, 1 to 256 (default: one per core)")
            ->type_name("N")
            ->check(CLI::Range(1U, 256U).description(""));
        Raw = App.add_option("RAW", Read.Raw, "raw files, or a series' series.csv")
                  ->type_name("FILE")
                  ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
                  ->check(named);
        App.footer("A file whose name begins with '-' follows \"--\".");
    }
};

// The files in the order given, dark frames among them: CLI11 keeps the
// order in which it met the options.
std::vector<Input> FilesInOrder(const Declared& declared) {
    std::vector<Input> files;
    std::size_t nextDark = 0;
    std::size_t nextRaw = 0;
    for (const CLI::Option* option : declared.App.parse_order()) {
        if (option == declared.Dark) {
            files.push_back({declared.Read.Dark.at(nextDark++), true});
        } else if (option == declared.Raw) {
            files.push_back({declared.Read.Raw.at(nextRaw++), false});
        }
    }
    return files;
}

} // namespace

std::string UsageText() {
    const Declared declared;
    return declared.App.help();
}

bool Parse(const std::vector<std::string>& args, Options& options, std::string& error, bool& done) {
    Declared declared;
    std::vector<const char*> argv{"pruvex-measure"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    try {
        declared.App.parse(static_cast<int>(argv.size()), argv.data());
    } catch (const CLI::Success& e) {
        // --help or --version, printed as CLI11 prints them
        declared.App.exit(e, std::cout, std::cerr);
        done = true;
        return true;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
    const Values& read = declared.Read;
    const auto given = [](const std::string& name) {
        return name.empty() ? std::nullopt : std::optional(name);
    };
    options.Csv = given(read.Csv);
    options.Squares = given(read.Squares);
    options.Plot = given(read.Plot);
    options.Threads = read.Threads;
    options.Files = FilesInOrder(declared);
    if (options.Files.empty()) {
        error = "no raw files given";
        return false;
    }
    return true;
}

bool ExpandManifests(std::vector<Input>& files, std::string& error) {
    std::vector<Input> expanded;
    for (Input& input : files) {
        if (!IsManifest(input.Path)) {
            expanded.push_back(std::move(input));
            continue;
        }
        std::vector<ManifestRow> rows;
        if (!ReadManifest(input.Path, rows, error)) {
            return false;
        }
        for (MeasuredFile& file : MeasuredFiles(input.Path, rows)) {
            expanded.push_back(std::move(file));
        }
    }
    files = std::move(expanded);
    return true;
}

} // namespace pruvex::measure
