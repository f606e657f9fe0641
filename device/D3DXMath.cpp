// D3DX-compatible matrix functions. Every step is single-precision float arithmetic in the order
// D3DX evaluates it (left to right), so that the results agree with a real D3DX: Multiply to the
// bit, the others to within a unit or two in the last place. The build disables contraction into
// fused multiply-adds, which would change the last bits.
#include "device/D3DXMath.h"

#include <cmath>

namespace {

// Single-precision sine and cosine: the double-precision result rounded once to float. D3DX
// uses its runtime's float functions, which agree with this to within one unit in the last place.
float SinF(float angle) {
    return static_cast<float>(std::sin(static_cast<double>(angle)));
}
float CosF(float angle) {
    return static_cast<float>(std::cos(static_cast<double>(angle)));
}
float TanF(float angle) {
    return static_cast<float>(std::tan(static_cast<double>(angle)));
}

D3DXVECTOR3 Subtract(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

D3DXVECTOR3 Cross(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float Dot(const D3DXVECTOR3& a, const D3DXVECTOR3& b) {
    return (a.x * b.x + a.y * b.y) + a.z * b.z;
}

// The sum of squares is formed in float and its square root correctly rounded; each component is
// divided by the length (not multiplied by a reciprocal). A zero vector stays zero.
D3DXVECTOR3 Normalize(const D3DXVECTOR3& v) {
    const float length = std::sqrt((v.x * v.x + v.y * v.y) + v.z * v.z);
    if (length == 0.0f) {
        return {0.0f, 0.0f, 0.0f};
    }
    return {v.x / length, v.y / length, v.z / length};
}

}  // namespace

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out) {
    for (auto& row : out->m) {
        for (float& value : row) {
            value = 0.0f;
        }
    }
    out->m[0][0] = out->m[1][1] = out->m[2][2] = out->m[3][3] = 1.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z) {
    D3DXMatrixIdentity(out);
    out->m[3][0] = x;
    out->m[3][1] = y;
    out->m[3][2] = z;
    return out;
}

// Positive angles turn clockwise when looking along the axis toward the origin (left-handed).
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle) {
    D3DXMatrixIdentity(out);
    out->m[1][1] = CosF(angle);
    out->m[2][2] = CosF(angle);
    out->m[1][2] = SinF(angle);
    out->m[2][1] = -SinF(angle);
    return out;
}

D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle) {
    D3DXMatrixIdentity(out);
    out->m[0][0] = CosF(angle);
    out->m[2][2] = CosF(angle);
    out->m[0][2] = -SinF(angle);
    out->m[2][0] = SinF(angle);
    return out;
}

D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle) {
    D3DXMatrixIdentity(out);
    out->m[0][0] = CosF(angle);
    out->m[1][1] = CosF(angle);
    out->m[0][1] = SinF(angle);
    out->m[1][0] = -SinF(angle);
    return out;
}

D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* first, const D3DXMATRIX* second) {
    D3DXMATRIX product;  // a temporary, so that out may alias either input
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            product.m[i][j] = ((first->m[i][0] * second->m[0][j] + first->m[i][1] * second->m[1][j]) +
                               first->m[i][2] * second->m[2][j]) +
                              first->m[i][3] * second->m[3][j];
        }
    }
    *out = product;
    return out;
}

// The side axis is the cross product of up and the viewing direction, and the up axis is built
// from that side axis before it is normalised; both are normalised afterwards. Mathematically the
// same as normalising first, but it decides the last bits.
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up) {
    const D3DXVECTOR3 zAxis = Normalize(Subtract(*at, *eye));
    D3DXVECTOR3 xAxis = Cross(*up, zAxis);
    D3DXVECTOR3 yAxis = Cross(zAxis, xAxis);
    xAxis = Normalize(xAxis);
    yAxis = Normalize(yAxis);

    out->m[0][0] = xAxis.x;
    out->m[1][0] = xAxis.y;
    out->m[2][0] = xAxis.z;
    out->m[3][0] = -Dot(xAxis, *eye);
    out->m[0][1] = yAxis.x;
    out->m[1][1] = yAxis.y;
    out->m[2][1] = yAxis.z;
    out->m[3][1] = -Dot(yAxis, *eye);
    out->m[0][2] = zAxis.x;
    out->m[1][2] = zAxis.y;
    out->m[2][2] = zAxis.z;
    out->m[3][2] = -Dot(zAxis, *eye);
    out->m[0][3] = 0.0f;
    out->m[1][3] = 0.0f;
    out->m[2][3] = 0.0f;
    out->m[3][3] = 1.0f;
    return out;
}

D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear, float zFar) {
    D3DXMatrixIdentity(out);
    const float tangent = TanF(fovY / 2.0f);
    out->m[0][0] = 1.0f / (aspect * tangent);
    out->m[1][1] = 1.0f / tangent;
    out->m[2][2] = zFar / (zFar - zNear);
    out->m[2][3] = 1.0f;
    out->m[3][2] = (zFar * zNear) / (zNear - zFar);
    out->m[3][3] = 0.0f;
    return out;
}
