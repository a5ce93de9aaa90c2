#include "series/Camera.h"

#include "series/Choices.h"
#include "series/Files.h"
#include "series/Landing.h"
#include "series/Stop.h"

#include "measure/FileNames.h"
#include "measure/Report.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <sstream>
#include <thread>

namespace pruvex::series {

namespace fs = std::filesystem;

namespace {

// The last non-empty line of a program's output, for a message.
std::string LastLine(const std::string& output) {
    std::istringstream in(output);
    std::string line;
    std::string last;
    while (std::getline(in, line)) {
        if (line.find_first_not_of(" \t\r") != std::string::npos) {
            last = line;
        }
    }
    while (!last.empty() && (last.back() == '\r' || last.back() == ' ')) {
        last.pop_back();
    }
    return last.empty() ? "no output" : last;
}

// The files named `name.*` in a folder.
std::vector<fs::path> Landed(const fs::path& folder, const std::string& name) {
    std::vector<fs::path> files;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        if (entry.path().stem() == name && entry.path().has_extension() &&
            entry.is_regular_file(error)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

// A busy camera is asked again after a pause doubling from a quarter of a
// second, for this long in all.
constexpr auto BusyFor = std::chrono::seconds(30);

// Waits about `ms`, less when interrupted.
void Pause(int ms) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!Interrupted() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

class Gphoto2 : public Camera {
  public:
    Gphoto2(std::string program, std::ostream& out) : program_(std::move(program)), out_(out) {}

    std::vector<std::string> IsoChoices() override { return Choices("iso"); }
    std::vector<std::string> ShutterChoices() override { return Choices("shutterspeed"); }

    void Prepare(int iso, const std::string& shutter, int /*count*/) override {
        const std::string isoText = std::to_string(iso);
        if (isoText == iso_ && shutter == shutter_) {
            return;
        }
        const ProgramResult result =
            Run({"--set-config", "iso=" + isoText, "--set-config", "shutterspeed=" + shutter});
        if (result.Status != 0) {
            throw Stop{ExitStopped, "the camera refused ISO " + isoText + " and " + shutter + ": " +
                                        LastLine(result.Output)};
        }
        iso_ = isoText;
        shutter_ = shutter;
    }

    void Resend(int iso, const std::string& shutter, const std::string& /*found*/) override {
        iso_.clear();
        Prepare(iso, shutter, 1);
    }

    std::vector<fs::path> Capture(const fs::path& folder, const std::string& name) override {
        std::string failure;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const ProgramResult result =
                Run({"--capture-image-and-download", "--force-overwrite", "--filename",
                     measure::Utf8Name(folder / (name + ".%C"))});
            std::vector<fs::path> files = Landed(folder, name);
            if (result.Status == 0 && !files.empty()) {
                if (attempt > 0) {
                    out_ << "The capture of " << name << " failed once (" << failure
                         << "), then worked\n";
                }
                return files;
            }
            failure = LastLine(result.Output);
            if (Interrupted()) {
                throw Stop{ExitInterrupted, "interrupted"};
            }
        }
        throw Stop{ExitStopped, "the capture of " + name + " failed twice in a row (" + failure +
                                    "): is the camera still connected and on?"};
    }

  private:
    // The call, tried again while the camera is busy.
    ProgramResult Run(std::vector<std::string> args) const {
        args.insert(args.begin(), program_);
        const auto end = std::chrono::steady_clock::now() + BusyFor;
        int pause = 250;
        for (;;) {
            ProgramResult result = RunProgram(args);
            if (result.Status == 0 || !BusyError(result.Output) || Interrupted() ||
                std::chrono::steady_clock::now() + std::chrono::milliseconds(pause) > end) {
                return result;
            }
            Pause(pause);
            pause = std::min(pause * 2, 4000);
        }
    }
    std::vector<std::string> Choices(const std::string& name) const {
        const ProgramResult result = Run({"--get-config", name});
        std::vector<std::string> choices = ConfigChoices(result.Output);
        if (result.Status != 0 || choices.empty()) {
            throw Stop{ExitSetup, "the camera gives no " + name + " choices through gphoto2 (" +
                                      LastLine(result.Output) + "): set it to manual mode (M)"};
        }
        return choices;
    }

    std::string program_;
    std::ostream& out_;
    std::string iso_;
    std::string shutter_;
};

// The whole-stop times a photographer sets on any camera.
const std::vector<std::string> FolderShutters{"1/15",  "1/30",   "1/60",   "1/125",  "1/250",
                                              "1/500", "1/1000", "1/2000", "1/4000", "1/8000"};

class Folder : public Camera {
  public:
    Folder(const fs::path& dir, std::ostream& out, Answers& answers)
        : landing_(dir, out), out_(out), answers_(answers) {}

    std::vector<std::string> IsoChoices() override {
        return {"100", "200", "400", "800", "1600", "3200", "6400"};
    }
    std::vector<std::string> ShutterChoices() override { return FolderShutters; }

    void Prepare(int iso, const std::string& shutter, int count) override {
        out_ << "ISO " << iso << ", " << measure::ShutterText(ParseShutter(shutter).value_or(0))
             << ": take " << count << (count == 1 ? " shot" : " shots") << std::endl;
    }

    void Resend(int iso, const std::string& shutter, const std::string& found) override {
        out_ << "The camera shot " << found << ": set ISO " << iso << ", "
             << measure::ShutterText(ParseShutter(shutter).value_or(0))
             << " (mode dial at M, auto ISO off) "
             << "and take the shot again" << std::endl;
    }

    std::vector<fs::path> Capture(const fs::path& folder, const std::string& name) override {
        for (;;) {
            if (std::optional<fs::path> file = landing_.Look()) {
                const fs::path target = folder / (name + measure::Utf8Name(file->extension()));
                std::error_code error;
                fs::copy_file(*file, target, fs::copy_options::overwrite_existing, error);
                if (error) {
                    throw Stop{ExitStopped, measure::Utf8Name(target) + ": cannot be written (" +
                                                error.message() + ")"};
                }
                read_ = {target, landing_.TakeRead()};
                return {target};
            }
            const std::optional<std::string> answer = answers_.Poll(200);
            if (Interrupted()) {
                throw Stop{ExitInterrupted, "interrupted"};
            }
            if ((answer && *answer == "q") || answers_.Ended()) {
                throw Stop{ExitStopped, "stopped on request"};
            }
        }
    }

    measure::RawResult Read(const fs::path& file) override {
        if (file == read_.first) {
            read_.first.clear();
            return std::move(read_.second);
        }
        return Camera::Read(file);
    }

  private:
    Landing landing_;
    std::pair<fs::path, measure::RawResult> read_; // the last file copied, as read
    std::ostream& out_;
    Answers& answers_;
};

// ISOs for a camera set through a program that takes any value: the whole
// stops a photographer sets on any camera.
const std::vector<std::string> WholeStopIsoChoices{"100",  "200",  "400", "800",
                                                   "1600", "3200", "6400"};

const char* const NoDigiCamCamera =
    "no camera found by digiCamControl: connect it by USB, switch it on, and close "
    "digiCamControl's own window, which holds the camera";

// Through digiCamControl's command-line program, one call per step; its
// text tells what happened (it exits with 0 whatever happens). It shoots
// into a private folder of the series, from which the files are taken.
class DigiCamControl : public Camera {
  public:
    explicit DigiCamControl(std::string program) : program_(std::move(program)) {}
    ~DigiCamControl() override {
        std::error_code ignored;
        if (!shots_.empty()) {
            fs::remove(shots_, ignored); // when empty
        }
    }
    DigiCamControl(const DigiCamControl&) = delete;
    DigiCamControl& operator=(const DigiCamControl&) = delete;

    std::vector<std::string> IsoChoices() override { return WholeStopIsoChoices; }
    std::vector<std::string> ShutterChoices() override { return FolderShutters; }

    // digiCamControl has no call that only looks for the camera: the first
    // settings tell.
    void Check(int iso) override { Prepare(iso, "1/250", 0); }

    void Resend(int iso, const std::string& shutter, const std::string& /*found*/) override {
        iso_.clear();
        Prepare(iso, shutter, 1);
    }

    void Prepare(int iso, const std::string& shutter, int /*count*/) override {
        const std::string isoText = std::to_string(iso);
        if (isoText == iso_ && shutter == shutter_) {
            return;
        }
        Run({"/iso", isoText, "/shutter", shutter});
        iso_ = isoText;
        shutter_ = shutter;
    }

    std::vector<fs::path> Capture(const fs::path& folder, const std::string& name) override {
        shots_ = folder / ".digicamcontrol";
        std::error_code error;
        fs::create_directories(shots_, error);
        std::string failure;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const ProgramResult result =
                Run({"/folder", measure::Utf8Name(shots_), "/capturenoaf"});
            failure = FailedLine(result.Output);
            std::vector<fs::path> files = Take(folder, name, failure.empty());
            if (failure.empty() && !files.empty()) {
                return files;
            }
            if (failure.empty()) {
                failure = "no file arrived: " + LastLine(result.Output);
            }
            if (Interrupted()) {
                throw Stop{ExitInterrupted, "interrupted"};
            }
        }
        throw Stop{ExitStopped, "the capture of " + name + " failed twice in a row (" + failure +
                                    "): is the camera still connected and on?"};
    }

  private:
    ProgramResult Run(std::vector<std::string> args) const {
        args.insert(args.begin(), program_);
        ProgramResult result = RunProgram(args);
        if (!result.Started) {
            throw Stop{ExitSetup, program_ + ": cannot be started"};
        }
        if (HasLine(result.Output, "No connected device was found")) {
            throw Stop{ExitSetup, NoDigiCamCamera};
        }
        return result;
    }
    static bool HasLine(const std::string& output, const std::string& start) {
        return !FirstLine(output, start).empty();
    }
    static std::string FirstLine(const std::string& output, const std::string& start) {
        std::istringstream in(output);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind(start, 0) == 0) {
                while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
                    line.pop_back();
                }
                return line;
            }
        }
        return {};
    }
    static std::string FailedLine(const std::string& output) {
        std::string line = FirstLine(output, "Error occurred while capturing");
        return line.empty() ? FirstLine(output, "Transfer error") : line;
    }
    // The files in the private folder, complete, moved to folder/name.EXT
    // (all of them removed after a failed capture).
    std::vector<fs::path> Take(const fs::path& folder, const std::string& name, bool keep) const {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point end = Clock::now() + std::chrono::seconds(30);
        std::vector<fs::path> taken;
        std::map<fs::path, std::uintmax_t> sizes; // at the last look
        std::error_code error;
        while (!fs::is_empty(shots_, error) && !error && Clock::now() < end && !Interrupted()) {
            for (const fs::directory_entry& entry : fs::directory_iterator(shots_, error)) {
                const fs::path& file = entry.path();
                const std::uintmax_t size = fs::file_size(file, error);
                const auto last = sizes.find(file);
                if (error || last == sizes.end() || last->second != size || !OpenableAlone(file)) {
                    sizes[file] = error ? 0 : size;
                    continue;
                }
                const fs::path target = folder / (name + measure::Utf8Name(file.extension()));
                if (keep) {
                    fs::rename(file, target, error);
                    taken.push_back(target);
                } else {
                    fs::remove(file, error);
                }
                if (error) {
                    throw Stop{ExitStopped, measure::Utf8Name(target) + ": cannot be written (" +
                                                error.message() + ")"};
                }
            }
            // The program has ended: a file still growing or held open is
            // looked at again shortly.
            Pause(100);
        }
        std::sort(taken.begin(), taken.end());
        return taken;
    }

    std::string program_;
    fs::path shots_;
    std::string iso_;
    std::string shutter_;
};

} // namespace

measure::RawResult Camera::Read(const fs::path& file) {
    return measure::ReadRaw(measure::Utf8Name(file));
}

std::vector<std::string> ConfigChoices(const std::string& output) {
    std::vector<std::string> choices;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind("Choice: ", 0) != 0) {
            continue;
        }
        const std::size_t space = line.find(' ', 8);
        if (space != std::string::npos && space + 1 < line.size()) {
            choices.push_back(line.substr(space + 1));
        }
    }
    return choices;
}

bool BusyError(const std::string& output) {
    for (const char* busy : {"I/O in progress", "Could not claim the USB device", "Device Busy",
                             "Device busy", "No camera found", "Could not detect any camera"}) {
        if (output.find(busy) != std::string::npos) {
            return true;
        }
    }
    return false;
}

std::unique_ptr<Camera> OpenGphoto2(std::ostream& out) {
    const std::optional<std::string> program = FindProgram("gphoto2");
    if (!program) {
        throw Stop{ExitSetup, "no gphoto2 program: install gphoto2 (Debian: apt install "
                              "gphoto2), or use --camera=folder:DIR with the camera's own "
                              "tethering program"};
    }
    ProgramResult detect = RunProgram({*program, "--auto-detect"});
    for (int pause = 250; detect.Status != 0 && BusyError(detect.Output) && pause <= 8000;
         pause *= 2) {
        Pause(pause);
        detect = RunProgram({*program, "--auto-detect"});
    }
    // Its list starts after a header and a line of dashes.
    std::istringstream in(detect.Output);
    std::string line;
    bool listed = false;
    std::string model;
    while (std::getline(in, line)) {
        if (listed && line.find_first_not_of(" \t\r") != std::string::npos) {
            model = line.substr(0, line.find("  "));
            break;
        }
        listed = listed || line.rfind("----", 0) == 0;
    }
    if (detect.Status != 0 || model.empty()) {
        throw Stop{ExitSetup, "no camera found by gphoto2: connect it by USB and switch it on; "
                              "a desktop's automounter may hold the camera (close its file "
                              "window or stop gvfs-gphoto2-volume-monitor)"};
    }
    out << "Camera: " << model << std::endl;
    return std::make_unique<Gphoto2>(*program, out);
}

std::unique_ptr<Camera> OpenFolder(const fs::path& dir, std::ostream& out, Answers& answers) {
    std::error_code error;
    if (!fs::is_directory(dir, error)) {
        throw Stop{ExitSetup, measure::Utf8Name(dir) + ": no such folder"};
    }
    out << "Camera: the files that appear in " << measure::Utf8Name(dir) << std::endl;
    return std::make_unique<Folder>(dir, out, answers);
}

std::unique_ptr<Camera> OpenDigiCamControl(const std::string& path, std::ostream& out) {
    std::optional<std::string> program;
    if (!path.empty()) {
        program = FindProgram(path);
    } else {
        program = FindProgram(DigiCamControlInstalled);
        if (!program) {
            program = FindProgram("CameraControlCmd.exe");
        }
    }
    if (!program) {
        throw Stop{ExitSetup, (path.empty() ? std::string("no CameraControlCmd.exe") : path) +
                                  ": install digiCamControl, or give the path of its "
                                  "CameraControlCmd.exe: --camera=digicamcontrol:PATH"};
    }
    out << "Camera: through digiCamControl (" << *program << ")" << std::endl;
    return std::make_unique<DigiCamControl>(*program);
}

} // namespace pruvex::series
