// PNG encoding by stb_image_write (a single public-domain header, Debian's libstb-dev): 8-bit
// RGB, its own filter choice per row and zlib-compressed image data. Being one header, it
// builds the same on every host and adds no DLL to the Windows build.
#include "tools/capture/PngWriter.h"

#include <algorithm>
#include <ios>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace {

void Append(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(context);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

}  // namespace

std::vector<std::uint8_t> EncodePng(const CapturedFrame& frame) {
    // X8R8G8B8 to the R, G, B bytes the encoder takes; the X byte is dropped.
    std::vector<std::uint8_t> rgb(frame.pixels.size() * 3);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) {
        rgb[3 * i] = static_cast<std::uint8_t>(frame.pixels[i] >> 16);
        rgb[3 * i + 1] = static_cast<std::uint8_t>(frame.pixels[i] >> 8);
        rgb[3 * i + 2] = static_cast<std::uint8_t>(frame.pixels[i]);
    }
    std::vector<std::uint8_t> png;
    if (stbi_write_png_to_func(Append, &png, frame.width, frame.height, 3, rgb.data(), frame.width * 3) == 0) {
        png.clear();  // out of memory
    }
    return png;
}

bool WritePng(OutputFile& file, const CapturedFrame& frame, std::string& error) {
    const std::vector<std::uint8_t> png = EncodePng(frame);
    if (png.empty()) {
        error = "the PNG could not be encoded";
        file.Discard();
        return false;
    }
    file.Stream().write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    return file.Commit(error);
}

bool WritePng(const std::string& path, const CapturedFrame& frame, std::string& error) {
    OutputFile file;
    return file.Open(path, error) && WritePng(file, frame, error);
}

CapturedFrame MakeIcon(const CapturedFrame& frame, int size) {
    const std::uint32_t background = frame.pixels.empty() ? 0 : frame.pixels[0] & 0xFFFFFFu;
    // What was drawn: the bounding box of the pixels that are not the background.
    long long left = frame.width, top = frame.height, right = -1, bottom = -1;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            if ((frame.pixels[static_cast<std::size_t>(y) * frame.width + x] & 0xFFFFFFu) != background) {
                left = std::min<long long>(left, x);
                right = std::max<long long>(right, x);
                top = std::min<long long>(top, y);
                bottom = std::max<long long>(bottom, y);
            }
        }
    }
    if (right < 0) {  // nothing drawn: one pixel of background
        left = right = top = bottom = 0;
    }
    // The square around it, a margin of 1/32 of its side on every side, centred on the box.
    const long long box = std::max(right - left, bottom - top) + 1;
    const long long side = box + 2 * std::max(1LL, box / 32);
    const long long originX = (left + right + 1 - side) / 2;
    const long long originY = (top + bottom + 1 - side) / 2;
    const auto sourceAt = [&](long long x, long long y) -> std::uint32_t {
        if (x < 0 || y < 0 || x >= frame.width || y >= frame.height) {
            return background;
        }
        return frame.pixels[static_cast<std::size_t>(y) * frame.width + static_cast<std::size_t>(x)] & 0xFFFFFFu;
    };

    CapturedFrame icon;
    icon.width = icon.height = size;
    icon.pixels.resize(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    for (int j = 0; j < size; ++j) {
        // Source rows [y0, y1) of this icon row; at least one when scaling up.
        const long long y0 = originY + j * side / size;
        const long long y1 = std::max(y0 + 1, originY + (j + 1) * side / size);
        for (int i = 0; i < size; ++i) {
            const long long x0 = originX + i * side / size;
            const long long x1 = std::max(x0 + 1, originX + (i + 1) * side / size);
            std::uint64_t sum[3] = {0, 0, 0};
            for (long long y = y0; y < y1; ++y) {
                for (long long x = x0; x < x1; ++x) {
                    const std::uint32_t p = sourceAt(x, y);
                    sum[0] += (p >> 16) & 0xFFu;
                    sum[1] += (p >> 8) & 0xFFu;
                    sum[2] += p & 0xFFu;
                }
            }
            const auto count = static_cast<std::uint64_t>((y1 - y0) * (x1 - x0));
            std::uint32_t pixel = 0xFF000000u;
            for (int c = 0; c < 3; ++c) {
                pixel |= static_cast<std::uint32_t>((sum[c] + count / 2) / count) << (16 - 8 * c);
            }
            icon.pixels[static_cast<std::size_t>(j) * static_cast<std::size_t>(size) + static_cast<std::size_t>(i)] =
                pixel;
        }
    }
    return icon;
}
