// The coloured vertex record, the one way geometry reaches the device, and the three shape
// builders. Each builder fills its own staging arrays in the piece's local space and draws at
// once, under the world matrix the caller has set.
#pragma once

#include <cstdint>

#include "device/D3D9Api.h"

// 16 bytes, laid out as the vertex format D3DFVF_XYZ | D3DFVF_DIFFUSE expects.
struct ColorVertex {
    float x;
    float y;
    float z;
    D3DCOLOR color;
};
static_assert(sizeof(ColorVertex) == 16, "ColorVertex must match the 16-byte vertex format");

inline constexpr DWORD kColorVertexFvf = D3DFVF_XYZ | D3DFVF_DIFFUSE;

// Copies the vertices into a fresh managed vertex buffer and draws them with one DrawPrimitive
// under the given cull mode, then lets the buffer go.
void SubmitBatch(const ColorVertex* vertices, int vertexCount, D3DPRIMITIVETYPE primitiveType, int primitiveCount,
                 D3DCULL cullMode);

// A closed cone standing on the local x-z plane, apex at (0, height, 0).
void DrawCone(float radius, float height, std::int32_t slices, D3DCOLOR colorA, D3DCOLOR colorB);
// A closed cylinder around the local +y axis from y = 0 to y = height.
void DrawCylinder(float radius, float height, std::int32_t slices, D3DCOLOR colorA, D3DCOLOR colorB);
// The +y half of a sphere whose poles lie on the local z axis, in a checkerboard; open at y = 0.
void DrawHalfSphere(float radius, std::int32_t slices, std::int32_t stacks, D3DCOLOR colorA, D3DCOLOR colorB);
