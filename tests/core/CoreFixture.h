// A viewer set up on the recording Direct3D 9 double, as InitDevice leaves it, with a fresh
// scene state; released again after each test.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/D3DXMath.h"
#include "device/Device.h"
#include "scene/Scene.h"
#include "tests/support/RecordingDevice.h"

namespace coretest {

inline HWND FakeWindow() {
    return reinterpret_cast<HWND>(static_cast<std::uintptr_t>(0x1234));
}

class CoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::ResetRecording();
        sceneState = {};
        InitDevice(FakeWindow());
        ASSERT_NE(sceneState.device, nullptr);
        testsupport::TheRecording().Clear();
    }
    void TearDown() override {
        ReleaseDevice();
        sceneState = {};
        EXPECT_EQ(testsupport::TheRecording().liveBuffers, 0);
        EXPECT_EQ(testsupport::TheRecording().liveDevices, 0);
        EXPECT_EQ(testsupport::TheRecording().liveDirect3d, 0);
    }
    testsupport::Recording& recording() { return testsupport::TheRecording(); }
    const std::vector<testsupport::RecordedDraw>& draws() { return recording().draws; }
    DWORD State(D3DRENDERSTATETYPE state) { return testsupport::RenderState(sceneState.device, state); }
};

struct Point {
    float x, y, z;
};

// A local point under a world matrix (row vector times matrix, w = 1).
inline Point Transform(const D3DMATRIX& m, Point p) {
    return {p.x * m.m[0][0] + p.y * m.m[1][0] + p.z * m.m[2][0] + m.m[3][0],
            p.x * m.m[0][1] + p.y * m.m[1][1] + p.z * m.m[2][1] + m.m[3][1],
            p.x * m.m[0][2] + p.y * m.m[1][2] + p.z * m.m[2][2] + m.m[3][2]};
}

inline bool SameBits(const D3DMATRIX& a, const D3DMATRIX& b) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (std::bit_cast<std::uint32_t>(a.m[i][j]) != std::bit_cast<std::uint32_t>(b.m[i][j]))
                return false;
    return true;
}

inline std::int64_t UlpDistance(float a, float b) {
    auto ordered = [](float f) {
        const auto bits = static_cast<std::int64_t>(std::bit_cast<std::uint32_t>(f));
        return bits & 0x80000000 ? 0x80000000 - bits : bits;
    };
    return std::llabs(ordered(a) - ordered(b));
}

constexpr D3DCOLOR kRed = 0x00FF0000;
constexpr D3DCOLOR kWhite = 0x00FFFFFF;

}  // namespace coretest

#define EXPECT_POINT_NEAR(actual, ex, ey, ez, tolerance) \
    do {                                                 \
        const auto p_ = (actual);                        \
        EXPECT_NEAR(p_.x, (ex), (tolerance));            \
        EXPECT_NEAR(p_.y, (ey), (tolerance));            \
        EXPECT_NEAR(p_.z, (ez), (tolerance));            \
    } while (0)
