#include "tools/capture/TraceDevice.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

// What the device and its vertex buffers share: where lines go, and the next buffer number.
struct TraceState {
    std::ostream* out;
    int nextBufferId = 1;
};

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
        text += (i ? ";" : "") + std::to_string(rects[i].x1) + "," + std::to_string(rects[i].y1) + "," +
                std::to_string(rects[i].x2) + "," + std::to_string(rects[i].y2);
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

// >>vertex buffer
class TraceVertexBuffer final : public IDirect3DVertexBuffer9 {
public:
    TraceVertexBuffer(IDirect3DVertexBuffer9* inner, std::shared_ptr<TraceState> state, UINT length, DWORD fvf)
        : inner_(inner),
          state_(std::move(state)),
          id_("vb" + std::to_string(state_->nextBufferId++)),
          length_(length),
          fvf_(fvf) {}

    const std::string& Id() const { return id_; }
    IDirect3DVertexBuffer9* Inner() const { return inner_; }

    ULONG STDMETHODCALLTYPE AddRef() override {
        Line(id_ + ".AddRef");
        return ++references_;
    }

    ULONG STDMETHODCALLTYPE Release() override {
        Line(id_ + ".Release");
        const ULONG left = --references_;
        if (left == 0) {
            inner_->Release();
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE Lock(UINT offsetToLock, UINT sizeToLock, void** data, DWORD flags) override {
        const HRESULT hr = inner_->Lock(offsetToLock, sizeToLock, data, flags);
        if (SUCCEEDED(hr) && data != nullptr) {
            locked_ = static_cast<const std::uint8_t*>(*data);
            lockedOffset_ = offsetToLock;
            lockedSize_ = sizeToLock == 0 && offsetToLock <= length_ ? length_ - offsetToLock : sizeToLock;
        }
        Line(id_ + ".Lock " + std::to_string(offsetToLock) + " " + std::to_string(sizeToLock) + " " + Hex(flags) +
             Result(hr));
        return hr;
    }

    // The vertices are written out as they stand when the buffer is unlocked, i.e. uploaded.
    HRESULT STDMETHODCALLTYPE Unlock() override {
        if (locked_ != nullptr) {
            WriteUploadedData();
            locked_ = nullptr;
        }
        const HRESULT hr = inner_->Unlock();
        Line(id_ + ".Unlock" + Result(hr));
        return hr;
    }

private:
    ~TraceVertexBuffer() override = default;

    void Line(const std::string& text) { *state_->out << text << '\n'; }

    // One "vertex" line per 16-byte D3DFVF_XYZ | D3DFVF_DIFFUSE record, numbered from the
    // buffer's start; other formats as "bytes" lines of raw hex.
    void WriteUploadedData() {
        constexpr UINT kStride = 16;
        if (fvf_ == (D3DFVF_XYZ | D3DFVF_DIFFUSE) && lockedOffset_ % kStride == 0) {
            for (UINT at = 0; at + kStride <= lockedSize_; at += kStride) {
                float position[3];
                std::uint32_t color;
                std::memcpy(position, locked_ + at, sizeof position);
                std::memcpy(&color, locked_ + at + 12, sizeof color);
                Line("vertex " + id_ + " " + std::to_string((lockedOffset_ + at) / kStride) + " " + Float(position[0]) +
                     " " + Float(position[1]) + " " + Float(position[2]) + " " + Hex(color));
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
            Line(text);
        }
    }

    IDirect3DVertexBuffer9* inner_;
    std::shared_ptr<TraceState> state_;
    std::string id_;
    UINT length_;
    DWORD fvf_;
    ULONG references_ = 1;
    const std::uint8_t* locked_ = nullptr;
    UINT lockedOffset_ = 0;
    UINT lockedSize_ = 0;
};

// >>device
class TraceDevice final : public IDirect3DDevice9 {
public:
    TraceDevice(IDirect3DDevice9* inner, std::ostream& out)
        : inner_(inner), state_(std::make_shared<TraceState>(TraceState{&out})) {}

    ULONG STDMETHODCALLTYPE AddRef() override {
        Line("AddRef");
        return ++references_;
    }

    ULONG STDMETHODCALLTYPE Release() override {
        Line("Release");
        const ULONG left = --references_;
        if (left == 0) {
            inner_->Release();
            delete this;
        }
        return left;
    }

    HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                                    DWORD stencil) override {
        const HRESULT hr = inner_->Clear(count, rects, flags, color, z, stencil);
        Line("Clear " + std::to_string(count) + " " + Rects(rects, count) + " " + Hex(flags) + " " + Hex(color) + " " +
             Float(z) + " " + std::to_string(stencil) + Result(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE BeginScene() override {
        const HRESULT hr = inner_->BeginScene();
        Line("BeginScene" + Result(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE EndScene() override {
        const HRESULT hr = inner_->EndScene();
        Line("EndScene" + Result(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                      const RGNDATA* dirtyRegion) override {
        const HRESULT hr = inner_->Present(sourceRect, destRect, destWindowOverride, dirtyRegion);
        Line("Present " + Rect(sourceRect) + " " + Rect(destRect) + " " + NullOr(destWindowOverride, "window") + " " +
             NullOr(dirtyRegion, "region") + Result(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        const HRESULT hr = inner_->SetRenderState(state, value);
        Line("SetRenderState " + std::to_string(static_cast<std::uint32_t>(state)) + " " + std::to_string(value) +
             Result(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
        const HRESULT hr = inner_->GetRenderState(state, value);
        Line("GetRenderState " + std::to_string(static_cast<std::uint32_t>(state)) + Result(hr) + " " +
             (value ? std::to_string(*value) : "null"));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override {
        const HRESULT hr = inner_->SetTransform(state, matrix);
        Line("SetTransform " + std::to_string(static_cast<std::uint32_t>(state)) + " " + Matrix(matrix) + Result(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override {
        const HRESULT hr = inner_->GetTransform(state, matrix);
        Line("GetTransform " + std::to_string(static_cast<std::uint32_t>(state)) + Result(hr) + " " +
             Matrix(SUCCEEDED(hr) ? matrix : nullptr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE SetFVF(DWORD fvf) override {
        const HRESULT hr = inner_->SetFVF(fvf);
        Line("SetFVF " + Hex(fvf) + Result(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) override {
        const HRESULT hr = inner_->GetFVF(fvf);
        Line("GetFVF" + Result(hr) + " " + (fvf ? Hex(*fvf) : "null"));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* viewport) override {
        const HRESULT hr = inner_->GetViewport(viewport);
        std::string text = "GetViewport" + Result(hr);
        if (viewport != nullptr && SUCCEEDED(hr)) {
            text += " " + std::to_string(viewport->X) + " " + std::to_string(viewport->Y) + " " +
                    std::to_string(viewport->Width) + " " + std::to_string(viewport->Height) + " " +
                    Float(viewport->MinZ) + " " + Float(viewport->MaxZ);
        }
        Line(text);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** vertexBuffer, HANDLE* sharedHandle) override {
        IDirect3DVertexBuffer9* inner = nullptr;
        const HRESULT hr = inner_->CreateVertexBuffer(length, usage, fvf, pool, &inner, sharedHandle);
        std::string made = "null";
        if (SUCCEEDED(hr) && inner != nullptr) {
            auto* wrapper = new TraceVertexBuffer(inner, state_, length, fvf);
            made = wrapper->Id();
            inner = wrapper;
        }
        if (vertexBuffer != nullptr) {
            *vertexBuffer = inner;
        }
        Line("CreateVertexBuffer " + std::to_string(length) + " " + Hex(usage) + " " + Hex(fvf) + " " +
             std::to_string(static_cast<std::uint32_t>(pool)) + " " + NullOr(sharedHandle, "handle") + Result(hr) +
             " " + made);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9* streamData, UINT offsetInBytes,
                                              UINT stride) override {
        std::string name = "null";
        IDirect3DVertexBuffer9* inner = streamData;
        if (auto* wrapper = dynamic_cast<TraceVertexBuffer*>(streamData)) {
            name = wrapper->Id();
            inner = wrapper->Inner();
        } else if (streamData != nullptr) {
            name = "untraced";  // a buffer this device did not create
        }
        const HRESULT hr = inner_->SetStreamSource(streamNumber, inner, offsetInBytes, stride);
        Line("SetStreamSource " + std::to_string(streamNumber) + " " + name + " " + std::to_string(offsetInBytes) +
             " " + std::to_string(stride) + Result(hr));
        return hr;
    }

    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex,
                                            UINT primitiveCount) override {
        const HRESULT hr = inner_->DrawPrimitive(primitiveType, startVertex, primitiveCount);
        Line("DrawPrimitive " + std::to_string(static_cast<std::uint32_t>(primitiveType)) + " " +
             std::to_string(startVertex) + " " + std::to_string(primitiveCount) + Result(hr));
        return hr;
    }

private:
    ~TraceDevice() override = default;

    void Line(const std::string& text) { *state_->out << text << '\n'; }

    IDirect3DDevice9* inner_;
    std::shared_ptr<TraceState> state_;
    ULONG references_ = 1;
};

}  // namespace

IDirect3DDevice9* CreateTraceDevice(IDirect3DDevice9* device, std::ostream& out) {
    return new TraceDevice(device, out);
}
