// Creation and release of the Direct3D object and the rendering device.
#pragma once

#include "device/D3D9Api.h"

// Creates the Direct3D object and a windowed 800 x 600 device for the window, stores both in
// sceneState and sets the start-up render states. When either cannot be created, both fields
// are left null (nothing half-made is kept), so the caller can tell the user and stop.
void InitDevice(HWND window);

// Releases the device, then the Direct3D object, and clears both fields.
void ReleaseDevice();

// The two halves of InitDevice, for programs beside the viewer that need a device made the same
// way (the capture tool on Windows changes only the swap effect): the presentation parameters
// for the window, and the start-up render states, set in their order.
D3DPRESENT_PARAMETERS ViewerPresentParameters(HWND window);
void SetStartUpRenderStates(IDirect3DDevice9* device);
