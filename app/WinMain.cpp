// Where the viewer starts and ends: the window class, the window, the device, the main loop.
#include "app/App.h"
#include "device/Device.h"
#include "scene/Scene.h"

namespace {

constexpr char kClassName[] = "WindowClass";
constexpr char kTitle[] = "D3D9 Quillabern";
constexpr int kOuterWidth = 800;
constexpr int kOuterHeight = 600;

// Tells the user why the viewer cannot start, closes the window if there is one, and gives the
// exit code that says so. The box comes first: once the window is destroyed a quit message is
// pending, and Windows' message boxes close at once when they meet one.
int FailStart(HWND window, const char* text) {
    MessageBoxA(window, text, kTitle, MB_OK | MB_ICONERROR);
    if (window != nullptr) {
        DestroyWindow(window);
    }
    return 1;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    WNDCLASSEXA wc{};
    wc.cbSize = static_cast<UINT>(sizeof(WNDCLASSEXA));  // the record's own size: 80 bytes on 64-bit Windows
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = kClassName;
    RegisterClassExA(&wc);

    HWND window = CreateWindowExA(0, kClassName, kTitle, WS_OVERLAPPEDWINDOW, 0, 0, kOuterWidth, kOuterHeight, nullptr,
                                  nullptr, instance, nullptr);
    if (window == nullptr) {
        return FailStart(nullptr, "The window could not be created.");
    }
    ShowWindow(window, showCommand);

    InitDevice(window);
    if (sceneState.device == nullptr) {
        return FailStart(window, "Direct3D 9 could not be started: no device for this display.");
    }

    const WPARAM exitCode = RunMainLoop();
    ReleaseDevice();
    return static_cast<int>(exitCode);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_SIZE:
            return 0;  // the back buffer stays 800 x 600; Present stretches it to the client area
        case WM_KEYDOWN:
            return HandleKeyDown(window, wParam, lParam);
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}
