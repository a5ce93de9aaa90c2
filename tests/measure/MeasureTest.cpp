// pruvex-measure against the simulated camera: the program, run on the DNG
// files the camera writes, must give back the sensor the camera was given.

#include "SimulatedCamera.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

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

class Folder {
  public:
    Folder() {
        std::string pattern = (fs::temp_directory_path() / "pruvex-measure-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        path_ = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

  private:
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

Result Measure(const Folder& folder, const std::vector<std::string>& args) {
    std::string command = "'" PRUVEX_MEASURE "'";
    for (const std::string& arg : args) {
        command += " '" + arg + "'";
    }
    command += " >'" + folder / "stdout" + "' 2>'" + folder / "stderr" + "'";
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(folder / "stdout"),
            ReadText(folder / "stderr")};
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
};

struct Camera {
    const char* Name = "";
    Sensor TheSensor;
    Scene TheScene;
    std::vector<Setting> Settings;
    std::uint64_t Seed = 1;
};

Exposure ExposureOf(const Camera& camera, const Setting& s, std::uint64_t shot, bool dark) {
    const Sensor& sensor = camera.TheSensor;
    double black = 0;
    for (const double b : sensor.Black) {
        black = std::max(black, b);
    }
    Exposure e;
    e.Iso = s.Iso;
    e.Gain = s.Gain;
    e.ReadNoise = s.ReadNoise;
    e.WhiteElectrons = dark ? 0 : s.WhiteFill * (sensor.White() - black) * s.Gain;
    e.Seed = camera.Seed * 1000 + shot;
    return e;
}

// Two frames of the mosaic and two dark frames per ISO; the arguments that
// measure them.
std::vector<std::string> ShootSeries(const Camera& camera, const Folder& folder) {
    std::vector<std::string> args;
    std::uint64_t shot = 0;
    for (const Setting& s : camera.Settings) {
        for (int i = 0; i < 4; ++i) {
            const bool dark = i >= 2;
            const Exposure e = ExposureOf(camera, s, ++shot, dark);
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
     {{100, 4.0, 2.2, 1.3}, {400, 1.0, 3.0, 1.25}},
     1},
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

class Recovery : public ::testing::TestWithParam<Camera> {};

TEST_P(Recovery, GivesBackTheSensor) {
    const Camera& camera = GetParam();
    const Folder folder;
    std::vector<std::string> args = ShootSeries(camera, folder);
    args.insert(args.begin(),
                {"--csv", folder / "figures.csv", "--squares", folder / "squares.csv"});
    const Result run = Measure(folder, args);
    ASSERT_EQ(run.Status, 0) << run.Err;

    const std::vector<Row> figures = ReadCsv(folder / "figures.csv");
    ASSERT_EQ(figures.size(), 3 * camera.Settings.size()) << run.Out;
    std::size_t row = 0;
    for (const Setting& s : camera.Settings) {
        const double black = camera.TheSensor.Black[0];
        const double range = camera.TheSensor.White() - black;
        // The read noise as the sensor's values carry it: rounding to DN included.
        const double read = std::sqrt(s.ReadNoise * s.ReadNoise + 1.0 / 12);
        for (const char* channel : {"R", "G", "B"}) {
            const Row& r = figures.at(row++);
            SCOPED_TRACE(r.at("iso") + " " + r.at("channel"));
            EXPECT_EQ(Number(r, "iso"), s.Iso);
            EXPECT_EQ(r.at("channel"), channel);
            EXPECT_EQ(r.at("frames"), "2");
            EXPECT_EQ(r.at("read_noise_from"), "dark");
            ASSERT_GE(Number(r, "squares"), 8);
            const double gain = Number(r, "gain_e_per_dn");
            std::cout << camera.Name << " ISO " << s.Iso << ' ' << channel << ": squares "
                      << r.at("squares") << ", gain " << gain << " (" << s.Gain << "), read noise "
                      << Number(r, "read_noise_dn") << " DN (" << read << "), DR "
                      << Number(r, "dr_ev") << " EV (" << std::log2(range / read) << ")\n";
            EXPECT_NEAR(gain / s.Gain, 1, 0.03);
            EXPECT_NEAR(Number(r, "read_noise_dn") / read, 1, 0.03);
            EXPECT_NEAR(Number(r, "read_noise_e") / (read * s.Gain), 1, 0.05);
            EXPECT_NEAR(Number(r, "dr_ev"), std::log2(range / read), 0.1);
            EXPECT_NEAR(Number(r, "full_well_e") / (range * s.Gain), 1, 0.035);
        }
    }

    // Every square's signal in every channel, where it is not clipped: the
    // black level taken off and each channel under its own name.
    int compared = 0;
    for (const Row& r : ReadCsv(folder / "squares.csv")) {
        if (r.at("pixels") == "0" || r.at("clipped") != "0") {
            continue;
        }
        const double iso = Number(r, "iso");
        const auto s = std::find_if(camera.Settings.begin(), camera.Settings.end(),
                                    [iso](const Setting& x) { return x.Iso == iso; });
        ASSERT_NE(s, camera.Settings.end());
        const int channel = static_cast<int>(std::string("RGB").find(r.at("channel")));
        const double expected =
            ExpectedSignal(camera.TheSensor, camera.TheScene, ExposureOf(camera, *s, 0, false),
                           std::stoi(r.at("square")), channel);
        EXPECT_NEAR(Number(r, "mean_dn"), expected, 0.02 * expected + 1)
            << "ISO " << iso << " square " << r.at("square") << " " << r.at("channel");
        ++compared;
    }
    EXPECT_GE(compared, 100);
}

INSTANTIATE_TEST_SUITE_P(SimulatedCamera, Recovery, ::testing::ValuesIn(Cameras),
                         [](const ::testing::TestParamInfo<Camera>& param) {
                             return std::string(param.param.Name);
                         });

} // namespace
