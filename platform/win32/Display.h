// Inside the Win32 stand-in: what the window's display offers for showing frames.
#pragma once

struct SDL_Window;

namespace standin::win32 {

// True when the display that shows the window draws with a GPU, so that SDL's accelerated
// renderer is cheap and can wait for the display's refresh; false where OpenGL would run on the
// CPU (an X server without direct rendering, such as Xvfb) or where SDL has no display at all.
// Asks the display, never OpenGL, so nothing of a GL stack is loaded by asking.
bool DisplayHasGpu(SDL_Window* window);

}  // namespace standin::win32
