// pruvex-series' logic: the camera's choices read and chosen from, and the
// manifest written line by line and read back for the measurement.

#include "measure/Report.h"
#include "series/Camera.h"
#include "series/Choices.h"
#include "series/ManifestWriter.h"

#include "measure/Manifest.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

using namespace pruvex::series;
namespace fs = std::filesystem;

TEST(Choices, ReadsShutterTimesAsCamerasWriteThem) {
    EXPECT_DOUBLE_EQ(*ParseShutter("1/250"), 1.0 / 250);
    EXPECT_DOUBLE_EQ(*ParseShutter("0.004s"), 0.004);
    EXPECT_DOUBLE_EQ(*ParseShutter("2"), 2.0);
    EXPECT_DOUBLE_EQ(*ParseShutter("1.3\""), 1.3);
    for (const char* none : {"bulb", "", "1/0", "-1/250", "1/x", "auto"}) {
        EXPECT_FALSE(ParseShutter(none)) << none;
    }
    // File names and the report's text write a time by one rule.
    const struct {
        double Seconds;
        const char* Name;
        const char* Text;
    } times[] = {{1.0 / 250, "1_250", "1/250 s"},
                 {0.3, "0.3", "0.3 s"},
                 {1.0 / 3, "1_3", "1/3 s"},
                 {2, "2", "2 s"},
                 {0.00390625, "1_256", "1/256 s"}};
    for (const auto& t : times) {
        EXPECT_EQ(ShutterName(t.Seconds), t.Name);
        EXPECT_EQ(pruvex::measure::ShutterText(t.Seconds), t.Text);
    }
}

TEST(Choices, TakesTheNumericIsosInWholeStopsFromTheLowest) {
    const std::vector<std::string> choices{"Auto", "100",  "125",     "160",  "200",  "250",
                                           "400",  "Hi 1", "ISO 800", "3200", "6400", "12800"};
    EXPECT_EQ(WholeStopIsos(choices), (std::vector<int>{100, 200, 400, 800, 3200, 6400, 12800}));
    EXPECT_EQ(WholeStopIsos({"Auto", "L 1.0"}), std::vector<int>{});
    EXPECT_EQ(*ParseIsoList({"100", "400"}), (std::vector<int>{100, 400}));
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {}, {"100", "x"}, {"0"}, {"-100"}, {"0100"}, {"ISO 100"}}) {
        EXPECT_FALSE(ParseIsoList(bad));
    }
}

TEST(Choices, GoesDownAStopAtATimeToTheShortest) {
    const std::vector<std::string> choices{"bulb",  "1/30",  "1/200", "1/250", "1/320",
                                           "1/400", "1/500", "1/640", "1/1000"};
    EXPECT_EQ(*NearestShutter(choices, 1.0 / 250), "1/250");
    EXPECT_EQ(*NearestShutter(choices, 1.0 / 25), "1/30");
    EXPECT_EQ(*ShorterShutter(choices, 1.0 / 250), "1/500");
    EXPECT_EQ(*ShorterShutter(choices, 1.0 / 640), "1/1000");
    EXPECT_FALSE(ShorterShutter(choices, 1.0 / 1000));
}

TEST(Camera, ReadsGphoto2sChoiceLines) {
    const std::string output = "Label: ISO Speed\nReadonly: 0\nType: RADIO\nCurrent: 100\n"
                               "Choice: 0 Auto\r\nChoice: 1 100\nChoice: 12 Hi 1\nChoice: 3\nEND\n";
    EXPECT_EQ(ConfigChoices(output), (std::vector<std::string>{"Auto", "100", "Hi 1"}));
}

TEST(Manifest, IsWrittenLineByLineAndReadBackForTheMeasurement) {
    std::string pattern = (fs::temp_directory_path() / "pruvex-series-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path folder = fs::path(pattern) / "series";
    EXPECT_EQ(FolderRefusal(folder), "");
    {
        ManifestWriter manifest(folder);
        const auto row = [](const char* file, const char* kind, double iso, double time) {
            return pruvex::measure::ManifestRow{file, kind, iso, time, 25, UtcNow()};
        };
        manifest.Add(row("flat-iso100-1_30-a.DNG", "flat", 100, 1.0 / 30));
        manifest.Add(row("grid-iso100-1_250-a.DNG", "grid", 100, 1.0 / 250));
        // Flushed at once: the file holds the row while the series goes on.
        std::ifstream partial(folder / "series.csv");
        std::stringstream text;
        text << partial.rdbuf();
        const std::string written = text.str();
        EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 3);
        EXPECT_NE(FolderRefusal(folder), "");
        for (const auto& r : {row("grid-iso100-1_250-b.DNG", "grid", 100, 1.0 / 250),
                              row("grid-iso800-1_250-a.DNG", "grid", 800, 1.0 / 250),
                              row("grid-iso800-1_500-a.DNG", "grid", 800, 1.0 / 500),
                              row("dark-iso800-1_250-a.DNG", "dark", 800, 1.0 / 250),
                              row("dark-iso800-1_500-a.DNG", "dark", 800, 1.0 / 500),
                              row("dark-iso100-1_250-a.DNG", "dark", 100, 1.0 / 250)}) {
            manifest.Add(r);
        }
    }
    std::vector<pruvex::measure::ManifestRow> rows;
    std::string error;
    const std::string path = (folder / "series.csv").string();
    ASSERT_TRUE(pruvex::measure::ReadManifest(path, rows, error)) << error;
    ASSERT_EQ(rows.size(), 8U);
    EXPECT_TRUE(
        std::regex_match(rows[0].ShotAt, std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")))
        << rows[0].ShotAt;
    std::vector<std::string> measured;
    for (const auto& file : pruvex::measure::MeasuredFiles(path, rows)) {
        measured.push_back(fs::path(file.Path).filename().string() + (file.Dark ? " dark" : ""));
    }
    // Every mosaic and dark frame in the order shot, no flat frame.
    EXPECT_EQ(measured,
              (std::vector<std::string>{
                  "grid-iso100-1_250-a.DNG", "grid-iso100-1_250-b.DNG", "grid-iso800-1_250-a.DNG",
                  "grid-iso800-1_500-a.DNG", "dark-iso800-1_250-a.DNG dark",
                  "dark-iso800-1_500-a.DNG dark", "dark-iso100-1_250-a.DNG dark"}));
    // A manifest with no shot leaves the folder free.
    std::ofstream(path, std::ios::trunc) << pruvex::measure::ManifestHeader << '\n';
    EXPECT_EQ(FolderRefusal(folder), "");
    std::ofstream(path, std::ios::app) << "a.DNG,grid,100,0.004,25\n";
    EXPECT_FALSE(pruvex::measure::ReadManifest(path, rows, error));
    EXPECT_NE(error.find("line 2"), std::string::npos) << error;
    // A dark frame's level may be left empty.
    std::ofstream(path, std::ios::trunc)
        << pruvex::measure::ManifestHeader << "\nd.DNG,dark,100,0.004,,2026-12-08T19:00:00.000Z\n";
    EXPECT_TRUE(pruvex::measure::ReadManifest(path, rows, error)) << error;
    fs::remove_all(pattern);
}

TEST(Settings, TheFileAgreesWithinASixthOfAStop) {
    using pruvex::measure::Settings;
    const auto compare = [](double iso, double time) {
        pruvex::measure::CfaFrame frame;
        frame.Iso = iso;
        frame.Shutter = time;
        return pruvex::measure::CompareSettings(frame, 400, 1.0 / 250);
    };
    EXPECT_EQ(compare(400, 0.004), Settings::Agree);
    EXPECT_EQ(compare(400, 1.0 / 256), Settings::Agree);
    EXPECT_EQ(compare(400, 1.0 / 225), Settings::Agree);
    EXPECT_EQ(compare(400, 1.0 / 200), Settings::Differ);
    EXPECT_EQ(compare(800, 0.004), Settings::Differ);
    EXPECT_EQ(compare(0, 0.004), Settings::Missing);
    EXPECT_EQ(compare(400, 0), Settings::Missing);
    EXPECT_TRUE(pruvex::series::BusyError("*** Error (-110: 'I/O in progress') ***"));
    EXPECT_TRUE(pruvex::series::BusyError("Could not claim the USB device"));
    EXPECT_FALSE(pruvex::series::BusyError("*** Error: Could not capture image ***"));
}

} // namespace
