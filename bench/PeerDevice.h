// The peer in the benchmarks: Mesa's llvmpipe through OSMesa, driven through the same
// IDirect3DDevice9 calls the viewer makes, so that the scene code draws the same batches,
// vertices and states on both. Each call becomes what a user of legacy fixed-function OpenGL
// would write: client arrays for every batch, flat or smooth shading with the first vertex
// providing the flat colour, culling as each batch asks, depth LEQUAL, glFinish at Present.
#pragma once

#include <cstdint>
#include <vector>

#include "device/D3D9Api.h"

// A device drawing into its own width x height BGRA buffer (rows top to bottom, as the software
// device's) with a 16-bit depth buffer; null if OSMesa cannot make the context.
IDirect3DDevice9* CreatePeerDevice(int width, int height);
// The colour buffer of a device made by CreatePeerDevice.
const std::vector<std::uint32_t>& PeerPixels(IDirect3DDevice9* device);
