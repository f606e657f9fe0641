// The call-tracing device, over a small fake device, so the trace's lines and the decorator's
// forwarding can be checked without a renderer.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/Geometry.h"
#include "tools/capture/TraceDevice.h"

namespace {

class FakeBuffer final : public IDirect3DVertexBuffer9 {
public:
    explicit FakeBuffer(UINT length, int& live) : memory(length), live_(live) { ++live_; }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --references;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE Lock(UINT offset, UINT, void** data, DWORD) override {
        *data = memory.data() + offset;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock() override { return D3D_OK; }

    std::vector<std::uint8_t> memory;
    ULONG references = 1;

private:
    ~FakeBuffer() override { --live_; }
    int& live_;
};

// Records what reaches it; results can be set per call.
class FakeDevice final : public IDirect3DDevice9 {
public:
    ~FakeDevice() override {
        if (bound != nullptr) {
            bound->Release();
        }
    }

    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        ++releases;
        return --references;
    }
    HRESULT STDMETHODCALLTYPE Clear(DWORD, const D3DRECT*, DWORD, D3DCOLOR, float, DWORD) override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE BeginScene() override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE EndScene() override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE Present(const RECT*, const RECT*, HWND, const RGNDATA*) override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        lastState = state;
        lastValue = value;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE, DWORD* value) override {
        *value = 3;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE, const D3DMATRIX* matrix) override {
        lastMatrix = *matrix;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE, D3DMATRIX*) override { return D3DERR_INVALIDCALL; }
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD) override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) override {
        *fvf = 0x42;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* viewport) override {
        *viewport = D3DVIEWPORT9{0, 0, 800, 600, 0.0f, 1.0f};
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD, DWORD, D3DPOOL, IDirect3DVertexBuffer9** buffer,
                                                 HANDLE*) override {
        if (failCreate) {
            *buffer = nullptr;
            return D3DERR_OUTOFVIDEOMEMORY;
        }
        lastCreated = new FakeBuffer(length, liveBuffers);
        *buffer = lastCreated;
        return D3D_OK;
    }
    // Holds a reference to the bound buffer, as Direct3D 9 does.
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT, IDirect3DVertexBuffer9* buffer, UINT, UINT) override {
        if (buffer != nullptr) {
            buffer->AddRef();
        }
        if (bound != nullptr) {
            bound->Release();
        }
        bound = buffer;
        return D3D_OK;
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE, UINT, UINT) override { return drawResult; }

    ULONG references = 1;
    int releases = 0;
    int liveBuffers = 0;
    bool failCreate = false;
    HRESULT drawResult = D3D_OK;
    D3DRENDERSTATETYPE lastState{};
    DWORD lastValue = 0;
    D3DMATRIX lastMatrix{};
    FakeBuffer* lastCreated = nullptr;
    IDirect3DVertexBuffer9* bound = nullptr;
};

std::vector<std::string> Lines(const std::ostringstream& out) {
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// What SubmitBatch does with one batch, through the given device.
void SubmitLikeTheViewer(IDirect3DDevice9* device, const std::vector<ColorVertex>& vertices) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    const auto length = static_cast<UINT>(vertices.size() * sizeof(ColorVertex));
    device->CreateVertexBuffer(length, 0, D3DFVF_XYZ | D3DFVF_DIFFUSE, D3DPOOL_MANAGED, &buffer, nullptr);
    void* data = nullptr;
    buffer->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), length);
    buffer->Unlock();
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_CW);
    device->SetStreamSource(0, buffer, 0, sizeof(ColorVertex));
    device->DrawPrimitive(D3DPT_TRIANGLEFAN, 0, static_cast<UINT>(vertices.size() - 2));
    buffer->Release();
}

class TraceDeviceTest : public ::testing::Test {
protected:
    void TearDown() override {
        if (traced != nullptr) {
            traced->Release();
        }
    }

    FakeDevice fake;
    std::ostringstream out;
    IDirect3DDevice9* traced = CreateTraceDevice(&fake, out);
};

// >>the lines written

TEST_F(TraceDeviceTest, ABatchIsTracedCallByCallWithEveryVertex) {
    SubmitLikeTheViewer(
        traced,
        {{0.0f, 15.0f, 0.0f, 0x00FF0000}, {3.5f, 0.0f, -0.0f, 0x00FFFFFF}, {0.1f, -2.5e-8f, 1e20f, 0x00FF0000}});
    EXPECT_EQ(Lines(out), (std::vector<std::string>{
                              "CreateVertexBuffer 48 0x00000000 0x00000042 1 null -> 0x00000000 vb1",
                              "vb1.Lock 0 0 0x00000000 -> 0x00000000",
                              "vertex vb1 0 0 15 0 0x00ff0000",
                              "vertex vb1 1 3.5 0 -0 0x00ffffff",
                              "vertex vb1 2 0.100000001 -2.50000003e-08 1.00000002e+20 0x00ff0000",
                              "vb1.Unlock -> 0x00000000",
                              "SetRenderState 22 2 -> 0x00000000",
                              "SetStreamSource 0 vb1 0 16 -> 0x00000000",
                              "DrawPrimitive 6 0 1 -> 0x00000000",
                              "vb1.Release",
                          }));
}

TEST_F(TraceDeviceTest, FrameCallsCarryTheirArgumentsAndMatricesInFull) {
    traced->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    const D3DRECT rects[2] = {{0, 0, 10, 20}, {5, 6, 7, 8}};
    traced->Clear(2, rects, D3DCLEAR_ZBUFFER, 0, 0.5f, 3);
    traced->BeginScene();
    traced->SetFVF(0x42);
    D3DMATRIX matrix{};
    for (int i = 0; i < 16; ++i) {
        matrix.m[i / 4][i % 4] = static_cast<float>(i) * 0.25f - 1.0f;
    }
    traced->SetTransform(D3DTS_WORLD, &matrix);
    traced->EndScene();
    traced->Present(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(Lines(out), (std::vector<std::string>{
                              "Clear 0 null 0x00000001 0xff000000 1 0 -> 0x00000000",
                              "Clear 2 [0,0,10,20;5,6,7,8] 0x00000002 0x00000000 0.5 3 -> 0x00000000",
                              "BeginScene -> 0x00000000",
                              "SetFVF 0x00000042 -> 0x00000000",
                              "SetTransform 256 -1 -0.75 -0.5 -0.25 0 0.25 0.5 0.75 1 1.25 1.5 1.75 2 2.25 2.5 "
                              "2.75 -> 0x00000000",
                              "EndScene -> 0x00000000",
                              "Present null null null null -> 0x00000000",
                          }));
}

TEST_F(TraceDeviceTest, ReadsAndFailuresShowTheirResults) {
    DWORD value = 0;
    traced->GetRenderState(D3DRS_FILLMODE, &value);
    D3DMATRIX matrix{};
    traced->GetTransform(D3DTS_VIEW, &matrix);
    D3DVIEWPORT9 viewport{};
    traced->GetViewport(&viewport);
    fake.drawResult = D3DERR_INVALIDCALL;
    traced->DrawPrimitive(D3DPT_TRIANGLESTRIP, 2, 7);
    fake.failCreate = true;
    IDirect3DVertexBuffer9* buffer = reinterpret_cast<IDirect3DVertexBuffer9*>(&value);
    traced->CreateVertexBuffer(16, 0, 0x42, D3DPOOL_MANAGED, &buffer, nullptr);
    EXPECT_EQ(buffer, nullptr);
    EXPECT_EQ(Lines(out), (std::vector<std::string>{
                              "GetRenderState 8 -> 0x00000000 3",
                              "GetTransform 2 -> 0x8876086c null",
                              "GetViewport -> 0x00000000 0 0 800 600 0 1",
                              "DrawPrimitive 5 2 7 -> 0x8876086c",
                              "CreateVertexBuffer 16 0x00000000 0x00000042 1 null -> 0x8876017c null",
                          }));
}

TEST_F(TraceDeviceTest, BuffersAreNumberedInCreationOrder) {
    SubmitLikeTheViewer(traced, {{0, 0, 0, 1}, {1, 0, 0, 2}, {0, 1, 0, 3}});
    SubmitLikeTheViewer(traced, {{0, 0, 0, 1}, {1, 0, 0, 2}, {0, 1, 0, 3}, {1, 1, 0, 4}});
    const std::string text = out.str();
    EXPECT_NE(text.find("SetStreamSource 0 vb2 0 16"), std::string::npos);
    EXPECT_NE(text.find("vertex vb2 3 1 1 0 0x00000004"), std::string::npos);
    EXPECT_NE(text.find("DrawPrimitive 6 0 2 -> 0x00000000"), std::string::npos);
}

// >>what reaches the device underneath

TEST_F(TraceDeviceTest, ForwardsArgumentsAndTheInnerBufferNotTheWrapper) {
    SubmitLikeTheViewer(traced, {{1.0f, 2.0f, 3.0f, 0x00FF0000}, {4, 5, 6, 7}, {8, 9, 10, 11}});
    EXPECT_EQ(fake.lastState, D3DRS_CULLMODE);
    EXPECT_EQ(fake.lastValue, static_cast<DWORD>(D3DCULL_CW));
    ASSERT_NE(fake.lastCreated, nullptr);
    EXPECT_EQ(fake.bound, fake.lastCreated);  // the device must never see the tracing wrapper
    float x = 0.0f;
    std::memcpy(&x, fake.lastCreated->memory.data(), sizeof x);
    EXPECT_EQ(x, 1.0f);  // the upload went into the real buffer

    D3DMATRIX matrix{};
    matrix.m[3][1] = -5.0f;
    traced->SetTransform(D3DTS_WORLD, &matrix);
    EXPECT_EQ(fake.lastMatrix.m[3][1], -5.0f);
}

TEST_F(TraceDeviceTest, ABufferItDidNotMakeIsPassedOnAsItIs) {
    int live = 0;
    auto* foreign = new FakeBuffer(16, live);
    traced->SetStreamSource(0, foreign, 0, 16);
    EXPECT_EQ(fake.bound, foreign);
    traced->SetStreamSource(0, nullptr, 0, 0);
    EXPECT_EQ(fake.bound, nullptr);
    EXPECT_EQ(Lines(out), (std::vector<std::string>{"SetStreamSource 0 untraced 0 16 -> 0x00000000",
                                                    "SetStreamSource 0 null 0 0 -> 0x00000000"}));
    foreign->Release();
    EXPECT_EQ(live, 0);
}

TEST_F(TraceDeviceTest, ReleasesTheInnerObjectsOnceWhenItsOwnCountsReachZero) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    traced->CreateVertexBuffer(32, 0, 0x42, D3DPOOL_MANAGED, &buffer, nullptr);
    EXPECT_EQ(fake.liveBuffers, 1);
    buffer->AddRef();
    buffer->Release();
    EXPECT_EQ(fake.liveBuffers, 1);
    buffer->Release();
    EXPECT_EQ(fake.liveBuffers, 0);

    traced->AddRef();
    EXPECT_EQ(traced->Release(), 1u);
    EXPECT_EQ(fake.releases, 0);
    EXPECT_EQ(traced->Release(), 0u);
    traced = nullptr;
    EXPECT_EQ(fake.releases, 1);
}

}  // namespace
