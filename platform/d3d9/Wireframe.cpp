// Line primitives, and the D3DFILL_WIREFRAME and D3DFILL_POINT fill modes of triangles. Fill
// modes apply after clipping and culling: every
// triangle that survives draws its three edges (so an edge shared inside a strip or fan is drawn
// twice, by each triangle in turn), except edges that clipping created along a clip plane. In
// flat mode every edge takes the triangle's provoking colour; in Gouraud mode the colour is
// interpolated perspective-correctly along the edge and depth linearly.
//
// Lines follow the diamond-exit rule (Direct3D 10's rule for aliased lines; Direct3D 9 leaves
// its line rule to the driver): a line covers pixel (i, j) when the segment leaves the diamond
// |x - i| + |y - j| < 1/2 around the pixel centre. The end point's own pixel is therefore not
// drawn unless the line leaves it; in a triangle's closed loop of edges the next edge starts
// there. Ties: for an x-major line the diamond owns its lower corner (larger y); for a y-major
// line its right corner. A line that starts exactly on a pixel centre (in its single-precision
// window position) covers that pixel unless it is y-major and runs up the screen: the reference
// implementation draws a line as a thin quad under the top-left fill rule, where such a start
// lies on the quad's bottom edge. (Direct3D 10 would draw it; the tie is the driver's choice.)
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "platform/d3d9/Fragment.h"
#include "platform/d3d9/Pipeline.h"
#include "platform/d3d9/RasterQueue.h"

namespace standin::pipeline {

namespace {

// The perspective-correct colour along a line in single precision, as for triangles (Raster.cpp):
// planes of r/w, g/w, b/w and 1/w. The gradient runs along the major axis only: the colour of a
// pixel is that of the point of the line in the pixel's column (x-major) or row (y-major).
class LineColor {
public:
    LineColor() = default;  // none: a flat line's
    LineColor(const ScreenVertex& start, const ScreenVertex& end) {
        const float dx = start.windowX - end.windowX;
        const float dy = start.windowY - end.windowY;
        xMajor_ = std::fabs(dx) >= std::fabs(dy);
        oneOverLength_ = 1.0f / (xMajor_ ? dx : dy);
        x0_ = start.windowX - 0.5f;
        y0_ = start.windowY - 0.5f;
        planes_.red = Plane(start.rgb[0] * start.oneOverW, end.rgb[0] * end.oneOverW);
        planes_.green = Plane(start.rgb[1] * start.oneOverW, end.rgb[1] * end.oneOverW);
        planes_.blue = Plane(start.rgb[2] * start.oneOverW, end.rgb[2] * end.oneOverW);
        planes_.oneOverW = Plane(start.oneOverW, end.oneOverW);
    }

    bool Valid() const { return std::isfinite(oneOverLength_); }
    std::uint32_t At(std::int64_t x, std::int64_t y) const { return planes_.At(x, y); }

private:
    AttributePlane Plane(float atStart, float atEnd) const {
        const float delta = atStart - atEnd;
        AttributePlane c;
        (xMajor_ ? c.dadx : c.dady) = delta * oneOverLength_;
        c.a0 = atStart - (c.dadx * x0_ + c.dady * y0_);
        return c;
    }

    bool xMajor_ = true;
    float oneOverLength_ = 0;
    float x0_ = 0;
    float y0_ = 0;
    ColorPlanes planes_;
};

// A line between two screen vertices along one major axis: positions in pixels, the major axis
// renamed u and the minor v.
struct MajorAxisLine {
    double u0, v0, u1, v1;
};

// std::ceil and std::floor for |v| < 2^62, without the library call that a processor without
// a rounding instruction needs: the truncation is exact, and one off when it went the wrong way.
double Ceil(double v) {
    const auto t = static_cast<double>(static_cast<std::int64_t>(v));
    return t < v ? t + 1 : t;
}
double Floor(double v) {
    const auto t = static_cast<double>(static_cast<std::int64_t>(v));
    return t > v ? t - 1 : t;
}

// Where the line leaves the diamond of the point (centreU, j) when it crosses u = centreU at
// v = centreU's v; `direction` is +1 or -1 along u. Returns the u of the exit.
double DiamondExit(double centreU, double offsetFromCentre, double slopeAlongDirection, double direction) {
    // Solve t + |c + s t| = 1/2 for t >= 0, c = offset of the crossing from the centre, s = slope.
    const double c = offsetFromCentre;
    const double s = slopeAlongDirection;
    double t = 0;
    if (1 + s > 0) {
        t = (0.5 - c) / (1 + s);
        if (c + s * t < 0) {
            t = (0.5 + c) / (1 - s);
        }
    } else {
        t = (0.5 + c) / (1 - s);
    }
    return centreU + direction * t;
}

void DrawLine(const ScreenVertex& a, const ScreenVertex& b, const Shading& shading, const RasterState& state,
              RenderTarget& target) {
    if (target.queue != nullptr) {
        target.queue->Flush();  // triangles queued before come first
    }
    const std::int64_t dxFixed = b.x - a.x;
    const std::int64_t dyFixed = b.y - a.y;
    if (dxFixed == 0 && dyFixed == 0) {
        return;
    }
    const double one = static_cast<double>(kSubPixelOne);
    const bool xMajor = std::llabs(dxFixed) >= std::llabs(dyFixed);
    MajorAxisLine line{};
    if (xMajor) {
        line = {static_cast<double>(a.x) / one, static_cast<double>(a.y) / one, static_cast<double>(b.x) / one,
                static_cast<double>(b.y) / one};
    } else {
        line = {static_cast<double>(a.y) / one, static_cast<double>(a.x) / one, static_cast<double>(b.y) / one,
                static_cast<double>(b.x) / one};
    }
    const double direction = line.u1 > line.u0 ? 1.0 : -1.0;
    const double slope = (line.v1 - line.v0) / (line.u1 - line.u0);

    const Scissor scissor(target);
    // Positions are bounded by the guard band.
    // A step passes only if the line starts before its exit and ends at or past it, and the exit
    // lies between the centre and half a pixel past it along the line (up to rounding far below
    // the quarter pixel of margin here): so the steps to walk lie within three quarters of a
    // pixel before the start and a quarter past the end.
    const long long uMin = direction > 0 ? static_cast<long long>(Floor(line.u0 - 0.75)) + 1
                                         : static_cast<long long>(Ceil(line.u1 - 0.25));
    const long long uMax = direction > 0 ? static_cast<long long>(Floor(line.u1 + 0.25))
                                         : static_cast<long long>(Ceil(line.u0 + 0.75)) - 1;
    // Scissor the walk along the major axis to the viewport.
    const long long first = std::max<long long>(uMin, xMajor ? scissor.left : scissor.top);
    const long long last = std::min<long long>(uMax, xMajor ? scissor.right : scissor.bottom);

    // The row of the start pixel it leaves out (see the file comment), or none.
    // "Exactly" in the single-precision window position, where centres sit at +1/2.
    const bool upward = !xMajor && b.y < a.y;
    const long long upwardStartOnCentre =
        upward && a.windowX - std::floor(a.windowX) == 0.5f && a.windowY - std::floor(a.windowY) == 0.5f
            ? static_cast<long long>(a.y / kSubPixelOne)
            : LLONG_MIN;
    // The exit lies between the centre and half a pixel past it along the line (up to rounding
    // far below kMargin), so away from the ends (the centre past the start, half a pixel before
    // the end) both tests below hold whatever its exact place, and it is not worked out.
    constexpr double kMargin = 0x1p-16;
    const double innerFirst = direction > 0 ? line.u0 + kMargin : line.u1 + 0.5 + kMargin;
    const double innerLast = direction > 0 ? line.u1 - 0.5 - kMargin : line.u0 - kMargin;
    // The common state (LESSEQUAL with depth write, every channel) without branches on the test.
    const bool commonState = state.depthTest && target.depth != nullptr && state.depthFunc == D3DCMP_LESSEQUAL &&
                             state.depthWrite && state.colorWriteMask == 0xF;
    // Depth between the ends' depths, both well inside 0..1 (the margin covers the rounding of
    // the interpolation many times over), needs no clamp before it is quantized.
    constexpr double kDepthMargin = 0x1p-20;
    const bool unitDepth = a.z > kDepthMargin && a.z < 1 - kDepthMargin && b.z > kDepthMargin && b.z < 1 - kDepthMargin;
    const auto pitch = static_cast<std::size_t>(target.width);
    const long long minorFirst = xMajor ? scissor.top : scissor.left;
    const long long minorLast = xMajor ? scissor.bottom : scissor.right;
    // The steps strictly between innerFirst and innerLast, which need no exit test: u > innerFirst
    // and u < innerLast for an integer u.
    const long long innerStart = std::max(first, static_cast<long long>(Floor(innerFirst)) + 1);
    const long long innerEnd = std::min(last, static_cast<long long>(Ceil(innerLast)) - 1);
    if (minorFirst > minorLast) {
        return;  // the scissor has no row (or column) to draw in
    }
    if (commonState && shading.flat) {  // the walk in the raster kernels
        const LineJob job{.u0 = line.u0,
                          .v0 = line.v0,
                          .u1 = line.u1,
                          .slope = slope,
                          .direction = direction,
                          .first = first,
                          .last = last,
                          .minorFirst = minorFirst,
                          .minorLast = minorLast,
                          .skipStep = upwardStartOnCentre,
                          .innerFirst = innerStart,
                          .innerLast = innerEnd,
                          .xMajor = xMajor,
                          .unitDepth = unitDepth,
                          .z0 = a.z,
                          .z1 = b.z,
                          .color = shading.flatColor,
                          .colors = target.color,
                          .depths = target.depth,
                          .pitch = pitch};
        target.kernels->walkFlatLine(job);
        return;
    }
    const LineColor lineColor = shading.flat ? LineColor() : LineColor(a, b);
    const bool planeColor = !shading.flat && lineColor.Valid();
    // The pixel whose diamond the line crosses at u: crossing - j in (-1/2, 1/2], the diamond
    // owning its corner on the side of larger minor coordinate.
    const auto crossingAt = [&](double centreU) { return line.v0 + slope * (centreU - line.u0); };
    const auto pixelAt = [](double crossing) { return Ceil(crossing - 0.5); };  // |crossing| is bounded
    // The walk's range lies inside the scissor along the major axis; the minor axis is tested,
    // unless the pixels of both ends of the walk pass (the crossing, each step of it rounded
    // once, moves monotonically along the walk, so every step's pixel lies between theirs).
    const double firstPixel = pixelAt(crossingAt(static_cast<double>(first)));
    const double lastPixel = pixelAt(crossingAt(static_cast<double>(last)));
    const bool minorInside = std::min(firstPixel, lastPixel) >= static_cast<double>(minorFirst) &&
                             std::max(firstPixel, lastPixel) <= static_cast<double>(minorLast);
    // The fragment of step u, whose pixel has minor coordinate `minor`.
    const auto write = [&]<bool kCommon, bool kUnitDepth>(long long u, long long minor, double centreU) {
        const long long x = xMajor ? u : minor;
        const long long y = xMajor ? minor : u;
        // Attributes at the pixel centre's position along the line.
        double f = (centreU - line.u0) / (line.u1 - line.u0);
        f = std::min(1.0, std::max(0.0, f));
        const double z = a.z + (b.z - a.z) * f;
        std::uint32_t color = shading.flatColor;
        if (planeColor) {
            color = lineColor.At(x, y);
        } else if (!shading.flat) {
            color = MixColors({(1 - f) * a.invW, f * b.invW}, {&a.color, &b.color});
        }
        if constexpr (kCommon) {
            const std::size_t index = static_cast<std::size_t>(y) * pitch + static_cast<std::size_t>(x);
            const std::uint16_t depth = kUnitDepth ? QuantizeUnitDepth(z) : QuantizeDepth(z);
            const std::uint16_t stored = target.depth[index];
            const bool passes = depth <= stored;  // a select, not a branch
            target.depth[index] = passes ? depth : stored;
            target.color[index] = passes ? color : target.color[index];
        } else {
            WriteFragment(target, state, x, y, z, color);
        }
    };
    // One walk for each combination of the choices that hold for the whole line, so that the
    // loop carries no test of them: the steps before the inner ones and after them with the exit
    // test, the inner ones without.
    const auto walk = [&]<bool kCommon, bool kUnitDepth>() {
        const auto steps = [&]<bool kExitTest, bool kMinorTest>(long long from, long long to) {
            for (long long u = from; u <= to; ++u) {
                const double centreU = static_cast<double>(u);
                const double crossing = crossingAt(centreU);
                const double j = pixelAt(crossing);
                if constexpr (kExitTest) {
                    const double exitU = DiamondExit(centreU, crossing - j, slope * direction, direction);
                    const bool startsBeforeExit = direction > 0 ? line.u0 < exitU : line.u0 > exitU;
                    const bool endsAtOrPastExit = direction > 0 ? line.u1 >= exitU : line.u1 <= exitU;
                    if (!startsBeforeExit || !endsAtOrPastExit) {
                        continue;
                    }
                }
                const auto minor = static_cast<long long>(j);
                if ((u == upwardStartOnCentre) | (kMinorTest && ((minor < minorFirst) | (minor > minorLast)))) {
                    continue;
                }
                write.template operator()<kCommon, kUnitDepth>(u, minor, centreU);
            }
        };
        const long long headEnd = std::min(last, innerStart - 1);
        const long long tailStart = std::max(innerEnd + 1, innerStart);
        if (minorInside) {
            steps.template operator()<true, false>(first, headEnd);
            steps.template operator()<false, false>(innerStart, innerEnd);
            steps.template operator()<true, false>(tailStart, last);
        } else {
            steps.template operator()<true, true>(first, headEnd);
            steps.template operator()<false, true>(innerStart, innerEnd);
            steps.template operator()<true, true>(tailStart, last);
        }
    };
    if (commonState) {
        if (unitDepth) {
            walk.operator()<true, true>();
        } else {
            walk.operator()<true, false>();
        }
    } else {
        walk.operator()<false, false>();
    }
}

}  // namespace

void RasterizeWireframe(const ScreenPolygon& polygon, const Shading& shading, const RasterState& state,
                        RenderTarget& target) {
    // The closing edge (last vertex to first) goes first, then the others in order, as in the
    // reference implementation; it decides which of two edges wins a shared end pixel.
    for (int n = 0; n < polygon.count; ++n) {
        const int k = (n + polygon.count - 1) % polygon.count;
        if (polygon.edgeToNextIsOriginal[k]) {
            DrawLine(polygon.vertices[k], polygon.vertices[(k + 1) % polygon.count], shading, state, target);
        }
    }
}

void RasterizeSegment(const ScreenPolygon& segment, const Shading& shading, const RasterState& state,
                      RenderTarget& target, bool lastPixel) {
    const ScreenVertex& start = segment.vertices[0];
    const ScreenVertex& end = segment.vertices[1];
    DrawLine(start, end, shading, state, target);
    // D3DRS_LASTPIXEL: the end point's own pixel, which the diamond-exit rule leaves to the next
    // line of a strip, is drawn as well: the pixel whose square contains the end point. An end
    // made by clipping is no end of the line and gets no last pixel.
    if (!lastPixel || !segment.isOriginalVertex[1]) {
        return;
    }
    const std::int64_t half = kSubPixelOne / 2;
    const std::int64_t x = -((-(end.x - half)) >> kSubPixelBits);  // ceil((x - 1/2) / 256)
    const std::int64_t y = -((-(end.y - half)) >> kSubPixelBits);
    if (!Scissor(target).Contains(x, y)) {
        return;
    }
    const std::uint32_t color = shading.flat ? shading.flatColor : PackColor(end.color);
    WriteFragment(target, state, x, y, end.z, color);
}

void RasterizePoints(const ScreenPolygon& polygon, const Shading& shading, const RasterState& state,
                     RenderTarget& target) {
    // A point is a one-pixel square centred on the vertex, filled with the top-left rule: it
    // covers the pixel (ceil(x - 1/2), ceil(y - 1/2)). Vertices made by clipping are not points.
    if (target.queue != nullptr) {
        target.queue->Flush();  // triangles queued before come first
    }
    const Scissor scissor(target);
    for (int k = 0; k < polygon.count; ++k) {
        if (!polygon.isOriginalVertex[k]) {
            continue;
        }
        const ScreenVertex& v = polygon.vertices[k];
        const std::int64_t half = kSubPixelOne / 2;
        const std::int64_t x = -((-(v.x - half)) >> kSubPixelBits);  // ceil((x - 1/2) / 256)
        const std::int64_t y = -((-(v.y - half)) >> kSubPixelBits);
        if (!scissor.Contains(x, y)) {
            continue;
        }
        const std::uint32_t color = shading.flat ? shading.flatColor : PackColor(v.color);
        WriteFragment(target, state, x, y, v.z, color);
    }
}

}  // namespace standin::pipeline
