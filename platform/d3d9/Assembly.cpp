// Primitive assembly: which vertices form line i of a list or strip (2i, 2i+1 or i, i+1) and
// triangle i of a list, strip or fan, in the order
// Direct3D 9 hands them to the rasterizer. The order decides both the winding that culling
// judges and the provoking vertex that flat shading takes its colour from (always the first of
// the three here):
//   list   triangle i = (3i, 3i+1, 3i+2)
//   strip  even i = (i, i+1, i+2); odd i = (i, i+2, i+1), swapped so that every triangle of a
//          strip keeps the winding of the first ("Triangle Strips (Direct3D 9)")
//   fan    triangle i = (i+1, i+2, 0): the centre comes last, so flat shading uses vertex i+1,
//          not the centre ("Triangle Fans", D3DSHADEMODE remarks)
#include "platform/d3d9/Pipeline.h"

namespace standin::pipeline {

bool IsTriangleType(D3DPRIMITIVETYPE type) {
    return type == D3DPT_TRIANGLELIST || type == D3DPT_TRIANGLESTRIP || type == D3DPT_TRIANGLEFAN;
}

std::uint64_t VerticesForPrimitives(D3DPRIMITIVETYPE type, std::uint64_t primitiveCount) {
    if (primitiveCount == 0) {
        return 0;
    }
    switch (type) {
        case D3DPT_POINTLIST:
            return primitiveCount;
        case D3DPT_LINELIST:
            return 2 * primitiveCount;
        case D3DPT_LINESTRIP:
            return primitiveCount + 1;
        case D3DPT_TRIANGLELIST:
            return 3 * primitiveCount;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN:
            return primitiveCount + 2;
        default:
            return 0;
    }
}

std::uint32_t PrimitivesThatFit(D3DPRIMITIVETYPE type, std::uint32_t primitiveCount, std::uint64_t availableVertices) {
    std::uint64_t fit = 0;
    switch (type) {
        case D3DPT_POINTLIST:
            fit = availableVertices;
            break;
        case D3DPT_LINELIST:
            fit = availableVertices / 2;
            break;
        case D3DPT_LINESTRIP:
            fit = availableVertices >= 1 ? availableVertices - 1 : 0;
            break;
        case D3DPT_TRIANGLELIST:
            fit = availableVertices / 3;
            break;
        case D3DPT_TRIANGLESTRIP:
        case D3DPT_TRIANGLEFAN:
            fit = availableVertices >= 2 ? availableVertices - 2 : 0;
            break;
        default:
            fit = 0;
            break;
    }
    return fit < primitiveCount ? static_cast<std::uint32_t>(fit) : primitiveCount;
}

bool IsLineType(D3DPRIMITIVETYPE type) {
    return type == D3DPT_LINELIST || type == D3DPT_LINESTRIP;
}

std::array<std::uint32_t, 2> AssembleLine(D3DPRIMITIVETYPE type, std::uint32_t line) {
    if (type == D3DPT_LINESTRIP) {
        return {line, line + 1};
    }
    return {2 * line, 2 * line + 1};
}

}  // namespace standin::pipeline
