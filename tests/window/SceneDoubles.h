// Stand-ins for the scene and the device set-up, so that the application's WinMain, main loop and
// window procedure run in the tests over the real Win32 stand-in but without rendering anything.
#pragma once

#include <functional>
#include <vector>

#include "device/Win32Api.h"

namespace doubles {

struct KeyRecord {
    HWND window;
    WPARAM key;
    LPARAM lParam;
};

// What the doubles did, and what they are told to do. Reset() before each test.
struct Script {
    bool deviceAvailable = true;             // InitDevice leaves the device null when false
    HWND deviceWindow = nullptr;             // the window InitDevice was given
    int releases = 0;                        // calls of ReleaseDevice
    std::vector<float> framesEyeOffsetX;     // sceneState.eyeOffsetX as each frame saw it
    std::vector<KeyRecord> keys;             // every HandleKeyDown call
    std::vector<int> keyFrames;              // frames rendered before each of those calls
    std::function<void(int frame)> onFrame;  // runs inside RenderFrame; frame counts from 0
    int frameLimit = 1000;                   // a runaway loop is stopped by posting WM_QUIT(99)
};

Script& TheScript();
void Reset();

}  // namespace doubles
