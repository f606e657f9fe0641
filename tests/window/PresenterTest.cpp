// The presenter that shows the software device's frames in a window: the frame as it is or
// stretched to the client area, and the pacing to the display's refresh. SDL's dummy driver
// keeps the window's surface in memory, where the test reads it back.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <vector>

#include "platform/win32/Presenter.h"
#include "platform/win32/Window.h"

namespace {

constexpr std::uint32_t kRed = 0x00FF0000;
constexpr std::uint32_t kWhite = 0x00FFFFFF;

LRESULT CALLBACK PlainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(window, message, wParam, lParam);
}

// An 800 x 600 back buffer, red left of column `edge` and white from it on.
std::vector<std::uint32_t> SplitImage(int edge) {
    std::vector<std::uint32_t> pixels(800 * 600);
    for (int y = 0; y < 600; ++y) {
        for (int x = 0; x < 800; ++x) {
            pixels[y * 800 + x] = x < edge ? kRed : kWhite;
        }
    }
    return pixels;
}

class WindowPresenterTest : public testing::Test {
protected:
    void SetUp() override {
        static const bool registered = [] {
            WNDCLASSEXA wc{};
            wc.cbSize = sizeof(WNDCLASSEXA);
            wc.lpfnWndProc = PlainProc;
            wc.lpszClassName = "PresenterTestClass";
            return RegisterClassExA(&wc) != 0;
        }();
        ASSERT_TRUE(registered);
        window_ = CreateWindowExA(0, "PresenterTestClass", "presenter", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                                  nullptr, nullptr, nullptr);
        ASSERT_NE(window_, nullptr) << SDL_GetError();
        ShowWindow(window_, SW_SHOWDEFAULT);
    }

    void TearDown() override {
        DestroyWindow(window_);
        MSG msg{};
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    // What the window shows now, read back from its renderer or from its surface (SDL's dummy
    // driver keeps either in memory).
    std::vector<std::uint32_t> Shown(int* width, int* height) {
        HWND__* record = standin::win32::LookUpWindow(window_);
        std::vector<std::uint32_t> pixels;
        if (record->renderer != nullptr) {
            SDL_GetRendererOutputSize(record->renderer, width, height);
            pixels.resize(static_cast<std::size_t>(*width) * static_cast<std::size_t>(*height));
            EXPECT_EQ(
                SDL_RenderReadPixels(record->renderer, nullptr, SDL_PIXELFORMAT_RGB888, pixels.data(), *width * 4), 0)
                << SDL_GetError();
        } else {
            SDL_Surface* surface = SDL_GetWindowSurface(record->sdlWindow);
            EXPECT_NE(surface, nullptr) << SDL_GetError();
            if (surface == nullptr) {
                return {};
            }
            *width = surface->w;
            *height = surface->h;
            pixels.resize(static_cast<std::size_t>(surface->w) * static_cast<std::size_t>(surface->h));
            EXPECT_EQ(SDL_ConvertPixels(surface->w, surface->h, surface->format->format, surface->pixels,
                                        surface->pitch, SDL_PIXELFORMAT_RGB888, pixels.data(), surface->w * 4),
                      0)
                << SDL_GetError();
        }
        for (std::uint32_t& pixel : pixels) {
            pixel &= 0x00FFFFFF;
        }
        return pixels;
    }

    // Presents an 800 x 600 frame at client areas smaller, larger, equal and smaller again: the
    // window shows the frame as it is at its own size and StretchBilinear's picture at others.
    void ExpectTheFrameAtEveryClientArea() {
        // An edge between source columns 400 and 401 lands between two window pixels at half size.
        const std::vector<std::uint32_t> source = SplitImage(401);
        const standin::Image image{source.data(), 800, 600};
        struct Size {
            int width, height;
        };
        for (const Size client : {Size{400, 300}, Size{1000, 250}, Size{800, 600}, Size{400, 300}}) {
            SDL_SetWindowSize(standin::win32::LookUpWindow(window_)->sdlWindow, client.width, client.height);
            MSG msg{};
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {  // SDL hears of the new size here
            }
            presenter_.Present(window_, image);
            int width = 0, height = 0;
            const std::vector<std::uint32_t> shown = Shown(&width, &height);
            ASSERT_EQ(width, client.width);
            ASSERT_EQ(height, client.height);
            std::vector<std::uint32_t> expected = source;
            if (client.width != 800 || client.height != 600) {
                expected.resize(shown.size());
                standin::StretchBilinear(image, expected.data(), width, height);
            }
            int differing = 0;
            for (std::size_t i = 0; i < shown.size(); ++i) {
                differing += (shown[i] != (expected[i] & 0x00FFFFFF)) ? 1 : 0;
            }
            EXPECT_EQ(differing, 0) << client.width << " x " << client.height;
        }
    }

    HWND window_ = nullptr;
    standin::win32::WindowPresenter presenter_;
};

TEST_F(WindowPresenterTest, WithoutAGpuShowsTheFrameOnTheWindowSurface) {
    // No renderer is made (on X11 it could load a GL stack).
    EXPECT_EQ(standin::win32::LookUpWindow(window_)->renderer, nullptr);
    ExpectTheFrameAtEveryClientArea();
}

TEST_F(WindowPresenterTest, ThroughARendererShowsTheFrameOneTexelToAPixel) {
    // The dummy display has no GPU; SDL's software renderer stands in for the accelerated one.
    HWND__* record = standin::win32::LookUpWindow(window_);
    record->renderer = SDL_CreateRenderer(record->sdlWindow, -1, SDL_RENDERER_SOFTWARE);
    ASSERT_NE(record->renderer, nullptr) << SDL_GetError();
    record->output = HWND__::Output::kRenderer;
    ExpectTheFrameAtEveryClientArea();
}

// A frame that names where it changed (a box, and the columns of each row) gets only those copied; one whose buffer
// last went to another window, or that does not know, is shown whole.
TEST_F(WindowPresenterTest, OnTheSurfaceCopiesOnlyTheChangedBoxOfTheFrameBefore) {
    SDL_SetWindowSize(standin::win32::LookUpWindow(window_)->sdlWindow, 800, 600);
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    std::vector<std::uint32_t> pixels = SplitImage(400);
    standin::Image frame{pixels.data(), 800, 600};
    presenter_.Present(window_, frame);
    // Columns 0 .. 9 turn white, but the frame names only rows 0 .. 4 of them as changed.
    for (int y = 0; y < 600; ++y) {
        std::fill_n(pixels.begin() + y * 800, 10, kWhite);
    }
    frame.changedKnown = true;
    frame.changedLeft = 0;
    frame.changedTop = 0;
    frame.changedRight = 9;
    frame.changedBottom = 4;
    std::vector<int> first(600, 0), last(600, 799);
    last[2] = 4;  // of row 2, only columns 0 .. 4
    frame.changedFirst = first.data();
    frame.changedLast = last.data();
    presenter_.Present(window_, frame);
    frame.changedFirst = frame.changedLast = nullptr;
    int width = 0, height = 0;
    std::vector<std::uint32_t> shown = Shown(&width, &height);
    ASSERT_EQ(shown.size(), pixels.size());
    EXPECT_EQ(shown[4 * 800 + 9], kWhite);
    EXPECT_EQ(shown[2 * 800 + 4], kWhite);
    EXPECT_EQ(shown[2 * 800 + 5], kRed) << "a pixel outside its row's columns was copied";
    EXPECT_EQ(shown[5 * 800], kRed) << "a pixel outside the box was copied";
    // The same buffer shown in another window in between: the next frame here comes whole.
    const HWND other = CreateWindowExA(0, "PresenterTestClass", "other", WS_OVERLAPPEDWINDOW, 0, 0, 800, 600, nullptr,
                                       nullptr, nullptr, nullptr);
    ShowWindow(other, SW_SHOWDEFAULT);
    presenter_.Present(other, frame);
    presenter_.Present(window_, frame);
    shown = Shown(&width, &height);
    EXPECT_EQ(shown[5 * 800], kWhite);
    DestroyWindow(other);
}

using Seconds = std::chrono::duration<double>;

Seconds TimePresents(standin::win32::WindowPresenter& presenter, HWND window, const standin::Image& image, int count) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        presenter.Present(window, image);
    }
    return std::chrono::steady_clock::now() - start;
}

TEST_F(WindowPresenterTest, WaitsForTheRefreshOfA60HzDisplay) {
    // The dummy display offers no vsync, so the presenter times frames itself.
    const std::vector<std::uint32_t> pixels = SplitImage(400);
    const standin::Image image{pixels.data(), 800, 600};
    presenter_.Present(window_, image);
    const Seconds elapsed = TimePresents(presenter_, window_, image, 30);
    EXPECT_GT(elapsed.count(), 0.45);
#ifndef ANEMOMETER_TESTS_SLOW_FRAMES  // emulated or sanitized, a frame's own work may outlast a refresh
    EXPECT_LT(elapsed.count(), 0.75) << "a frame waited twice";
#endif
}

TEST_F(WindowPresenterTest, FramesForNoWindowOrNoImageShowNothingButAreStillPaced) {
    const std::vector<std::uint32_t> pixels = SplitImage(400);
    presenter_.Present(window_, standin::Image{pixels.data(), 800, 600});
    DestroyWindow(window_);
    const Seconds gone = TimePresents(presenter_, window_, standin::Image{pixels.data(), 800, 600}, 12);
    const Seconds empty = TimePresents(presenter_, nullptr, standin::Image{}, 12);
    EXPECT_GT(gone.count(), 0.15);
    EXPECT_GT(empty.count(), 0.15);
}

}  // namespace
