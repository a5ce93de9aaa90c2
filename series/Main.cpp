// pruvex-series: the whole series in one command: the target on the
// monitor, the camera at every ISO with the exposures the measurement
// needs, the dark frames, and the figures.

#include "generated/Version.h"
#include "measure/FileNames.h"
#include "series/Camera.h"
#include "series/Choices.h"
#include "series/ManifestWriter.h"
#include "series/Process.h"
#include "series/Resume.h"
#include "series/SeriesRun.h"
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
constexpr const char* CameraHelp =
    "folder:DIR: the new raw files that the camera's own program saves in DIR;\n"
    "digicamcontrol[:PATH]: a camera on USB through digiCamControl's CameraControlCmd.exe\n"
    "(PATH to it, else where digiCamControl installs it, else on PATH)";
constexpr const char* CameraType = "folder:DIR|digicamcontrol[:PATH]";
constexpr const char* TargetName = "Pruvex.exe";
#else
constexpr const char* DefaultCamera = "gphoto2";
constexpr const char* Cameras = "--camera=gphoto2 or --camera=folder:DIR";
constexpr const char* CameraHelp =
    "gphoto2: a camera on USB through the gphoto2 program (the default);\n"
    "folder:DIR: the new raw files that the camera's own program saves in DIR";
constexpr const char* CameraType = "gphoto2|folder:DIR";
constexpr const char* TargetName = "pruvex";
#endif

struct Options {
    std::string Camera = DefaultCamera;
    std::vector<std::string> Isos;
    int Monitor = 0;
    int SettleMs = 20;
    bool NoBrightness = false;
    bool Resume = false;
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

// Where the series' wall time went: the rest of it is the program's own work.
void PrintCosts(std::chrono::steady_clock::time_point start, const SeriesRun& series) {
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const Costs& c = series.Spent();
    const double own = wall - c.Camera - c.Target - c.Prompts;
    char line[200];
    std::snprintf(line, sizeof line,
                  "Series done in %.1f s: the camera's calls %.1f s, the target's replies %.1f s, "
                  "the prompts %.1f s, the program's own work %.1f s (%d shots).\n",
                  wall, c.Camera, c.Target, c.Prompts, own, series.Shots());
    std::cout << line << std::flush;
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
    throw Stop{ExitSetup, "--camera: " + std::string(Cameras) + ", not " + name};
}

// --resume: the options the series started with, --camera as given again.
void TakeRecordedOptions(const CLI::App& app, Options& options) {
    for (const char* name : {"--iso", "--fullscreen", "--settle", "--no-brightness"}) {
        if (app.count(name) > 0) {
            throw Stop{ExitSetup, std::string("--resume takes the series' options from FOLDER: "
                                              "only --camera may be given again, not ") +
                                      name};
        }
    }
    const SeriesOptions recorded = RecordedOptions(options.Folder);
    options.Camera = app.count("--camera") > 0 ? options.Camera : recorded.Camera;
    options.Isos.clear();
    for (const int iso : recorded.Isos) {
        options.Isos.push_back(std::to_string(iso));
    }
    options.Monitor = recorded.Monitor;
    options.SettleMs = recorded.SettleMs;
    options.NoBrightness = !recorded.Brightness;
}

// A new manifest, or a resumed series' with the shots kept.
std::unique_ptr<ManifestWriter> OpenManifest(bool resume, KeptShots kept, SeriesPlan& plan) {
    if (!resume) {
        return std::make_unique<ManifestWriter>(plan.Folder);
    }
    std::cout << "Resumed: " << kept.Rows.size() << " shots kept\n";
    for (const std::string& line : kept.Dropped) {
        std::cout << "  " << line << '\n';
    }
    plan.Kept = kept.Rows;
    return std::make_unique<ManifestWriter>(plan.Folder, std::move(kept.Rows),
                                            !kept.Dropped.empty());
}

// Every option, declared to CLI11 with its help.
void Declare(CLI::App& app, Options& options) {
    app.formatter(std::make_shared<HelpFormatter>());
    app.set_help_flag("--help", "print this text and exit");
    app.set_version_flag("--version", "pruvex-series " PRUVEX_VERSION,
                         "print the program's version and exit");
    app.add_option("--camera", options.Camera, CameraHelp)->type_name(CameraType);
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
    app.add_flag("--resume", options.Resume,
                 "go on with the series stopped in FOLDER, with the options it was started with\n"
                 "(only --camera may be given again)");
    app.add_option("FOLDER", options.Folder,
                   "the raw files, series.csv, sensor.csv, squares.csv, sensor.svg, report.html")
        ->type_name("")
        ->required();
}

// The options as given (or, resuming, as recorded); the status to end
// with when they are not ones to run with.
std::optional<int> ReadOptions(CLI::App& app, Options& options, int argc, char** argv) {
    try {
        // In UTF-8 (on Windows from the wide command line); CLI11 takes a
        // list of words last first.
        std::vector<std::string> args = pruvex::measure::ProgramArguments(argc, argv);
        std::reverse(args.begin(), args.end());
        app.parse(args);
    } catch (const CLI::Success& e) {
        // --help or --version, printed as CLI11 prints them
        return app.exit(e, std::cout, std::cerr);
    } catch (const CLI::ParseError& e) {
        Fail(e.what());
        std::cerr << app.help();
        return ExitSetup;
    }
    if (options.Resume) {
        try {
            TakeRecordedOptions(app, options);
        } catch (const Stop& stop) {
            Fail(stop.Line);
            return stop.Status;
        }
    }
    if (!options.Isos.empty() && !ParseIsoList(options.Isos)) {
        Fail("--iso: a list of ISO values such as 100,400,1600");
        return ExitSetup;
    }
    if (options.Camera.empty()) {
        Fail(std::string("no camera: give ") + Cameras);
        std::cerr << app.help();
        return ExitSetup;
    }
    return std::nullopt;
}

// The ISOs to shoot: those given, else the camera's in whole stops; each
// one the camera offers (a camera set by hand, a folder's, takes any).
std::vector<int> IsosToShoot(const Options& options, const std::vector<std::string>& choices) {
    const bool anyIso = options.Camera.rfind("folder:", 0) == 0;
    std::vector<int> isos =
        options.Isos.empty() ? WholeStopIsos(choices) : *ParseIsoList(options.Isos);
    for (const int iso : isos) {
        const std::string text = std::to_string(iso);
        if (!anyIso && std::find(choices.begin(), choices.end(), text) == choices.end()) {
            throw Stop{ExitSetup, "ISO " + text + " is not among the camera's choices"};
        }
    }
    if (isos.empty()) {
        throw Stop{ExitSetup, "the camera offers no numeric ISO: give them with --iso"};
    }
    return isos;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The target program to start; throws Stop when there is none.
std::string FindTarget() {
    std::string program = TargetProgram();
    if (!FindProgram(program)) {
#ifdef _WIN32
        throw Stop{ExitSetup, "no Pruvex.exe beside pruvex-series.exe"};
#else
        throw Stop{ExitSetup, "no pruvex program beside pruvex-series or on PATH"};
#endif
    }
    return program;
}

// The series itself, from the folder's check to the figures; throws Stop.
int ShootAndMeasure(const Options& options, std::unique_ptr<Target>& target,
                    std::unique_ptr<SeriesRun>& series) {
    const auto start = std::chrono::steady_clock::now();
    const std::filesystem::path folder = pruvex::measure::FileName(options.Folder);
    KeptShots kept;
    if (options.Resume) {
        kept = CheckKept(folder);
    } else if (const std::string refusal = FolderRefusal(folder); !refusal.empty()) {
        throw Stop{ExitSetup, refusal};
    }
    Answers answers;
    const auto opening = std::chrono::steady_clock::now();
    std::unique_ptr<Camera> camera = OpenCamera(options.Camera, folder, answers);
    SeriesPlan plan;
    plan.Folder = folder;
    plan.Brightness = !options.NoBrightness;
    plan.Shutters = camera->ShutterChoices();
    plan.Isos = IsosToShoot(options, camera->IsoChoices());
    const double cameraOpening = SecondsSince(opening);
    camera->Check(plan.Isos.front());
    RecordOptions(folder, {options.Camera, plan.Isos, options.Monitor, options.SettleMs,
                           !options.NoBrightness});
    const std::unique_ptr<ManifestWriter> manifest =
        OpenManifest(options.Resume, std::move(kept), plan);
    const std::string program = FindTarget();
    const auto started = std::chrono::steady_clock::now();
    target = std::make_unique<Target>(program, options.Monitor, options.SettleMs);
    const double targetStart = SecondsSince(started);
    series = std::make_unique<SeriesRun>(plan, *camera, *target, *manifest, answers, std::cout);
    series->Shoot();
    target->Close();
    std::cout << "Figures:\n";
    const bool measured = series->Measure();
    series->Spent().Target = targetStart + target->Seconds();
    series->Spent().Camera += cameraOpening;
    PrintCosts(start, *series);
    if (!measured) {
        Fail("nothing measured: no mosaic frame could be read, or a file could not be written");
        return ExitStopped;
    }
    return 0;
}

int Run(int argc, char** argv) {
    Options options;
    CLI::App app(
        std::string(
            "Runs a whole series: the target (" + std::string(TargetName) +
            ") full screen, the monitor's brightness,\n"
            "the flat frames, the mosaic at every ISO with the exposures the measurement needs,\n"
            "the dark frames, and the figures. Prompts go to standard output; answer each with\n"
            "a line on standard input (Enter goes on, q stops)."),
        "pruvex-series");
    Declare(app, options);
    if (const std::optional<int> status = ReadOptions(app, options, argc, argv)) {
        return *status;
    }
    InstallInterruptHandler();
    std::unique_ptr<Target> target;
    std::unique_ptr<SeriesRun> series;
    try {
        return ShootAndMeasure(options, target, series);
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
