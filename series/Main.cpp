// pruvex-series: the whole series in one command: the target on the
// monitor, the camera at every ISO with the exposures the measurement
// needs, the dark frames, and the figures.

#include "generated/Version.h"
#include "series/Camera.h"
#include "series/Choices.h"
#include "series/ManifestWriter.h"
#include "series/Process.h"
#include "series/SeriesRun.h"
#include "series/Stop.h"
#include "series/Target.h"

#include <CLI/CLI.hpp>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

namespace {

using namespace pruvex::series;

struct Options {
    std::string Camera = "gphoto2";
    std::vector<std::string> Isos;
    int Monitor = 0;
    int SettleMs = 20;
    bool NoBrightness = false;
    std::string Folder;
};

// CLI11's help, with --fullscreen named as the user writes it rather than
// with the value it takes alone.
class HelpFormatter : public CLI::Formatter {
  public:
    std::string make_option_name(const CLI::Option* option, bool positional) const override {
        return option->get_name(positional);
    }
};

void Fail(const std::string& line) {
    std::cerr << "pruvex-series: " << line << '\n';
}

int Run(int argc, char** argv) {
    Options options;
    CLI::App app("Runs a whole series: the target (pruvex) full screen, the monitor's brightness,\n"
                 "the mosaic at every ISO with the exposures the measurement needs, the dark\n"
                 "frames, and the figures. Prompts go to standard output; answer each with a line\n"
                 "on standard input (Enter goes on, q stops).",
                 "pruvex-series");
    app.formatter(std::make_shared<HelpFormatter>());
    app.set_help_flag("--help", "print this text and exit");
    app.set_version_flag("--version", "pruvex-series " PRUVEX_VERSION,
                         "print the program's version and exit");
    app.add_option("--camera", options.Camera,
                   "gphoto2: a camera on USB through the gphoto2 program (the default);\n"
                   "folder:DIR: the new raw files that the camera's own program saves in DIR")
        ->type_name("gphoto2|folder:DIR");
    app.add_option("--iso", options.Isos,
                   "the ISOs, such as 100,400,1600 (default: the camera's, in whole stops from "
                   "the lowest)")
        ->type_name("LIST")
        ->delimiter(',');
    app.add_flag("--fullscreen{0}", options.Monitor,
                 "the target full screen on monitor N (default: the monitor it opens on)")
        ->check(CLI::Range(0, 64).description(""))
        ->type_name("[=N]");
    app.add_option("--settle", options.SettleMs,
                   "the panel's settle time, 0 to 10000 ms (default 20)")
        ->type_name("MS")
        ->check(CLI::Range(0, 10000).description(""));
    app.add_flag("--no-brightness", options.NoBrightness, "leave out the brightness step");
    app.add_option("FOLDER", options.Folder,
                   "the raw files, series.csv, sensor.csv, squares.csv, sensor.svg")
        ->type_name("")
        ->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        // --help or --version, printed as CLI11 prints them
        return app.exit(e, std::cout, std::cerr);
    } catch (const CLI::ParseError& e) {
        Fail(e.what());
        std::cerr << app.help();
        return ExitSetup;
    }
    std::optional<std::vector<int>> isoList;
    if (!options.Isos.empty()) {
        isoList = ParseIsoList(options.Isos);
        if (!isoList) {
            Fail("--iso: a list of ISO values such as 100,400,1600");
            return ExitSetup;
        }
    }
    std::filesystem::path folderCamera;
    if (options.Camera.rfind("folder:", 0) == 0 && options.Camera.size() > 7) {
        folderCamera = options.Camera.substr(7);
    } else if (options.Camera != "gphoto2") {
        Fail("--camera: gphoto2 or folder:DIR, not " + options.Camera);
        return ExitSetup;
    }

    InstallInterruptHandler();
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<Target> target;
    std::unique_ptr<SeriesRun> series;
    try {
        const std::filesystem::path folder(options.Folder);
        if (const std::string refusal = FolderRefusal(folder); !refusal.empty()) {
            throw Stop{ExitSetup, refusal};
        }
        std::error_code ignored;
        if (!folderCamera.empty() && std::filesystem::weakly_canonical(folderCamera, ignored) ==
                                         std::filesystem::weakly_canonical(folder, ignored)) {
            throw Stop{ExitSetup, "--camera=folder:DIR: DIR must be another folder than FOLDER"};
        }
        Answers answers;
        std::unique_ptr<Camera> camera = folderCamera.empty()
                                             ? OpenGphoto2(std::cout)
                                             : OpenFolder(folderCamera, std::cout, answers);
        SeriesPlan plan;
        plan.Folder = folder;
        plan.Brightness = !options.NoBrightness;
        plan.Shutters = camera->ShutterChoices();
        const std::vector<std::string> isoChoices = camera->IsoChoices();
        plan.Isos = isoList ? *isoList : WholeStopIsos(isoChoices);
        for (const int iso : plan.Isos) {
            // A folder's camera is set by hand: any ISO goes.
            const std::string text = std::to_string(iso);
            if (folderCamera.empty() &&
                std::find(isoChoices.begin(), isoChoices.end(), text) == isoChoices.end()) {
                throw Stop{ExitSetup, "ISO " + text + " is not among the camera's choices"};
            }
        }
        if (plan.Isos.empty()) {
            throw Stop{ExitSetup, "the camera offers no numeric ISO: give them with --iso"};
        }
        ManifestWriter manifest(folder);
        const std::string program = TargetProgram();
        if (!FindProgram(program)) {
            throw Stop{ExitSetup, "no pruvex program beside pruvex-series or on PATH"};
        }
        target = std::make_unique<Target>(program, options.Monitor, options.SettleMs);
        series = std::make_unique<SeriesRun>(plan, *camera, *target, manifest, answers, std::cout);
        series->Shoot();
        target->Close();
        std::cout << "Figures:\n";
        const bool measured = series->Measure();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("Series done in %.1f s, of which the camera %.1f s (%d shots).\n", wall,
                    series->CameraSeconds(), series->Shots());
        std::fflush(stdout);
        if (!measured) {
            Fail("nothing measured: no mosaic frame could be read, or a file could not be "
                 "written");
            return ExitStopped;
        }
        return 0;
    } catch (const Stop& stop) {
        std::cout << std::flush;
        if (target) {
            target->Close();
        }
        Fail(stop.Line + (series ? "; the files shot and series.csv are kept" : ""));
        return stop.Status;
    }
}

} // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        Fail(e.what());
        return ExitStopped;
    }
}
