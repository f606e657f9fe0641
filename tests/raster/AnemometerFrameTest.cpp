// The whole anemometer drawn by the viewer's own frame code on the software device: facts a
// reader can state about the picture, and golden pictures of a few rotor angles and key states.
// Set ANEMOMETER_UPDATE_GOLDEN=1 to rewrite the goldens after a deliberate change, and look at
// them before committing.
#include <cmath>
#include <cstdlib>
#include <utility>

#include "device/D3DXMath.h"
#include "device/Device.h"
#include "platform/d3d9/Standin.h"
#include "scene/Scene.h"
#include "tests/raster/RasterSupport.h"

namespace rastertest {
namespace {

class AnemometerFrameTest : public ::testing::Test {
protected:
    void SetUp() override { OpenViewerDevice(); }
    void TearDown() override { CloseViewerDevice(); }

    // One frame with the rotor at `degrees`, read back as Present handed it on.
    Picture Frame(float degrees) {
        sceneState.rotationDegrees = degrees;
        RenderFrame();
        const standin::Image image = standin::BackBuffer(sceneState.device);
        Picture picture{image.width, image.height, {}};
        picture.pixels.assign(image.pixels, image.pixels + static_cast<std::size_t>(image.width) *
                                                               static_cast<std::size_t>(image.height));
        return picture;
    }

    // Where a world point lands on the 800 x 600 picture under the frame's camera.
    static std::pair<int, int> ScreenOf(float x, float y, float z) {
        const D3DXVECTOR3 eye{0, 20, -30}, at{0, 0, 0}, up{0, 1, 0};
        D3DXMATRIX view, projection, viewProjection;
        D3DXMatrixLookAtLH(&view, &eye, &at, &up);
        D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, 1.3333334f, 1.0f, 100.0f);
        D3DXMatrixMultiply(&viewProjection, &view, &projection);
        const auto& m = viewProjection.m;
        const float cx = x * m[0][0] + y * m[1][0] + z * m[2][0] + m[3][0];
        const float cy = x * m[0][1] + y * m[1][1] + z * m[2][1] + m[3][1];
        const float cw = x * m[0][3] + y * m[1][3] + z * m[2][3] + m[3][3];
        return {static_cast<int>(std::lround(400.0f * (1.0f + cx / cw))),
                static_cast<int>(std::lround(300.0f * (1.0f - cy / cw)))};
    }

    static bool RedOrWhite(std::uint32_t pixel) { return pixel == kRed || pixel == kWhite; }

    void ExpectGolden(const Picture& actual, const std::string& name) {
        const std::string path = std::string(ANEMOMETER_GOLDEN_DIR) + "/" + name + ".png";
        if (const char* update = std::getenv("ANEMOMETER_UPDATE_GOLDEN"); update != nullptr && *update == '1') {
            ASSERT_TRUE(WritePng(path, actual)) << path;
            return;
        }
        Picture expected;
        std::string error;
        ASSERT_TRUE(ReadPng(path, &expected, &error))
            << error << "\nHINT: run with ANEMOMETER_UPDATE_GOLDEN=1 to write it, then look at it";
        EXPECT_TRUE(SamePicture(actual, expected, name))
            << "HINT: if the change is intended, rewrite with ANEMOMETER_UPDATE_GOLDEN=1 and look at the result";
    }
};

TEST_F(AnemometerFrameTest, FactsOfTheFirstFrame) {
    const Picture picture = Frame(0.0f);
    ASSERT_EQ(picture.width, 800);
    ASSERT_EQ(picture.height, 600);
    for (auto [x, y] : {std::pair{0, 0}, {799, 0}, {0, 599}, {799, 599}}) {
        EXPECT_EQ(picture.At(x, y), kBlack) << "corner " << x << "," << y;
    }
    // The mast, from its base to below the hub, is red and white; across it, its stripes show
    // both colours.
    for (float y = -4.5f; y <= 4.5f; y += 0.5f) {
        const auto [sx, sy] = ScreenOf(0.0f, y, 0.0f);
        EXPECT_TRUE(RedOrWhite(picture.At(sx, sy))) << "mast at y " << y << ": " << std::hex << picture.At(sx, sy);
    }
    int red = 0, white = 0;
    for (float x = -2.5f; x <= 2.5f; x += 0.125f) {
        const auto [sx, sy] = ScreenOf(x, -3.0f, 0.0f);
        red += picture.At(sx, sy) == kRed;
        white += picture.At(sx, sy) == kWhite;
    }
    EXPECT_GT(red, 0);
    EXPECT_GT(white, 0);
    // The cups stand a third of a turn apart at the arms' ends: around (-11.5, 8, -0.5) and
    // that point turned 120 and 240 degrees. Opposite cup 1, on +x, there is nothing.
    for (const float turn : {0.0f, 2.0943952f, 4.1887903f}) {
        const float c = std::cos(turn), s = std::sin(turn);
        // D3DX's rotation about y carries +x toward -z.
        const float x = -11.5f * c + -0.5f * s, z = 11.5f * s + -0.5f * c;
        const auto [sx, sy] = ScreenOf(x, 8.0f, z);
        EXPECT_TRUE(RedOrWhite(picture.At(sx, sy))) << "cup at turn " << turn;
    }
    const auto [ex, ey] = ScreenOf(11.5f, 8.0f, 0.5f);
    EXPECT_EQ(picture.At(ex, ey), kBlack);
    // Nothing but the clear colour, red and white: flat shading, lighting off.
    EXPECT_EQ(CountColor(picture, kBlack) + CountColor(picture, kRed) + CountColor(picture, kWhite), 800 * 600);
}

TEST_F(AnemometerFrameTest, TheRotorCarriesCupOneTowardPlusZ) {
    const Picture picture = Frame(90.0f);
    const auto [cx, cy] = ScreenOf(-0.5f, 8.0f, 11.5f);
    EXPECT_TRUE(RedOrWhite(picture.At(cx, cy)));
    const auto [ox, oy] = ScreenOf(-11.5f, 8.0f, -0.5f);  // where it stood at 0 degrees
    EXPECT_EQ(picture.At(ox, oy), kBlack);
}

TEST_F(AnemometerFrameTest, WireframeLeavesTheInsideBlack) {
    sceneState.device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);  // what F2 does
    const Picture picture = Frame(0.0f);
    int black = 0, samples = 0;
    for (float y = -4.5f; y <= 4.5f; y += 0.25f) {
        for (float x = -1.0f; x <= 1.0f; x += 0.25f) {
            const auto [sx, sy] = ScreenOf(x, y, 0.0f);
            black += picture.At(sx, sy) == kBlack;
            ++samples;
        }
    }
    EXPECT_GT(black, samples * 3 / 4) << black << " of " << samples << " samples inside the mast are black";
    EXPECT_GT(CountColor(picture, kRed) + CountColor(picture, kWhite), 2000) << "the edges are drawn";
}

TEST_F(AnemometerFrameTest, GoldenFrames) {
    ExpectGolden(Frame(0.0f), "anemometer-0");
    ExpectGolden(Frame(45.0f), "anemometer-45");
    sceneState.device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);  // F5
    ExpectGolden(Frame(120.0f), "anemometer-120-gouraud");
    sceneState.device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);  // F4
    sceneState.device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);      // F7
    ExpectGolden(Frame(200.0f), "anemometer-200-depth-off");
    sceneState.device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);          // F6
    sceneState.device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);  // F2
    sceneState.eyeOffsetX = -2.0f;                                         // Left, Left
    sceneState.eyeOffsetZ = 1.0f;                                          // Page Up
    ExpectGolden(Frame(300.0f), "anemometer-300-wireframe-moved");
}

}  // namespace
}  // namespace rastertest
