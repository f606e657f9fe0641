// The one process-wide record that the frame, the keyboard and the device set-up share.
#pragma once

#include "device/D3D9Api.h"

struct SceneState {
    IDirect3D9* direct3d;      // from InitDevice until ReleaseDevice
    IDirect3DDevice9* device;  // same lifetime; every drawing call goes to it
    float eyeOffsetX;          // added to the eye's x; the keyboard moves it in steps of 1
    float eyeOffsetY;          // added to the eye's base y of 20
    float eyeOffsetZ;          // added to the eye's base z of -30
    float rotationDegrees;     // rotor angle in whole degrees, 0 to 359 between frames
};

// Zero-initialised at start and alive until the process ends.
extern SceneState sceneState;
