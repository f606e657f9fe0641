// Inside the Win32 stand-in: the presenter that the start-up installs in the software Direct3D 9,
// so that Present shows each finished frame in the device window.
#pragma once

#include <chrono>

#include "platform/d3d9/Standin.h"

namespace standin::win32 {

// Shows a frame in the window's client area, one frame per refresh of the display, as
// D3DPRESENT_INTERVAL_DEFAULT does. A client area of another size than the frame gets the frame
// stretched with StretchBilinear; otherwise the frame goes to the window as it is. Each frame
// waits for its turn on a clock ticking at the display mode's refresh rate (60 Hz when the
// display reports none); where the window shows frames through a renderer that waits for the
// display's refresh (vsync), the clock follows the display instead. A minimised window (no
// client area), a destroyed one or a missing image shows nothing, and the frame still takes its
// turn, so the animation keeps its pace.
class WindowPresenter final : public Presenter {
public:
    void Present(HWND window, const Image& backBuffer) override;

private:
    using Clock = std::chrono::steady_clock;

    // Shows the frame; true when the show went through a renderer that may have waited for
    // the display's refresh.
    bool Show(HWND window, const Image& backBuffer);

    double refreshRate_ = 60.0;  // of the window's display, in Hz
    // The frame before: a frame's changed box holds only against the one its device presented
    // last, and only if that went to the same window.
    const std::uint32_t* lastPixels_ = nullptr;
    HWND lastWindow_ = nullptr;
    Clock::time_point turn_{};  // when the next frame may be shown
    bool started_ = false;
};

}  // namespace standin::win32
