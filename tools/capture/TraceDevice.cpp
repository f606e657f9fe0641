// The tracing device's methods that every host shares: the ones the viewer calls.
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tools/capture/TraceDeviceBase.h"

namespace {

// >>formatting
std::string Hex(std::uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08" PRIx32, value);
    return text;
}

std::string Result(HRESULT hr) {
    return " -> " + Hex(static_cast<std::uint32_t>(hr));
}

// Nine significant digits give back the same float when read again.
std::string Float(float value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return text;
}

std::string Matrix(const D3DMATRIX* matrix) {
    if (matrix == nullptr) {
        return "null";
    }
    std::string text;
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            text += (row || column) ? " " : "";
            text += Float(matrix->m[row][column]);
        }
    }
    return text;
}

std::string Rects(const D3DRECT* rects, DWORD count) {
    if (rects == nullptr) {
        return "null";
    }
    std::string text = "[";
    for (DWORD i = 0; i < count; ++i) {
        if (i > 0) {
            text += ';';
        }
        text += std::to_string(rects[i].x1) + "," + std::to_string(rects[i].y1) + "," + std::to_string(rects[i].x2) +
                "," + std::to_string(rects[i].y2);
    }
    return text + "]";
}

std::string Rect(const RECT* rect) {
    if (rect == nullptr) {
        return "null";
    }
    return "[" + std::to_string(rect->left) + "," + std::to_string(rect->top) + "," + std::to_string(rect->right) +
           "," + std::to_string(rect->bottom) + "]";
}

template <typename Pointer>
const char* NullOr(const Pointer* pointer, const char* otherwise) {
    return pointer == nullptr ? "null" : otherwise;
}

}  // namespace

// >>vertex buffer

TraceVertexBufferBase::TraceVertexBufferBase(IDirect3DVertexBuffer9* inner, std::shared_ptr<TraceState> state,
                                             UINT length, DWORD fvf)
    : inner_(inner),
      state_(std::move(state)),
      id_("vb" + std::to_string(state_->nextBufferId++)),
      length_(length),
      fvf_(fvf) {
    state_->wrappers[this] = this;
}

TraceVertexBufferBase::~TraceVertexBufferBase() {
    state_->wrappers.erase(this);
}

ULONG TraceVertexBufferBase::AddRef() {
    state_->Line(id_ + ".AddRef");
    return ++references_;
}

ULONG TraceVertexBufferBase::Release() {
    state_->Line(id_ + ".Release");
    const ULONG left = --references_;
    if (left == 0) {
        inner_->Release();
        delete this;
    }
    return left;
}

HRESULT TraceVertexBufferBase::Lock(UINT offsetToLock, UINT sizeToLock, void** data, DWORD flags) {
    const HRESULT hr = inner_->Lock(offsetToLock, sizeToLock, data, flags);
    if (SUCCEEDED(hr) && data != nullptr) {
        locked_ = static_cast<const std::uint8_t*>(*data);
        lockedOffset_ = offsetToLock;
        lockedSize_ = sizeToLock == 0 && offsetToLock <= length_ ? length_ - offsetToLock : sizeToLock;
    }
    state_->Line(id_ + ".Lock " + std::to_string(offsetToLock) + " " + std::to_string(sizeToLock) + " " + Hex(flags) +
                 Result(hr));
    return hr;
}

HRESULT TraceVertexBufferBase::Unlock() {
    if (locked_ != nullptr) {
        WriteUploadedData();
        locked_ = nullptr;
    }
    const HRESULT hr = inner_->Unlock();
    state_->Line(id_ + ".Unlock" + Result(hr));
    return hr;
}

// One "vertex" line per 16-byte D3DFVF_XYZ | D3DFVF_DIFFUSE record, numbered from the buffer's
// start; other formats as "bytes" lines of raw hex.
void TraceVertexBufferBase::WriteUploadedData() {
    constexpr UINT kStride = 16;
    if (fvf_ == (D3DFVF_XYZ | D3DFVF_DIFFUSE) && lockedOffset_ % kStride == 0) {
        for (UINT at = 0; at + kStride <= lockedSize_; at += kStride) {
            float position[3];
            std::uint32_t color;
            std::memcpy(position, locked_ + at, sizeof position);
            std::memcpy(&color, locked_ + at + 12, sizeof color);
            state_->Line("vertex " + id_ + " " + std::to_string((lockedOffset_ + at) / kStride) + " " +
                         Float(position[0]) + " " + Float(position[1]) + " " + Float(position[2]) + " " + Hex(color));
        }
        return;
    }
    static const char kDigits[] = "0123456789abcdef";
    for (UINT at = 0; at < lockedSize_; at += 32) {
        std::string text = "bytes " + id_ + " " + std::to_string(lockedOffset_ + at) + " ";
        for (UINT i = at; i < lockedSize_ && i < at + 32; ++i) {
            text += kDigits[locked_[i] >> 4];
            text += kDigits[locked_[i] & 0xF];
        }
        state_->Line(text);
    }
}

// >>device

TraceDeviceBase::TraceDeviceBase(IDirect3DDevice9* inner, std::ostream& out)
    : inner_(inner), state_(std::make_shared<TraceState>()) {
    state_->out = &out;
    state_->device = this;
}

TraceDeviceBase::~TraceDeviceBase() {
    state_->device = nullptr;
}

ULONG TraceDeviceBase::AddRef() {
    state_->Line("AddRef");
    return ++references_;
}

ULONG TraceDeviceBase::Release() {
    state_->Line("Release");
    const ULONG left = --references_;
    if (left == 0) {
        inner_->Release();
        delete this;
    }
    return left;
}

HRESULT TraceDeviceBase::Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z, DWORD stencil) {
    const HRESULT hr = inner_->Clear(count, rects, flags, color, z, stencil);
    state_->Line("Clear " + std::to_string(count) + " " + Rects(rects, count) + " " + Hex(flags) + " " + Hex(color) +
                 " " + Float(z) + " " + std::to_string(stencil) + Result(hr));
    return hr;
}

HRESULT TraceDeviceBase::BeginScene() {
    const HRESULT hr = inner_->BeginScene();
    state_->Line("BeginScene" + Result(hr));
    return hr;
}

HRESULT TraceDeviceBase::EndScene() {
    const HRESULT hr = inner_->EndScene();
    state_->Line("EndScene" + Result(hr));
    return hr;
}

HRESULT TraceDeviceBase::Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                 const RGNDATA* dirtyRegion) {
    const HRESULT hr = inner_->Present(sourceRect, destRect, destWindowOverride, dirtyRegion);
    state_->Line("Present " + Rect(sourceRect) + " " + Rect(destRect) + " " + NullOr(destWindowOverride, "window") +
                 " " + NullOr(dirtyRegion, "region") + Result(hr));
    return hr;
}

HRESULT TraceDeviceBase::SetRenderState(D3DRENDERSTATETYPE state, DWORD value) {
    const HRESULT hr = inner_->SetRenderState(state, value);
    state_->Line("SetRenderState " + std::to_string(static_cast<std::uint32_t>(state)) + " " + std::to_string(value) +
                 Result(hr));
    return hr;
}

HRESULT TraceDeviceBase::GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) {
    const HRESULT hr = inner_->GetRenderState(state, value);
    state_->Line("GetRenderState " + std::to_string(static_cast<std::uint32_t>(state)) + Result(hr) + " " +
                 (value ? std::to_string(*value) : "null"));
    return hr;
}

HRESULT TraceDeviceBase::SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) {
    const HRESULT hr = inner_->SetTransform(state, matrix);
    state_->Line("SetTransform " + std::to_string(static_cast<std::uint32_t>(state)) + " " + Matrix(matrix) +
                 Result(hr));
    return hr;
}

HRESULT TraceDeviceBase::GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) {
    const HRESULT hr = inner_->GetTransform(state, matrix);
    state_->Line("GetTransform " + std::to_string(static_cast<std::uint32_t>(state)) + Result(hr) + " " +
                 Matrix(SUCCEEDED(hr) ? matrix : nullptr));
    return hr;
}

HRESULT TraceDeviceBase::SetFVF(DWORD fvf) {
    const HRESULT hr = inner_->SetFVF(fvf);
    state_->Line("SetFVF " + Hex(fvf) + Result(hr));
    return hr;
}

HRESULT TraceDeviceBase::GetFVF(DWORD* fvf) {
    const HRESULT hr = inner_->GetFVF(fvf);
    state_->Line("GetFVF" + Result(hr) + " " + (fvf ? Hex(*fvf) : "null"));
    return hr;
}

HRESULT TraceDeviceBase::GetViewport(D3DVIEWPORT9* viewport) {
    const HRESULT hr = inner_->GetViewport(viewport);
    std::string text = "GetViewport" + Result(hr);
    if (viewport != nullptr && SUCCEEDED(hr)) {
        text += " " + std::to_string(viewport->X) + " " + std::to_string(viewport->Y) + " " +
                std::to_string(viewport->Width) + " " + std::to_string(viewport->Height) + " " + Float(viewport->MinZ) +
                " " + Float(viewport->MaxZ);
    }
    state_->Line(text);
    return hr;
}

HRESULT TraceDeviceBase::CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                            IDirect3DVertexBuffer9** vertexBuffer, HANDLE* sharedHandle) {
    IDirect3DVertexBuffer9* inner = nullptr;
    const HRESULT hr = inner_->CreateVertexBuffer(length, usage, fvf, pool, &inner, sharedHandle);
    std::string made = "null";
    if (SUCCEEDED(hr) && inner != nullptr) {
        TraceVertexBufferBase* wrapper = WrapBuffer(inner, length, fvf);
        made = wrapper->Id();
        inner = wrapper;
    }
    if (vertexBuffer != nullptr) {
        *vertexBuffer = inner;
    }
    state_->Line("CreateVertexBuffer " + std::to_string(length) + " " + Hex(usage) + " " + Hex(fvf) + " " +
                 std::to_string(static_cast<std::uint32_t>(pool)) + " " + NullOr(sharedHandle, "handle") + Result(hr) +
                 " " + made);
    return hr;
}

HRESULT TraceDeviceBase::SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9* streamData, UINT offsetInBytes,
                                         UINT stride) {
    // The device underneath is given its own buffer, never the wrapper.
    std::string name = "null";
    IDirect3DVertexBuffer9* inner = streamData;
    if (auto found = state_->wrappers.find(streamData); found != state_->wrappers.end()) {
        name = found->second->Id();
        inner = found->second->Inner();
    } else if (streamData != nullptr) {
        name = "untraced";  // a buffer this device did not make
    }
    const HRESULT hr = inner_->SetStreamSource(streamNumber, inner, offsetInBytes, stride);
    state_->Line("SetStreamSource " + std::to_string(streamNumber) + " " + name + " " + std::to_string(offsetInBytes) +
                 " " + std::to_string(stride) + Result(hr));
    return hr;
}

HRESULT TraceDeviceBase::DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex, UINT primitiveCount) {
    const HRESULT hr = inner_->DrawPrimitive(primitiveType, startVertex, primitiveCount);
    state_->Line("DrawPrimitive " + std::to_string(static_cast<std::uint32_t>(primitiveType)) + " " +
                 std::to_string(startVertex) + " " + std::to_string(primitiveCount) + Result(hr));
    return hr;
}
