// The runtime's entry point and the Direct3D object: checks the presentation parameters the
// way the runtime does and creates the software device.
#include <new>

#include "platform/d3d9/Device.h"

namespace standin {

namespace {

// The largest back buffer the device accepts in either direction.
constexpr UINT kMaxBackBufferSize = 16384;

bool IsValidPresentationInterval(UINT interval) {
    switch (interval) {
        case D3DPRESENT_INTERVAL_DEFAULT:
        case D3DPRESENT_INTERVAL_ONE:
        case 2:  // D3DPRESENT_INTERVAL_TWO
        case 4:  // D3DPRESENT_INTERVAL_THREE
        case 8:  // D3DPRESENT_INTERVAL_FOUR
        case D3DPRESENT_INTERVAL_IMMEDIATE:
            return true;
        default:
            return false;
    }
}

// Exactly one vertex-processing flag must be given.
bool HasOneVertexProcessingFlag(DWORD behaviorFlags) {
    const DWORD processing = behaviorFlags & (D3DCREATE_SOFTWARE_VERTEXPROCESSING |
                                              D3DCREATE_HARDWARE_VERTEXPROCESSING | D3DCREATE_MIXED_VERTEXPROCESSING);
    return processing == D3DCREATE_SOFTWARE_VERTEXPROCESSING || processing == D3DCREATE_HARDWARE_VERTEXPROCESSING ||
           processing == D3DCREATE_MIXED_VERTEXPROCESSING;
}

// What this device supports of D3DPRESENT_PARAMETERS: a windowed swap chain of up to three
// X8R8G8B8 (or A8R8G8B8) back buffers of an explicit size, without multisampling, and an
// optional D16 automatic depth buffer. The runtime would take a zero width or height from the
// window's client area; the software device has no window system to ask, so it refuses them.
bool ArePresentationParametersSupported(const D3DPRESENT_PARAMETERS& p, HWND focusWindow) {
    const bool windowPresent = focusWindow != nullptr || p.hDeviceWindow != nullptr;
    const bool formatSupported = p.BackBufferFormat == D3DFMT_X8R8G8B8 || p.BackBufferFormat == D3DFMT_A8R8G8B8 ||
                                 p.BackBufferFormat == D3DFMT_UNKNOWN;
    const bool sizeSupported = p.BackBufferWidth > 0 && p.BackBufferHeight > 0 &&
                               p.BackBufferWidth <= kMaxBackBufferSize && p.BackBufferHeight <= kMaxBackBufferSize;
    const bool swapEffectValid = p.SwapEffect == D3DSWAPEFFECT_DISCARD || p.SwapEffect == D3DSWAPEFFECT_FLIP ||
                                 p.SwapEffect == D3DSWAPEFFECT_COPY;
    const bool depthSupported = !p.EnableAutoDepthStencil || p.AutoDepthStencilFormat == D3DFMT_D16;
    return windowPresent && p.Windowed && formatSupported && sizeSupported && p.BackBufferCount <= 3 &&
           p.MultiSampleType == D3DMULTISAMPLE_NONE && swapEffectValid && depthSupported &&
           IsValidPresentationInterval(p.PresentationInterval);
}

}  // namespace

Direct3D::Direct3D() = default;

ULONG Direct3D::AddRef() {
    return ++references_;
}

ULONG Direct3D::Release() {
    const ULONG left = --references_;
    if (left == 0) {
        delete this;
    }
    return left;
}

HRESULT Direct3D::CreateDevice(UINT adapter, D3DDEVTYPE deviceType, HWND focusWindow, DWORD behaviorFlags,
                               D3DPRESENT_PARAMETERS* presentationParameters, IDirect3DDevice9** returnedDevice) {
    if (returnedDevice == nullptr) {
        return D3DERR_INVALIDCALL;
    }
    *returnedDevice = nullptr;
    if (presentationParameters == nullptr || adapter != D3DADAPTER_DEFAULT ||
        (deviceType != D3DDEVTYPE_HAL && deviceType != D3DDEVTYPE_REF) || !HasOneVertexProcessingFlag(behaviorFlags) ||
        !ArePresentationParametersSupported(*presentationParameters, focusWindow)) {
        return D3DERR_INVALIDCALL;
    }

    // The runtime writes back what it chose: the display format for UNKNOWN, one back buffer for 0.
    D3DPRESENT_PARAMETERS& parameters = *presentationParameters;
    if (parameters.BackBufferFormat == D3DFMT_UNKNOWN) {
        parameters.BackBufferFormat = D3DFMT_X8R8G8B8;
    }
    if (parameters.BackBufferCount == 0) {
        parameters.BackBufferCount = 1;
    }

    const std::size_t pixels = std::size_t{parameters.BackBufferWidth} * parameters.BackBufferHeight;
    try {
        // Contents are undefined until the first Clear; this device starts with black and the
        // farthest depth.
        std::vector<std::uint32_t> color(pixels, 0);
        std::vector<std::uint16_t> depth(parameters.EnableAutoDepthStencil ? pixels : 0, 0xFFFF);
        *returnedDevice = new Device(this, focusWindow, parameters, std::move(color), std::move(depth));
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return D3D_OK;
}

}  // namespace standin

IDirect3D9* WINAPI Direct3DCreate9(UINT sdkVersion) {
    if (sdkVersion != D3D_SDK_VERSION) {
        return nullptr;
    }
    return new (std::nothrow) standin::Direct3D();
}
