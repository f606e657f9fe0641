// Inside the Win32 stand-in: how a key that SDL reports becomes the keyboard message Windows
// would post for it. Exposed for the message queue and its tests.
#pragma once

#include <SDL.h>

#include "platform/win32/Win32.h"

namespace standin::win32 {

// A physical key as Windows names it: virtual-key code (0 when Windows has none for the key),
// set-1 scan code, and whether the scan code carries the E0 prefix ("extended key").
struct KeyCode {
    WORD virtualKey = 0;
    BYTE scanCode = 0;
    bool extended = false;
};

// The Windows key for SDL's physical key and layout key. Letters follow the layout (the key that
// types 'q' is 'Q' whatever its position), all other keys their US position, as Windows' VK
// codes do. Numpad digits and the decimal point give VK_NUMPADn / VK_DECIMAL with Num Lock on and
// the navigation keys printed on them with Num Lock off.
KeyCode KeyCodeFromSdl(SDL_Scancode scancode, SDL_Keycode keycode, Uint16 modifiers);

// A keyboard message: WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or WM_SYSKEYUP, with the virtual-key
// code in wParam and in lParam: repeat count 1 (bits 0-15), scan code (16-23), extended key (24),
// Alt held (29), key already down before (30: on auto-repeats and every release), released (31).
// The SYS variants are for F10 and for keys pressed while Alt is held without Ctrl, as on
// Windows. message is 0 for a key that Windows has no virtual-key code for.
struct KeyMessage {
    UINT message = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
};

KeyMessage KeyMessageFromSdl(const SDL_KeyboardEvent& event);

// The character that TranslateMessage makes of a WM_KEYDOWN / WM_SYSKEYDOWN, or 0 for none:
// letters (upper case with Shift or Caps Lock), digits, space, Enter, Tab, Backspace, Escape.
char CharacterFromKey(WPARAM virtualKey, Uint16 modifiers);

}  // namespace standin::win32
