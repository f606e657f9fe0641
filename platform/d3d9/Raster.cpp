// Solid fill. A pixel belongs to a triangle when its centre (the integer point) lies strictly
// inside, or exactly on a top edge (horizontal, above the others) or a left edge ("Rasterization
// Rules (Direct3D 9)": the triangles (0,0),(5,0),(5,5) and (0,5),(0,0),(5,5) get 15 and 10
// pixels). The edge functions are exact 64-bit integers on positions snapped to 1/256 pixel, so
// two triangles sharing an edge cover each pixel along it exactly once.
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
#include <cstring>
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

// One attribute as a linear function of the window position, in single precision:
// a(x, y) = (a0 + dadx * x) + dady * y for pixel (x, y), a0 being its value at the centre of
// pixel (0, 0); both steps are fused multiply-adds.
struct AttributePlane {
    float a0 = 0;
    float dadx = 0;
    float dady = 0;

    float At(std::int64_t x, std::int64_t y) const {
        return std::fma(dady, static_cast<float>(y), std::fma(dadx, static_cast<float>(x), a0));
    }
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

private:
    bool valid_ = false;
    float dx01_ = 0, dy01_ = 0, dx20_ = 0, dy20_ = 0, x0_ = 0, y0_ = 0;
};

// The perspective-correct colour of a triangle: planes of r/w, g/w, b/w and 1/w.
struct GouraudPlanes {
    std::array<AttributePlane, 3> colorOverW;
    AttributePlane oneOverW;

    GouraudPlanes(const PlaneSetup& setup, const ScreenVertex& v0, const ScreenVertex& v1, const ScreenVertex& v2) {
        for (std::size_t k = 0; k < 3; ++k) {
            colorOverW[k] = setup.Plane(v0.rgb[k] * v0.oneOverW, v1.rgb[k] * v1.oneOverW, v2.rgb[k] * v2.oneOverW);
        }
        oneOverW = setup.Plane(v0.oneOverW, v1.oneOverW, v2.oneOverW);
    }

    std::uint32_t At(std::int64_t x, std::int64_t y) const {
        const float w = 1.0f / oneOverW.At(x, y);
        return 0xFF000000u | (std::uint32_t{UnormByte(colorOverW[0].At(x, y) * w)} << 16) |
               (std::uint32_t{UnormByte(colorOverW[1].At(x, y) * w)} << 8) |
               std::uint32_t{UnormByte(colorOverW[2].At(x, y) * w)};
    }
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
    // Plane setup takes the vertices in the reference implementation's order, which for the
    // clockwise order (a, b, c) given here is (a, c, b).
    const PlaneSetup setup(a, c, b);
    const bool planeColor = !shading.flat && setup.Valid();
    const GouraudPlanes gouraud(setup, a, c, b);
    const AttributePlane depth = setup.Plane(a.windowZ, c.windowZ, b.windowZ);
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
                // Single precision planes like colour; for triangles too thin for them, depth
                // relative to vertex a, so that a plane of constant depth stays exactly constant.
                const double z =
                    setup.Valid() ? static_cast<double>(depth.At(x, y)) : a.z + b1 * (b.z - a.z) + b2 * (c.z - a.z);
                std::uint32_t color = shading.flatColor;
                if (planeColor) {
                    color = gouraud.At(x, y);
                } else if (!shading.flat) {
                    // Too thin for single-precision planes: barycentric interpolation instead.
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

std::uint8_t UnormByte(float channel) {
    const float c = channel > 0 ? (channel < 1 ? channel : 1.0f) : 0.0f;
    const float biased = c * (255.0f / 256.0f) + 32768.0f;
    std::uint32_t bits = 0;
    std::memcpy(&bits, &biased, sizeof bits);
    return static_cast<std::uint8_t>(bits & 0xFFu);
}

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
