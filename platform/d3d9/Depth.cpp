// Per-fragment operations for this fixed-function subset, in Direct3D 9's order: depth test
// (D3DRS_ZFUNC, LESSEQUAL by default, in 16 bits), depth write if D3DRS_ZWRITEENABLE, then the
// colour write under D3DRS_COLORWRITEENABLE. Blending, alpha test, fog, dithering and stencil
// are off by default and not implemented.
#include <cmath>

#include "platform/d3d9/Pipeline.h"

namespace standin::pipeline {

namespace {

bool Compare(DWORD function, std::uint16_t incoming, std::uint16_t stored) {
    switch (function) {
        case D3DCMP_NEVER:
            return false;
        case D3DCMP_LESS:
            return incoming < stored;
        case D3DCMP_EQUAL:
            return incoming == stored;
        case D3DCMP_LESSEQUAL:
            return incoming <= stored;
        case D3DCMP_GREATER:
            return incoming > stored;
        case D3DCMP_NOTEQUAL:
            return incoming != stored;
        case D3DCMP_GREATEREQUAL:
            return incoming >= stored;
        default:
            return true;  // D3DCMP_ALWAYS
    }
}

}  // namespace

std::uint16_t QuantizeDepth(double z) {
    // D16 is a 16-bit UNORM: 0.0 nearest, 1.0 (0xFFFF) farthest; rounded to nearest.
    if (!(z > 0)) {
        return 0;
    }
    if (z >= 1) {
        return 0xFFFF;
    }
    return static_cast<std::uint16_t>(std::floor(z * 65535 + 0.5));
}

void WriteFragment(RenderTarget& target, const RasterState& state, int x, int y, double z, std::uint32_t color) {
    const std::size_t index =
        static_cast<std::size_t>(y) * static_cast<std::size_t>(target.width) + static_cast<std::size_t>(x);
    if (state.depthTest && target.depth != nullptr) {
        const std::uint16_t depth = QuantizeDepth(z);
        if (!Compare(state.depthFunc, depth, target.depth[index])) {
            return;
        }
        if (state.depthWrite) {
            target.depth[index] = depth;
        }
    }
    if (state.colorWriteMask == 0xF) {
        target.color[index] = color;
        return;
    }
    // D3DCOLORWRITEENABLE_RED 1, GREEN 2, BLUE 4, ALPHA 8.
    std::uint32_t mask = 0;
    mask |= (state.colorWriteMask & 1u) ? 0x00FF0000u : 0;
    mask |= (state.colorWriteMask & 2u) ? 0x0000FF00u : 0;
    mask |= (state.colorWriteMask & 4u) ? 0x000000FFu : 0;
    mask |= (state.colorWriteMask & 8u) ? 0xFF000000u : 0;
    target.color[index] = (target.color[index] & ~mask) | (color & mask);
}

}  // namespace standin::pipeline
