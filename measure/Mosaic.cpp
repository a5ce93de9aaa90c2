#include "measure/Mosaic.h"

#include "pattern/Picture.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numbers>
#include <numeric>

namespace pruvex::measure {

const MosaicLayout& TheMosaic() {
    static const MosaicLayout layout = [] {
        PatternState state;
        state.Mode = "G";
        // Any window that holds the whole mosaic gives the same columns, rows
        // and levels; only the pitch follows the window.
        const Picture picture = DrawGrid(state, 1000.0F, 700.0F);
        MosaicLayout result;
        result.Columns = state.GridCols;
        result.Rows = state.GridRows;
        const double pitch = state.Pitch;
        const FilledSquare& first = picture.Squares.front();
        for (const FilledSquare& square : picture.Squares) {
            result.Squares.push_back(
                {static_cast<int>(std::lround(static_cast<double>(square.X1 - first.X1) / pitch)),
                 static_cast<int>(std::lround(static_cast<double>(square.Y1 - first.Y1) / pitch)),
                 square.Level});
        }
        return result;
    }();
    return layout;
}

Point SquareCentre(const Placement& placement, int column, int row) {
    const double u = (column + 0.5) * placement.Pitch;
    const double v = (row + 0.5) * placement.Pitch;
    const double c = std::cos(placement.Angle);
    const double s = std::sin(placement.Angle);
    return {placement.Left + u * c - v * s, placement.Top + u * s + v * c};
}

namespace {

// The frame reduced to cells of an even number of pixels a side, so that
// every cell holds each site of the pattern alike: the mean signal above
// black of the cell, all channels together.
struct Cells {
    int Size = 2;
    int Width = 0;
    int Height = 0;
    std::vector<double> Signal;
    double At(int x, int y) const {
        return Signal[static_cast<std::size_t>(y) * static_cast<std::size_t>(Width) +
                      static_cast<std::size_t>(x)];
    }
};

// About 256 cells along the longer side.
constexpr int CellsAlongLongerSide = 256;

Cells MakeCells(const CfaFrame& frame) {
    Cells cells;
    const int longer = std::max(frame.Width, frame.Height);
    // A whole number of patterns each way.
    const int unit = std::lcm(2, std::lcm(frame.PatternWidth, frame.PatternHeight));
    cells.Size =
        unit * std::max(1, static_cast<int>(std::lround(
                               longer / (static_cast<double>(unit) * CellsAlongLongerSide))));
    cells.Width = frame.Width / cells.Size;
    cells.Height = frame.Height / cells.Size;
    cells.Signal.assign(
        static_cast<std::size_t>(cells.Width) * static_cast<std::size_t>(cells.Height), 0.0);
    if (cells.Width == 0 || cells.Height == 0) {
        return cells;
    }
    std::vector<double> rowSums(static_cast<std::size_t>(cells.Width));
    for (int y = 0; y < cells.Height * cells.Size; ++y) {
        // The black level of a cell's pixels in this row.
        double black = 0;
        for (int x = 0; x < frame.PatternWidth; ++x) {
            black += frame.BlackAt(x, y);
        }
        black *= static_cast<double>(cells.Size) / frame.PatternWidth;
        const std::uint16_t* row = frame.Values.data() + static_cast<std::size_t>(y) *
                                                             static_cast<std::size_t>(frame.Width);
        for (int cx = 0; cx < cells.Width; ++cx) {
            double sum = 0;
            const int x0 = cx * cells.Size;
            for (int x = x0; x < x0 + cells.Size; ++x) {
                sum += row[x];
            }
            rowSums[static_cast<std::size_t>(cx)] = sum - black;
        }
        double* target = cells.Signal.data() + static_cast<std::size_t>(y / cells.Size) *
                                                   static_cast<std::size_t>(cells.Width);
        for (int cx = 0; cx < cells.Width; ++cx) {
            target[cx] += rowSums[static_cast<std::size_t>(cx)];
        }
    }
    const double area = static_cast<double>(cells.Size) * cells.Size;
    for (double& value : cells.Signal) {
        value /= area;
    }
    return cells;
}

// A profile along one axis of the mosaic: sums of the brightness gradient
// across that axis, in bins of a quarter cell.
constexpr double BinWidth = 0.25;

struct Profile {
    double Origin = 0; // position of bin 0, in cells
    std::vector<double> Sums;

    void Add(double position, double value) {
        const double f = (position - Origin) / BinWidth;
        const double floor = std::floor(f);
        const double w = f - floor;
        const auto i = static_cast<long>(floor);
        if (i >= 0 && static_cast<std::size_t>(i) + 1 < Sums.size()) {
            Sums[static_cast<std::size_t>(i)] += (1 - w) * value;
            Sums[static_cast<std::size_t>(i) + 1] += w * value;
        }
    }
    double Position(double bin) const { return Origin + bin * BinWidth; }
};

// Coordinates along the mosaic's rows (u) and columns (v) of a point in
// cells, for rows at the given angle.
struct Axes {
    double Cos = 1;
    double Sin = 0;
    double U(double x, double y) const { return x * Cos + y * Sin; }
    double V(double x, double y) const { return -x * Sin + y * Cos; }
};

struct Extent {
    double Low = 0;
    double High = 0;
};

Extent ExtentOf(const Axes& axes, double width, double height, bool alongU) {
    Extent e{std::numeric_limits<double>::max(), std::numeric_limits<double>::lowest()};
    for (const double x : {0.0, width}) {
        for (const double y : {0.0, height}) {
            const double p = alongU ? axes.U(x, y) : axes.V(x, y);
            e.Low = std::min(e.Low, p);
            e.High = std::max(e.High, p);
        }
    }
    return e;
}

Profile EmptyProfile(const Extent& extent) {
    Profile p;
    p.Origin = extent.Low - 1;
    p.Sums.assign(static_cast<std::size_t>((extent.High - extent.Low + 2) / BinWidth) + 2, 0.0);
    return p;
}

struct Profiles {
    Profile Rows;    // along v: edges between rows
    Profile Columns; // along u: edges between columns
};

Profiles Project(const std::vector<double>& logSignal, int width, int height, const Axes& axes) {
    Profiles p{EmptyProfile(ExtentOf(axes, width, height, false)),
               EmptyProfile(ExtentOf(axes, width, height, true))};
    const auto at = [&](int x, int y) {
        return logSignal[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                         static_cast<std::size_t>(x)];
    };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (y + 1 < height) {
                p.Rows.Add(axes.V(x + 0.5, y + 1.0), at(x, y + 1) - at(x, y));
            }
            if (x + 1 < width) {
                p.Columns.Add(axes.U(x + 1.0, y + 0.5), at(x + 1, y) - at(x, y));
            }
        }
    }
    return p;
}

// How sharply the edges line up: the sum of squares of the profiles, each
// summed over a cell first so that the bins' sampling does not count.
double Sharpness(const Profiles& p) {
    double sum = 0;
    for (const Profile* profile : {&p.Rows, &p.Columns}) {
        const std::vector<double>& s = profile->Sums;
        double window = 0;
        for (std::size_t i = 0; i < s.size(); ++i) {
            window += s[i];
            if (i >= 4) {
                window -= s[i - 4];
            }
            sum += window * window;
        }
    }
    return sum;
}

// The magnitude of a profile, smoothed over half a cell each way and
// compressed so that every edge clearly above the profile's noise counts
// about alike: the mosaic's few edges against white are many times
// stronger than the many edges between its squares.
std::vector<double> Strength(const Profile& profile, bool compress = true) {
    const std::vector<double>& s = profile.Sums;
    std::vector<double> out(s.size(), 0.0);
    const std::array<double, 5> kernel{1, 2, 3, 2, 1};
    for (std::size_t i = 0; i < s.size(); ++i) {
        double sum = 0;
        for (std::size_t k = 0; k < kernel.size(); ++k) {
            const std::size_t j = i + k;
            if (j >= 2 && j - 2 < s.size()) {
                sum += kernel[k] * std::abs(s[j - 2]);
            }
        }
        out[i] = sum / 9;
    }
    if (!compress) {
        return out;
    }
    std::vector<double> sorted(out);
    const auto middle = sorted.begin() + static_cast<std::ptrdiff_t>(sorted.size() / 2);
    std::nth_element(sorted.begin(), middle, sorted.end());
    const double largest = *std::max_element(out.begin(), out.end());
    const double knee = std::max(3 * *middle, 1e-3 * largest);
    if (knee > 0) {
        for (double& v : out) {
            v /= v + knee;
        }
    }
    return out;
}

double Sample(const std::vector<double>& a, double bin) {
    if (!(bin >= 0) || bin > static_cast<double>(a.size()) - 1) {
        return 0;
    }
    const double floor = std::floor(bin);
    const auto i = static_cast<std::size_t>(floor);
    const double w = bin - floor;
    return i + 1 < a.size() ? (1 - w) * a[i] + w * a[i + 1] : a[i];
}

struct Comb {
    double Phase = 0; // bins
    double Score = std::numeric_limits<double>::lowest();
};

// Teeth every pitch bins against the points halfway between them: an evenly
// spaced set of edges scores high, half or double their spacing does not.
Comb BestComb(const std::vector<double>& strength, double pitch) {
    Comb best;
    for (double phase = 0; phase < pitch; phase += 1) {
        double score = 0;
        int teeth = 0;
        for (double t = phase; t < static_cast<double>(strength.size()); t += pitch) {
            score += Sample(strength, t) -
                     0.5 * (Sample(strength, t - pitch / 2) + Sample(strength, t + pitch / 2));
            ++teeth;
        }
        score /= std::max(teeth, 1);
        if (score > best.Score) {
            best = {phase, score};
        }
    }
    return best;
}

// The edges near the comb's teeth, each where its smoothed peak lies:
// (tooth index, position in cells).
struct Edge {
    double Index = 0;
    double Position = 0;
};

// The positions: where the gradient of the linear signal peaks, whose
// blurred steps are symmetric (on the logarithmic scale they lean toward
// the darker side).
void CollectEdges(const Profile& profile, const std::vector<double>& strength,
                  const std::vector<double>& linear, double pitch, double phase,
                  std::vector<Edge>& edges) {
    const double window = pitch / 4;
    for (double t = phase, index = 0; t < static_cast<double>(strength.size());
         t += pitch, index += 1) {
        if (Sample(strength, t) < 0.6) {
            continue;
        }
        const auto lo = static_cast<long>(std::max(1.0, std::ceil(t - window)));
        const auto hi = static_cast<long>(
            std::min(static_cast<double>(linear.size()) - 2, std::floor(t + window)));
        long peak = -1;
        for (long i = lo; i <= hi; ++i) {
            if (peak < 0 ||
                linear[static_cast<std::size_t>(i)] > linear[static_cast<std::size_t>(peak)]) {
                peak = i;
            }
        }
        if (peak < 1) {
            continue;
        }
        const auto p = static_cast<std::size_t>(peak);
        const double a = linear[p - 1];
        const double b = linear[p];
        const double c = linear[p + 1];
        const double curvature = a - 2 * b + c;
        const double offset = curvature < 0 ? std::clamp(0.5 * (a - c) / curvature, -0.5, 0.5) : 0;
        edges.push_back({index, profile.Position(static_cast<double>(peak) + offset)});
    }
}

// Least squares for positions = phase + index x pitch on both axes, one
// pitch: the phases of the rows and columns and the common pitch, in cells.
struct Lines {
    double RowPhase = 0;
    double ColumnPhase = 0;
    double Pitch = 0;
};

bool FitLines(const std::vector<Edge>& rows, const std::vector<Edge>& columns, Lines& lines) {
    // Unknowns: row phase, column phase, pitch.
    double a[3][4] = {};
    const auto add = [&a](const Edge& e, int which) {
        double row[3] = {which == 0 ? 1.0 : 0.0, which == 1 ? 1.0 : 0.0, e.Index};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                a[i][j] += row[i] * row[j];
            }
            a[i][3] += row[i] * e.Position;
        }
    };
    for (const Edge& e : rows) {
        add(e, 0);
    }
    for (const Edge& e : columns) {
        add(e, 1);
    }
    // Gaussian elimination with partial pivoting.
    for (int col = 0; col < 3; ++col) {
        int pivot = col;
        for (int r = col + 1; r < 3; ++r) {
            if (std::abs(a[r][col]) > std::abs(a[pivot][col])) {
                pivot = r;
            }
        }
        if (std::abs(a[pivot][col]) < 1e-9) {
            return false;
        }
        for (int k = 0; k < 4; ++k) {
            std::swap(a[col][k], a[pivot][k]);
        }
        for (int r = 0; r < 3; ++r) {
            if (r != col) {
                const double f = a[r][col] / a[col][col];
                for (int k = col; k < 4; ++k) {
                    a[r][k] -= f * a[col][k];
                }
            }
        }
    }
    lines = {a[0][3] / a[0][0], a[1][3] / a[1][1], a[2][3] / a[2][2]};
    return std::isfinite(lines.Pitch) && lines.Pitch > 0;
}

// The brightness of the central part of every grid cell the lines make.
struct GridCells {
    int FirstColumn = 0;
    int FirstRow = 0;
    int Columns = 0;
    int Rows = 0;
    std::vector<double> Sum;
    std::vector<int> Count;
    int Needed = 1;

    std::size_t Index(int column, int row) const {
        return static_cast<std::size_t>(row - FirstRow) * static_cast<std::size_t>(Columns) +
               static_cast<std::size_t>(column - FirstColumn);
    }
    bool Measured(int column, int row) const {
        return column >= FirstColumn && column < FirstColumn + Columns && row >= FirstRow &&
               row < FirstRow + Rows && Count[Index(column, row)] >= Needed;
    }
    double Brightness(int column, int row) const {
        const std::size_t i = Index(column, row);
        return Sum[i] / Count[i];
    }
};

GridCells MeasureGridCells(const Cells& cells, const Axes& axes, const Lines& lines) {
    GridCells grid;
    const Extent us = ExtentOf(axes, cells.Width, cells.Height, true);
    const Extent vs = ExtentOf(axes, cells.Width, cells.Height, false);
    grid.FirstColumn = static_cast<int>(std::floor((us.Low - lines.ColumnPhase) / lines.Pitch));
    grid.FirstRow = static_cast<int>(std::floor((vs.Low - lines.RowPhase) / lines.Pitch));
    grid.Columns = static_cast<int>(std::floor((us.High - lines.ColumnPhase) / lines.Pitch)) -
                   grid.FirstColumn + 1;
    grid.Rows =
        static_cast<int>(std::floor((vs.High - lines.RowPhase) / lines.Pitch)) - grid.FirstRow + 1;
    const std::size_t size =
        static_cast<std::size_t>(grid.Columns) * static_cast<std::size_t>(grid.Rows);
    grid.Sum.assign(size, 0.0);
    grid.Count.assign(size, 0);
    // A cell without its edges, 70 % each way; a tenth of that in the frame
    // is enough, so that the sliver of a square cut by the frame still
    // tells which square it is.
    const double side = 0.7 * lines.Pitch;
    grid.Needed = std::max(1, static_cast<int>(0.1 * side * side));
    for (int y = 0; y < cells.Height; ++y) {
        for (int x = 0; x < cells.Width; ++x) {
            const double u = (axes.U(x + 0.5, y + 0.5) - lines.ColumnPhase) / lines.Pitch;
            const double v = (axes.V(x + 0.5, y + 0.5) - lines.RowPhase) / lines.Pitch;
            const double fu = u - std::floor(u);
            const double fv = v - std::floor(v);
            if (fu < 0.15 || fu > 0.85 || fv < 0.15 || fv > 0.85) {
                continue;
            }
            const auto column = static_cast<int>(std::floor(u));
            const auto row = static_cast<int>(std::floor(v));
            if (column < grid.FirstColumn || column >= grid.FirstColumn + grid.Columns ||
                row < grid.FirstRow || row >= grid.FirstRow + grid.Rows) {
                continue;
            }
            const std::size_t i = grid.Index(column, row);
            grid.Sum[i] += cells.At(x, y);
            ++grid.Count[i];
        }
    }
    return grid;
}

struct Verdict {
    int Agree = 0;
    int Disagree = 0;
    int Squares = 0;
    // Every column and every row of the mosaic has a square in the frame,
    // as a framing that keeps part of each outer square has.
    bool Whole = false;
};

// How well the mosaic with its first square on grid cell (column0, row0)
// explains the brightness of the cells: neighbours in the mosaic ordered as
// their levels, cells around it brighter than the squares they touch.
Verdict Judge(const GridCells& grid, const MosaicLayout& layout, const std::vector<int>& levelAt,
              int column0, int row0, double saturated) {
    Verdict verdict;
    const auto level = [&](int c, int r) {
        return levelAt[static_cast<std::size_t>(r) * static_cast<std::size_t>(layout.Columns) +
                       static_cast<std::size_t>(c)];
    };
    const auto inside = [&](int c, int r) {
        return c >= 0 && c < layout.Columns && r >= 0 && r < layout.Rows;
    };
    const auto compare = [&verdict](bool agrees) { ++(agrees ? verdict.Agree : verdict.Disagree); };
    std::vector<bool> columnSeen(static_cast<std::size_t>(layout.Columns), false);
    std::vector<bool> rowSeen(static_cast<std::size_t>(layout.Rows), false);
    for (const MosaicSquare& square : layout.Squares) {
        const int gc = column0 + square.Column;
        const int gr = row0 + square.Row;
        if (!grid.Measured(gc, gr) || !inside(square.Column, square.Row)) {
            continue;
        }
        ++verdict.Squares;
        columnSeen[static_cast<std::size_t>(square.Column)] = true;
        rowSeen[static_cast<std::size_t>(square.Row)] = true;
        const double here = grid.Brightness(gc, gr);
        const int dc[] = {1, 0, -1, 0};
        const int dr[] = {0, 1, 0, -1};
        for (int k = 0; k < 4; ++k) {
            const int nc = square.Column + dc[k];
            const int nr = square.Row + dr[k];
            if (!grid.Measured(gc + dc[k], gr + dr[k])) {
                continue;
            }
            const double there = grid.Brightness(gc + dc[k], gr + dr[k]);
            if (here >= saturated && there >= saturated) {
                continue; // both clipped in every channel: alike, whatever their levels
            }
            if (!inside(nc, nr)) {
                compare(there > here);
            } else if (k < 2 && level(nc, nr) != square.Level) {
                compare((there > here) == (level(nc, nr) > square.Level));
            }
        }
    }
    const auto all = [](const std::vector<bool>& seen) {
        return std::all_of(seen.begin(), seen.end(), [](bool b) { return b; });
    };
    verdict.Whole = all(columnSeen) && all(rowSeen);
    return verdict;
}

// How far the squares' brightness lies from a power of their levels, with
// the first square on grid cell (column0, row0): between neighbours in the
// mosaic, the step in log brightness against the step in log level, a line
// through the origin, its mean square residual. Steps between neighbours
// leave out the frame's slow fall-off of light.
double PowerMisfit(const GridCells& grid, const MosaicLayout& layout,
                   const std::vector<int>& levelAt, int column0, int row0, double saturated) {
    const auto usable = [&](int c, int r, double& brightness) {
        if (c < 0 || c >= layout.Columns || r < 0 || r >= layout.Rows ||
            !grid.Measured(column0 + c, row0 + r)) {
            return false;
        }
        brightness = grid.Brightness(column0 + c, row0 + r);
        return brightness > 1e-3 * saturated && brightness < 0.9 * saturated;
    };
    const auto level = [&](int c, int r) {
        return levelAt[static_cast<std::size_t>(r) * static_cast<std::size_t>(layout.Columns) +
                       static_cast<std::size_t>(c)];
    };
    double n = 0;
    double sxx = 0;
    double sxy = 0;
    double syy = 0;
    for (int r = 0; r < layout.Rows; ++r) {
        for (int c = 0; c < layout.Columns; ++c) {
            double here = 0;
            if (!usable(c, r, here) || level(c, r) <= 0) {
                continue;
            }
            for (const auto& [dc, dr] : {std::pair{1, 0}, std::pair{0, 1}}) {
                double there = 0;
                if (!usable(c + dc, r + dr, there) || level(c + dc, r + dr) <= 0) {
                    continue;
                }
                const double x = std::log(static_cast<double>(level(c + dc, r + dr)) /
                                          static_cast<double>(level(c, r)));
                const double y = std::log(there / here);
                n += 1;
                sxx += x * x;
                sxy += x * y;
                syy += y * y;
            }
        }
    }
    if (n < 3 || !(sxx > 0)) {
        return std::numeric_limits<double>::max();
    }
    return std::max(0.0, syy - sxy * sxy / sxx) / n;
}

// Brightness on a logarithmic scale, so that the steps between dark squares
// count as much as those between bright ones.
std::vector<double> LogSignal(const CfaFrame& frame, const Cells& cells, double blackMean) {
    const double floor = std::max(0.5, 2e-4 * (frame.White - blackMean));
    std::vector<double> logSignal(cells.Signal.size());
    std::transform(cells.Signal.begin(), cells.Signal.end(), logSignal.begin(),
                   [floor](double s) { return std::log(std::max(s, floor)); });
    return logSignal;
}

Axes AxesAt(double angle) {
    return Axes{std::cos(angle), std::sin(angle)};
}

// The angle at which the edges line up sharpest, within 3 degrees.
double SharpestAngle(const std::vector<double>& logSignal, const Cells& cells) {
    const double degree = std::numbers::pi / 180;
    double bestAngle = 0;
    double bestSharpness = -1;
    const auto tryAngle = [&](double angle) {
        const double s = Sharpness(Project(logSignal, cells.Width, cells.Height, AxesAt(angle)));
        if (s > bestSharpness) {
            bestSharpness = s;
            bestAngle = angle;
        }
    };
    for (int step = -12; step <= 12; ++step) {
        tryAngle(step * 0.25 * degree);
    }
    const double coarse = bestAngle;
    for (int step = -5; step <= 5; ++step) {
        tryAngle(coarse + step * 0.05 * degree);
    }
    return bestAngle;
}

struct PitchScore {
    double Pitch = 0;
    double Score = 0;
    Comb Rows;
    Comb Columns;
};

// The pitches worth trying, best first: from a mosaic on a margin of a
// fifth of the frame to one cut by nearly a square on every side. The few
// best comb scores, each a peak of the scores and apart from the others:
// where only a corner of the mosaic is below clipping, its few edges may
// line up at a wrong pitch as well as at the right one.
std::vector<PitchScore> PitchesToTry(const std::vector<double>& rowStrength,
                                     const std::vector<double>& columnStrength, double nominal) {
    const double lowest = std::max(2.0, 0.6 * nominal) / BinWidth;
    const double highest = 1.6 * nominal / BinWidth;
    std::vector<PitchScore> scores;
    for (double p = lowest; p <= highest; p += 0.5) {
        const Comb r = BestComb(rowStrength, p);
        const Comb c = BestComb(columnStrength, p);
        scores.push_back({p, r.Score + c.Score, r, c});
    }
    std::vector<PitchScore> peaks;
    for (std::size_t i = 0; i < scores.size(); ++i) {
        const bool peak = scores[i].Score > 0 &&
                          (i == 0 || scores[i].Score >= scores[i - 1].Score) &&
                          (i + 1 == scores.size() || scores[i].Score >= scores[i + 1].Score);
        if (peak) {
            peaks.push_back(scores[i]);
        }
    }
    std::sort(peaks.begin(), peaks.end(),
              [](const PitchScore& a, const PitchScore& b) { return a.Score > b.Score; });
    std::vector<PitchScore> tried;
    for (const PitchScore& peak : peaks) {
        const bool apart = std::all_of(tried.begin(), tried.end(), [&](const PitchScore& t) {
            return std::abs(peak.Pitch / t.Pitch - 1) > 0.1;
        });
        if (apart && peak.Score >= 0.3 * peaks.front().Score) {
            tried.push_back(peak);
        }
        if (tried.size() == 4) {
            break;
        }
    }
    return tried;
}

// The level of every place of the mosaic, row by row.
std::vector<int> LevelsByPlace(const MosaicLayout& layout) {
    std::vector<int> levelAt(
        static_cast<std::size_t>(layout.Columns) * static_cast<std::size_t>(layout.Rows), 0);
    for (const MosaicSquare& square : layout.Squares) {
        if (square.Column >= 0 && square.Column < layout.Columns && square.Row >= 0 &&
            square.Row < layout.Rows) {
            levelAt[static_cast<std::size_t>(square.Row) *
                        static_cast<std::size_t>(layout.Columns) +
                    static_cast<std::size_t>(square.Column)] = square.Level;
        }
    }
    return levelAt;
}

// What the search needs of a frame besides its cells.
struct Search {
    const MosaicLayout& Layout;
    std::vector<int> LevelAt;
    double Saturated = 0;
};

struct Candidate {
    Verdict Score;
    int Column = 0;
    int Row = 0;
};

// Every grid cell the first square may lie on, judged.
std::vector<Candidate> JudgeEveryStart(const GridCells& grid, const Search& search,
                                       int& highestScore) {
    const MosaicLayout& layout = search.Layout;
    std::vector<Candidate> candidates;
    highestScore = std::numeric_limits<int>::min();
    for (int r0 = grid.FirstRow - layout.Rows + 1; r0 < grid.FirstRow + grid.Rows; ++r0) {
        for (int c0 = grid.FirstColumn - layout.Columns + 1; c0 < grid.FirstColumn + grid.Columns;
             ++c0) {
            const Verdict v = Judge(grid, layout, search.LevelAt, c0, r0, search.Saturated);
            candidates.push_back({v, c0, r0});
            highestScore = std::max(highestScore, v.Agree - v.Disagree);
        }
    }
    return candidates;
}

// Which grid cell holds the first square: among the starts whose order
// agrees nearly best, one that keeps every column and row of the mosaic in
// the frame (a placement that leaves one wholly out is no framing the guide
// allows: such a one only where no other comes near), then the one whose
// squares lie closest to a power of their levels. Where the order cannot
// tell (a mosaic filling the frame whose brighter rows are clipped shows no
// edge of its own), the brightness can: the monitor's light grows as a
// power of the level, and only the right levels put the squares on one
// such line. Nothing unless most comparisons agree and enough squares are
// seen.
std::optional<Candidate> FirstSquare(const GridCells& grid, const Search& search) {
    int highestScore = 0;
    const std::vector<Candidate> candidates = JudgeEveryStart(grid, search, highestScore);
    const auto near = [&](const Candidate& c) {
        return c.Score.Agree - c.Score.Disagree >= highestScore - 2;
    };
    const bool anyWhole = std::any_of(candidates.begin(), candidates.end(),
                                      [&](const Candidate& c) { return c.Score.Whole && near(c); });
    Candidate chosen;
    double leastMisfit = std::numeric_limits<double>::max();
    bool any = false;
    for (const Candidate& c : candidates) {
        if (!near(c) || (anyWhole && !c.Score.Whole)) {
            continue;
        }
        const double misfit =
            PowerMisfit(grid, search.Layout, search.LevelAt, c.Column, c.Row, search.Saturated);
        if (!any || misfit < leastMisfit ||
            (misfit == leastMisfit &&
             c.Score.Agree - c.Score.Disagree > chosen.Score.Agree - chosen.Score.Disagree)) {
            leastMisfit = misfit;
            chosen = c;
            any = true;
        }
    }
    const Verdict& best = chosen.Score;
    const int comparisons = best.Agree + best.Disagree;
    if (!any || best.Squares < 8 || best.Agree < 12 || best.Agree < 0.8 * comparisons) {
        return std::nullopt;
    }
    return chosen;
}

// The lines of the grid at one pitch, from the edges near the comb's teeth.
std::optional<Lines> GridLines(const Profiles& profiles, const std::vector<double>& rowStrength,
                               const std::vector<double>& columnStrength,
                               const Profiles& linearStrength, const PitchScore& pitch) {
    std::vector<Edge> rowEdges;
    std::vector<Edge> columnEdges;
    CollectEdges(profiles.Rows, rowStrength, linearStrength.Rows.Sums, pitch.Pitch,
                 pitch.Rows.Phase, rowEdges);
    CollectEdges(profiles.Columns, columnStrength, linearStrength.Columns.Sums, pitch.Pitch,
                 pitch.Columns.Phase, columnEdges);
    Lines lines;
    if (rowEdges.empty() || columnEdges.empty() || rowEdges.size() + columnEdges.size() < 3 ||
        !FitLines(rowEdges, columnEdges, lines) || lines.Pitch < 2) {
        return std::nullopt;
    }
    return lines;
}

// The first square's corner in pixels, from its grid cell.
Placement PlacementOf(const Lines& lines, const Candidate& first, double angle, int cellSize) {
    const Axes axes = AxesAt(angle);
    const double u0 = lines.ColumnPhase + first.Column * lines.Pitch;
    const double v0 = lines.RowPhase + first.Row * lines.Pitch;
    Placement placement;
    placement.Angle = angle;
    placement.Pitch = lines.Pitch * cellSize;
    placement.Left = (u0 * axes.Cos - v0 * axes.Sin) * cellSize;
    placement.Top = (u0 * axes.Sin + v0 * axes.Cos) * cellSize;
    return placement;
}

double MeanBlack(const CfaFrame& frame) {
    double blackMean = 0;
    for (int site = 0; site < frame.SiteCount(); ++site) {
        blackMean += frame.Black[static_cast<std::size_t>(site)] / frame.SiteCount();
    }
    return blackMean;
}

} // namespace

std::optional<Placement> FindMosaic(const CfaFrame& frame, const MosaicLayout& layout) {
    if (layout.Columns <= 0 || layout.Rows <= 0 || layout.Squares.empty() || !frame.Valid()) {
        return std::nullopt;
    }
    const Cells cells = MakeCells(frame);
    if (cells.Width < 8 || cells.Height < 8) {
        return std::nullopt;
    }
    const double blackMean = MeanBlack(frame);
    const std::vector<double> logSignal = LogSignal(frame, cells, blackMean);
    const double angle = SharpestAngle(logSignal, cells);
    const Axes axes = AxesAt(angle);
    const Profiles profiles = Project(logSignal, cells.Width, cells.Height, axes);
    const std::vector<double> rowStrength = Strength(profiles.Rows);
    const std::vector<double> columnStrength = Strength(profiles.Columns);
    const double nominal = std::min(static_cast<double>(cells.Width) / layout.Columns,
                                    static_cast<double>(cells.Height) / layout.Rows);
    const std::vector<PitchScore> tried = PitchesToTry(rowStrength, columnStrength, nominal);
    // A square at this level is clipped in every channel: the white level
    // less the rounding of a few noisy pixels.
    const Search search{layout, LevelsByPlace(layout), 0.97 * (frame.White - blackMean)};
    const Profiles linear = Project(cells.Signal, cells.Width, cells.Height, axes);
    Profiles linearStrength;
    linearStrength.Rows.Sums = Strength(linear.Rows, false);
    linearStrength.Columns.Sums = Strength(linear.Columns, false);

    std::optional<Placement> result;
    int resultSquares = 0;
    for (const PitchScore& pitch : tried) {
        const std::optional<Lines> lines =
            GridLines(profiles, rowStrength, columnStrength, linearStrength, pitch);
        if (!lines) {
            continue;
        }
        const std::optional<Candidate> first =
            FirstSquare(MeasureGridCells(cells, axes, *lines), search);
        // The comb's best pitch, unless one nearly as good puts more of the
        // mosaic in the frame (the wrong one, a multiple of the right one,
        // puts part of the mosaic outside).
        if (!first || pitch.Score < 0.85 * tried.front().Score ||
            (result && first->Score.Squares <= resultSquares)) {
            continue;
        }
        result = PlacementOf(*lines, *first, angle, cells.Size);
        resultSquares = first->Score.Squares;
    }
    return result;
}

} // namespace pruvex::measure
