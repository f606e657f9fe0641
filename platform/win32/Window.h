// Inside the Win32 stand-in: the records behind window-class names and window handles, shared by
// the files of this folder (windows, message queue, presenter). Not part of the Win32 subset.
#pragma once

#include <SDL.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32/Win32.h"

// What a window handle points to. Windows keeps this record in the window manager; here it is
// ours. A destroyed window's record stays allocated (alive == false) so that a stale handle in a
// queued message is recognised instead of being followed into freed memory.
struct HWND__ {
    WNDPROC procedure = nullptr;  // the class's window procedure
    std::string title;
    SDL_Window* sdlWindow = nullptr;  // null once destroyed
    bool alive = true;

    // The outer rectangle asked for at creation; fitted to the window manager's frame when shown.
    int requestedX = 0, requestedY = 0, requestedWidth = 0, requestedHeight = 0;
    bool outerFitted = false;

    // How frames reach the screen, chosen when the window is created (ChooseOutput).
    enum class Output {
        kSurface,   // SDL's window surface: plain memory that SDL copies into the window
        kRenderer,  // SDL's accelerated renderer, which waits for the display's refresh
    };
    Output output = Output::kSurface;
    SDL_Renderer* renderer = nullptr;      // kRenderer: comes with the window
    SDL_Texture* texture = nullptr;        // kRenderer: the size of the client area, made by the presenter
    std::vector<std::uint32_t> stretched;  // a frame scaled to the client area, when the sizes differ
    // kSurface: what the window shows, so that the next frame of the same back buffer need copy
    // only what changed. Window events that may have lost or resized the picture clear `shown`.
    bool shown = false;
    const SDL_Surface* shownSurface = nullptr;
    const std::uint32_t* shownPixels = nullptr;
};

namespace standin::win32 {

// Starts SDL's video subsystem once; false (with SDL_GetError set) when there is no display.
bool InitVideo();

// The live window with this handle, or null for a null, unknown or destroyed handle.
HWND__* LookUpWindow(HWND window);

// The live window that SDL knows by this id, or null.
HWND LookUpWindowBySdlId(Uint32 windowId);

// Calls the window's procedure at once, as SendMessage does; 0 for a dead window.
LRESULT SendMessageToWindow(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Drops the messages waiting for a window that is being destroyed, as Windows does: none of them
// could be delivered, and taking them would hide a quit message behind them.
void RemoveMessagesFor(HWND window);

// Every live window, oldest first (for SDL_QUIT, which is addressed to none in particular).
std::vector<HWND> LiveWindows();

// Chooses how the window shows frames, by what its display offers: where the display draws
// with a GPU, SDL's accelerated renderer, which waits for the display's refresh; elsewhere the
// window surface, which costs one copy into the window and loads no GL stack. Done when the
// window is created, because SDL may have to create the window anew for the renderer it picks,
// which is best done before anyone has seen it. A window whose renderer cannot be made falls
// back to the surface.
void ChooseOutput(HWND__* window);

// Once the window is shown and the window manager's frame is known, shrinks the client area so
// that the outer rectangle is the one asked for at creation; after that, never again (the user's
// own resizing is left alone). Called when the window is shown and on its window events, since
// the frame may become known only after the window is mapped.
void FitOuterRectangleOnce(HWND__* window);

// The size of the window's client area in pixels; 0 x 0 while it is minimised.
void ClientSize(HWND__* window, int* width, int* height);

}  // namespace standin::win32
