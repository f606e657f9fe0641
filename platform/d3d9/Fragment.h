// What the solid fill (Raster.cpp) and the lines (Wireframe.cpp) share, inline so that the
// per-pixel work stays inside their loops: the scissor rectangle, attribute planes in single
// precision, colour and depth conversion, the fallback colour for primitives too thin for
// single-precision planes, and the per-fragment operations.
//
// Per-fragment operations for this fixed-function subset, in Direct3D 9's order: depth test
// (D3DRS_ZFUNC, LESSEQUAL by default, in 16 bits), depth write if D3DRS_ZWRITEENABLE, then the
// colour write under D3DRS_COLORWRITEENABLE. Blending, alpha test, fog, dithering and stencil
// are off by default and not implemented.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/d3d9/Pipeline.h"

namespace standin::pipeline {

inline std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

inline std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return -FloorDiv(-a, b);
}

// The pixels a primitive may write, inclusive: the viewport cut to the render target
// (RenderTarget's).
struct Scissor {
    std::int64_t left = 0;
    std::int64_t top = 0;
    std::int64_t right = -1;
    std::int64_t bottom = -1;

    explicit Scissor(const RenderTarget& target)
        : left(target.left), top(target.top), right(target.right), bottom(target.bottom) {}
    bool Contains(std::int64_t x, std::int64_t y) const { return x >= left && x <= right && y >= top && y <= bottom; }
};

// One attribute as a linear function of the window position, in single precision:
// a(x, y) = (a0 + dadx * x) + dady * y for pixel (x, y), a0 being its value at the centre of
// pixel (0, 0); both steps are fused multiply-adds.
struct AttributePlane {
    float a0 = 0;
    float dadx = 0;
    float dady = 0;

    float At(float x, float y) const { return std::fma(dady, y, std::fma(dadx, x, a0)); }
    float At(std::int64_t x, std::int64_t y) const { return At(static_cast<float>(x), static_cast<float>(y)); }
};

// Single-precision channel to 8-bit UNORM as GPUs convert it: clamped to 0..1 (NaN to 0),
// c * 255/256 + 2^15 leaves round-to-nearest(c * 255) in the low 8 mantissa bits.
inline std::uint32_t UnormBits(float channel) {
    const float c = channel > 0 ? (channel < 1 ? channel : 1.0f) : 0.0f;
    const float biased = c * (255.0f / 256.0f) + 32768.0f;
    return std::bit_cast<std::uint32_t>(biased) & 0xFFu;
}

// The perspective-correct colour of a primitive: planes of r/w, g/w, b/w and 1/w, their
// quotients converted to 8 bits.
struct ColorPlanes {
    AttributePlane red, green, blue, oneOverW;

    std::uint32_t At(float x, float y) const {
        const float w = 1.0f / oneOverW.At(x, y);
        return 0xFF000000u | (UnormBits(red.At(x, y) * w) << 16) | (UnormBits(green.At(x, y) * w) << 8) |
               UnormBits(blue.At(x, y) * w);
    }
    std::uint32_t At(std::int64_t x, std::int64_t y) const { return At(static_cast<float>(x), static_cast<float>(y)); }
};

// Depth value to D16: floor(clamp(z, 0, 1) * 65535 + 0.5) (NaN to 0). On 0..1 the sum is
// positive, so truncation is the floor.
inline std::uint16_t QuantizeDepth(double z) {
    const double clamped = z > 0 ? (z < 1 ? z : 1.0) : 0.0;
    return static_cast<std::uint16_t>(static_cast<std::int32_t>(clamped * 65535 + 0.5));
}
// The same for a depth known to lie inside 0..1, where the clamp changes nothing.
inline std::uint16_t QuantizeUnitDepth(double z) {
    return static_cast<std::uint16_t>(static_cast<std::int32_t>(z * 65535 + 0.5));
}

// The colour of primitives too thin for single-precision planes: double-precision weights q of
// the vertices (each already divided by its w), colour = sum(q * colour) / sum(q).
template <std::size_t N>
std::uint32_t MixColors(const double (&q)[N], const Color* const (&colors)[N]) {
    double sum = q[0];
    double r = q[0] * colors[0]->r;
    double g = q[0] * colors[0]->g;
    double b = q[0] * colors[0]->b;
    for (std::size_t k = 1; k < N; ++k) {
        sum = sum + q[k];
        r = r + q[k] * colors[k]->r;
        g = g + q[k] * colors[k]->g;
        b = b + q[k] * colors[k]->b;
    }
    return PackColor({r / sum, g / sum, b / sum, 0});
}

inline bool DepthPasses(DWORD function, std::uint16_t incoming, std::uint16_t stored) {
    switch (function) {
        case D3DCMP_NEVER:
            return false;
        case D3DCMP_LESS:
            return incoming < stored;
        case D3DCMP_EQUAL:
            return incoming == stored;
        case D3DCMP_LESSEQUAL:
            return incoming <= stored;
        case D3DCMP_GREATER:
            return incoming > stored;
        case D3DCMP_NOTEQUAL:
            return incoming != stored;
        case D3DCMP_GREATEREQUAL:
            return incoming >= stored;
        default:
            return true;  // D3DCMP_ALWAYS
    }
}

// Depth-tests the fragment at (x, y), which must lie inside the target, and writes depth and
// colour if it passes.
inline void WriteFragment(RenderTarget& target, const RasterState& state, std::int64_t x, std::int64_t y, double z,
                          std::uint32_t color) {
    const std::size_t index =
        static_cast<std::size_t>(y) * static_cast<std::size_t>(target.width) + static_cast<std::size_t>(x);
    if (state.depthTest && target.depth != nullptr) {
        const std::uint16_t depth = QuantizeDepth(z);
        if (!DepthPasses(state.depthFunc, depth, target.depth[index])) {
            return;
        }
        if (state.depthWrite) {
            target.depth[index] = depth;
        }
    }
    if (state.colorWriteMask == 0xF) {
        target.color[index] = color;
        return;
    }
    // D3DCOLORWRITEENABLE_RED 1, GREEN 2, BLUE 4, ALPHA 8.
    std::uint32_t mask = 0;
    mask |= (state.colorWriteMask & 1u) ? 0x00FF0000u : 0;
    mask |= (state.colorWriteMask & 2u) ? 0x0000FF00u : 0;
    mask |= (state.colorWriteMask & 4u) ? 0x000000FFu : 0;
    mask |= (state.colorWriteMask & 8u) ? 0xFF000000u : 0;
    target.color[index] = (target.color[index] & ~mask) | (color & mask);
}

// >>triangle traversal

// floor(n / d) for d > 0 while n grows by `delta` each row, kept exact without dividing again.
class FloorStepper {
public:
    FloorStepper() = default;
    FloorStepper(std::int64_t n, std::int64_t d, std::int64_t delta)
        : q_(FloorDiv(n, d)), r_(n - q_ * d), dq_(FloorDiv(delta, d)), dr_(delta - dq_ * d), d_(d) {}
    std::int64_t Value() const { return q_; }
    // Its state, for steppers stepped side by side in vector lanes (RasterKernels.inc).
    struct Parts {
        std::int64_t q, r, dq, dr, d;
    };
    Parts Split() const { return {q_, r_, dq_, dr_, d_}; }
    void Step() {
        r_ += dr_;
        const bool carry = r_ >= d_;  // without a branch: the carry follows no pattern
        r_ -= carry ? d_ : 0;
        q_ += dq_ + (carry ? 1 : 0);
    }

private:
    std::int64_t q_ = 0, r_ = 0, dq_ = 0, dr_ = 0, d_ = 1;
};

// One edge function of a triangle over its bounding box, with the top-left bias added: a pixel
// is covered when all three are >= 0. `value` holds at the box's first pixel; it changes by
// stepX from column to column and by stepY from row to row.
struct EdgeSteps {
    std::int64_t value = 0;
    std::int64_t stepX = 0;
    std::int64_t stepY = 0;
};

// Which columns of a row, counted from the box's first column, an edge leaves inside: the edge
// bounds them from below (value rising along the row), from above (falling), or takes the row
// whole or not at all (constant along the row). Exact integer division for the first row,
// stepped from row to row.
class EdgeWalker {
public:
    explicit EdgeWalker(const EdgeSteps& edge)
        : kind_(edge.stepX > 0 ? Kind::Lower : (edge.stepX < 0 ? Kind::Upper : Kind::Row)) {
        if (kind_ == Kind::Row) {
            rowValue_ = edge.value;
            rowDelta_ = edge.stepY;
        } else {
            bound_ = FloorStepper(edge.value, edge.stepX > 0 ? edge.stepX : -edge.stepX, edge.stepY);
        }
    }
    // Narrows [first, last] to this edge's columns of the current row.
    void Clip(std::int64_t* first, std::int64_t* last) const {
        switch (kind_) {
            case Kind::Lower:  // value + stepX * t >= 0 for t >= ceil(-value / stepX)
                *first = std::max(*first, -bound_.Value());
                break;
            case Kind::Upper:  // value - |stepX| * t >= 0 for t <= floor(value / |stepX|)
                *last = std::min(*last, bound_.Value());
                break;
            case Kind::Row:
                if (rowValue_ < 0) {
                    *last = -1;
                    *first = 0;
                }
                break;
        }
    }
    void NextRow() {
        if (kind_ == Kind::Row) {
            rowValue_ += rowDelta_;
        } else {
            bound_.Step();
        }
    }

private:
    enum class Kind { Lower, Upper, Row };
    Kind kind_;
    FloorStepper bound_;
    std::int64_t rowValue_ = 0;
    std::int64_t rowDelta_ = 0;
};

// >>raster kernels: a triangle's pixels in the common states, with per-triangle choices made
// once. Every kernel computes exactly what WriteFragment computes per pixel.

struct SpanShader {
    AttributePlane depth;
    ColorPlanes color;
    std::uint32_t flatColor = 0;
};

// A clockwise triangle's bounding box (scissored, not empty), its edges and what it writes.
struct TriangleJob {
    std::array<EdgeSteps, 3> edges;
    std::int32_t minX = 0, maxX = -1, minY = 0, maxY = -1;
    // The vertices span at most kSmallColumns by kSmallRows pixels, so that the edge values of
    // up to 16 lanes over the box's rows fit in 32 bits with room to spare (FitsInt32).
    bool small = false;
    SpanShader shader;
    std::uint32_t* color = nullptr;
    std::uint16_t* depth = nullptr;
    std::size_t pitch = 0;  // pixels per row of both buffers
};

// With the vertices' extents W <= 16 and H <= 64 pixels (in 1/256: 2^12 and 2^14), an edge's
// |dx| <= W and |dy| <= H, and the box's first pixel lies within the extents, so its value is
// below 2 W H + 1 <= 2^27 + 1; 16 columns of |stepX| = 256 |dy| add at most 2^26 and 66 rows of
// |stepY| = 256 |dx| less than 2^26.1: below 2^29 in all, which is what FitsInt32 asks.
inline constexpr std::int64_t kSmallColumns = 16;
inline constexpr std::int64_t kSmallRows = 64;

using TriangleFunction = void (*)(const TriangleJob& job);

// Whether the kernels take triangles drawn in `state` (with the depth test where `depthTest`):
// a full colour write mask, and LESSEQUAL with write where depth is tested.
inline bool KernelsTakeStates(const RasterState& state, bool depthTest) {
    return state.colorWriteMask == 0xF && (!depthTest || (state.depthFunc == D3DCMP_LESSEQUAL && state.depthWrite));
}

// Triangles begin .. end - 1 of a triangle primitive (numbered as AssembleTriangle numbers them,
// their vertex indices into the arrays below), drawn solid and flat in states the kernels take:
// Device::DrawMappedTriangle and RasterizeTriangle (Raster.cpp) for each whose vertices are all
// mapped, set up side by side (setUpTriangles), into `target` (and its queue, if it has one).
struct TriangleBatch {
    D3DPRIMITIVETYPE type = D3DPT_TRIANGLELIST;
    std::uint32_t begin = 0, end = 0;
    const ScreenVertex* vertices = nullptr;
    VertexColumns columns;                     // the same, by field; read past the last vertex (VertexColumns)
    const VertexPlace* places = nullptr;       // read past the last vertex as well
    const ClipVertex* clipVertices = nullptr;  // the provoking vertex's colour
    DWORD cullMode = D3DCULL_CCW;
    const RenderTarget* target = nullptr;
    bool depthTest = false;  // the target has a depth buffer, and the test is on
};

// Whether the depth plane, as the kernels evaluate it in single precision anywhere in the rows of
// the box and up to 16 columns either side (where their lanes and blocks may reach), stays
// strictly inside 0..1, so that QuantizeUnitDepth gives what QuantizeDepth gives. The exact plane
// is linear, so its extremes are at the corners; each of the two fused multiply-adds rounds by
// at most 2^-24 of its magnitude, which the margin covers with room to spare. The lowest and
// highest corners, as (a0 + x term) + y term in double precision, come from the smaller and
// larger term of each axis (rounding is monotonic); a plane that is not finite makes the margin
// infinite or NaN, and the answer false.
inline bool DepthStaysInUnitRange(const TriangleJob& job) {
    const AttributePlane& plane = job.shader.depth;
    const double left = job.minX - 16.0, right = job.maxX + 16.0, top = job.minY, bottom = job.maxY;
    const double a0 = plane.a0, dadx = plane.dadx, dady = plane.dady;
    const double xLeft = dadx * left, xRight = dadx * right, yTop = dady * top, yBottom = dady * bottom;
    const double lowest = (a0 + std::min(xLeft, xRight)) + std::min(yTop, yBottom);
    const double highest = (a0 + std::max(xLeft, xRight)) + std::max(yTop, yBottom);
    const double margin = 0x1p-20 * (std::fabs(a0) + std::fabs(dadx) * std::max(std::fabs(left), std::fabs(right)) +
                                     std::fabs(dady) * std::max(std::fabs(top), std::fabs(bottom)) + 1.0);
    return lowest > margin && highest < 1.0 - margin;  // false for NaN too
}

// The steps first .. last along the major axis u of a line drawn in one flat colour with depth
// LESSEQUAL and write and every channel (Wireframe.cpp): a step's pixel is Ceil(crossing - 1/2)
// on the minor axis, crossing = v0 + slope * (u - u0), and it is drawn where the line leaves the
// pixel's diamond inside the walk (DiamondExit), where that pixel lies inside minorFirst ..
// minorLast and u is not skipStep; its depth is z0 + (z1 - z0) * f, f = (u - u0) / (u1 - u0)
// clamped to 0..1. first .. last lie inside the scissor, and so does minorFirst .. minorLast,
// which is not empty.
// The line leaves the diamond of every step innerFirst .. innerLast, whatever the exit's place.
struct LineJob {
    double u0 = 0, v0 = 0, u1 = 0, slope = 0, direction = 1;
    std::int64_t first = 0, last = -1, minorFirst = 0, minorLast = -1, skipStep = 0;
    std::int64_t innerFirst = 0, innerLast = -1;
    bool xMajor = true;
    bool unitDepth = false;  // z0 and z1 well inside 0..1: no clamp before quantizing
    double z0 = 0, z1 = 0;
    std::uint32_t color = 0;
    std::uint32_t* colors = nullptr;
    std::uint16_t* depths = nullptr;
    std::size_t pitch = 0;
};

// Kernels for a full colour write mask; "depth" ones test LESSEQUAL and write depth. The fills
// serve Clear.
struct RasterKernels {
    TriangleFunction flat;
    TriangleFunction gouraud;
    TriangleFunction flatDepth;
    TriangleFunction gouraudDepth;
    void (*fillColor)(std::uint32_t* out, std::size_t count, std::uint32_t value);
    void (*fillDepth)(std::uint16_t* out, std::size_t count, std::uint16_t value);
    // Rows of runs, for the dirty rows of a clear and their bookkeeping: in rows 0 .. count - 1,
    // fillColorRows and fillDepthRows set columns first[y] .. last[y] of row y of `out` (none
    // where last[y] < first[y]; rows `pitch` pixels apart); widenRows makes each run take
    // `left` .. `right` too, and mergeRows each run take the other's.
    void (*fillColorRows)(std::uint32_t* out, std::size_t pitch, const int* first, const int* last, std::size_t count,
                          std::uint32_t value);
    void (*fillDepthRows)(std::uint16_t* out, std::size_t pitch, const int* first, const int* last, std::size_t count,
                          std::uint16_t value);
    void (*widenRows)(int* first, int* last, std::size_t count, int left, int right);
    void (*mergeRows)(int* first, int* last, const int* otherFirst, const int* otherLast, std::size_t count);
    // The mapping of a run of vertices of a triangle primitive: InsideClipVolume, then
    // MapVertexPosition and MapVertexAttributes for those inside, with the place of each
    // (Pipeline.h); the positions of those mapped are added to `box`. The columns receive the
    // mapped vertices' fields too.
    void (*mapVertices)(const ClipVertex* vertices, std::size_t count, const ViewportMap& map, ScreenVertex* out,
                        const VertexColumns& columns, VertexPlace* places, VertexBox* box);
    // The steps of a line (LineJob), as the scalar walk in Wireframe.cpp takes them.
    void (*walkFlatLine)(const LineJob& job);
    // A batch's triangles in order, up to the first that needs the per-triangle path (one with
    // a vertex to clip or that cannot be mapped, or too thin for single-precision planes): its
    // number, or `end`. Null in the sets that set triangles up one by one.
    std::uint32_t (*setUpTriangles)(const TriangleBatch& batch);
};

// The kernels in use: by default the widest set the processor offers.
const RasterKernels& ActiveRasterKernels();

// The sets this processor can run, the portable one first and the widest last (Standin.h names
// them).
struct NamedRasterKernels {
    const char* name;
    const RasterKernels* kernels;
};
const std::vector<NamedRasterKernels>& OfferedRasterKernels();

}  // namespace standin::pipeline
