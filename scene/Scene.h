// The scene: one frame, the anemometer's assembly and the keyboard controls.
#pragma once

#include "device/Win32Api.h"
#include "scene/SceneState.h"

// Draws one complete frame on sceneState.device and advances the rotor by one degree.
void RenderFrame();

// Sets a world matrix for each of the instrument's eight pieces and draws it. Called by
// RenderFrame inside the scene; reads sceneState.rotationDegrees.
void AssembleAnemometer();

// The WM_KEYDOWN branch of the window procedure: performs the key's action, if it has one, and
// returns what the default window procedure returns for the message.
LRESULT HandleKeyDown(HWND window, WPARAM wParam, LPARAM lParam);
