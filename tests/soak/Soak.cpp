// A long headless run of the viewer's frame and keyboard code on the software device:
//   soak [FRAMES]   (default 200000)
// Between frames, a random storm of the viewer's keys (arrows, Page Up/Down, F1 to F7); in one
// stretch a million presses of Left spread over the frames; in another the eye put on the
// vertical line through the origin (above and below it). It checks, and reports every
// 20,000 frames: the process's resident memory (flat after the first stretch), the live vertex
// buffers after each frame (always the one the device still has bound) and that no matrix handed
// to the device holds a NaN. Exit code 0 when all held.
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>

#include "platform/d3d9/Standin.h"
#include "scene/Scene.h"
#include "scene/SceneState.h"
#include "tools/capture/ReadBack.h"

namespace {

// Passes every call on, and counts matrices with a NaN on their way to the device.
class CheckingDevice final : public IDirect3DDevice9 {
public:
    explicit CheckingDevice(IDirect3DDevice9* inner) : inner_(inner) {}
    long nanMatrices = 0;
    long matrices = 0;

    ULONG STDMETHODCALLTYPE AddRef() override { return inner_->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return inner_->Release(); }
    HRESULT STDMETHODCALLTYPE Clear(DWORD count, const D3DRECT* rects, DWORD flags, D3DCOLOR color, float z,
                                    DWORD stencil) override {
        return inner_->Clear(count, rects, flags, color, z, stencil);
    }
    HRESULT STDMETHODCALLTYPE BeginScene() override { return inner_->BeginScene(); }
    HRESULT STDMETHODCALLTYPE EndScene() override { return inner_->EndScene(); }
    HRESULT STDMETHODCALLTYPE Present(const RECT* source, const RECT* dest, HWND window,
                                      const RGNDATA* region) override {
        return inner_->Present(source, dest, window, region);
    }
    HRESULT STDMETHODCALLTYPE SetRenderState(D3DRENDERSTATETYPE state, DWORD value) override {
        return inner_->SetRenderState(state, value);
    }
    HRESULT STDMETHODCALLTYPE GetRenderState(D3DRENDERSTATETYPE state, DWORD* value) override {
        return inner_->GetRenderState(state, value);
    }
    HRESULT STDMETHODCALLTYPE SetTransform(D3DTRANSFORMSTATETYPE state, const D3DMATRIX* matrix) override {
        ++matrices;
        if (matrix != nullptr) {
            for (const auto& row : matrix->m) {
                for (float value : row) {
                    if (std::isnan(value)) {
                        ++nanMatrices;
                        return inner_->SetTransform(state, matrix);
                    }
                }
            }
        }
        return inner_->SetTransform(state, matrix);
    }
    HRESULT STDMETHODCALLTYPE GetTransform(D3DTRANSFORMSTATETYPE state, D3DMATRIX* matrix) override {
        return inner_->GetTransform(state, matrix);
    }
    HRESULT STDMETHODCALLTYPE SetFVF(DWORD fvf) override { return inner_->SetFVF(fvf); }
    HRESULT STDMETHODCALLTYPE GetFVF(DWORD* fvf) override { return inner_->GetFVF(fvf); }
    HRESULT STDMETHODCALLTYPE GetViewport(D3DVIEWPORT9* viewport) override { return inner_->GetViewport(viewport); }
    HRESULT STDMETHODCALLTYPE CreateVertexBuffer(UINT length, DWORD usage, DWORD fvf, D3DPOOL pool,
                                                 IDirect3DVertexBuffer9** buffer, HANDLE* shared) override {
        return inner_->CreateVertexBuffer(length, usage, fvf, pool, buffer, shared);
    }
    HRESULT STDMETHODCALLTYPE SetStreamSource(UINT stream, IDirect3DVertexBuffer9* buffer, UINT offset,
                                              UINT stride) override {
        return inner_->SetStreamSource(stream, buffer, offset, stride);
    }
    HRESULT STDMETHODCALLTYPE DrawPrimitive(D3DPRIMITIVETYPE type, UINT start, UINT count) override {
        return inner_->DrawPrimitive(type, start, count);
    }

private:
    IDirect3DDevice9* inner_;
};

long ResidentKilobytes() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

}  // namespace

int main(int argc, char** argv) {
    const long frames = argc > 1 ? std::atol(argv[1]) : 200000;
    std::string error;
    if (!OpenCaptureDevice(error)) {
        std::fprintf(stderr, "soak: %s\n", error.c_str());
        return 2;
    }
    IDirect3DDevice9* device = sceneState.device;
    CheckingDevice checking(device);
    sceneState.device = &checking;

    const unsigned int keys[] = {VK_LEFT, VK_RIGHT, VK_UP, VK_DOWN, VK_PRIOR, VK_NEXT, VK_F1,
                                 VK_F2,   VK_F3,    VK_F4, VK_F5,   VK_F6,    VK_F7};
    std::mt19937 random(20260101);
    const long leftStart = frames / 5, leftEnd = 2 * frames / 5;  // a million Lefts in here
    const long lineStart = 3 * frames / 5, lineEnd = 4 * frames / 5;
    const long leftPerFrame = (1000000 + (leftEnd - leftStart) - 1) / std::max(1L, leftEnd - leftStart);
    long presses = 0, leftPresses = 0;
    long baseline = 0, peak = 0;
    int buffersAfterFrame = -1;
    bool ok = true;
    const auto started = std::chrono::steady_clock::now();

    for (long frame = 0; frame < frames; ++frame) {
        if (frame >= leftStart && frame < leftEnd) {
            for (long i = 0; i < leftPerFrame && leftPresses < 1000000; ++i, ++leftPresses, ++presses) {
                HandleKeyDown(CaptureWindow(), VK_LEFT, 1);
            }
        } else if (frame == leftEnd) {
            sceneState.eyeOffsetX = 0.0f;  // back near the instrument
        }
        if (frame >= lineStart && frame < lineEnd) {
            // The eye on the vertical through the origin, above or below it, even at it.
            sceneState.eyeOffsetX = 0.0f;
            sceneState.eyeOffsetZ = 30.0f;
            sceneState.eyeOffsetY = static_cast<float>(static_cast<int>(random() % 81) - 40);
        } else {
            for (unsigned int n = random() % 4; n > 0; --n, ++presses) {
                HandleKeyDown(CaptureWindow(), keys[random() % std::size(keys)], 1);
            }
        }
        RenderFrame();

        const int live = standin::LiveVertexBuffers();
        if (buffersAfterFrame < 0) {
            buffersAfterFrame = live;
        } else if (live != buffersAfterFrame) {
            std::fprintf(stderr, "soak: frame %ld: %d vertex buffers live, after the first frame %d\n", frame, live,
                         buffersAfterFrame);
            ok = false;
            buffersAfterFrame = live;
        }
        if ((frame + 1) % 20000 == 0 || frame + 1 == frames) {
            const long resident = ResidentKilobytes();
            peak = std::max(peak, resident);
            if (baseline == 0) {
                baseline = resident;
            }
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            std::printf("frame %ld: %.0f s, resident %ld KB, vertex buffers live %d, keys %ld, NaN matrices %ld\n",
                        frame + 1, seconds, resident, live, presses, checking.nanMatrices);
            std::fflush(stdout);
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const long final = ResidentKilobytes();
    std::printf(
        "soak: %ld frames in %.0f s (%.0f frames/s), %ld key presses (%ld of Left), %ld matrices of which "
        "%ld with NaN; resident memory first %ld KB, last %ld KB, peak %ld KB (getrusage max %ld KB)\n",
        frames, seconds, static_cast<double>(frames) / seconds, presses, leftPresses, checking.matrices,
        checking.nanMatrices, baseline, final, peak, usage.ru_maxrss);
    sceneState.device = device;
    CloseCaptureDevice();
    if (checking.nanMatrices != 0) {
        ok = false;
    }
    if (final > baseline + baseline / 20 + 1024) {  // flat: within 5 % and 1 MB of the first reading
        std::fprintf(stderr, "soak: resident memory grew from %ld KB to %ld KB\n", baseline, final);
        ok = false;
    }
    if (standin::LiveVertexBuffers() != 0 || standin::LiveDevices() != 0) {
        std::fprintf(stderr, "soak: objects outlive the device\n");
        ok = false;
    }
    std::printf("soak: %s\n", ok ? "passed" : "FAILED");
    return ok ? 0 : 1;
}
