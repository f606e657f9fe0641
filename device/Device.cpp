// Creation and release of the Direct3D object and the windowed rendering device.
#include "device/Device.h"

#include "device/D3D9Api.h"
#include "scene/SceneState.h"

D3DPRESENT_PARAMETERS ViewerPresentParameters(HWND window) {
    D3DPRESENT_PARAMETERS d3dpp{};
    d3dpp.BackBufferWidth = 800;
    d3dpp.BackBufferHeight = 600;
    d3dpp.BackBufferFormat = D3DFMT_X8R8G8B8;
    d3dpp.BackBufferCount = 0;
    d3dpp.MultiSampleType = D3DMULTISAMPLE_NONE;
    d3dpp.MultiSampleQuality = 0;
    d3dpp.SwapEffect = D3DSWAPEFFECT_DISCARD;
    d3dpp.hDeviceWindow = window;
    d3dpp.Windowed = TRUE;
    d3dpp.EnableAutoDepthStencil = TRUE;
    d3dpp.AutoDepthStencilFormat = D3DFMT_D16;
    d3dpp.Flags = 0;
    d3dpp.FullScreen_RefreshRateInHz = 0;
    d3dpp.PresentationInterval = D3DPRESENT_INTERVAL_DEFAULT;
    return d3dpp;
}

void SetStartUpRenderStates(IDirect3DDevice9* device) {
    device->SetRenderState(D3DRS_LIGHTING, FALSE);
    device->SetRenderState(D3DRS_CULLMODE, D3DCULL_NONE);
    device->SetRenderState(D3DRS_ZENABLE, D3DZB_TRUE);
    device->SetRenderState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
    device->SetRenderState(D3DRS_FILLMODE, D3DFILL_SOLID);
}

void InitDevice(HWND window) {
    sceneState.direct3d = Direct3DCreate9(D3D_SDK_VERSION);
    if (sceneState.direct3d == nullptr) {
        return;
    }

    D3DPRESENT_PARAMETERS d3dpp = ViewerPresentParameters(window);
    IDirect3DDevice9* device = nullptr;
    if (FAILED(sceneState.direct3d->CreateDevice(D3DADAPTER_DEFAULT, D3DDEVTYPE_HAL, window,
                                                 D3DCREATE_SOFTWARE_VERTEXPROCESSING, &d3dpp, &device)) ||
        device == nullptr) {
        // Nothing half-made is kept: without a device there is no viewer.
        sceneState.direct3d->Release();
        sceneState.direct3d = nullptr;
        return;
    }
    sceneState.device = device;
    SetStartUpRenderStates(device);
}

void ReleaseDevice() {
    if (sceneState.device != nullptr) {
        sceneState.device->Release();
        sceneState.device = nullptr;
    }
    if (sceneState.direct3d != nullptr) {
        sceneState.direct3d->Release();
        sceneState.direct3d = nullptr;
    }
}
