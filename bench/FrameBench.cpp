// Timings of the software Direct3D 9 at 800 x 600: the viewer's own frame (RenderFrame, with no
// presenter installed, so the time is the device's drawing alone) and focused scenes that load
// one part of the pipeline each. Every benchmark draws on the one device that InitDevice makes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "device/D3DXMath.h"
#include "geometry/Geometry.h"
#include "scene/Scene.h"
#include "scene/SceneState.h"
#include "tools/capture/ReadBack.h"

namespace {

constexpr float kPi = 3.14159265f;

// The start-up render states of InitDevice, so every benchmark begins from the same device.
void ResetRenderStates() {
    IDirect3DDevice9* device = sceneState.device;
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
}

void CountFrames(benchmark::State& state) {
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// >>the viewer's frame

// RenderFrame as the main loop calls it: two clears, 74 batches (each a fresh vertex buffer),
// Present with no presenter. The rotor turns one degree per iteration, as in the viewer.
void BM_ViewerFrame(benchmark::State& state, DWORD fillMode, DWORD shadeMode) {
    ResetRenderStates();
    sceneState.device->SetRenderState(D3DRS_FILLMODE, fillMode);
    sceneState.device->SetRenderState(D3DRS_SHADEMODE, shadeMode);
    for (auto _ : state) {
        RenderFrame();
    }
    CountFrames(state);
    ResetRenderStates();
}
BENCHMARK_CAPTURE(BM_ViewerFrame, solid_flat, D3DFILL_SOLID, D3DSHADE_FLAT)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewerFrame, solid_gouraud, D3DFILL_SOLID, D3DSHADE_GOURAUD)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewerFrame, wireframe, D3DFILL_WIREFRAME, D3DSHADE_FLAT)->Unit(benchmark::kMillisecond);

// >>focused scenes

// The fixed cost of any frame: the viewer's two clears, an empty scene and Present.
void BM_EmptyFrame(benchmark::State& state) {
    IDirect3DDevice9* device = sceneState.device;
    for (auto _ : state) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    CountFrames(state);
}
BENCHMARK(BM_EmptyFrame)->Unit(benchmark::kMillisecond);

// A managed vertex buffer holding the vertices, bound as stream 0.
IDirect3DVertexBuffer9* UploadAndBind(const std::vector<ColorVertex>& vertices) {
    IDirect3DVertexBuffer9* buffer = nullptr;
    const auto length = static_cast<UINT>(vertices.size() * sizeof(ColorVertex));
    sceneState.device->CreateVertexBuffer(length, 0, kColorVertexFvf, D3DPOOL_MANAGED, &buffer, nullptr);
    void* data = nullptr;
    buffer->Lock(0, 0, &data, 0);
    std::memcpy(data, vertices.data(), length);
    buffer->Unlock();
    sceneState.device->SetStreamSource(0, buffer, 0, sizeof(ColorVertex));
    return buffer;
}

void SetTransforms(const D3DXMATRIX& view, const D3DXMATRIX& projection) {
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    sceneState.device->SetTransform(D3DTS_WORLD, &identity);
    sceneState.device->SetTransform(D3DTS_VIEW, &view);
    sceneState.device->SetTransform(D3DTS_PROJECTION, &projection);
}

// With identity transforms, x and y are the clip-space (and normalised device) coordinates.
void SetIdentityTransforms() {
    D3DXMATRIX identity;
    D3DXMatrixIdentity(&identity);
    SetTransforms(identity, identity);
}

// One scene per iteration: clear colour and depth, the triangle list, present.
void DrawTriangleListScenes(benchmark::State& state, const std::vector<ColorVertex>& vertices) {
    IDirect3DDevice9* device = sceneState.device;
    device->SetFVF(kColorVertexFvf);
    IDirect3DVertexBuffer9* buffer = UploadAndBind(vertices);
    const auto triangles = static_cast<UINT>(vertices.size() / 3);
    for (auto _ : state) {
        device->Clear(0, nullptr, D3DCLEAR_TARGET | D3DCLEAR_ZBUFFER, 0xFF000000, 1.0f, 0);
        device->BeginScene();
        device->DrawPrimitive(D3DPT_TRIANGLELIST, 0, triangles);
        device->EndScene();
        device->Present(nullptr, nullptr, nullptr, nullptr);
    }
    device->SetStreamSource(0, nullptr, 0, 0);
    buffer->Release();
    state.counters["triangles/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * triangles, benchmark::Counter::kIsRate);
    CountFrames(state);
}

// Many small triangles: a grid of cells of `cell` pixels over the whole screen, two triangles
// per cell, alternating colours. Setup and edge walking dominate, not filling.
void BM_SmallTriangles(benchmark::State& state) {
    ResetRenderStates();
    SetIdentityTransforms();
    const int cell = static_cast<int>(state.range(0));
    const int columns = 800 / cell;
    const int rows = 600 / cell;
    std::vector<ColorVertex> vertices;
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns; ++column) {
            const float x0 = -1.0f + 2.0f * static_cast<float>(column * cell) / 800.0f;
            const float x1 = -1.0f + 2.0f * static_cast<float>((column + 1) * cell) / 800.0f;
            const float y0 = 1.0f - 2.0f * static_cast<float>(row * cell) / 600.0f;
            const float y1 = 1.0f - 2.0f * static_cast<float>((row + 1) * cell) / 600.0f;
            const D3DCOLOR color = ((row + column) % 2) ? 0x00FF0000 : 0x00FFFFFF;
            vertices.insert(vertices.end(), {{x0, y0, 0.5f, color}, {x1, y0, 0.5f, color}, {x0, y1, 0.5f, color}});
            vertices.insert(vertices.end(), {{x1, y0, 0.5f, color}, {x1, y1, 0.5f, color}, {x0, y1, 0.5f, color}});
        }
    }
    DrawTriangleListScenes(state, vertices);
}
BENCHMARK(BM_SmallTriangles)->Arg(4)->Arg(8)->Arg(16)->Unit(benchmark::kMillisecond);

// A few screen-sized triangles: `layers` full-screen quads, each nearer than the one before, so
// every pixel passes the depth test and is written `layers` times. Filling dominates.
void BM_ScreenSizedTriangles(benchmark::State& state) {
    ResetRenderStates();
    sceneState.device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
    SetIdentityTransforms();
    const int layers = static_cast<int>(state.range(0));
    std::vector<ColorVertex> vertices;
    for (int layer = 0; layer < layers; ++layer) {
        const float z = 0.9f - 0.8f * static_cast<float>(layer) / static_cast<float>(layers);
        vertices.insert(vertices.end(), {{-1, 1, z, 0x00FF0000}, {1, 1, z, 0x00FFFFFF}, {-1, -1, z, 0x00FFFFFF}});
        vertices.insert(vertices.end(), {{1, 1, z, 0x00FFFFFF}, {1, -1, z, 0x00FF0000}, {-1, -1, z, 0x00FFFFFF}});
    }
    DrawTriangleListScenes(state, vertices);
}
BENCHMARK(BM_ScreenSizedTriangles)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);

// Heavy near-plane clipping: the viewer's projection (near 1, far 100) and long, thin triangles
// that run from behind the eye (z = -10) to well in front of it (z = 60), spread across the
// view. Every one is cut by the near plane, many by the side planes as well, and each covers
// only a sliver of the screen, so the clipping, not the filling, is what is timed.
void BM_NearPlaneClipping(benchmark::State& state) {
    ResetRenderStates();
    D3DXMATRIX view;
    D3DXMATRIX projection;
    D3DXMatrixIdentity(&view);
    D3DXMatrixPerspectiveFovLH(&projection, kPi / 4.0f, 4.0f / 3.0f, 1.0f, 100.0f);
    SetTransforms(view, projection);
    const int count = static_cast<int>(state.range(0));
    std::vector<ColorVertex> vertices;
    for (int i = 0; i < count; ++i) {
        const float t = static_cast<float>(i) / static_cast<float>(count);
        const float x = -3.0f + 6.0f * t;
        const float y = -2.0f + 4.0f * static_cast<float>(i % 7) / 6.0f;
        const D3DCOLOR color = (i % 2) ? 0x00FF0000 : 0x00FFFFFF;
        vertices.insert(vertices.end(),
                        {{x, y, -10.0f, color}, {x + 0.05f, y, 60.0f, color}, {x, y + 0.05f, 60.0f, color}});
    }
    DrawTriangleListScenes(state, vertices);
}
BENCHMARK(BM_NearPlaneClipping)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

// The device is made once, before any benchmark runs, and released after the last.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    std::string error;
    if (!OpenCaptureDevice(error)) {
        std::fprintf(stderr, "anemometer-bench: %s\n", error.c_str());
        return 3;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    CloseCaptureDevice();
    return 0;
}
