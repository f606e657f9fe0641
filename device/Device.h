// Creation and release of the Direct3D object and the rendering device.
#pragma once

#include "device/Win32Api.h"

// Creates the Direct3D object and a windowed 800 x 600 device for the window, stores both in
// sceneState and sets the start-up render states. Returns false, with nothing left behind in
// sceneState, when either cannot be created.
bool InitDevice(HWND window);

// Releases the device, then the Direct3D object.
void ReleaseDevice();
