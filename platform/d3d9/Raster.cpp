// Solid fill. A pixel belongs to a triangle when its centre (the integer point) lies strictly
// inside, or exactly on a top edge (horizontal, above the others) or a left edge ("Rasterization
// Rules (Direct3D 9)": the triangles (0,0),(5,0),(5,5) and (0,5),(0,0),(5,5) get 15 and 10
// pixels). The edge functions are exact 64-bit integers on positions snapped to 1/256 pixel, so
// two triangles sharing an edge cover each pixel along it exactly once.
//
// Attributes are evaluated at the pixel centre: depth linearly in screen space (z/w is affine
// there), colour perspective-correctly, c = sum(b_i c_i / w_i) / sum(b_i / w_i) with the screen
// barycentrics b_i; flat shading uses the provoking vertex's colour as it is.
#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/d3d9/Pipeline.h"

namespace standin::pipeline {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) {
        --q;
    }
    return q;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    return -FloorDiv(-a, b);
}

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

// Rasterizes one clockwise triangle (positive area) into the viewport.
void RasterizeTriangle(const ScreenVertex& a, const ScreenVertex& b, const ScreenVertex& c, const Shading& shading,
                       const RasterState& state, RenderTarget& target) {
    const Edge bc(b, c);  // weight of a
    const Edge ca(c, a);  // weight of b
    const Edge ab(a, b);  // weight of c
    const std::int64_t area = ab.At(c.x, c.y);
    if (area <= 0) {
        return;  // a sliver turned over or flattened by snapping
    }

    // Pixel centres inside the bounding box, scissored to the viewport and the target.
    const D3DVIEWPORT9& vp = target.viewport;
    const std::int64_t left = std::max<std::int64_t>(vp.X, 0);
    const std::int64_t top = std::max<std::int64_t>(vp.Y, 0);
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{vp.X} + vp.Width, target.width) - 1;
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{vp.Y} + vp.Height, target.height) - 1;
    const std::int64_t minX = std::max(left, CeilDiv(std::min({a.x, b.x, c.x}), kSubPixelOne));
    const std::int64_t maxX = std::min(right, FloorDiv(std::max({a.x, b.x, c.x}), kSubPixelOne));
    const std::int64_t minY = std::max(top, CeilDiv(std::min({a.y, b.y, c.y}), kSubPixelOne));
    const std::int64_t maxY = std::min(bottom, FloorDiv(std::max({a.y, b.y, c.y}), kSubPixelOne));
    if (minX > maxX || minY > maxY) {
        return;
    }

    const double inverseArea = 1.0 / static_cast<double>(area);
    for (std::int64_t y = minY; y <= maxY; ++y) {
        const std::int64_t py = y * kSubPixelOne;
        const std::int64_t px = minX * kSubPixelOne;
        std::int64_t e0 = bc.At(px, py);
        std::int64_t e1 = ca.At(px, py);
        std::int64_t e2 = ab.At(px, py);
        for (std::int64_t x = minX; x <= maxX; ++x) {
            if (e0 + bc.bias >= 0 && e1 + ca.bias >= 0 && e2 + ab.bias >= 0) {
                const double b0 = static_cast<double>(e0) * inverseArea;
                const double b1 = static_cast<double>(e1) * inverseArea;
                const double b2 = static_cast<double>(e2) * inverseArea;
                // Relative to vertex a, so that a plane of constant depth stays exactly constant.
                const double z = a.z + b1 * (b.z - a.z) + b2 * (c.z - a.z);
                std::uint32_t color = shading.flatColor;
                if (!shading.flat) {
                    const double q0 = b0 * a.invW;
                    const double q1 = b1 * b.invW;
                    const double q2 = b2 * c.invW;
                    const double q = q0 + q1 + q2;
                    Color interpolated;
                    interpolated.r = (q0 * a.color.r + q1 * b.color.r + q2 * c.color.r) / q;
                    interpolated.g = (q0 * a.color.g + q1 * b.color.g + q2 * c.color.g) / q;
                    interpolated.b = (q0 * a.color.b + q1 * b.color.b + q2 * c.color.b) / q;
                    color = PackColor(interpolated);
                }
                WriteFragment(target, state, static_cast<int>(x), static_cast<int>(y), z, color);
            }
            e0 -= bc.dy * kSubPixelOne;
            e1 -= ca.dy * kSubPixelOne;
            e2 -= ab.dy * kSubPixelOne;
        }
    }
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

void RasterizeSolid(const ScreenPolygon& polygon, const Shading& shading, const RasterState& state,
                    RenderTarget& target) {
    // Fan-triangulate the convex polygon; counter-clockwise polygons (kept when culling is off)
    // are turned clockwise so that every edge function is >= 0 inside.
    const bool clockwise = polygon.doubleArea > 0;
    for (int k = 1; k + 1 < polygon.count; ++k) {
        const ScreenVertex& a = polygon.vertices[0];
        const ScreenVertex& b = polygon.vertices[k];
        const ScreenVertex& c = polygon.vertices[k + 1];
        if (clockwise) {
            RasterizeTriangle(a, b, c, shading, state, target);
        } else {
            RasterizeTriangle(a, c, b, shading, state, target);
        }
    }
}

}  // namespace standin::pipeline
