// A closed, striped cone standing on the local x-z plane with its apex on the +y axis.
#include <vector>

#include "geometry/Geometry.h"
#include "geometry/Rings.h"

void DrawCone(float radius, float height, std::int32_t slices, D3DCOLOR colorA, D3DCOLOR colorB) {
    if (!rings::SlicesAreDrawable(slices)) {
        return;
    }
    const int vertexCount = slices + 2;
    std::vector<ColorVertex> vertices(static_cast<std::size_t>(vertexCount));

    // The ring lies in the plane y = 0; both fans share it.
    rings::FillFanRing(vertices.data(), radius, 0.0f, slices, colorA, colorB);

    // Lateral surface: a fan around the apex. Both fans run round the ring the same way, so the
    // opposite cull modes keep the outside of each.
    vertices[0] = {0.0f, height, 0.0f, colorB};
    SubmitBatch(vertices.data(), vertexCount, D3DPT_TRIANGLEFAN, slices, D3DCULL_CW);

    // Base disc: the same ring around the centre of the base.
    vertices[0] = {0.0f, 0.0f, 0.0f, colorB};
    SubmitBatch(vertices.data(), vertexCount, D3DPT_TRIANGLEFAN, slices, D3DCULL_CCW);
}
