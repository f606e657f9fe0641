#include "tests/window/SceneDoubles.h"

#include "device/Device.h"
#include "scene/Scene.h"

SceneState sceneState{};

namespace doubles {

Script& TheScript() {
    static Script script;
    return script;
}

void Reset() {
    TheScript() = Script{};
    sceneState = SceneState{};
}

}  // namespace doubles

namespace {

char fakeDevice;  // its address stands for a device; the application only compares it with null

}  // namespace

void InitDevice(HWND window) {
    doubles::TheScript().deviceWindow = window;
    if (doubles::TheScript().deviceAvailable) {
        sceneState.device = reinterpret_cast<IDirect3DDevice9*>(&fakeDevice);
    }
}

void ReleaseDevice() {
    ++doubles::TheScript().releases;
    sceneState.device = nullptr;
}

void RenderFrame() {
    doubles::Script& script = doubles::TheScript();
    const int frame = static_cast<int>(script.framesEyeOffsetX.size());
    script.framesEyeOffsetX.push_back(sceneState.eyeOffsetX);
    if (script.onFrame) {
        script.onFrame(frame);
    }
    if (frame + 1 >= script.frameLimit) {
        PostMessageA(nullptr, WM_QUIT, 99, 0);
    }
}

void AssembleAnemometer() {}

// Moves the eye one step left for VK_LEFT, as the real handler does, so that frames can see it.
LRESULT HandleKeyDown(HWND window, WPARAM wParam, LPARAM lParam) {
    doubles::Script& script = doubles::TheScript();
    script.keys.push_back({window, wParam, lParam});
    script.keyFrames.push_back(static_cast<int>(script.framesEyeOffsetX.size()));
    if (wParam == VK_LEFT) {
        sceneState.eyeOffsetX -= 1.0f;
    }
    return DefWindowProcA(window, WM_KEYDOWN, wParam, lParam);
}
