#include "series/Run.h"

#include "series/Choices.h"
#include "series/FrameCheck.h"
#include "series/Stop.h"

#include "measure/FileNames.h"
#include "measure/RawFile.h"
#include "measure/Report.h"
#include "measure/Run.h"
#include "measure/Series.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>

namespace pruvex::series {

namespace fs = std::filesystem;
using measure::CfaFrame;

namespace {

constexpr int FlatLevel = 212;
constexpr double FlatTime = 1.0 / 30;
constexpr double GridTime = 1.0 / 250;

std::string Percent(double value) {
    char text[16];
    std::snprintf(text, sizeof text, "%.0f %%", value);
    return text;
}

double Seconds(const std::string& shutter) {
    return ParseShutter(shutter).value_or(0);
}

} // namespace

SeriesRun::SeriesRun(SeriesPlan plan, Camera& camera, Target& target, ManifestWriter& manifest,
                     Answers& answers, std::ostream& out)
    : plan_(std::move(plan)), camera_(camera), target_(target), manifest_(manifest),
      answers_(answers), out_(out) {}

void SeriesRun::CheckInterrupted() const {
    if (Interrupted()) {
        throw Stop{ExitInterrupted, "interrupted"};
    }
}

std::string SeriesRun::Prompt(const std::string& text) {
    target_.Window();
    out_ << text << std::flush;
    const std::optional<std::string> answer = answers_.Next();
    out_ << '\n';
    CheckInterrupted();
    if (!answer) {
        throw Stop{ExitStopped, "stopped: standard input ended"};
    }
    if (*answer == "q") {
        throw Stop{ExitStopped, "stopped on request"};
    }
    return *answer;
}

SeriesRun::Shot SeriesRun::TakeShot(const std::string& kind, int iso, const std::string& shutter,
                                    char letter) {
    target_.FullScreen();
    CheckInterrupted();
    const std::string name =
        kind + "-iso" + std::to_string(iso) + "-" + ShutterName(Seconds(shutter)) + "-" + letter;
    lastShotAt_ = UtcNow();
    const auto start = std::chrono::steady_clock::now();
    const std::vector<fs::path> files = camera_.Capture(plan_.Folder, name);
    cameraSeconds_ +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++shots_;
    std::string reasons;
    for (const fs::path& file : files) {
        measure::RawResult raw = measure::ReadRaw(measure::Utf8Name(file));
        if (raw.Ok) {
            return {file, std::move(raw.Frame)};
        }
        reasons +=
            (reasons.empty() ? "" : "; ") + measure::Utf8Name(file.filename()) + ": " + raw.Error;
    }
    throw Stop{ExitSetup, "the camera saved no raw file (" + reasons +
                              "): set it to save raw files, not JPEG only"};
}

void SeriesRun::Record(const Shot& shot, const std::string& kind, int iso,
                       const std::string& shutter, int level, const std::string& shotAt) {
    measure::ManifestRow row;
    row.File = measure::Utf8Name(fs::relative(shot.File, plan_.Folder));
    row.Kind = kind;
    row.Iso = iso;
    row.Exposure = Seconds(shutter);
    row.Level = level;
    row.ShotAt = shotAt;
    manifest_.Add(row);
    out_ << "  " << row.File << '\n' << std::flush;
}

void SeriesRun::BrightnessStep() {
    const int iso = plan_.Isos.front();
    const std::string shutter = NearestShutter(plan_.Shutters, FlatTime).value_or("1/30");
    target_.Send("flat");
    target_.Send("level " + std::to_string(FlatLevel));
    out_ << "Brightness: the flat field at level " << FlatLevel << ", ISO " << iso << ", "
         << ShutterText(Seconds(shutter)) << std::endl;
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        camera_.Prepare(iso, shutter, 1);
        const Shot shot = TakeShot("flat", iso, shutter, letter);
        Record(shot, "flat", iso, shutter, FlatLevel, lastShotAt_);
        CheckInterrupted();
        const Fullness full = MeasureFullness(shot.Frame);
        const double most = *std::max_element(full.Percent.begin(), full.Percent.end());
        std::string verdict = "a proper exposure";
        if (full.ClippedShare > 0.001 || most > 90) {
            verdict = "too bright: turn the monitor's brightness down";
        } else if (most < 50) {
            verdict = "too dark: turn the monitor's brightness up";
        }
        out_ << "Full: R " << Percent(full.Percent[0]) << ", G " << Percent(full.Percent[1])
             << ", B " << Percent(full.Percent[2]) << " of the raw range: " << verdict << '\n';
        const std::string answer = Prompt("Turn the monitor's brightness if need be, then r to "
                                          "shoot again, Enter to go on, q to stop: ");
        if (answer != "r") {
            return;
        }
    }
}

void SeriesRun::GridStep() {
    const nlohmann::json reply = target_.Send("grid");
    gridLevel_ = reply.value("grid_level", 0);
    for (const int iso : plan_.Isos) {
        std::string shutter = NearestShutter(plan_.Shutters, GridTime).value_or("1/250");
        char next = 'a';
        for (;;) {
            camera_.Prepare(iso, shutter, 2);
            std::array<int, measure::ChannelCount> least{};
            least.fill(std::numeric_limits<int>::max());
            bool framed = true;
            bool overexposed = false;
            int channels = measure::ChannelCount;
            // A pair shot again after framing takes the next letters: the
            // manifest never names one file twice.
            for (int i = 0; i < 2; ++i) {
                const char letter = next++;
                Shot shot = TakeShot("grid", iso, shutter, letter);
                const std::string shotAt = lastShotAt_;
                const ShotCheck check = CheckShot(shot.Frame);
                channels = check.Channels;
                if (check.Overexposed) {
                    out_ << measure::Utf8Name(shot.File.filename())
                         << ": so much clipped that the mosaic is lost in it\n";
                    least.fill(0);
                    overexposed = true;
                    break;
                }
                if (!check.Found) {
                    out_ << measure::Utf8Name(shot.File.filename())
                         << ": no mosaic found: frame it as the README says (the whole mosaic, "
                            "at most a tenth of white around it)\n";
                    framed = false;
                    break;
                }
                for (std::size_t ch = 0; ch < least.size(); ++ch) {
                    least[ch] = std::min(least[ch], check.Unclipped[ch]);
                }
                Record(shot, "grid", iso, shutter, gridLevel_, shotAt);
                CheckInterrupted();
            }
            if (!framed) {
                Prompt("Frame the mosaic, then Enter to shoot again, q to stop: ");
                continue;
            }
            const int fewest = *std::min_element(least.begin(), least.begin() + channels);
            if (!overexposed) {
                used_.emplace_back(iso, shutter);
                out_ << "ISO " << iso << ", " << ShutterText(Seconds(shutter)) << ':';
                for (int ch = 0; ch < channels; ++ch) {
                    out_ << (ch > 0 ? ", " : " ") << measure::ChannelName(ch, channels == 1) << ' '
                         << least[static_cast<std::size_t>(ch)];
                }
                out_ << " squares below clipping\n";
            }
            if (fewest >= LeastUnclipped) {
                break;
            }
            const std::optional<std::string> shorter =
                ShorterShutter(plan_.Shutters, Seconds(shutter));
            if (!shorter) {
                out_ << "ISO " << iso << ": fewer than " << LeastUnclipped
                     << " squares below clipping even at the shortest time\n";
                break;
            }
            out_ << "Fewer than " << LeastUnclipped << ": two more at "
                 << ShutterText(Seconds(*shorter)) << '\n';
            shutter = *shorter;
            next = 'a';
        }
    }
}

void SeriesRun::DarkStep() {
    Prompt("Dark frames: cap the lens, then Enter to go on, q to stop: ");
    for (const auto& [iso, shutter] : used_) {
        camera_.Prepare(iso, shutter, 2);
        for (char letter = 'a'; letter <= 'b';) {
            const Shot shot = TakeShot("dark", iso, shutter, letter);
            if (!IsDark(shot.Frame)) {
                out_ << measure::Utf8Name(shot.File.filename())
                     << ": not dark: the lens is not capped (or light comes in)\n";
                Prompt("Cap the lens, then Enter to go on, q to stop: ");
                camera_.Prepare(iso, shutter, 'b' - letter + 1);
                continue;
            }
            Record(shot, "dark", iso, shutter, 0, lastShotAt_);
            CheckInterrupted();
            ++letter;
        }
    }
}

void SeriesRun::Shoot() {
    if (plan_.Brightness) {
        BrightnessStep();
    }
    GridStep();
    DarkStep();
}

bool SeriesRun::Measure() {
    // Read and measured on every core, as pruvex-measure does.
    measure::Series series(measure::TheMosaic());
    std::vector<measure::RunInput> inputs;
    for (const measure::MeasuredFile& file :
         measure::MeasuredFiles(manifest_.Path(), manifest_.Rows())) {
        inputs.push_back({file.Path, file.Dark});
    }
    const auto read = [&](std::size_t i) {
        measure::RawResult raw = measure::ReadRaw(inputs[i].Name);
        return measure::LoadedFrame{raw.Ok, std::move(raw.Error), std::move(raw.Frame)};
    };
    const auto joined = [&](std::size_t i, const measure::LoadedFrame& loaded,
                            measure::FrameRole /*role*/) {
        if (!loaded.Ok) {
            out_ << inputs[i].Name << ": " << loaded.Error << '\n';
        }
    };
    measure::RunSeries(series, inputs, read, joined);
    const std::vector<measure::IsoFigures> figures = series.Figures();
    if (figures.empty()) {
        return false;
    }
    measure::WriteTable(out_, figures);
    bool written = true;
    const auto write = [&](const char* name, const std::function<void(std::ostream&)>& writeTo) {
        const fs::path path = plan_.Folder / name;
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        writeTo(file);
        file.flush();
        if (!file) {
            out_ << measure::Utf8Name(path) << ": cannot be written\n";
            written = false;
        }
    };
    write("sensor.csv", [&](std::ostream& o) { measure::WriteFiguresCsv(o, figures); });
    write("squares.csv", [&](std::ostream& o) { measure::WriteSquaresCsv(o, figures); });
    write("sensor.svg", [&](std::ostream& o) { measure::WritePlot(o, figures); });
    return written;
}

} // namespace pruvex::series
