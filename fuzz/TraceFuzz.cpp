// The capture tool's trace reader and its replay on a software device: any text is read, and
// what is accepted is replayed, within the reader's limits.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/d3d9/Standin.h"
#include "tools/capture/Replay.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    std::vector<TraceCall> calls;
    std::string error;
    if (!ParseTrace(text, calls, error)) {
        if (!calls.empty() || error.empty()) {
            __builtin_trap();  // a refusal says why and keeps nothing
        }
        return 0;
    }
    // A small back buffer keeps each run fast; the replay's work limit still applies.
    IDirect3D9* direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    D3DPRESENT_PARAMETERS parameters{};
    parameters.BackBufferWidth = 80;
    parameters.BackBufferHeight = 60;
    parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
    parameters.SwapEffect = D3DSWAPEFFECT_DISCARD;
    parameters.hDeviceWindow = reinterpret_cast<HWND>(std::uintptr_t{0x1000});
    parameters.Windowed = TRUE;
    parameters.EnableAutoDepthStencil = TRUE;
    parameters.AutoDepthStencilFormat = D3DFMT_D16;
    IDirect3DDevice9* device = nullptr;
    if (SUCCEEDED(direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, parameters.hDeviceWindow,
                                         D3DCREATE_SOFTWARE_VERTEXPROCESSING, &parameters, &device))) {
        ReplayTrace(calls, device, error);
        device->Release();
    }
    direct3d->Release();
    if (standin::LiveVertexBuffers() != 0 || standin::LiveDevices() != 0) {
        __builtin_trap();  // the replay let a buffer or the device outlive it
    }
    return 0;
}
