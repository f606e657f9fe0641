// Window classes and windows of the Win32 stand-in, each window an SDL window.
//
// Size: Windows sizes a window by its outer rectangle, frame included; SDL by its client area.
// The window is created with the requested outer size as its client area and, once shown,
// shrunk by the frame that the window manager reports (SDL_GetWindowBordersSize), so that the
// outer rectangle is the requested one. Without a window manager there is no frame, and the
// client area keeps the whole requested size.
#include "platform/win32/Window.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/win32/Display.h"

namespace {

// Not in our Win32 subset because the viewer never uses them; DefWindowProcA does.
constexpr UINT kWmSysCommand = 0x0112;
constexpr WPARAM kScClose = 0xF060;
constexpr LPARAM kAltDownBit = LPARAM{1} << 29;
constexpr ATOM kFirstClassAtom = 0xC000;  // Windows numbers registered classes from here

struct WindowClass {
    std::string name;
    WNDCLASSEXA record;
};

struct WindowManager {
    std::vector<WindowClass> classes;
    std::vector<std::unique_ptr<HWND__>> windows;  // every window ever created, dead ones too
};

WindowManager& Manager() {
    static WindowManager manager;
    return manager;
}

const WindowClass* FindClass(LPCSTR name) {
    for (const WindowClass& windowClass : Manager().classes) {
        if (windowClass.name == name) {
            return &windowClass;
        }
    }
    return nullptr;
}

char moduleInstance;  // its address is the module's instance handle
char arrowCursor;     // its address is the arrow cursor's handle

// Shrinks the client area by the window manager's frame so that the outer rectangle has the size
// (and, unless the position was left to the system, the position) the window was created with.
// False while no frame is known: without a window manager, or before the window manager has
// framed the window and said how wide the frame is (on X11 that comes some time after mapping).
bool FitOuterRectangle(HWND__* window) {
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(window->sdlWindow, &top, &left, &bottom, &right) != 0) {
        return false;
    }
    if (top + left + bottom + right == 0) {
        return false;
    }
    SDL_SetWindowSize(window->sdlWindow, std::max(1, window->requestedWidth - left - right),
                      std::max(1, window->requestedHeight - top - bottom));
    if (window->requestedX != CW_USEDEFAULT) {  // SDL places the client area, Windows the frame
        SDL_SetWindowPosition(window->sdlWindow, window->requestedX + left, window->requestedY + top);
    }
    return true;
}

}  // namespace

namespace standin::win32 {

void FitOuterRectangleOnce(HWND__* window) {
    if (window == nullptr || window->outerFitted || window->sdlWindow == nullptr ||
        (SDL_GetWindowFlags(window->sdlWindow) & SDL_WINDOW_SHOWN) == 0) {
        return;
    }
    window->outerFitted = FitOuterRectangle(window);
}

bool InitVideo() {
    if (SDL_WasInit(SDL_INIT_VIDEO) != 0) {
        return true;
    }
    // Closing the last window must reach the window procedure as WM_CLOSE, not end anything.
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    // A window surface is the display's own (on X11 a shared-memory image), never a GL texture
    // in disguise: SDL would otherwise open a GL context to decide, loading the GL stack.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

HWND__* LookUpWindow(HWND window) {
    if (window == nullptr) {
        return nullptr;
    }
    for (const auto& record : Manager().windows) {
        if (record.get() == window) {
            return record->alive ? record.get() : nullptr;
        }
    }
    return nullptr;
}

HWND LookUpWindowBySdlId(Uint32 windowId) {
    for (const auto& record : Manager().windows) {
        if (record->alive && record->sdlWindow != nullptr && SDL_GetWindowID(record->sdlWindow) == windowId) {
            return record.get();
        }
    }
    return nullptr;
}

std::vector<HWND> LiveWindows() {
    std::vector<HWND> live;
    for (const auto& record : Manager().windows) {
        if (record->alive) {
            live.push_back(record.get());
        }
    }
    return live;
}

LRESULT SendMessageToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HWND__* record = LookUpWindow(window);
    if (record == nullptr) {
        return 0;
    }
    return record->procedure(window, message, wParam, lParam);
}

void ChooseOutput(HWND__* window) {
    window->output = HWND__::Output::kSurface;
    if (DisplayHasGpu(window->sdlWindow)) {
        window->renderer =
            SDL_CreateRenderer(window->sdlWindow, -1, SDL_RENDERER_ACCELERATED | SDL_RENDERER_PRESENTVSYNC);
        if (window->renderer != nullptr) {
            window->output = HWND__::Output::kRenderer;
        }
    }
}

void ClientSize(HWND__* window, int* width, int* height) {
    *width = 0;
    *height = 0;
    if (window->sdlWindow == nullptr || (SDL_GetWindowFlags(window->sdlWindow) & SDL_WINDOW_MINIMIZED) != 0) {
        return;
    }
    SDL_GetWindowSize(window->sdlWindow, width, height);
}

}  // namespace standin::win32

using namespace standin::win32;

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* windowClass) {
    // Windows refuses a record whose cbSize is not its own size, and a second class of one name.
    if (windowClass == nullptr || windowClass->cbSize != sizeof(WNDCLASSEXA) || windowClass->lpfnWndProc == nullptr ||
        windowClass->lpszClassName == nullptr || FindClass(windowClass->lpszClassName) != nullptr) {
        return 0;
    }
    Manager().classes.push_back({windowClass->lpszClassName, *windowClass});
    return static_cast<ATOM>(kFirstClassAtom + Manager().classes.size() - 1);
}

HWND WINAPI CreateWindowExA(DWORD, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int width,
                            int height, HWND, HMENU, HINSTANCE, LPVOID) {
    const WindowClass* windowClass = className != nullptr ? FindClass(className) : nullptr;
    if (windowClass == nullptr || !InitVideo()) {
        return nullptr;
    }
    auto record = std::make_unique<HWND__>();
    record->procedure = windowClass->record.lpfnWndProc;
    record->title = windowName != nullptr ? windowName : "";

    Uint32 flags = SDL_WINDOW_HIDDEN;
    if ((style & WS_THICKFRAME) != 0) {
        flags |= SDL_WINDOW_RESIZABLE;
    }
    const int sdlX = x == CW_USEDEFAULT ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : x;
    const int sdlY = x == CW_USEDEFAULT ? static_cast<int>(SDL_WINDOWPOS_UNDEFINED) : y;
    const int clientWidth = width == CW_USEDEFAULT ? 800 : std::max(1, width);
    const int clientHeight = width == CW_USEDEFAULT ? 600 : std::max(1, height);
    record->sdlWindow = SDL_CreateWindow(record->title.c_str(), sdlX, sdlY, clientWidth, clientHeight, flags);
    if (record->sdlWindow == nullptr) {
        return nullptr;
    }
    ChooseOutput(record.get());
    record->requestedX = x;
    record->requestedY = y;
    record->requestedWidth = clientWidth;
    record->requestedHeight = clientHeight;
    HWND window = record.get();
    Manager().windows.push_back(std::move(record));

    // As CreateWindowEx does: WM_CREATE (creation fails if it answers -1), then the first size and place.
    if (SendMessageToWindow(window, WM_CREATE, 0, 0) == -1) {
        DestroyWindow(window);
        return nullptr;
    }
    SendMessageToWindow(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(clientWidth, clientHeight));
    const bool placed = x != CW_USEDEFAULT;
    SendMessageToWindow(window, WM_MOVE, 0, MAKELPARAM(placed ? x : 0, placed ? y : 0));
    return window;
}

BOOL WINAPI ShowWindow(HWND window, int showCommand) {
    HWND__* record = LookUpWindow(window);
    if (record == nullptr) {
        return FALSE;
    }
    const bool wasVisible = (SDL_GetWindowFlags(record->sdlWindow) & SDL_WINDOW_SHOWN) != 0;
    if (showCommand == SW_HIDE) {
        SDL_HideWindow(record->sdlWindow);
        return wasVisible ? TRUE : FALSE;
    }
    SDL_ShowWindow(record->sdlWindow);
    if (!wasVisible) {
        SendMessageToWindow(window, WM_SHOWWINDOW, TRUE, 0);
    }
    standin::win32::FitOuterRectangleOnce(record);
    switch (showCommand) {
        case SW_SHOWMINIMIZED:
        case SW_MINIMIZE:
            SDL_MinimizeWindow(record->sdlWindow);
            break;
        case SW_SHOWMAXIMIZED:
            SDL_MaximizeWindow(record->sdlWindow);
            break;
        case SW_RESTORE:
            SDL_RestoreWindow(record->sdlWindow);
            break;
        default:
            break;
    }
    return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI DestroyWindow(HWND window) {
    HWND__* record = LookUpWindow(window);
    if (record == nullptr) {
        return FALSE;
    }
    SDL_HideWindow(record->sdlWindow);
    SendMessageToWindow(window, WM_DESTROY, 0, 0);
    record->alive = false;
    RemoveMessagesFor(window);
    if (record->texture != nullptr) {
        SDL_DestroyTexture(record->texture);
        record->texture = nullptr;
    }
    if (record->renderer != nullptr) {
        SDL_DestroyRenderer(record->renderer);
        record->renderer = nullptr;
    }
    SDL_DestroyWindow(record->sdlWindow);
    record->sdlWindow = nullptr;
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, RECT* rect) {
    HWND__* record = LookUpWindow(window);
    if (record == nullptr || rect == nullptr) {
        return FALSE;
    }
    int width = 0, height = 0;
    ClientSize(record, &width, &height);
    *rect = RECT{0, 0, width, height};
    return TRUE;
}

BOOL WINAPI GetWindowRect(HWND window, RECT* rect) {
    HWND__* record = LookUpWindow(window);
    if (record == nullptr || rect == nullptr) {
        return FALSE;
    }
    int x = 0, y = 0, width = 0, height = 0;
    SDL_GetWindowPosition(record->sdlWindow, &x, &y);
    SDL_GetWindowSize(record->sdlWindow, &width, &height);
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(record->sdlWindow, &top, &left, &bottom, &right) != 0) {
        top = left = bottom = right = 0;
    }
    *rect = RECT{x - left, y - top, x + width + right, y + height + bottom};
    return TRUE;
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            DestroyWindow(window);
            return 0;
        case WM_SYSKEYDOWN:
            // Alt+F4 becomes the system menu's Close command, which asks the window to close.
            if (wParam == VK_F4 && (lParam & kAltDownBit) != 0) {
                PostMessageA(window, kWmSysCommand, kScClose, 0);
            }
            return 0;
        case kWmSysCommand:
            if ((wParam & 0xFFF0) == kScClose) {
                return SendMessageToWindow(window, WM_CLOSE, 0, 0);
            }
            return 0;
        default:
            return 0;
    }
}

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR cursorName) {
    // Only the system's arrow, which is also SDL's default cursor.
    if (instance == nullptr && cursorName == IDC_ARROW) {
        return reinterpret_cast<HCURSOR>(&arrowCursor);
    }
    return nullptr;
}

int WINAPI MessageBoxA(HWND, LPCSTR text, LPCSTR caption, UINT) {
    std::fprintf(stderr, "%s: %s\n", caption != nullptr ? caption : "Error", text != nullptr ? text : "");
    std::fflush(stderr);
    return 1;  // IDOK: the only button
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    return moduleName == nullptr ? reinterpret_cast<HMODULE>(&moduleInstance) : nullptr;
}
