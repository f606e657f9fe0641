// Solid fill. A pixel belongs to a triangle when its centre (the integer point) lies strictly
// inside, or exactly on a top edge (horizontal, above the others) or a left edge ("Rasterization
// Rules (Direct3D 9)": the triangles (0,0),(5,0),(5,5) and (0,5),(0,0),(5,5) get 15 and 10
// pixels). The edge functions are exact 64-bit integers on positions snapped to 1/256 pixel, so
// two triangles sharing an edge cover each pixel along it exactly once.
//
// Traversal (RasterKernels.inc for the common states): narrow triangles step the edge functions
// across their small bounding box; wider ones take each row's first and last covered column from
// exact integer division of the edge functions, stepped from row to row without dividing again,
// so a triangle costs its rows and its covered pixels, never the empty part of its box.
//
// Attributes are evaluated at the pixel centre. Depth is interpolated linearly in screen space
// (z/w is affine there). Gouraud colour is perspective-correct: each channel divided by w and
// 1/w itself are linear in screen space, and their quotient is the colour. The arithmetic is the
// driver's business in Direct3D 9; this device does what the GPU path of the reference
// implementation does, so that values that fall exactly on a rounding boundary (colour halves,
// equal depths) come out the same: single-precision plane equations
// a(x, y) = a0 + da/dx * x + da/dy * y set up from the vertices' window positions (Setup.cpp),
// evaluated with fused multiply-adds; colour converted to 8 bits rounding to nearest. Flat
// shading uses the provoking vertex's colour as it is.
#include <algorithm>
#include <cmath>

#include "platform/d3d9/Fragment.h"
#include "platform/d3d9/Pipeline.h"
#include "platform/d3d9/RasterQueue.h"

namespace standin::pipeline {

namespace {

// The edge a -> b of a clockwise triangle: E(p) = (bx - ax)(py - ay) - (by - ay)(px - ax) is >= 0
// on the inner side. Top-left edges (going up, or horizontal and going right, on the screen)
// own the pixel centres lying exactly on them; the others do not, hence the bias.
struct Edge {
    std::int64_t dx = 0;
    std::int64_t dy = 0;
    std::int64_t ax = 0;
    std::int64_t ay = 0;
    std::int64_t bias = 0;  // 0 for top-left edges, -1 otherwise: E + bias >= 0 means covered

    Edge(const ScreenVertex& a, const ScreenVertex& b) : dx(b.x - a.x), dy(b.y - a.y), ax(a.x), ay(a.y) {
        const bool topLeft = dy < 0 || (dy == 0 && dx > 0);
        bias = topLeft ? 0 : -1;
    }
    std::int64_t At(std::int64_t px, std::int64_t py) const { return dx * (py - ay) - dy * (px - ax); }
};

// What every attribute plane of one triangle shares: the edge vectors scaled by one over the
// doubled area, and the first vertex's position relative to the centre of pixel (0, 0).
class PlaneSetup {
public:
    PlaneSetup(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2) {
        const float dx01 = v0.windowX - v1.windowX;
        const float dy01 = v0.windowY - v1.windowY;
        const float dx20 = v2.windowX - v0.windowX;
        const float dy20 = v2.windowY - v0.windowY;
        const float oneOverArea = 1.0f / (dx01 * dy20 - dy01 * dx20);
        valid_ = std::isfinite(oneOverArea);
        dx01_ = dx01 * oneOverArea;
        dy01_ = dy01 * oneOverArea;
        dx20_ = dx20 * oneOverArea;
        dy20_ = dy20 * oneOverArea;
        x0_ = v0.windowX - 0.5f;
        y0_ = v0.windowY - 0.5f;
    }

    // False when the triangle is too thin for single precision.
    bool Valid() const { return valid_; }

    AttributePlane Plane(float a0, float a1, float a2) const {
        const float da01 = a0 - a1;
        const float da20 = a2 - a0;
        AttributePlane plane;
        plane.dadx = da01 * dy20_ - da20 * dy01_;
        plane.dady = da20 * dx01_ - da01 * dx20_;
        plane.a0 = a0 - (plane.dadx * x0_ + plane.dady * y0_);
        return plane;
    }

    // The perspective-correct colour: planes of r/w, g/w, b/w and 1/w.
    ColorPlanes Colors(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2) const {
        ColorPlanes planes;
        AttributePlane* channels[3] = {&planes.red, &planes.green, &planes.blue};
        for (std::size_t k = 0; k < 3; ++k) {
            *channels[k] = Plane(v0.rgb[k] * v0.oneOverW, v1.rgb[k] * v1.oneOverW, v2.rgb[k] * v2.oneOverW);
        }
        planes.oneOverW = Plane(v0.oneOverW, v1.oneOverW, v2.oneOverW);
        return planes;
    }

private:
    bool valid_ = false;
    float dx01_ = 0, dy01_ = 0, dx20_ = 0, dy20_ = 0, x0_ = 0, y0_ = 0;
};

// The per-fragment path of RasterizeTriangle, for the states and triangles the kernels do not
// take (apart, so that the common path keeps its registers).
[[gnu::noinline]] void FillFragments(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c,
                                     std::int64_t area, const TriangleJob& job, bool planesValid,
                                     const Shading& shading, const RasterState& state, RenderTarget& target) {
    if (target.queue != nullptr) {
        target.queue->Flush();  // what was queued comes first
    }

    const Edge bc(b, c), ca(c, a), ab(a, b);
    const bool gouraud = !shading.flat;
    const std::int64_t minX = job.minX, maxX = job.maxX, minY = job.minY, maxY = job.maxY;
    EdgeWalker walkers[3] = {EdgeWalker(job.edges[0]), EdgeWalker(job.edges[1]), EdgeWalker(job.edges[2])};
    const double inverseArea = 1.0 / static_cast<double>(area);
    for (std::int64_t y = minY; y <= maxY; ++y) {
        std::int64_t first = 0;
        std::int64_t last = maxX - minX;
        for (EdgeWalker& walker : walkers) {
            walker.Clip(&first, &last);
            walker.NextRow();
        }
        for (std::int64_t x = minX + first; x <= minX + last; ++x) {
            double z = 0;
            std::uint32_t color = shading.flatColor;
            if (planesValid) {
                z = static_cast<double>(job.shader.depth.At(x, y));
                if (gouraud) {
                    color = job.shader.color.At(x, y);
                }
            } else {
                // Too thin for single-precision planes: double-precision barycentric weights,
                // depth relative to vertex a, so that a plane of constant depth stays exactly
                // constant.
                const std::int64_t px = x * kSubPixelOne;
                const std::int64_t py = y * kSubPixelOne;
                const double b0 = static_cast<double>(bc.At(px, py)) * inverseArea;
                const double b1 = static_cast<double>(ca.At(px, py)) * inverseArea;
                const double b2 = static_cast<double>(ab.At(px, py)) * inverseArea;
                z = a.z + b1 * (b.z - a.z) + b2 * (c.z - a.z);
                if (gouraud) {
                    color = MixColors({b0 * a.invW, b1 * b.invW, b2 * c.invW}, {&a.color, &b.color, &c.color});
                }
            }
            WriteFragment(target, state, x, y, z, color);
        }
    }
}

// Rasterizes one clockwise triangle into the viewport; `area` is its doubled area,
// DoubleArea(a, b, c), which must be positive.
void RasterizeTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c, std::int64_t area,
                       const Shading& shading, const RasterState& state, RenderTarget& target) {
    // Pixel centres inside the bounding box, scissored to the viewport and the target (a floor
    // or ceiling division by 256 is an arithmetic shift).
    const Scissor scissor(target);
    const std::int64_t left = std::min({a.x, b.x, c.x}), right = std::max({a.x, b.x, c.x});
    const std::int64_t top = std::min({a.y, b.y, c.y}), bottom = std::max({a.y, b.y, c.y});
    const std::int64_t minX = std::max(scissor.left, -((-left) >> kSubPixelBits));
    const std::int64_t maxX = std::min(scissor.right, right >> kSubPixelBits);
    const std::int64_t minY = std::max(scissor.top, -((-top) >> kSubPixelBits));
    const std::int64_t maxY = std::min(scissor.bottom, bottom >> kSubPixelBits);
    if (minX > maxX || minY > maxY) {
        return;
    }
    const Edge bc(b, c);  // weight of a
    const Edge ca(c, a);  // weight of b
    const Edge ab(a, b);  // weight of c

    // Plane setup takes the vertices in the reference implementation's order, which for the
    // clockwise order (a, b, c) given here is (a, c, b).
    const PlaneSetup setup(a, c, b);
    const bool gouraud = !shading.flat;
    const bool depthTest = state.depthTest && target.depth != nullptr;

    // Every member given, so that nothing is zeroed first; built where it is used (a queued
    // one in the queue's memory).
    const auto steps = [&](const Edge& edge) {
        return EdgeSteps{edge.At(minX * kSubPixelOne, minY * kSubPixelOne) + edge.bias, -edge.dy * kSubPixelOne,
                         edge.dx * kSubPixelOne};
    };
    const auto job = [&]() __attribute__((always_inline)) {
        return TriangleJob{{steps(bc), steps(ca), steps(ab)},
                           static_cast<std::int32_t>(minX),
                           static_cast<std::int32_t>(maxX),
                           static_cast<std::int32_t>(minY),
                           static_cast<std::int32_t>(maxY),
                           static_cast<bool>((right - left <= kSmallColumns * kSubPixelOne) &
                                             (bottom - top <= kSmallRows * kSubPixelOne)),
                           {setup.Valid() ? setup.Plane(a.windowZ, c.windowZ, b.windowZ) : AttributePlane{},
                            setup.Valid() && gouraud ? setup.Colors(a, c, b) : ColorPlanes{}, shading.flatColor},
                           target.color,
                           depthTest ? target.depth : nullptr,
                           static_cast<std::size_t>(target.width)};
    };

    // The common states go to a kernel; the rest (other depth functions, a partial colour mask,
    // triangles too thin for single-precision planes) to the per-fragment path.
    if (setup.Valid() && KernelsTakeStates(state, depthTest)) {
        const RasterKernels& kernels = *target.kernels;
        const TriangleFunction fill = depthTest ? (gouraud ? kernels.gouraudDepth : kernels.flatDepth)
                                                : (gouraud ? kernels.gouraud : kernels.flat);
        if (target.queue != nullptr) {
            target.queue->Push(fill, job);
        } else {
            fill(job());
        }
        return;
    }
    FillFragments(a, b, c, area, job(), setup.Valid(), shading, state, target);
}

std::uint8_t ToByte(double channel) {
    if (!(channel > 0)) {
        return 0;  // also NaN
    }
    if (channel >= 1) {
        return 255;
    }
    return static_cast<std::uint8_t>(std::floor(channel * 255 + 0.5));
}

}  // namespace

std::uint32_t PackColor(const Color& color) {
    // X8R8G8B8: the X byte is undefined in Direct3D 9; this device writes 0xFF.
    return 0xFF000000u | (std::uint32_t{ToByte(color.r)} << 16) | (std::uint32_t{ToByte(color.g)} << 8) |
           std::uint32_t{ToByte(color.b)};
}

void RasterizeSolidTriangle(const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2,
                            std::int64_t doubleArea, const Shading& shading, const RasterState& state,
                            RenderTarget& target) {
    // Counter-clockwise triangles (kept when culling is off) are turned clockwise so that every
    // edge function is >= 0 inside.
    if (doubleArea > 0) {
        RasterizeTriangle(v0, v1, v2, doubleArea, shading, state, target);
    } else if (doubleArea < 0) {
        RasterizeTriangle(v0, v2, v1, -doubleArea, shading, state, target);
    }
}

void RasterizeSolid(const ScreenPolygon& polygon, const Shading& shading, const RasterState& state,
                    RenderTarget& target) {
    // Fan-triangulate the convex polygon; its triangles share its winding, but snapping may
    // flatten or turn over a sliver of it, which is left out.
    const std::int64_t winding = polygon.doubleArea > 0 ? 1 : -1;
    for (int k = 1; k + 1 < polygon.count; ++k) {
        const ScreenVertex& v0 = polygon.vertices[0];
        const ScreenVertex& v1 = polygon.vertices[k];
        const ScreenVertex& v2 = polygon.vertices[k + 1];
        const std::int64_t area = DoubleArea(v0, v1, v2);
        if (area * winding > 0) {
            RasterizeSolidTriangle(v0, v1, v2, area, shading, state, target);
        }
    }
}

}  // namespace standin::pipeline
