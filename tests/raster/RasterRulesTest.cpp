// Small hand-built scenes on small back buffers, each pinning down one of Direct3D 9's
// rasterization rules with expectations worked out by hand from the rule, not from the code.
#include <cmath>
#include <random>
#include <set>
#include <tuple>
#include <utility>

#include "platform/d3d9/Fragment.h"
#include "platform/d3d9/Standin.h"
#include "tests/raster/RasterSupport.h"

namespace rastertest {
namespace {

constexpr int kSize = 32;

using PixelSet = std::set<std::pair<int, int>>;

PixelSet PixelsOf(const Picture& picture, std::uint32_t color) {
    PixelSet pixels;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            if (picture.At(x, y) == color) {
                pixels.insert({x, y});
            }
        }
    }
    return pixels;
}

Picture DrawAlone(D3DPRIMITIVETYPE type, const std::vector<Vertex>& vertices) {
    TestDevice device(kSize, kSize);
    device.BeginFrame();
    device.Draw(type, vertices);
    device.EndFrame();
    return device.Read();
}

// >>coverage: pixel centres on integer coordinates, top-left fill rule

// The worked example of the Direct3D 9 rasterization rules: of the square (0,0)-(5,5) cut along
// its diagonal, the triangle (0,0),(5,0),(5,5) gets 15 pixels and (0,5),(0,0),(5,5) gets 10.
TEST(RasterCoverage, DocumentedDiagonalSquareExample) {
    const Picture upper =
        DrawAlone(D3DPT_TRIANGLELIST, {AtScreen(kSize, kSize, 0, 0, 0xFFFFFF), AtScreen(kSize, kSize, 5, 0, 0xFFFFFF),
                                       AtScreen(kSize, kSize, 5, 5, 0xFFFFFF)});
    const Picture lower =
        DrawAlone(D3DPT_TRIANGLELIST, {AtScreen(kSize, kSize, 0, 5, 0xFFFFFF), AtScreen(kSize, kSize, 0, 0, 0xFFFFFF),
                                       AtScreen(kSize, kSize, 5, 5, 0xFFFFFF)});
    EXPECT_EQ(CountColor(upper, kWhite), 15);
    EXPECT_EQ(CountColor(lower, kWhite), 10);
    // The diagonal's pixels (i, i) lie on the left edge of the upper triangle and belong to it.
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(upper.At(i, i), kWhite) << i;
        EXPECT_EQ(lower.At(i, i), kBlack) << i;
    }
}

struct RectangleCase {
    float left, top, right, bottom;                  // screen corners
    int firstColumn, lastColumn, firstRow, lastRow;  // covered pixels, inclusive
};

class RasterRectangleExtent : public ::testing::TestWithParam<RectangleCase> {};

// A rectangle covers the pixels whose centres lie inside it, or on its left or top side.
TEST_P(RasterRectangleExtent, CoversExactlyTheCentresInside) {
    const RectangleCase& r = GetParam();
    const Picture picture = DrawAlone(
        D3DPT_TRIANGLESTRIP,
        {AtScreen(kSize, kSize, r.left, r.top, 0xFFFFFF), AtScreen(kSize, kSize, r.right, r.top, 0xFFFFFF),
         AtScreen(kSize, kSize, r.left, r.bottom, 0xFFFFFF), AtScreen(kSize, kSize, r.right, r.bottom, 0xFFFFFF)});
    PixelSet expected;
    for (int y = r.firstRow; y <= r.lastRow; ++y) {
        for (int x = r.firstColumn; x <= r.lastColumn; ++x) {
            expected.insert({x, y});
        }
    }
    EXPECT_EQ(PixelsOf(picture, kWhite), expected);
}

INSTANTIATE_TEST_SUITE_P(Raster, RasterRectangleExtent,
                         ::testing::Values(RectangleCase{4, 4, 9, 7, 4, 8, 4, 6},                  // on centres
                                           RectangleCase{4.25f, 4.25f, 9.25f, 7.25f, 5, 9, 5, 7},  // just after
                                           RectangleCase{3.75f, 3.75f, 8.75f, 6.75f, 4, 8, 4, 6},  // just before
                                           RectangleCase{4.5f, 2.5f, 10.5f, 3.5f, 5, 10, 3, 3},    // half pixels
                                           RectangleCase{0, 0, 32, 32, 0, 31, 0, 31},              // whole target
                                           RectangleCase{-8, -8, 2, 40, 0, 1, 0, 31},              // scissored
                                           // Off the right and bottom edges: a fill running one
                                           // column too far shows in column 0 of the next row.
                                           RectangleCase{24.5f, 20.5f, 48, 44, 25, 31, 21, 31},
                                           RectangleCase{20.5f, 28.5f, 48, 44, 21, 31, 29, 31},  // 11 wide
                                           RectangleCase{12.5f, 26.5f, 48, 44, 13, 31, 27, 31},  // 19 wide
                                           // Edges thousands of pixels long, cut to three columns.
                                           RectangleCase{28.5f, 2.5f, 4000, 20.5f, 29, 31, 3, 20}));

struct SplitQuad {
    float x0, y0, x1, y1;
};

class RasterSharedEdge : public ::testing::TestWithParam<SplitQuad> {};

// Two triangles sharing the diagonal of a quadrilateral cover every pixel of the quadrilateral
// once: none twice, none missed.
TEST_P(RasterSharedEdge, CoversEachPixelExactlyOnce) {
    const SplitQuad& q = GetParam();
    const Vertex a = AtScreen(kSize, kSize, q.x0, q.y0, 0xFFFFFF);
    const Vertex b = AtScreen(kSize, kSize, q.x1, q.y0 + 1.5f, 0xFFFFFF);
    const Vertex c = AtScreen(kSize, kSize, q.x1 - 2.25f, q.y1, 0xFFFFFF);
    const Vertex d = AtScreen(kSize, kSize, q.x0 + 0.75f, q.y1 - 3.5f, 0xFFFFFF);
    const PixelSet first = PixelsOf(DrawAlone(D3DPT_TRIANGLELIST, {a, b, c}), kWhite);
    const PixelSet second = PixelsOf(DrawAlone(D3DPT_TRIANGLELIST, {a, c, d}), kWhite);
    const PixelSet whole = PixelsOf(DrawAlone(D3DPT_TRIANGLEFAN, {a, b, c, d}), kWhite);
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    for (const auto& pixel : first) {
        EXPECT_EQ(second.count(pixel), 0u) << "covered twice: " << pixel.first << ", " << pixel.second;
    }
    EXPECT_EQ(first.size() + second.size(), whole.size());
    // The same quadrilateral cut along its other diagonal covers the same pixels.
    const PixelSet otherCut = PixelsOf(DrawAlone(D3DPT_TRIANGLEFAN, {b, c, d, a}), kWhite);
    EXPECT_EQ(otherCut, whole);
}

INSTANTIATE_TEST_SUITE_P(Raster, RasterSharedEdge,
                         ::testing::Values(SplitQuad{2, 2, 29, 29}, SplitQuad{1.25f, 3.75f, 30.5f, 27.25f},
                                           SplitQuad{5.0625f, 0.5f, 17.9375f, 31.5f},
                                           SplitQuad{0.3f, 1.7f, 29.9f, 13.1f}));

// >>culling: clockwise on the screen is the front face

enum class Winding { Clockwise, CounterClockwise };

struct CullCase {
    DWORD cullMode;
    D3DPRIMITIVETYPE type;
    Winding winding;
    bool drawn;
};

// Three triangles side by side in the list, strip and fan orders, all with the same winding on
// the screen (a strip's odd triangles are reordered, so its first triangle decides).
std::vector<Vertex> CullShape(D3DPRIMITIVETYPE type, Winding winding) {
    const bool cw = winding == Winding::Clockwise;
    auto v = [](float x, float y) { return AtScreen(kSize, kSize, x, y, 0xFFFFFF); };
    switch (type) {
        case D3DPT_TRIANGLESTRIP:
            // Left to right, pairs (bottom, top) start clockwise; (top, bottom) counter-clockwise.
            return cw ? std::vector<Vertex>{v(4, 24), v(4, 8), v(16, 24), v(16, 8), v(28, 24)}
                      : std::vector<Vertex>{v(4, 8), v(4, 24), v(16, 8), v(16, 24), v(28, 8)};
        case D3DPT_TRIANGLEFAN:
            // Around the centre, ring points in clockwise or counter-clockwise order on the screen.
            return cw ? std::vector<Vertex>{v(16, 16), v(4, 4), v(28, 4), v(28, 28), v(4, 28)}
                      : std::vector<Vertex>{v(16, 16), v(4, 28), v(28, 28), v(28, 4), v(4, 4)};
        default:
            return cw ? std::vector<Vertex>{v(4, 4), v(28, 4), v(16, 28)}
                      : std::vector<Vertex>{v(4, 4), v(16, 28), v(28, 4)};
    }
}

class RasterCull : public ::testing::TestWithParam<CullCase> {};

TEST_P(RasterCull, CullsByScreenWinding) {
    const CullCase& c = GetParam();
    TestDevice device(kSize, kSize);
    device->SetRenderState(D3DRS_CULLMODE, c.cullMode);
    device.BeginFrame();
    device.Draw(c.type, CullShape(c.type, c.winding));
    device.EndFrame();
    const int covered = CountColor(device.Read(), kWhite);
    if (c.drawn) {
        EXPECT_GT(covered, 100);
    } else {
        EXPECT_EQ(covered, 0);
    }
}

std::vector<CullCase> AllCullCases() {
    std::vector<CullCase> cases;
    for (D3DPRIMITIVETYPE type : {D3DPT_TRIANGLELIST, D3DPT_TRIANGLESTRIP, D3DPT_TRIANGLEFAN}) {
        for (Winding winding : {Winding::Clockwise, Winding::CounterClockwise}) {
            const bool cw = winding == Winding::Clockwise;
            cases.push_back({D3DCULL_NONE, type, winding, true});
            cases.push_back({D3DCULL_CW, type, winding, !cw});
            cases.push_back({D3DCULL_CCW, type, winding, cw});
        }
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Raster, RasterCull, ::testing::ValuesIn(AllCullCases()));

// The default cull mode is D3DCULL_CCW: without the viewer's start-up states a clockwise
// triangle is drawn and a counter-clockwise one is not.
TEST(RasterCullDefault, CounterClockwiseIsCulledByDefault) {
    for (Winding winding : {Winding::Clockwise, Winding::CounterClockwise}) {
        TestDevice device(kSize, kSize, false);
        device->SetRenderState(D3DRS_LIGHTING, FALSE);
        device.BeginFrame();
        device.Draw(D3DPT_TRIANGLELIST, CullShape(D3DPT_TRIANGLELIST, winding));
        device.EndFrame();
        EXPECT_EQ(CountColor(device.Read(), kWhite) > 0, winding == Winding::Clockwise);
    }
}

// >>flat shading: the first vertex of each triangle in Direct3D's order

// Vertex i gets red byte 16 * (i + 1), so a pixel's colour names the vertex it came from.
D3DCOLOR IndexColor(int i) {
    return static_cast<D3DCOLOR>((16 * (i + 1)) << 16);
}
std::uint32_t IndexOf(std::uint32_t color) {
    return (color >> 16) / 16 - 1;
}

TEST(RasterFlat, FanTriangleTakesItsFirstRingVertexNotTheCentre) {
    // Centre and a ring of five points running clockwise around it: four triangles.
    std::vector<Vertex> fan = {
        AtScreen(kSize, kSize, 16, 16, IndexColor(0)), AtScreen(kSize, kSize, 2, 16, IndexColor(1)),
        AtScreen(kSize, kSize, 16, 2, IndexColor(2)),  AtScreen(kSize, kSize, 30, 16, IndexColor(3)),
        AtScreen(kSize, kSize, 16, 30, IndexColor(4)), AtScreen(kSize, kSize, 2, 16, IndexColor(5))};
    const Picture picture = DrawAlone(D3DPT_TRIANGLEFAN, fan);
    // Inside triangle i (centre, ring i+1, ring i+2), away from the edges.
    const std::pair<int, int> inside[] = {{10, 10}, {22, 10}, {22, 22}, {10, 22}};
    for (std::uint32_t i = 0; i < 4; ++i) {
        EXPECT_EQ(IndexOf(picture.At(inside[i].first, inside[i].second)), i + 1) << "fan triangle " << i;
    }
}

TEST(RasterFlat, StripTriangleTakesVertexI) {
    // (top, bottom) pairs across the target: triangle i covers the i-th half column.
    std::vector<Vertex> strip;
    for (int i = 0; i < 8; ++i) {
        const float x = static_cast<float>(4 * (i / 2));
        strip.push_back(AtScreen(kSize, kSize, x, i % 2 == 0 ? 4.0f : 28.0f, IndexColor(i)));
    }
    const Picture picture = DrawAlone(D3DPT_TRIANGLESTRIP, strip);
    for (std::uint32_t i = 0; i < 6; ++i) {
        // Even triangles lie above the diagonal of their column, odd ones below it.
        const int x = static_cast<int>(4 * (i / 2)) + (i % 2 == 0 ? 1 : 3);
        const int y = i % 2 == 0 ? 8 : 24;
        EXPECT_EQ(IndexOf(picture.At(x, y)), i) << "strip triangle " << i;
    }
}

// >>Gouraud: perspective-correct, rounded to nearest

TEST(RasterGouraud, MidpointsOfAnAffineGradient) {
    // Blue from 0 at x = 0 to 255 at x = 16, constant in y.
    TestDevice device(kSize, kSize);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    device.BeginFrame();
    device.Draw(D3DPT_TRIANGLESTRIP,
                {AtScreen(kSize, kSize, 0, 0, 0x000000), AtScreen(kSize, kSize, 16, 0, 0x0000FF),
                 AtScreen(kSize, kSize, 0, 32, 0x000000), AtScreen(kSize, kSize, 16, 32, 0x0000FF)});
    device.EndFrame();
    const Picture picture = device.Read();
    // 255 * x / 16, rounded to nearest: 63.75 -> 64 and 15.94 -> 16 (truncation: 63 and 15),
    // 191.25 -> 191 (rounding up: 192).
    EXPECT_EQ(picture.At(4, 10), 64u);
    EXPECT_EQ(picture.At(12, 20), 191u);
    EXPECT_EQ(picture.At(1, 5), 16u);
    EXPECT_EQ(picture.At(0, 5), 0u);
    EXPECT_EQ(picture.At(16, 5), kBlack);  // the right edge (x = 16) is not drawn
}

TEST(RasterGouraud, ColourIsPerspectiveCorrect) {
    // A floor-like quad receding from w = 1 (black) to w = 3 (blue) under a projection with
    // w = z: the point a quarter of the way along in 3-D projects onto pixel column 16, half way
    // on the screen. Perspective-correct colour there is 0.25 * 255 = 63.75 -> 64; screen-linear
    // interpolation would give about 128.
    D3DMATRIX projection{};
    projection.m[0][0] = 1;
    projection.m[1][1] = 1;
    projection.m[2][2] = 0.5f;  // z/w = 0.5 everywhere
    projection.m[2][3] = 1;     // w = z
    TestDevice device(kSize, kSize);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device.BeginFrame();
    device.Draw(D3DPT_TRIANGLESTRIP, {{-0.75f, 0.5f, 1, 0x000000},
                                      {-0.75f, -0.5f, 1, 0x000000},
                                      {2.25f, 1.5f, 3, 0x0000FF},
                                      {2.25f, -1.5f, 3, 0x0000FF}});
    device.EndFrame();
    const Picture picture = device.Read();
    EXPECT_EQ(picture.At(16, 16), 64u);
    EXPECT_EQ(picture.At(4, 16), 0u);  // the near edge
}

// >>depth: LESSEQUAL against the cleared 1.0, 16 bits, switchable

struct DepthCase {
    bool depthEnabled;
    float firstZ;
    float secondZ;
    std::uint32_t expectedInOverlap;  // first quad red, second white
};

class RasterDepth : public ::testing::TestWithParam<DepthCase> {};

TEST_P(RasterDepth, OverlappingQuads) {
    const DepthCase& c = GetParam();
    TestDevice device(kSize, kSize);
    device->SetRenderState(D3DRS_ZENABLE, c.depthEnabled ? D3DZB_TRUE : D3DZB_FALSE);
    auto quad = [](float x0, float y0, float x1, float y1, float z, D3DCOLOR color) {
        return std::vector<Vertex>{AtScreen(kSize, kSize, x0, y0, color, z), AtScreen(kSize, kSize, x1, y0, color, z),
                                   AtScreen(kSize, kSize, x0, y1, color, z), AtScreen(kSize, kSize, x1, y1, color, z)};
    };
    device.BeginFrame();
    device.Draw(D3DPT_TRIANGLESTRIP, quad(2, 2, 20, 20, c.firstZ, 0xFF0000));
    device.Draw(D3DPT_TRIANGLESTRIP, quad(10, 10, 30, 30, c.secondZ, 0xFFFFFF));
    device.EndFrame();
    const Picture picture = device.Read();
    EXPECT_EQ(picture.At(15, 15), c.expectedInOverlap);
    EXPECT_EQ(picture.At(5, 5), kRed);      // only the first quad
    EXPECT_EQ(picture.At(25, 25), kWhite);  // only the second quad
}

INSTANTIATE_TEST_SUITE_P(Raster, RasterDepth,
                         ::testing::Values(DepthCase{true, 0.3f, 0.7f, kRed},     // later and farther: hidden
                                           DepthCase{true, 0.7f, 0.3f, kWhite},   // later and nearer
                                           DepthCase{true, 0.5f, 0.5f, kWhite},   // equal: LESSEQUAL passes
                                           DepthCase{false, 0.3f, 0.7f, kWhite},  // no test: order wins
                                           DepthCase{true, 0.3f, 1.0f, kRed}));   // at the far plane

// Depth that differs by less than one 16-bit step counts as equal.
TEST(RasterDepthPrecision, SixteenBitSteps) {
    TestDevice device(kSize, kSize);
    device->SetRenderState(D3DRS_ZFUNC, D3DCMP_LESS);
    auto quad = [](float z, D3DCOLOR color) {
        return std::vector<Vertex>{AtScreen(kSize, kSize, 0, 0, color, z), AtScreen(kSize, kSize, 32, 0, color, z),
                                   AtScreen(kSize, kSize, 0, 32, color, z), AtScreen(kSize, kSize, 32, 32, color, z)};
    };
    device.BeginFrame();
    // Depth 32768 / 65535, then a quarter of a step nearer (same 16-bit value: LESS fails), then
    // a whole step nearer (passes).
    device.Draw(D3DPT_TRIANGLESTRIP, quad(static_cast<float>(32768.0 / 65535), 0xFF0000));
    device.Draw(D3DPT_TRIANGLESTRIP, quad(static_cast<float>(32767.75 / 65535), 0xFFFFFF));
    device.Draw(D3DPT_TRIANGLESTRIP, quad(static_cast<float>(32767.0 / 65535), 0x0000FF));
    device.EndFrame();
    const Picture picture = device.Read();
    EXPECT_EQ(CountColor(picture, kWhite), 0);
    EXPECT_EQ(CountColor(picture, 0x0000FF), kSize * kSize);
}

// Each kernel set stores the depth that rounding z * 65535 + 0.5 once, exactly, gives, at the
// window depths where the product rounded to single precision first would step to the next
// integer (the largest such below each power of two from 2^-8 up) and near either end of the
// range, in narrow triangles and in wide ones. A vertex depth d reaches the window as
// (2d - 1) / 2 + 1/2 in single precision: pairs of the vertex's depth and the window's.
TEST(RasterDepthPrecision, EveryKernelSetRoundsOnceAtTheStepBoundaries) {
    const float depths[] = {0x1.8081bep-8f, 0x1.80818p-8f,  0x1.c0c1dep-7f, 0x1.c0c1cp-7f,  0x1.e0e1eep-6f,
                            0x1.e0e1ep-6f,  0x1.f0f1f6p-5f, 0x1.f0f1fp-5f,  0x1.f8f9fap-4f, 0x1.f8f9f8p-4f,
                            0x1.fcfdfcp-3f, 0x1.fcfdfcp-3f, 0x1.fefffep-2f, 0x1.fefffep-2f, 0x1.fefefep-1f,
                            0x1.fefefep-1f, 0x1p-30f,       0.0f,           0x1.fffffep-1f, 0x1.fffffep-1f};
    for (const std::string& set : standin::RasterKernelSets()) {
        ASSERT_TRUE(standin::UseRasterKernels(set));
        for (std::size_t k = 0; k < std::size(depths); k += 2) {
            const float z = depths[k];
            TestDevice device(kSize, kSize);
            device.BeginFrame();
            for (const float right : {6.0f, 14.0f, 32.0f}) {  // eight lanes, sixteen, rows of blocks
                const float top = right / 2;
                device.Draw(
                    D3DPT_TRIANGLESTRIP,
                    {AtScreen(kSize, kSize, 0, top, kWhite, z), AtScreen(kSize, kSize, right, top, kWhite, z),
                     AtScreen(kSize, kSize, 0, top + 3, kWhite, z), AtScreen(kSize, kSize, right, top + 3, kWhite, z)});
            }
            device.EndFrame();
            const Picture picture = device.Read();
            ASSERT_EQ(CountColor(picture, kWhite), 3 * (6 + 14 + 32)) << std::hexfloat << z;
            const standin::DepthImage depth = standin::DepthBuffer(device.get());
            for (int p = 0; p < kSize * kSize; ++p) {
                ASSERT_TRUE(picture.At(p % kSize, p / kSize) != kWhite ||
                            depth.values[p] == standin::pipeline::QuantizeDepth(static_cast<double>(depths[k + 1])))
                    << std::hexfloat << z << " at " << p % kSize << ", " << p / kSize << ", " << set;
            }
        }
    }
    standin::UseRasterKernels("");
}

// >>near plane: cut, never wrapped

// A floor below the eye (y = -1): one red corner behind the eye (z = -1), two white corners
// ahead (z = 3). The projection has w = z and the near plane at z = 2 (clip z = z - 2). On the
// screen (row = 16 (1 + 1/z)) the floor's far edge lies on row 21.3 and the near plane cuts it
// at row 24; a rasterizer that divided by the negative w would draw towards the top instead,
// and one without a near plane would carry on below row 24.
std::vector<Vertex> FloorThroughTheEye() {
    return {{0, -1, -1, 0xFF0000}, {-1, -1, 3, 0xFFFFFF}, {1, -1, 3, 0xFFFFFF}};
}

D3DMATRIX NearPlaneAtTwo() {
    D3DMATRIX projection{};
    projection.m[0][0] = 1;
    projection.m[1][1] = 1;
    projection.m[2][2] = 1;
    projection.m[3][2] = -2;  // clip z = z - 2
    projection.m[2][3] = 1;   // w = z
    return projection;
}

int RowsCoveredOutside(const Picture& picture, int firstRow, int lastRow) {
    int covered = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            covered += (y < firstRow || y > lastRow) && picture.At(x, y) != kBlack ? 1 : 0;
        }
    }
    return covered;
}

TEST(RasterNearPlane, TriangleWithAVertexBehindTheEyeIsCutNotWrapped) {
    const D3DMATRIX projection = NearPlaneAtTwo();
    for (DWORD shade : {D3DSHADE_FLAT, D3DSHADE_GOURAUD}) {
        TestDevice device(kSize, kSize);
        device->SetRenderState(D3DRS_SHADEMODE, shade);
        device->SetTransform(D3DTS_PROJECTION, &projection);
        device.BeginFrame();
        device.Draw(D3DPT_TRIANGLELIST, FloorThroughTheEye());
        device.EndFrame();
        const Picture picture = device.Read();
        EXPECT_EQ(RowsCoveredOutside(picture, 22, 24), 0) << "shade " << shade;
        EXPECT_NE(picture.At(16, 22), kBlack) << "shade " << shade;
        EXPECT_NE(picture.At(16, 23), kBlack) << "shade " << shade;
        if (shade == D3DSHADE_FLAT) {
            // The cut-away red corner still colours the whole triangle.
            EXPECT_EQ(CountColor(picture, kWhite), 0);
            EXPECT_GT(CountColor(picture, kRed), 0);
        } else {
            // Towards the cut the colour leans to red.
            EXPECT_EQ(picture.At(16, 23) >> 16, 0xFFu);
            EXPECT_LT(picture.At(16, 23) & 0xFF, picture.At(16, 22) & 0xFF);
        }
    }
}

// >>wireframe

TEST(RasterWireframe, FanDrawsEdgesOnlyInTheLaterTrianglesColour) {
    // Centre (16, 16) white; ring (4,4) red, (28,4) blue, (28,28) green: two clockwise
    // triangles (red; blue). The spoke to (28,4) is shared, drawn last by the blue triangle.
    TestDevice device(kSize, kSize);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    device.BeginFrame();
    device.Draw(D3DPT_TRIANGLEFAN, {AtScreen(kSize, kSize, 16, 16, 0xFFFFFF), AtScreen(kSize, kSize, 4, 4, 0xFF0000),
                                    AtScreen(kSize, kSize, 28, 4, 0x0000FF), AtScreen(kSize, kSize, 28, 28, 0x00FF00)});
    device.EndFrame();
    const Picture picture = device.Read();
    EXPECT_EQ(picture.At(16, 4), kRed);        // the rim edge of triangle 0
    EXPECT_EQ(picture.At(10, 10), kRed);       // its spoke to the centre
    EXPECT_EQ(picture.At(22, 10), 0x0000FFu);  // the shared spoke shows triangle 1
    EXPECT_EQ(picture.At(28, 16), 0x0000FFu);  // the rim edge of triangle 1
    EXPECT_EQ(picture.At(22, 22), 0x0000FFu);  // its spoke back to the centre
    EXPECT_EQ(picture.At(16, 8), kBlack);      // inside: not filled
    EXPECT_EQ(picture.At(23, 14), kBlack);
    EXPECT_EQ(picture.At(4, 28), kBlack);  // outside
}

TEST(RasterWireframe, EdgesMadeByClippingAreNotDrawn) {
    // The floor of the near-plane test in wireframe: its two side edges run from row 21 down to
    // the cut at row 24; the cut itself, along the near plane, is no edge of the triangle.
    const D3DMATRIX projection = NearPlaneAtTwo();
    TestDevice device(kSize, kSize);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device.BeginFrame();
    device.Draw(D3DPT_TRIANGLELIST, FloorThroughTheEye());
    device.EndFrame();
    const Picture picture = device.Read();
    EXPECT_EQ(RowsCoveredOutside(picture, 21, 24), 0);
    EXPECT_NE(CountColor(picture, kRed), 0);  // the side edges
    for (int x = 13; x <= 19; ++x) {
        EXPECT_EQ(picture.At(x, 24), kBlack) << x;  // the cut
    }
}

TEST(RasterWireframe, CulledTrianglesDrawNoEdges) {
    TestDevice device(kSize, kSize);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CCW);
    device.BeginFrame();
    device.Draw(D3DPT_TRIANGLELIST, CullShape(D3DPT_TRIANGLELIST, Winding::CounterClockwise));
    device.EndFrame();
    EXPECT_EQ(CountColor(device.Read(), kWhite), 0);
}

// >>line and point primitives

TEST(RasterLines, LineListCoversItsColumnsAndTheLastPixelOnlyWithLastPixel) {
    for (DWORD lastPixel : {FALSE, TRUE}) {
        TestDevice device(kSize, kSize);
        device->SetRenderState(D3DRS_LASTPIXEL, lastPixel);
        device.BeginFrame();
        // From pixel centre (4, 10) to pixel centre (20, 10), and a steep one from (26, 2) to (28, 30).
        // Up the screen from pixel centre (6, 28) to (6, 21), down from (10, 21) to (10, 28): the
        // one running up leaves out its start pixel.
        device.Draw(D3DPT_LINELIST,
                    {AtScreen(kSize, kSize, 4, 10, 0xFFFFFF), AtScreen(kSize, kSize, 20, 10, 0xFFFFFF),
                     AtScreen(kSize, kSize, 26, 2, 0xFF0000), AtScreen(kSize, kSize, 28, 30, 0xFF0000),
                     AtScreen(kSize, kSize, 6, 28, 0x00FF00), AtScreen(kSize, kSize, 6, 21, 0x00FF00),
                     AtScreen(kSize, kSize, 10, 21, 0x00FF00), AtScreen(kSize, kSize, 10, 28, 0x00FF00)},
                    4);
        device.EndFrame();
        const Picture picture = device.Read();
        PixelSet expected;
        for (int x = 4; x <= (lastPixel ? 20 : 19); ++x) {
            expected.insert({x, 10});
        }
        EXPECT_EQ(PixelsOf(picture, kWhite), expected) << "last pixel " << lastPixel;
        // The steep line has one pixel in each row it crosses.
        EXPECT_EQ(CountColor(picture, kRed), lastPixel ? 29 : 28);
        for (int y = 2; y < 30; ++y) {
            EXPECT_TRUE(picture.At(26, y) == kRed || picture.At(27, y) == kRed || picture.At(28, y) == kRed) << y;
        }
        PixelSet vertical = {{10, 21}, {6, lastPixel ? 21 : 22}, {10, lastPixel ? 28 : 22}};
        for (int y = 22; y <= 27; ++y) {
            vertical.insert({{6, y}, {10, y}});
        }
        EXPECT_EQ(PixelsOf(picture, 0x00FF00), vertical) << "last pixel " << lastPixel;
    }
}

TEST(RasterLines, FlatStripSegmentsTakeTheirFirstVertexColour) {
    TestDevice device(kSize, kSize);
    device.BeginFrame();
    device.Draw(D3DPT_LINESTRIP,
                {AtScreen(kSize, kSize, 4, 4, 0xFF0000), AtScreen(kSize, kSize, 28, 4, 0x0000FF),
                 AtScreen(kSize, kSize, 28, 28, 0x00FF00)},
                2);
    device.EndFrame();
    const Picture picture = device.Read();
    EXPECT_EQ(picture.At(16, 4), kRed);
    EXPECT_EQ(picture.At(28, 16), 0x0000FFu);
    EXPECT_EQ(CountColor(picture, 0x00FF00), 0);
}

TEST(RasterLines, ALineThroughTheNearPlaneIsCut) {
    // Along the floor of the near-plane test, from behind the eye to z = 3: visible between the
    // far end (row 21.3) and the near plane (row 24).
    const D3DMATRIX projection = NearPlaneAtTwo();
    TestDevice device(kSize, kSize);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device.BeginFrame();
    device.Draw(D3DPT_LINELIST, {{0, -1, -1, 0xFFFFFF}, {0, -1, 3, 0xFFFFFF}}, 1);
    device.EndFrame();
    const Picture picture = device.Read();
    EXPECT_EQ(RowsCoveredOutside(picture, 21, 24), 0);
    EXPECT_EQ(picture.At(16, 22), kWhite);
    EXPECT_EQ(picture.At(16, 23), kWhite);
}

// 120,000 lines of every kind (short ones, ones starting on a pixel centre, ones on quarter
// pixels, long ones running off the target; flat and Gouraud, with and without the last pixel)
// hashed against the pictures this device drew when the line rules were pinned down above: a
// change to the walk along a line that moves one pixel anywhere changes the hash, with every
// kernel set.
std::uint64_t HashOfManyLines() {
    std::mt19937 random(12345);
    const auto uniform = [&](float lo, float hi) {
        return lo + (hi - lo) * static_cast<float>(random() >> 8) * 0x1p-24f;
    };
    std::uint64_t hash = 1469598103934665603u;  // FNV-1a over every picture
    for (int frame = 0; frame < 400; ++frame) {
        TestDevice device(100, 100);
        device->SetRenderState(D3DRS_SHADEMODE, frame % 2 != 0 ? D3DSHADE_GOURAUD : D3DSHADE_FLAT);
        device->SetRenderState(D3DRS_LASTPIXEL, frame % 3 != 0 ? TRUE : FALSE);
        device.BeginFrame();
        std::vector<Vertex> vertices;
        for (int i = 0; i < 300; ++i) {
            float x0 = uniform(-30, 130), y0 = uniform(-30, 130), x1 = uniform(-30, 130), y1 = uniform(-30, 130);
            if (i % 4 == 0) {  // short
                x1 = x0 + uniform(-3, 3);
                y1 = y0 + uniform(-3, 3);
            } else if (i % 4 == 1) {  // from a pixel centre
                x0 = std::floor(x0) + 0.5f;
                y0 = std::floor(y0) + 0.5f;
            } else if (i % 4 == 2) {  // quarter pixels apart
                x1 = x0 + std::floor(uniform(-10, 10)) * 0.25f;
                y1 = y0 + std::floor(uniform(-10, 10)) * 0.25f;
            }
            for (const auto& [x, y] : {std::pair{x0, y0}, std::pair{x1, y1}}) {
                const float z = uniform(0, 1);  // drawn before the colour, whatever order a compiler takes arguments in
                const auto color = static_cast<D3DCOLOR>(0xFF000000u | random());
                vertices.push_back(AtScreen(100, 100, x, y, color, z));
            }
        }
        device.Draw(D3DPT_LINELIST, vertices);
        device.EndFrame();
        for (const std::uint32_t pixel : device.Read().pixels) {
            hash = (hash ^ pixel) * 1099511628211u;
        }
    }
    return hash;
}

TEST(RasterLines, ManyLinesDrawAsRecorded) {
    for (const std::string& set : standin::RasterKernelSets()) {
        ASSERT_TRUE(standin::UseRasterKernels(set));
        EXPECT_EQ(HashOfManyLines(), 0x796e68533ebdaf9du) << set << " kernels";
    }
    standin::UseRasterKernels("");
}

TEST(RasterPoints, EachPointIsThePixelAroundIt) {
    const D3DMATRIX projection = NearPlaneAtTwo();
    TestDevice device(kSize, kSize);
    device.BeginFrame();
    device.Draw(D3DPT_POINTLIST,
                {AtScreen(kSize, kSize, 3, 3, 0xFFFFFF), AtScreen(kSize, kSize, 10.25f, 7.75f, 0xFFFFFF),
                 AtScreen(kSize, kSize, 20.5f, 20.5f, 0xFFFFFF), AtScreen(kSize, kSize, 40, 5, 0xFFFFFF),
                 AtScreen(kSize, kSize, 5, 5, 0xFFFFFF, -0.5f)},  // outside the target; in front of z = 0
                5);
    device->SetTransform(D3DTS_PROJECTION, &projection);
    device.Draw(D3DPT_POINTLIST, {{0, 0, 1, 0xFF0000}, {0.25f, 0, 3, 0xFF0000}}, 2);  // before / after the near plane
    device.EndFrame();
    const Picture picture = device.Read();
    // A pixel-sized square around each point, filled with the top-left rule.
    EXPECT_EQ(PixelsOf(picture, kWhite), (PixelSet{{3, 3}, {10, 8}, {20, 20}}));
    EXPECT_EQ(PixelsOf(picture, kRed), (PixelSet{{17, 16}}));  // 16 (1 + 0.25 / 3) = 17.3
}

// >>long lists: every primitive drawn from its own vertices, however many precede it

// A 32 x 32 target, one primitive (or pair of triangles) per pixel in row order, each with a
// colour of its own: a list long enough to be drawn in several runs of primitives.
TEST(RasterLongLists, EachPrimitiveDrawsItsOwnPixel) {
    const auto colorOf = [](int x, int y) { return static_cast<D3DCOLOR>(0x010000 * (x + 1) + 0x0100 * (y + 1) + 1); };
    std::vector<Vertex> points, triangles, lines;
    for (int y = 0; y < kSize; ++y) {
        for (int x = 0; x < kSize; ++x) {
            const auto fx = static_cast<float>(x), fy = static_cast<float>(y);
            const D3DCOLOR color = colorOf(x, y);
            points.push_back(AtScreen(kSize, kSize, fx, fy, color));
            // Two halves of the pixel's square: its centre lies on their shared edge, which the
            // top-left rule gives to one of them.
            for (const auto& [dx, dy] :
                 {std::pair{-0.5f, -0.5f}, {0.5f, -0.5f}, {-0.5f, 0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}}) {
                triangles.push_back(AtScreen(kSize, kSize, fx + dx, fy + dy, color));
            }
            lines.push_back(AtScreen(kSize, kSize, fx, fy, color));
            lines.push_back(AtScreen(kSize, kSize, fx + 0.75f, fy, color));
        }
    }
    for (const auto& [type, vertices] :
         {std::pair{D3DPT_POINTLIST, points}, {D3DPT_TRIANGLELIST, triangles}, {D3DPT_LINELIST, lines}}) {
        TestDevice device(kSize, kSize);
        device.BeginFrame();
        ASSERT_EQ(device.Draw(type, vertices), D3D_OK);
        device.EndFrame();
        const Picture picture = device.Read();
        int wrong = 0;
        for (int y = 0; y < kSize; ++y) {
            for (int x = 0; x < kSize; ++x) {
                wrong += picture.At(x, y) == colorOf(x, y) ? 0 : 1;
            }
        }
        EXPECT_EQ(wrong, 0) << "primitive type " << type;
    }
}

// >>lighting

TEST(RasterLighting, LeftOnItDrawsThisVertexFormatBlack) {
    TestDevice device(kSize, kSize, false);  // Direct3D's defaults: lighting on
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device.BeginFrame(0xFF0000FFu);  // clear to blue
    device.Draw(D3DPT_TRIANGLELIST, CullShape(D3DPT_TRIANGLELIST, Winding::Clockwise));
    device.EndFrame();
    const Picture picture = device.Read();
    EXPECT_EQ(picture.At(16, 10), kBlack);
    EXPECT_EQ(picture.At(1, 30), 0x0000FFu);
}

}  // namespace
}  // namespace rastertest
