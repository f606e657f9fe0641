// The keyboard controls: arrows and Page Up / Page Down move the eye, F1 to F7 switch render
// states on the device at once. Every key, listed or not, then goes to the default procedure.
#include "scene/Scene.h"

LRESULT HandleKeyDown(HWND window, WPARAM wParam, LPARAM lParam) {
    IDirect3DDevice9* device = sceneState.device;
    const auto setState = [device](D3DRENDERSTATETYPE state, DWORD value) {
        if (device != nullptr) {
            device->SetRenderState(state, value);
        }
    };

    switch (wParam) {
        case VK_PRIOR:
            sceneState.eyeOffsetZ += 1.0f;
            break;
        case VK_NEXT:
            sceneState.eyeOffsetZ -= 1.0f;
            break;
        case VK_LEFT:
            sceneState.eyeOffsetX -= 1.0f;
            break;
        case VK_UP:
            sceneState.eyeOffsetY += 1.0f;
            break;
        case VK_RIGHT:
            sceneState.eyeOffsetX += 1.0f;
            break;
        case VK_DOWN:
            sceneState.eyeOffsetY -= 1.0f;
            break;
        case VK_F1:
            setState(D3DRS_FILLMODE, D3DFILL_SOLID);
            break;
        case VK_F2:
            setState(D3DRS_FILLMODE, D3DFILL_WIREFRAME);
            break;
        // Every batch sets its own cull mode, so this one is replaced before anything is drawn.
        case VK_F3:
            setState(D3DRS_CULLMODE, D3DCULL_CW);
            break;
        case VK_F4:
            setState(D3DRS_SHADEMODE, D3DSHADE_FLAT);
            break;
        case VK_F5:
            setState(D3DRS_SHADEMODE, D3DSHADE_GOURAUD);
            break;
        case VK_F6:
            setState(D3DRS_ZENABLE, D3DZB_TRUE);
            break;
        case VK_F7:
            setState(D3DRS_ZENABLE, D3DZB_FALSE);
            break;
        default:
            break;
    }
    return DefWindowProcA(window, WM_KEYDOWN, wParam, lParam);
}
