// The capture tool's command line: what frame to draw, which keys to press first, where the
// picture and the call trace go. Parsing is separate from running so it can be tested alone.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Process exit codes of anemometer-capture.
enum ExitCode : int {
    kExitOk = 0,
    kExitUsage = 2,   // bad or missing arguments, or a trace to replay that cannot be read
    kExitDevice = 3,  // the window or the device could not be made, the frame not drawn or not read back
    kExitWrite = 4,   // the PNG or the trace file could not be written
    // SIGINT or SIGTERM ended the run (nothing written): 128 + the signal's number, as a shell
    // reports a program the signal ended, so 130 for SIGINT and 143 for SIGTERM
    kExitInterruptedBase = 128,
};

// One key press, as named on the command line and as the virtual-key code sent with WM_KEYDOWN.
struct KeyPress {
    std::string name;
    unsigned int code = 0;
};

struct CaptureOptions {
    bool help = false;
    bool version = false;        // --version: print the program's version and stop
    int frame = 0;               // frames drawn (and thrown away) before the captured one
    std::optional<int> angle;    // when set, the rotor angle of the captured frame, in degrees
    std::vector<KeyPress> keys;  // delivered in order, after the earlier frames, before the captured one
    std::string outputPath;      // the PNG
    std::string tracePath;       // empty: no trace
    int iconSize = 0;            // when > 0, write a square icon of this size instead of the frame
    std::string replayPath;      // when set, the frame is made of this trace's calls instead of the scene's
};

// Either options or the reason they could not be read.
struct ParseResult {
    std::optional<CaptureOptions> options;
    std::string error;
};

// Reads the arguments after the program name.
ParseResult ParseArguments(const std::vector<std::string>& arguments);

// A key name (PageUp, Left, F2, ...; any case, with or without a VK_ prefix), a single letter
// A-Z, or a virtual-key code in hex (0x71) or decimal (113) between 1 and 254.
std::optional<unsigned int> ParseKey(std::string_view text);

// The preferred name of a virtual-key code ("F2", "PageUp"), or its hex code ("0x41") when it
// has none.
std::string KeyName(unsigned int code);

// The --help text.
std::string UsageText();
