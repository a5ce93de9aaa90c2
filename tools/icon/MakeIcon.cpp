// Writes the application's icons, each size drawn at that size by the engine:
// the Windows icon file with three 32-bit images of 16, 32 and 48 pixels, or
// one PNG image of any size for the desktop's icon theme.
//
//   pruvex_icon OUTPUT.ico
//   pruvex_icon --png SIZE OUTPUT.png

#include "PngFile.h"
#include "pattern/Icon.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, unsigned value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

// One image as a device-independent bitmap: header, BGRA rows bottom-up,
// then an all-opaque AND mask.
std::vector<std::uint8_t> Image(int size) {
    std::vector<std::uint8_t> out;
    Put32(out, 40);
    Put32(out, static_cast<unsigned>(size));
    Put32(out, static_cast<unsigned>(size * 2)); // colour rows and mask rows
    Put16(out, 1);
    Put16(out, 32);
    for (int i = 0; i < 6; ++i) {
        Put32(out, 0);
    }
    const std::vector<pruvex::Colour> pixels = pruvex::IconPixels(size);
    for (int y = size - 1; y >= 0; --y) {
        for (int x = 0; x < size; ++x) {
            const pruvex::Colour colour = pixels[static_cast<std::size_t>(y * size + x)];
            out.push_back(colour.Blue);
            out.push_back(colour.Green);
            out.push_back(colour.Red);
            out.push_back(255);
        }
    }
    const int maskRow = ((size + 31) / 32) * 4;
    out.insert(out.end(), static_cast<std::size_t>(maskRow * size), 0);
    return out;
}

// The icon at size x size pixels as a PNG file.
bool WritePngIcon(int size, const char* path) {
    std::vector<std::uint8_t> rgb;
    for (const pruvex::Colour& colour : pruvex::IconPixels(size)) {
        rgb.insert(rgb.end(), {colour.Red, colour.Green, colour.Blue});
    }
    return pruvex::WritePng(path, size, size, rgb);
}

constexpr int SmallestPng = 16;
constexpr int LargestPng = 256;

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--png") == 0) {
        const int size = std::atoi(argv[2]);
        if (size < SmallestPng || size > LargestPng) {
            std::fprintf(stderr, "pruvex_icon: the size must be %d..%d\n", SmallestPng, LargestPng);
            return 2;
        }
        if (!WritePngIcon(size, argv[3])) {
            std::fprintf(stderr, "pruvex_icon: cannot write %s\n", argv[3]);
            return 1;
        }
        return 0;
    }
    if (argc != 2) {
        std::fprintf(stderr,
                     "usage: pruvex_icon OUTPUT.ico\n       pruvex_icon --png SIZE OUTPUT.png\n");
        return 2;
    }
    const int sizes[] = {16, 32, 48};
    std::vector<std::vector<std::uint8_t>> images;
    for (const int size : sizes) {
        images.push_back(Image(size));
    }
    std::vector<std::uint8_t> file;
    Put16(file, 0);
    Put16(file, 1); // icon
    Put16(file, 3);
    unsigned offset = 6 + 16 * 3;
    for (std::size_t i = 0; i < images.size(); ++i) {
        file.push_back(static_cast<std::uint8_t>(sizes[i]));
        file.push_back(static_cast<std::uint8_t>(sizes[i]));
        file.push_back(0); // no palette
        file.push_back(0);
        Put16(file, 1);
        Put16(file, 32);
        Put32(file, static_cast<unsigned>(images[i].size()));
        Put32(file, offset);
        offset += static_cast<unsigned>(images[i].size());
    }
    for (const auto& image : images) {
        file.insert(file.end(), image.begin(), image.end());
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fwrite(file.data(), 1, file.size(), out) != file.size() ||
        std::fclose(out) != 0) {
        std::fprintf(stderr, "pruvex_icon: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
