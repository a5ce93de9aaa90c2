#pragma once

// The series itself: brightness, the flat frames, the mosaic at every ISO with the
// exposures the measurement needs, the dark frames, and the figures.

#include "series/Camera.h"
#include "series/ManifestWriter.h"
#include "series/Process.h"
#include "series/Target.h"

#include "measure/CfaFrame.h"

#include <deque>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace pruvex::series {

// Squares of each channel below clipping that an ISO needs.
inline constexpr int LeastUnclipped = 20;

struct SeriesPlan {
    std::filesystem::path Folder;
    std::vector<int> Isos;
    std::vector<std::string> Shutters; // the camera's choices
    bool Brightness = true;
    // A resumed series: the shots kept from before, not taken again.
    std::vector<measure::ManifestRow> Kept;
};

// Where a series' wall time went, in seconds; the rest is the program's own.
struct Costs {
    double Camera = 0;  // the camera's calls (the folder camera: waiting for files)
    double Target = 0;  // the target's replies
    double Prompts = 0; // waiting for the user
};

class SeriesRun {
  public:
    SeriesRun(SeriesPlan plan, Camera& camera, Target& target, ManifestWriter& manifest,
              Answers& answers, std::ostream& out);

    // Every step up to the dark frames; throws Stop.
    void Shoot();
    // The figures from the manifest: the table on `out`, sensor.csv,
    // squares.csv, sensor.svg and report.html in FOLDER; false when nothing could be
    // measured or written.
    bool Measure();

    const Costs& Spent() const { return costs_; }
    Costs& Spent() { return costs_; }
    int Shots() const { return shots_; }

  private:
    struct Shot {
        std::filesystem::path File;
        measure::CfaFrame Frame;
    };
    void BrightnessStep();
    bool KeptBrightness(int iso, const std::string& shutter);
    std::string ReportFullness(const measure::CfaFrame& frame);
    void FlatStep();
    void GridStep();
    void DarkStep();
    // The camera set for `count` shots, unless they are all kept.
    void Set(const std::string& kind, int iso, const std::string& shutter, int count);
    Shot TakeShot(const std::string& kind, int iso, const std::string& shutter, char letter);
    // A kept shot of this kind, ISO and time, in the order shot; the shot
    // is then in the manifest already.
    std::optional<Shot> TakeKept(const std::string& kind, int iso, const std::string& shutter);
    // The raw file among those the camera saved, verified against what was
    // asked; nothing when its settings differ (it is then moved aside).
    std::optional<Shot> Verified(const std::vector<std::filesystem::path>& files, int iso,
                                 const std::string& shutter);
    bool IsKept(const std::filesystem::path& file) const;
    void Record(const Shot& shot, const std::string& kind, int iso, const std::string& shutter,
                int level, const std::string& shotAt);
    std::string Prompt(const std::string& text);
    void CheckInterrupted() const;

    SeriesPlan plan_;
    Camera& camera_;
    Target& target_;
    ManifestWriter& manifest_;
    Answers& answers_;
    std::ostream& out_;
    std::string lastShotAt_;
    int gridLevel_ = 0;
    // The brightness step's time, its next letter and its last frame's
    // fullest channel (% of the raw range): where the flat frames start.
    std::string brightnessShutter_;
    double brightnessFullest_ = 0;
    std::vector<std::pair<int, std::string>> used_; // ISO and time of the mosaic's frames
    Costs costs_;
    int shots_ = 0;
    std::map<std::string, std::deque<measure::ManifestRow>> kept_; // by kind, ISO and time
    std::set<std::string> keptFiles_;
    std::string found_; // the settings of the last file that differed
    std::string cause_; // and their likely cause
    bool saidMissing_ = false;
};

} // namespace pruvex::series
