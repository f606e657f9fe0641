// A small self-contained PNG encoder: 8-bit RGB, no filtering, the image data in stored
// (uncompressed) deflate blocks. It needs no zlib or libpng, so the tool builds the same way on
// every host; the files are about as large as the raw pixels (1.4 MB for 800 x 600).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/capture/OutputFile.h"

// A frame read back from the device: X8R8G8B8 pixels (the top byte is ignored), rows top to
// bottom without padding.
struct CapturedFrame {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

// The whole PNG file for the frame. Requires width, height > 0 and pixels.size() == width * height.
std::vector<std::uint8_t> EncodePng(const CapturedFrame& frame);

// Writes the PNG to path (through a temporary file renamed over it when complete); false, with
// the reason, when the file cannot be written, in which case an existing file stays as it was.
bool WritePng(const std::string& path, const CapturedFrame& frame, std::string& error);

// The same into an output already opened, which it commits.
bool WritePng(OutputFile& file, const CapturedFrame& frame, std::string& error);

// The checksums PNG and zlib use, exposed for tests.
std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);
std::uint32_t Adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler = 1);
