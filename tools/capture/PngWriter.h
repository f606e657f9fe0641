// The frame as an 8-bit RGB PNG, compressed (a frame of the viewer is a few tens of KB).
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

// The whole PNG file for the frame (empty when it cannot be encoded). Requires width, height > 0
// and pixels.size() == width * height.
std::vector<std::uint8_t> EncodePng(const CapturedFrame& frame);

// A size x size picture of what the frame shows: the smallest square around every pixel that
// differs from the top-left one (the clear colour), with a margin, centred, and averaged down
// (or repeated up) to size. A frame of one colour gives that colour.
CapturedFrame MakeIcon(const CapturedFrame& frame, int size);

// Writes the PNG to path (through a temporary file renamed over it when complete); false, with
// the reason, when the file cannot be written, in which case an existing file stays as it was.
bool WritePng(const std::string& path, const CapturedFrame& frame, std::string& error);

// The same into an output already opened, which it commits.
bool WritePng(OutputFile& file, const CapturedFrame& frame, std::string& error);
