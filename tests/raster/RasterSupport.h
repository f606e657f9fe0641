// Helpers for the software Direct3D 9 tests: a device on a back buffer of any size with the
// viewer's start-up states, vertex upload as the viewer does it, pictures read back from the
// device or from PNG files, and exact comparison that leaves the evidence behind on failure.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d9/D3D9.h"

namespace rastertest {

// X8R8G8B8 pixels, rows top to bottom.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;

    std::uint32_t At(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] &
               0x00FFFFFFu;
    }
};

// The viewer's vertex: position and diffuse colour, FVF D3DFVF_XYZ | D3DFVF_DIFFUSE.
struct Vertex {
    float x;
    float y;
    float z;
    D3DCOLOR color;
};
inline constexpr DWORD kVertexFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

inline constexpr std::uint32_t kBlack = 0x000000;
inline constexpr std::uint32_t kRed = 0xFF0000;
inline constexpr std::uint32_t kWhite = 0xFFFFFF;

bool ReadPng(const std::string& path, Picture* picture, std::string* error);
bool WritePng(const std::string& path, const Picture& picture);

// A device as the viewer creates it (windowed, DISCARD, D16, software vertex processing) on a
// width x height back buffer, with the viewer's start-up states unless told otherwise:
// lighting off, no culling, depth on, flat shading, solid fill. When a test fails, the last
// picture it read is written to SUITE.TEST_actual.png in the working directory.
class TestDevice {
public:
    TestDevice(int width, int height, bool viewerStartupStates = true);
    ~TestDevice();
    TestDevice(const TestDevice&) = delete;
    TestDevice& operator=(const TestDevice&) = delete;

    IDirect3DDevice9* operator->() const { return device_; }
    IDirect3DDevice9* get() const { return device_; }
    IDirect3D9* direct3d() const { return direct3d_; }

    // Clears colour and depth, begins the scene and sets the viewer's FVF.
    void BeginFrame(D3DCOLOR clearColor = 0xFF000000u);
    // Uploads the vertices into a fresh managed buffer and draws them with DrawPrimitive;
    // primitiveCount -1 draws as many as the vertices make.
    HRESULT Draw(D3DPRIMITIVETYPE type, const std::vector<Vertex>& vertices, long long primitiveCount = -1);
    void EndFrame();
    Picture Read() const;

private:
    IDirect3D9* direct3d_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
};

// A vertex placed at screen position (sx, sy) of a width x height viewport, for identity
// transforms: x = sx / (width / 2) - 1, y = 1 - sy / (height / 2). Exact for quarter pixels.
inline Vertex AtScreen(int width, int height, float sx, float sy, D3DCOLOR color, float z = 0.5f) {
    return {sx / (static_cast<float>(width) / 2) - 1, 1 - sy / (static_cast<float>(height) / 2), z, color};
}

// A window handle that is never dereferenced; the device only hands it to the presenter.
HWND FakeWindow();

// For tests of the viewer's own frame code: the device made by InitDevice for FakeWindow, as
// the viewer makes it (fails the test without one), and released afterwards, with a check that
// no device and no vertex buffer is left.
void OpenViewerDevice();
void CloseViewerDevice();

// A parameterised test's name made from a scene's or a state's name ('-' is not allowed).
std::string TestNameOf(std::string name);

// Exact comparison of red, green and blue (the X byte is undefined). On a difference it writes
// NAME_actual.png and NAME_diff.png (differing pixels white) into the working directory and
// names the first differing pixels. Up to `toleratedRoundings` pixels may differ by one in some
// channels (a value that falls on a rounding boundary); any other difference fails.
::testing::AssertionResult SamePicture(const Picture& actual, const Picture& expected, const std::string& name,
                                       int toleratedRoundings = 0);

// Pixels of `picture` equal to `color` (RGB).
int CountColor(const Picture& picture, std::uint32_t color);

}  // namespace rastertest
