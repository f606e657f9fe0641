// The application's window procedure and main loop.
#pragma once

#include "device/Win32Api.h"

// The window procedure of the class "WindowClass": WM_DESTROY posts the quit message with code 0,
// WM_SIZE is swallowed (the back buffer and the projection keep their size and aspect), WM_KEYDOWN
// goes to HandleKeyDown, everything else to the default procedure.
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Alternates between draining the message queue and rendering one frame until a drain ends with
// WM_QUIT; returns that message's wParam. Every drain takes all waiting messages, translating and
// dispatching each (the quit message too); only then is the last message taken looked at: if it
// is WM_QUIT the loop ends, otherwise one frame is rendered. The loop never waits for messages.
WPARAM RunMainLoop();
