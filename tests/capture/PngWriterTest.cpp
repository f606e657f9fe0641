// The tool's own PNG encoder, checked by decoding its output with libpng.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "PngReader.h"
#include "tools/capture/PngWriter.h"

namespace {

CapturedFrame Pattern(int width, int height) {
    CapturedFrame frame;
    frame.width = width;
    frame.height = height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // a different colour in every pixel, with an alpha/X byte the encoder must drop
            frame.pixels.push_back(0xAB000000u | static_cast<std::uint32_t>((x * 7) & 0xFF) << 16 |
                                   static_cast<std::uint32_t>((y * 13) & 0xFF) << 8 |
                                   static_cast<std::uint32_t>((x + y) & 0xFF));
        }
    }
    return frame;
}

void ExpectDecodesTo(const std::vector<std::uint8_t>& png, const CapturedFrame& frame) {
    DecodedPng decoded = DecodePngMemory(png);
    ASSERT_TRUE(decoded.error.empty()) << decoded.error;
    ASSERT_EQ(decoded.width, frame.width);
    ASSERT_EQ(decoded.height, frame.height);
    for (std::size_t i = 0; i < frame.pixels.size(); ++i) {
        ASSERT_EQ(decoded.pixels[i], frame.pixels[i] & 0x00FFFFFFu) << "pixel " << i;
    }
}

TEST(PngChecksums, MatchTheStandardCheckValues) {
    const std::string digits = "123456789";
    const auto* data = reinterpret_cast<const std::uint8_t*>(digits.data());
    EXPECT_EQ(Crc32(data, digits.size()), 0xCBF43926u);  // the CRC-32 check value
    const std::string word = "Wikipedia";
    EXPECT_EQ(Adler32(reinterpret_cast<const std::uint8_t*>(word.data()), word.size()), 0x11E60398u);
    EXPECT_EQ(Adler32(nullptr, 0), 1u);
}

TEST(PngChecksums, Adler32StaysWithinItsModulusOverLongRuns) {
    std::vector<std::uint8_t> ones(100000, 0xFF);
    // a = 1 + 255 n and b = n + 255 n (n + 1) / 2, both mod 65521, for n = 100000
    const std::uint64_t n = ones.size();
    const std::uint64_t a = (1 + 255 * n) % 65521;
    const std::uint64_t b = (n + 255 * n * (n + 1) / 2) % 65521;
    EXPECT_EQ(Adler32(ones.data(), ones.size()), static_cast<std::uint32_t>(b << 16 | a));
}

TEST(PngWriter, StartsWithTheSignatureAndAnRgbHeader) {
    std::vector<std::uint8_t> png = EncodePng(Pattern(5, 3));
    ASSERT_GT(png.size(), 33u);
    const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    EXPECT_TRUE(std::equal(std::begin(signature), std::end(signature), png.begin()));
    EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
    EXPECT_EQ(png[19], 5);  // width, big-endian
    EXPECT_EQ(png[23], 3);  // height
    EXPECT_EQ(png[24], 8);  // bit depth
    EXPECT_EQ(png[25], 2);  // truecolour
    EXPECT_EQ(std::string(png.end() - 8, png.end() - 4), "IEND");
}

TEST(PngWriter, SmallImagesDecodeToTheSamePixels) {
    ExpectDecodesTo(EncodePng(Pattern(1, 1)), Pattern(1, 1));
    ExpectDecodesTo(EncodePng(Pattern(3, 2)), Pattern(3, 2));
}

// 800 x 600 RGB needs 23 stored deflate blocks of at most 65535 bytes; the block boundaries
// fall inside rows.
TEST(PngWriter, AFullFrameSpanningManyStoredBlocksDecodesToTheSamePixels) {
    ExpectDecodesTo(EncodePng(Pattern(800, 600)), Pattern(800, 600));
}

TEST(PngWriter, ImageDataExactlyOneBlockLongDecodes) {
    // (1 + 3 * 7281) * 3 = 65532; (1 + 3 * 21845) * 1 = 65536 is one byte over a block
    ExpectDecodesTo(EncodePng(Pattern(21845, 1)), Pattern(21845, 1));
    ExpectDecodesTo(EncodePng(Pattern(7281, 3)), Pattern(7281, 3));
}

TEST(PngWriter, WritesAFileThatDecodesAndReportsWhereItCannot) {
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("png_writer_test_" + std::to_string(::getpid()) + ".png");
    std::string error;
    ASSERT_TRUE(WritePng(path.string(), Pattern(4, 4), error)) << error;
    DecodedPng decoded = DecodePngFile(path.string());
    EXPECT_TRUE(decoded.error.empty()) << decoded.error;
    EXPECT_EQ(decoded.width, 4);
    std::filesystem::remove(path);

    const std::string nowhere = (std::filesystem::temp_directory_path() / "no_such_dir_for_png" / "a.png").string();
    EXPECT_FALSE(WritePng(nowhere, Pattern(4, 4), error));
    EXPECT_NE(error.find("no_such_dir_for_png"), std::string::npos) << error;
}

}  // namespace
