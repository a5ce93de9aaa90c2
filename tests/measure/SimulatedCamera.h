#pragma once

// A camera of the tests' own that photographs the grid mosaic on a monitor
// and writes what its sensor saw as a DNG file: the mosaic as the pattern
// engine draws it, the monitor's 2.2 response, the sensor channels' 3 x 3
// response to the monitor's primaries, vignetting, defocus, rotation and
// framing, the pixels' response non-uniformity, Poisson shot noise (its
// normal limit above 100 electrons), Gaussian read noise, a gain per ISO,
// 12 or 14 bits, clipping, any of the four Bayer patterns, a 6 x 6 X-Trans
// pattern or none (monochrome), masked borders, a linearisation table, hot
// and stuck pixels, and a backlight that flickers or puts moving bands into
// a rolling-shutter frame; the dark signal's and the response's fixed
// pattern across pixels, rows and columns, a response that falls short of
// linear near saturation, clipping below the file's white level, and a
// digital gain that multiplies the converter's numbers (codes go missing).

#include "pattern/LevelColour.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace pruvex::testing {

struct Sensor {
    int Width = 1500; // the visible area
    int Height = 1000;
    int Bits = 12;
    // Sites in reading order of a square pattern: 4 letters (Bayer, sites
    // (0,0), (1,0), (0,1), (1,1)), 36 (X-Trans, 6 x 6) or "Y" (no colour
    // filter: one sample per pixel, a linear raw DNG); "RGB" writes each
    // value as three samples, as an image already demosaiced.
    std::string Pattern = "RGGB";
    // Black level of each site of a 2 x 2 repeat pattern, from the visible
    // area's origin.
    std::array<double, 4> Black{256, 256, 256, 256};
    // Masked rows above and columns left of the visible area (the DNG's
    // ActiveArea starts there); with MaskedAreas the file names the masked
    // rows as such and writes no black level of its own (0).
    int MaskedTop = 0;
    int MaskedLeft = 0;
    bool MaskedAreas = false;
    // The level at which the sensor saturates; 0 for the container's top.
    double WhiteLevel = 0;
    // A linearisation table (code -> linear DN): the file stores codes.
    std::vector<std::uint16_t> Linearisation;
    // Pixels in a thousand that are hot (a third), stuck at the white level
    // (a third) or dead (a third), the same ones in every frame.
    double HotPerThousand = 0;
    double Prnu = 0.01;
    // The response's pattern across rows and across columns (relative
    // standard deviations), besides each pixel's (Prnu).
    double PrnuRow = 0;
    double PrnuColumn = 0;
    // The dark signal's fixed pattern, standard deviations in DN: each
    // pixel's, each row's and each column's offset.
    double DarkPixel = 0;
    double DarkRow = 0;
    double DarkColumn = 0;
    // The response falls short of linear by Droop (signal / range)^8 of the
    // signal, by Droop beyond the range.
    double Droop = 0;
    // The level the sensor really clips at (DN, black included), below the
    // file's white level; 0 for the white level.
    double TrueClip = 0;
    // Response of sensor channel R, G, B (rows) to the monitor's red, green
    // and blue light (columns).
    std::array<std::array<double, 3>, 3> Response{
        {{1.0, 0.12, 0.03}, {0.18, 1.0, 0.22}, {0.02, 0.15, 0.8}}};
    std::uint64_t Seed = 1; // of the pixels' response non-uniformity

    double White() const { return WhiteLevel > 0 ? WhiteLevel : (1 << Bits) - 1.0; }
    double Clip() const { return TrueClip > 0 ? TrueClip : White(); }
    // A signal above black (DN) as the sensor's response bends it.
    double Bent(double dn) const;
    int PatternSide() const { return Pattern.size() == 36 ? 6 : Pattern.size() == 4 ? 2 : 1; }
};

struct Scene {
    double MosaicWidth = 0.84; // the mosaic's width over the frame's
    double CentreX = 0.5;      // the mosaic's centre, as parts of the frame
    double CentreY = 0.5;
    double RotationDegrees = 0;
    double Vignetting = 0.2; // light lost in the frame's corners
    int BlurRadius = 3;      // defocus: a box of this radius, twice
};

struct Exposure {
    double Iso = 100;
    double Gain = 1;      // e-/DN
    double ReadNoise = 2; // DN
    // Electrons from the monitor's white in the frame's centre, in the
    // channel that responds to it most; 0 for the lens capped.
    double WhiteElectrons = 0;
    double Shutter = 1.0 / 250;
    std::uint64_t Seed = 1;
    // The backlight: its mean brightness against the nominal, and bands of
    // this relative amplitude and period in rows (a dimmer's pulse-width
    // modulation seen by a rolling shutter), starting at this phase (turns).
    double Flicker = 1;
    double BandAmplitude = 0;
    double BandPeriod = 40;
    double BandPhase = 0;
    // The converter's numbers (above black) multiplied by this, after it.
    int DigitalGain = 1;
    // ISO and time written in the file's EXIF (some cameras' files have none).
    bool Metadata = true;
};

// A real series: the same monitor and aperture at every ISO, so that the
// light (electrons of the monitor's white in the frame's centre at 1/250 s)
// stays and only the gain follows the ISO, and the exposure time scales it.
Exposure FixedExposure(double whiteElectronsAt250, double iso, double gain, double readNoise,
                       double shutter, std::uint64_t seed);

// The sensor's values, row by row.
std::vector<std::uint16_t> Shoot(const Sensor& sensor, const Scene& scene,
                                 const Exposure& exposure);

// The signal without noise at the centre of a square (0..76) in a channel
// (0 R, 1 G, 2 B; a monochrome sensor's one channel is 1), DN above black,
// before clipping.
double ExpectedSignal(const Sensor& sensor, const Scene& scene, const Exposure& exposure,
                      int square, int channel);

// A minimal DNG: one 16-bit CFA (or one-sample linear) image with its
// pattern, per-site black levels, white level, masked borders and
// linearisation table; ISO and exposure time in the EXIF sub-IFD, where
// cameras put them. The masked borders hold the black level and read noise.
void WriteDng(const std::filesystem::path& path, const Sensor& sensor,
              const std::vector<std::uint16_t>& values, const Exposure& exposure);

// A whole screen as it shows at a moment (any picture, a whole monitor of
// any size), row by row: the camera, framed on the mosaic as the pattern
// engine would draw it full screen there, photographs it.
struct MonitorPicture {
    int Width = 0;
    int Height = 0;
    std::vector<Colour> Pixels;
};
std::vector<std::uint16_t> ShootScreen(const Sensor& sensor, const Scene& scene,
                                       const Exposure& exposure, const MonitorPicture& screen);

// A flat field: the monitor all at one level filling the frame. The mean
// of a channel's signal over the frame (DN above black, bent and clipped as
// the sensor does, without noise) and the part of it that clips.
Scene FlatScene();
MonitorPicture FlatPicture(int level);
double ExpectedFlatMean(const Sensor& sensor, const Exposure& exposure, int level, int channel,
                        double& clippedPart);

} // namespace pruvex::testing
