// IDirect3DDevice9 over OSMesa (see PeerDevice.h). Direct3D's conventions are mapped onto
// OpenGL's: the matrices are row-vector matrices that glLoadMatrixf takes as they are (its
// column-major order transposes them); the projection is followed by z' = 2z - w (Direct3D's
// clip depth runs 0..w, OpenGL's -w..w) and half a pixel's shift right and down (Direct3D 9's
// pixel centres lie on integers, OpenGL's on halves); clockwise on the screen, Direct3D's front
// face, is counter-clockwise in OpenGL's y-up window.
#include "bench/PeerDevice.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <GL/osmesa.h>

#include <array>
#include <cstring>

#include "device/D3DXMath.h"

namespace {

class PeerBuffer final : public IDirect3DVertexBuffer9 {
public:
    explicit PeerBuffer(UINT length) : bytes_(length) {}
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT, void** data, DWORD) override {
        *data = bytes_.data() + offset;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock() override { return D3D_OK; }
    const std::uint8_t* Data() const { return bytes_.data(); }

private:
    std::vector<std::uint8_t> bytes_;
    ULONG references_ = 1;
};

class PeerDevice final : public IDirect3DDevice9 {
public:
    PeerDevice(int width, int height) : width_(width), height_(height) {
        pixels_.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        context_ = OSMesaCreateContextExt(OSMESA_BGRA, 16, 0, 0, nullptr);
        if (context_ == nullptr || !OSMesaMakeCurrent(context_, pixels_.data(), GL_UNSIGNED_BYTE, width_, height_)) {
            return;
        }
        OSMesaPixelStore(OSMESA_Y_UP, 0);  // row 0 at the top, as Direct3D's
        glViewport(0, 0, width_, height_);
        glDepthFunc(GL_LEQUAL);
        glFrontFace(GL_CCW);
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        // Direct3D 9 flat shading takes the first vertex's colour.
        auto provokingVertex = reinterpret_cast<PFNGLPROVOKINGVERTEXPROC>(OSMesaGetProcAddress("glProvokingVertex"));
        if (provokingVertex != nullptr) {
            provokingVertex(GL_FIRST_VERTEX_CONVENTION);
        }
        states_[D3DRS_ZENABLE] = D3DZB_TRUE;
        states_[D3DRS_CULLMODE] = D3DCULL_CCW;
        states_[D3DRS_FILLMODE] = D3DFILL_SOLID;
        states_[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
        D3DXMatrixIdentity(&world_);
        D3DXMatrixIdentity(&view_);
        D3DXMatrixIdentity(&projection_);
        ready_ = true;
    }
    bool Ready() const { return ready_; }
    const std::vector<std::uint32_t>& Pixels() const { return pixels_; }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references_;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Clear(DWORD, const D3DRECT*, DWORD flags, D3DCOLOR color, float z, DWORD) override {
        MakeCurrent();
        GLbitfield mask = 0;
        if (flags & D3DCLEAR_TARGET) {
            glClearColor(static_cast<float>((color >> 16) & 0xFF) / 255.0f,
                         static_cast<float>((color >> 8) & 0xFF) / 255.0f, static_cast<float>(color & 0xFF) / 255.0f,
                         static_cast<float>(color >> 24) / 255.0f);
            mask |= GL_COLOR_BUFFER_BIT;
        }
        if (flags & D3DCLEAR_ZBUFFER) {
            glClearDepth(z);
            mask |= GL_DEPTH_BUFFER_BIT;
        }
        glClear(mask);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginScene() override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE EndScene() override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE Present(const RECT*, const RECT*, HWND, const RGNDATA*) override {
        MakeCurrent();
        glFinish();
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        if (static_cast<std::uint32_t>(state) >= states_.size()) {
            return D3DERR_INVALIDCALL;
        }
        states_[state] = value;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
        *value = states_[state];
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override {
        D3DXMATRIX* slot = Slot(state);
        if (slot == nullptr) {
            return D3DERR_INVALIDCALL;
        }
        std::memcpy(slot->m, matrix->m, sizeof matrix->m);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override {
        D3DXMATRIX* slot = Slot(state);
        if (slot == nullptr) {
            return D3DERR_INVALIDCALL;
        }
        std::memcpy(matrix->m, slot->m, sizeof matrix->m);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD fvf) override {
        fvf_ = fvf;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) override {
        *fvf = fvf_;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* viewport) override {
        *viewport = {0, 0, static_cast<DWORD>(width_), static_cast<DWORD>(height_), 0.0f, 1.0f};
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9** buffer,
                                                 HANDLE*) override {
        *buffer = new PeerBuffer(length);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT, IDirect3DVertexBuffer9* data, UINT offset, UINT stride) override {
        if (data != nullptr) {
            data->AddRef();
        }
        if (stream_ != nullptr) {
            stream_->Release();
        }
        stream_ = static_cast<PeerBuffer*>(data);
        offset_ = offset;
        stride_ = stride;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE type, UINT startVertex, UINT primitiveCount) override {
        if (stream_ == nullptr) {
            return D3DERR_INVALIDCALL;
        }
        MakeCurrent();
        ApplyStates();
        const std::uint8_t* base = stream_->Data() + offset_;
        const auto stride = static_cast<GLsizei>(stride_);
        glVertexPointer(3, GL_FLOAT, stride, base);
        glColorPointer(GL_BGRA, GL_UNSIGNED_BYTE, stride, base + 12);  // D3DCOLOR's bytes are B, G, R, A
        GLenum mode = GL_TRIANGLES;
        GLsizei count = 0;
        switch (type) {
            case D3DPT_TRIANGLELIST:
                mode = GL_TRIANGLES;
                count = static_cast<GLsizei>(3 * primitiveCount);
                break;
            case D3DPT_TRIANGLESTRIP:
                mode = GL_TRIANGLE_STRIP;
                count = static_cast<GLsizei>(primitiveCount + 2);
                break;
            case D3DPT_TRIANGLEFAN:
                mode = GL_TRIANGLE_FAN;
                count = static_cast<GLsizei>(primitiveCount + 2);
                break;
            default:
                return D3DERR_INVALIDCALL;
        }
        glDrawArrays(mode, static_cast<GLint>(startVertex), count);
        return D3D_OK;
    }

private:
    ~PeerDevice() override {
        if (stream_ != nullptr) {
            stream_->Release();
        }
        if (context_ != nullptr) {
            OSMesaDestroyContext(context_);
        }
    }

    void MakeCurrent() {
        if (OSMesaGetCurrentContext() != context_) {
            OSMesaMakeCurrent(context_, pixels_.data(), GL_UNSIGNED_BYTE, width_, height_);
        }
    }

    D3DXMATRIX* Slot(D3DTRANSFORMSTATETYPE state) {
        switch (static_cast<std::uint32_t>(state)) {
            case D3DTS_VIEW:
                return &view_;
            case D3DTS_PROJECTION:
                return &projection_;
            case 256:  // D3DTS_WORLD
                return &world_;
            default:
                return nullptr;
        }
    }

    void ApplyStates() {
        const DWORD cull = states_[D3DRS_CULLMODE];
        if (cull == D3DCULL_NONE) {
            glDisable(GL_CULL_FACE);
        } else {
            glEnable(GL_CULL_FACE);
            // Direct3D's clockwise is OpenGL's counter-clockwise, the front face set above.
            glCullFace(cull == D3DCULL_CW ? GL_FRONT : GL_BACK);
        }
        glPolygonMode(GL_FRONT_AND_BACK, states_[D3DRS_FILLMODE] == D3DFILL_WIREFRAME ? GL_LINE : GL_FILL);
        glShadeModel(states_[D3DRS_SHADEMODE] == D3DSHADE_FLAT ? GL_FLAT : GL_SMOOTH);
        if (states_[D3DRS_ZENABLE] != D3DZB_FALSE) {
            glEnable(GL_DEPTH_TEST);
        } else {
            glDisable(GL_DEPTH_TEST);
        }
        // Clip depth 0..w to -w..w and the half-pixel shift, after the projection (row vectors).
        D3DXMATRIX toGl;
        D3DXMatrixIdentity(&toGl);
        toGl.m[2][2] = 2.0f;
        toGl.m[3][2] = -1.0f;
        toGl.m[3][0] = 1.0f / static_cast<float>(width_);
        toGl.m[3][1] = -1.0f / static_cast<float>(height_);
        D3DXMATRIX projection;
        D3DXMatrixMultiply(&projection, &projection_, &toGl);
        D3DXMATRIX worldView;
        D3DXMatrixMultiply(&worldView, &world_, &view_);
        glMatrixMode(GL_PROJECTION);
        glLoadMatrixf(&projection.m[0][0]);
        glMatrixMode(GL_MODELVIEW);
        glLoadMatrixf(&worldView.m[0][0]);
    }

    int width_;
    int height_;
    std::vector<std::uint32_t> pixels_;
    OSMesaContext context_ = nullptr;
    bool ready_ = false;
    ULONG references_ = 1;
    std::array<DWORD, 256> states_{};
    D3DXMATRIX world_, view_, projection_;
    DWORD fvf_ = 0;
    PeerBuffer* stream_ = nullptr;
    UINT offset_ = 0;
    UINT stride_ = 0;
};

}  // namespace

IDirect3DDevice9* CreatePeerDevice(int width, int height) {
    auto* device = new PeerDevice(width, height);
    if (!device->Ready()) {
        device->Release();
        return nullptr;
    }
    return device;
}

const std::vector<std::uint32_t>& PeerPixels(IDirect3DDevice9* device) {
    return static_cast<PeerDevice*>(device)->Pixels();
}
