// What must never crash or touch memory outside a buffer: draws asking for more than the
// buffer holds, non-finite and enormous coordinates, and stretches into nothing. Run under the
// linux-debug preset (AddressSanitizer, UBSan) these also prove the absence of stray accesses.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "platform/d3d9/Fragment.h"
#include "platform/d3d9/Standin.h"
#include "tests/raster/RasterSupport.h"

namespace rastertest {
namespace {

constexpr int kSize = 32;

std::vector<Vertex> Quad(float x0, float y0, float x1, float y1, D3DCOLOR color) {
    return {AtScreen(kSize, kSize, x0, y0, color), AtScreen(kSize, kSize, x1, y0, color),
            AtScreen(kSize, kSize, x0, y1, color), AtScreen(kSize, kSize, x1, y1, color)};
}

struct OverdrawCase {
    D3DPRIMITIVETYPE type;
    UINT startVertex;
    UINT primitiveCount;
};

class RasterOverdraw : public ::testing::TestWithParam<OverdrawCase> {};

// Asking for more primitives than the buffer holds draws the complete ones that fit, exactly
// as a draw of just those would, and reads nothing past the buffer.
TEST_P(RasterOverdraw, DrawsOnlyTheCompletePrimitivesThatFit) {
    const OverdrawCase& c = GetParam();
    // Six vertices: two list triangles, or four strip or fan triangles.
    std::vector<Vertex> vertices = Quad(2, 2, 14, 14, 0xFFFFFF);
    vertices.push_back(AtScreen(kSize, kSize, 30, 20, 0xFF0000));
    vertices.push_back(AtScreen(kSize, kSize, 20, 30, 0x0000FF));

    TestDevice expected(kSize, kSize);
    expected.BeginFrame();
    const UINT available = static_cast<UINT>(vertices.size()) - std::min<UINT>(c.startVertex, 6);
    UINT fit = 0;
    switch (c.type) {
        case D3DPT_POINTLIST:
            fit = available;
            break;
        case D3DPT_LINELIST:
            fit = available / 2;
            break;
        case D3DPT_LINESTRIP:
            fit = available >= 1 ? available - 1 : 0;
            break;
        case D3DPT_TRIANGLELIST:
            fit = available / 3;
            break;
        default:
            fit = available >= 2 ? available - 2 : 0;
            break;
    }
    if (fit > 0) {
        expected.Draw(c.type, std::vector<Vertex>(vertices.begin() + c.startVertex, vertices.end()), fit);
    }
    expected.EndFrame();

    TestDevice device(kSize, kSize);
    device.BeginFrame();
    IDirect3DVertexBuffer9* buffer = nullptr;
    const UINT bytes = static_cast<UINT>(vertices.size() * sizeof(Vertex));
    device->CreateVertexBuffer(bytes, 0, kVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr);
    void* data = nullptr;
    buffer->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), bytes);
    buffer->Unlock();
    device->SetStreamSource(0, buffer, 0, sizeof(Vertex));
    EXPECT_EQ(device->DrawPrimitive(c.type, c.startVertex, c.primitiveCount), D3D_OK);
    buffer->Release();
    device.EndFrame();

    EXPECT_TRUE(SamePicture(device.Read(), expected.Read(), "overdraw"));
}

INSTANTIATE_TEST_SUITE_P(
    Raster, RasterOverdraw,
    ::testing::Values(OverdrawCase{D3DPT_TRIANGLELIST, 0, 1000}, OverdrawCase{D3DPT_TRIANGLESTRIP, 0, 5},
                      OverdrawCase{D3DPT_TRIANGLEFAN, 0, 0xFFFFFFFFu}, OverdrawCase{D3DPT_TRIANGLESTRIP, 3, 4},
                      OverdrawCase{D3DPT_TRIANGLELIST, 5, 1}, OverdrawCase{D3DPT_TRIANGLEFAN, 0xFFFFFFF0u, 0xFFFFFFFFu},
                      OverdrawCase{D3DPT_LINELIST, 1, 100}, OverdrawCase{D3DPT_LINESTRIP, 0, 9},
                      OverdrawCase{D3DPT_POINTLIST, 2, 0xFFFFFFFFu}));

TEST(RasterOverdrawOffset, StreamOffsetPastTheEndDrawsNothing) {
    TestDevice device(kSize, kSize);
    device.BeginFrame();
    IDirect3DVertexBuffer9* buffer = nullptr;
    device->CreateVertexBuffer(64, 0, kVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr);
    device->SetStreamSource(0, buffer, 0xFFFFFFF0u, sizeof(Vertex));
    EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    buffer->Release();
    device.EndFrame();
    EXPECT_EQ(CountColor(device.Read(), kBlack), kSize * kSize);
}

// Non-finite and enormous positions in a triangle drop or clip that triangle; nothing is written
// outside the buffers, and the device draws normally afterwards. Triangles with a NaN or an
// infinite coordinate draw nothing at all.
TEST(RasterNonFinite, BadVerticesAreDroppedOrClipped) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float big = std::numeric_limits<float>::max();
    const float bad[] = {nan, inf, -inf, big, -big, 1e30f, -1e30f, 1e-38f};
    for (DWORD fill : {D3DFILL_SOLID, D3DFILL_WIREFRAME, D3DFILL_POINT}) {
        for (float value : bad) {
            const std::vector<Vertex> vertices = {{value, 0, 0.5f, 0xFF0000},    {0.5f, value, 0.5f, 0xFF0000},
                                                  {0.5f, 0.5f, value, 0xFF0000}, {value, value, value, 0xFF0000},
                                                  {0, 0, 0.5f, 0xFF0000},        {value, -value, 0.5f, 0xFF0000}};
            TestDevice device(kSize, kSize);
            device->SetRenderState(D3DRS_FILLMODE, fill);
            device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
            device->SetRenderState(D3DRS_ZENABLE, D3DZB_FALSE);
            device.BeginFrame();
            EXPECT_EQ(device.Draw(D3DPT_TRIANGLELIST, vertices), D3D_OK);
            EXPECT_EQ(device.Draw(D3DPT_TRIANGLESTRIP, vertices), D3D_OK);
            // The same through a projection that makes w non-finite, zero or tiny.
            D3DMATRIX projection{};
            projection.m[0][0] = projection.m[1][1] = 1;
            projection.m[2][3] = value;  // w = z * value
            device->SetTransform(D3DTS_PROJECTION, &projection);
            EXPECT_EQ(device.Draw(D3DPT_TRIANGLEFAN, vertices), D3D_OK);
            EXPECT_EQ(device.Draw(D3DPT_LINESTRIP, vertices, 5), D3D_OK);
            EXPECT_EQ(device.Draw(D3DPT_POINTLIST, vertices, 6), D3D_OK);
            if (!std::isfinite(value)) {
                EXPECT_EQ(CountColor(device.Read(), kRed), 0) << "value " << value << " fill " << fill;
            }
            // A finite triangle afterwards is drawn as usual.
            const D3DMATRIX identity{{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}}};
            device->SetTransform(D3DTS_PROJECTION, &identity);
            device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
            device.Draw(
                D3DPT_TRIANGLELIST,
                {{-0.5f, -0.5f, 0.5f, 0xFFFFFF}, {-0.5f, -0.9f, 0.5f, 0xFFFFFF}, {-0.9f, -0.5f, 0.5f, 0xFFFFFF}});
            device.EndFrame();
            EXPECT_EQ(device.Read().At(6, 26), kWhite) << "value " << value << " fill " << fill;
        }
    }
}

// A triangle far larger than the screen is clipped at the guard band and still covers exactly
// the viewport.
TEST(RasterNonFinite, HugeTriangleCoversTheWholeViewport) {
    for (float size : {1e3f, 1e7f, 1e20f, 3e38f}) {
        TestDevice device(kSize, kSize);
        device.BeginFrame();
        device.Draw(D3DPT_TRIANGLELIST,
                    {{-size, -size, 0.5f, 0xFFFFFF}, {-size, size, 0.5f, 0xFFFFFF}, {size, -size / 2, 0.5f, 0xFFFFFF}});
        device.EndFrame();
        EXPECT_EQ(CountColor(device.Read(), kWhite), kSize * kSize) << size;
    }
}

// The kernels step a small triangle's edges in 32 bits without checking their range: up to the
// size limit (16 x 64 pixels of vertices), with slivers whose edge values are largest for their
// size, each kernel set fills them as the 64-bit per-fragment path does (taken with a colour
// mask that leaves alpha, which X8R8G8B8 does not keep). So do triangles up to 31 pixels wide,
// which the lanes take after checking the range, and ones 10 to 30 pixels wide and thousands
// tall, whose values would not fit in 32 bits.
TEST(RasterKernelRange, SmallTrianglesFillAsThePerFragmentPathDoes) {
    constexpr int kTall = 600;
    std::vector<Vertex> vertices;
    for (int i = 0; i < 300; ++i) {
        const float x = static_cast<float>(i % 13) * 2.3f + 4.0f, y = static_cast<float>(i % 7) * 3.1f + 2.0f;
        const float w = (i % 8 < 4 ? 16.0f : 31.0f) - static_cast<float>(i % 3) / 256;
        const float h = 64.0f - static_cast<float>(i % 5) / 128;
        const D3DCOLOR color = 0xFF000000u | (static_cast<std::uint32_t>(i) * 2654435761u >> 8);
        const float z = static_cast<float>(i % 11) / 11;
        if (i % 4 == 3) {
            const float width = static_cast<float>(10 + 10 * (i / 4 % 3));
            vertices.insert(vertices.end(), {AtScreen(kSize, kTall, x / 8, -4000, color, z),
                                             AtScreen(kSize, kTall, x / 8 + width, 4000, color, z),
                                             AtScreen(kSize, kTall, x / 8 + width / 2, 300, color, z)});
        } else {  // along the diagonal of its w x h extent, a sliver or a wider triangle
            const float bulge = i % 2 == 0 ? 1.0f / 64 : 3.0f;
            vertices.insert(vertices.end(), {AtScreen(kSize, kTall, x - 8, y - 30, color, z),
                                             AtScreen(kSize, kTall, x - 8 + w, y - 30 + h, color, z),
                                             AtScreen(kSize, kTall, x - 8 + bulge, y - 30 + h / 2, color, z)});
        }
    }
    // Each triangle alone, so that no other hides what it covers; Gouraud one by one, flat in the
    // batches of triangles set up side by side.
    for (const std::string& set : standin::RasterKernelSets()) {
        ASSERT_TRUE(standin::UseRasterKernels(set));
        TestDevice device(kSize, kTall);
        for (std::size_t k = 0; k < 2 * vertices.size(); k += 3) {
            device->SetRenderState(D3DRS_SHADEMODE, k < vertices.size() ? D3DSHADE_GOURAUD : D3DSHADE_FLAT);
            const std::size_t v = k % vertices.size();
            std::vector<Picture> pictures;
            for (const DWORD mask : {0xFu, 0x7u}) {
                device.BeginFrame();
                device->SetRenderState(D3DRS_COLORWRITEENABLE, mask);
                device.Draw(D3DPT_TRIANGLELIST, {vertices[v], vertices[v + 1], vertices[v + 2]});
                device.EndFrame();
                pictures.push_back(device.Read());
            }
            device->SetRenderState(D3DRS_COLORWRITEENABLE, 0xF);
            ASSERT_TRUE(SamePicture(pictures[0], pictures[1], "kernel-range"))
                << "triangle " << v / 3 << (k < vertices.size() ? " Gouraud, " : " flat, ") << set << " kernels";
        }
    }
    standin::UseRasterKernels("");
}

// Each kernel set's mapping of a run of vertices, four at a time, gives what the vertex-by-vertex
// steps give, for every mix of hostile and borderline coordinates: non-finite ones, w of zero or
// either sign, the guard band's and the screen range's edges, and positions whose snapping falls
// on a half of 1/256 pixel. Runs of every length up to eight cover the partial last group.
TEST(RasterVertexMapping, EveryKernelSetMapsRunsLikeTheScalarSteps) {
    using standin::pipeline::ClipVertex;
    using standin::pipeline::ScreenVertex;
    using standin::pipeline::VertexPlace;
    const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
    const double values[] = {0, -0.0, 1, -1, 0.5, 16, -16, 16.000001, 1e-300, -1e-300, 1e300, nan, inf, -inf,
                             // with a viewport 128 wide these put x * 256 on a half, above and below 0
                             201.0 / 32768 - 1, -1 - 201.0 / 32768};
    D3DVIEWPORT9 viewport{0, 0, 128, 128, 0, 1};
    const standin::pipeline::ViewportMap map(viewport);
    std::vector<ClipVertex> vertices;
    for (double x : values) {
        for (double w : {1.0, 0.5, 0.0, -1.0, 1e-300, inf, nan}) {
            for (double yz : {0.25, 0.0, -0.5, 1.5, nan}) {
                const double shade = static_cast<double>(vertices.size() % 13) / 13;
                vertices.push_back({x * (std::isfinite(w) ? w : 1), -x, yz, w, {shade, 1 - shade, 1.0 / 3, 1}});
                vertices.push_back({yz, x, x, w, {1, shade, 0, shade}});
            }
        }
    }
    for (const auto& [name, kernels] : standin::pipeline::OfferedRasterKernels()) {
        for (std::size_t length = 1; length <= 8; ++length) {
            for (std::size_t first = 0; first + length <= vertices.size(); first += length) {
                std::vector<ScreenVertex> out(length);
                std::vector<VertexPlace> places(length, VertexPlace::kOnScreen);
                const std::size_t room = length + standin::pipeline::kColumnSlack;
                std::vector<std::int64_t> columnX(room), columnY(room);
                std::vector<float> windowX(room), windowY(room), windowZ(room);
                const standin::pipeline::VertexColumns columns{columnX.data(), columnY.data(), windowX.data(),
                                                               windowY.data(), windowZ.data()};
                standin::pipeline::VertexBox box;
                kernels->mapVertices(&vertices[first], length, map, out.data(), columns, places.data(), &box);
                standin::pipeline::VertexBox expectedBox;
                for (std::size_t k = 0; k < length; ++k) {
                    const ClipVertex& v = vertices[first + k];
                    ScreenVertex expected;
                    const VertexPlace place = !standin::pipeline::InsideClipVolume(v) ? VertexPlace::kClip
                                              : standin::pipeline::MapVertexPosition(v, map, &expected)
                                                  ? VertexPlace::kOnScreen
                                                  : VertexPlace::kUnusable;
                    ASSERT_EQ(places[k], place) << "vertex " << first + k << " (" << v.x << ", " << v.y << ", " << v.z
                                                << ", " << v.w << "), " << name << " kernels";
                    if (place == VertexPlace::kOnScreen) {
                        standin::pipeline::MapVertexAttributes(v, map, &expected);
                        ASSERT_EQ(out[k].x, expected.x) << "vertex " << first + k;
                        ASSERT_EQ(out[k].y, expected.y) << "vertex " << first + k;
                        // Depth and every attribute, bit for bit (the fields from z on have no padding).
                        constexpr std::size_t kFrom = offsetof(ScreenVertex, z);
                        constexpr std::size_t kTo = offsetof(ScreenVertex, rgb) + sizeof(ScreenVertex::rgb);
                        ASSERT_EQ(std::memcmp(&out[k].z, &expected.z, kTo - kFrom), 0) << "vertex " << first + k;
                        // The columns hold the same.
                        const float window[3] = {windowX[k], windowY[k], windowZ[k]};
                        ASSERT_EQ(columnX[k], expected.x) << "vertex " << first + k;
                        ASSERT_EQ(columnY[k], expected.y) << "vertex " << first + k;
                        ASSERT_EQ(std::memcmp(window, &expected.windowX, sizeof window), 0) << "vertex " << first + k;
                        expectedBox.minX = std::min(expectedBox.minX, expected.x);
                        expectedBox.maxX = std::max(expectedBox.maxX, expected.x);
                        expectedBox.minY = std::min(expectedBox.minY, expected.y);
                        expectedBox.maxY = std::max(expectedBox.maxY, expected.y);
                    }
                }
                // The box of the mapped positions, and of no other lane's.
                ASSERT_EQ(box.minX, expectedBox.minX) << "run from " << first << ", " << name << " kernels";
                ASSERT_EQ(box.maxX, expectedBox.maxX) << "run from " << first;
                ASSERT_EQ(box.minY, expectedBox.minY) << "run from " << first;
                ASSERT_EQ(box.maxY, expectedBox.maxY) << "run from " << first;
            }
        }
    }
}

// >>stretch

TEST(RasterStretch, ZeroSizedDestinationWritesNothing) {
    const std::uint32_t source[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    const standin::Image image{source, 2, 2};
    std::uint32_t canary[4] = {1, 2, 3, 4};
    standin::StretchBilinear(image, canary, 0, 0);
    standin::StretchBilinear(image, canary, 0, 5);
    standin::StretchBilinear(image, canary, 5, 0);
    standin::StretchBilinear(image, canary, -3, 2);
    standin::StretchBilinear(image, nullptr, 0, 0);
    standin::StretchBilinear(standin::Image{}, canary, 2, 2);
    EXPECT_EQ(canary[0], 1u);
    EXPECT_EQ(canary[3], 4u);
}

TEST(RasterStretch, SameSizeCopiesAndScalingMapsCentresToCentres) {
    const std::uint32_t source[6] = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000, 0xFFFFFF, 0x808080};
    const standin::Image image{source, 3, 2};
    std::uint32_t same[6] = {};
    standin::StretchBilinear(image, same, 3, 2);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(same[i] & 0xFFFFFF, source[i]) << i;
    }
    // A row 0 -> 255 (blue) doubled in width: centres of the new pixels fall at source x
    // -0.25 (clamped to 0), 0.25, 0.75, 1.25.
    const std::uint32_t ramp[2] = {0x000000, 0x0000FF};
    std::uint32_t wide[4] = {};
    standin::StretchBilinear(standin::Image{ramp, 2, 1}, wide, 4, 1);
    EXPECT_EQ(wide[0] & 0xFF, 0u);
    EXPECT_EQ(wide[1] & 0xFF, 64u);   // 63.75
    EXPECT_EQ(wide[2] & 0xFF, 191u);  // 191.25
    EXPECT_EQ(wide[3] & 0xFF, 255u);
    // Down to one pixel: the centre of the source, the mean of all four corners of a 2 x 2.
    const std::uint32_t square[4] = {0x000000, 0x0000FF, 0x0000FF, 0x000000};
    std::uint32_t one = 0;
    standin::StretchBilinear(standin::Image{square, 2, 2}, &one, 1, 1);
    EXPECT_EQ(one & 0xFF, 128u);  // 127.5 rounded to nearest
}

TEST(RasterStretch, EveryChannelIsTheBilinearMixWithinALevelUpDownAndAcross) {
    // Noise, so that a channel leaking into its neighbour or a row mixed from the wrong source
    // row shows; checked against the filter worked out in doubles.
    constexpr int kWidth = 37, kHeight = 23;
    std::vector<std::uint32_t> source(kWidth * kHeight);
    std::uint32_t state = 12345;
    for (std::uint32_t& pixel : source) {
        state = state * 1664525u + 1013904223u;
        pixel = state >> 8;
    }
    const standin::Image image{source.data(), kWidth, kHeight};
    const auto exact = [&](int x, int y, int width, int height, int shift) {
        const auto tap = [](int d, int from, int to, int* first, int* second) {
            const double u = std::clamp((d + 0.5) * from / to - 0.5, 0.0, from - 1.0);
            *first = static_cast<int>(u);
            *second = std::min(*first + 1, from - 1);
            return u - *first;
        };
        int x0 = 0, x1 = 0, y0 = 0, y1 = 0;
        const double wx = tap(x, kWidth, width, &x0, &x1);
        const double wy = tap(y, kHeight, height, &y0, &y1);
        const auto at = [&](int sx, int sy) { return static_cast<double>((source[sy * kWidth + sx] >> shift) & 0xFF); };
        const double top = at(x0, y0) + (at(x1, y0) - at(x0, y0)) * wx;
        const double bottom = at(x0, y1) + (at(x1, y1) - at(x0, y1)) * wx;
        return top + (bottom - top) * wy;
    };
    for (const auto& [width, height] : {std::pair{100, 61}, std::pair{15, 9}, std::pair{37, 70}, std::pair{90, 5}}) {
        std::vector<std::uint32_t> out(static_cast<std::size_t>(width * height));
        standin::StretchBilinear(image, out.data(), width, height);
        double worst = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                for (int shift = 0; shift <= 16; shift += 8) {
                    const double got = (out[y * width + x] >> shift) & 0xFF;
                    worst = std::max(worst, std::abs(got - exact(x, y, width, height, shift)));
                }
            }
        }
        EXPECT_LE(worst, 0.51) << width << " x " << height;
    }
}

}  // namespace
}  // namespace rastertest
