// The Win32 stand-in's windows and message queue, with a window procedure that records what it
// is sent. Runs on SDL's dummy video driver.
#include <gtest/gtest.h>

#include <vector>

#include "platform/win32/Window.h"

namespace {

constexpr char kRecorderClass[] = "RecorderClass";

struct Received {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

std::vector<Received> received;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    received.push_back({message, wParam, lParam});
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Takes every waiting message, translating and dispatching it as the viewer's loop does, and
// returns them in the order they were taken.
std::vector<MSG> Drain() {
    std::vector<MSG> taken;
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
        taken.push_back(msg);
    }
    return taken;
}

std::vector<UINT> Kinds(const std::vector<MSG>& messages) {
    std::vector<UINT> kinds;
    for (const MSG& msg : messages) {
        kinds.push_back(msg.message);
    }
    return kinds;
}

std::vector<UINT> ReceivedKinds() {
    std::vector<UINT> kinds;
    for (const Received& r : received) {
        kinds.push_back(r.message);
    }
    return kinds;
}

class Win32Standin : public testing::Test {
protected:
    void SetUp() override {
        static const bool registered = [] {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof(WNDCLASSEXA);
            wc.lpfnWndProc = RecordingProc;
            wc.lpszClassName = kRecorderClass;
            return RegisterClassExA(&wc) != 0;
        }();
        ASSERT_TRUE(registered);
        window_ = CreateWindowExA(0, kRecorderClass, "recorder", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        ShowWindow(window_, SW_SHOWDEFAULT);
        Drain();
        received.clear();
    }

    void TearDown() override {
        DestroyWindow(window_);
        Drain();
        received.clear();
    }

    HWND window_ = nullptr;
};

TEST_F(Win32Standin, RegistrationWantsTheRecordsOwnSizeAndANewName) {
    WNDCLASSEXA wc{};
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = "SizedClass";
    wc.cbSize = 48;  // the size of the record on 32-bit Windows only
    EXPECT_EQ(RegisterClassExA(&wc), 0);
    wc.cbSize = sizeof(WNDCLASSEXA);
    EXPECT_NE(RegisterClassExA(&wc), 0);
    EXPECT_EQ(RegisterClassExA(&wc), 0) << "a second class of the same name";
    EXPECT_EQ(
        CreateWindowExA(0, "NoSuchClass", "x", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr),
        nullptr);
}

TEST_F(Win32Standin, CreationSendsCreateAndSizeAndTheWindowHasItsSize) {
    HWND other = CreateWindowExA(0, kRecorderClass, "other", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                 nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    ASSERT_GE(received.size(), 2u);
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_CREATE));
    EXPECT_EQ(received[1].message, static_cast<UINT>(WM_SIZE));
    EXPECT_EQ(received[1].lParam, MAKELPARAM(200, 100));

    // No window manager on the dummy driver: no frame, the client area is the whole window.
    RECT client{}, outer{};
    ASSERT_TRUE(GetClientRect(other, &client));
    ASSERT_TRUE(GetWindowRect(other, &outer));
    EXPECT_EQ(client.right - client.left, 200);
    EXPECT_EQ(client.bottom - client.top, 100);
    EXPECT_EQ(outer.right - outer.left, 200);
    EXPECT_EQ(outer.bottom - outer.top, 100);
    EXPECT_TRUE(DestroyWindow(other));
    EXPECT_FALSE(DestroyWindow(other)) << "a window is destroyed once";
    Drain();  // the quit message the recorder posted on WM_DESTROY
}

TEST_F(Win32Standin, CloseDestroysTheWindowWhoseDestroyPostsQuitZero) {
    ASSERT_TRUE(PostMessageA(window_, WM_CLOSE, 0, 0));
    const std::vector<MSG> taken = Drain();
    EXPECT_EQ(ReceivedKinds(), (std::vector<UINT>{WM_CLOSE, WM_DESTROY}));
    ASSERT_EQ(Kinds(taken), (std::vector<UINT>{WM_CLOSE, WM_QUIT}));
    EXPECT_EQ(taken.back().wParam, 0u);
    EXPECT_EQ(taken.back().hwnd, nullptr);
    EXPECT_FALSE(PostMessageA(window_, WM_NULL, 0, 0)) << "the window is gone";
    RECT rect{};
    EXPECT_FALSE(GetClientRect(window_, &rect));
}

TEST_F(Win32Standin, AltF4ClosesTheWindowAndOtherSystemKeysDoNot) {
    constexpr LPARAM kAltF4 = 0x203E0001;
    constexpr LPARAM kF10 = 0x00440001;
    PostMessageA(window_, WM_SYSKEYDOWN, VK_F10, kF10);
    PostMessageA(window_, WM_SYSKEYDOWN, VK_F4, kAltF4 & ~(LPARAM{1} << 29));  // F4 without Alt
    EXPECT_EQ(Kinds(Drain()), (std::vector<UINT>{WM_SYSKEYDOWN, WM_SYSKEYDOWN}));

    PostMessageA(window_, WM_SYSKEYDOWN, VK_F4, kAltF4);
    const std::vector<MSG> taken = Drain();
    ASSERT_FALSE(taken.empty());
    EXPECT_EQ(taken.back().message, static_cast<UINT>(WM_QUIT));
    const std::vector<UINT> kinds = ReceivedKinds();
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), static_cast<UINT>(WM_CLOSE)), kinds.end());
    EXPECT_EQ(kinds.back(), static_cast<UINT>(WM_DESTROY));
}

TEST_F(Win32Standin, QuitComesAfterEveryPostedMessageWithItsCode) {
    PostQuitMessage(3);
    PostMessageA(window_, WM_NULL, 1, 0);
    PostMessageA(window_, WM_NULL, 2, 0);
    const std::vector<MSG> taken = Drain();
    ASSERT_EQ(Kinds(taken), (std::vector<UINT>{WM_NULL, WM_NULL, WM_QUIT}));
    EXPECT_EQ(taken[0].wParam, 1u);
    EXPECT_EQ(taken[1].wParam, 2u);
    EXPECT_EQ(taken[2].wParam, 3u);
    MSG msg{};
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) << "one quit message per PostQuitMessage";
}

TEST_F(Win32Standin, PeekWithoutRemovingLeavesTheMessageWaiting) {
    PostMessageA(window_, WM_NULL, 7, 0);
    MSG first{}, second{};
    ASSERT_TRUE(PeekMessageA(&first, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&second, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(first.wParam, 7u);
    EXPECT_EQ(second.wParam, 7u);
    MSG none{};
    none.message = WM_CLOSE;
    EXPECT_FALSE(PeekMessageA(&none, nullptr, 0, 0, PM_REMOVE));

    PostQuitMessage(4);
    ASSERT_TRUE(PeekMessageA(&first, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(first.message, static_cast<UINT>(WM_QUIT));
    ASSERT_TRUE(PeekMessageA(&second, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(second.wParam, 4u);
}

TEST_F(Win32Standin, DestroyingAWindowDropsItsWaitingMessagesSoTheQuitComesLast) {
    PostMessageA(window_, WM_CLOSE, 0, 0);
    PostMessageA(window_, WM_KEYUP, VK_F4, static_cast<LPARAM>(0xC03E0001));
    PostMessageA(window_, WM_NULL, 0, 0);
    const std::vector<MSG> taken = Drain();
    EXPECT_EQ(Kinds(taken), (std::vector<UINT>{WM_CLOSE, WM_QUIT}));
    EXPECT_EQ(ReceivedKinds(), (std::vector<UINT>{WM_CLOSE, WM_DESTROY}));
}

TEST_F(Win32Standin, TranslateAddsACharacterAfterAKeyThatTypesOne) {
    PostMessageA(window_, WM_KEYDOWN, 'Q', 0x00100001);
    PostMessageA(window_, WM_KEYDOWN, VK_LEFT, 0x014B0001);
    PostMessageA(window_, WM_KEYUP, 'Q', static_cast<LPARAM>(0xC0100001));
    const std::vector<MSG> taken = Drain();
    ASSERT_EQ(Kinds(taken), (std::vector<UINT>{WM_KEYDOWN, WM_KEYDOWN, WM_KEYUP, WM_CHAR}));
    EXPECT_EQ(taken[3].wParam, static_cast<WPARAM>('q'));
    EXPECT_EQ(taken[3].lParam, 0x00100001);
}

TEST_F(Win32Standin, SdlKeysAndClosingBecomeMessagesForTheWindow) {
    HWND__* record = standin::win32::LookUpWindow(window_);
    ASSERT_NE(record, nullptr);
    SDL_Event event{};
    event.type = SDL_KEYDOWN;
    event.key.windowID = SDL_GetWindowID(record->sdlWindow);
    event.key.state = SDL_PRESSED;
    event.key.keysym.scancode = SDL_SCANCODE_PAGEUP;
    event.key.keysym.sym = SDLK_PAGEUP;
    ASSERT_EQ(SDL_PushEvent(&event), 1);
    event.key.repeat = 1;
    ASSERT_EQ(SDL_PushEvent(&event), 1);

    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.windowID = event.key.windowID;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    ASSERT_EQ(SDL_PushEvent(&close), 1);

    const std::vector<MSG> taken = Drain();
    ASSERT_EQ(Kinds(taken), (std::vector<UINT>{WM_KEYDOWN, WM_KEYDOWN, WM_CLOSE, WM_QUIT}));
    EXPECT_EQ(taken[0].hwnd, window_);
    EXPECT_EQ(taken[0].wParam, static_cast<WPARAM>(VK_PRIOR));
    EXPECT_EQ(taken[0].lParam, 0x01490001);
    EXPECT_EQ(taken[1].lParam, 0x41490001);
    EXPECT_EQ(ReceivedKinds().back(), static_cast<UINT>(WM_DESTROY));
}

TEST_F(Win32Standin, ResizingSendsSizeWithTheNewClientArea) {
    HWND__* record = standin::win32::LookUpWindow(window_);
    ASSERT_NE(record, nullptr);
    SDL_SetWindowSize(record->sdlWindow, 640, 480);
    const std::vector<MSG> taken = Drain();
    const auto size = std::find_if(taken.begin(), taken.end(), [](const MSG& m) { return m.message == WM_SIZE; });
    ASSERT_NE(size, taken.end());
    EXPECT_EQ(size->lParam, MAKELPARAM(640, 480));
    RECT client{};
    GetClientRect(window_, &client);
    EXPECT_EQ(client.right, 640);
    EXPECT_EQ(client.bottom, 480);
}

TEST(Win32StandinStatics, ModuleCursorAndMessageBox) {
    EXPECT_NE(GetModuleHandleA(nullptr), nullptr);
    EXPECT_EQ(GetModuleHandleA(nullptr), GetModuleHandleA(nullptr));
    EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
    EXPECT_EQ(LoadCursorA(nullptr, MAKEINTRESOURCEA(32513)), nullptr) << "only the arrow is there";

    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "disk on fire", "Viewer", MB_OK | MB_ICONERROR), 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Viewer: disk on fire\n");
}

}  // namespace
