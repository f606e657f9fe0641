// Clipping. Direct3D 9's clip volume is -w <= x <= w, -w <= y <= w, 0 <= z <= w ("Viewports and
// Clipping (Direct3D 9)"). Near (z >= 0) and far (z <= w) are clipped for real, so nothing is
// ever divided by the w of a vertex behind the eye and a triangle crossing the near plane is
// cut, never wrapped around. In x and y the pipeline behaves like hardware with a guard band:
// triangles are clipped only at |x|, |y| <= kGuardBand * w, far outside the viewport, and the
// rasterizer scissors to the viewport; the visible result is that of exact clipping, and the
// guard band bounds every screen coordinate so that the fixed-point edge functions cannot
// overflow.
//
// New vertices interpolate position and colour linearly in clip space, which keeps Gouraud
// colours equal to the unclipped perspective-correct interpolation. Each polygon edge remembers
// whether it is part of an edge of the triangle or lies along a clip plane; wireframe draws
// only the former (the runtime flags clip-generated edges as not drawn).
#include <cmath>
#include <utility>

#include "platform/d3d9/Pipeline.h"

namespace standin::pipeline {

namespace {

// Half-width of the guard band in normalized device coordinates: 16 viewports in each direction.
constexpr double kGuardBand = 16.0;

enum class Plane { Near, Far, Left, Right, Bottom, Top };
constexpr Plane kPlanes[] = {Plane::Near, Plane::Far, Plane::Left, Plane::Right, Plane::Bottom, Plane::Top};

// Signed distance to a plane, >= 0 inside.
double Distance(const ClipVertex& v, Plane plane) {
    switch (plane) {
        case Plane::Near:
            return v.z;
        case Plane::Far:
            return v.w - v.z;
        case Plane::Left:
            return v.x + kGuardBand * v.w;
        case Plane::Right:
            return kGuardBand * v.w - v.x;
        case Plane::Bottom:
            return v.y + kGuardBand * v.w;
        case Plane::Top:
            return kGuardBand * v.w - v.y;
    }
    return 0;
}

double Lerp(double a, double b, double t) {
    return a + (b - a) * t;
}

// The point where the edge from `inside` to `outside` meets the plane. Always interpolating from
// the inside end makes an edge shared by two triangles produce the same point for both. The
// coordinate that the plane fixes is set exactly: with vertices far away the interpolation
// alone loses it to cancellation.
ClipVertex Intersect(Plane plane, const ClipVertex& inside, double dInside, const ClipVertex& outside,
                     double dOutside) {
    const double t = dInside / (dInside - dOutside);
    ClipVertex v;
    v.x = Lerp(inside.x, outside.x, t);
    v.y = Lerp(inside.y, outside.y, t);
    v.z = Lerp(inside.z, outside.z, t);
    v.w = Lerp(inside.w, outside.w, t);
    v.color.r = Lerp(inside.color.r, outside.color.r, t);
    v.color.g = Lerp(inside.color.g, outside.color.g, t);
    v.color.b = Lerp(inside.color.b, outside.color.b, t);
    v.color.a = Lerp(inside.color.a, outside.color.a, t);
    switch (plane) {
        case Plane::Near:
            v.z = 0;
            break;
        case Plane::Far:
            v.z = v.w;
            break;
        case Plane::Left:
            v.x = -kGuardBand * v.w;
            break;
        case Plane::Right:
            v.x = kGuardBand * v.w;
            break;
        case Plane::Bottom:
            v.y = -kGuardBand * v.w;
            break;
        case Plane::Top:
            v.y = kGuardBand * v.w;
            break;
    }
    return v;
}

bool IsFinite(const ClipVertex& v) {
    return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z) && std::isfinite(v.w);
}

// One Sutherland-Hodgman pass against one plane.
void ClipAgainst(Plane plane, const ClippedPolygon& in, ClippedPolygon* out) {
    out->count = 0;
    for (int k = 0; k < in.count; ++k) {
        const int next = (k + 1) % in.count;
        const ClipVertex& current = in.vertices[k];
        const ClipVertex& following = in.vertices[next];
        const double dCurrent = Distance(current, plane);
        const double dFollowing = Distance(following, plane);
        const bool currentInside = dCurrent >= 0;
        const bool followingInside = dFollowing >= 0;
        if (currentInside && out->count < kMaxPolygonVertices) {
            // The edge from here keeps its kind, whether or not it is cut short.
            out->vertices[out->count] = current;
            out->edgeToNextIsOriginal[out->count] = in.edgeToNextIsOriginal[k];
            out->isOriginalVertex[out->count] = in.isOriginalVertex[k];
            ++out->count;
        }
        if (currentInside != followingInside && out->count < kMaxPolygonVertices) {
            out->vertices[out->count] = currentInside ? Intersect(plane, current, dCurrent, following, dFollowing)
                                                      : Intersect(plane, following, dFollowing, current, dCurrent);
            // Leaving the volume, the next edge runs along the plane; entering, it is the rest
            // of the triangle's edge.
            out->edgeToNextIsOriginal[out->count] = currentInside ? false : in.edgeToNextIsOriginal[k];
            out->isOriginalVertex[out->count] = false;
            ++out->count;
        }
    }
}

}  // namespace

bool ClipTriangle(const ClipVertex& a, const ClipVertex& b, const ClipVertex& c, ClippedPolygon* out) {
    if (!IsFinite(a) || !IsFinite(b) || !IsFinite(c)) {
        return false;  // NaN or infinite positions: the triangle is dropped
    }
    ClippedPolygon polygon;
    polygon.vertices = {a, b, c};
    polygon.edgeToNextIsOriginal = {true, true, true};
    polygon.isOriginalVertex = {true, true, true};
    polygon.count = 3;

    // Common case first: everything inside, nothing to cut.
    bool allInside = true;
    for (Plane plane : kPlanes) {
        allInside = allInside && Distance(a, plane) >= 0 && Distance(b, plane) >= 0 && Distance(c, plane) >= 0;
    }
    if (allInside) {
        *out = polygon;
        return true;
    }

    ClippedPolygon scratch;
    ClippedPolygon* current = &polygon;
    ClippedPolygon* next = &scratch;
    for (Plane plane : kPlanes) {
        ClipAgainst(plane, *current, next);
        if (next->count < 3) {
            return false;
        }
        std::swap(current, next);
    }
    *out = *current;
    return true;
}

}  // namespace standin::pipeline
