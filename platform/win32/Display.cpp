// Whether the window's display draws with a GPU, asked of the display itself and not of OpenGL:
// opening a GL context only to ask would load the GL stack (tens of megabytes, and a shader
// compiler that stays mapped for good) into a process that may never use it. Kept apart from
// the rest of the stand-in because Xlib's header defines names (Bool, Status, None, Window)
// that must not meet the Win32 subset's.
#include "platform/win32/Display.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <cstring>

namespace standin::win32 {

bool DisplayHasGpu(SDL_Window* window) {
    const char* driver = SDL_GetCurrentVideoDriver();
    if (window == nullptr || driver == nullptr) {
        return false;
    }
    if (std::strcmp(driver, "x11") == 0) {
#if defined(SDL_VIDEO_DRIVER_X11)
        // An X server lends its GPU to clients through DRI3 or DRI2 (Mesa's drivers) or NV-GLX
        // (NVIDIA's); one without them (Xvfb, a server on a dumb frame buffer) leaves OpenGL to
        // a software rasterizer in the client. And only over a local socket: a display reached
        // over the network ("host:0", or SSH's forwarded "localhost:10") cannot lend its GPU,
        // whatever extensions it offers.
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (SDL_GetWindowWMInfo(window, &info) != SDL_TRUE || info.subsystem != SDL_SYSWM_X11) {
            return false;
        }
        const char* name = XDisplayString(info.info.x11.display);
        if (name == nullptr || !(name[0] == ':' || std::strncmp(name, "unix:", 5) == 0 || name[0] == '/')) {
            return false;
        }
        constexpr const char* kGpuExtensions[] = {"DRI3", "DRI2", "NV-GLX"};
        for (const char* extension : kGpuExtensions) {
            int opcode = 0, firstEvent = 0, firstError = 0;
            if (XQueryExtension(info.info.x11.display, extension, &opcode, &firstEvent, &firstError) != 0) {
                return true;
            }
        }
#endif
        return false;
    }
    // SDL's memory-only drivers have nothing but a surface; the others (Wayland, KMS/DRM) show
    // windows through a GPU API in any case.
    return std::strcmp(driver, "dummy") != 0 && std::strcmp(driver, "offscreen") != 0;
}

}  // namespace standin::win32
