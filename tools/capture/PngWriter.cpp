// PNG encoding by stb_image_write (a single public-domain header, Debian's libstb-dev): 8-bit
// RGB, its own filter choice per row and zlib-compressed image data. Being one header, it
// builds the same on every host and adds no DLL to the Windows build.
#include "tools/capture/PngWriter.h"

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
