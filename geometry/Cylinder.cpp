// A closed, striped cylinder around the local +y axis, from y = 0 to y = height.
#include <vector>

#include "geometry/Geometry.h"
#include "geometry/Rings.h"

void DrawCylinder(float radius, float height, std::int32_t slices, D3DCOLOR colorA, D3DCOLOR colorB) {
    if (!rings::SlicesAreDrawable(slices)) {
        return;
    }
    const int sideCount = 2 * slices + 2;
    const int discCount = slices + 2;
    std::vector<ColorVertex> vertices(static_cast<std::size_t>(sideCount));

    // Side: for each ring position j a bottom and a top vertex; columns alternate colours,
    // colorB first.
    rings::SingleStepWalk theta(slices);
    for (int j = 0; j <= slices; ++j) {
        const rings::Direction d = rings::DirectionOf(theta.angle());
        const float x = radius * d.cos;
        const float z = radius * d.sin;
        const D3DCOLOR color = j % 2 == 0 ? colorB : colorA;
        vertices[static_cast<std::size_t>(2 * j)] = {x, 0.0f, z, color};
        vertices[static_cast<std::size_t>(2 * j + 1)] = {x, height, z, color};
        theta.Advance();
    }
    SubmitBatch(vertices.data(), sideCount, D3DPT_TRIANGLESTRIP, 2 * slices, D3DCULL_CCW);

    // The two discs run round the ring the same way; opposite cull modes make each face outward.
    vertices[0] = {0.0f, 0.0f, 0.0f, colorB};
    rings::FillFanRing(vertices.data(), radius, 0.0f, slices, colorA, colorB);
    SubmitBatch(vertices.data(), discCount, D3DPT_TRIANGLEFAN, slices, D3DCULL_CCW);
    vertices[0] = {0.0f, height, 0.0f, colorB};
    rings::FillFanRing(vertices.data(), radius, height, slices, colorA, colorB);
    SubmitBatch(vertices.data(), discCount, D3DPT_TRIANGLEFAN, slices, D3DCULL_CW);
}
