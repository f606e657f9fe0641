// anemometer-capture: draws one frame of the viewer's scene headless and writes it as a PNG.
// See UsageText() in Options.cpp or run it with --help.
#include <iostream>
#include <string>
#include <vector>

#include "tools/capture/Capture.h"

int main(int argc, char** argv) {
    return RunCapture(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
