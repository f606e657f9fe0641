// Vertex fetch and the fixed-function transform. Direct3D multiplies row vectors: a position v
// becomes v * World * View * Projection, translation sits in row 4 (_41, _42, _43). The
// product is formed as (v * (World * View)) * Projection, the world-view matrix being built in
// single precision first, as fixed-function pipelines do; every product and sum is a float
// operation in that order (the build forbids fused multiply-adds).
#include <array>
#include <cstring>

#include "platform/d3d9/Pipeline.h"

namespace standin::pipeline {

namespace {

// Bytes of texture coordinate set `set`: the two FVF bits at 16 + 2 * set give 2, 3, 4 or 1 floats.
std::uint32_t TexCoordBytes(DWORD fvf, int set) {
    switch ((fvf >> (16 + 2 * set)) & 3u) {
        case 0:
            return 8;
        case 1:
            return 12;
        case 2:
            return 16;
        default:
            return 4;
    }
}

D3DMATRIX Multiply(const D3DMATRIX& a, const D3DMATRIX& b) {
    D3DMATRIX out{};
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            out.m[i][j] =
                ((a.m[i][0] * b.m[0][j] + a.m[i][1] * b.m[1][j]) + a.m[i][2] * b.m[2][j]) + a.m[i][3] * b.m[3][j];
        }
    }
    return out;
}

// byte / 255 for every byte, divided once.
struct ByteToUnit {
    std::array<double, 256> value{};
    ByteToUnit() {
        for (std::size_t b = 0; b < value.size(); ++b) {
            value[b] = static_cast<double>(b) / 255.0;
        }
    }
};
const ByteToUnit kByteToUnit;

// D3DCOLOR is 0xAARRGGBB; each channel becomes byte / 255.
Color DecodeColor(D3DCOLOR c) {
    const auto& unit = kByteToUnit.value;
    return {unit[(c >> 16) & 0xFF], unit[(c >> 8) & 0xFF], unit[c & 0xFF], unit[(c >> 24) & 0xFF]};
}

}  // namespace

bool DescribeFvf(DWORD fvf, VertexLayout* layout) {
    if ((fvf & D3DFVF_POSITION_MASK) != D3DFVF_XYZ) {
        return false;
    }
    std::uint32_t offset = 12;  // x, y, z
    if (fvf & D3DFVF_NORMAL) {
        offset += 12;
    }
    if (fvf & D3DFVF_PSIZE) {
        offset += 4;
    }
    layout->diffuseOffset = -1;
    if (fvf & D3DFVF_DIFFUSE) {
        layout->diffuseOffset = static_cast<std::int32_t>(offset);
        offset += 4;
    }
    if (fvf & D3DFVF_SPECULAR) {
        offset += 4;
    }
    const int texCoordSets = static_cast<int>((fvf & D3DFVF_TEXCOUNT_MASK) >> D3DFVF_TEXCOUNT_SHIFT);
    if (texCoordSets > 8) {
        return false;
    }
    for (int set = 0; set < texCoordSets; ++set) {
        offset += TexCoordBytes(fvf, set);
    }
    layout->stride = offset;
    return true;
}

void TransformVertices(const std::uint8_t* data, std::uint32_t count, const VertexLayout& layout,
                       const D3DMATRIX& world, const D3DMATRIX& view, const D3DMATRIX& projection, bool lighting,
                       std::vector<ClipVertex>* out) {
    const D3DMATRIX worldView = Multiply(world, view);
    const D3DMATRIX& p = projection;
    if (out->size() < count) {
        out->resize(count);  // never shrunk, so that a draw larger than the last writes nothing twice
    }
    for (std::uint32_t n = 0; n < count; ++n) {
        const std::uint8_t* vertex = data + static_cast<std::size_t>(n) * layout.stride;
        float position[3];
        std::memcpy(position, vertex, sizeof position);
        // Without a diffuse component the vertex colour defaults to opaque white.
        D3DCOLOR diffuse = 0xFFFFFFFFu;
        if (layout.diffuseOffset >= 0) {
            std::memcpy(&diffuse, vertex + layout.diffuseOffset, sizeof diffuse);
        }

        const float x = position[0], y = position[1], z = position[2];
        float eye[4];
        for (int j = 0; j < 4; ++j) {
            eye[j] = ((x * worldView.m[0][j] + y * worldView.m[1][j]) + z * worldView.m[2][j]) + worldView.m[3][j];
        }
        float clip[4];
        for (int j = 0; j < 4; ++j) {
            clip[j] = ((eye[0] * p.m[0][j] + eye[1] * p.m[1][j]) + eye[2] * p.m[2][j]) + eye[3] * p.m[3][j];
        }

        ClipVertex& v = (*out)[n];
        v.x = clip[0];
        v.y = clip[1];
        v.z = clip[2];
        v.w = clip[3];
        v.color = DecodeColor(diffuse);
        // Each channel byte / 255 packs back to the byte: (b / 255) * 255 + 0.5 lies within a
        // rounding of b + 0.5.
        v.packedColor = 0xFF000000u | diffuse;
        if (lighting) {
            // D3DRS_LIGHTING TRUE (the default): no light is enabled, the ambient state and the
            // default material are zero, so red, green and blue come out 0. Alpha follows the
            // vertex (D3DRS_DIFFUSEMATERIALSOURCE = D3DMCS_COLOR1).
            v.color.r = v.color.g = v.color.b = 0;
            v.packedColor = 0xFF000000u;
        }
    }
}

}  // namespace standin::pipeline
