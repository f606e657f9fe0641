// The tool's PNG encoding, checked by decoding its output with libpng.
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

TEST(PngWriter, AFullFrameDecodesToTheSamePixels) {
    ExpectDecodesTo(EncodePng(Pattern(800, 600)), Pattern(800, 600));
}

TEST(PngWriter, VeryWideAndTallImagesDecode) {
    ExpectDecodesTo(EncodePng(Pattern(21845, 1)), Pattern(21845, 1));
    ExpectDecodesTo(EncodePng(Pattern(1, 7281)), Pattern(1, 7281));
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

// The icon is the square around what was drawn: a lone block off-centre in a big frame fills
// the icon's middle, the margin stays background, and averaging keeps the block's colour.
TEST(PngWriter, AnIconIsTheSquareAroundWhatWasDrawnAveragedDown) {
    CapturedFrame frame;
    frame.width = 800;
    frame.height = 600;
    frame.pixels.assign(800 * 600, 0xFF000000u);
    for (int y = 100; y < 164; ++y) {
        for (int x = 500; x < 532; ++x) {  // 32 wide, 64 high: the square is 64 + margins
            frame.pixels[static_cast<std::size_t>(y) * 800 + x] = 0xFFFF0000u;
        }
    }
    const CapturedFrame icon = MakeIcon(frame, 16);
    ASSERT_EQ(icon.width, 16);
    ASSERT_EQ(icon.height, 16);
    EXPECT_EQ(icon.pixels[0] & 0xFFFFFFu, 0u);                  // margin
    EXPECT_EQ(icon.pixels[8 * 16 + 8] & 0xFFFFFFu, 0xFF0000u);  // the block, averaged
    EXPECT_EQ(icon.pixels[8 * 16 + 1] & 0xFFFFFFu, 0u);         // beside the narrow block
    // Nothing drawn: the background colour throughout, not a division by zero.
    frame.pixels.assign(800 * 600, 0xFF123456u);
    const CapturedFrame plain = MakeIcon(frame, 32);
    EXPECT_TRUE(std::all_of(plain.pixels.begin(), plain.pixels.end(),
                            [](std::uint32_t p) { return (p & 0xFFFFFFu) == 0x123456u; }));
}

}  // namespace
