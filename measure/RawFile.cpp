#include "measure/RawFile.h"

#include "measure/FileNames.h"

#include <libraw/libraw.h>

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>

namespace pruvex::measure {

namespace {

// LibRaw's report of unreadable data: counted by LibRaw (error_count), not
// printed.
void QuietDataError(void* /*data*/, const char* /*file*/, const int /*offset*/) {}

// A DNG's ActiveArea (top, left, bottom, right), read as LibRaw passes the
// file's tags by: LibRaw moves an odd origin of a Bayer image to the next
// even row and column, and the file's black level pattern is given from
// the area's own origin.
struct ActiveArea {
    bool Found = false;
    std::array<unsigned, 4> Edges{};
};

void ReadTag(void* context, int tag, int type, int count, unsigned order, void* stream,
             INT64 /*base*/) {
    constexpr int ActiveAreaTag = 50829;
    constexpr int Short = 3;
    constexpr int Long = 4;
    if ((tag & 0xFFFF) != ActiveAreaTag || count != 4 || (type != Short && type != Long)) {
        return;
    }
    auto& area = *static_cast<ActiveArea*>(context);
    auto& input = *static_cast<LibRaw_abstract_datastream*>(stream);
    const int size = type == Short ? 2 : 4;
    for (unsigned& edge : area.Edges) {
        std::array<unsigned char, 4> bytes{};
        if (input.read(bytes.data(), static_cast<std::size_t>(size), 1) != 1) {
            return;
        }
        edge = 0;
        for (int i = 0; i < size; ++i) {
            const int at = order == 0x4D4D ? i : size - 1 - i; // big- or little-endian
            edge = edge << 8U | bytes[static_cast<std::size_t>(at)];
        }
    }
    area.Found = true;
}

// The kind of sensor a file comes from, when it is not one that is
// measured.
std::string UnmeasuredSensor(const libraw_data_t& data) {
    if (data.idata.is_foveon != 0 || std::strncmp(data.idata.make, "Sigma", 5) == 0 ||
        std::strncmp(data.idata.make, "SIGMA", 5) == 0) {
        return "a Foveon sensor (three colours in layers at every pixel)";
    }
    if (data.rawdata.raw_image == nullptr) {
        return "an image already demosaiced (a colour value at every pixel, no sensor pattern)";
    }
    if (data.idata.colors == 4) {
        return "a sensor of four colours (" + std::string(data.idata.cdesc) + ")";
    }
    return "a sensor whose colour pattern is not Bayer, X-Trans or none";
}

std::string Describe(int code) {
    switch (code) {
    case LIBRAW_FILE_UNSUPPORTED:
        return "not a raw file that LibRaw reads";
    case LIBRAW_IO_ERROR:
        return "cannot be read (input error, or the file ends early)";
    case LIBRAW_TOO_BIG:
        return "too large to read";
    case LIBRAW_UNSUFFICIENT_MEMORY:
        return "not enough memory to read it";
    case LIBRAW_DATA_ERROR:
        return "damaged raw data";
    default:
        return libraw_strerror(code);
    }
}

// Whether the file can be opened at all; if not, the system's reason.
bool CanOpen(const std::filesystem::path& name, std::string& error) {
#ifdef _WIN32
    std::FILE* file = _wfopen(name.c_str(), L"rb");
#else
    std::FILE* file = std::fopen(name.c_str(), "rb");
#endif
    if (file == nullptr) {
        error = std::strerror(errno);
        return false;
    }
    std::fclose(file);
    return true;
}

// Opens and unpacks the file; false with the reason when it cannot be.
bool Unpack(LibRaw& raw, const std::filesystem::path& name, ActiveArea& area, std::string& error) {
    raw.set_dataerror_handler(QuietDataError, nullptr);
    raw.set_exifparser_handler(ReadTag, &area);
    if (const int code = raw.open_file(name.c_str()); code != LIBRAW_SUCCESS) {
        error = Describe(code);
        return false;
    }
    const int unpacked = raw.unpack();
    if (unpacked == LIBRAW_IO_ERROR || (unpacked == LIBRAW_SUCCESS && raw.error_count() > 0)) {
        error = "truncated or damaged: the raw data ends early or cannot be decoded";
        return false;
    }
    if (unpacked != LIBRAW_SUCCESS) {
        error = Describe(unpacked);
        return false;
    }
    return true;
}

// The colour and black level of each site of the pattern, which repeats
// every PatternWidth x PatternHeight sites from the visible origin; false
// with the reason when the sensor is not one that is measured.
bool ReadPattern(LibRaw& raw, const ActiveArea& area, int side, CfaFrame& frame,
                 std::string& error) {
    const libraw_data_t& data = raw.imgdata;
    // The black level pattern, from the visible origin: LibRaw gives it from
    // the active area's (a DNG's ActiveArea, moved to even rows and columns
    // on a Bayer sensor).
    const libraw_colordata_t& colour = data.color;
    const unsigned rows = colour.cblack[4];
    const unsigned columns = colour.cblack[5];
    const bool blackPattern = rows > 0 && columns > 0 && 6 + rows * columns <= LIBRAW_CBLACK_SIZE;
    unsigned rowShift = 0;
    unsigned columnShift = 0;
    if (area.Found && area.Edges[0] <= data.sizes.top_margin &&
        area.Edges[1] <= data.sizes.left_margin) {
        rowShift = data.sizes.top_margin - area.Edges[0];
        columnShift = data.sizes.left_margin - area.Edges[1];
    }
    frame.PatternWidth = side;
    frame.PatternHeight = side;
    if (blackPattern) {
        frame.PatternWidth = std::lcm(side, static_cast<int>(columns));
        frame.PatternHeight = std::lcm(side, static_cast<int>(rows));
        if (frame.PatternWidth > LargestPattern || frame.PatternHeight > LargestPattern) {
            error = "its black level pattern (" + std::to_string(rows) + " x " +
                    std::to_string(columns) + " sites) does not fit its colour pattern";
            return false;
        }
    }
    for (int y = 0; y < frame.PatternHeight; ++y) {
        for (int x = 0; x < frame.PatternWidth; ++x) {
            const auto site =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.PatternWidth) +
                static_cast<std::size_t>(x);
            // 0 R, 1 G, 2 B, 3 the second green; 6 without a colour filter.
            const int index = frame.Monochrome ? 0 : raw.COLOR(y, x);
            if (index < 0 || index > 3) {
                error = "not measured: " + UnmeasuredSensor(data);
                return false;
            }
            frame.Sites[site] = index == 3 ? 1 : index;
            double black = colour.black + colour.cblack[index];
            if (blackPattern) {
                black += colour.cblack[6 + (static_cast<unsigned>(y) + rowShift) % rows * columns +
                                       (static_cast<unsigned>(x) + columnShift) % columns];
            }
            frame.Black[site] = black;
        }
    }
    return true;
}

// A Bayer pattern repeats every two rows and columns.
bool RepeatsEveryTwo(LibRaw& raw) {
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 2; ++x) {
            if (raw.COLOR(y, x) != raw.COLOR(y % 2, x)) {
                return false;
            }
        }
    }
    return true;
}

// The visible area's values, row by row.
void CopyVisible(const libraw_data_t& data, CfaFrame& frame) {
    const std::size_t pitch = data.sizes.raw_pitch / 2; // in values
    frame.Values.resize(static_cast<std::size_t>(frame.Width) *
                        static_cast<std::size_t>(frame.Height));
    for (int y = 0; y < frame.Height; ++y) {
        const std::uint16_t* row = data.rawdata.raw_image +
                                   (static_cast<std::size_t>(y) + data.sizes.top_margin) * pitch +
                                   data.sizes.left_margin;
        std::memcpy(frame.Values.data() +
                        static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.Width),
                    row, static_cast<std::size_t>(frame.Width) * sizeof(std::uint16_t));
    }
}

} // namespace

RawResult ReadRaw(const std::string& path) {
    RawResult result;
    const std::filesystem::path name = FileName(path);
    const auto raw = std::make_unique<LibRaw>();
    ActiveArea area;
    if (!CanOpen(name, result.Error) || !Unpack(*raw, name, area, result.Error)) {
        return result;
    }
    const libraw_data_t& data = raw->imgdata;
    const unsigned filters = data.idata.filters;
    CfaFrame& frame = result.Frame;
    // Bayer (2 x 2), X-Trans (6 x 6) or no colour filter at all.
    const bool bayer = filters >= 1000 && data.idata.colors == 3;
    const bool xtrans = filters == 9 && data.idata.colors == 3;
    frame.Monochrome = filters == 0 && data.idata.colors == 1;
    if (data.rawdata.raw_image == nullptr || (!bayer && !xtrans && !frame.Monochrome)) {
        result.Error = "not measured: " + UnmeasuredSensor(data);
        return result;
    }
    frame.Width = data.sizes.width;
    frame.Height = data.sizes.height;
    if (!ReadPattern(*raw, area, xtrans ? 6 : bayer ? 2 : 1, frame, result.Error)) {
        return result;
    }
    if (bayer && !RepeatsEveryTwo(*raw)) {
        result.Error = "its colour pattern does not repeat every two pixels";
        return result;
    }
    frame.White = data.color.maximum;
    frame.Iso = static_cast<double>(data.other.iso_speed);
    frame.Shutter = static_cast<double>(data.other.shutter);
    if (frame.Width <= 0 || frame.Height <= 0 || frame.White <= 0) {
        result.Error = "the file gives no image size or white level";
        return result;
    }
    CopyVisible(data, frame);
    result.Ok = true;
    return result;
}

std::string LibRawVersion() {
    return LibRaw::version();
}

} // namespace pruvex::measure
