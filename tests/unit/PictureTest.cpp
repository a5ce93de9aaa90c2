#include "pattern/Picture.h"
#include "Captions.h"
#include "pattern/Checked.h"
#include "pattern/Icon.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

namespace {

using pruvex::Colour;
using pruvex::PatternState;
using pruvex::Picture;
using pruvex::PixelRect;

using pruvex::testing::FlatInstruction;
using pruvex::testing::GridInstruction;

TEST(Caption, NamesPatternLevelAndInstruction) {
    PatternState state;
    EXPECT_EQ(pruvex::Caption(state), std::string("Flat @212:") + FlatInstruction);
    state.FlatLevel = 0;
    EXPECT_EQ(pruvex::Caption(state), std::string("Flat @0:") + FlatInstruction);
    state.Mode = "G";
    EXPECT_EQ(pruvex::Caption(state), std::string("Grid @25:") + GridInstruction);
    state.GridLevel = 178;
    EXPECT_EQ(pruvex::Caption(state), std::string("Grid @178:") + GridInstruction);
    state.Mode = "f"; // any mode but "F" takes the grid branch
    EXPECT_EQ(pruvex::Caption(state).substr(0, 10), "Grid @178:");
}

TEST(StartupSize, Is776By520) {
    const PatternState state;
    EXPECT_EQ(pruvex::StartupClientWidth(state), 776);
    EXPECT_EQ(pruvex::StartupClientHeight(state), 520);
}

TEST(DrawFlat, IsOneColourAndNoSquares) {
    PatternState state;
    for (const auto& [level, colour] : {std::pair<std::int16_t, Colour>{212, {212, 96, 145}},
                                        {0, {0, 0, 0}},
                                        {255, {255, 116, 174}}}) {
        state.FlatLevel = level;
        const Picture picture = pruvex::Draw(state, 776, 520);
        EXPECT_EQ(picture.Background, colour) << "level " << level;
        EXPECT_TRUE(picture.Squares.empty());
    }
    EXPECT_EQ(state.Pitch, 64) << "the flat field leaves the pitch alone";
}

TEST(CoveredPixels, HalfPixelEdgesTouchWithoutGapOrOverlap) {
    EXPECT_EQ(pruvex::CoveredPixels(31.5F, 31.5F, 92.5F, 92.5F), (PixelRect{31, 31, 92, 92}));
    EXPECT_EQ(pruvex::CoveredPixels(92.5F, 31.5F, 153.5F, 92.5F), (PixelRect{92, 31, 153, 92}));
    EXPECT_EQ(pruvex::CoveredPixels(31.0F, 31.0F, 91.0F, 91.0F), (PixelRect{31, 31, 91, 91}));
    // Reversed corners (negative pitch) cover the same pixels as ordered ones.
    EXPECT_EQ(pruvex::CoveredPixels(0.5F, 0.5F, -0.5F, -0.5F), (PixelRect{-1, -1, 0, 0}));
    EXPECT_EQ(pruvex::CoveredPixels(2.0F, 2.0F, -1.0F, -1.0F), (PixelRect{-1, -1, 2, 2}));
}

struct PitchCase {
    float Width;
    float Height;
    std::int16_t Pitch;
};

class PitchTable : public testing::TestWithParam<PitchCase> {};

TEST_P(PitchTable, SmallerCandidateWinsRoundedHalfToEven) {
    PatternState state;
    // The pitch the flat field's reply names, worked out without drawing.
    EXPECT_EQ(pruvex::GridPitch(state, GetParam().Width, GetParam().Height), GetParam().Pitch)
        << GetParam().Width << " x " << GetParam().Height;
    EXPECT_EQ(state.Pitch, 64);
    state.Mode = "G";
    pruvex::Draw(state, GetParam().Width, GetParam().Height);
    EXPECT_EQ(state.Pitch, GetParam().Pitch) << GetParam().Width << " x " << GetParam().Height;
}

INSTANTIATE_TEST_SUITE_P(ClientSizes, PitchTable,
                         testing::Values(PitchCase{776, 520, 61},  // dy 61 < dx 62
                                         PitchCase{2000, 520, 61}, // wide: the height decides
                                         PitchCase{500, 2000,
                                                   39}, // tall: the width decides (468 / 12)
                                         PitchCase{2000, 228, 24},  // 196 / 8 = 24.5 to even
                                         PitchCase{2000, 236, 26},  // 204 / 8 = 25.5 to even
                                         PitchCase{230, 2000, 16},  // 198 / 12 = 16.5 to even
                                         PitchCase{2000, 36, 0},    // 4 / 8 = 0.5 to even
                                         PitchCase{38, 2000, 0},    // 6 / 12 = 0.5 to even
                                         PitchCase{2000, 27, -1},   // -5 / 8
                                         PitchCase{2000, 21, -1},   // -11 / 8 = -1.375
                                         PitchCase{0, 0, -4},       // minimised: -32 / 8
                                         PitchCase{3840, 2160, 266} // 2128 / 8
                                         ));

TEST(DrawGrid, StartupSizeMatchesTheWorkedExample) {
    PatternState state;
    state.Mode = "G";
    const Picture picture = pruvex::Draw(state, 776, 520);
    EXPECT_EQ(picture.Background, pruvex::White);
    ASSERT_EQ(picture.Squares.size(), 77U);
    const auto& first = picture.Squares.front();
    EXPECT_EQ(first.X1, 31.5F);
    EXPECT_EQ(first.Y1, 31.5F);
    EXPECT_EQ(first.X2, 92.5F);
    EXPECT_EQ(first.Y2, 92.5F);
    EXPECT_EQ(first.Level, 25);
    EXPECT_EQ(first.Fill, (Colour{25, 11, 17}));
    const auto& last = picture.Squares.back();
    EXPECT_EQ(last.X1, 641.5F);
    EXPECT_EQ(last.Y1, 397.5F);
    EXPECT_EQ(last.X2, 702.5F);
    EXPECT_EQ(last.Y2, 458.5F);
    EXPECT_EQ(last.Level, 329);
    EXPECT_EQ(last.Fill, (Colour{255, 150, 224}));
    // Reading order, levels rising by 4, neighbours sharing an edge.
    for (std::size_t k = 0; k < picture.Squares.size(); ++k) {
        const auto& square = picture.Squares[k];
        const int row = static_cast<int>(k / 11);
        const int col = static_cast<int>(k % 11);
        EXPECT_EQ(square.Level, 25 + 4 * static_cast<int>(k));
        EXPECT_EQ(square.Pixels,
                  (PixelRect{31 + 61 * col, 31 + 61 * row, 92 + 61 * col, 92 + 61 * row}))
            << "square " << k;
    }
}

TEST(DrawGrid, LevelsFromTheFirstSquare) {
    PatternState state;
    state.Mode = "G";
    state.GridLevel = 0;
    Picture picture = pruvex::Draw(state, 776, 520);
    EXPECT_EQ(picture.Squares.front().Fill, (Colour{0, 0, 0}));
    EXPECT_EQ(picture.Squares.back().Level, 304);
    state.GridLevel = 178;
    picture = pruvex::Draw(state, 776, 520);
    EXPECT_EQ(picture.Squares.front().Fill, (Colour{178, 81, 121}));
    EXPECT_EQ(picture.Squares.back().Level, 482);
    EXPECT_EQ(picture.Squares.back().Fill, (Colour{255, 219, 255}));
    EXPECT_EQ(state.GridLevel, 178) << "drawing leaves GridLevel alone";
}

struct TinyCase {
    float Height;
    std::int16_t Pitch;
    std::size_t Rows;
    std::size_t Cols;
    float LastRowY; // the counter of the last row
};

class TinyWindowTable : public testing::TestWithParam<TinyCase> {};

TEST_P(TinyWindowTable, FollowsTheCountingRule) {
    PatternState state;
    state.Mode = "G";
    const Picture picture = pruvex::Draw(state, 800, GetParam().Height);
    EXPECT_EQ(state.Pitch, GetParam().Pitch);
    ASSERT_EQ(picture.Squares.size(), GetParam().Rows * GetParam().Cols);
    if (picture.Squares.empty()) {
        return;
    }
    const double half = GetParam().Pitch / 2.0;
    EXPECT_EQ(picture.Squares.back().Y1, static_cast<float>(GetParam().LastRowY + half));
    EXPECT_EQ(picture.Squares.back().Level,
              25 + 4 * static_cast<int>(GetParam().Rows * GetParam().Cols - 1));
    for (const auto& square : picture.Squares) {
        EXPECT_LE(square.Pixels.Left, 1) << "only a sliver at the top-left may show";
        EXPECT_LE(square.Pixels.Top, 1);
    }
}

// Width 800 gives dx 64, so the height's negative candidate wins.
INSTANTIATE_TEST_SUITE_P(Pitches, TinyWindowTable,
                         testing::Values(TinyCase{36, 0, 0, 0, 0},    // bound 0 below the start
                                         TinyCase{24, -1, 9, 13, -7}, // 1, 0, ... -7
                                         TinyCase{16, -2, 8, 12, -13},
                                         TinyCase{0, -4, 8, 12, -27})); // 1, -3, ... -27

// Painting writes each pixel once: the plan's rectangles cover the drawing
// area exactly once and give every pixel the colour that painting the
// background and then each square in turn would leave.
TEST(PaintPlan, CoversEveryPixelOnceWithThePaintersColour) {
    const std::pair<int, int> clients[] = {{776, 520}, {1000, 700}, {300, 36}, {800, 24},
                                           {800, 16},  {40, 40},    {5, 5},    {1920, 1080}};
    for (const auto& [width, height] : clients) {
        for (const char* mode : {"F", "G"}) {
            PatternState state;
            state.Mode = mode;
            const Picture picture =
                pruvex::Draw(state, static_cast<float>(width), static_cast<float>(height));
            const int w = width - 4;
            const int h = height - 4;
            std::vector<Colour> painted(static_cast<std::size_t>(w) * static_cast<std::size_t>(h),
                                        picture.Background);
            const auto at = [&](int x, int y) {
                return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) +
                       static_cast<std::size_t>(x);
            };
            for (const auto& square : picture.Squares) {
                const PixelRect& p = square.Pixels;
                for (int y = std::max(p.Top, 0); y < std::min(p.Bottom, h); ++y) {
                    for (int x = std::max(p.Left, 0); x < std::min(p.Right, w); ++x) {
                        painted[at(x, y)] = square.Fill;
                    }
                }
            }
            std::vector<int> writes(painted.size(), 0);
            bool sameColour = true;
            for (const pruvex::PaintRect& rect : pruvex::PaintPlan(picture, w, h)) {
                const PixelRect& p = rect.Pixels;
                ASSERT_TRUE(p.Left >= 0 && p.Top >= 0 && p.Right <= w && p.Bottom <= h);
                for (int y = p.Top; y < p.Bottom; ++y) {
                    for (int x = p.Left; x < p.Right; ++x) {
                        ++writes[at(x, y)];
                        sameColour = sameColour && painted[at(x, y)] == rect.Fill;
                    }
                }
            }
            EXPECT_TRUE(std::all_of(writes.begin(), writes.end(), [](int n) { return n == 1; }))
                << mode << " " << width << " x " << height;
            EXPECT_TRUE(sameColour) << mode << " " << width << " x " << height;
        }
    }
}

TEST(DrawGrid, MinusOnePitchReachesGridLevelPlus464) {
    PatternState state;
    state.Mode = "G";
    state.GridLevel = 178;
    const Picture picture = pruvex::Draw(state, 800, 24);
    ASSERT_EQ(picture.Squares.size(), 117U);
    EXPECT_EQ(picture.Squares.back().Level, 178 + 464);
    EXPECT_EQ(picture.Squares.back().Fill, (Colour{255, 255, 255}));
}

TEST(RoundHalfEven, HalvesGoToTheEvenNeighbour) {
    const std::pair<double, double> cases[] = {{2.5, 2},   {3.5, 4},     {-0.5, -0},    {-1.5, -2},
                                               {-2.5, -2}, {0.49, 0},    {0.51, 1},     {24.5, 24},
                                               {16.5, 16}, {-1.375, -1}, {1e300, 1e300}};
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(pruvex::RoundHalfEven(value), expected) << value;
    }
}

TEST(CheckedDeathTest, OverflowIsReportedOnOneLineAndEndsTheProcess) {
    EXPECT_EXIT(pruvex::Add16(32767, 1, "test overflow"),
                testing::ExitedWithCode(pruvex::FatalExitStatus),
                "^pruvex: fatal error: test overflow\n$");
    EXPECT_EXIT(pruvex::RoundToInt16(std::numeric_limits<double>::quiet_NaN(), "not a number"),
                testing::ExitedWithCode(pruvex::FatalExitStatus), "not a number");
    EXPECT_EXIT(pruvex::RoundToInt16(32767.5, "rounds out of range"),
                testing::ExitedWithCode(pruvex::FatalExitStatus), "rounds out of range");
}

// A window larger than 16 bits can count is the fatal error, never a wrong picture.
TEST(CheckedDeathTest, GiantWindowIsFatal) {
    PatternState state;
    state.Mode = "G";
    EXPECT_EXIT(pruvex::Draw(state, 65535, 65535), testing::ExitedWithCode(pruvex::FatalExitStatus),
                "16-bit overflow in grid drawing");
}

} // namespace

namespace {

TEST(IconPixels, FourByFourMosaicRisingInReadingOrder) {
    const PatternState state;
    for (const int size : {16, 32, 48}) {
        const std::vector<Colour> pixels = pruvex::IconPixels(size);
        ASSERT_EQ(pixels.size(), static_cast<std::size_t>(size * size));
        const int cell = size / 4;
        const auto at = [&](int x, int y) {
            return pixels[static_cast<std::size_t>(y * size + x)];
        };
        EXPECT_EQ(at(0, 0), pruvex::LevelColour(16, state)) << size;
        EXPECT_EQ(at(cell - 1, cell - 1), pruvex::LevelColour(16, state)) << size;
        EXPECT_EQ(at(cell, 0), pruvex::LevelColour(32, state)) << size;
        EXPECT_EQ(at(0, cell), pruvex::LevelColour(80, state)) << size;
        EXPECT_EQ(at(size - 1, size - 1), (Colour{255, 116, 175})) << size; // level 256
    }
}

} // namespace
