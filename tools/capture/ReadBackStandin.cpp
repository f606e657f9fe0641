// The capture tool on the software Direct3D 9 device.
//
// The device is made by the viewer's own InitDevice. RenderFrame presents before it returns,
// and with D3DSWAPEFFECT_DISCARD the back buffer is undefined after Present, so the frame is
// taken inside Present: a presenter installed for the captured frame copies the image the
// device hands it.
//
// The window comes from the Win32 stand-in, which makes an SDL window (hidden, as the tool never
// shows it). So that no display is needed, SDL's "dummy" video driver is chosen unless
// SDL_VIDEODRIVER already names one.
#include <cstdlib>
#include <cstring>

#include "device/Device.h"
#include "platform/d3d9/Standin.h"
#include "scene/SceneState.h"
#include "tools/capture/ReadBack.h"

namespace {

constexpr char kWindowClassName[] = "AnemometerCaptureWindow";

HWND captureWindow = nullptr;

// Keeps a copy of every frame presented while it is installed.
class CopyingPresenter final : public standin::Presenter {
public:
    void Present(HWND, const standin::Image& backBuffer) override {
        frame.width = backBuffer.width;
        frame.height = backBuffer.height;
        frame.pixels.assign(backBuffer.pixels,
                            backBuffer.pixels + static_cast<std::size_t>(backBuffer.width) * backBuffer.height);
        ++presented;
    }

    CapturedFrame frame;
    int presented = 0;
};

}  // namespace

bool OpenCaptureDevice(std::string& error) {
    setenv("SDL_VIDEODRIVER", "dummy", 0);  // 0: an existing value wins
    WNDCLASSEXA windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = static_cast<UINT>(sizeof windowClass);
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kWindowClassName;
    RegisterClassExA(&windowClass);
    captureWindow = CreateWindowExA(0, kWindowClassName, "anemometer-capture", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600,
                                    nullptr, nullptr, windowClass.hInstance, nullptr);
    if (captureWindow == nullptr) {
        error = "the window for the device could not be created";
        return false;
    }
    InitDevice(captureWindow);
    if (sceneState.device == nullptr) {
        error = "the software Direct3D 9 device could not be created";
        CloseCaptureDevice();
        return false;
    }
    return true;
}

HWND CaptureWindow() {
    return captureWindow;
}

bool CaptureFrame(const std::function<void()>& drawFrame, CapturedFrame& frame, std::string& error) {
    CopyingPresenter presenter;
    standin::SetPresenter(&presenter);
    drawFrame();
    standin::SetPresenter(nullptr);
    if (presenter.presented != 1 || presenter.frame.pixels.empty()) {
        error = "the device presented " + std::to_string(presenter.presented) + " frames instead of one";
        return false;
    }
    frame = std::move(presenter.frame);
    return true;
}

void CloseCaptureDevice() {
    ReleaseDevice();
    if (captureWindow != nullptr) {
        DestroyWindow(captureWindow);
        captureWindow = nullptr;
    }
}
