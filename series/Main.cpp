// pruvex-series: the whole series in one command: the target on the
// monitor, the camera at every ISO with the exposures the measurement
// needs, the dark frames, and the figures.

#include "generated/Version.h"
#include "measure/FileNames.h"
#include "series/Camera.h"
#include "series/Choices.h"
#include "series/ManifestWriter.h"
#include "series/Process.h"
#include "series/Run.h"
#include "series/Stop.h"
#include "series/Target.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>

namespace {

using namespace pruvex::series;

#ifdef _WIN32
// On Windows there is no gphoto2: a camera is always named.
constexpr const char* DefaultCamera = "";
constexpr const char* Cameras = "--camera=folder:DIR or --camera=digicamcontrol[:PATH]";
#else
constexpr const char* DefaultCamera = "gphoto2";
constexpr const char* Cameras = "--camera=gphoto2 or --camera=folder:DIR";
#endif

struct Options {
    std::string Camera = DefaultCamera;
    std::vector<std::string> Isos;
    int Monitor = 0;
    int SettleMs = 20;
    bool NoBrightness = false;
    std::string Folder;
};

#ifdef _WIN32
constexpr const char* Usage =
    "Usage: pruvex-series.exe [--camera=folder:DIR|--camera=digicamcontrol[:PATH]] [--iso=LIST]\n"
    "                         [--fullscreen[=N]] [--settle=MS] [--no-brightness] FOLDER\n"
    "Runs a whole series: the target (Pruvex.exe) full screen, the monitor's brightness,\n"
    "the mosaic at every ISO with the exposures the measurement needs, the dark frames,\n"
    "and the figures. Prompts go to standard output; answer each with a line on\n"
    "standard input (Enter goes on, q stops).\n"
    "  --camera=folder:DIR  the new raw files that the camera's own program saves in DIR\n"
    "  --camera=digicamcontrol[:PATH]\n"
    "                       a camera on USB through digiCamControl's CameraControlCmd.exe\n"
    "                       (PATH to it, else where digiCamControl installs it, else PATH)\n"
    "  --iso=LIST           the ISOs, such as 100,400,1600 (default: 100 to 6400 in\n"
    "                       whole stops)\n"
    "  --fullscreen[=N]     the target full screen on monitor N\n"
    "  --settle=MS          the panel's settle time, 0 to 10000 ms (default 20)\n"
    "  --no-brightness      leave out the brightness step\n"
    "  FOLDER               the raw files, series.csv, sensor.csv, squares.csv, sensor.svg\n"
    "  --help, --version\n";
#else
constexpr const char* Usage =
    "Usage: pruvex-series [--camera=gphoto2|--camera=folder:DIR] [--iso=LIST] "
    "[--fullscreen[=N]]\n"
    "                     [--settle=MS] [--no-brightness] FOLDER\n"
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
    "  FOLDER               the raw files, series.csv, sensor.csv, squares.csv, sensor.svg\n"
    "  --help, --version\n";
#endif

void Fail(const std::string& line) {
    std::cerr << "pruvex-series: " << line << '\n';
}

// The camera named by --camera; throws Stop when none fits.
std::unique_ptr<Camera> OpenCamera(const std::string& name, const std::filesystem::path& folder,
                                   Answers& answers) {
    using pruvex::measure::FileName;
    if (name.rfind("folder:", 0) == 0 && name.size() > 7) {
        const std::filesystem::path dir = FileName(name.substr(7));
        std::error_code ignored;
        if (std::filesystem::weakly_canonical(dir, ignored) ==
            std::filesystem::weakly_canonical(folder, ignored)) {
            throw Stop{ExitSetup, "--camera=folder:DIR: DIR must be another folder than FOLDER"};
        }
        return OpenFolder(dir, std::cout, answers);
    }
#ifdef _WIN32
    if (name == "digicamcontrol" || name.rfind("digicamcontrol:", 0) == 0) {
        return OpenDigiCamControl(name.size() > 15 ? name.substr(15) : "", std::cout);
    }
#else
    if (name == "gphoto2") {
        return OpenGphoto2(std::cout);
    }
#endif
    throw Stop{ExitSetup, std::string(name.empty() ? "no camera: give " : "--camera: ") + Cameras +
                              (name.empty() ? "" : ", not " + name)};
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
    app.add_option("FOLDER", options.Folder, "where the raw files, series.csv and the figures go")
        ->required();
    try {
        // Read in UTF-8 (on Windows from the wide command line).
        std::vector<std::string> args = pruvex::measure::ProgramArguments(argc, argv);
        std::reverse(args.begin(), args.end());
        app.parse(args);
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
    std::optional<std::vector<int>> isoList;
    if (!options.Isos.empty()) {
        isoList = ParseIsoList(options.Isos);
        if (!isoList) {
            Fail("--iso: a list of ISO values such as 100,400,1600");
            return ExitSetup;
        }
    }
    if (options.Camera.empty()) {
        Fail(std::string("no camera: give ") + Cameras);
        std::cerr << Usage;
        return ExitSetup;
    }
    // A camera set by hand (a folder's) takes any ISO.
    const bool anyIso = options.Camera.rfind("folder:", 0) == 0;

    InstallInterruptHandler();
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<Target> target;
    std::unique_ptr<SeriesRun> series;
    try {
        const std::filesystem::path folder = pruvex::measure::FileName(options.Folder);
        if (const std::string refusal = FolderRefusal(folder); !refusal.empty()) {
            throw Stop{ExitSetup, refusal};
        }
        Answers answers;
        std::unique_ptr<Camera> camera = OpenCamera(options.Camera, folder, answers);
        SeriesPlan plan;
        plan.Folder = folder;
        plan.Brightness = !options.NoBrightness;
        plan.Shutters = camera->ShutterChoices();
        const std::vector<std::string> isoChoices = camera->IsoChoices();
        plan.Isos = isoList ? *isoList : WholeStopIsos(isoChoices);
        for (const int iso : plan.Isos) {
            const std::string text = std::to_string(iso);
            if (!anyIso &&
                std::find(isoChoices.begin(), isoChoices.end(), text) == isoChoices.end()) {
                throw Stop{ExitSetup, "ISO " + text + " is not among the camera's choices"};
            }
        }
        if (plan.Isos.empty()) {
            throw Stop{ExitSetup, "the camera offers no numeric ISO: give them with --iso"};
        }
        camera->Check(plan.Isos.front());
        ManifestWriter manifest(folder);
        const std::string program = TargetProgram();
        if (!FindProgram(program)) {
#ifdef _WIN32
            throw Stop{ExitSetup, "no Pruvex.exe beside pruvex-series.exe"};
#else
            throw Stop{ExitSetup, "no pruvex program beside pruvex-series or on PATH"};
#endif
        }
        target = std::make_unique<Target>(program, options.Monitor, options.SettleMs);
        series = std::make_unique<SeriesRun>(plan, *camera, *target, manifest, answers, std::cout);
        series->Shoot();
        target->Close();
        std::cout << "Figures:\n";
        const bool measured = series->Measure();
        const double wall =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char done[120];
        std::snprintf(done, sizeof done,
                      "Series done in %.1f s, of which the camera %.1f s (%d shots).\n", wall,
                      series->CameraSeconds(), series->Shots());
        std::cout << done << std::flush;
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
    int status = ExitStopped;
    try {
        status = Run(argc, argv);
    } catch (const std::exception& e) {
        Fail(e.what());
    }
    std::cout << std::flush;
    SeriesEnded();
    return status;
}
