// The presenter that shows the software device's frames in a window: the stretch to the client
// area, its filter, and the pacing to the display's refresh. SDL's dummy driver renders into
// memory that the test reads back.
#include <gtest/gtest.h>

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

    // What the window shows now, one row of it.
    std::vector<std::uint32_t> ShownRow(int y, int* width) {
        HWND__* record = standin::win32::LookUpWindow(window_);
        int height = 0;
        SDL_GetRendererOutputSize(record->renderer, width, &height);
        std::vector<std::uint32_t> row(static_cast<std::size_t>(*width));
        SDL_Rect line{0, y, *width, 1};
        EXPECT_EQ(SDL_RenderReadPixels(record->renderer, &line, SDL_PIXELFORMAT_RGB888, row.data(), *width * 4), 0)
            << SDL_GetError();
        for (std::uint32_t& pixel : row) {
            pixel &= 0x00FFFFFF;
        }
        return row;
    }

    HWND window_ = nullptr;
    standin::win32::WindowPresenter presenter_;
};

TEST_F(WindowPresenterTest, StretchesTheWholeFrameToTheClientAreaWithABilinearFilter) {
    // The edge between source columns 400 and 401 lands between two window pixels at half size.
    const std::vector<std::uint32_t> pixels = SplitImage(401);
    presenter_.Present(window_, standin::Image{pixels.data(), 800, 600});
    int width = 0;
    const std::vector<std::uint32_t> row = ShownRow(150, &width);
    ASSERT_EQ(width, 400);
    EXPECT_EQ(row[0], kRed);
    EXPECT_EQ(row[150], kRed);
    EXPECT_EQ(row[250], kWhite);
    EXPECT_EQ(row[399], kWhite);
    int blended = 0;
    for (int x = 190; x < 210; ++x) {
        const std::uint32_t green = (row[x] >> 8) & 0xFF;
        const std::uint32_t red = (row[x] >> 16) & 0xFF;
        if (red > 0xF0 && green > 0x20 && green < 0xE0) {
            ++blended;
        }
    }
    EXPECT_GE(blended, 1) << "a point filter would show only pure red and pure white";
}

TEST_F(WindowPresenterTest, FollowsTheClientAreaAfterAResize) {
    const std::vector<std::uint32_t> pixels = SplitImage(200);  // a quarter red
    presenter_.Present(window_, standin::Image{pixels.data(), 800, 600});
    SDL_SetWindowSize(standin::win32::LookUpWindow(window_)->sdlWindow, 1000, 250);
    MSG msg{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {  // SDL hears of the new size here
    }
    presenter_.Present(window_, standin::Image{pixels.data(), 800, 600});
    int width = 0;
    const std::vector<std::uint32_t> row = ShownRow(100, &width);
    ASSERT_EQ(width, 1000);
    EXPECT_EQ(row[240], kRed);
    EXPECT_EQ(row[260], kWhite);
    EXPECT_EQ(row[999], kWhite);
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
#ifndef ANEMOMETER_TESTS_UNDER_EMULATOR  // emulated, a frame's own work may take longer than a refresh
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
