// The software Direct3D 9 fixed-function pipeline, stage by stage. Device::DrawPrimitive runs
// the stages in this order; each stage has a file of its own:
//
//   Assembly.cpp   which vertices make primitive i of a list, strip or fan, and how many fit
//   Transform.cpp  vertex fetch, world * view * projection, lighting
//   Clip.cpp       cut each primitive to the clip volume (near and far for real, x/y at a guard band)
//   Setup.cpp      divide by w, map to the viewport, snap to the sub-pixel grid, cull by winding
//   Raster.cpp     solid fill with the top-left rule, flat or Gouraud colour, row by row
//   Wireframe.cpp  lines (line primitives, wireframe edges) and points
//   Fragment.h     what both share: scissor, attribute planes, 16-bit depth test and write,
//                  colour write; RasterKernels.cpp fills a triangle in the common states
//
// Coordinates follow Direct3D 9: screen origin at the top-left, x right, y down, and the centre
// of pixel (i, j) at the integer point (i, j) ("Rasterization Rules (Direct3D 9)").
//
// Where Direct3D 9 leaves a rule or the arithmetic to the driver, this device follows the
// Direct3D 9 that drew the reference pictures the tests compare against (Wine's, on a GL
// rasterizer), called "the reference implementation" in the comments: its single-precision
// attribute setup (Setup.cpp, Raster.cpp) and its line ties (Wireframe.cpp).
#pragma once

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "platform/d3d9/D3D9.h"

namespace standin::pipeline {

// >>types shared by the stages

// A colour with channels in 0..1, as the pipeline interpolates it.
struct Color {
    double r = 0;
    double g = 0;
    double b = 0;
    double a = 0;
};

// A vertex after world * view * projection: homogeneous clip coordinates and its diffuse colour.
struct ClipVertex {
    double x = 0;
    double y = 0;
    double z = 0;
    double w = 0;
    Color color;
    // The colour as X8R8G8B8 (PackColor's), for flat shading, which takes it from a primitive's
    // first vertex as fetched: set by the transform, not by clipping.
    std::uint32_t packedColor = 0;
};

// Render states that the stages read, decoded once per draw.
struct RasterState {
    DWORD cullMode = D3DCULL_CCW;
    DWORD fillMode = D3DFILL_SOLID;
    DWORD shadeMode = D3DSHADE_GOURAUD;
    bool depthTest = true;
    bool depthWrite = true;
    DWORD depthFunc = D3DCMP_LESSEQUAL;
    DWORD colorWriteMask = 0xF;  // D3DCOLORWRITEENABLE_RED | GREEN | BLUE | ALPHA
};

class RasterQueue;
struct RasterKernels;

// Where fragments go: the X8R8G8B8 colour buffer, the optional D16 depth buffer (same size,
// rows without padding) and the pixels of them a drawing may write.
struct RenderTarget {
    std::uint32_t* color = nullptr;
    std::uint16_t* depth = nullptr;  // null: the device has no depth buffer
    int width = 0;
    int height = 0;
    // The pixels a drawing may write, inclusive (Scissor, Fragment.h): the viewport cut to the
    // buffers, set by ScissorTo (a viewport starting past the buffers leaves none).
    std::int32_t left = 0, top = 0, right = -1, bottom = -1;
    void ScissorTo(const D3DVIEWPORT9& viewport) {
        left = static_cast<std::int32_t>(std::min<std::int64_t>(viewport.X, width));
        top = static_cast<std::int32_t>(std::min<std::int64_t>(viewport.Y, height));
        right = static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{viewport.X} + viewport.Width, width) - 1);
        bottom =
            static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{viewport.Y} + viewport.Height, height) - 1);
    }
    // Where the raster kernels' triangles are queued to be filled on two threads (RasterQueue.h);
    // null: filled at once. Whatever writes the buffers otherwise flushes it first.
    RasterQueue* queue = nullptr;
    // The raster kernels in use (Fragment.h), set with the rest by the device.
    const RasterKernels* kernels = nullptr;
};

// >>assembly (Assembly.cpp)

// Triangle i of a primitive as three vertex indices (relative to the draw's first vertex) in
// Direct3D's order. The first of the three is the provoking vertex: flat shading takes its colour.
struct TriangleIndices {
    std::array<std::uint32_t, 3> v{};
};

bool IsTriangleType(D3DPRIMITIVETYPE type);
bool IsLineType(D3DPRIMITIVETYPE type);
// Vertices that `primitiveCount` primitives of `type` read.
std::uint64_t VerticesForPrimitives(D3DPRIMITIVETYPE type, std::uint64_t primitiveCount);
// How many of `primitiveCount` primitives are complete within `availableVertices` vertices.
std::uint32_t PrimitivesThatFit(D3DPRIMITIVETYPE type, std::uint32_t primitiveCount, std::uint64_t availableVertices);
// (Inline: it runs once per triangle.)
inline TriangleIndices AssembleTriangle(D3DPRIMITIVETYPE type, std::uint32_t triangle) {
    const std::uint32_t i = triangle;
    switch (type) {
        case D3DPT_TRIANGLESTRIP:
            if (i % 2 == 0) {
                return {{i, i + 1, i + 2}};
            }
            return {{i, i + 2, i + 1}};
        case D3DPT_TRIANGLEFAN:
            return {{i + 1, i + 2, 0}};
        default:
            return {{3 * i, 3 * i + 1, 3 * i + 2}};
    }
}
// Line i of a list (2i, 2i+1) or a strip (i, i+1); the first vertex is the provoking one.
std::array<std::uint32_t, 2> AssembleLine(D3DPRIMITIVETYPE type, std::uint32_t line);

// >>transform (Transform.cpp)

// Where position and diffuse colour sit in one vertex of a flexible vertex format.
struct VertexLayout {
    std::uint32_t stride = 0;
    std::int32_t diffuseOffset = -1;  // -1: the format has no diffuse colour
};

// Layout of an FVF whose position is D3DFVF_XYZ; false for any other position type.
bool DescribeFvf(DWORD fvf, VertexLayout* layout);

// Fetches `count` vertices from `data` and transforms them: clip = (v * (World * View)) *
// Projection, into the first `count` entries of *out (grown to hold them, never shrunk). With
// lighting on, the colour is what the fixed-function lighting makes of this format with no
// lights and the default material: black, with the vertex's alpha.
void TransformVertices(const std::uint8_t* data, std::uint32_t count, const VertexLayout& layout,
                       const D3DMATRIX& world, const D3DMATRIX& view, const D3DMATRIX& projection, bool lighting,
                       std::vector<ClipVertex>* out);

// >>clip (Clip.cpp)

// A triangle cut to the clip volume: a convex polygon in the triangle's own order (six planes
// add at most six vertices; the bound leaves room for rounding). `edgeToNextIsOriginal[k]` tells whether the edge from
// vertex k to vertex k + 1 lies on one of the triangle's own edges (true) or along a clip plane (false).
inline constexpr int kMaxPolygonVertices = 16;
struct ClippedPolygon {
    std::array<ClipVertex, kMaxPolygonVertices> vertices{};
    std::array<bool, kMaxPolygonVertices> edgeToNextIsOriginal{};
    std::array<bool, kMaxPolygonVertices> isOriginalVertex{};
    int count = 0;
};

// Clips the triangle (a, b, c) against 0 <= z <= w and the guard band |x|, |y| <= kGuardBand * w.
// Returns false when nothing is left or when a coordinate is not finite.
bool ClipTriangle(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c, ClippedPolygon* out);
// The same for a line segment (a two-vertex polygon) and for a point (one vertex, kept only
// when inside).
bool ClipSegment(const ClipVertex& a, const ClipVertex& b, ClippedPolygon* out);
bool ClipPoint(const ClipVertex& a, ClippedPolygon* out);
// Half-width of the guard band in normalized device coordinates: 16 viewports in each direction.
inline constexpr double kGuardBand = 16.0;
// Whether the vertex lies on the inner side of every clip plane (0 <= z <= w, |x|, |y| <=
// kGuardBand * w): the plane distances without a branch for each. False for NaN.
inline bool InsideAllPlanes(const ClipVertex& v) {
    const double band = kGuardBand * v.w;
    return (v.z >= 0) & (v.w - v.z >= 0) & (v.x + band >= 0) & (band - v.x >= 0) & (v.y + band >= 0) &
           (band - v.y >= 0);
}
// Whether the vertex is finite and inside the clip volume: a triangle of three such vertices is
// left as it is by ClipTriangle. Of the vertices InsideAllPlanes takes, only those with
// w = +infinity and the rest finite are not finite: any other infinity or NaN fails one of its
// comparisons.
inline bool InsideClipVolume(const ClipVertex& v) {
    return std::isfinite(v.w) && InsideAllPlanes(v);
}

// >>setup (Setup.cpp)

// Sub-pixel precision of the rasterizer: screen positions are snapped to 1/256 pixel (8
// fractional bits, the precision Direct3D 10 prescribes and common D3D9-class hardware used).
inline constexpr int kSubPixelBits = 8;
inline constexpr std::int64_t kSubPixelOne = std::int64_t{1} << kSubPixelBits;

// A polygon vertex on the screen: snapped position, depth, 1/w and colour.
struct ScreenVertex {
    std::int64_t x = 0;  // screen x in 1/256 pixel
    std::int64_t y = 0;  // screen y in 1/256 pixel, downwards
    double z = 0;        // depth z/w mapped to MinZ..MaxZ; affine in screen space
    double invW = 0;     // 1/w, for perspective-correct colour
    Color color;
    // The same in single precision, as the attribute setup uses them (Setup.cpp): window
    // position with pixel centres at +1/2, depth, 1/w and the red, green and blue channels.
    float windowX = 0;
    float windowY = 0;
    float windowZ = 0;
    float oneOverW = 0;
    std::array<float, 3> rgb{};
};

struct ScreenPolygon {
    std::array<ScreenVertex, kMaxPolygonVertices> vertices{};
    std::array<bool, kMaxPolygonVertices> edgeToNextIsOriginal{};
    std::array<bool, kMaxPolygonVertices> isOriginalVertex{};
    int count = 0;
    // Twice the signed area in (1/256 px)^2; > 0 means clockwise as seen on the screen.
    std::int64_t doubleArea = 0;
};

// Screen coordinates beyond this many pixels cannot come out of the guard band for any
// back buffer the device accepts; anything larger is treated as unusable.
inline constexpr double kMaxScreenCoordinate = 1 << 20;

// What mapping to one viewport takes, worked out once per draw.
struct ViewportMap {
    explicit ViewportMap(const D3DVIEWPORT9& viewport);
    double x, y, minZ, halfWidth, halfHeight, depthRange;
    float width, height, oneOverWidth, oneOverHeight, centreX, centreY, depthScale, depthCentre;
};
// Divides by w, maps to the viewport and snaps; false if a result is not usable (not finite).
bool MapToViewport(const ClippedPolygon& polygon, const ViewportMap& map, ScreenPolygon* out);
// The same in two steps, so that culling can come between them: the snapped positions, depth,
// the edge flags and the area first, then 1/w, the colours and the single-precision values.
bool MapPositions(const ClippedPolygon& polygon, const ViewportMap& map, ScreenPolygon* out);
void MapAttributes(const ClippedPolygon& polygon, const ViewportMap& map, ScreenPolygon* out);
// One vertex, as the above map it, in the same two steps: the position (false where
// MapPositions would fail), then the rest.
bool MapVertexPosition(const ClipVertex& v, const ViewportMap& map, ScreenVertex* out);
void MapVertexAttributes(const ClipVertex& v, const ViewportMap& map, ScreenVertex* out);
// The box of snapped vertex positions, in 1/256 pixel; empty when minX > maxX.
struct VertexBox {
    std::int64_t minX = INT64_MAX, minY = INT64_MAX, maxX = INT64_MIN, maxY = INT64_MIN;
};
// Fields of mapped vertices that triangle setup reads, each in an array of its own (one entry
// per vertex), so that the setup of triangles side by side loads them whole. Every array has
// room for kColumnSlack entries past the last vertex, which the mapping may write and the setup
// read (their values are not used).
inline constexpr std::size_t kColumnSlack = 16;
struct VertexColumns {
    std::int64_t* x = nullptr;  // ScreenVertex::x
    std::int64_t* y = nullptr;
    float* windowX = nullptr;
    float* windowY = nullptr;
    float* windowZ = nullptr;
};

// What became of each vertex of a triangle primitive: kClip where it lies outside the clip
// volume (its triangles are clipped), kUnusable where its position cannot be mapped, kOnScreen
// where it is mapped. The kernels (Fragment.h) take a run of vertices through InsideClipVolume
// and, for those inside, MapVertexPosition and MapVertexAttributes.
enum class VertexPlace : std::uint8_t { kClip, kOnScreen, kUnusable };
// Twice the signed area of the polygon's snapped positions (or of a triangle's); > 0 when clockwise.
std::int64_t DoubleArea(const ScreenPolygon& polygon);
inline std::int64_t DoubleArea(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2) {
    return (v1.x - v0.x) * (v2.y - v0.y) - (v2.x - v0.x) * (v1.y - v0.y);
}
// The cull mode's verdict on the winding of a polygon (or of a doubled area). Zero-area
// polygons are always dropped.
bool IsCulled(const ScreenPolygon& polygon, DWORD cullMode);
inline bool IsCulled(std::int64_t doubleArea, DWORD cullMode) {
    // A polygon without area covers no pixel; it is dropped whatever the cull mode (also in
    // wireframe, where Direct3D 9 leaves it to the driver: this one draws no edges for it).
    if (doubleArea == 0) {
        return true;
    }
    const bool clockwise = doubleArea > 0;
    switch (cullMode) {
        case D3DCULL_CW:
            return clockwise;
        case D3DCULL_CCW:
            return !clockwise;
        default:
            return false;  // D3DCULL_NONE
    }
}

// >>raster (Raster.cpp, Wireframe.cpp)

// How a triangle is coloured: flat with the provoking vertex's colour, or Gouraud.
struct Shading {
    bool flat = true;
    std::uint32_t flatColor = 0;  // X8R8G8B8, used when flat
};

void RasterizeSolid(const ScreenPolygon& polygon, const Shading& shading, const RasterState& state,
                    RenderTarget& target);
// The same for a triangle whose doubled area `doubleArea` is not zero, given as its vertices.
void RasterizeSolidTriangle(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2,
                            std::int64_t doubleArea, const Shading& shading, const RasterState& state,
                            RenderTarget& target);
void RasterizeWireframe(const ScreenPolygon& polygon, const Shading& shading, const RasterState& state,
                        RenderTarget& target);
void RasterizePoints(const ScreenPolygon& polygon, const Shading& shading, const RasterState& state,
                     RenderTarget& target);
// A line primitive: the segment of a two-vertex polygon; with `lastPixel` (D3DRS_LASTPIXEL, on by
// default) the pixel of its end point is drawn too.
void RasterizeSegment(const ScreenPolygon& segment, const Shading& shading, const RasterState& state,
                      RenderTarget& target, bool lastPixel);

// Float colour to X8R8G8B8: each channel clamped to 0..1, byte = floor(c * 255 + 0.5).
std::uint32_t PackColor(const Color& color);

// The depth test and write, colour write, attribute planes and scissor that both raster files
// share are inline in Fragment.h; the solid fill's kernels are in RasterKernels.cpp.

}  // namespace standin::pipeline
