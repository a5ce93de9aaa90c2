// pruvex-series: the whole series in one command: the target on the
// monitor, the camera at every ISO with the exposures the measurement
// needs, the dark frames, and the figures.

#include "generated/Version.h"
#include "series/Camera.h"
#include "series/Choices.h"
#include "series/ManifestWriter.h"
#include "series/Process.h"
#include "series/Resume.h"
#include "series/Run.h"
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
    bool Resume = false;
    std::string Folder;
};

constexpr const char* Usage =
    "Usage: pruvex-series [--camera=gphoto2|--camera=folder:DIR] [--iso=LIST] "
    "[--fullscreen[=N]]\n"
    "                     [--settle=MS] [--no-brightness] FOLDER\n"
    "       pruvex-series --resume [--camera=gphoto2|--camera=folder:DIR] FOLDER\n"
    "Runs a whole series: the target (pruvex) full screen, the monitor's brightness,\n"
    "the mosaic at every ISO with the exposures the measurement needs, the dark frames,\n"
    "and the figures. Prompts go to standard output; answer each with a line on\n"
    "standard input (Enter goes on, q stops).\n"
    "  --camera=gphoto2     a camera on USB through the gphoto2 program (the default)\n"
    "  --camera=folder:DIR  the new raw files that the camera's own program saves in DIR\n"
    "  --iso=LIST           the ISOs, such as 100,400,1600 (default: the camera's, in\n"
    "                       whole stops from the lowest)\n"
    "  --fullscreen[=N]     the target full screen on monitor N\n"
    "  --settle=MS          the panel's settle time, 0 to 10000 ms (default 20)\n"
    "  --no-brightness      leave out the brightness step\n"
    "  --resume             go on with the series stopped in FOLDER, with its options\n"
    "  FOLDER               the raw files, series.csv, sensor.csv, squares.csv, sensor.svg\n"
    "  --help, --version\n";

void Fail(const std::string& line) {
    std::cerr << "pruvex-series: " << line << '\n';
}

// Where the series' wall time went: the rest of it is the program's own work.
void PrintCosts(std::chrono::steady_clock::time_point start, const SeriesRun& series) {
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Costs& c = series.Spent();
    const double own = wall - c.Camera - c.Target - c.Prompts;
    std::printf("Series done in %.1f s: the camera's calls %.1f s, the target's replies %.1f s, "
                "the prompts %.1f s, the program's own work %.1f s (%d shots).\n",
                wall, c.Camera, c.Target, c.Prompts, own, series.Shots());
    std::fflush(stdout);
}

int Run(int argc, char** argv) {
    Options options;
    CLI::App app("pruvex-series");
    app.set_help_flag();
    const CLI::Option* help = app.add_flag("--help");
    const CLI::Option* version = app.add_flag("--version");
    app.add_option("--camera", options.Camera,
                   "gphoto2 (a camera on USB, the default) or folder:DIR (the new raw files "
                   "that the camera's own program saves in DIR)");
    app.add_option("--iso", options.Isos,
                   "the ISOs, comma-separated (default: the camera's ISOs in whole stops "
                   "from the lowest)")
        ->delimiter(',');
    app.add_flag("--fullscreen{0}", options.Monitor,
                 "the target full screen on monitor N (default: the monitor it opens on)")
        ->check(CLI::Range(0, 64))
        ->option_text("[=N]");
    app.add_option("--settle", options.SettleMs,
                   "the panel's settle time in milliseconds, 0 to 10000 (default 20)")
        ->check(CLI::Range(0, 10000));
    app.add_flag("--no-brightness", options.NoBrightness, "leave out the brightness step");
    app.add_flag("--resume", options.Resume,
                 "go on with the series stopped in FOLDER, with the options it was started with");
    app.add_option("FOLDER", options.Folder, "where the raw files, series.csv and the figures go")
        ->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (help->count() == 0 && version->count() == 0) {
            Fail(e.what());
            std::cerr << Usage;
            return ExitSetup;
        }
    }
    if (help->count() > 0) {
        std::cout << Usage;
        return 0;
    }
    if (version->count() > 0) {
        std::cout << "pruvex-series " << PRUVEX_VERSION << '\n';
        return 0;
    }
    if (options.Resume) {
        for (const char* name : {"--iso", "--fullscreen", "--settle", "--no-brightness"}) {
            if (app.count(name) > 0) {
                Fail(std::string("--resume takes the series' options from FOLDER: only --camera "
                                 "may be given again, not ") +
                     name);
                return ExitSetup;
            }
        }
        try {
            const SeriesOptions recorded = RecordedOptions(options.Folder);
            options.Camera = app.count("--camera") > 0 ? options.Camera : recorded.Camera;
            options.Isos.clear();
            for (const int iso : recorded.Isos) {
                options.Isos.push_back(std::to_string(iso));
            }
            options.Monitor = recorded.Monitor;
            options.SettleMs = recorded.SettleMs;
            options.NoBrightness = !recorded.Brightness;
        } catch (const Stop& stop) {
            Fail(stop.Line);
            return stop.Status;
        }
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
        KeptShots kept;
        if (options.Resume) {
            kept = CheckKept(folder);
        } else if (const std::string refusal = FolderRefusal(folder); !refusal.empty()) {
            throw Stop{ExitSetup, refusal};
        }
        std::error_code ignored;
        if (!folderCamera.empty() && std::filesystem::weakly_canonical(folderCamera, ignored) ==
                                         std::filesystem::weakly_canonical(folder, ignored)) {
            throw Stop{ExitSetup, "--camera=folder:DIR: DIR must be another folder than FOLDER"};
        }
        Answers answers;
        const auto opening = std::chrono::steady_clock::now();
        std::unique_ptr<Camera> camera = folderCamera.empty()
                                             ? OpenGphoto2(std::cout)
                                             : OpenFolder(folderCamera, std::cout, answers);
        SeriesPlan plan;
        plan.Folder = folder;
        plan.Brightness = !options.NoBrightness;
        plan.Shutters = camera->ShutterChoices();
        const std::vector<std::string> isoChoices = camera->IsoChoices();
        const double cameraOpening =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - opening).count();
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
        RecordOptions(folder, {options.Camera, plan.Isos, options.Monitor, options.SettleMs,
                               !options.NoBrightness});
        std::unique_ptr<ManifestWriter> manifest;
        if (options.Resume) {
            std::cout << "Resumed: " << kept.Rows.size() << " shots kept\n";
            for (const std::string& line : kept.Dropped) {
                std::cout << "  " << line << '\n';
            }
            plan.Kept = kept.Rows;
            manifest = std::make_unique<ManifestWriter>(folder, kept.Rows, !kept.Dropped.empty());
        } else {
            manifest = std::make_unique<ManifestWriter>(folder);
        }
        const std::string program = TargetProgram();
        if (!FindProgram(program)) {
            throw Stop{ExitSetup, "no pruvex program beside pruvex-series or on PATH"};
        }
        const auto started = std::chrono::steady_clock::now();
        target = std::make_unique<Target>(program, options.Monitor, options.SettleMs);
        const double targetStart =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        series = std::make_unique<SeriesRun>(plan, *camera, *target, *manifest, answers, std::cout);
        series->Shoot();
        target->Close();
        std::cout << "Figures:\n";
        const bool measured = series->Measure();
        series->Spent().Target = targetStart + target->Seconds();
        series->Spent().Camera += cameraOpening;
        PrintCosts(start, *series);
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
