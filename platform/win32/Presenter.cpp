#include "platform/win32/Presenter.h"

#include <algorithm>
#include <thread>

#include "platform/win32/Window.h"

namespace standin::win32 {

namespace {

constexpr int kBytesPerPixel = static_cast<int>(sizeof(std::uint32_t));

// The frame at width x height: the frame itself when the sizes agree, else the frame stretched
// into `scratch`, which is given back once the sizes agree again.
Image FitTo(const Image& frame, int width, int height, std::vector<std::uint32_t>& scratch) {
    if (frame.width == width && frame.height == height) {
        std::vector<std::uint32_t>().swap(scratch);
        return frame;
    }
    scratch.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    StretchBilinear(frame, scratch.data(), width, height);
    return {scratch.data(), width, height};
}

// X8R8G8B8 is SDL's RGB888: 32 bits, x in the top byte, then red, green, blue.
bool IsX8R8G8B8(const SDL_Surface& surface) {
    return surface.format->format == SDL_PIXELFORMAT_RGB888 && surface.pitch == surface.w * kBytesPerPixel;
}

// The next frame of the back buffer the window shows, of the same size: only the pixels that
// changed (of each row, where the frame names them) are copied into the surface, and their box
// is sent to the window.
void ShowChanges(HWND__* record, SDL_Surface* surface, const Image& frame) {
    if (frame.changedRight < frame.changedLeft || frame.changedBottom < frame.changedTop) {
        if (SDL_MUSTLOCK(surface)) {
            SDL_UnlockSurface(surface);
        }
        return;  // the window shows this frame already
    }
    const auto columns = static_cast<std::size_t>(frame.changedRight - frame.changedLeft + 1);
    auto* pixels = static_cast<std::uint32_t*>(surface->pixels);
    for (int y = frame.changedTop; y <= frame.changedBottom; ++y) {
        int first = frame.changedLeft, last = frame.changedRight;
        if (frame.changedFirst != nullptr && frame.changedLast != nullptr) {
            first = std::max(first, frame.changedFirst[y]);
            last = std::min(last, frame.changedLast[y]);
        }
        if (first > last) {
            continue;
        }
        const std::size_t start =
            static_cast<std::size_t>(y) * static_cast<std::size_t>(frame.width) + static_cast<std::size_t>(first);
        std::copy_n(frame.pixels + start, static_cast<std::size_t>(last - first + 1), pixels + start);
    }
    if (SDL_MUSTLOCK(surface)) {
        SDL_UnlockSurface(surface);
    }
    const SDL_Rect rect{frame.changedLeft, frame.changedTop, static_cast<int>(columns),
                        frame.changedBottom - frame.changedTop + 1};
    SDL_UpdateWindowSurfaceRects(record->sdlWindow, &rect, 1);
}

// Into the window's surface (on X11 a shared-memory image), then one copy into the window.
void ShowOnSurface(HWND__* record, const Image& frame) {
    SDL_Surface* surface = SDL_GetWindowSurface(record->sdlWindow);  // made anew after a resize
    if (surface == nullptr || surface->w <= 0 || surface->h <= 0) {
        return;
    }
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) {
        return;
    }
    const bool sameSize = surface->w == frame.width && surface->h == frame.height;
    if (IsX8R8G8B8(*surface) && sameSize && frame.changedKnown && record->shown && record->shownSurface == surface &&
        record->shownPixels == frame.pixels) {
        ShowChanges(record, surface, frame);
        return;
    }
    record->shown = true;
    record->shownSurface = surface;
    record->shownPixels = frame.pixels;
    if (IsX8R8G8B8(*surface) && (surface->w != frame.width || surface->h != frame.height)) {
        StretchBilinear(frame, static_cast<std::uint32_t*>(surface->pixels), surface->w, surface->h);
    } else {
        const Image fitted = FitTo(frame, surface->w, surface->h, record->stretched);
        SDL_ConvertPixels(fitted.width, fitted.height, SDL_PIXELFORMAT_RGB888, fitted.pixels,
                          fitted.width * kBytesPerPixel, surface->format->format, surface->pixels, surface->pitch);
    }
    if (SDL_MUSTLOCK(surface)) {
        SDL_UnlockSurface(surface);
    }
    SDL_UpdateWindowSurface(record->sdlWindow);
}

// Through the window's renderer, one texel to a pixel: the texture has the client area's size.
void ShowWithRenderer(HWND__* record, const Image& frame) {
    int width = 0, height = 0;
    if (SDL_GetRendererOutputSize(record->renderer, &width, &height) != 0 || width <= 0 || height <= 0) {
        return;
    }
    int textureWidth = 0, textureHeight = 0;
    if (record->texture != nullptr) {
        SDL_QueryTexture(record->texture, nullptr, nullptr, &textureWidth, &textureHeight);
    }
    if (record->texture == nullptr || textureWidth != width || textureHeight != height) {
        if (record->texture != nullptr) {
            SDL_DestroyTexture(record->texture);
        }
        record->texture =
            SDL_CreateTexture(record->renderer, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, width, height);
        if (record->texture == nullptr) {
            return;
        }
    }
    const Image fitted = FitTo(frame, width, height, record->stretched);
    SDL_UpdateTexture(record->texture, nullptr, fitted.pixels, fitted.width * kBytesPerPixel);
    SDL_RenderCopy(record->renderer, record->texture, nullptr, nullptr);
    SDL_RenderPresent(record->renderer);
}

}  // namespace

void WindowPresenter::Present(HWND window, const Image& backBuffer) {
    const auto period = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / refreshRate_));
    const Clock::time_point now = Clock::now();
    if (!started_ || now > turn_ + period) {
        turn_ = now;  // the first frame, or one after a stall: start afresh rather than catch up
        started_ = true;
    }
    std::this_thread::sleep_until(turn_);
    Image frame = backBuffer;
    frame.changedKnown = backBuffer.changedKnown && backBuffer.pixels == lastPixels_ && window == lastWindow_;
    lastPixels_ = backBuffer.pixels;
    lastWindow_ = window;
    const bool throughRenderer = Show(window, frame);

    // A renderer's show that returned late was held back by the display until its refresh: the
    // next turn comes a little less than a period after it, early enough not to miss the next
    // refresh. Otherwise the clock alone sets the beat.
    const Clock::time_point shown = Clock::now();
    if (throughRenderer && shown - turn_ > period / 8) {
        turn_ = shown + period - period / 4;
    } else {
        turn_ += period;
    }
}

bool WindowPresenter::Show(HWND window, const Image& backBuffer) {
    HWND__* record = LookUpWindow(window);
    if (record == nullptr || backBuffer.pixels == nullptr || backBuffer.width <= 0 || backBuffer.height <= 0) {
        return false;
    }
    int clientWidth = 0, clientHeight = 0;
    ClientSize(record, &clientWidth, &clientHeight);
    if (clientWidth == 0 || clientHeight == 0) {
        return false;  // minimised: nothing to show, as on Windows
    }

    SDL_DisplayMode mode;
    if (SDL_GetWindowDisplayMode(record->sdlWindow, &mode) == 0 && mode.refresh_rate > 0) {
        refreshRate_ = mode.refresh_rate;
    }
    if (record->output == HWND__::Output::kRenderer) {
        ShowWithRenderer(record, backBuffer);
        return true;
    }
    ShowOnSurface(record, backBuffer);
    return false;
}

}  // namespace standin::win32
