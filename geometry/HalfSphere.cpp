// The +y half of a latitude-longitude sphere whose poles lie on the local z axis, drawn as two
// half caps and latitude bands in a checkerboard of two colours; the flat cut at y = 0 stays open.
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

#include "geometry/Geometry.h"
#include "geometry/Rings.h"

namespace {

constexpr double kHalfPi = std::numbers::pi / 2.0;

// A ring at one latitude: its radius r cos(phi) and height r sin(phi), single-precision products
// formed once, then for each vertex (cos(theta) c, sin(theta) c, s).
struct Latitude {
    float c;
    float s;
};

Latitude LatitudeOf(float radius, float phi) {
    const rings::Direction d = rings::DirectionOf(phi);
    return {radius * d.cos, radius * d.sin};
}

ColorVertex PointOn(const Latitude& ring, float theta, D3DCOLOR color) {
    const rings::Direction d = rings::DirectionOf(theta);
    return {d.cos * ring.c, d.sin * ring.c, ring.s, color};
}

}  // namespace

void DrawHalfSphere(float radius, std::int32_t slices, std::int32_t stacks, D3DCOLOR colorA, D3DCOLOR colorB) {
    // Without a slice or a stack there is nothing to draw. Stack counts are held to the same range
    // as slices: below one the latitude would walk away from the pole it must reach, and with
    // millions of stacks a single-precision step would vanish against phi and never reach it.
    if (!rings::SlicesAreDrawable(slices) || !rings::SlicesAreDrawable(stacks)) {
        return;
    }
    const float deltaPhi = static_cast<float>(std::numbers::pi / static_cast<double>(stacks));
    const int half = slices / 2;
    const int capCount = slices + 2;
    const int bandCount = 2 * half + 2;
    // A band's strip holds 2 * half + 2 vertices, enough for 2 * half triangles: slices of them
    // when slices is even. An odd count draws one triangle less rather than read past the strip.
    const int bandTriangles = 2 * half;

    std::vector<ColorVertex> cap(static_cast<std::size_t>(capCount));
    std::vector<ColorVertex> band(static_cast<std::size_t>(2 * slices + 2));

    // Upper cap: a fan around the pole at +z over the ring at phi1 = pi/2 - dphi. The whole ring
    // is uploaded; only the half turn from theta = 0 to pi is drawn.
    const Latitude upper = LatitudeOf(radius, static_cast<float>(kHalfPi - static_cast<double>(deltaPhi)));
    cap[0] = {0.0f, 0.0f, radius, colorA};
    rings::DoubleStepWalk theta(slices);
    for (int i = 1; i <= slices + 1; ++i) {
        cap[static_cast<std::size_t>(i)] = PointOn(upper, theta.angle(), i % 2 == 0 ? colorA : colorB);
        theta.Advance();
    }
    SubmitBatch(cap.data(), capCount, D3DPT_TRIANGLEFAN, half, D3DCULL_CW);

    // Lower cap: a fan around the pole at -z over the ring at phi2 = dphi - pi/2, written
    // backwards: the k-th vertex walked (theta stepping down from 0) goes to index slices + 1 - k,
    // so index i holds the upper cap's angle for i taken one full turn lower.
    const Latitude lower = LatitudeOf(radius, static_cast<float>(static_cast<double>(deltaPhi) - kHalfPi));
    cap[0] = {0.0f, 0.0f, -radius, colorA};
    rings::DoubleStepWalk backwards(slices);
    for (int k = 0; k <= slices; ++k) {
        const int i = slices + 1 - k;
        cap[static_cast<std::size_t>(i)] = PointOn(lower, backwards.angle(), i % 2 == 0 ? colorA : colorB);
        backwards.AdvanceBackwards();
    }
    SubmitBatch(cap.data(), capCount, D3DPT_TRIANGLEFAN, half, D3DCULL_CW);

    // Bands, from the one below the upper cap downward while phi lies above -pi/2. phi walks down
    // in single precision, so for some stack counts it stops a hair above -pi/2 and one more band
    // is drawn over the lower cap's zone.
    float phi = static_cast<float>(kHalfPi - 2.0 * static_cast<double>(deltaPhi));
    while (static_cast<double>(phi) > -kHalfPi) {
        const Latitude lowerEdge = LatitudeOf(radius, phi);
        const Latitude upperEdge = LatitudeOf(radius, phi + deltaPhi);
        rings::DoubleStepWalk bandTheta(slices);
        for (int j = 0; j <= half; ++j) {
            const D3DCOLOR color = j % 2 == 0 ? colorB : colorA;
            band[static_cast<std::size_t>(2 * j)] = PointOn(upperEdge, bandTheta.angle(), color);
            band[static_cast<std::size_t>(2 * j + 1)] = PointOn(lowerEdge, bandTheta.angle(), color);
            bandTheta.Advance();
        }
        SubmitBatch(band.data(), bandCount, D3DPT_TRIANGLESTRIP, bandTriangles, D3DCULL_NONE);
        std::swap(colorA, colorB);  // the next band starts with the other colour
        phi = phi - deltaPhi;
    }
}
