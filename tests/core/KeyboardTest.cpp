// The keyboard table: what each key changes, that every key reaches the default window
// procedure and its result is returned, and that F3's cull mode never reaches a draw.
#include "tests/core/CoreFixture.h"

namespace coretest {
namespace {

using testsupport::DefaultProcCalls;

class KeyboardTest : public CoreTest {
protected:
    LRESULT Press(WPARAM key) { return HandleKeyDown(FakeWindow(), key, 0x00480001); }
};

TEST_F(KeyboardTest, MovementKeysStepTheEyeOffsets) {
    struct Case {
        WPARAM key;
        float x, y, z;
    };
    const Case cases[] = {{VK_PRIOR, 0, 0, 1}, {VK_NEXT, 0, 0, -1}, {VK_LEFT, -1, 0, 0},
                          {VK_UP, 0, 1, 0},    {VK_RIGHT, 1, 0, 0}, {VK_DOWN, 0, -1, 0}};
    for (const Case c : cases) {
        sceneState.eyeOffsetX = sceneState.eyeOffsetY = sceneState.eyeOffsetZ = 0.0f;
        Press(c.key);
        EXPECT_EQ(sceneState.eyeOffsetX, c.x) << c.key;
        EXPECT_EQ(sceneState.eyeOffsetY, c.y) << c.key;
        EXPECT_EQ(sceneState.eyeOffsetZ, c.z) << c.key;
    }
    EXPECT_TRUE(recording().CallsStartingWith("SetRenderState").empty());
}

TEST_F(KeyboardTest, FunctionKeysSetRenderStatesAtOnce) {
    struct Case {
        WPARAM key;
        D3DRENDERSTATETYPE state;
        DWORD value;
    };
    const Case cases[] = {{VK_F2, D3DRS_FILLMODE, D3DFILL_WIREFRAME}, {VK_F1, D3DRS_FILLMODE, D3DFILL_SOLID},
                          {VK_F3, D3DRS_CULLMODE, D3DCULL_CW},        {VK_F5, D3DRS_SHADEMODE, D3DSHADE_GOURAUD},
                          {VK_F4, D3DRS_SHADEMODE, D3DSHADE_FLAT},    {VK_F7, D3DRS_ZENABLE, D3DZB_FALSE},
                          {VK_F6, D3DRS_ZENABLE, D3DZB_TRUE}};
    for (const Case c : cases) {
        recording().Clear();
        Press(c.key);
        const std::vector<std::string> expected = {"SetRenderState(" + std::to_string(c.state) + "," +
                                                   std::to_string(c.value) + ")"};
        EXPECT_EQ(recording().CallsStartingWith("SetRenderState"), expected) << c.key;
        EXPECT_EQ(State(c.state), c.value);
    }
    EXPECT_EQ(sceneState.eyeOffsetX + sceneState.eyeOffsetY + sceneState.eyeOffsetZ, 0.0f);
}

TEST_F(KeyboardTest, EveryKeyGoesOnToTheDefaultProcedure) {
    const WPARAM keys[] = {VK_PRIOR, VK_NEXT, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN, VK_F1, VK_F2, VK_F3,
                           VK_F4,    VK_F5,   VK_F6,   VK_F7, 'A',      VK_F8,   0x20,  0x77,  VK_ESCAPE};
    for (const WPARAM key : keys) {
        DefaultProcCalls().clear();
        const LRESULT result = Press(key);
        ASSERT_EQ(DefaultProcCalls().size(), 1u) << key;
        const auto& call = DefaultProcCalls()[0];
        EXPECT_EQ(call.window, FakeWindow());
        EXPECT_EQ(call.message, static_cast<UINT>(WM_KEYDOWN));
        EXPECT_EQ(call.wParam, key);
        EXPECT_EQ(call.lParam, 0x00480001);
        EXPECT_EQ(result, testsupport::DefaultProcResult(WM_KEYDOWN, key)) << "its result is returned";
    }
}

TEST_F(KeyboardTest, KeysOutsideTheTableChangeNothing) {
    for (const WPARAM key : {WPARAM{'A'}, WPARAM{VK_F8}, WPARAM{VK_HOME}, WPARAM{0x20}, WPARAM{0x77}}) {
        Press(key);
    }
    EXPECT_TRUE(recording().CallsStartingWith("SetRenderState").empty());
    EXPECT_EQ(sceneState.eyeOffsetX, 0.0f);
    EXPECT_EQ(sceneState.eyeOffsetY, 0.0f);
    EXPECT_EQ(sceneState.eyeOffsetZ, 0.0f);
}

TEST_F(KeyboardTest, LeftThreeTimesThenRightThreeTimesReturnsTheEye) {
    for (int i = 0; i < 3; ++i)
        Press(VK_LEFT);
    EXPECT_EQ(sceneState.eyeOffsetX, -3.0f);
    for (int i = 0; i < 3; ++i)
        Press(VK_RIGHT);
    EXPECT_EQ(sceneState.eyeOffsetX, 0.0f);
}

TEST_F(KeyboardTest, AKeyBetweenFramesChangesOnlyTheNextFrame) {
    RenderFrame();
    const D3DMATRIX before = draws()[0].view;
    Press(VK_UP);
    EXPECT_TRUE(SameBits(draws()[0].view, before)) << "the finished frame is not touched";
    recording().Clear();
    RenderFrame();
    const D3DXVECTOR3 eye{0, 21, -30}, at{0, 0, 0}, up{0, 1, 0};
    D3DXMATRIX expected;
    D3DXMatrixLookAtLH(&expected, &eye, &at, &up);
    EXPECT_TRUE(SameBits(draws()[0].view, expected));
}

TEST_F(KeyboardTest, F3IsReplacedByTheNextBatchBeforeAnythingIsDrawn) {
    Press(VK_F3);
    recording().Clear();
    RenderFrame();
    const auto& calls = recording().calls;
    const auto firstDraw =
        std::find_if(calls.begin(), calls.end(), [](const std::string& c) { return c.rfind("DrawPrimitive", 0) == 0; });
    const auto firstCull = std::find_if(calls.begin(), calls.end(),
                                        [](const std::string& c) { return c.rfind("SetRenderState(22,", 0) == 0; });
    ASSERT_NE(firstDraw, calls.end());
    EXPECT_LT(firstCull, firstDraw);
    // Every batch is drawn under its own cull mode, whatever F3 set.
    const DWORD expected[] = {D3DCULL_CW, D3DCULL_CCW, D3DCULL_CCW, D3DCULL_CCW, D3DCULL_CW};
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(draws()[i].cullMode, expected[i]) << i;
}

}  // namespace
}  // namespace coretest
