#pragma once

// The series itself: brightness, the mosaic at every ISO with the
// exposures the measurement needs, the dark frames, and the figures.

#include "series/Camera.h"
#include "series/ManifestWriter.h"
#include "series/Process.h"
#include "series/Target.h"

#include "measure/CfaFrame.h"

#include <filesystem>
#include <ostream>
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
};

class SeriesRun {
  public:
    SeriesRun(SeriesPlan plan, Camera& camera, Target& target, ManifestWriter& manifest,
              Answers& answers, std::ostream& out);

    // Every step up to the dark frames; throws Stop.
    void Shoot();
    // The figures from the manifest: the table on `out`, sensor.csv,
    // squares.csv and sensor.svg in FOLDER; false when nothing could be
    // measured or written.
    bool Measure();

    double CameraSeconds() const { return cameraSeconds_; }
    int Shots() const { return shots_; }

  private:
    struct Shot {
        std::filesystem::path File;
        measure::CfaFrame Frame;
    };
    void BrightnessStep();
    void GridStep();
    void DarkStep();
    Shot TakeShot(const std::string& kind, int iso, const std::string& shutter, char letter);
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
    std::vector<std::pair<int, std::string>> used_; // ISO and time of the mosaic's frames
    double cameraSeconds_ = 0;
    int shots_ = 0;
};

} // namespace pruvex::series
