// SDL's keys as Windows names them: the virtual-key code in wParam and lParam's bit fields.
// Expected values are the ones Windows reports for a US keyboard.
#include <gtest/gtest.h>

#include "platform/win32/Keyboard.h"

namespace {

using standin::win32::KeyCode;
using standin::win32::KeyCodeFromSdl;
using standin::win32::KeyMessage;
using standin::win32::KeyMessageFromSdl;

struct KeyRow {
    const char* name;
    SDL_Scancode scancode;
    SDL_Keycode keycode;
    Uint16 modifiers;
    WORD virtualKey;
    BYTE scanCode;
    bool extended;
};

class KeyTable : public testing::TestWithParam<KeyRow> {};

TEST_P(KeyTable, GivesWindowsKeyScanCodeAndExtendedBit) {
    const KeyRow& row = GetParam();
    const KeyCode key = KeyCodeFromSdl(row.scancode, row.keycode, row.modifiers);
    EXPECT_EQ(key.virtualKey, row.virtualKey);
    EXPECT_EQ(key.scanCode, row.scanCode);
    EXPECT_EQ(key.extended, row.extended);
}

// clang-format off
const KeyRow kKeys[] = {
    // the keys the viewer reacts to
    {"PageUp", SDL_SCANCODE_PAGEUP, SDLK_PAGEUP, 0, 0x21, 0x49, true},
    {"PageDown", SDL_SCANCODE_PAGEDOWN, SDLK_PAGEDOWN, 0, 0x22, 0x51, true},
    {"Left", SDL_SCANCODE_LEFT, SDLK_LEFT, 0, 0x25, 0x4B, true},
    {"Up", SDL_SCANCODE_UP, SDLK_UP, 0, 0x26, 0x48, true},
    {"Right", SDL_SCANCODE_RIGHT, SDLK_RIGHT, 0, 0x27, 0x4D, true},
    {"Down", SDL_SCANCODE_DOWN, SDLK_DOWN, 0, 0x28, 0x50, true},
    {"F1", SDL_SCANCODE_F1, SDLK_F1, 0, 0x70, 0x3B, false},
    {"F2", SDL_SCANCODE_F2, SDLK_F2, 0, 0x71, 0x3C, false},
    // the rest of the keyboard
    {"F10", SDL_SCANCODE_F10, SDLK_F10, 0, 0x79, 0x44, false},
    {"F12", SDL_SCANCODE_F12, SDLK_F12, 0, 0x7B, 0x58, false},
    {"End", SDL_SCANCODE_END, SDLK_END, 0, 0x23, 0x4F, true},
    {"Delete", SDL_SCANCODE_DELETE, SDLK_DELETE, 0, 0x2E, 0x53, true},
    {"A", SDL_SCANCODE_A, SDLK_a, 0, 'A', 0x1E, false},
    {"Z", SDL_SCANCODE_Z, SDLK_z, 0, 'Z', 0x2C, false},
    {"AzertyA", SDL_SCANCODE_Q, SDLK_a, 0, 'A', 0x10, false},  // the layout names the letter
    {"Digit1", SDL_SCANCODE_1, SDLK_1, 0, '1', 0x02, false},
    {"Escape", SDL_SCANCODE_ESCAPE, SDLK_ESCAPE, 0, 0x1B, 0x01, false},
    {"Enter", SDL_SCANCODE_RETURN, SDLK_RETURN, 0, 0x0D, 0x1C, false},
    {"Space", SDL_SCANCODE_SPACE, SDLK_SPACE, 0, 0x20, 0x39, false},
    {"Semicolon", SDL_SCANCODE_SEMICOLON, SDLK_SEMICOLON, 0, 0xBA, 0x27, false},
    {"Comma", SDL_SCANCODE_COMMA, SDLK_COMMA, 0, 0xBC, 0x33, false},
    {"Minus", SDL_SCANCODE_MINUS, SDLK_MINUS, 0, 0xBD, 0x0C, false},
    {"Grave", SDL_SCANCODE_GRAVE, SDLK_BACKQUOTE, 0, 0xC0, 0x29, false},
    {"Apostrophe", SDL_SCANCODE_APOSTROPHE, SDLK_QUOTE, 0, 0xDE, 0x28, false},
    {"Numpad7NumLock", SDL_SCANCODE_KP_7, SDLK_KP_7, KMOD_NUM, 0x67, 0x47, false},
    {"Numpad7", SDL_SCANCODE_KP_7, SDLK_KP_7, 0, 0x24, 0x47, false},  // Home, not extended
    {"NumpadDecimalNumLock", SDL_SCANCODE_KP_PERIOD, SDLK_KP_PERIOD, KMOD_NUM, 0x6E, 0x53, false},
    {"NumpadMultiply", SDL_SCANCODE_KP_MULTIPLY, SDLK_KP_MULTIPLY, 0, 0x6A, 0x37, false},
    {"NumpadDivide", SDL_SCANCODE_KP_DIVIDE, SDLK_KP_DIVIDE, 0, 0x6F, 0x35, true},
    {"NumpadEnter", SDL_SCANCODE_KP_ENTER, SDLK_KP_ENTER, 0, 0x0D, 0x1C, true},
    {"LeftShift", SDL_SCANCODE_LSHIFT, SDLK_LSHIFT, 0, 0x10, 0x2A, false},
    {"RightCtrl", SDL_SCANCODE_RCTRL, SDLK_RCTRL, 0, 0x11, 0x1D, true},
    {"RightAlt", SDL_SCANCODE_RALT, SDLK_RALT, 0, 0x12, 0x38, true},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Keyboard, KeyTable, testing::ValuesIn(kKeys),
                         [](const testing::TestParamInfo<KeyRow>& row) { return std::string(row.param.name); });

SDL_KeyboardEvent KeyEvent(SDL_Scancode scancode, SDL_Keycode keycode, Uint8 state, Uint16 modifiers,
                           Uint8 repeat = 0) {
    SDL_KeyboardEvent event{};
    event.type = state == SDL_PRESSED ? SDL_KEYDOWN : SDL_KEYUP;
    event.state = state;
    event.repeat = repeat;
    event.keysym.scancode = scancode;
    event.keysym.sym = keycode;
    event.keysym.mod = modifiers;
    return event;
}

// lParam values as Windows reports them for these keystrokes.
TEST(KeyMessages, PressRepeatAndReleaseCarryWindowsBits) {
    const KeyMessage press = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_LEFT, SDLK_LEFT, SDL_PRESSED, 0));
    EXPECT_EQ(press.message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(press.wParam, static_cast<WPARAM>(VK_LEFT));
    EXPECT_EQ(press.lParam, 0x014B0001);

    const KeyMessage repeat = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_LEFT, SDLK_LEFT, SDL_PRESSED, 0, 1));
    EXPECT_EQ(repeat.message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(repeat.lParam, 0x414B0001);  // bit 30: the key was already down

    const KeyMessage release = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_LEFT, SDLK_LEFT, SDL_RELEASED, 0));
    EXPECT_EQ(release.message, static_cast<UINT>(WM_KEYUP));
    EXPECT_EQ(release.lParam, 0xC14B0001);

    const KeyMessage letter = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_A, SDLK_a, SDL_PRESSED, KMOD_LSHIFT));
    EXPECT_EQ(letter.message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(letter.wParam, static_cast<WPARAM>('A'));
    EXPECT_EQ(letter.lParam, 0x001E0001);
}

TEST(KeyMessages, F10AndAltKeysAreSystemKeys) {
    const KeyMessage f10 = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_F10, SDLK_F10, SDL_PRESSED, 0));
    EXPECT_EQ(f10.message, static_cast<UINT>(WM_SYSKEYDOWN));
    EXPECT_EQ(f10.lParam, 0x00440001);
    const KeyMessage f10Up = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_F10, SDLK_F10, SDL_RELEASED, 0));
    EXPECT_EQ(f10Up.message, static_cast<UINT>(WM_SYSKEYUP));

    const KeyMessage altDown = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_LALT, SDLK_LALT, SDL_PRESSED, KMOD_LALT));
    EXPECT_EQ(altDown.message, static_cast<UINT>(WM_SYSKEYDOWN));
    EXPECT_EQ(altDown.wParam, static_cast<WPARAM>(VK_MENU));
    EXPECT_EQ(altDown.lParam, 0x20380001);

    const KeyMessage altF4 = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_F4, SDLK_F4, SDL_PRESSED, KMOD_LALT));
    EXPECT_EQ(altF4.message, static_cast<UINT>(WM_SYSKEYDOWN));
    EXPECT_EQ(altF4.wParam, static_cast<WPARAM>(VK_F4));
    EXPECT_EQ(altF4.lParam, 0x203E0001);
    const KeyMessage altF4Up = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_F4, SDLK_F4, SDL_RELEASED, KMOD_LALT));
    EXPECT_EQ(altF4Up.message, static_cast<UINT>(WM_SYSKEYUP));
    EXPECT_EQ(altF4Up.lParam, static_cast<LPARAM>(0xE03E0001));

    // SDL has cleared Alt from the modifiers by the time Alt's own release arrives.
    const KeyMessage altUp = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_LALT, SDLK_LALT, SDL_RELEASED, 0));
    EXPECT_EQ(altUp.message, static_cast<UINT>(WM_SYSKEYUP));
    EXPECT_EQ(altUp.lParam, static_cast<LPARAM>(0xC0380001));
}

TEST(KeyMessages, CtrlWithAltAndPlainF4AreOrdinaryKeys) {
    const KeyMessage ctrlAlt = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_A, SDLK_a, SDL_PRESSED, KMOD_LALT | KMOD_LCTRL));
    EXPECT_EQ(ctrlAlt.message, static_cast<UINT>(WM_KEYDOWN));  // AltGr on many layouts
    EXPECT_EQ(ctrlAlt.lParam & (LPARAM{1} << 29), 0);

    const KeyMessage f4 = KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_F4, SDLK_F4, SDL_PRESSED, 0));
    EXPECT_EQ(f4.message, static_cast<UINT>(WM_KEYDOWN));
    EXPECT_EQ(f4.wParam, static_cast<WPARAM>(VK_F4));
}

TEST(KeyMessages, KeysWindowsDoesNotHaveGiveNoMessage) {
    EXPECT_EQ(KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_AUDIOPLAY, SDLK_AUDIOPLAY, SDL_PRESSED, 0)).message, 0u);
    EXPECT_EQ(KeyMessageFromSdl(KeyEvent(SDL_SCANCODE_UNKNOWN, SDLK_UNKNOWN, SDL_PRESSED, 0)).message, 0u);
}

TEST(KeyMessages, TranslatedCharactersFollowShiftAndCapsLock) {
    using standin::win32::CharacterFromKey;
    EXPECT_EQ(CharacterFromKey('A', 0), 'a');
    EXPECT_EQ(CharacterFromKey('A', KMOD_LSHIFT), 'A');
    EXPECT_EQ(CharacterFromKey('A', KMOD_CAPS), 'A');
    EXPECT_EQ(CharacterFromKey('A', KMOD_CAPS | KMOD_RSHIFT), 'a');
    EXPECT_EQ(CharacterFromKey('7', 0), '7');
    EXPECT_EQ(CharacterFromKey(VK_RETURN, 0), '\r');
    EXPECT_EQ(CharacterFromKey(VK_LEFT, 0), 0);
    EXPECT_EQ(CharacterFromKey(VK_F2, 0), 0);
}

}  // namespace
