#include "SimulatedCamera.h"

#include "pattern/Picture.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <fstream>
#include <numbers>
#include <random>
#include <stdexcept>

namespace pruvex::testing {

namespace {

// The monitor: the window full screen on a 1920 x 1080 display, the mosaic
// drawn by the pattern engine, painted as a shell paints it.
constexpr int MonitorWidth = 1920;
constexpr int MonitorHeight = 1080;

struct Monitor {
    Picture Drawing;
    std::vector<Colour> Pixels; // of the drawing area
    int Width = 0;
    int Height = 0;
    double MosaicLeft = 0;
    double MosaicTop = 0;
    double MosaicWidth = 0;
    double MosaicHeight = 0;
    Colour Outside = White; // what the camera sees beyond the picture

    Colour At(double x, double y) const {
        const double fx = std::floor(x);
        const double fy = std::floor(y);
        if (fx < 0 || fy < 0 || fx >= Width || fy >= Height) {
            return Outside;
        }
        return Pixels[static_cast<std::size_t>(fy) * static_cast<std::size_t>(Width) +
                      static_cast<std::size_t>(fx)];
    }
};

const Monitor& TheMonitor() {
    static const Monitor monitor = [] {
        Monitor m;
        PatternState state;
        state.Mode = "G";
        m.Drawing = Draw(state, MonitorWidth, MonitorHeight);
        // The drawing area lies inside the surface's 2-pixel frame.
        m.Width = MonitorWidth - 4;
        m.Height = MonitorHeight - 4;
        m.Pixels.assign(static_cast<std::size_t>(m.Width) * static_cast<std::size_t>(m.Height),
                        White);
        for (const PaintRect& rect : PaintPlan(m.Drawing, m.Width, m.Height)) {
            for (int y = rect.Pixels.Top; y < rect.Pixels.Bottom; ++y) {
                for (int x = rect.Pixels.Left; x < rect.Pixels.Right; ++x) {
                    m.Pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(m.Width) +
                             static_cast<std::size_t>(x)] = rect.Fill;
                }
            }
        }
        const FilledSquare& first = m.Drawing.Squares.front();
        const FilledSquare& last = m.Drawing.Squares.back();
        m.MosaicLeft = first.X1;
        m.MosaicTop = first.Y1;
        m.MosaicWidth = static_cast<double>(last.X2 - first.X1);
        m.MosaicHeight = static_cast<double>(last.Y2 - first.Y1);
        return m;
    }();
    return monitor;
}

// Where the camera sees a point of the monitor, and back.
struct Framing {
    double Scale = 1; // camera pixels per monitor pixel
    double Cos = 1;
    double Sin = 0;
    double CameraX = 0; // the mosaic's centre in the camera
    double CameraY = 0;
    double MonitorX = 0; // and on the monitor
    double MonitorY = 0;

    void ToMonitor(double x, double y, double& mx, double& my) const {
        const double dx = x - CameraX;
        const double dy = y - CameraY;
        mx = MonitorX + (dx * Cos + dy * Sin) / Scale;
        my = MonitorY + (-dx * Sin + dy * Cos) / Scale;
    }
    void ToCamera(double mx, double my, double& x, double& y) const {
        const double dx = (mx - MonitorX) * Scale;
        const double dy = (my - MonitorY) * Scale;
        x = CameraX + dx * Cos - dy * Sin;
        y = CameraY + dx * Sin + dy * Cos;
    }
};

Framing FramingOf(const Sensor& sensor, const Scene& scene, const Monitor& m = TheMonitor()) {
    const double angle = scene.RotationDegrees * std::numbers::pi / 180;
    Framing f;
    f.Scale = scene.MosaicWidth * sensor.Width / m.MosaicWidth;
    f.Cos = std::cos(angle);
    f.Sin = std::sin(angle);
    f.CameraX = scene.CentreX * sensor.Width;
    f.CameraY = scene.CentreY * sensor.Height;
    f.MonitorX = m.MosaicLeft + m.MosaicWidth / 2;
    f.MonitorY = m.MosaicTop + m.MosaicHeight / 2;
    return f;
}

// The sensor channel's signal from a colour on the monitor, 1 for white in
// the channel that responds most.
double ChannelSignal(const Sensor& sensor, const Colour& colour, int channel) {
    double strongest = 0;
    for (const auto& row : sensor.Response) {
        strongest = std::max(strongest, row[0] + row[1] + row[2]);
    }
    const auto light = [](std::uint8_t v) { return std::pow(v / 255.0, 2.2); };
    const auto& r = sensor.Response[static_cast<std::size_t>(channel)];
    return (r[0] * light(colour.Red) + r[1] * light(colour.Green) + r[2] * light(colour.Blue)) /
           strongest;
}

double VignettingAt(const Sensor& sensor, const Scene& scene, double x, double y) {
    const double hx = sensor.Width / 2.0;
    const double hy = sensor.Height / 2.0;
    return 1 - scene.Vignetting * ((x - hx) * (x - hx) + (y - hy) * (y - hy)) / (hx * hx + hy * hy);
}

int ChannelOfLetter(char letter) {
    switch (letter) {
    case 'R':
        return 0;
    case 'G':
        return 1;
    case 'B':
        return 2;
    case 'Y':
        return 1;
    default:
        throw std::invalid_argument("a colour pattern of R, G and B");
    }
}

// A box blur of the given radius along rows, then along columns, the edges
// repeated.
void BoxBlur(std::vector<float>& plane, int width, int height, int radius) {
    if (radius <= 0) {
        return;
    }
    std::vector<float> line;
    const auto pass = [&](int count, int length, auto index) {
        line.resize(static_cast<std::size_t>(length));
        for (int i = 0; i < count; ++i) {
            double sum = 0;
            const auto at = [&](int j) { return plane[index(i, std::clamp(j, 0, length - 1))]; };
            for (int j = -radius; j <= radius; ++j) {
                sum += static_cast<double>(at(j));
            }
            for (int j = 0; j < length; ++j) {
                line[static_cast<std::size_t>(j)] = static_cast<float>(sum / (2 * radius + 1));
                sum +=
                    static_cast<double>(at(j + radius + 1)) - static_cast<double>(at(j - radius));
            }
            for (int j = 0; j < length; ++j) {
                plane[index(i, j)] = line[static_cast<std::size_t>(j)];
            }
        }
    };
    const auto w = static_cast<std::size_t>(width);
    pass(height, width, [w](int row, int x) {
        return static_cast<std::size_t>(row) * w + static_cast<std::size_t>(x);
    });
    pass(width, height, [w](int column, int y) {
        return static_cast<std::size_t>(y) * w + static_cast<std::size_t>(column);
    });
}

} // namespace

double Sensor::Bent(double dn) const {
    const double range = Clip() - Black[0];
    const double x = std::min(dn / range, 1.0);
    const double x4 = x * x * x * x;
    return dn * (1 - Droop * x4 * x4);
}

Exposure FixedExposure(double whiteElectronsAt250, double iso, double gain, double readNoise,
                       double shutter, std::uint64_t seed) {
    Exposure e;
    e.Iso = iso;
    e.Gain = gain;
    e.ReadNoise = readNoise;
    e.WhiteElectrons = whiteElectronsAt250 * shutter * 250;
    e.Shutter = shutter;
    e.Seed = seed;
    return e;
}

namespace {

// The value the file stores for a level in DN: clipped to the sensor's
// range, and through the linearisation table backwards when there is one.
std::uint16_t Stored(const Sensor& sensor, double dn) {
    const double level = std::clamp(std::nearbyint(dn), 0.0, sensor.Clip());
    const std::vector<std::uint16_t>& table = sensor.Linearisation;
    if (table.empty()) {
        return static_cast<std::uint16_t>(level);
    }
    const auto above = std::lower_bound(table.begin(), table.end(), level);
    if (above == table.end()) {
        return static_cast<std::uint16_t>(table.size() - 1);
    }
    auto code = above - table.begin();
    if (above != table.begin() && level - *(above - 1) < *above - level) {
        --code;
    }
    return static_cast<std::uint16_t>(code);
}

// What a bad pixel makes of a value: 0 a good one, 1 hot, 2 stuck at white,
// 3 dead; the same pixels in every frame of the sensor.
std::vector<std::uint8_t> BadPixels(const Sensor& sensor) {
    const auto count =
        static_cast<std::size_t>(sensor.Width) * static_cast<std::size_t>(sensor.Height);
    std::vector<std::uint8_t> bad(count, 0);
    if (sensor.HotPerThousand <= 0) {
        return bad;
    }
    std::mt19937_64 place(sensor.Seed * 7919 + 3);
    const auto n =
        static_cast<std::size_t>(static_cast<double>(count) * sensor.HotPerThousand / 1000);
    for (std::size_t i = 0; i < n; ++i) {
        bad[place() % count] = static_cast<std::uint8_t>(1 + i % 3);
    }
    return bad;
}

// The fixed pattern beyond each pixel's response: the dark offsets (DN)
// and the rows' and columns' response, the same in every frame.
struct FixedPattern {
    std::vector<float> Dark; // empty where there is none
    std::vector<double> RowGain;
    std::vector<double> ColumnGain;
};

FixedPattern PatternOf(const Sensor& sensor) {
    FixedPattern p;
    std::mt19937_64 engine(sensor.Seed * 104729 + 11);
    std::normal_distribution<double> normal;
    std::vector<double> rows(static_cast<std::size_t>(sensor.Height));
    std::vector<double> columns(static_cast<std::size_t>(sensor.Width));
    for (double& r : rows) {
        r = normal(engine);
    }
    for (double& c : columns) {
        c = normal(engine);
    }
    for (std::size_t y = 0; y < rows.size(); ++y) {
        p.RowGain.push_back(1 + sensor.PrnuRow * normal(engine));
    }
    for (std::size_t x = 0; x < columns.size(); ++x) {
        p.ColumnGain.push_back(1 + sensor.PrnuColumn * normal(engine));
    }
    if (sensor.DarkPixel > 0 || sensor.DarkRow > 0 || sensor.DarkColumn > 0) {
        for (const double r : rows) {
            for (const double c : columns) {
                p.Dark.push_back(static_cast<float>(sensor.DarkRow * r + sensor.DarkColumn * c +
                                                    sensor.DarkPixel * normal(engine)));
            }
        }
    }
    return p;
}

// The camera photographing whatever the monitor shows.
std::vector<std::uint16_t> ShootMonitor(const Monitor& monitor, const Sensor& sensor,
                                        const Scene& scene, const Exposure& exposure) {
    const auto w = static_cast<std::size_t>(sensor.Width);
    const auto h = static_cast<std::size_t>(sensor.Height);
    const auto side = static_cast<std::size_t>(sensor.PatternSide());
    std::vector<int> sites(side * side);
    for (std::size_t i = 0; i < sites.size(); ++i) {
        sites[i] = ChannelOfLetter(sensor.Pattern.at(i));
    }
    std::vector<std::uint16_t> values(w * h);
    std::mt19937_64 noise(exposure.Seed);
    std::normal_distribution<double> normal;
    const std::vector<std::uint8_t> bad = BadPixels(sensor);
    const FixedPattern fixedPattern = PatternOf(sensor);
    const auto store = [&](std::size_t i, double dn) {
        const double black = sensor.Black[((i / w) % 2) * 2 + (i % w) % 2];
        if (!fixedPattern.Dark.empty()) {
            dn += static_cast<double>(fixedPattern.Dark[i]);
        }
        if (exposure.DigitalGain > 1) {
            const double n = exposure.DigitalGain;
            dn = black + n * std::nearbyint((dn - black) / n);
        }
        switch (bad[i]) {
        case 1:
            dn += 0.3 * (sensor.White() - sensor.Black[0]);
            break;
        case 2:
            dn = sensor.White();
            break;
        case 3:
            dn = 0;
            break;
        default:
            break;
        }
        values[i] = Stored(sensor, dn);
    };
    if (exposure.WhiteElectrons <= 0) {
        for (std::size_t y = 0; y < h; ++y) {
            for (std::size_t x = 0; x < w; ++x) {
                store(y * w + x,
                      sensor.Black[(y % 2) * 2 + x % 2] + exposure.ReadNoise * normal(noise));
            }
        }
        return values;
    }
    // The light on the sensor, each channel's plane, blurred by defocus.
    const Framing framing = FramingOf(sensor, scene, monitor);
    std::array<std::vector<float>, 3> planes;
    for (auto& plane : planes) {
        plane.resize(w * h);
    }
    for (std::size_t y = 0; y < h; ++y) {
        for (std::size_t x = 0; x < w; ++x) {
            double mx = 0;
            double my = 0;
            framing.ToMonitor(static_cast<double>(x) + 0.5, static_cast<double>(y) + 0.5, mx, my);
            const Colour colour = monitor.At(mx, my);
            for (int ch = 0; ch < 3; ++ch) {
                planes[static_cast<std::size_t>(ch)][y * w + x] =
                    static_cast<float>(ChannelSignal(sensor, colour, ch));
            }
        }
    }
    for (auto& plane : planes) {
        BoxBlur(plane, sensor.Width, sensor.Height, scene.BlurRadius);
        BoxBlur(plane, sensor.Width, sensor.Height, scene.BlurRadius);
    }
    // Its own engine and distribution: a distribution keeps a spare value
    // between calls, which must not pass from the frame's noise to the
    // sensor's fixed pattern.
    std::mt19937_64 pattern(sensor.Seed);
    std::normal_distribution<double> fixed;
    for (std::size_t y = 0; y < h; ++y) {
        // The backlight while this row was exposed.
        const double backlight =
            exposure.Flicker *
            (1 + exposure.BandAmplitude *
                     std::sin(2 * std::numbers::pi *
                              (static_cast<double>(y) / exposure.BandPeriod + exposure.BandPhase)));
        for (std::size_t x = 0; x < w; ++x) {
            const auto ch = static_cast<std::size_t>(sites[(y % side) * side + x % side]);
            const double response = (1 + sensor.Prnu * fixed(pattern)) * fixedPattern.RowGain[y] *
                                    fixedPattern.ColumnGain[x];
            const double mean = static_cast<double>(planes[ch][y * w + x]) *
                                VignettingAt(sensor, scene, static_cast<double>(x) + 0.5,
                                             static_cast<double>(y) + 0.5) *
                                exposure.WhiteElectrons * response * backlight;
            double electrons = 0;
            if (mean < 100) {
                electrons = static_cast<double>(
                    std::poisson_distribution<long>(std::max(mean, 1e-9))(noise));
            } else {
                electrons = mean + std::sqrt(mean) * normal(noise);
            }
            store(y * w + x, sensor.Black[(y % 2) * 2 + x % 2] +
                                 sensor.Bent(electrons / exposure.Gain) +
                                 exposure.ReadNoise * normal(noise));
        }
    }
    return values;
}

} // namespace

std::vector<std::uint16_t> Shoot(const Sensor& sensor, const Scene& scene,
                                 const Exposure& exposure) {
    return ShootMonitor(TheMonitor(), sensor, scene, exposure);
}

double ExpectedSignal(const Sensor& sensor, const Scene& scene, const Exposure& exposure,
                      int square, int channel) {
    const Monitor& monitor = TheMonitor();
    const FilledSquare& s = monitor.Drawing.Squares.at(static_cast<std::size_t>(square));
    double x = 0;
    double y = 0;
    FramingOf(sensor, scene)
        .ToCamera(static_cast<double>(s.X1 + s.X2) / 2, static_cast<double>(s.Y1 + s.Y2) / 2, x, y);
    return sensor.Bent(ChannelSignal(sensor, s.Fill, channel) * VignettingAt(sensor, scene, x, y) *
                       exposure.WhiteElectrons / exposure.Gain);
}

namespace {

// A TIFF directory of the entries' tags, types and values, little-endian.
struct Entry {
    std::uint16_t Tag = 0;
    std::uint16_t Type = 0; // 1 BYTE, 2 ASCII, 3 SHORT, 4 LONG, 5 RATIONAL, 10 SRATIONAL
    std::uint32_t Count = 0;
    std::vector<std::uint8_t> Data;
};

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v & 0xFF));
    out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

Entry Shorts(std::uint16_t tag, const std::vector<std::uint32_t>& values) {
    Entry e{tag, 3, static_cast<std::uint32_t>(values.size()), {}};
    for (const std::uint32_t v : values) {
        Put16(e.Data, v);
    }
    return e;
}
Entry Longs(std::uint16_t tag, const std::vector<std::uint32_t>& values) {
    Entry e{tag, 4, static_cast<std::uint32_t>(values.size()), {}};
    for (const std::uint32_t v : values) {
        Put32(e.Data, v);
    }
    return e;
}
Entry Bytes(std::uint16_t tag, std::vector<std::uint8_t> values) {
    return {tag, 1, static_cast<std::uint32_t>(values.size()), std::move(values)};
}
Entry Ascii(std::uint16_t tag, const std::string& text) {
    Entry e{tag, 2, static_cast<std::uint32_t>(text.size() + 1), {}};
    e.Data.assign(text.begin(), text.end());
    e.Data.push_back(0);
    return e;
}
Entry Rationals(std::uint16_t tag, std::uint16_t type,
                const std::vector<std::pair<std::uint32_t, std::uint32_t>>& values) {
    Entry e{tag, type, static_cast<std::uint32_t>(values.size()), {}};
    for (const auto& [numerator, denominator] : values) {
        Put32(e.Data, numerator);
        Put32(e.Data, denominator);
    }
    return e;
}

// Appends a directory at the end of out (word-aligned), its long values
// after it; returns its offset.
std::uint32_t PutDirectory(std::vector<std::uint8_t>& out, std::vector<Entry> entries) {
    if (out.size() % 2 != 0) {
        out.push_back(0);
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.Tag < b.Tag; });
    const auto start = static_cast<std::uint32_t>(out.size());
    auto data = static_cast<std::uint32_t>(start + 2 + 12 * entries.size() + 4);
    Put16(out, static_cast<std::uint32_t>(entries.size()));
    std::vector<std::uint8_t> extra;
    for (const Entry& e : entries) {
        Put16(out, e.Tag);
        Put16(out, e.Type);
        Put32(out, e.Count);
        if (e.Data.size() <= 4) {
            std::vector<std::uint8_t> inline_(e.Data);
            inline_.resize(4, 0);
            out.insert(out.end(), inline_.begin(), inline_.end());
        } else {
            Put32(out, data + static_cast<std::uint32_t>(extra.size()));
            extra.insert(extra.end(), e.Data.begin(), e.Data.end());
            if (extra.size() % 2 != 0) {
                extra.push_back(0);
            }
        }
    }
    Put32(out, 0); // no next directory
    out.insert(out.end(), extra.begin(), extra.end());
    return start;
}

} // namespace

void WriteDng(const std::filesystem::path& path, const Sensor& sensor,
              const std::vector<std::uint16_t>& values, const Exposure& exposure) {
    // The whole sensor: the masked rows and columns, then the visible area.
    const auto top = static_cast<std::uint32_t>(sensor.MaskedTop);
    const auto left = static_cast<std::uint32_t>(sensor.MaskedLeft);
    const auto width = static_cast<std::uint32_t>(sensor.Width) + left;
    const auto height = static_cast<std::uint32_t>(sensor.Height) + top;
    const auto side = static_cast<std::uint32_t>(sensor.PatternSide());
    const bool mono = side == 1;
    const std::uint32_t samples = sensor.Pattern == "RGB" ? 3 : 1;
    std::vector<std::uint8_t> cfa;
    for (const char letter : sensor.Pattern) {
        cfa.push_back(static_cast<std::uint8_t>(ChannelOfLetter(letter)));
    }
    // The EXIF directory first, after the header; the image directory
    // after it, then the pixels.
    std::vector<std::uint8_t> file{'I', 'I', 42, 0, 0, 0, 0, 0};
    const auto shutter = static_cast<std::uint32_t>(std::lround(1 / exposure.Shutter));
    std::vector<Entry> exifEntries{{36864, 7, 4, {'0', '2', '3', '0'}}};
    if (exposure.Metadata) {
        exifEntries.insert(
            exifEntries.begin(),
            {Rationals(33434, 5, {{1, shutter}}),
             Shorts(34855, {static_cast<std::uint32_t>(std::lround(exposure.Iso))})});
    }
    const std::uint32_t exif = PutDirectory(file, exifEntries);
    const std::uint32_t bytes = width * height * 2 * samples;
    // The directory's size is known before the pixels' offset: write it
    // once to measure, then again with the offset.
    const auto directory = [&](std::uint32_t pixels) {
        std::vector<std::uint32_t> black;
        for (const double b : sensor.Black) {
            black.push_back(sensor.MaskedAreas ? 0U : static_cast<std::uint32_t>(std::lround(b)));
        }
        std::vector<Entry> entries{
            Longs(254, {0}),
            Longs(256, {width}),
            Longs(257, {height}),
            Shorts(258, std::vector<std::uint32_t>(samples, 16)),
            Shorts(259, {1}),
            Shorts(262, {mono ? 34892U : 32803U}),
            Ascii(271, "Pruvex"),
            Ascii(272, "Simulated camera"),
            Longs(273, {pixels}),
            Shorts(277, {samples}),
            Longs(278, {height}),
            Longs(279, {bytes}),
            Shorts(284, {1}),
            Longs(34665, {exif}),
            Bytes(50706, {1, 4, 0, 0}),
            Bytes(50707, {1, 1, 0, 0}),
            Ascii(50708, "Pruvex Simulated camera"),
            Shorts(50713, {2, 2}),
            Longs(50714, black),
            Longs(50717, {static_cast<std::uint32_t>(sensor.White())}),
            Rationals(50721, 10,
                      {{10000, 10000},
                       {0, 10000},
                       {0, 10000},
                       {0, 10000},
                       {10000, 10000},
                       {0, 10000},
                       {0, 10000},
                       {0, 10000},
                       {10000, 10000}}),
            Shorts(50778, {21}),
            Longs(50829, {top, left, height, width}),
        };
        if (!mono) {
            entries.push_back(Shorts(33421, {side, side}));
            entries.push_back(Bytes(33422, cfa));
            entries.push_back(Bytes(50710, {0, 1, 2}));
            entries.push_back(Shorts(50711, {1}));
        }
        if (!sensor.Linearisation.empty()) {
            entries.push_back(
                Shorts(50712, std::vector<std::uint32_t>(sensor.Linearisation.begin(),
                                                         sensor.Linearisation.end())));
        }
        if (sensor.MaskedAreas && top > 0) {
            entries.push_back(Longs(50830, {0, 0, top, width}));
        }
        return entries;
    };
    std::vector<std::uint8_t> probe(file);
    PutDirectory(probe, directory(0));
    const auto pixels = static_cast<std::uint32_t>((probe.size() + 1) / 2 * 2);
    const std::uint32_t ifd0 = PutDirectory(file, directory(pixels));
    file.resize(pixels, 0);
    file[4] = static_cast<std::uint8_t>(ifd0 & 0xFF);
    file[5] = static_cast<std::uint8_t>((ifd0 >> 8) & 0xFF);
    file[6] = static_cast<std::uint8_t>((ifd0 >> 16) & 0xFF);
    file[7] = static_cast<std::uint8_t>(ifd0 >> 24);
    // The masked pixels: black and read noise, the 2 x 2 black pattern
    // continued from the visible area's origin.
    std::mt19937_64 noise(exposure.Seed * 31 + 17);
    std::normal_distribution<double> normal;
    for (std::uint32_t y = 0; y < height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
            if (y >= top && x >= left) {
                for (std::uint32_t i = 0; i < samples; ++i) {
                    Put16(file, values[static_cast<std::size_t>(y - top) *
                                           static_cast<std::size_t>(sensor.Width) +
                                       (x - left)]);
                }
                continue;
            }
            const std::size_t site = ((y + 2 - top % 2) % 2) * 2 + (x + 2 - left % 2) % 2;
            Put16(file, Stored(sensor, sensor.Black[site] + exposure.ReadNoise * normal(noise)));
        }
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(file.data()),
              static_cast<std::streamsize>(file.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::vector<std::uint16_t> ShootScreen(const Sensor& sensor, const Scene& scene,
                                       const Exposure& exposure, const MonitorPicture& screen) {
    Monitor monitor;
    monitor.Width = screen.Width;
    monitor.Height = screen.Height;
    monitor.Pixels = screen.Pixels;
    monitor.Outside = Colour{}; // the monitor's dark frame
    // The camera stays where the mosaic would be at this screen's size.
    PatternState state;
    state.Mode = "G";
    const Picture grid =
        Draw(state, static_cast<float>(screen.Width), static_cast<float>(screen.Height));
    const FilledSquare& first = grid.Squares.front();
    const FilledSquare& last = grid.Squares.back();
    monitor.MosaicLeft = first.X1;
    monitor.MosaicTop = first.Y1;
    monitor.MosaicWidth = static_cast<double>(last.X2 - first.X1);
    monitor.MosaicHeight = static_cast<double>(last.Y2 - first.Y1);
    if (monitor.Pixels.size() !=
        static_cast<std::size_t>(screen.Width) * static_cast<std::size_t>(screen.Height)) {
        throw std::invalid_argument("a screen's pixels, row by row");
    }
    return ShootMonitor(monitor, sensor, scene, exposure);
}

Scene FlatScene() {
    Scene scene;
    scene.MosaicWidth = 1.3;
    scene.Vignetting = 0.05;
    return scene;
}

MonitorPicture FlatPicture(int level) {
    const auto v = static_cast<std::uint8_t>(level);
    return {MonitorWidth, MonitorHeight,
            std::vector<Colour>(static_cast<std::size_t>(MonitorWidth) * MonitorHeight, {v, v, v})};
}

double ExpectedFlatMean(const Sensor& sensor, const Exposure& exposure, int level, int channel,
                        double& clippedPart) {
    const auto v = static_cast<std::uint8_t>(level);
    const double signal =
        ChannelSignal(sensor, Colour{v, v, v}, channel) * exposure.WhiteElectrons / exposure.Gain;
    const double clip = sensor.Clip() - sensor.Black[0];
    double sum = 0;
    int clipped = 0;
    constexpr int Steps = 200;
    for (int i = 0; i < Steps; ++i) {
        for (int j = 0; j < Steps; ++j) {
            const double x = (i + 0.5) * sensor.Width / Steps;
            const double y = (j + 0.5) * sensor.Height / Steps;
            const double dn = sensor.Bent(signal * VignettingAt(sensor, FlatScene(), x, y));
            sum += std::min(dn, clip);
            clipped += dn >= clip ? 1 : 0;
        }
    }
    clippedPart = clipped / double{Steps * Steps};
    return sum / (Steps * Steps);
}

} // namespace pruvex::testing
