// Decodes PNG files with libpng, independently of the tool's own encoder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecodedPng {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  // 0x00RRGGBB, rows top to bottom
    std::string error;                  // empty when the file decoded

    std::uint32_t At(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

DecodedPng DecodePngFile(const std::string& path);
DecodedPng DecodePngMemory(const std::vector<std::uint8_t>& bytes);
