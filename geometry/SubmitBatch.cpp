// The one way geometry reaches the device: a fresh managed vertex buffer per batch, filled
// through a whole-buffer lock and drawn with a single DrawPrimitive.
#include <cstring>
#include <limits>

#include "geometry/Geometry.h"
#include "scene/SceneState.h"

void SubmitBatch(const ColorVertex* vertices, int vertexCount, D3DPRIMITIVETYPE primitiveType, int primitiveCount,
                 D3DCULL cullMode) {
    IDirect3DDevice9* device = sceneState.device;
    constexpr int kMaxVertices = static_cast<int>(std::numeric_limits<UINT>::max() / sizeof(ColorVertex));
    if (device == nullptr || vertices == nullptr || vertexCount <= 0 || vertexCount > kMaxVertices ||
        primitiveCount <= 0) {
        return;  // nothing that could be drawn
    }
    const UINT length = static_cast<UINT>(vertexCount) * static_cast<UINT>(sizeof(ColorVertex));

    // A buffer that cannot be created or locked skips the batch; nothing is dereferenced.
    IDirect3DVertexBuffer9* buffer = nullptr;
    if (FAILED(device->CreateVertexBuffer(length, 0, kColorVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr)) ||
        buffer == nullptr) {
        return;
    }
    void* data = nullptr;
    if (FAILED(buffer->Lock(0, 0, &data, 0)) || data == nullptr) {
        buffer->Release();
        return;
    }
    std::memcpy(data, vertices, length);
    buffer->Unlock();

    device->SetRenderState(D3DRS_CULLMODE, static_cast<DWORD>(cullMode));
    device->SetStreamSource(0, buffer, 0, sizeof(ColorVertex));
    device->DrawPrimitive(primitiveType, 0, static_cast<UINT>(primitiveCount));

    // The device keeps its own reference while the buffer is bound as stream source 0; it goes
    // when the next batch binds its buffer.
    buffer->Release();
}
