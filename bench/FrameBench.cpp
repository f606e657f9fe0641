// Timings of the software Direct3D 9: the viewer's own frame (RenderFrame, with no presenter
// installed, so the time is the device's drawing alone), the same frame on a peer (Mesa's
// llvmpipe through OSMesa, driven by the same scene code) and on the floor (two clears and each
// covered pixel written once), the frame at larger sizes and finer tessellation, and focused
// scenes that load one part of the pipeline each.
//
// The peer is given its best configuration, as a user tuning it would: one rasterizer thread
// (LP_NUM_THREADS=0 unless the environment says otherwise) and glibc's heap trimming off, set
// for the whole process, so the software device runs under the same heap settings.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "device/D3DXMath.h"
#include "device/Device.h"
#include "geometry/Geometry.h"
#include "platform/d3d9/Standin.h"
#include "scene/Scene.h"
#include "scene/SceneState.h"
#include "tools/capture/ReadBack.h"
#if defined(ANEMOMETER_BENCH_PEER)
#include "bench/PeerDevice.h"
#endif

#include "bench/HeapCounter.h"

namespace {

constexpr float kPi = 3.14159265f;
constexpr D3DCOLOR kClearColor = 0xFF000000;

// The devices the benchmarks draw on: the software device that InitDevice makes, and the peer.
IDirect3DDevice9* gSoftware = nullptr;
IDirect3DDevice9* gPeer = nullptr;

// Runs the scene code on `device` instead of the viewer's own.
class SceneOn {
public:
    explicit SceneOn(IDirect3DDevice9* device) : saved_(sceneState.device) {
        sceneState.device = device;
        sceneState.rotationDegrees = 0.0f;
    }
    ~SceneOn() { sceneState.device = saved_; }
    SceneOn(const SceneOn&) = delete;
    SceneOn& operator=(const SceneOn&) = delete;

private:
    IDirect3DDevice9* saved_;
};

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// Frames per second, and what each frame took from the heap and the operating system.
class FrameCounters {
public:
    explicit FrameCounters(IDirect3DDevice9* device)
        : device_(device),
          heap_(HeapAllocations()),
          faults_(MinorFaults()),
          storage_(standin::VertexStorageAllocations(device)) {}
    void Report(benchmark::State& state) const {
        const auto frames = static_cast<double>(state.iterations());
        state.counters["fps"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
        state.counters["heap allocs/frame"] = static_cast<double>(HeapAllocations() - heap_) / std::max(frames, 1.0);
        state.counters["page faults/frame"] = static_cast<double>(MinorFaults() - faults_) / std::max(frames, 1.0);
        if (device_ == gSoftware) {
            state.counters["device allocs/frame"] =
                static_cast<double>(standin::VertexStorageAllocations(device_) - storage_) / std::max(frames, 1.0);
        }
    }

private:
    IDirect3DDevice9* device_;
    std::uint64_t heap_;
    long faults_;
    std::uint64_t storage_;
};

void CountFrames(benchmark::State& state) {
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// The start-up render states of InitDevice, so every benchmark begins from the same device.
void ResetRenderStates() {
    SetStartUpRenderStates(sceneState.device);
}

// >>the viewer's frame, on the software device and on the peer

// RenderFrame as the main loop calls it: two clears, 74 batches (each a fresh vertex buffer),
// Present with no presenter. The rotor turns one degree per iteration, as in the viewer.
void ViewerFrames(benchmark::State& state, IDirect3DDevice9* device, DWORD fillMode, DWORD shadeMode) {
    if (device == nullptr) {
        state.SkipWithError("no such device");
        return;
    }
    const SceneOn scene(device);
    SetStartUpRenderStates(device);
    device->SetRenderState(D3DRS_FILLMODE, fillMode);
    device->SetRenderState(D3DRS_SHADEMODE, shadeMode);
    for (int warm = 0; warm < 3; ++warm) {
        RenderFrame();  // the device's memory for the frame is taken before timing
    }
    const FrameCounters counters(device);
    for (auto _ : state) {
        RenderFrame();
    }
    counters.Report(state);
    SetStartUpRenderStates(device);
}

void BM_ViewerFrame(benchmark::State& state, DWORD fillMode, DWORD shadeMode) {
    ViewerFrames(state, gSoftware, fillMode, shadeMode);
}
BENCHMARK_CAPTURE(BM_ViewerFrame, solid_flat, D3DFILL_SOLID, D3DSHADE_FLAT)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewerFrame, solid_gouraud, D3DFILL_SOLID, D3DSHADE_GOURAUD)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewerFrame, wireframe, D3DFILL_WIREFRAME, D3DSHADE_FLAT)->Unit(benchmark::kMillisecond);

// The same on 1 and 2 threads (the argument), timed by the clock on the wall: the second
// thread's time does not show in the process's CPU time of the calling thread.
void BM_ViewerFrameThreads(benchmark::State& state, DWORD fillMode, DWORD shadeMode) {
    standin::SetRasterThreads(static_cast<int>(state.range(0)));
    ViewerFrames(state, gSoftware, fillMode, shadeMode);
    standin::SetRasterThreads(1);
}
BENCHMARK_CAPTURE(BM_ViewerFrameThreads, solid_flat, D3DFILL_SOLID, D3DSHADE_FLAT)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewerFrameThreads, solid_gouraud, D3DFILL_SOLID, D3DSHADE_GOURAUD)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewerFrameThreads, wireframe, D3DFILL_WIREFRAME, D3DSHADE_FLAT)
    ->Arg(1)
    ->Arg(2)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

#if defined(ANEMOMETER_BENCH_PEER)
void BM_PeerFrame(benchmark::State& state, DWORD fillMode, DWORD shadeMode) {
    ViewerFrames(state, gPeer, fillMode, shadeMode);
}
BENCHMARK_CAPTURE(BM_PeerFrame, solid_flat, D3DFILL_SOLID, D3DSHADE_FLAT)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PeerFrame, solid_gouraud, D3DFILL_SOLID, D3DSHADE_GOURAUD)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PeerFrame, wireframe, D3DFILL_WIREFRAME, D3DSHADE_FLAT)->Unit(benchmark::kMillisecond);
#endif

// >>the floor: two clears and each covered pixel of the frame written once

// The covered pixels of a frame as runs within rows: offset of the first pixel and length.
struct Run {
    std::uint32_t offset;
    std::uint32_t length;
};

// The runs of every rotor angle's solid flat frame, as the software device draws it.
std::vector<std::vector<Run>> CoveredRuns(IDirect3DDevice9* device, int width, int height) {
    std::vector<std::vector<Run>> frames;
    const SceneOn scene(device);
    SetStartUpRenderStates(device);
    for (int angle = 0; angle < 360; ++angle) {
        sceneState.rotationDegrees = static_cast<float>(angle);
        RenderFrame();
        const standin::Image image = standin::BackBuffer(device);
        std::vector<Run> runs;
        for (int y = 0; y < height; ++y) {
            const std::uint32_t* row = image.pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
            for (int x = 0; x < width;) {
                if (row[x] == kClearColor) {
                    ++x;
                    continue;
                }
                const int start = x;
                while (x < width && row[x] != kClearColor) {
                    ++x;
                }
                runs.push_back({static_cast<std::uint32_t>(y * width + start), static_cast<std::uint32_t>(x - start)});
            }
        }
        frames.push_back(std::move(runs));
    }
    return frames;
}

void BM_FloorFrame(benchmark::State& state) {
    constexpr int kWidth = 800, kHeight = 600;
    static const std::vector<std::vector<Run>> frames = CoveredRuns(gSoftware, kWidth, kHeight);
    std::vector<std::uint32_t> color(static_cast<std::size_t>(kWidth) * kHeight);
    std::vector<std::uint16_t> depth(color.size());
    std::size_t frame = 0;
    double pixels = 0;
    for (auto _ : state) {
        std::fill(color.begin(), color.end(), kClearColor);
        std::fill(depth.begin(), depth.end(), std::uint16_t{0xFFFF});
        for (const Run& run : frames[frame]) {
            std::fill_n(color.data() + run.offset, run.length, 0xFFFFFFFFu);
            std::fill_n(depth.data() + run.offset, run.length, std::uint16_t{0x8000});
            pixels += run.length;
        }
        benchmark::DoNotOptimize(color.data());
        benchmark::DoNotOptimize(depth.data());
        frame = (frame + 1) % frames.size();
    }
    CountFrames(state);
    state.counters["covered pixels/frame"] = pixels / std::max(1.0, static_cast<double>(state.iterations()));
}
BENCHMARK(BM_FloorFrame)->Unit(benchmark::kMillisecond);

// >>growth: more pixels, more triangles

// A device as InitDevice makes it, on a width x height back buffer.
IDirect3DDevice9* SoftwareDevice(int width, int height) {
    D3DPRESENT_PARAMETERS parameters = ViewerPresentParameters(CaptureWindow());
    parameters.BackBufferWidth = static_cast<UINT>(width);
    parameters.BackBufferHeight = static_cast<UINT>(height);
    IDirect3DDevice9* device = nullptr;
    sceneState.direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, CaptureWindow(),
                                      D3DCREATE_SOFTWARE_VERTEXPROCESSING, &parameters, &device);
    return device;
}

void BM_LargerFrame(benchmark::State& state, bool peer) {
    const int width = static_cast<int>(state.range(0));
    const int height = width * 3 / 4;
    IDirect3DDevice9* device = nullptr;
#if defined(ANEMOMETER_BENCH_PEER)
    device = peer ? CreatePeerDevice(width, height) : SoftwareDevice(width, height);
#else
    device = peer ? nullptr : SoftwareDevice(width, height);
#endif
    ViewerFrames(state, device, D3DFILL_SOLID, D3DSHADE_FLAT);
    state.counters["Mpixels/frame"] = static_cast<double>(width) * height / 1e6;
    if (device != nullptr) {
        device->Release();
    }
}
BENCHMARK_CAPTURE(BM_LargerFrame, software, false)->Arg(800)->Arg(1600)->Arg(3200)->Unit(benchmark::kMillisecond);
#if defined(ANEMOMETER_BENCH_PEER)
BENCHMARK_CAPTURE(BM_LargerFrame, peer, true)->Arg(800)->Arg(1600)->Arg(3200)->Unit(benchmark::kMillisecond);
#endif

// The viewer's frame with the instrument tessellated `factor` times finer (slices and stacks):
// RenderFrame and AssembleAnemometer as the scene has them, with the builders' counts scaled.
D3DXMATRIX operator*(const D3DXMATRIX& first, const D3DXMATRIX& second) {
    D3DXMATRIX m;
    D3DXMatrixMultiply(&m, &first, &second);
    return m;
}

D3DXMATRIX Translation(float x, float y, float z) {
    D3DXMATRIX m;
    D3DXMatrixTranslation(&m, x, y, z);
    return m;
}

D3DXMATRIX Rotation(void (*rotate)(D3DXMATRIX*, float), float angle) {
    D3DXMATRIX m;
    rotate(&m, angle);
    return m;
}

void RotateX(D3DXMATRIX* m, float a) {
    D3DXMatrixRotationX(m, a);
}
void RotateY(D3DXMATRIX* m, float a) {
    D3DXMatrixRotationY(m, a);
}
void RotateZ(D3DXMATRIX* m, float a) {
    D3DXMatrixRotationZ(m, a);
}

void RenderFinerFrame(int factor) {
    IDirect3DDevice9* device = sceneState.device;
    device->Clear(0, nullptr, D3DCLEAR_TARGET, kClearColor, 1.0f, 0);
    device->Clear(0, nullptr, D3DCLEAR_ZBUFFER, kClearColor, 1.0f, 0);
    device->BeginScene();
    device->SetFVF(kColorVertexFvf);
    const D3DXVECTOR3 eye{0.0f, 20.0f, -30.0f}, at{0.0f, 0.0f, 0.0f}, up{0.0f, 1.0f, 0.0f};
    D3DXMATRIX view, projection;
    D3DXMatrixLookAtLH(&view, &eye, &at, &up);
    D3DXMatrixPerspectiveFovLH(&projection, 0.7853982f, 1.3333334f, 1.0f, 100.0f);
    device->SetTransform(D3DTS_VIEW, &view);
    device->SetTransform(D3DTS_PROJECTION, &projection);

    constexpr D3DCOLOR kRed = 0x00FF0000, kWhite = 0x00FFFFFF;
    const float rotor = sceneState.rotationDegrees * 0.017453292f;
    const D3DXMATRIX thirdTurn = Rotation(RotateY, 2.0943952f);
    const D3DXMATRIX base = Translation(0.0f, -5.0f, 0.0f);
    device->SetTransform(D3DTS_WORLD, &base);
    DrawCone(3.5f, 15.0f, 16 * factor, kRed, kWhite);
    const D3DXMATRIX hub = Rotation(RotateY, rotor) * Translation(0.0f, 6.0f, 0.0f);
    device->SetTransform(D3DTS_WORLD, &hub);
    DrawCylinder(1.8f, 4.0f, 32 * factor, kRed, kWhite);
    const D3DXMATRIX arm =
        base * (((Translation(12.0f, 6.5f, 0.0f) * Rotation(RotateZ, 1.5707964f)) * Translation(0.0f, -4.0f, 0.0f)) *
                Rotation(RotateY, rotor));
    const D3DXMATRIX cup =
        ((Rotation(RotateX, 1.5707964f) * base) * Translation(-11.5f, 13.0f, -0.5f)) * Rotation(RotateY, rotor);
    D3DXMATRIX armWorld = arm, cupWorld = cup;
    for (int k = 0; k < 3; ++k) {
        device->SetTransform(D3DTS_WORLD, &armWorld);
        DrawCylinder(0.5f, 8.0f, 10 * factor, kWhite, kRed);
        armWorld = armWorld * thirdTurn;
    }
    for (int k = 0; k < 3; ++k) {
        device->SetTransform(D3DTS_WORLD, &cupWorld);
        DrawHalfSphere(2.0f, 20 * factor, 20 * factor, kWhite, kRed);
        cupWorld = cupWorld * thirdTurn;
    }
    device->EndScene();
    device->Present(nullptr, nullptr, nullptr, nullptr);
    sceneState.rotationDegrees = sceneState.rotationDegrees + 1.0f;
    if (sceneState.rotationDegrees >= 360.0f) {
        sceneState.rotationDegrees = 0.0f;
    }
}

void BM_FinerFrame(benchmark::State& state, bool peer) {
    IDirect3DDevice9* device = peer ? gPeer : gSoftware;
    if (device == nullptr) {
        state.SkipWithError("no such device");
        return;
    }
    const int factor = static_cast<int>(state.range(0));
    const SceneOn scene(device);
    SetStartUpRenderStates(device);
    RenderFinerFrame(factor);
    const FrameCounters counters(device);
    for (auto _ : state) {
        RenderFinerFrame(factor);
    }
    counters.Report(state);
}
BENCHMARK_CAPTURE(BM_FinerFrame, software, false)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
#if defined(ANEMOMETER_BENCH_PEER)
BENCHMARK_CAPTURE(BM_FinerFrame, peer, true)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
#endif

// >>focused scenes

// The fixed cost of any frame: the viewer's two clears, an empty scene and Present.
void BM_EmptyFrame(benchmark::State& state) {
    IDirect3DDevice9* device = gSoftware;
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

// One scene per iteration: clear colour and depth, the triangle list, present; filled on as
// many threads as the benchmark's second argument says.
void DrawTriangleListScenes(benchmark::State& state, const std::vector<ColorVertex>& vertices) {
    standin::SetRasterThreads(static_cast<int>(state.range(1)));
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
    standin::SetRasterThreads(1);
    state.counters["triangles/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * triangles, benchmark::Counter::kIsRate);
    CountFrames(state);
}

void CountPixels(benchmark::State& state, double pixelsPerIteration) {
    state.counters["pixels/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * pixelsPerIteration, benchmark::Counter::kIsRate);
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
BENCHMARK(BM_SmallTriangles)
    ->ArgsProduct({{4, 8, 16}, {1, 2}})
    ->ArgNames({"cell", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

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
    CountPixels(state, 800.0 * 600.0 * layers);
}
BENCHMARK(BM_ScreenSizedTriangles)
    ->ArgsProduct({{1, 4}, {1, 2}})
    ->ArgNames({"layers", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

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
BENCHMARK(BM_NearPlaneClipping)
    ->ArgsProduct({{100, 1000}, {1, 2}})
    ->ArgNames({"triangles", "threads"})
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

// How far the peer's solid flat frames cover other pixels than the software device's (the
// pixel rules of OpenGL and Direct3D 9 differ on edges): printed once per run.
void ComparePeerCoverage() {
#if defined(ANEMOMETER_BENCH_PEER)
    if (gPeer == nullptr) {
        return;
    }
    long long covered = 0, differing = 0;
    for (int angle = 0; angle < 360; angle += 30) {
        std::vector<std::uint32_t> ours;
        for (IDirect3DDevice9* device : {gSoftware, gPeer}) {
            const SceneOn scene(device);
            SetStartUpRenderStates(device);
            sceneState.rotationDegrees = static_cast<float>(angle);
            RenderFrame();
            if (device == gSoftware) {
                const standin::Image image = standin::BackBuffer(device);
                ours.assign(image.pixels, image.pixels + static_cast<std::size_t>(image.width) * image.height);
            }
        }
        const std::vector<std::uint32_t>& theirs = PeerPixels(gPeer);
        for (std::size_t i = 0; i < ours.size(); ++i) {
            const bool a = (ours[i] & 0xFFFFFFu) != 0;
            const bool b = (theirs[i] & 0xFFFFFFu) != 0;
            covered += a ? 1 : 0;
            differing += a != b ? 1 : 0;
        }
    }
    std::fprintf(stderr, "peer coverage: %lld of %lld covered pixels differ (%.2f %%) over 12 rotor angles\n",
                 differing, covered,
                 covered > 0 ? 100.0 * static_cast<double>(differing) / static_cast<double>(covered) : 0.0);
#endif
}

// The devices are made once, before any benchmark runs, and released after the last.
int main(int argc, char** argv) {
    // The peer's best configuration (see the top of this file).
    setenv("LP_NUM_THREADS", "0", 0);
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 2;
    }
    std::string error;
    if (!OpenCaptureDevice(error)) {
        std::fprintf(stderr, "anemometer-bench: %s\n", error.c_str());
        return 3;
    }
    gSoftware = sceneState.device;
    // The software device on one thread, so that CPU time is its whole cost, except where a
    // benchmark says otherwise; with the widest raster kernels the processor offers, or the set
    // ANEMOMETER_KERNELS names.
    standin::SetRasterThreads(1);
    const char* kernels = std::getenv("ANEMOMETER_KERNELS");
    const std::string kernelSet = kernels != nullptr ? kernels : standin::RasterKernelSets().back();
    if (!standin::UseRasterKernels(kernelSet)) {
        std::fprintf(stderr, "anemometer-bench: this processor has no raster kernel set \"%s\"\n", kernelSet.c_str());
        return 2;
    }
    benchmark::AddCustomContext("raster kernels", kernelSet);
#if defined(ANEMOMETER_BENCH_PEER)
    gPeer = CreatePeerDevice(800, 600);
    if (gPeer == nullptr) {
        std::fprintf(stderr, "anemometer-bench: the OSMesa peer could not be made; its benchmarks are skipped\n");
    }
    ComparePeerCoverage();
#endif
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gPeer != nullptr) {
        gPeer->Release();
    }
    sceneState.device = gSoftware;
    CloseCaptureDevice();
    return 0;
}
