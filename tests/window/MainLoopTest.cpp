// The application's WinMain, main loop and window procedure over the Win32 stand-in (SDL's dummy
// video driver), with the scene and the device replaced by doubles that record each frame and
// each key and run a per-test script inside every frame.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/App.h"
#include "platform/win32/Window.h"
#include "tests/window/SceneDoubles.h"

namespace {

constexpr UINT kWmUser = 0x0400;
constexpr UINT kAskToQuit = kWmUser + 1;  // the helper window posts the quit message with wParam
constexpr UINT kNote = kWmUser + 2;       // the helper window records it

std::vector<UINT> helperReceived;

// A second window, so that a test can see which messages a drain still delivers after the quit
// message has been asked for.
LRESULT CALLBACK HelperProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kAskToQuit) {
        PostQuitMessage(static_cast<int>(wParam));
    }
    if (message == kAskToQuit || message == kNote) {
        helperReceived.push_back(message);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int RunWinMain() {
    return WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT);
}

class Viewer : public testing::Test {
protected:
    void SetUp() override {
        doubles::Reset();
        helperReceived.clear();
        static const bool registered = [] {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof(WNDCLASSEXA);
            wc.lpfnWndProc = HelperProc;
            wc.lpszClassName = "HelperClass";
            return RegisterClassExA(&wc) != 0;
        }();
        ASSERT_TRUE(registered);
        helper_ = CreateWindowExA(0, "HelperClass", "helper", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(helper_, nullptr) << SDL_GetError();
    }

    void TearDown() override { DestroyWindow(helper_); }

    doubles::Script& script() { return doubles::TheScript(); }
    HWND viewer() { return script().deviceWindow; }
    int frames() { return static_cast<int>(script().framesEyeOffsetX.size()); }

    HWND helper_ = nullptr;
};

TEST_F(Viewer, CreatesItsWindowThenRendersUntilClosedAndExitsWithZero) {
    RECT outer{}, client{};
    bool visible = false;
    std::string title;
    script().onFrame = [&](int frame) {
        if (frame == 0) {
            GetWindowRect(viewer(), &outer);
            GetClientRect(viewer(), &client);
            HWND__* record = standin::win32::LookUpWindow(viewer());
            visible = (SDL_GetWindowFlags(record->sdlWindow) & SDL_WINDOW_SHOWN) != 0;
            title = SDL_GetWindowTitle(record->sdlWindow);
        }
        if (frame == 2) {
            PostMessageA(viewer(), WM_CLOSE, 0, 0);
        }
    };
    EXPECT_EQ(RunWinMain(), 0);
    EXPECT_EQ(frames(), 3) << "no frame after the close";
    EXPECT_EQ(script().releases, 1);
    EXPECT_EQ(title, "D3D9 Quillabern");
    EXPECT_TRUE(visible);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.top, 0);
    EXPECT_EQ(outer.right, 800);
    EXPECT_EQ(outer.bottom, 600);
    EXPECT_EQ(client.right, 800) << "without a window manager there is no frame to subtract";
    EXPECT_FALSE(PostMessageA(viewer(), WM_NULL, 0, 0)) << "the window has been destroyed";
}

TEST_F(Viewer, QuitAskedForInTheMiddleOfADrainLetsTheDrainFinishAndNoFrameFollows) {
    script().onFrame = [&](int frame) {
        if (frame == 1) {
            PostMessageA(helper_, kAskToQuit, 7, 0);
            PostMessageA(helper_, kNote, 0, 0);
            PostMessageA(viewer(), WM_KEYDOWN, VK_LEFT, 0x014B0001);
        }
    };
    EXPECT_EQ(RunWinMain(), 7) << "the quit message's code";
    EXPECT_EQ(frames(), 2);
    EXPECT_EQ(helperReceived, (std::vector<UINT>{kAskToQuit, kNote}));
    EXPECT_EQ(script().keys.size(), 1u) << "the key behind the quit request is still handled";
    EXPECT_EQ(script().releases, 1);
}

TEST_F(Viewer, OnlyTheLastMessageOfADrainDecidesWhetherTheLoopEnds) {
    script().onFrame = [&](int frame) {
        if (frame == 0) {
            PostMessageA(nullptr, WM_QUIT, 5, 0);  // taken first, but not last
            PostMessageA(viewer(), WM_KEYDOWN, 'A', 0x001E0001);
        }
        if (frame == 1) {
            PostMessageA(nullptr, WM_QUIT, 6, 0);
        }
    };
    EXPECT_EQ(RunWinMain(), 6);
    EXPECT_EQ(frames(), 2);
}

TEST_F(Viewer, EveryDrainIsFollowedByExactlyOneFrame) {
    // Frame n posts n keys; each must be handled after frame n and before frame n + 1.
    std::vector<int> postedInFrame;
    script().onFrame = [&](int frame) {
        for (int i = 0; i < frame; ++i) {
            PostMessageA(viewer(), WM_KEYDOWN, 'A', 0x001E0001);
            postedInFrame.push_back(frame);
        }
        if (frame == 4) {
            PostMessageA(viewer(), WM_CLOSE, 0, 0);
        }
    };
    EXPECT_EQ(RunWinMain(), 0);
    EXPECT_EQ(frames(), 5);
    ASSERT_EQ(script().keys.size(), 10u);
    ASSERT_EQ(script().keyFrames.size(), postedInFrame.size());
    for (std::size_t i = 0; i < postedInFrame.size(); ++i) {
        EXPECT_EQ(script().keyFrames[i], postedInFrame[i] + 1) << "key " << i;
    }
}

TEST_F(Viewer, AKeyBetweenTwoFramesChangesOnlyTheNext) {
    script().onFrame = [&](int frame) {
        if (frame == 1) {
            PostMessageA(viewer(), WM_KEYDOWN, VK_LEFT, 0x014B0001);
            PostMessageA(viewer(), WM_KEYDOWN, VK_LEFT, 0x414B0001);  // auto-repeat
        }
        if (frame == 3) {
            PostMessageA(viewer(), WM_CLOSE, 0, 0);
        }
    };
    EXPECT_EQ(RunWinMain(), 0);
    EXPECT_EQ(script().framesEyeOffsetX, (std::vector<float>{0.0f, 0.0f, -2.0f, -2.0f}));
    ASSERT_EQ(script().keys.size(), 2u);
    EXPECT_EQ(script().keys[1].lParam, 0x414B0001) << "the key handler gets lParam as posted";
}

TEST_F(Viewer, SizeChangesAndSystemKeysReachNeitherTheKeyHandlerNorTheScene) {
    script().onFrame = [&](int frame) {
        if (frame == 0) {
            HWND__* record = standin::win32::LookUpWindow(viewer());
            SDL_SetWindowSize(record->sdlWindow, 400, 300);  // a real resize, through SDL
            PostMessageA(viewer(), WM_SIZE, SIZE_MAXIMIZED, MAKELPARAM(1024, 768));
            PostMessageA(viewer(), WM_SYSKEYDOWN, VK_F10, 0x00440001);
            PostMessageA(viewer(), WM_SYSKEYDOWN, VK_LEFT, 0x214B0001);  // Alt+Left
        }
        if (frame == 2) {
            PostMessageA(viewer(), WM_CLOSE, 0, 0);
        }
    };
    EXPECT_EQ(RunWinMain(), 0);
    EXPECT_EQ(frames(), 3);
    EXPECT_TRUE(script().keys.empty());
    EXPECT_EQ(script().framesEyeOffsetX, (std::vector<float>{0.0f, 0.0f, 0.0f}));
}

// Alt+F4 typed on the keyboard: SDL reports the key-ups too, after the window is gone.
TEST_F(Viewer, AltF4TypedOnTheKeyboardEndsTheViewer) {
    script().onFrame = [&](int frame) {
        if (frame != 1) {
            return;
        }
        const Uint32 id = SDL_GetWindowID(standin::win32::LookUpWindow(viewer())->sdlWindow);
        auto push = [id](Uint32 type, SDL_Scancode scancode, SDL_Keycode keycode, Uint16 modifiers) {
            SDL_Event event{};
            event.type = type;
            event.key.windowID = id;
            event.key.state = type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
            event.key.keysym.scancode = scancode;
            event.key.keysym.sym = keycode;
            event.key.keysym.mod = modifiers;
            SDL_PushEvent(&event);
        };
        push(SDL_KEYDOWN, SDL_SCANCODE_LALT, SDLK_LALT, KMOD_LALT);
        push(SDL_KEYDOWN, SDL_SCANCODE_F4, SDLK_F4, KMOD_LALT);
        push(SDL_KEYUP, SDL_SCANCODE_F4, SDLK_F4, KMOD_LALT);
        push(SDL_KEYUP, SDL_SCANCODE_LALT, SDLK_LALT, 0);
    };
    script().frameLimit = 50;
    EXPECT_EQ(RunWinMain(), 0);
    EXPECT_LE(frames(), 4);
    EXPECT_TRUE(script().keys.empty()) << "Alt and F4 with Alt are system keys";
}

TEST_F(Viewer, WithoutADeviceItSaysSoAndExitsWithAnErrorCode) {
    script().deviceAvailable = false;
    testing::internal::CaptureStderr();
    const int exitCode = RunWinMain();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(exitCode, 0);
    EXPECT_EQ(frames(), 0);
    EXPECT_NE(said.find("Direct3D"), std::string::npos) << said;
    EXPECT_FALSE(PostMessageA(script().deviceWindow, WM_NULL, 0, 0)) << "the window is closed";
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
}

}  // namespace
