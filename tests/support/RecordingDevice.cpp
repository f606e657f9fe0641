#include "tests/support/RecordingDevice.h"

#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {
namespace {

Recording recording;
RecordingDevice* lastDevice = nullptr;
std::vector<DefaultProcCall> defaultProcCalls;

template <typename... Args>
void Log(const char* name, Args... args) {
    std::ostringstream line;
    line << name << '(';
    bool first = true;
    ((line << (first ? "" : ",") << args, first = false), ...);
    line << ')';
    recording.calls.push_back(line.str());
}

D3DMATRIX Identity() {
    D3DMATRIX m{};
    m.m[0][0] = m.m[1][1] = m.m[2][2] = m.m[3][3] = 1.0f;
    return m;
}

class RecordingBuffer final : public IDirect3DVertexBuffer9 {
public:
    explicit RecordingBuffer(UINT length) : bytes_(length) { ++recording.liveBuffers; }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        Log("Release", "buffer");
        const ULONG left = --references_;
        if (left == 0) {
            --recording.liveBuffers;
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT size, void** data, DWORD flags) override {
        Log("Lock", offset, size, flags);
        if (recording.failures.lock) {
            *data = nullptr;
            return D3DERR_INVALIDCALL;
        }
        *data = bytes_.data();
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock() override {
        Log("Unlock");
        return D3D_OK;
    }
    const std::vector<unsigned char>& bytes() const { return bytes_; }
    // The device's own hold on a bound buffer: taken and given back without a logged call.
    void Hold() { ++references_; }
    void Drop() {
        if (--references_ == 0) {
            --recording.liveBuffers;
            delete this;
        }
    }

private:
    ~RecordingBuffer() override = default;
    std::vector<unsigned char> bytes_;
    ULONG references_ = 1;
};

}  // namespace

class RecordingDevice final : public IDirect3DDevice9 {
public:
    explicit RecordingDevice(IDirect3D9* owner) : owner_(owner) {
        owner_->AddRef();
        ++recording.liveDevices;
        transforms_[D3DTS_VIEW] = transforms_[D3DTS_PROJECTION] = transforms_[D3DTS_WORLD] = Identity();
        states_[D3DRS_LIGHTING] = TRUE;
        states_[D3DRS_CULLMODE] = D3DCULL_CCW;
        states_[D3DRS_ZENABLE] = D3DZB_TRUE;
        states_[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
        states_[D3DRS_FILLMODE] = D3DFILL_SOLID;
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        Log("Release", "device");
        const ULONG left = --references_;
        if (left == 0) {
            if (stream_ != nullptr)
                stream_->Drop();
            --recording.liveDevices;
            if (lastDevice == this)
                lastDevice = nullptr;
            IDirect3D9* owner = owner_;
            delete this;
            owner->Release();
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                                    DWORD stencil) override {
        Log("Clear", count, rects == nullptr ? "null" : "rects", flags, color, z, stencil);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE BeginScene() override {
        Log("BeginScene");
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE EndScene() override {
        Log("EndScene");
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE Present(const RECT* source, const RECT* dest, HWND window,
                                      const RGNDATA* dirty) override {
        const bool allNull = source == nullptr && dest == nullptr && window == nullptr && dirty == nullptr;
        Log("Present", allNull ? "null,null,null,null" : "arguments");
        return recording.failures.present ? D3DERR_DEVICELOST : D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        Log("SetRenderState", static_cast<int>(state), value);
        states_[state] = value;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
        *value = states_[state];
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override {
        Log("SetTransform", static_cast<int>(state));
        transforms_[state] = *matrix;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override {
        *matrix = transforms_[state];
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD fvf) override {
        Log("SetFVF", fvf);
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) override {
        *fvf = 0;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* viewport) override {
        *viewport = {0, 0, 800, 600, 0.0f, 1.0f};
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer, HANDLE* shared) override {
        Log("CreateVertexBuffer", length, usage, fvf, static_cast<int>(pool), shared == nullptr ? "null" : "handle");
        if (recording.failures.createVertexBuffer) {
            *buffer = nullptr;
            return D3DERR_OUTOFVIDEOMEMORY;
        }
        auto* created = new RecordingBuffer(length);
        lengths_[created] = length;
        *buffer = created;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT stream, IDirect3DVertexBuffer9* data, UINT offset,
                                              UINT stride) override {
        Log("SetStreamSource", stream, data == nullptr ? "null" : "buffer", offset, stride);
        // The device holds its own reference to the bound buffer, as the runtime does.
        auto* buffer = static_cast<RecordingBuffer*>(data);
        if (buffer != nullptr)
            buffer->Hold();
        if (stream_ != nullptr)
            stream_->Drop();
        stream_ = buffer;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) override {
        Log("DrawPrimitive", static_cast<int>(type), start, count);
        RecordedDraw draw{type,
                          start,
                          count,
                          states_[D3DRS_CULLMODE],
                          states_[D3DRS_FILLMODE],
                          0,
                          transforms_[D3DTS_WORLD],
                          transforms_[D3DTS_VIEW],
                          transforms_[D3DTS_PROJECTION],
                          {}};
        if (stream_ != nullptr) {
            const auto& bytes = stream_->bytes();
            draw.bufferLength = lengths_[stream_];
            draw.vertices.resize(bytes.size() / sizeof(ColorVertex));
            std::memcpy(draw.vertices.data(), bytes.data(), draw.vertices.size() * sizeof(ColorVertex));
        }
        recording.draws.push_back(std::move(draw));
        return D3D_OK;
    }

private:
    ~RecordingDevice() override = default;
    IDirect3D9* owner_;
    ULONG references_ = 1;
    std::map<int, DWORD> states_;
    std::map<int, D3DMATRIX> transforms_;
    std::map<const IDirect3DVertexBuffer9*, UINT> lengths_;
    RecordingBuffer* stream_ = nullptr;
};

namespace {

class RecordingDirect3D final : public IDirect3D9 {
public:
    RecordingDirect3D() { ++recording.liveDirect3d; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override {
        Log("Release", references_ == 1 ? "direct3d(last)" : "direct3d");
        const ULONG left = --references_;
        if (left == 0) {
            --recording.liveDirect3d;
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateDevice(UINT adapter, D3DDEVTYPE type, HWND focus, DWORD behavior,
                                           D3DPRESENT_PARAMETERS* parameters, IDirect3DDevice9** device) override {
        Log("CreateDevice", adapter, static_cast<int>(type), focus, behavior);
        recording.presentParameters = *parameters;
        if (recording.failures.createDevice) {
            *device = nullptr;
            return D3DERR_NOTAVAILABLE;
        }
        lastDevice = new RecordingDevice(this);
        *device = lastDevice;
        return D3D_OK;
    }

private:
    ~RecordingDirect3D() override = default;
    ULONG references_ = 1;
};

}  // namespace

std::vector<std::string> Recording::CallsStartingWith(const std::string& prefix) const {
    std::vector<std::string> matching;
    for (const auto& call : calls) {
        if (call.rfind(prefix, 0) == 0)
            matching.push_back(call);
    }
    return matching;
}

Recording& TheRecording() {
    return recording;
}

void ResetRecording() {
    recording.Clear();
    recording.failures = {};
    recording.presentParameters = {};
    defaultProcCalls.clear();
}

RecordingDevice* LastDevice() {
    return lastDevice;
}

DWORD RenderState(IDirect3DDevice9* device, D3DRENDERSTATETYPE state) {
    DWORD value = 0;
    device->GetRenderState(state, &value);
    return value;
}

std::vector<DefaultProcCall>& DefaultProcCalls() {
    return defaultProcCalls;
}

LRESULT DefaultProcResult(UINT message, WPARAM wParam) {
    return static_cast<LRESULT>(message + wParam);
}

}  // namespace testsupport

// The platform entry points the viewer's portable code calls.
IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
    testsupport::Log("Direct3DCreate9", sdkVersion);
    if (testsupport::recording.failures.direct3dCreate || sdkVersion != D3D_SDK_VERSION) {
        return nullptr;
    }
    return new testsupport::RecordingDirect3D();
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    testsupport::DefaultProcCalls().push_back({window, message, wParam, lParam});
    return testsupport::DefaultProcResult(message, wParam);
}
