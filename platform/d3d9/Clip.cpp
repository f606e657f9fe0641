// Clipping of triangles, line segments and points. Direct3D 9's clip volume is -w <= x <= w, -w <= y <= w, 0 <= z <= w
// ("Viewports and Clipping (Direct3D 9)"). Near (z >= 0) and far (z <= w) are clipped for real, so nothing is ever
// divided by the w of a vertex behind the eye and a triangle crossing the near plane is cut, never wrapped around. In x
// and y the pipeline behaves like hardware with a guard band: triangles are clipped only at |x|, |y| <= kGuardBand * w,
// far outside the viewport, and the rasterizer scissors to the viewport; the visible result is that of exact clipping,
// and the guard band bounds every screen coordinate so that the fixed-point edge functions cannot overflow.
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

ClipVertex Interpolate(const ClipVertex& a, const ClipVertex& b, double t) {
    ClipVertex v;
    v.x = Lerp(a.x, b.x, t);
    v.y = Lerp(a.y, b.y, t);
    v.z = Lerp(a.z, b.z, t);
    v.w = Lerp(a.w, b.w, t);
    v.color.r = Lerp(a.color.r, b.color.r, t);
    v.color.g = Lerp(a.color.g, b.color.g, t);
    v.color.b = Lerp(a.color.b, b.color.b, t);
    v.color.a = Lerp(a.color.a, b.color.a, t);
    return v;
}

// Sets the coordinate that `plane` fixes on a point computed to lie on it: with vertices far
// away the interpolation alone loses it to cancellation.
void SnapToPlane(ClipVertex* v, Plane plane) {
    switch (plane) {
        case Plane::Near:
            v->z = 0;
            break;
        case Plane::Far:
            v->z = v->w;
            break;
        case Plane::Left:
            v->x = -kGuardBand * v->w;
            break;
        case Plane::Right:
            v->x = kGuardBand * v->w;
            break;
        case Plane::Bottom:
            v->y = -kGuardBand * v->w;
            break;
        case Plane::Top:
            v->y = kGuardBand * v->w;
            break;
    }
}

// The point where the edge from `inside` to `outside` meets the plane. Always interpolating from
// the inside end makes an edge shared by two triangles produce the same point for both.
ClipVertex Intersect(Plane plane, const ClipVertex& inside, double dInside, const ClipVertex& outside,
                     double dOutside) {
    ClipVertex v = Interpolate(inside, outside, dInside / (dInside - dOutside));
    SnapToPlane(&v, plane);
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
    out->vertices[0] = a;
    out->vertices[1] = b;
    out->vertices[2] = c;
    out->edgeToNextIsOriginal[0] = out->edgeToNextIsOriginal[1] = out->edgeToNextIsOriginal[2] = true;
    out->isOriginalVertex[0] = out->isOriginalVertex[1] = out->isOriginalVertex[2] = true;
    out->count = 3;
    // Common case first: everything inside, nothing to cut.
    if (InsideAllPlanes(a) && InsideAllPlanes(b) && InsideAllPlanes(c)) {
        return true;
    }

    // The polygon is cut in place, in turns between `out` and a scratch polygon kept by the
    // thread (both hold 16 vertices: making one is not free). A plane that every vertex lies
    // inside would give the polygon back as it is, so it is passed over.
    thread_local ClippedPolygon scratch;
    ClippedPolygon* current = out;
    ClippedPolygon* next = &scratch;
    for (Plane plane : kPlanes) {
        bool allInside = true;
        for (int k = 0; k < current->count; ++k) {
            allInside = allInside && Distance(current->vertices[k], plane) >= 0;
        }
        if (allInside) {
            continue;
        }
        ClipAgainst(plane, *current, next);
        if (next->count < 3) {
            return false;
        }
        std::swap(current, next);
    }
    if (current != out) {
        out->count = current->count;
        for (int k = 0; k < current->count; ++k) {
            out->vertices[k] = current->vertices[k];
            out->edgeToNextIsOriginal[k] = current->edgeToNextIsOriginal[k];
            out->isOriginalVertex[k] = current->isOriginalVertex[k];
        }
    }
    return true;
}

bool ClipSegment(const ClipVertex& a, const ClipVertex& b, ClippedPolygon* out) {
    if (!IsFinite(a) || !IsFinite(b)) {
        return false;
    }
    // Parametric clipping: the part of a + t (b - a) with tEnter <= t <= tLeave is inside
    // every plane.
    double tEnter = 0;
    double tLeave = 1;
    Plane enterPlane = Plane::Near;
    Plane leavePlane = Plane::Near;
    for (Plane plane : kPlanes) {
        const double dA = Distance(a, plane);
        const double dB = Distance(b, plane);
        if (dA < 0 && dB < 0) {
            return false;
        }
        if (dA < 0 && dA / (dA - dB) > tEnter) {
            tEnter = dA / (dA - dB);
            enterPlane = plane;
        } else if (dB < 0 && dA / (dA - dB) < tLeave) {
            tLeave = dA / (dA - dB);
            leavePlane = plane;
        }
    }
    if (tEnter > tLeave) {
        return false;
    }
    out->count = 2;
    out->vertices[0] = a;
    out->vertices[1] = b;
    if (tEnter > 0) {
        out->vertices[0] = Interpolate(a, b, tEnter);
        SnapToPlane(&out->vertices[0], enterPlane);
    }
    if (tLeave < 1) {
        out->vertices[1] = Interpolate(a, b, tLeave);
        SnapToPlane(&out->vertices[1], leavePlane);
    }
    out->isOriginalVertex[0] = tEnter == 0;
    out->isOriginalVertex[1] = tLeave == 1;
    out->edgeToNextIsOriginal[0] = true;
    out->edgeToNextIsOriginal[1] = false;
    return true;
}

bool ClipPoint(const ClipVertex& a, ClippedPolygon* out) {
    if (!IsFinite(a)) {
        return false;
    }
    for (Plane plane : kPlanes) {
        if (Distance(a, plane) < 0) {
            return false;  // a point outside the clip volume is not drawn
        }
    }
    out->count = 1;
    out->vertices[0] = a;
    out->isOriginalVertex[0] = true;
    out->edgeToNextIsOriginal[0] = false;
    return true;
}

}  // namespace standin::pipeline
