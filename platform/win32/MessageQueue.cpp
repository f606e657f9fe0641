// The thread's message queue. Windows keeps three kinds of waiting messages and hands them out in
// this order: posted messages (PostMessageA, TranslateMessage's characters), then the quit
// message once PostQuitMessage has asked for one and no posted message is left, then input.
// Input here is what SDL reports: keys, the window's close button, size changes; it is turned
// into messages when PeekMessageA finds nothing else.
#include <deque>

#include "platform/win32/Keyboard.h"
#include "platform/win32/Window.h"

namespace {

struct MessageQueue {
    std::deque<MSG> posted;
    std::deque<MSG> input;
    bool quitRequested = false;  // PostQuitMessage's flag: WM_QUIT comes when nothing is posted
    int quitCode = 0;
};

MessageQueue& Queue() {
    static MessageQueue queue;
    return queue;
}

MSG MakeMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = SDL_GetTicks();  // milliseconds, as Windows' message time
    return msg;
}

void QueueInput(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Queue().input.push_back(MakeMessage(window, message, wParam, lParam));
}

void QueueSize(HWND window, WPARAM kind) {
    int width = 0, height = 0;
    standin::win32::ClientSize(standin::win32::LookUpWindow(window), &width, &height);
    QueueInput(window, WM_SIZE, kind, MAKELPARAM(width, height));
}

void TranslateWindowEvent(const SDL_WindowEvent& event) {
    HWND window = standin::win32::LookUpWindowBySdlId(event.windowID);
    if (window == nullptr) {
        return;
    }
    standin::win32::FitOuterRectangleOnce(standin::win32::LookUpWindow(window));
    if (event.event != SDL_WINDOWEVENT_MOVED && event.event != SDL_WINDOWEVENT_ENTER &&
        event.event != SDL_WINDOWEVENT_LEAVE && event.event != SDL_WINDOWEVENT_FOCUS_GAINED &&
        event.event != SDL_WINDOWEVENT_FOCUS_LOST) {
        standin::win32::LookUpWindow(window)->shown = false;  // exposed, resized, restored: all anew
    }
    switch (event.event) {
        case SDL_WINDOWEVENT_CLOSE:
            QueueInput(window, WM_CLOSE, 0, 0);
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            QueueSize(window, SIZE_RESTORED);
            break;
        case SDL_WINDOWEVENT_MINIMIZED:
            QueueInput(window, WM_SIZE, SIZE_MINIMIZED, 0);
            break;
        case SDL_WINDOWEVENT_MAXIMIZED:
            QueueSize(window, SIZE_MAXIMIZED);
            break;
        case SDL_WINDOWEVENT_RESTORED:
            QueueSize(window, SIZE_RESTORED);
            break;
        default:
            break;
    }
}

// Moves everything SDL has seen into the input queue.
void PumpInput() {
    if (SDL_WasInit(SDL_INIT_VIDEO) == 0) {
        return;
    }
    SDL_Event event;
    while (SDL_PollEvent(&event) != 0) {
        switch (event.type) {
            case SDL_KEYDOWN:
            case SDL_KEYUP: {
                HWND window = standin::win32::LookUpWindowBySdlId(event.key.windowID);
                const standin::win32::KeyMessage key = standin::win32::KeyMessageFromSdl(event.key);
                if (window != nullptr && key.message != 0) {
                    QueueInput(window, key.message, key.wParam, key.lParam);
                }
                break;
            }
            case SDL_WINDOWEVENT:
                TranslateWindowEvent(event.window);
                break;
            case SDL_QUIT:
                // A termination signal (Ctrl+C, SIGTERM): ask every window to close, as the
                // system does at log-off.
                for (HWND window : standin::win32::LiveWindows()) {
                    QueueInput(window, WM_CLOSE, 0, 0);
                }
                break;
            default:
                break;
        }
    }
}

bool Matches(const MSG& msg, HWND window, UINT filterMin, UINT filterMax) {
    if (window != nullptr && msg.hwnd != window) {
        return false;
    }
    return (filterMin == 0 && filterMax == 0) || (msg.message >= filterMin && msg.message <= filterMax);
}

// Takes (or, without PM_REMOVE, copies) the first matching message of a queue.
bool TakeFrom(std::deque<MSG>& queue, MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    for (auto it = queue.begin(); it != queue.end(); ++it) {
        if (Matches(*it, window, filterMin, filterMax)) {
            *msg = *it;
            if ((removeFlags & PM_REMOVE) != 0) {
                queue.erase(it);
            }
            return true;
        }
    }
    return false;
}

}  // namespace

BOOL WINAPI PeekMessageA(MSG* msg, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    MessageQueue& queue = Queue();
    if (TakeFrom(queue.posted, msg, window, filterMin, filterMax, removeFlags)) {
        return TRUE;
    }
    const bool quitInFilter = (filterMin == 0 && filterMax == 0) || (WM_QUIT >= filterMin && WM_QUIT <= filterMax);
    if (queue.quitRequested && quitInFilter) {
        *msg = MakeMessage(nullptr, WM_QUIT, static_cast<WPARAM>(static_cast<LONG_PTR>(queue.quitCode)), 0);
        if ((removeFlags & PM_REMOVE) != 0) {
            queue.quitRequested = false;
        }
        return TRUE;
    }
    PumpInput();
    return TakeFrom(queue.input, msg, window, filterMin, filterMax, removeFlags) ? TRUE : FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* msg) {
    if (msg == nullptr || (msg->message != WM_KEYDOWN && msg->message != WM_SYSKEYDOWN)) {
        return FALSE;
    }
    const char character = standin::win32::CharacterFromKey(msg->wParam, static_cast<Uint16>(SDL_GetModState()));
    if (character != 0) {
        const UINT charMessage = msg->message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
        Queue().posted.push_back(
            MakeMessage(msg->hwnd, charMessage, static_cast<unsigned char>(character), msg->lParam));
    }
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
    // Thread messages (no window), WM_QUIT among them, go to no procedure.
    if (msg == nullptr || msg->hwnd == nullptr) {
        return 0;
    }
    return standin::win32::SendMessageToWindow(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

namespace standin::win32 {

void RemoveMessagesFor(HWND window) {
    for (std::deque<MSG>* queue : {&Queue().posted, &Queue().input}) {
        std::erase_if(*queue, [window](const MSG& msg) { return msg.hwnd == window; });
    }
}

}  // namespace standin::win32

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window != nullptr && standin::win32::LookUpWindow(window) == nullptr) {
        return FALSE;  // ERROR_INVALID_WINDOW_HANDLE
    }
    Queue().posted.push_back(MakeMessage(window, message, wParam, lParam));
    return TRUE;
}

void WINAPI PostQuitMessage(int exitCode) {
    Queue().quitRequested = true;
    Queue().quitCode = exitCode;
}
