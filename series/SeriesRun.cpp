#include "series/SeriesRun.h"

#include "series/Choices.h"
#include "series/Files.h"
#include "series/FrameCheck.h"
#include "series/Stop.h"

#include "measure/FileNames.h"
#include "measure/Measurement.h"
#include "measure/RawFile.h"
#include "measure/Report.h"

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
// The flat frames: from where the fullest channel holds this much of the raw
// range (%) up to where more than this share of every channel's pixels
// clips, at most this many times.
constexpr double FlatStartPercent = 2;
constexpr double FlatClipped = 0.002;
constexpr std::size_t FlatTimes = 20;

// The brightness step's frames: not flat frames, since the monitor's
// brightness may change between them.
constexpr const char* BrightnessKind = "brightness";

std::string Percent(double value) {
    char text[16];
    std::snprintf(text, sizeof text, "%.0f %%", value);
    return text;
}

double Seconds(const std::string& shutter) {
    return ParseShutter(shutter).value_or(0);
}

double Since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Kept shots are looked up by kind, ISO and time as the manifest gives them.
std::string KeptKey(const std::string& kind, double iso, double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%s %.0f %.4g", kind.c_str(), iso, seconds);
    return text;
}

// What likely made the camera shoot other settings than those asked.
std::string LikelyCause(int iso, double fileIso) {
    if (std::llround(fileIso) != iso) {
        return "turn auto ISO off and set the mode dial to M";
    }
    return "set the mode dial to M: the camera chose its own exposure time";
}

} // namespace

SeriesRun::SeriesRun(SeriesPlan plan, Camera& camera, Target& target, ManifestWriter& manifest,
                     Answers& answers, std::ostream& out)
    : plan_(std::move(plan)), camera_(camera), target_(target), manifest_(manifest),
      answers_(answers), out_(out) {
    for (const measure::ManifestRow& row : plan_.Kept) {
        kept_[KeptKey(row.Kind, row.Iso, row.Exposure)].push_back(row);
        keptFiles_.insert(row.File);
    }
}

void SeriesRun::CheckInterrupted() const {
    if (Interrupted()) {
        throw Stop{ExitInterrupted, "interrupted"};
    }
}

std::string SeriesRun::Prompt(const std::string& text) {
    target_.Window();
    out_ << text << std::flush;
    const auto start = std::chrono::steady_clock::now();
    const std::optional<std::string> answer = answers_.Next();
    costs_.Prompts += Since(start);
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

void SeriesRun::Set(const std::string& kind, int iso, const std::string& shutter, int count) {
    const auto kept = kept_.find(KeptKey(kind, iso, Seconds(shutter)));
    if (kept != kept_.end() && kept->second.size() >= static_cast<std::size_t>(count)) {
        return; // every one of them kept
    }
    const auto start = std::chrono::steady_clock::now();
    camera_.Prepare(iso, shutter, count);
    costs_.Camera += Since(start);
}

std::optional<SeriesRun::Shot> SeriesRun::TakeKept(const std::string& kind, int iso,
                                                   const std::string& shutter) {
    const auto kept = kept_.find(KeptKey(kind, iso, Seconds(shutter)));
    if (kept == kept_.end() || kept->second.empty()) {
        return std::nullopt;
    }
    const measure::ManifestRow row = kept->second.front();
    kept->second.pop_front();
    const fs::path file = plan_.Folder / measure::FileName(row.File);
    measure::RawResult raw = measure::ReadRaw(measure::Utf8Name(file));
    if (!raw.Ok) {
        throw Stop{ExitStopped, measure::Utf8Name(file) + ": " + raw.Error};
    }
    out_ << "  " << row.File << " (kept)\n";
    return Shot{file, std::move(raw.Frame)};
}

std::optional<SeriesRun::Shot> SeriesRun::Verified(const std::vector<fs::path>& files, int iso,
                                                   const std::string& shutter) {
    std::string reasons;
    for (const fs::path& file : files) {
        measure::RawResult raw = camera_.Read(file);
        if (!raw.Ok) {
            reasons += (reasons.empty() ? "" : "; ") + measure::Utf8Name(file.filename()) + ": " +
                       raw.Error;
            continue;
        }
        const double seconds = Seconds(shutter);
        switch (measure::CompareSettings(raw.Frame, iso, seconds)) {
        case measure::Settings::Agree:
            return Shot{file, std::move(raw.Frame)};
        case measure::Settings::Missing:
            if (!saidMissing_) {
                out_ << measure::Utf8Name(file.filename())
                     << ": the file gives no ISO or exposure time: its shots are taken as shot at "
                        "the settings asked\n";
                saidMissing_ = true;
            }
            raw.Frame.Iso = iso;
            raw.Frame.Shutter = seconds;
            return Shot{file, std::move(raw.Frame)};
        case measure::Settings::Differ:
            break;
        }
        found_ = measure::SettingsText(raw.Frame.Iso, raw.Frame.Shutter);
        cause_ = LikelyCause(iso, raw.Frame.Iso);
        for (const fs::path& landed : files) {
            const fs::path moved = MoveInto(landed, plan_.Folder / "rejected");
            out_ << measure::Utf8Name(landed.filename()) << ": shot at " << found_ << " where "
                 << measure::SettingsText(iso, seconds) << " was asked ("
                 << (moved.empty() ? "left in place" : "moved to rejected/") << "): " << cause_
                 << '\n';
        }
        return std::nullopt;
    }
    throw Stop{ExitSetup, "the camera saved no raw file (" + reasons +
                              "): set it to save raw files, not JPEG only"};
}

SeriesRun::Shot SeriesRun::TakeShot(const std::string& kind, int iso, const std::string& shutter,
                                    char letter) {
    if (std::optional<Shot> kept = TakeKept(kind, iso, shutter)) {
        return std::move(*kept);
    }
    target_.FullScreen();
    CheckInterrupted();
    const auto nameOf = [&](char l) {
        return kind + "-iso" + std::to_string(iso) + "-" + ShutterName(Seconds(shutter)) + "-" + l;
    };
    // A kept shot's name is never taken again.
    std::string name = nameOf(letter);
    while (letter < 'z' && std::any_of(keptFiles_.begin(), keptFiles_.end(), [&](const auto& f) {
               return measure::Utf8Name(fs::path(f).stem()) == name;
           })) {
        name = nameOf(++letter);
    }
    for (int attempt = 0;; ++attempt) {
        lastShotAt_ = UtcNow();
        const auto start = std::chrono::steady_clock::now();
        const std::vector<fs::path> files = camera_.Capture(plan_.Folder, name);
        costs_.Camera += Since(start);
        ++shots_;
        if (std::optional<Shot> shot = Verified(files, iso, shutter)) {
            return std::move(*shot);
        }
        const std::string asked = measure::SettingsText(iso, Seconds(shutter));
        if (attempt > 0) {
            throw Stop{ExitStopped, "the camera shot " + found_ + " where " + asked +
                                        " was asked, twice: " + cause_};
        }
        const auto again = std::chrono::steady_clock::now();
        camera_.Resend(iso, shutter, found_);
        costs_.Camera += Since(again);
    }
}

bool SeriesRun::IsKept(const fs::path& file) const {
    return keptFiles_.contains(measure::Utf8Name(fs::relative(file, plan_.Folder)));
}

void SeriesRun::Record(const Shot& shot, const std::string& kind, int iso,
                       const std::string& shutter, int level, const std::string& shotAt) {
    if (IsKept(shot.File)) {
        return; // in the manifest from before
    }
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
         << measure::ShutterText(Seconds(shutter)) << std::endl;
    brightnessShutter_ = shutter;
    if (KeptBrightness(iso, shutter)) {
        return;
    }
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        Set(BrightnessKind, iso, shutter, 1);
        const Shot shot = TakeShot(BrightnessKind, iso, shutter, letter);
        Record(shot, BrightnessKind, iso, shutter, FlatLevel, lastShotAt_);
        CheckInterrupted();
        const std::string verdict = ReportFullness(shot.Frame);
        out_ << verdict << '\n';
        const std::string answer = Prompt("Turn the monitor's brightness if need be, then r to "
                                          "shoot again, Enter to go on, q to stop: ");
        if (answer != "r") {
            return;
        }
    }
}

// A brightness gone on from once a later step has begun: its last frame
// (the one taken) stands, without asking again. Before that, the frames
// kept are not looked at: the step begins again.
bool SeriesRun::KeptBrightness(int iso, const std::string& shutter) {
    const auto kept = kept_.find(KeptKey(BrightnessKind, iso, Seconds(shutter)));
    if (kept == kept_.end() || kept->second.empty()) {
        return false;
    }
    const bool later = std::any_of(plan_.Kept.begin(), plan_.Kept.end(),
                                   [](const auto& row) { return row.Kind != BrightnessKind; });
    if (!later) {
        kept_.erase(kept);
        return false;
    }
    while (kept->second.size() > 1) {
        kept->second.pop_front();
    }
    const std::optional<Shot> shot = TakeKept(BrightnessKind, iso, shutter);
    out_ << ReportFullness(shot->Frame) << '\n';
    return true;
}

// How full each channel is, and what to do about it.
std::string SeriesRun::ReportFullness(const measure::CfaFrame& frame) {
    const Fullness full = MeasureFullness(frame);
    const double most = *std::max_element(full.Percent.begin(), full.Percent.end());
    brightnessFullest_ = most;
    std::string verdict = "a proper exposure";
    if (full.ClippedShare > 0.001 || most > 90) {
        verdict = "too bright: turn the monitor's brightness down";
    } else if (most < 50) {
        verdict = "too dark: turn the monitor's brightness up";
    }
    std::string text = "Full: R ";
    text += Percent(full.Percent[0]);
    text += ", G ";
    text += Percent(full.Percent[1]);
    text += ", B ";
    text += Percent(full.Percent[2]);
    text += " of the raw range: ";
    return text + verdict;
}

void SeriesRun::FlatStep() {
    const int iso = plan_.Isos.front();
    const double from = brightnessFullest_ > 0
                            ? Seconds(brightnessShutter_) * FlatStartPercent / brightnessFullest_
                            : 0;
    out_ << "Flat frames: the flat field at level " << FlatLevel << ", ISO " << iso
         << ", two at each time up to where every channel clips" << std::endl;
    for (const std::string& shutter : LongerShutters(plan_.Shutters, from, FlatTimes)) {
        camera_.Prepare(iso, shutter, 2);
        char letter = 'a';
        Fullness full;
        for (int i = 0; i < 2; ++i) {
            const Shot shot = TakeShot("flat", iso, shutter, letter++);
            Record(shot, "flat", iso, shutter, FlatLevel, lastShotAt_);
            CheckInterrupted();
            full = MeasureFullness(shot.Frame);
        }
        bool clipped = true;
        out_ << measure::ShutterText(Seconds(shutter)) << ": full";
        for (int ch = 0; ch < full.Channels; ++ch) {
            const auto c = static_cast<std::size_t>(ch);
            out_ << (ch > 0 ? ", " : " ") << measure::ChannelName(ch, full.Channels == 1) << ' '
                 << Percent(full.Percent[c]);
            clipped = clipped && full.ChannelClipped[c] > FlatClipped;
        }
        out_ << (clipped ? "; every channel clips\n" : "\n") << std::flush;
        if (clipped) {
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
            Set("grid", iso, shutter, 2);
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
                         << ": no mosaic found: frame it as the measuring guide says (the whole "
                            "mosaic, "
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
                out_ << "ISO " << iso << ", " << measure::ShutterText(Seconds(shutter)) << ':';
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
                 << measure::ShutterText(Seconds(*shorter)) << '\n';
            shutter = *shorter;
            next = 'a';
        }
    }
}

void SeriesRun::DarkStep() {
    std::size_t darksKept = 0;
    for (const auto& [iso, shutter] : used_) {
        const auto kept = kept_.find(KeptKey("dark", iso, Seconds(shutter)));
        darksKept += kept == kept_.end() ? 0 : std::min<std::size_t>(kept->second.size(), 2);
    }
    if (darksKept < 2 * used_.size()) {
        Prompt("Dark frames: cap the lens, then Enter to go on, q to stop: ");
    }
    for (const auto& [iso, shutter] : used_) {
        Set("dark", iso, shutter, 2);
        for (char letter = 'a'; letter <= 'b';) {
            const Shot shot = TakeShot("dark", iso, shutter, letter);
            if (!IsDark(shot.Frame)) {
                out_ << measure::Utf8Name(shot.File.filename())
                     << ": not dark: the lens is not capped (or light comes in)\n";
                Prompt("Cap the lens, then Enter to go on, q to stop: ");
                Set("dark", iso, shutter, 'b' - letter + 1);
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
        FlatStep();
    }
    GridStep();
    DarkStep();
}

bool SeriesRun::Measure() {
    measure::MeasureEvents events;
    events.Problem = [this](const std::string& path, const std::string& problem) {
        out_ << path << ": " << problem << '\n';
    };
    const measure::Measurement measurement = measure::MeasureFiles(
        measure::MeasuredFiles(manifest_.Path(), manifest_.Rows()), 0, events);
    if (measurement.Figures.empty()) {
        return false;
    }
    measure::WriteSummary(out_, measurement);
    const auto in = [this](const char* name) { return measure::Utf8Name(plan_.Folder / name); };
    return measure::WriteOutputs(
        measurement,
        {in("sensor.csv"), in("squares.csv"), in("sensor.svg"), std::nullopt, in("report.html")},
        [this](const std::string& line) { out_ << line << '\n'; });
}

} // namespace pruvex::series
