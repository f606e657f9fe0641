// The frame: the order of its calls, the rotor's advance and wrap, the camera from the eye
// offsets (also where look-at is undefined), and no buffer outliving its batch.
#include "tests/core/CoreFixture.h"

namespace coretest {
namespace {

class FrameTest : public CoreTest {};

D3DXMATRIX LookAt(float x, float y, float z) {
    const D3DXVECTOR3 eye{x, y, z}, at{0, 0, 0}, up{0, 1, 0};
    D3DXMATRIX view;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    return view;
}

TEST_F(FrameTest, CallsComeInTheFramesOrder) {
    RenderFrame();
    const auto& calls = recording().calls;
    ASSERT_GT(calls.size(), 8u);
    const std::vector<std::string> opening(calls.begin(), calls.begin() + 6);
    const std::vector<std::string> expectedOpening = {"Clear(0,null,1,4278190080,1,0)",
                                                      "Clear(0,null,2,4278190080,1,0)",
                                                      "BeginScene()",
                                                      "SetFVF(66)",
                                                      "SetTransform(2)",
                                                      "SetTransform(3)"};
    EXPECT_EQ(opening, expectedOpening);
    EXPECT_EQ(calls[calls.size() - 2], "EndScene()");
    EXPECT_EQ(calls.back(), "Present(null,null,null,null)");

    // 74 batches, each a fresh buffer: create, lock, unlock, cull mode, bind, draw, release.
    EXPECT_EQ(draws().size(), 74u);
    EXPECT_EQ(recording().CallsStartingWith("CreateVertexBuffer").size(), 74u);
    EXPECT_EQ(recording().CallsStartingWith("SetTransform(256)").size(), 8u);
    std::vector<std::string> batch;
    for (std::size_t i = 0; i < calls.size(); ++i) {
        if (calls[i].rfind("CreateVertexBuffer", 0) != 0)
            continue;
        ASSERT_LT(i + 6, calls.size());
        EXPECT_EQ(calls[i + 1], "Lock(0,0,0)");
        EXPECT_EQ(calls[i + 2], "Unlock()");
        EXPECT_EQ(calls[i + 3].rfind("SetRenderState(22,", 0), 0u);
        EXPECT_EQ(calls[i + 4], "SetStreamSource(0,buffer,0,16)");
        EXPECT_EQ(calls[i + 5].rfind("DrawPrimitive(", 0), 0u);
        EXPECT_EQ(calls[i + 6], "Release(buffer)");
    }
}

TEST_F(FrameTest, RotorStartsAtZeroAndTurnsOneDegreePerFrame) {
    const D3DMATRIX identityTranslation = [] {
        D3DXMATRIX t;
        D3DXMatrixTranslation(&t, 0.0f, 6.0f, 0.0f);
        return t;
    }();
    RenderFrame();
    EXPECT_TRUE(SameBits(draws()[2].world, identityTranslation)) << "the first frame draws the rotor at 0";
    EXPECT_EQ(sceneState.rotationDegrees, 1.0f);

    for (int frame = 1; frame < 360; ++frame) {
        EXPECT_EQ(sceneState.rotationDegrees, static_cast<float>(frame));
        recording().Clear();
        RenderFrame();
        ASSERT_NE(sceneState.rotationDegrees, 360.0f);
    }
    EXPECT_EQ(sceneState.rotationDegrees, 0.0f) << "after 360 frames the rotor is back at 0";
    EXPECT_FALSE(std::signbit(sceneState.rotationDegrees));
}

TEST_F(FrameTest, EyeFollowsTheOffsets) {
    RenderFrame();
    EXPECT_TRUE(SameBits(draws()[0].view, LookAt(0.0f, 20.0f, -30.0f)));
    D3DXMATRIX projection;
    D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, 1.3333334f, 1.0f, 100.0f);
    EXPECT_TRUE(SameBits(draws()[0].projection, projection));

    // The base eye looks down at the origin about 34 degrees below the horizontal.
    const float depression = std::atan2(20.0f, 30.0f) * 180.0f / 3.14159265f;
    EXPECT_NEAR(depression, 33.69f, 0.01f);
    EXPECT_NEAR(std::asin(-draws()[0].view.m[1][2]) * 180.0f / 3.14159265f, depression, 1e-3f);

    sceneState.eyeOffsetX = -3.0f;
    sceneState.eyeOffsetY = 2.0f;
    sceneState.eyeOffsetZ = 5.0f;
    recording().Clear();
    RenderFrame();
    EXPECT_TRUE(SameBits(draws()[0].view, LookAt(-3.0f, 22.0f, -25.0f)));
}

bool AllFinite(const D3DMATRIX& m) {
    for (const auto& row : m.m)
        for (float v : row)
            if (!std::isfinite(v))
                return false;
    return true;
}

// The view straight down at the origin (or from the origin itself) is where look-at with +y up
// is undefined: the frame must still hand the device a proper, invertible camera.
TEST_F(FrameTest, EyeOnTheVerticalThroughTheOriginKeepsAStableView) {
    struct Offsets {
        float x, y, z;
    };
    for (const Offsets offsets : {Offsets{0, 0, 30}, Offsets{0, -40, 30}, Offsets{0, -20, 30}}) {
        sceneState.eyeOffsetX = offsets.x;
        sceneState.eyeOffsetY = offsets.y;
        sceneState.eyeOffsetZ = offsets.z;
        recording().Clear();
        RenderFrame();
        ASSERT_EQ(draws().size(), 74u);
        for (const auto& draw : draws()) {
            ASSERT_TRUE(AllFinite(draw.view) && AllFinite(draw.world) && AllFinite(draw.projection));
            for (const auto& v : draw.vertices)
                ASSERT_TRUE(std::isfinite(v.x + v.y + v.z));
        }
        const D3DMATRIX& v = draws()[0].view;
        // The 3x3 rotation part is orthonormal: its determinant is 1, not 0.
        const float determinant = v.m[0][0] * (v.m[1][1] * v.m[2][2] - v.m[1][2] * v.m[2][1]) -
                                  v.m[0][1] * (v.m[1][0] * v.m[2][2] - v.m[1][2] * v.m[2][0]) +
                                  v.m[0][2] * (v.m[1][0] * v.m[2][1] - v.m[1][1] * v.m[2][0]);
        EXPECT_NEAR(determinant, 1.0f, 1e-5f) << offsets.x << "," << offsets.y << "," << offsets.z;
    }
    // From straight above, the origin is in the middle of the picture, straight ahead.
    sceneState.eyeOffsetY = 0.0f;
    recording().Clear();
    RenderFrame();
    const Point origin = Transform(draws()[0].view, {0, 0, 0});
    EXPECT_POINT_NEAR(origin, 0.0f, 0.0f, 20.0f, 1e-5f);
}

TEST_F(FrameTest, NoVertexBufferOutlivesItsBatch) {
    for (int frame = 0; frame < 400; ++frame) {
        RenderFrame();
        // Only the buffer still bound as the stream source is alive between frames.
        ASSERT_LE(recording().liveBuffers, 1) << "frame " << frame;
        recording().Clear();
    }
}

TEST_F(FrameTest, AFailedPresentLeavesTheNextFrameAsUsual) {
    RenderFrame();
    const std::vector<std::string> usual = recording().calls;
    recording().failures.present = true;
    recording().Clear();
    RenderFrame();  // presented in vain
    EXPECT_EQ(sceneState.rotationDegrees, 2.0f) << "the rotor turns on";
    recording().failures = {};
    recording().Clear();
    RenderFrame();
    EXPECT_EQ(recording().calls.size(), usual.size());
    EXPECT_EQ(draws().size(), 74u);
    EXPECT_EQ(recording().calls.back(), "Present(null,null,null,null)");
    EXPECT_LE(recording().liveBuffers, 1);
}

}  // namespace
}  // namespace coretest
