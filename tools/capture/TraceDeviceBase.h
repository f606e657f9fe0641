// The tracing device and vertex buffer, for the methods the viewer calls (the software device's
// whole interface). They stay abstract where the host's interface has more methods: on the
// software device TraceDeviceStandin.cpp only seals them; on the real Direct3D 9
// TraceDeviceWindows.cpp adds the rest of the interface, forwarded without a trace line.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>

#include "device/D3D9Api.h"

class TraceVertexBufferBase;

// What the device and its vertex buffers share: where lines go, the next buffer number, and
// which wrapper stands for which of the device's buffers.
struct TraceState {
    std::ostream* out = nullptr;
    IDirect3DDevice9* device = nullptr;  // the tracing device, not counted
    int nextBufferId = 1;
    std::map<IDirect3DVertexBuffer9*, TraceVertexBufferBase*> wrappers;  // by the wrapper's own address

    void Line(const std::string& text) const { *out << text << '\n'; }
};

class TraceVertexBufferBase : public IDirect3DVertexBuffer9 {
public:
    TraceVertexBufferBase(IDirect3DVertexBuffer9* inner, std::shared_ptr<TraceState> state, UINT length, DWORD fvf);

    const std::string& Id() const { return id_; }
    IDirect3DVertexBuffer9* Inner() const { return inner_; }

    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Lock(UINT offsetToLock, UINT sizeToLock, void** data, DWORD flags) override;
    // The vertices are written out as they stand when the buffer is unlocked, i.e. uploaded.
    HRESULT STDMETHODCALLTYPE Unlock() override;

protected:
    virtual ~TraceVertexBufferBase();

    IDirect3DVertexBuffer9* inner_;
    std::shared_ptr<TraceState> state_;

private:
    void WriteUploadedData();

    std::string id_;
    UINT length_;
    DWORD fvf_;
    ULONG references_ = 1;
    const std::uint8_t* locked_ = nullptr;
    UINT lockedOffset_ = 0;
    UINT lockedSize_ = 0;
};

class TraceDeviceBase : public IDirect3DDevice9 {
public:
    TraceDeviceBase(IDirect3DDevice9* inner, std::ostream& out);

    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                                    DWORD stencil) override;
    HRESULT STDMETHODCALLTYPE BeginScene() override;
    HRESULT STDMETHODCALLTYPE EndScene() override;
    HRESULT STDMETHODCALLTYPE Present(const RECT* sourceRect, const RECT* destRect, HWND destWindowOverride,
                                      const RGNDATA* dirtyRegion) override;
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override;
    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override;
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override;
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD fvf) override;
    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) override;
    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* viewport) override;
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** vertexBuffer, HANDLE* sharedHandle) override;
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT streamNumber, IDirect3DVertexBuffer9* streamData, UINT offsetInBytes,
                                              UINT stride) override;
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE primitiveType, UINT startVertex,
                                            UINT primitiveCount) override;

protected:
    virtual ~TraceDeviceBase();

    // The host's wrapper around a buffer the device has just made.
    virtual TraceVertexBufferBase* WrapBuffer(IDirect3DVertexBuffer9* inner, UINT length, DWORD fvf) = 0;

    IDirect3DDevice9* inner_;
    std::shared_ptr<TraceState> state_;

private:
    ULONG references_ = 1;
};
