// Device set-up and release: the presentation parameters, the start-up render states in their
// order, release order, and what a failed creation leaves behind.
#include "tests/core/CoreFixture.h"

namespace coretest {
namespace {

using testsupport::TheRecording;

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetRecording();
        sceneState = {};
    }
    void TearDown() override {
        ReleaseDevice();
        sceneState = {};
    }
};

TEST_F(DeviceTest, CreatesAWindowedDeviceWithTheViewersParameters) {
    InitDevice(FakeWindow());
    ASSERT_NE(sceneState.direct3d, nullptr);
    ASSERT_NE(sceneState.device, nullptr);

    const auto& calls = TheRecording().calls;
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "Direct3DCreate9(32)");
    // Default adapter, HAL, the window as focus window, software vertex processing.
    EXPECT_EQ(calls[1], "CreateDevice(0,1,0x1234,32)");

    const D3DPRESENT_PARAMETERS& p = TheRecording().presentParameters;
    EXPECT_EQ(p.BackBufferWidth, 800u);
    EXPECT_EQ(p.BackBufferHeight, 600u);
    EXPECT_EQ(p.BackBufferFormat, D3DFMT_X8R8G8B8);
    EXPECT_EQ(p.BackBufferCount, 0u);
    EXPECT_EQ(p.MultiSampleType, D3DMULTISAMPLE_NONE);
    EXPECT_EQ(p.MultiSampleQuality, 0u);
    EXPECT_EQ(p.SwapEffect, D3DSWAPEFFECT_DISCARD);
    EXPECT_EQ(p.hDeviceWindow, FakeWindow());
    EXPECT_EQ(p.Windowed, TRUE);
    EXPECT_EQ(p.EnableAutoDepthStencil, TRUE);
    EXPECT_EQ(p.AutoDepthStencilFormat, D3DFMT_D16);
    EXPECT_EQ(p.Flags, 0u);
    EXPECT_EQ(p.FullScreen_RefreshRateInHz, 0u);
    EXPECT_EQ(p.PresentationInterval, 0u);
}

TEST_F(DeviceTest, SetsTheFiveStartUpStatesInOrder) {
    InitDevice(FakeWindow());
    const std::vector<std::string> expected = {"SetRenderState(137,0)", "SetRenderState(22,1)", "SetRenderState(7,1)",
                                               "SetRenderState(9,1)", "SetRenderState(8,3)"};
    EXPECT_EQ(TheRecording().CallsStartingWith("SetRenderState"), expected);
    EXPECT_EQ(testsupport::RenderState(sceneState.device, D3DRS_LIGHTING), static_cast<DWORD>(FALSE));
    EXPECT_EQ(testsupport::RenderState(sceneState.device, D3DRS_CULLMODE), static_cast<DWORD>(D3DCULL_NONE));
    EXPECT_EQ(testsupport::RenderState(sceneState.device, D3DRS_ZENABLE), static_cast<DWORD>(D3DZB_TRUE));
    EXPECT_EQ(testsupport::RenderState(sceneState.device, D3DRS_SHADEMODE), static_cast<DWORD>(D3DSHADE_FLAT));
    EXPECT_EQ(testsupport::RenderState(sceneState.device, D3DRS_FILLMODE), static_cast<DWORD>(D3DFILL_SOLID));
}

TEST_F(DeviceTest, ReleasesTheDeviceBeforeTheDirect3DObject) {
    InitDevice(FakeWindow());
    TheRecording().Clear();
    ReleaseDevice();
    const auto releases = TheRecording().CallsStartingWith("Release");
    ASSERT_FALSE(releases.empty());
    EXPECT_EQ(releases.front(), "Release(device)");
    EXPECT_EQ(releases.back(), "Release(direct3d(last))");
    EXPECT_EQ(sceneState.device, nullptr);
    EXPECT_EQ(sceneState.direct3d, nullptr);
    EXPECT_EQ(TheRecording().liveDevices, 0);
    EXPECT_EQ(TheRecording().liveDirect3d, 0);
}

TEST_F(DeviceTest, AFailedCreationLeavesNothingBehind) {
    TheRecording().failures.direct3dCreate = true;
    InitDevice(FakeWindow());
    EXPECT_EQ(sceneState.direct3d, nullptr);
    EXPECT_EQ(sceneState.device, nullptr);

    testsupport::ResetRecording();
    TheRecording().failures.createDevice = true;
    InitDevice(FakeWindow());
    EXPECT_EQ(sceneState.direct3d, nullptr);
    EXPECT_EQ(sceneState.device, nullptr);
    EXPECT_EQ(TheRecording().liveDirect3d, 0) << "the Direct3D object must be released when the device fails";
    EXPECT_TRUE(TheRecording().CallsStartingWith("SetRenderState").empty());
    ReleaseDevice();  // harmless with nothing to release
}

}  // namespace
}  // namespace coretest
