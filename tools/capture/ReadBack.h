// What the capture tool needs of its host's Direct3D 9 beyond what the viewer itself uses: a
// window and a device to draw on without showing anything, and the finished frame read back.
// One implementation per platform, chosen by CMake: ReadBackStandin.cpp for the software
// device, ReadBackWindows.cpp for the real runtime.
#pragma once

#include <functional>
#include <string>

#include "device/Win32Api.h"
#include "tools/capture/PngWriter.h"

// Makes the window the device needs (never shown) and the device, set up as the viewer's
// InitDevice sets it up, into sceneState. On failure gives the reason and leaves nothing made.
bool OpenCaptureDevice(std::string& error);

// The window the device was made for; key messages are sent to it.
HWND CaptureWindow();

// Runs drawFrame, which draws one frame on sceneState.device and presents it once (RenderFrame,
// or a replayed trace), and gives back the image as it stood when it was presented. False, with
// the reason, when it cannot be read.
bool CaptureFrame(const std::function<void()>& drawFrame, CapturedFrame& frame, std::string& error);

// Releases the device, the Direct3D object and the window.
void CloseCaptureDevice();
