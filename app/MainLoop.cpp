#include "app/App.h"
#include "scene/Scene.h"

WPARAM RunMainLoop() {
    MSG msg{};  // the last message taken; a peek that finds nothing leaves it as it was
    for (;;) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (msg.message == WM_QUIT) {
            return msg.wParam;
        }
        RenderFrame();
    }
}
