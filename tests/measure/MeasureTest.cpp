// pruvex-measure against the simulated camera: the program, run on the DNG
// files the camera writes, must give back the sensor the camera was given.
// With PRUVEX_MEASURE_WINDOWS set to a command that runs the Windows program
// (under Wine), the same tests run against it, the files named as Windows
// names on drive Z: and the frames of a series given by wildcards.

#include "SimulatedCamera.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using pruvex::testing::Exposure;
using pruvex::testing::Scene;
using pruvex::testing::Sensor;
namespace fs = std::filesystem;

const char* const WindowsProgram = std::getenv("PRUVEX_MEASURE_WINDOWS");

// A new folder whose name has spaces and letters beyond Latin-1, as users'
// folders have.
class Folder {
  public:
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "pruvex-measure-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        path_ = pattern;
        fs::create_directory(path_ / Name);
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::string operator/(const std::string& name) const { return (path_ / Name / name).string(); }
    // A file in it, the folder named by wildcards.
    std::string Wildcard(const std::string& name) const {
        return (path_ / "ISO * J?rgen *" / name).string();
    }

  private:
    static constexpr const char* Name = "ISO 400 J\u00fcrgen \u5199\u771f";
    fs::path path_;
};

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Result {
    int Status = -1;
    std::string Out;
    std::string Err;
};

// A file name as the program takes it: on Windows, drive Z: is the root.
std::string ProgramName(const std::string& path) {
    if (WindowsProgram == nullptr || !path.starts_with('/')) {
        return path;
    }
    std::string name = "Z:" + path;
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

// The text as the program wrote it, Windows line ends made "\n".
std::string ReadOutput(const std::string& path) {
    std::string text = ReadText(path);
    std::erase(text, '\r');
    return text;
}

Result Measure(const Folder& folder, const std::vector<std::string>& args) {
    std::string command = WindowsProgram != nullptr ? WindowsProgram : "'" PRUVEX_MEASURE "'";
    for (const std::string& arg : args) {
        command += " '" + ProgramName(arg) + "'";
    }
    command += " >'" + folder / "stdout" + "' 2>'" + folder / "stderr" + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadOutput(folder / "stdout"),
            ReadOutput(folder / "stderr")};
}

using Row = std::map<std::string, std::string>;

std::vector<Row> ReadCsv(const std::string& path) {
    std::istringstream in(ReadText(path));
    std::string line;
    std::vector<std::string> header;
    std::vector<Row> rows;
    while (std::getline(in, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');) {
            fields.push_back(cell);
        }
        if (line.back() == ',') {
            fields.emplace_back();
        }
        if (header.empty()) {
            header = fields;
            continue;
        }
        Row row;
        for (std::size_t i = 0; i < header.size() && i < fields.size(); ++i) {
            row[header[i]] = fields[i];
        }
        rows.push_back(row);
    }
    return rows;
}

double Number(const Row& row, const std::string& column) {
    const std::string& text = row.at(column);
    return text.empty() ? std::nan("") : std::stod(text);
}

// One ISO of a series: its gain, read noise and how far up the range the
// monitor's white would reach.
struct Setting {
    double Iso = 100;
    double Gain = 1;
    double ReadNoise = 2;
    double WhiteFill = 1.2;
    // Two frames of the mosaic at each of these exposure times.
    std::vector<double> Shutters{1.0 / 250};
    int DigitalGain = 1; // the numbers multiplied by this after the converter
    // Or more pairs at each, as a photographer shoots when unsure.
    int Pairs = 1;
};

struct Camera {
    const char* Name = "";
    Sensor TheSensor;
    Scene TheScene;
    std::vector<Setting> Settings;
    std::uint64_t Seed = 1;
    const char* Plot = nullptr; // the measuring guide's plot, in docs/, made from this series
    // A real series: the monitor's white gives this many times the range of
    // the lowest ISO at 1/250 s, at every ISO (WhiteFill is not used).
    double FixedLight = 0;
    // The backlight: the two frames of a pair this far apart in mean, and
    // bands across the rows of this amplitude, moving from frame to frame.
    double Flicker = 0;
    double Bands = 0;
    // Measured again on one thread: the same files, byte for byte.
    bool OneThreadToo = false;
    // The ISO from which the sensor has its high conversion gain; 0 none.
    double SwitchIso = 0;
    // Two flat frames (level 212) at each of these times at the lowest
    // ISO, the monitor's white giving FlatLight times its range at 1/250 s.
    std::vector<double> FlatShutters{};
    double FlatLight = 0;
};

double Range(const Sensor& sensor) {
    double black = 0;
    for (const double b : sensor.Black) {
        black = std::max(black, b);
    }
    return sensor.Clip() - black;
}

Exposure ExposureOf(const Camera& camera, const Setting& s, std::uint64_t shot, bool dark,
                    double shutter = 1.0 / 250) {
    const Sensor& sensor = camera.TheSensor;
    if (camera.FixedLight > 0) {
        const Setting& lowest = camera.Settings.front();
        Exposure e = pruvex::testing::FixedExposure(
            dark ? 0 : camera.FixedLight * Range(sensor) * lowest.Gain, s.Iso, s.Gain, s.ReadNoise,
            shutter, camera.Seed * 1000 + shot);
        e.Flicker = shot == 0 ? 1 : 1 + (shot % 2 == 0 ? 0.5 : -0.5) * camera.Flicker;
        e.BandAmplitude = camera.Bands;
        e.BandPhase = 0.37 * static_cast<double>(shot);
        e.DigitalGain = s.DigitalGain;
        return e;
    }
    const double black = sensor.White() - Range(sensor);
    Exposure e;
    e.Iso = s.Iso;
    e.Gain = s.Gain;
    e.ReadNoise = s.ReadNoise;
    e.WhiteElectrons = dark ? 0 : s.WhiteFill * (sensor.White() - black) * s.Gain;
    e.Seed = camera.Seed * 1000 + shot;
    e.DigitalGain = s.DigitalGain;
    return e;
}

Exposure FlatExposure(const Camera& camera, double shutter, std::uint64_t shot) {
    const Setting& s = camera.Settings.front();
    Exposure e = pruvex::testing::FixedExposure(camera.FlatLight * Range(camera.TheSensor) * s.Gain,
                                                s.Iso, s.Gain, s.ReadNoise, shutter, shot);
    e.DigitalGain = s.DigitalGain;
    return e;
}

// The linearity error of the sensor's own response at the flat frames'
// times, as the measurement defines it (without noise).
double TrueLinearityError(const Camera& camera, int channel) {
    std::vector<std::array<double, 3>> points; // time, mean, clipped part
    double saturation = 0;
    for (const double t : camera.FlatShutters) {
        double clipped = 0;
        const double mean =
            ExpectedFlatMean(camera.TheSensor, FlatExposure(camera, t, 0), 212, channel, clipped);
        points.push_back({t, mean, clipped});
        saturation = clipped <= 0.002 ? mean : saturation;
    }
    std::array<double, 5> sums{}; // of w, w t, w y, w t^2, w t y
    std::vector<std::array<double, 3>> used;
    for (const auto& [t, y, clipped] : points) {
        if (y >= 0.05 * saturation && y <= 0.95 * saturation && clipped <= 0.002) {
            const double w = 1 / (y * y);
            const std::array<double, 5> terms{w, w * t, w * y, w * t * t, w * t * y};
            for (std::size_t i = 0; i < sums.size(); ++i) {
                sums[i] += terms[i];
            }
            used.push_back({t, y, 0});
        }
    }
    const auto [sw, sx, sy, sxx, sxy] = sums;
    const double slope = (sw * sxy - sx * sy) / (sw * sxx - sx * sx);
    const double intercept = (sy - slope * sx) / sw;
    double deviation = 0;
    for (const auto& [t, y, unused] : used) {
        deviation += std::abs(y - intercept - slope * t) / (intercept + slope * t);
    }
    return 100 * deviation / static_cast<double>(used.size());
}

// The parts (rows, columns, pixels) of a datasheet line's channel, as
// "G 2.1 (0.6/0.8/1.9)" names them, with the whole first.
std::array<double, 4> Parts(const std::string& out, const std::string& line, const char* channel) {
    const std::size_t at = out.find(line);
    const std::size_t c = out.find(std::string(" ") + channel + " ", at);
    std::array<double, 4> parts{};
    if (at == std::string::npos || c == std::string::npos) {
        return parts;
    }
    std::sscanf(out.c_str() + c + 3, "%lf (%lf/%lf/%lf)", &parts[0], &parts[1], &parts[2],
                &parts[3]);
    return parts;
}

// Two frames of the mosaic at each exposure time, the times in turn, and
// two dark frames per ISO; the arguments that measure them (on Windows, two
// wildcards the program expands).
std::vector<std::string> ShootSeries(const Camera& camera, const Folder& folder) {
    std::vector<std::string> args;
    std::uint64_t shot = 0;
    for (const Setting& s : camera.Settings) {
        const int grids = 2 * s.Pairs * static_cast<int>(s.Shutters.size());
        for (int i = 0; i < grids + 2; ++i) {
            const bool dark = i >= grids;
            // The exposure times taken in turn: only the metadata tell the
            // frames of a pair.
            const double shutter =
                dark ? 1.0 / 250 : s.Shutters[static_cast<std::size_t>(i) % s.Shutters.size()];
            const Exposure e = ExposureOf(camera, s, ++shot, dark, shutter);
            const std::string path =
                folder / ("iso" + std::to_string(static_cast<int>(s.Iso)) +
                          (dark ? "-dark" : "-grid") + std::to_string(i) + ".dng");
            WriteDng(path, camera.TheSensor, Shoot(camera.TheSensor, camera.TheScene, e), e);
            if (dark) {
                args.emplace_back("--dark");
            }
            args.push_back(path);
        }
    }
    const pruvex::testing::MonitorPicture flat = pruvex::testing::FlatPicture(212);
    for (std::size_t i = 0; i < 2 * camera.FlatShutters.size(); ++i) {
        const Exposure e = FlatExposure(camera, camera.FlatShutters[i / 2], ++shot);
        const std::string path = folder / ("flat" + std::to_string(100 + i) + ".dng");
        WriteDng(path, camera.TheSensor,
                 ShootScreen(camera.TheSensor, pruvex::testing::FlatScene(), e, flat), e);
        args.insert(args.end(), {"--flat", path});
    }
    if (WindowsProgram != nullptr) {
        std::vector<std::string> wild{folder.Wildcard("iso*-grid?.dng"), "--dark",
                                      folder / "ISO*-DARK?.dng"};
        if (!camera.FlatShutters.empty()) {
            wild.insert(wild.end(), {"--flat", folder.Wildcard("flat1*.dng")});
        }
        return wild;
    }
    return args;
}

Sensor MakeSensor(int bits, const char* pattern, std::array<double, 4> black, std::uint64_t seed) {
    Sensor s;
    s.Bits = bits;
    s.Pattern = pattern;
    s.Black = black;
    s.Seed = seed;
    return s;
}

Scene MakeScene(double mosaicWidth, double x, double y, double degrees) {
    Scene s;
    s.MosaicWidth = mosaicWidth;
    s.CentreX = x;
    s.CentreY = y;
    s.RotationDegrees = degrees;
    return s;
}

// The four Bayer patterns, 12 and 14 bits, the mosaic on a white margin and
// filling the frame with its outer squares cut, turned up to 2 degrees
// either way.
const Camera Cameras[] = {
    {"Rggb12BitOnMargin",
     MakeSensor(12, "RGGB", {256, 258, 255, 256}, 11),
     MakeScene(0.84, 0.5, 0.5, 1.5),
     {{100, 4.0, 2.2, 1.3}, {400, 1.0, 3.0, 1.25}, {1600, 0.25, 6.5, 1.25}},
     1,
     "photon-transfer.svg"},
    {"Bggr14BitFilled",
     MakeSensor(14, "BGGR", {1024, 1024, 1024, 1024}, 12),
     MakeScene(1.12, 0.5, 0.5, -2.0),
     {{200, 2.5, 3.5, 1.4}, {1600, 0.32, 6.0, 1.3}},
     2},
    {"Grbg12BitOffCentre",
     MakeSensor(12, "GRBG", {128, 130, 126, 128}, 13),
     MakeScene(0.82, 0.47, 0.53, 0.7),
     {{800, 0.5, 4.0, 1.35}},
     3},
    {"Gbrg14BitFilled",
     MakeSensor(14, "GBRG", {512, 510, 514, 512}, 14),
     MakeScene(1.06, 0.51, 0.49, -1.0),
     {{100, 5.0, 2.5, 1.3}},
     4},
};

// Real series, one exposure at every ISO: at 8 x the lowest ISO most of
// the mosaic and all around it clipped; at 16 x again at a shorter time.
// Bayer on a margin and filling the frame, X-Trans and monochrome; odd
// crops, black patterns per site, black from masked pixels, a white level
// below the container, a linearisation table, hot pixels, a flickering
// backlight and moving bands.
Camera FixedSeries(const char* name, Sensor sensor, Scene scene, std::vector<Setting> settings,
                   std::uint64_t seed) {
    Camera camera{name, std::move(sensor), scene, std::move(settings), seed};
    camera.FixedLight = 1.4;
    return camera;
}

Sensor Small(Sensor sensor) {
    sensor.Width = 1200;
    sensor.Height = 800;
    return sensor;
}

const std::string XTrans = "GGRGGBGGBGGRBRGRBGGGBGGRGGRGGBRBGBRG";

std::vector<std::uint16_t> KneeTable() {
    // 12-bit codes: linear up to 2048, then two DN a code.
    std::vector<std::uint16_t> table(4096);
    for (std::size_t code = 0; code < table.size(); ++code) {
        table[code] = static_cast<std::uint16_t>(code < 2048 ? code : 2048 + 2 * (code - 2048));
    }
    return table;
}

const Camera FixedCameras[] = {
    FixedSeries("RealSeriesRggbOnMargin", MakeSensor(12, "RGGB", {256, 258, 255, 256}, 31),
                MakeScene(0.84, 0.5, 0.5, 1.5),
                {{100, 4.0, 2.2}, {800, 0.5, 4.0}, {1600, 0.25, 6.0, 0, {1.0 / 250, 1.0 / 1000}}},
                31),
    FixedSeries("RealSeriesBggrFilled", MakeSensor(14, "BGGR", {1024, 1024, 1024, 1024}, 32),
                MakeScene(1.12, 0.5, 0.5, -2.0),
                {{200, 2.5, 3.5}, {1600, 0.32, 6.0}, {3200, 0.16, 9.0, 0, {1.0 / 250, 1.0 / 1000}}},
                32),
    [] {
        Sensor sensor = Small(MakeSensor(14, XTrans.c_str(), {512, 516, 508, 512}, 33));
        sensor.MaskedTop = 3;
        sensor.MaskedLeft = 1;
        return FixedSeries("RealSeriesXTransOddCrop", sensor, MakeScene(0.86, 0.5, 0.5, 1.0),
                           {{200, 2.0, 3.0}, {3200, 0.125, 8.0, 0, {1.0 / 250, 1.0 / 1000}, 2}},
                           33);
    }(),
    // Filling the frame as far as the guide allows: a quarter of the outer
    // columns left, turned by 2 degrees; two pairs at one ISO.
    FixedSeries("RealSeriesRggbFilledToTheLimit",
                Small(MakeSensor(14, "RGGB", {512, 512, 512, 512}, 5)),
                MakeScene(1.155, 0.5, 0.5, -2.0),
                {{100, 4.0, 2.2}, {800, 0.5, 5.0, 0, {1.0 / 250}, 2}, {1600, 0.25, 5.0}}, 5),
    FixedSeries("RealSeriesXTransFilledToTheLimit",
                Small(MakeSensor(14, XTrans.c_str(), {512, 512, 512, 512}, 5)),
                MakeScene(1.155, 0.5, 0.5, -2.0),
                {{100, 4.0, 2.2}, {800, 0.5, 5.0}, {1600, 0.25, 5.0, 0, {1.0 / 250}, 2}}, 5),
    [] {
        Sensor sensor = Small(MakeSensor(12, "Y", {240, 240, 240, 240}, 34));
        return FixedSeries("RealSeriesMonochromeFilled", sensor, MakeScene(1.1, 0.5, 0.5, -1.2),
                           {{100, 3.0, 2.5}, {1600, 0.1875, 6.0, 0, {1.0 / 250, 1.0 / 1000}}}, 34);
    }(),
    [] {
        // The black pattern from the active area's origin, an odd one.
        Sensor sensor = Small(MakeSensor(12, "GRBG", {128, 140, 120, 132}, 35));
        sensor.MaskedTop = 3;
        sensor.MaskedLeft = 5;
        return FixedSeries("OddCropBlackPerSite", sensor, MakeScene(0.84, 0.5, 0.5, 0.8),
                           {{400, 1.0, 3.0}, {3200, 0.125, 8.0, 0, {1.0 / 250, 1.0 / 1000}}}, 35);
    }(),
    [] {
        Sensor sensor = Small(MakeSensor(14, "RGGB", {600, 600, 600, 600}, 36));
        sensor.WhiteLevel = 6000;
        sensor.Linearisation = KneeTable();
        return FixedSeries("LinearisedWhiteBelowContainer", sensor, MakeScene(0.9, 0.5, 0.5, 0.4),
                           {{100, 1.5, 2.0}, {800, 0.1875, 4.0}}, 36);
    }(),
    [] {
        Sensor sensor = Small(MakeSensor(12, "GBRG", {200, 200, 200, 200}, 37));
        sensor.MaskedTop = 8;
        sensor.MaskedAreas = true;
        sensor.HotPerThousand = 3;
        Camera camera =
            FixedSeries("MaskedBlackHotPixelsFlickerBands", sensor, MakeScene(0.86, 0.5, 0.5, -0.6),
                        {{200, 2.0, 3.0}, {1600, 0.25, 5.0}}, 37);
        camera.Flicker = 0.05;
        camera.Bands = 0.02;
        camera.OneThreadToo = true;
        return camera;
    }(),
};

// The JSON file holds the CSV's rows, each cell under its column's name
// (null for an empty cell), the uniformity's parts beside them, and the
// camera as the raw files name it.
void ExpectJsonAsCsv(const Folder& folder) {
    const nlohmann::json file = nlohmann::json::parse(ReadText(folder / "figures.json"));
    EXPECT_EQ(file.at("camera").at("make"), "Pruvex");
    EXPECT_EQ(file.at("camera").at("model"), "Simulated camera");
    EXPECT_FALSE(file.at("libraw").get<std::string>().empty());
    const std::vector<Row> csv = ReadCsv(folder / "figures.csv");
    ASSERT_EQ(file.at("rows").size(), csv.size());
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const nlohmann::json& row = file.at("rows").at(i);
        EXPECT_EQ(row.size(), csv[i].size() + 6);
        EXPECT_TRUE(row.contains("dsnu_row_e") && row.contains("prnu_pixel_pct"));
        for (const auto& [name, text] : csv[i]) {
            const nlohmann::json& cell = row.at(name);
            if (cell.is_number()) {
                EXPECT_NEAR(cell.get<double>(), std::stod(text), 1e-5 * std::abs(std::stod(text)))
                    << name;
            } else {
                EXPECT_EQ(cell.is_null() ? "" : cell.get<std::string>(), text) << name;
            }
        }
    }
}

// --compare of the run's JSON file and a copy named as another camera: one
// chart with both, a page with both; a file that is not such JSON named.
void CompareWithItself(const Folder& folder) {
    nlohmann::json other = nlohmann::json::parse(ReadText(folder / "figures.json"));
    other["camera"] = {{"make", "Other &"}, {"model", "camera"}};
    std::ofstream(folder / "other.json") << other.dump();
    const Result run =
        Measure(folder, {"--compare", "--plot", folder / "compare.svg", "--report",
                         folder / "compare.html", folder / "figures.json", folder / "other.json"});
    ASSERT_EQ(run.Status, 0) << run.Err;
    for (const char* file : {"compare.svg", "compare.html"}) {
        const std::string text = ReadText(folder / file);
        EXPECT_NE(text.find(">Pruvex Simulated camera<"), std::string::npos) << file;
        EXPECT_NE(text.find(">Other &amp; camera<"), std::string::npos) << file;
        EXPECT_NE(text.find("Full well"), std::string::npos) << file;
    }
    // Each ISO labelled once in each of the three panels, not once per camera.
    const std::string svg = ReadText(folder / "compare.svg");
    std::array<char, 32> iso{};
    std::snprintf(iso.data(), iso.size(), "%g", other["rows"][0]["iso"].get<double>());
    const std::string label = ">" + std::string(iso.data()) + "</text>";
    std::size_t labels = 0;
    for (std::size_t at = svg.find(label); at != std::string::npos; at = svg.find(label, at + 1)) {
        ++labels;
    }
    EXPECT_EQ(labels, 3U) << label;
    const Result bad =
        Measure(folder, {"--compare", "--plot", folder / "bad.svg", folder / "figures.csv"});
    EXPECT_EQ(bad.Status, 2);
    EXPECT_NE(bad.Err.find("figures.csv: not the JSON figures"), std::string::npos) << bad.Err;
}

// The datasheet's figures of one row against the sensor's truth.
void CheckDatasheet(const Camera& camera, const Setting& s, const Row& r, const std::string& out) {
    const Sensor& t = camera.TheSensor;
    const int ch =
        t.Pattern == "Y" ? 1 : static_cast<int>(std::string("RGB").find(r.at("channel")));
    EXPECT_EQ(r.at("digital_gain"), std::to_string(s.DigitalGain));
    EXPECT_EQ(r.at("gain_stage"), camera.SwitchIso == 0      ? ""
                                  : s.Iso < camera.SwitchIso ? "1"
                                                             : "2");
    if (t.TrueClip > 0 || r.at("white_from") == "measured") {
        EXPECT_EQ(r.at("white_from"), "measured");
        // Above the channel's own black level, on a Bayer sensor.
        double black = 0;
        int sites = 0;
        for (std::size_t i = 0; i < 4 && t.Pattern.size() == 4; ++i) {
            if (static_cast<int>(std::string("RGB").find(t.Pattern[i])) == ch) {
                black += t.Black[i];
                ++sites;
            }
        }
        const double range = sites > 0 ? t.Clip() - black / sites : Range(t);
        EXPECT_NEAR(Number(r, "white_dn") / range, 1, 0.005);
    }
    const std::string iso = "ISO " + r.at("iso");
    if (t.DarkPixel > 0) {
        const std::array<double, 4> truth{std::hypot(t.DarkRow, t.DarkColumn, t.DarkPixel),
                                          t.DarkRow, t.DarkColumn, t.DarkPixel};
        const std::array<double, 4> parts = Parts(out, iso + " DSNU", r.at("channel").c_str());
        std::cout << iso << ' ' << r.at("channel") << " DSNU e- whole/rows/columns/pixels:";
        for (std::size_t i = 0; i < parts.size(); ++i) {
            std::cout << ' ' << parts[i] << " (" << truth[i] * s.Gain << ')';
        }
        std::cout << '\n';
        EXPECT_NEAR(Number(r, "dsnu_e") / (truth[0] * s.Gain), 1, 0.1);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            EXPECT_NEAR(parts[i] / (truth[i] * s.Gain), 1, 0.1) << "DSNU part " << i;
        }
    }
    if (!camera.FlatShutters.empty() && s.Iso == camera.Settings.front().Iso) {
        const std::array<double, 4> truth{100 * std::hypot(t.PrnuRow, t.PrnuColumn, t.Prnu),
                                          100 * t.PrnuRow, 100 * t.PrnuColumn, 100 * t.Prnu};
        const std::array<double, 4> parts = Parts(out, iso + " PRNU", r.at("channel").c_str());
        std::cout << iso << ' ' << r.at("channel") << " PRNU % whole/rows/columns/pixels:";
        for (std::size_t i = 0; i < parts.size(); ++i) {
            std::cout << ' ' << parts[i] << " (" << truth[i] << ')';
        }
        std::cout << '\n';
        EXPECT_NEAR(Number(r, "prnu_pct") / truth[0], 1, 0.1);
        for (std::size_t i = 0; i < parts.size(); ++i) {
            EXPECT_NEAR(parts[i] / truth[i], 1, 0.1) << "PRNU part " << i;
        }
        const double linearity = TrueLinearityError(camera, ch);
        std::cout << iso << ' ' << r.at("channel") << ": DSNU " << r.at("dsnu_e") << " e-, PRNU "
                  << r.at("prnu_pct") << " % (" << truth[0] << "), linearity error "
                  << r.at("linearity_error_pct") << " % (" << linearity << "), white "
                  << r.at("white_dn") << " DN (" << Range(t) << ")\n";
        EXPECT_NEAR(Number(r, "linearity_error_pct"), linearity, 0.3);
    }
}

// The datasheet's sensors: dark offsets and responses across pixels, rows
// and columns, a response bending near saturation and clipping below the
// file's white level, with flat frames; a sensor switching to its high
// conversion gain at ISO 800; and one whose ISOs above 1600 only multiply
// the numbers, on the usual two-part read noise.
Camera DatasheetCamera() {
    Sensor sensor = MakeSensor(12, "RGGB", {256, 256, 256, 256}, 51);
    sensor.Width = 1200;
    sensor.Height = 800;
    sensor.TrueClip = 3900;
    sensor.DarkPixel = 1.5;
    sensor.DarkRow = 0.6;
    sensor.DarkColumn = 0.8;
    sensor.PrnuRow = 0.004;
    sensor.PrnuColumn = 0.006;
    sensor.Droop = 0.08;
    Camera camera{"DatasheetFlatsPatternsClipBelowWhite",
                  sensor,
                  MakeScene(0.86, 0.5, 0.5, 0.8),
                  {{100, 2.0, 2.5, 1.3}, {400, 0.5, 4.0, 1.3}},
                  51};
    for (const double d : {4000, 2500, 1600, 1000, 640, 400, 250, 200, 160, 125, 100, 60, 40}) {
        camera.FlatShutters.push_back(1 / d);
    }
    camera.FlatLight = 0.82;
    return camera;
}

Camera GainCamera(const char* name, const char* pattern, std::vector<Setting> settings,
                  std::uint64_t seed) {
    Sensor sensor = MakeSensor(14, pattern, {512, 512, 512, 512}, seed);
    sensor.Width = 1200;
    sensor.Height = 800;
    return {name, sensor, MakeScene(0.86, 0.5, 0.5, -0.7), std::move(settings), seed};
}

const Camera DatasheetCameras[] = {
    DatasheetCamera(),
    [] {
        Camera camera = GainCamera("DualConversionGain", "GRBG",
                                   {{100, 4, 2.14},
                                    {200, 2, 2.5},
                                    {400, 1, 3.61},
                                    {800, 0.5, 3.12},
                                    {1600, 0.25, 5.2},
                                    {3200, 0.125, 9.8}},
                                   52);
        camera.SwitchIso = 800;
        return camera;
    }(),
    GainCamera("DigitalGainAbove1600", "GBRG",
               {{100, 4, 2.53},
                {200, 2, 2.61},
                {400, 1, 2.92},
                {800, 0.5, 3.9},
                {1600, 0.25, 6.4},
                {3200, 0.125, 12.8, 1.3, {1.0 / 250}, 2},
                {6400, 0.0625, 25.6, 1.3, {1.0 / 250}, 4}},
               53),
};

// The report stands alone (nothing loaded from elsewhere: the browser test
// in tests/series opens one), names the camera and holds the plots; the plot
// in the measuring guide is the one the tests make.
void CheckReportAndPlot(const Camera& camera, const Folder& folder) {
    const std::string report = ReadText(folder / "report.html");
    for (const char* outside : {"<script", "src=", "href=", "url(", "@import", "<link"}) {
        EXPECT_EQ(report.find(outside), std::string::npos) << outside;
    }
    EXPECT_NE(report.find("Sensor datasheet: Pruvex Simulated camera"), std::string::npos);
    EXPECT_GE(std::count(report.begin(), report.end(), '\n'), 100);
    EXPECT_NE(report.find("Signal-to-noise ratio"), std::string::npos);
    CompareWithItself(folder);
    // To renew the guide's plot after a change, run this test with
    // PRUVEX_PICTURE_DIR=$PWD/docs.
    const std::string plot = ReadText(folder / "plot.svg");
    if (const char* renew = std::getenv("PRUVEX_PICTURE_DIR")) {
        std::ofstream(std::string(renew) + "/" + camera.Plot, std::ios::binary) << plot;
    } else {
        EXPECT_TRUE(plot == ReadText(PRUVEX_SOURCE_DIR "/docs/" + std::string(camera.Plot)))
            << "docs/" << camera.Plot << " is not the plot the tests make";
    }
}

// The same series measured on one thread gives the same files.
void CheckOneThreadAgrees(const Camera& camera, const Folder& folder) {
    const Folder one;
    std::vector<std::string> again = ShootSeries(camera, one);
    again.insert(again.begin(), {"--threads", "1", "--csv", one / "figures.csv", "--squares",
                                 one / "squares.csv"});
    const Result single = Measure(one, again);
    EXPECT_EQ(single.Status, 0) << single.Err;
    EXPECT_EQ(ReadText(one / "figures.csv"), ReadText(folder / "figures.csv"));
    EXPECT_EQ(ReadText(one / "squares.csv"), ReadText(folder / "squares.csv"));
}

// Each ISO's and channel's figures against the sensor's truth.
void CheckFigures(const Camera& camera, const Folder& folder, const Result& run) {
    const bool mono = camera.TheSensor.Pattern == "Y";
    const std::vector<std::string> channels =
        mono ? std::vector<std::string>{"Y"} : std::vector<std::string>{"R", "G", "B"};
    const std::vector<Row> figures = ReadCsv(folder / "figures.csv");
    ASSERT_EQ(figures.size(), channels.size() * camera.Settings.size()) << run.Out << run.Err;
    std::size_t row = 0;
    for (const Setting& s : camera.Settings) {
        const double range = Range(camera.TheSensor);
        // The read noise as the sensor's values carry it: rounding to DN included.
        const double n = s.DigitalGain;
        const double read = std::sqrt(s.ReadNoise * s.ReadNoise + n * n / 12);
        for (const std::string& channel : channels) {
            const Row& r = figures.at(row++);
            SCOPED_TRACE(r.at("iso") + " " + r.at("channel"));
            EXPECT_EQ(Number(r, "iso"), s.Iso);
            EXPECT_EQ(r.at("channel"), channel);
            EXPECT_EQ(r.at("frames"),
                      std::to_string(2 * static_cast<std::size_t>(s.Pairs) * s.Shutters.size()));
            EXPECT_EQ(r.at("read_noise_from"), "dark");
            ASSERT_GE(Number(r, "squares"), 8);
            const double gain = Number(r, "gain_e_per_dn");
            std::cout << camera.Name << " ISO " << s.Iso << ' ' << channel << ": squares "
                      << r.at("squares") << ", gain " << gain << " (" << s.Gain << "), read noise "
                      << Number(r, "read_noise_dn") << " DN (" << read << "), DR "
                      << Number(r, "dr_ev") << " EV (" << std::log2(range / read) << ")\n";
            // Fewer than 20 squares below clipping (those a series shoots
            // again at a shorter time) span a short part of the curve: the
            // slope, and so the gain, is known less well.
            const double slope = Number(r, "squares") < 20 ? 0.05 : 0.03;
            EXPECT_NEAR(gain / s.Gain, 1, slope);
            EXPECT_NEAR(Number(r, "read_noise_dn") / read, 1, 0.03);
            EXPECT_NEAR(Number(r, "read_noise_e") / (read * s.Gain), 1, slope + 0.02);
            EXPECT_NEAR(Number(r, "dr_ev"), std::log2(range / read), 0.1);
            EXPECT_NEAR(Number(r, "full_well_e") / (range * s.Gain), 1, slope + 0.005);
            CheckDatasheet(camera, s, r, run.Out);
        }
    }
}

// Every square's signal in every channel, where it is not clipped: the
// black level taken off and each channel under its own name.
void CheckSquares(const Camera& camera, const Folder& folder) {
    const bool mono = camera.TheSensor.Pattern == "Y";
    int compared = 0;
    for (const Row& r : ReadCsv(folder / "squares.csv")) {
        if (r.at("pixels") == "0" || r.at("clipped") != "0") {
            continue;
        }
        const double iso = Number(r, "iso");
        const auto s = std::find_if(camera.Settings.begin(), camera.Settings.end(),
                                    [iso](const Setting& x) { return x.Iso == iso; });
        ASSERT_NE(s, camera.Settings.end());
        const int channel = mono ? 1 : static_cast<int>(std::string("RGB").find(r.at("channel")));
        ASSERT_GE(channel, 0) << r.at("channel");
        const double expected =
            ExpectedSignal(camera.TheSensor, camera.TheScene,
                           ExposureOf(camera, *s, 0, false, Number(r, "exposure_s")),
                           std::stoi(r.at("square")), channel);
        EXPECT_NEAR(Number(r, "mean_dn"), expected, 0.02 * expected + 1)
            << "ISO " << iso << " square " << r.at("square") << " " << r.at("channel");
        ++compared;
    }
    EXPECT_GE(compared, 100);
}

class Recovery : public ::testing::TestWithParam<Camera> {};

TEST_P(Recovery, GivesBackTheSensor) {
    const Camera& camera = GetParam();
    const Folder folder;
    std::vector<std::string> args = ShootSeries(camera, folder);
    args.insert(args.begin(), {"--csv", folder / "figures.csv", "--squares", folder / "squares.csv",
                               "--json", folder / "figures.json"});
    if (camera.Plot != nullptr) {
        args.insert(args.begin(), {"--report", folder / "report.html"});
        args.insert(args.begin(), {"--plot", folder / "plot.svg"});
    }
    const Result run = Measure(folder, args);
    ASSERT_EQ(run.Status, 0) << run.Err;
    ExpectJsonAsCsv(folder);
    if (camera.Plot != nullptr) {
        CheckReportAndPlot(camera, folder);
    }
    if (camera.OneThreadToo) {
        CheckOneThreadAgrees(camera, folder);
    }
    CheckFigures(camera, folder, run);
    EXPECT_EQ(run.Out.find("bands across the rows") != std::string::npos, camera.Bands > 0)
        << run.Out;
    CheckSquares(camera, folder);
}

INSTANTIATE_TEST_SUITE_P(SimulatedCamera, Recovery, ::testing::ValuesIn(Cameras),
                         [](const ::testing::TestParamInfo<Camera>& param) {
                             return std::string(param.param.Name);
                         });
INSTANTIATE_TEST_SUITE_P(FixedExposure, Recovery, ::testing::ValuesIn(FixedCameras),
                         [](const ::testing::TestParamInfo<Camera>& param) {
                             return std::string(param.param.Name);
                         });
INSTANTIATE_TEST_SUITE_P(Datasheet, Recovery, ::testing::ValuesIn(DatasheetCameras),
                         [](const ::testing::TestParamInfo<Camera>& param) {
                             return std::string(param.param.Name);
                         });

// One series of good files (two frames of the mosaic and two dark frames at
// ISO 400) and bad ones beside it, shot once for the table below.
class Files : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        folder_ = new Folder;
        Camera camera{"Files",
                      MakeSensor(12, "RGGB", {256, 256, 256, 256}, 21),
                      MakeScene(0.86, 0.5, 0.5, 0.5),
                      {{400, 1.0, 3.0, 1.2}},
                      21};
        camera.TheSensor.Width = 1200;
        camera.TheSensor.Height = 800;
        std::uint64_t shot = 0;
        for (const char* name : {"grid0", "grid1", "dark0", "dark1"}) {
            const Exposure e = ExposureOf(camera, camera.Settings[0], ++shot, name[0] == 'd');
            WriteDng(Path(name), camera.TheSensor, Shoot(camera.TheSensor, camera.TheScene, e), e);
        }
        // An even grey scene, a DNG cut short and a PNG.
        std::vector<std::uint16_t> grey(std::size_t{1200} * 800);
        for (std::size_t i = 0; i < grey.size(); ++i) {
            grey[i] = static_cast<std::uint16_t>(1200 + (i * 7919) % 41);
        }
        const Exposure e = ExposureOf(camera, camera.Settings[0], 0, false);
        WriteDng(Path("grey"), camera.TheSensor, grey, e);
        // The grey scene as an image already demosaiced: three samples a pixel.
        Sensor rgb = camera.TheSensor;
        rgb.Pattern = "RGB";
        WriteDng(Path("rgb"), rgb, grey, e);
        const std::string whole = ReadText(Path("grid0"));
        std::ofstream(Path("cut"), std::ios::binary) << whole.substr(0, whole.size() * 6 / 10);
        const unsigned char png[] = {
            0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48,
            0x44, 0x52, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00,
            0x00, 0x3a, 0x7e, 0x9b, 0x55, 0x00, 0x00, 0x00, 0x0a, 0x49, 0x44, 0x41, 0x54, 0x78,
            0x9c, 0x63, 0x68, 0x00, 0x00, 0x00, 0x82, 0x00, 0x81, 0x77, 0xcd, 0x72, 0xb6, 0x00,
            0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};
        std::ofstream(Path("png"), std::ios::binary)
            .write(reinterpret_cast<const char*>(png), sizeof png);
        // A series' manifest of the good files, which it names relative to itself.
        std::ofstream manifest(Path("series"), std::ios::binary);
        manifest << "file,kind,iso,exposure_s,level,shot_at\n";
        for (const char* name : {"grid0", "grid1", "dark0", "dark1"}) {
            manifest << name << ".dng," << (name[0] == 'd' ? "dark" : "grid")
                     << ",400,0.004,212,2026-12-08T12:00:00.000Z\n";
        }
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    static std::string Path(const std::string& name) {
        return *folder_ / (name == "png"      ? "picture.png"
                           : name == "series" ? "series.csv"
                                              : name + ".dng");
    }
    // The arguments with every @NAME made the path of that file.
    static std::vector<std::string> Arguments(const std::vector<std::string>& args) {
        std::vector<std::string> out;
        out.reserve(args.size());
        for (const std::string& arg : args) {
            out.push_back(arg.starts_with('@') ? Path(arg.substr(1)) : arg);
        }
        return out;
    }
    static Folder* folder_;
};
Folder* Files::folder_ = nullptr;

struct FilesCase {
    const char* Name;
    std::vector<std::string> Args;
    int Status;
    std::vector<std::string> Err; // each named on the error output
    std::vector<std::string> Out; // each in the report
    // The figures as the good files alone give them (or none at all).
    bool SameFigures;
};

const FilesCase FilesCases[] = {
    {"NoArguments", {}, 2, {"no raw files given", "Usage:"}, {}, false},
    {"UnknownOption", {"--frobnicate", "@grid0"}, 2, {"not expected: --frobnicate"}, {}, false},
    {"OptionWithoutFile", {"@grid0", "--csv"}, 2, {"--csv: 1 required FILE missing"}, {}, false},
    {"OptionWithEmptyFile", {"--plot", "", "@grid0"}, 2, {"--plot: needs a file name"}, {}, false},
    {"ThreadsOutOfRange", {"--threads", "0", "@grid0"}, 2, {"not in range 1 to 256"}, {}, false},
    {"Manifest", {"@series"}, 0, {}, {}, true},
    {"UnreadableManifest",
     {"@grid0", "/nonexistent/series.csv"},
     2,
     {"series.csv: cannot be read"},
     {},
     false},
    {"BadFilesAmongGood",
     {"@png", "@grid0", "@cut", "@grid1", "@grey", "@rgb", "--dark", "@dark0", "--dark", "@dark1"},
     1,
     {"picture.png: not a raw file", "cut.dng: truncated", "grey.dng: no mosaic found",
      "rgb.dng: not measured: an image already demosaiced"},
     {"dark0.dng (ISO 400, given with --dark)"},
     true},
    {"MissingFile",
     {"@gone", "@grid0", "@grid1", "--dark", "@dark0", "--dark", "@dark1"},
     1,
     {"gone.dng: No such file or directory"},
     {},
     true},
    {"DarkFramesFoundWithoutTheOption",
     {"@grid0", "@dark0", "@grid1", "@dark1"},
     0,
     {},
     {"dark1.dng (ISO 400, no mosaic and at the black level)"},
     true},
    {"NothingMeasurable", {"@png", "@grey"}, 2, {"nothing to measure", "picture.png"}, {}, false},
    // A frame left over where its ISO has a pair: named, and out of the fit.
    {"FrameLeftOver",
     {"@grid0", "@grid1", "@grid1", "--dark", "@dark0", "--dark", "@dark1"},
     0,
     {},
     {"grid1.dng has no partner of its ISO and exposure time: left out of the fit"},
     true},
    {"OneFrameNoDark", {"@grid0"}, 0, {}, {"single frame", "400     G       1"}, false},
};

class FilesTable : public Files, public ::testing::WithParamInterface<FilesCase> {};

TEST_P(FilesTable, SaysWhatBecameOfEachFile) {
    const FilesCase& c = GetParam();
    const Folder out;
    std::vector<std::string> args = Arguments(c.Args);
    if (c.Status != 2) {
        args.insert(args.begin(), {"--csv", out / "figures.csv"});
    }
    const Result run = Measure(out, args);
    EXPECT_EQ(run.Status, c.Status) << run.Err;
    for (const std::string& text : c.Err) {
        EXPECT_NE(run.Err.find(ProgramName(text)), std::string::npos) << text << " not in:\n"
                                                                      << run.Err;
    }
    for (const std::string& text : c.Out) {
        EXPECT_NE(run.Out.find(text), std::string::npos) << text << " not in:\n" << run.Out;
    }
    // The good files are never named as bad.
    for (const char* good : {"grid0.dng", "grid1.dng", "dark0.dng", "dark1.dng"}) {
        EXPECT_EQ(run.Err.find(good), std::string::npos) << run.Err;
    }
    if (c.SameFigures) {
        const Folder alone;
        const Result good =
            Measure(alone, Arguments({"--csv", alone / "figures.csv", "@grid0", "@grid1", "--dark",
                                      "@dark0", "--dark", "@dark1"}));
        ASSERT_EQ(good.Status, 0) << good.Err;
        EXPECT_EQ(ReadText(out / "figures.csv"), ReadText(alone / "figures.csv"));
        EXPECT_EQ(ReadCsv(out / "figures.csv").size(), 3U);
    } else if (c.Status == 0) {
        const std::vector<Row> rows = ReadCsv(out / "figures.csv");
        ASSERT_EQ(rows.size(), 3U);
        EXPECT_EQ(rows[1].at("frames"), "1");
        EXPECT_EQ(rows[1].at("read_noise_from"), "fit");
    } else {
        EXPECT_FALSE(fs::exists(out / "figures.csv"));
    }
}

// The Windows shell leaves wildcards to the program: one that matches
// nothing is named as a usage error.
TEST_F(Files, WildcardMatchingNothing) {
    if (WindowsProgram == nullptr) {
        GTEST_SKIP() << "the shell expands wildcards here, and '*' is a file name's character";
    }
    const Folder out;
    const Result run = Measure(out, {"--csv", out / "figures.csv", Path("grid0"), Path("grid?x*")});
    EXPECT_EQ(run.Status, 2);
    EXPECT_NE(run.Err.find("no file matches " + ProgramName(Path("grid?x*"))), std::string::npos)
        << run.Err;
    EXPECT_FALSE(fs::exists(out / "figures.csv"));
}

INSTANTIATE_TEST_SUITE_P(Measure, FilesTable, ::testing::ValuesIn(FilesCases),
                         [](const ::testing::TestParamInfo<FilesCase>& param) {
                             return std::string(param.param.Name);
                         });

// Far up the ISO range at 1/250 s only a few squares stay below clipping:
// no row for such a channel, one line naming the ISO, the squares and the
// time to shoot it again at, at which about 20 squares come below
// clipping; no error, unless no row at all is left.
TEST(TooFewSquares, SaysTheTimeToShootAgainAt) {
    const Camera camera =
        FixedSeries("TooFew", Small(MakeSensor(12, "RGGB", {256, 256, 256, 256}, 41)),
                    MakeScene(0.86, 0.5, 0.5, 0.5), {{100, 4.0, 2.2}, {3200, 4.0 / 32, 10.0}}, 41);
    const Folder folder;
    std::vector<std::string> high;
    std::vector<std::string> all{"--csv", folder / "figures.csv"};
    std::uint64_t shot = 0;
    for (const Setting& s : camera.Settings) {
        for (int i = 0; i < 2; ++i) {
            const Exposure e = ExposureOf(camera, s, ++shot, false);
            const std::string path = folder / ("iso" + std::to_string(static_cast<int>(s.Iso)) +
                                               "-" + std::to_string(i) + ".dng");
            WriteDng(path, camera.TheSensor, Shoot(camera.TheSensor, camera.TheScene, e), e);
            all.push_back(path);
            if (s.Iso > 100) {
                high.push_back(path);
            }
        }
    }
    const Result run = Measure(folder, all);
    ASSERT_EQ(run.Status, 0) << run.Err;
    const std::vector<Row> rows = ReadCsv(folder / "figures.csv");
    int named = 0;
    for (const char* channel : {"R", "G", "B"}) {
        SCOPED_TRACE(channel);
        const bool row = std::any_of(rows.begin(), rows.end(), [&](const Row& r) {
            return r.at("iso") == "3200" && r.at("channel") == channel;
        });
        const std::string start = std::string("ISO 3200 ") + channel + ": ";
        const std::size_t at = run.Out.find(start);
        EXPECT_NE(row, at != std::string::npos) << run.Out;
        if (at == std::string::npos) {
            continue;
        }
        ++named;
        const std::string line = run.Out.substr(at, run.Out.find('\n', at) - at);
        EXPECT_NE(run.Err.find(line), std::string::npos) << run.Err;
        const int usable = std::stoi(line.substr(start.size()));
        EXPECT_LT(usable, 8);
        const std::size_t over = line.find("shoot it again at 1/");
        ASSERT_NE(over, std::string::npos) << line;
        const double time = 1 / std::stod(line.substr(over + 20));
        // The squares below clipping at that time, as the camera has it.
        const int ch = static_cast<int>(std::string("RGB").find(channel));
        const Exposure e = ExposureOf(camera, camera.Settings[1], 0, false, time);
        int below = 0;
        for (int k = 0; k < 77; ++k) {
            below += ExpectedSignal(camera.TheSensor, camera.TheScene, e, k, ch) <
                             0.95 * Range(camera.TheSensor)
                         ? 1
                         : 0;
        }
        std::cout << line << ": " << below << " squares below clipping at " << time << " s\n";
        EXPECT_GE(below, 14);
        EXPECT_LE(below, 30);
    }
    EXPECT_GE(named, 1);
    EXPECT_EQ(rows.size(), std::size_t{6} - static_cast<std::size_t>(named));
    // The high ISO alone: the rows it has, or nothing to give (status 2).
    const Result alone = Measure(folder, high);
    EXPECT_EQ(alone.Status, named == 3 ? 2 : 0) << alone.Err;
}

} // namespace
