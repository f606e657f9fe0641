// SDL keys to Windows keyboard messages. Scan codes are the PC keyboard's set 1, which Windows
// reports in lParam; "E0" keys (the navigation block, right Ctrl and Alt, numpad Enter and /)
// carry the extended-key bit instead of the prefix.
#include "platform/win32/Keyboard.h"

namespace standin::win32 {

namespace {

constexpr KeyCode Key(WORD virtualKey, BYTE scanCode) {
    return KeyCode{virtualKey, scanCode, false};
}
constexpr KeyCode ExtendedKey(WORD virtualKey, BYTE scanCode) {
    return KeyCode{virtualKey, scanCode, true};
}

// Set-1 scan codes of the letter keys, by their position on a US keyboard (SDL_SCANCODE_A..Z).
constexpr BYTE kLetterScanCodes[26] = {0x1E, 0x30, 0x2E, 0x20, 0x12, 0x21, 0x22, 0x23, 0x17, 0x24, 0x25, 0x26, 0x32,
                                       0x31, 0x18, 0x19, 0x10, 0x13, 0x1F, 0x14, 0x16, 0x2F, 0x11, 0x2D, 0x15, 0x2C};

// Numpad keys with Num Lock off: the navigation key printed on them, without the extended bit.
KeyCode NumpadKey(WORD digitKey, WORD navigationKey, BYTE scanCode, bool numLock) {
    return Key(numLock ? digitKey : navigationKey, scanCode);
}

KeyCode KeyFromPosition(SDL_Scancode scancode, bool numLock) {
    if (scancode >= SDL_SCANCODE_A && scancode <= SDL_SCANCODE_Z) {
        const int index = scancode - SDL_SCANCODE_A;
        return Key(static_cast<WORD>('A' + index), kLetterScanCodes[index]);
    }
    if (scancode >= SDL_SCANCODE_1 && scancode <= SDL_SCANCODE_9) {  // '1'..'9', scan codes 02..0A
        const int index = scancode - SDL_SCANCODE_1;
        return Key(static_cast<WORD>('1' + index), static_cast<BYTE>(0x02 + index));
    }
    if (scancode >= SDL_SCANCODE_F1 && scancode <= SDL_SCANCODE_F10) {  // scan codes 3B..44
        const int index = scancode - SDL_SCANCODE_F1;
        return Key(static_cast<WORD>(VK_F1 + index), static_cast<BYTE>(0x3B + index));
    }
    switch (scancode) {
        case SDL_SCANCODE_0:
            return Key('0', 0x0B);
        case SDL_SCANCODE_F11:
            return Key(VK_F11, 0x57);
        case SDL_SCANCODE_F12:
            return Key(VK_F12, 0x58);
        case SDL_SCANCODE_ESCAPE:
            return Key(VK_ESCAPE, 0x01);
        case SDL_SCANCODE_RETURN:
            return Key(VK_RETURN, 0x1C);
        case SDL_SCANCODE_TAB:
            return Key(VK_TAB, 0x0F);
        case SDL_SCANCODE_SPACE:
            return Key(VK_SPACE, 0x39);
        case SDL_SCANCODE_BACKSPACE:
            return Key(VK_BACK, 0x0E);
        case SDL_SCANCODE_CAPSLOCK:
            return Key(VK_CAPITAL, 0x3A);
        case SDL_SCANCODE_SCROLLLOCK:
            return Key(VK_SCROLL, 0x46);
        case SDL_SCANCODE_PAUSE:
            return Key(VK_PAUSE, 0x45);
        case SDL_SCANCODE_PRINTSCREEN:
            return ExtendedKey(VK_SNAPSHOT, 0x37);
        case SDL_SCANCODE_NUMLOCKCLEAR:
            return ExtendedKey(VK_NUMLOCK, 0x45);

        // Punctuation, US positions.
        case SDL_SCANCODE_MINUS:
            return Key(VK_OEM_MINUS, 0x0C);
        case SDL_SCANCODE_EQUALS:
            return Key(VK_OEM_PLUS, 0x0D);
        case SDL_SCANCODE_LEFTBRACKET:
            return Key(VK_OEM_4, 0x1A);
        case SDL_SCANCODE_RIGHTBRACKET:
            return Key(VK_OEM_6, 0x1B);
        case SDL_SCANCODE_BACKSLASH:
            return Key(VK_OEM_5, 0x2B);
        case SDL_SCANCODE_NONUSHASH:
            return Key(VK_OEM_5, 0x2B);
        case SDL_SCANCODE_SEMICOLON:
            return Key(VK_OEM_1, 0x27);
        case SDL_SCANCODE_APOSTROPHE:
            return Key(VK_OEM_7, 0x28);
        case SDL_SCANCODE_GRAVE:
            return Key(VK_OEM_3, 0x29);
        case SDL_SCANCODE_COMMA:
            return Key(VK_OEM_COMMA, 0x33);
        case SDL_SCANCODE_PERIOD:
            return Key(VK_OEM_PERIOD, 0x34);
        case SDL_SCANCODE_SLASH:
            return Key(VK_OEM_2, 0x35);
        case SDL_SCANCODE_NONUSBACKSLASH:
            return Key(0xE2, 0x56);  // VK_OEM_102

        // The navigation block.
        case SDL_SCANCODE_INSERT:
            return ExtendedKey(VK_INSERT, 0x52);
        case SDL_SCANCODE_DELETE:
            return ExtendedKey(VK_DELETE, 0x53);
        case SDL_SCANCODE_HOME:
            return ExtendedKey(VK_HOME, 0x47);
        case SDL_SCANCODE_END:
            return ExtendedKey(VK_END, 0x4F);
        case SDL_SCANCODE_PAGEUP:
            return ExtendedKey(VK_PRIOR, 0x49);
        case SDL_SCANCODE_PAGEDOWN:
            return ExtendedKey(VK_NEXT, 0x51);
        case SDL_SCANCODE_LEFT:
            return ExtendedKey(VK_LEFT, 0x4B);
        case SDL_SCANCODE_UP:
            return ExtendedKey(VK_UP, 0x48);
        case SDL_SCANCODE_RIGHT:
            return ExtendedKey(VK_RIGHT, 0x4D);
        case SDL_SCANCODE_DOWN:
            return ExtendedKey(VK_DOWN, 0x50);

        // The numpad.
        case SDL_SCANCODE_KP_0:
            return NumpadKey(VK_NUMPAD0, VK_INSERT, 0x52, numLock);
        case SDL_SCANCODE_KP_1:
            return NumpadKey(VK_NUMPAD1, VK_END, 0x4F, numLock);
        case SDL_SCANCODE_KP_2:
            return NumpadKey(VK_NUMPAD2, VK_DOWN, 0x50, numLock);
        case SDL_SCANCODE_KP_3:
            return NumpadKey(VK_NUMPAD3, VK_NEXT, 0x51, numLock);
        case SDL_SCANCODE_KP_4:
            return NumpadKey(VK_NUMPAD4, VK_LEFT, 0x4B, numLock);
        case SDL_SCANCODE_KP_5:
            return NumpadKey(VK_NUMPAD5, VK_CLEAR, 0x4C, numLock);
        case SDL_SCANCODE_KP_6:
            return NumpadKey(VK_NUMPAD6, VK_RIGHT, 0x4D, numLock);
        case SDL_SCANCODE_KP_7:
            return NumpadKey(VK_NUMPAD7, VK_HOME, 0x47, numLock);
        case SDL_SCANCODE_KP_8:
            return NumpadKey(VK_NUMPAD8, VK_UP, 0x48, numLock);
        case SDL_SCANCODE_KP_9:
            return NumpadKey(VK_NUMPAD9, VK_PRIOR, 0x49, numLock);
        case SDL_SCANCODE_KP_PERIOD:
            return NumpadKey(VK_DECIMAL, VK_DELETE, 0x53, numLock);
        case SDL_SCANCODE_KP_DIVIDE:
            return ExtendedKey(VK_DIVIDE, 0x35);
        case SDL_SCANCODE_KP_MULTIPLY:
            return Key(VK_MULTIPLY, 0x37);
        case SDL_SCANCODE_KP_MINUS:
            return Key(VK_SUBTRACT, 0x4A);
        case SDL_SCANCODE_KP_PLUS:
            return Key(VK_ADD, 0x4E);
        case SDL_SCANCODE_KP_ENTER:
            return ExtendedKey(VK_RETURN, 0x1C);

        // Modifiers: wParam names the generic key; the scan code and extended bit tell the side.
        case SDL_SCANCODE_LSHIFT:
            return Key(VK_SHIFT, 0x2A);
        case SDL_SCANCODE_RSHIFT:
            return Key(VK_SHIFT, 0x36);
        case SDL_SCANCODE_LCTRL:
            return Key(VK_CONTROL, 0x1D);
        case SDL_SCANCODE_RCTRL:
            return ExtendedKey(VK_CONTROL, 0x1D);
        case SDL_SCANCODE_LALT:
            return Key(VK_MENU, 0x38);
        case SDL_SCANCODE_RALT:
            return ExtendedKey(VK_MENU, 0x38);
        case SDL_SCANCODE_LGUI:
            return ExtendedKey(VK_LWIN, 0x5B);
        case SDL_SCANCODE_RGUI:
            return ExtendedKey(VK_RWIN, 0x5C);
        case SDL_SCANCODE_APPLICATION:
            return ExtendedKey(VK_APPS, 0x5D);
        default:
            return KeyCode{};
    }
}

bool IsAltKey(SDL_Scancode scancode) {
    return scancode == SDL_SCANCODE_LALT || scancode == SDL_SCANCODE_RALT;
}

}  // namespace

KeyCode KeyCodeFromSdl(SDL_Scancode scancode, SDL_Keycode keycode, Uint16 modifiers) {
    KeyCode key = KeyFromPosition(scancode, (modifiers & KMOD_NUM) != 0);
    if (keycode >= SDLK_a && keycode <= SDLK_z) {
        key.virtualKey = static_cast<WORD>('A' + (keycode - SDLK_a));  // the layout's letter
    }
    return key;
}

KeyMessage KeyMessageFromSdl(const SDL_KeyboardEvent& event) {
    const KeyCode key = KeyCodeFromSdl(event.keysym.scancode, event.keysym.sym, event.keysym.mod);
    if (key.virtualKey == 0) {
        return KeyMessage{};
    }
    const bool pressed = event.state == SDL_PRESSED;
    const bool ctrl = (event.keysym.mod & KMOD_CTRL) != 0;
    // SDL has already updated the modifiers for this event: an Alt press carries Alt, its release not.
    const bool alt = (event.keysym.mod & KMOD_ALT) != 0 || (pressed && IsAltKey(event.keysym.scancode));
    const bool system = key.virtualKey == VK_F10 || (alt && !ctrl) || (!pressed && IsAltKey(event.keysym.scancode));

    DWORD bits = 1;  // repeat count
    bits |= static_cast<DWORD>(key.scanCode) << 16;
    if (key.extended) {
        bits |= DWORD{1} << 24;
    }
    if (alt && !ctrl) {
        bits |= DWORD{1} << 29;
    }
    if (!pressed || event.repeat != 0) {
        bits |= DWORD{1} << 30;
    }
    if (!pressed) {
        bits |= DWORD{1} << 31;
    }
    KeyMessage message;
    message.message = pressed ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
    message.wParam = key.virtualKey;
    message.lParam = static_cast<LPARAM>(bits);  // zero-extended, as Windows' 64-bit lParam is
    return message;
}

char CharacterFromKey(WPARAM virtualKey, Uint16 modifiers) {
    if (virtualKey >= 'A' && virtualKey <= 'Z') {
        const bool upper = ((modifiers & KMOD_SHIFT) != 0) != ((modifiers & KMOD_CAPS) != 0);
        return static_cast<char>(upper ? virtualKey : virtualKey - 'A' + 'a');
    }
    if (virtualKey >= '0' && virtualKey <= '9' && (modifiers & KMOD_SHIFT) == 0) {
        return static_cast<char>(virtualKey);
    }
    switch (virtualKey) {
        case VK_SPACE:
            return ' ';
        case VK_RETURN:
            return '\r';
        case VK_TAB:
            return '\t';
        case VK_BACK:
            return '\b';
        case VK_ESCAPE:
            return '\x1B';
        default:
            return 0;
    }
}

}  // namespace standin::win32
