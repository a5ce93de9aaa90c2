#include "measure/Options.h"

#include "generated/Version.h"
#include "measure/RawFile.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <iostream>

namespace pruvex::measure {

const char* const Usage =
    "Usage: pruvex-measure [--csv FILE] [--squares FILE] [--plot FILE.svg] [--dark FILE]... "
    "[--flat FILE]... [--threads N] RAW...\n"
    "Measures conversion gain, read noise, full well and dynamic range per ISO and channel\n"
    "from raw photographs of the grid mosaic (two per ISO and exposure time) and dark\n"
    "frames (lens capped), or from the series.csv of a series that pruvex-series shot.\n"
    "  --csv FILE      one row per ISO and channel\n"
    "  --squares FILE  one row per ISO, exposure time, square and channel\n"
    "  --plot FILE     the photon transfer curves, dynamic range and read noise as SVG\n"
    "  --dark FILE     a dark frame (may be repeated); files without a mosaic at the\n"
    "                  black level are taken as dark too\n"
    "  --flat FILE     a flat-field frame (may be repeated; two at each exposure time)\n"
    "  --threads N     read and measure on N threads (default: one per core)\n"
    "  --help, --version\n";

bool Parse(const std::vector<std::string_view>& args, Options& options, std::string& error,
           bool& done) {
    CLI::App app;
    app.set_help_flag();
    app.allow_extras();
    std::vector<std::string> csv;
    std::vector<std::string> squares;
    std::vector<std::string> plot;
    std::vector<std::string> dark;
    std::vector<std::string> flat;
    std::vector<std::string> threads;
    std::vector<std::string> files;
    // One file name after each option, whatever it looks like.
    const auto fileOption = [&app](const char* name, std::vector<std::string>& values) {
        return app.add_option(name, values)->allow_extra_args(false);
    };
    fileOption("--csv", csv);
    fileOption("--squares", squares);
    fileOption("--plot", plot);
    const CLI::Option* darkOption = fileOption("--dark", dark);
    const CLI::Option* flatOption = fileOption("--flat", flat);
    fileOption("--threads", threads);
    const CLI::Option* fileList = app.add_option("RAW", files);
    const CLI::Option* help = app.add_flag("--help");
    const CLI::Option* version = app.add_flag("--version");
    // CLI11 reads "-x" as a short option and "--csv=" as taking the next
    // word; here the first is a file and the second an empty name. Both
    // are passed to it as stand-ins and given back after.
    std::vector<std::string> reversed;
    std::vector<std::string> originals;
    for (const std::string_view arg : args) {
        const bool shortLike = arg.size() > 1 && arg[0] == '-' && arg[1] != '-';
        const bool emptyValue = arg.size() > 3 && arg.substr(0, 2) == "--" && arg.back() == '=';
        if (shortLike || emptyValue) {
            const std::string standIn = "\x01" + std::to_string(originals.size());
            originals.emplace_back(emptyValue ? "" : std::string(arg));
            reversed.push_back(emptyValue ? std::string(arg) + standIn : standIn);
        } else {
            reversed.emplace_back(arg);
        }
    }
    // CLI11 takes the words last first.
    std::reverse(reversed.begin(), reversed.end());
    const auto restore = [&originals](std::vector<std::string>& values) {
        for (std::string& value : values) {
            if (!value.empty() && value.front() == '\x01') {
                value = originals.at(std::stoul(value.substr(1)));
            }
        }
    };
    try {
        app.parse(reversed);
    } catch (const CLI::ArgumentMismatch& e) {
        // "--csv: 1 required TEXT missing"
        const std::string what = e.what();
        const std::string name = what.substr(0, what.find(':'));
        error = name + (name == "--threads" ? " needs a number" : " needs a file name");
        return false;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return false;
    }
    for (std::vector<std::string>* values :
         {&csv, &squares, &plot, &dark, &flat, &threads, &files}) {
        restore(*values);
    }
    std::vector<std::string> unknown;
    for (const std::string& extra : app.remaining()) {
        if (extra != "--") {
            unknown.push_back(extra);
        }
    }
    restore(unknown);
    for (std::string& option : unknown) {
        option = option.substr(0, option.find('\x01')); // "--frob=" and its stand-in
    }
    // What comes first on the command line decides: an unknown option, or
    // --help or --version.
    const auto position = [&args](std::string_view arg) {
        return std::find(args.begin(), args.end(), arg) - args.begin();
    };
    for (const CLI::Option* option : app.parse_order()) {
        if (!unknown.empty() && position(unknown.front()) < position(option->get_name())) {
            break;
        }
        if (option == help || option == version) {
            if (option == help) {
                std::cout << Usage;
            } else {
                std::cout << "pruvex-measure " << PRUVEX_VERSION << " (LibRaw " << LibRawVersion()
                          << ")\n";
            }
            done = true;
            return true;
        }
    }
    if (!unknown.empty()) {
        error = "unknown option " + unknown.front();
        return false;
    }
    for (const auto& [name, values] :
         {std::pair{"--csv", &csv}, std::pair{"--squares", &squares}, std::pair{"--plot", &plot},
          std::pair{"--dark", &dark}, std::pair{"--flat", &flat}}) {
        for (const std::string& value : *values) {
            if (value.empty()) {
                error = std::string(name) + " needs a file name";
                return false;
            }
        }
    }
    for (const std::string& value : threads) {
        char* end = nullptr;
        const unsigned long count = std::strtoul(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || count < 1 || count > 256 ||
            std::isdigit(static_cast<unsigned char>(value.front())) == 0) {
            error = "--threads needs a number from 1 to 256";
            return false;
        }
        options.Threads = static_cast<unsigned>(count);
    }
    // The files in the order given, dark frames among them.
    std::size_t nextFile = 0;
    std::size_t nextDark = 0;
    std::size_t nextFlat = 0;
    for (const CLI::Option* option : app.parse_order()) {
        if (option == fileList) {
            const std::string& file = files.at(nextFile++);
            if (file.empty()) {
                error = "an empty file name";
                return false;
            }
            options.Files.push_back({file, false});
        } else if (option == darkOption) {
            options.Files.push_back({dark.at(nextDark++), true});
        } else if (option == flatOption) {
            options.Files.push_back({flat.at(nextFlat++), false, true});
        }
    }
    const auto last = [](const std::vector<std::string>& values) {
        return values.empty() ? std::nullopt : std::optional(values.back());
    };
    options.Csv = last(csv);
    options.Squares = last(squares);
    options.Plot = last(plot);
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
