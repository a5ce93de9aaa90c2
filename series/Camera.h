#pragma once

// The cameras a series can drive: one on USB through the gphoto2 program or
// through digiCamControl, or any camera whose own tethering program saves
// into a folder.

#include "series/Process.h"

#include "measure/RawFile.h"

#include <filesystem>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace pruvex::series {

class Camera {
  public:
    virtual ~Camera() = default;
    // The camera's choices, as its own texts.
    virtual std::vector<std::string> IsoChoices() = 0;
    virtual std::vector<std::string> ShutterChoices() = 0;
    // Makes sure the camera answers before anything is written (set to the
    // series' first ISO); throws Stop. Most cameras are checked when opened.
    virtual void Check(int /*iso*/) {}
    // The next shots are `count` frames at these settings.
    virtual void Prepare(int iso, const std::string& shutter, int count) = 0;
    // The last shot had other settings (`found`, as a line names them): the
    // settings once more, for one shot.
    virtual void Resend(int iso, const std::string& shutter, const std::string& found) = 0;
    // One shot, saved as `folder/name.EXT` (EXT the camera's own); the files
    // that landed (a camera saving raw and JPEG gives two). Throws Stop when
    // the camera fails.
    virtual std::vector<std::filesystem::path> Capture(const std::filesystem::path& folder,
                                                       const std::string& name) = 0;
    // A file that landed, read as raw; a camera that read it already to know
    // it whole gives that reading.
    virtual measure::RawResult Read(const std::filesystem::path& file);
};

// gphoto2's choices from `--get-config` output: its "Choice: N VALUE" lines.
std::vector<std::string> ConfigChoices(const std::string& output);

// gphoto2's errors that mean the camera is busy or away for a moment (I/O in
// progress, the USB device claimed by another program, PTP busy, none found),
// which are tried again.
bool BusyError(const std::string& output);

// Through the gphoto2 program; throws Stop when it or a camera is missing.
std::unique_ptr<Camera> OpenGphoto2(std::ostream& out);

// The new raw files in `dir`, announced on `out`; `answers` is watched for q.
std::unique_ptr<Camera> OpenFolder(const std::filesystem::path& dir, std::ostream& out,
                                   Answers& answers);

// Through digiCamControl's CameraControlCmd.exe: PATH, else where its
// installer puts it, else on PATH; throws Stop when there is none.
inline constexpr const char* DigiCamControlInstalled =
    "C:\\Program Files (x86)\\digiCamControl\\CameraControlCmd.exe";
std::unique_ptr<Camera> OpenDigiCamControl(const std::string& path, std::ostream& out);

} // namespace pruvex::series
