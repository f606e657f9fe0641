// Our own implementation of the D3DX 9 matrix functions the viewer uses, with D3DX's names,
// conventions and arithmetic: single precision, row vectors (v' = v * M, so in A * B the
// transform A acts first), left-handed coordinates, translation in row 4. It needs no D3DX
// library on any host. Every operation is done in float in D3DX's order, so results match a
// real D3DX to the last bit for Multiply and to within a few units in the last place elsewhere.
#pragma once

#include "device/D3D9Api.h"

struct D3DXVECTOR3 {
    float x;
    float y;
    float z;
};

// D3DX's matrix is the runtime's D3DMATRIX, so it can be passed to SetTransform as it is.
struct D3DXMATRIX : D3DMATRIX {};

D3DXMATRIX* D3DXMatrixIdentity(D3DXMATRIX* out);
D3DXMATRIX* D3DXMatrixTranslation(D3DXMATRIX* out, float x, float y, float z);
D3DXMATRIX* D3DXMatrixRotationX(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationY(D3DXMATRIX* out, float angle);
D3DXMATRIX* D3DXMatrixRotationZ(D3DXMATRIX* out, float angle);
// out = first * second; out may be the same matrix as either input.
D3DXMATRIX* D3DXMatrixMultiply(D3DXMATRIX* out, const D3DXMATRIX* first, const D3DXMATRIX* second);
D3DXMATRIX* D3DXMatrixLookAtLH(D3DXMATRIX* out, const D3DXVECTOR3* eye, const D3DXVECTOR3* at, const D3DXVECTOR3* up);
D3DXMATRIX* D3DXMatrixPerspectiveFovLH(D3DXMATRIX* out, float fovY, float aspect, float zNear, float zFar);
