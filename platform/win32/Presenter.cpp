#include "platform/win32/Presenter.h"

#include <thread>

#include "platform/win32/Window.h"

namespace standin::win32 {

void WindowPresenter::Present(HWND window, const Image& backBuffer) {
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / refreshRate_));
    const Clock::time_point now = Clock::now();
    if (!started_ || now > turn_ + period) {
        turn_ = now;  // the first frame, or one after a stall: start afresh rather than catch up
        started_ = true;
    }
    std::this_thread::sleep_until(turn_);
    Show(window, backBuffer);

    // A show that returned late was held back by the display until its refresh: the next turn
    // comes a little less than a period after it, early enough not to miss the next refresh.
    // Otherwise the clock alone sets the beat.
    const Clock::time_point shown = Clock::now();
    if (shown - turn_ > period / 8) {
        turn_ = shown + period - period / 4;
    } else {
        turn_ += period;
    }
}

void WindowPresenter::Show(HWND window, const Image& backBuffer) {
    HWND__* record = LookUpWindow(window);
    if (record == nullptr || backBuffer.pixels == nullptr || backBuffer.width <= 0 || backBuffer.height <= 0) {
        return;
    }
    int clientWidth = 0, clientHeight = 0;
    ClientSize(record, &clientWidth, &clientHeight);
    if (clientWidth == 0 || clientHeight == 0) {
        return;  // minimised: nothing to show, as on Windows
    }

    SDL_DisplayMode mode;
    if (SDL_GetWindowDisplayMode(record->sdlWindow, &mode) == 0 && mode.refresh_rate > 0) {
        refreshRate_ = mode.refresh_rate;
    }
    if (!CreateRenderer(record)) {
        return;
    }
    int textureWidth = 0, textureHeight = 0;
    if (record->texture != nullptr) {
        SDL_QueryTexture(record->texture, nullptr, nullptr, &textureWidth, &textureHeight);
    }
    if (record->texture == nullptr || textureWidth != backBuffer.width || textureHeight != backBuffer.height) {
        if (record->texture != nullptr) {
            SDL_DestroyTexture(record->texture);
        }
        // X8R8G8B8 is SDL's RGB888: 32 bits, x in the top byte, then red, green, blue.
        record->texture = SDL_CreateTexture(record->renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                            backBuffer.width, backBuffer.height);
        if (record->texture == nullptr) {
            return;
        }
        SDL_SetTextureScaleMode(record->texture, SDL_ScaleModeLinear);  // bilinear stretch
    }
    SDL_UpdateTexture(record->texture, nullptr, backBuffer.pixels,
                      backBuffer.width * static_cast<int>(sizeof(std::uint32_t)));
    SDL_RenderClear(record->renderer);
    SDL_RenderCopy(record->renderer, record->texture, nullptr, nullptr);  // whole image to whole client area
    SDL_RenderPresent(record->renderer);
}

}  // namespace standin::win32
