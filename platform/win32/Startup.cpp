// The process's entry point on hosts without Windows. It does what the Windows runtime's start-up
// code does for a GUI program, then hands over to WinMain; it also connects the software
// Direct3D 9 to the windows, so that presented frames appear on screen.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <string>

#include "platform/win32/Presenter.h"

int main(int argc, char** argv) {
    // The command line as Windows passes it to WinMain: without the program's name.
    std::string commandLine;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) {
            commandLine += ' ';
        }
        commandLine += argv[i];
    }

    static standin::win32::WindowPresenter presenter;
    standin::SetPresenter(&presenter);
    const int exitCode = WinMain(GetModuleHandleA(nullptr), nullptr, commandLine.data(), SW_SHOWDEFAULT);
    standin::SetPresenter(nullptr);
    SDL_Quit();
    return exitCode;
}
