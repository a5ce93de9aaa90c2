#include "measure/RawFile.h"

#include "measure/FileNames.h"

#include <libraw/libraw.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>

namespace pruvex::measure {

namespace {

// LibRaw's report of unreadable data: counted by LibRaw (error_count), not
// printed.
void QuietDataError(void* /*data*/, const char* /*file*/, const int /*offset*/) {}

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

} // namespace

const char* LibRawVersion() {
    return LibRaw::version();
}

RawResult ReadRaw(const std::string& path) {
    RawResult result;
    // A file that cannot be opened at all is named with the system's reason.
    const std::filesystem::path name = FileName(path);
#ifdef _WIN32
    std::FILE* file = _wfopen(name.c_str(), L"rb");
#else
    std::FILE* file = std::fopen(name.c_str(), "rb");
#endif
    if (file != nullptr) {
        std::fclose(file);
    } else {
        result.Error = std::strerror(errno);
        return result;
    }
    const auto raw = std::make_unique<LibRaw>();
    raw->set_dataerror_handler(QuietDataError, nullptr);
    if (const int code = raw->open_file(name.c_str()); code != LIBRAW_SUCCESS) {
        result.Error = Describe(code);
        return result;
    }
    const int unpacked = raw->unpack();
    if (unpacked == LIBRAW_IO_ERROR || (unpacked == LIBRAW_SUCCESS && raw->error_count() > 0)) {
        result.Error = "truncated or damaged: the raw data ends early or cannot be decoded";
        return result;
    }
    if (unpacked != LIBRAW_SUCCESS) {
        result.Error = Describe(unpacked);
        return result;
    }
    const libraw_data_t& data = raw->imgdata;
    const unsigned filters = data.idata.filters;
    if (data.rawdata.raw_image == nullptr || filters == 0 || filters < 1000 ||
        data.idata.colors != 3) {
        result.Error = "not a raw file from a sensor with a 2 x 2 red, green and blue pattern";
        return result;
    }
    CfaFrame& frame = result.Frame;
    frame.Width = data.sizes.width;
    frame.Height = data.sizes.height;
    // The pattern repeats every two rows and columns, or it is not a Bayer
    // pattern.
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 2; ++x) {
            if (raw->COLOR(y, x) != raw->COLOR(y % 2, x)) {
                result.Error = "its colour pattern does not repeat every two pixels";
                return result;
            }
        }
    }
    const libraw_colordata_t& colour = data.color;
    for (int site = 0; site < 4; ++site) {
        const int y = site / 2;
        const int x = site % 2;
        const int index = raw->COLOR(y, x); // 0 R, 1 G, 2 B, 3 the second green
        frame.Sites[static_cast<std::size_t>(site)] = index == 3 ? 1 : index;
        double black = colour.black + colour.cblack[index];
        const unsigned rows = colour.cblack[4];
        const unsigned columns = colour.cblack[5];
        if (rows > 0 && columns > 0 && 6 + rows * columns <= LIBRAW_CBLACK_SIZE) {
            black += colour.cblack[6 + (static_cast<unsigned>(y) % rows) * columns +
                                   static_cast<unsigned>(x) % columns];
        }
        frame.Black[static_cast<std::size_t>(site)] = black;
    }
    frame.White = colour.maximum;
    frame.Iso = static_cast<double>(data.other.iso_speed);
    frame.Shutter = static_cast<double>(data.other.shutter);
    if (frame.Width <= 0 || frame.Height <= 0 || frame.White <= 0) {
        result.Error = "the file gives no image size or white level";
        return result;
    }
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
    result.Ok = true;
    return result;
}

} // namespace pruvex::measure
