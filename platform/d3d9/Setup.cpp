// Triangle setup: perspective division, the viewport transform, snapping to the sub-pixel grid
// and culling.
//
// Viewport transform for {X, Y, Width, Height, MinZ, MaxZ} ("Viewports and Clipping
// (Direct3D 9)"); screen y grows downwards:
//   sx = X + (1 + x/w) * Width / 2      sy = Y + (1 - y/w) * Height / 2
//   sz = MinZ + (z/w) * (MaxZ - MinZ)
// Pixel centres are the integer points, so x/w = -1 lands on the centre of column X.
//
// Winding: front faces run clockwise on the screen. D3DCULL_CW removes clockwise triangles,
// D3DCULL_CCW (the default) counter-clockwise ones ("D3DCULL"). The winding is judged from the
// snapped screen positions of the clipped polygon, whose order is the triangle's own.
#include <cmath>

#include "platform/d3d9/Pipeline.h"

namespace standin::pipeline {

namespace {

// std::llround (to nearest, halves away from zero) for |v| < 2^62, without a library call: the
// truncation and the remainder v - t are both exact.
std::int64_t RoundHalfAway(double v) {
    const auto t = static_cast<std::int64_t>(v);
    const double remainder = v - static_cast<double>(t);
    return t + (remainder >= 0.5 ? 1 : 0) - (remainder <= -0.5 ? 1 : 0);
}

}  // namespace

ViewportMap::ViewportMap(const D3DVIEWPORT9& viewport)
    : x(static_cast<double>(viewport.X)),
      y(static_cast<double>(viewport.Y)),
      minZ(static_cast<double>(viewport.MinZ)),
      halfWidth(static_cast<double>(viewport.Width) / 2),
      halfHeight(static_cast<double>(viewport.Height) / 2),
      depthRange(static_cast<double>(viewport.MaxZ) - static_cast<double>(viewport.MinZ)),
      width(static_cast<float>(viewport.Width)),
      height(static_cast<float>(viewport.Height)),
      oneOverWidth(1.0f / width),
      oneOverHeight(1.0f / height),
      centreX(static_cast<float>(viewport.X) + width / 2),
      centreY(static_cast<float>(viewport.Y) + height / 2),
      depthScale((viewport.MaxZ - viewport.MinZ) / 2),
      depthCentre((viewport.MaxZ + viewport.MinZ) / 2) {}

// The snapped position and the depth of one vertex; false if they are not usable.
bool MapVertexPosition(const ClipVertex& v, const ViewportMap& map, ScreenVertex* s) {
    const double sx = map.x + (1 + v.x / v.w) * map.halfWidth;
    const double sy = map.y + (1 - v.y / v.w) * map.halfHeight;
    const double sz = map.minZ + (v.z / v.w) * map.depthRange;
    // One test, not a branch for each; also false for NaN, e.g. from w == 0.
    if (!((std::fabs(sx) < kMaxScreenCoordinate) & (std::fabs(sy) < kMaxScreenCoordinate) & std::isfinite(sz))) {
        return false;
    }
    s->x = RoundHalfAway(sx * static_cast<double>(kSubPixelOne));
    s->y = RoundHalfAway(sy * static_cast<double>(kSubPixelOne));
    s->z = sz;
    return true;
}

// Built twice on x86-64, for processors with fused multiply-adds and without: the same results
// (std::fma rounds once either way), but without the library call for each of the four.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
__attribute__((target_clones("fma", "default")))
#endif
void MapVertexAttributes(const ClipVertex& v, const ViewportMap& map, ScreenVertex* s) {
    s->invW = 1 / v.w;
    s->color = v.color;
    // Single precision, as the attribute setup of the reference implementation sees the
    // vertex. Its GPU path samples at half-integer window coordinates, so it moves the vertex
    // half a pixel right and down in clip space (x + w/Width, y - w/Height); its clip depth runs
    // from -w to w, so z becomes 2z - w; then it divides by w and maps to the viewport with
    // fused multiply-adds (depth: MinZ..MaxZ from -1..1).
    const float w = static_cast<float>(v.w);
    const float oneOverW = 1.0f / w;
    const float shiftedX = static_cast<float>(v.x) + w * map.oneOverWidth;
    const float shiftedY = static_cast<float>(v.y) - w * map.oneOverHeight;
    s->oneOverW = oneOverW;
    s->windowX = std::fma(shiftedX * oneOverW, map.width / 2, map.centreX);
    s->windowY = std::fma(shiftedY * oneOverW, -map.height / 2, map.centreY);
    const float symmetricZ = std::fma(static_cast<float>(v.z), 2.0f, -w);
    s->windowZ = std::fma(symmetricZ * oneOverW, map.depthScale, map.depthCentre);
    s->rgb = {static_cast<float>(v.color.r), static_cast<float>(v.color.g), static_cast<float>(v.color.b)};
}

bool MapPositions(const ClippedPolygon& polygon, const ViewportMap& map, ScreenPolygon* out) {
    out->count = polygon.count;
    for (int k = 0; k < polygon.count; ++k) {
        if (!MapVertexPosition(polygon.vertices[k], map, &out->vertices[k])) {
            return false;
        }
        out->edgeToNextIsOriginal[k] = polygon.edgeToNextIsOriginal[k];
        out->isOriginalVertex[k] = polygon.isOriginalVertex[k];
    }
    out->doubleArea = DoubleArea(*out);
    return true;
}

void MapAttributes(const ClippedPolygon& polygon, const ViewportMap& map, ScreenPolygon* out) {
    for (int k = 0; k < polygon.count; ++k) {
        MapVertexAttributes(polygon.vertices[k], map, &out->vertices[k]);
    }
}

std::int64_t DoubleArea(const ScreenPolygon& polygon) {
    // Shoelace formula, fanned from vertex 0: twice the signed area, > 0 when clockwise (y down).
    std::int64_t area = 0;
    const ScreenVertex& o = polygon.vertices[0];
    for (int k = 1; k + 1 < polygon.count; ++k) {
        const ScreenVertex& a = polygon.vertices[k];
        const ScreenVertex& b = polygon.vertices[k + 1];
        area += (a.x - o.x) * (b.y - o.y) - (b.x - o.x) * (a.y - o.y);
    }
    return area;
}

bool MapToViewport(const ClippedPolygon& polygon, const ViewportMap& map, ScreenPolygon* out) {
    if (!MapPositions(polygon, map, out)) {
        return false;
    }
    MapAttributes(polygon, map, out);
    return true;
}

bool IsCulled(const ScreenPolygon& polygon, DWORD cullMode) {
    return IsCulled(polygon.doubleArea, cullMode);
}

}  // namespace standin::pipeline
