// The capture tool on the real Direct3D 9 (Windows, or Wine).
//
// The frame must be taken before Present or from a back buffer that Present leaves alone.
// The viewer's device uses D3DSWAPEFFECT_DISCARD, after which the back buffer is undefined,
// and RenderFrame presents before it returns. So the tool makes its own device, exactly as
// InitDevice does (same presentation parameters, same start-up render states in the same
// order) except for one field: SwapEffect = D3DSWAPEFFECT_COPY. With a single back buffer the
// runtime guarantees that Present leaves the back buffer's content unchanged (Direct3D 9
// documentation, D3DSWAPEFFECT), so after RenderFrame returns the back buffer still holds the
// frame: it is copied to system memory with GetRenderTargetData and read with LockRect. The
// swap effect decides only what happens to the buffer after Present, not what is drawn.
#include <cstdint>
#include <cstring>

#include "device/D3D9Api.h"
#include "device/Device.h"
#include "scene/SceneState.h"
#include "tools/capture/ReadBack.h"

namespace {

constexpr char kWindowClassName[] = "AnemometerCaptureWindow";

HWND captureWindow = nullptr;
HINSTANCE captureInstance = nullptr;

std::string HexResult(HRESULT hr) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text = "0x";
    for (int shift = 28; shift >= 0; shift -= 4) {
        text += kDigits[(static_cast<std::uint32_t>(hr) >> shift) & 0xF];
    }
    return text;
}

template <typename Interface>
void ReleaseAndClear(Interface*& object) {
    if (object != nullptr) {
        object->Release();
        object = nullptr;
    }
}

// The window only anchors the device; it is never shown and handles nothing itself.
bool CreateCaptureWindow(std::string& error) {
    captureInstance = GetModuleHandleA(nullptr);
    WNDCLASSEXA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = static_cast<UINT>(sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = captureInstance;
    windowClass.lpszClassName = kWindowClassName;
    if (RegisterClassExA(&windowClass) == 0) {
        error = "RegisterClassExA failed (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    captureWindow = CreateWindowExA(0, kWindowClassName, "anemometer-capture", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600,
                                    nullptr, nullptr, captureInstance, nullptr);
    if (captureWindow == nullptr) {
        error = "CreateWindowExA failed (error " + std::to_string(GetLastError()) + ")";
        UnregisterClassA(kWindowClassName, captureInstance);
        return false;
    }
    return true;
}

}  // namespace

bool OpenCaptureDevice(std::string& error) {
    if (!CreateCaptureWindow(error)) {
        return false;
    }
    sceneState.direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (sceneState.direct3d == nullptr) {
        error = "Direct3DCreate9 failed: no Direct3D 9 runtime";
        CloseCaptureDevice();
        return false;
    }

    // InitDevice's presentation parameters, but with a back buffer that survives Present.
    D3DPRESENT_PARAMETERS parameters = ViewerPresentParameters(captureWindow);
    parameters.SwapEffect = D3DSWAPEFFECT_COPY;

    const HRESULT hr =
        sceneState.direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, captureWindow,
                                          D3DCREATE_SOFTWARE_VERTEXPROCESSING, &parameters, &sceneState.device);
    if (FAILED(hr) || sceneState.device == nullptr) {
        error = "CreateDevice failed with " + HexResult(hr);
        sceneState.device = nullptr;
        CloseCaptureDevice();
        return false;
    }

    SetStartUpRenderStates(sceneState.device);
    return true;
}

HWND CaptureWindow() {
    return captureWindow;
}

bool CaptureFrame(const std::function<void()>& drawFrame, CapturedFrame& frame, std::string& error) {
    drawFrame();

    IDirect3DDevice9* device = sceneState.device;
    IDirect3DSurface9* backBuffer = nullptr;
    IDirect3DSurface9* copy = nullptr;
    bool ok = false;
    do {
        HRESULT hr = device->GetBackBuffer(0, 0, D3DBACKBUFFER_TYPE_MONO, &backBuffer);
        if (FAILED(hr)) {
            error = "GetBackBuffer failed with " + HexResult(hr);
            break;
        }
        D3DSURFACE_DESC description;
        hr = backBuffer->GetDesc(&description);
        if (FAILED(hr)) {
            error = "GetDesc of the back buffer failed with " + HexResult(hr);
            break;
        }
        if (description.Format != D3DFMT_X8R8G8B8 && description.Format != D3DFMT_A8R8G8B8) {
            error = "the back buffer's format " + std::to_string(static_cast<int>(description.Format)) +
                    " is not 32-bit RGB";
            break;
        }
        hr = device->CreateOffscreenPlainSurface(description.Width, description.Height, description.Format,
                                                 D3DPOOL_SYSTEMMEM, &copy, nullptr);
        if (FAILED(hr)) {
            error = "CreateOffscreenPlainSurface failed with " + HexResult(hr);
            break;
        }
        hr = device->GetRenderTargetData(backBuffer, copy);
        if (FAILED(hr)) {
            error = "GetRenderTargetData failed with " + HexResult(hr);
            break;
        }
        D3DLOCKED_RECT locked;
        hr = copy->LockRect(&locked, nullptr, D3DLOCK_READONLY);
        if (FAILED(hr)) {
            error = "LockRect failed with " + HexResult(hr);
            break;
        }
        frame.width = static_cast<int>(description.Width);
        frame.height = static_cast<int>(description.Height);
        frame.pixels.resize(static_cast<std::size_t>(description.Width) * description.Height);
        const auto* source = static_cast<const std::uint8_t*>(locked.pBits);
        for (UINT y = 0; y < description.Height; ++y) {
            // rows are locked.Pitch bytes apart, which may exceed the row's own size
            std::memcpy(frame.pixels.data() + static_cast<std::size_t>(y) * description.Width,
                        source + static_cast<std::size_t>(y) * static_cast<std::size_t>(locked.Pitch),
                        description.Width * sizeof(std::uint32_t));
        }
        copy->UnlockRect();
        ok = true;
    } while (false);
    ReleaseAndClear(copy);
    ReleaseAndClear(backBuffer);
    return ok;
}

void CloseCaptureDevice() {
    ReleaseAndClear(sceneState.device);
    ReleaseAndClear(sceneState.direct3d);
    if (captureWindow != nullptr) {
        DestroyWindow(captureWindow);
        captureWindow = nullptr;
    }
    if (captureInstance != nullptr) {
        UnregisterClassA(kWindowClassName, captureInstance);
        captureInstance = nullptr;
    }
}
