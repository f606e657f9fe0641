#include "PngReader.h"

#include <png.h>

namespace {

DecodedPng Finish(png_image& image) {
    DecodedPng decoded;
    if (PNG_IMAGE_FAILED(image)) {
        decoded.error = image.message;
        png_image_free(&image);
        return decoded;
    }
    image.format = PNG_FORMAT_RGB;
    std::vector<png_byte> rgb(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr) == 0) {
        decoded.error = image.message;
        png_image_free(&image);
        return decoded;
    }
    decoded.width = static_cast<int>(image.width);
    decoded.height = static_cast<int>(image.height);
    decoded.pixels.resize(static_cast<std::size_t>(decoded.width) * decoded.height);
    for (std::size_t i = 0; i < decoded.pixels.size(); ++i) {
        decoded.pixels[i] = (std::uint32_t{rgb[3 * i]} << 16) | (std::uint32_t{rgb[3 * i + 1]} << 8) | rgb[3 * i + 2];
    }
    return decoded;
}

}  // namespace

DecodedPng DecodePngFile(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_file(&image, path.c_str());
    return Finish(image);
}

DecodedPng DecodePngMemory(const std::vector<std::uint8_t>& bytes) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    png_image_begin_read_from_memory(&image, bytes.data(), bytes.size());
    return Finish(image);
}
