#include "tools/capture/Options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>

namespace {

constexpr int kMaxFrame = 100000;  // a typo should not start an hour of drawing

struct NamedKey {
    const char* name;
    unsigned int code;
};

// The first name of each code is the one KeyName gives back. The keyboard's own keys (arrows,
// Page Up/Down, F1 to F7) come first; the rest are there so other keys can be tried as well.
constexpr NamedKey kKeyNames[] = {
    {"PageUp", 0x21}, {"Prior", 0x21}, {"PgUp", 0x21},   {"PageDown", 0x22}, {"Next", 0x22},      {"PgDn", 0x22},
    {"Left", 0x25},   {"Up", 0x26},    {"Right", 0x27},  {"Down", 0x28},     {"F1", 0x70},        {"F2", 0x71},
    {"F3", 0x72},     {"F4", 0x73},    {"F5", 0x74},     {"F6", 0x75},       {"F7", 0x76},        {"F8", 0x77},
    {"F9", 0x78},     {"F10", 0x79},   {"F11", 0x7A},    {"F12", 0x7B},      {"Backspace", 0x08}, {"Back", 0x08},
    {"Tab", 0x09},    {"Enter", 0x0D}, {"Return", 0x0D}, {"Escape", 0x1B},   {"Esc", 0x1B},       {"Space", 0x20},
    {"End", 0x23},    {"Home", 0x24},  {"Insert", 0x2D}, {"Delete", 0x2E},
};

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

// A whole non-negative number in decimal, or in hex after 0x; nothing else.
std::optional<long long> ParseNumber(std::string_view text) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 12) {
        return std::nullopt;
    }
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

// The value of an option: the rest of "--name=value", or the next argument.
std::optional<std::string> TakeValue(const std::vector<std::string>& arguments, std::size_t& index,
                                     const std::optional<std::string>& inlineValue) {
    if (inlineValue) {
        return inlineValue;
    }
    if (index + 1 >= arguments.size()) {
        return std::nullopt;
    }
    return arguments[++index];
}

ParseResult Fail(std::string message) {
    return ParseResult{std::nullopt, std::move(message)};
}

}  // namespace

std::optional<unsigned int> ParseKey(std::string_view text) {
    if (text.size() > 3 && EqualsIgnoringCase(text.substr(0, 3), "VK_")) {
        text.remove_prefix(3);
    }
    for (const NamedKey& key : kKeyNames) {
        if (EqualsIgnoringCase(text, key.name)) {
            return key.code;
        }
    }
    if (text.size() == 1 && std::isalpha(static_cast<unsigned char>(text[0]))) {
        return static_cast<unsigned int>(std::toupper(static_cast<unsigned char>(text[0])));  // 'A'..'Z' = 0x41..0x5A
    }
    std::optional<long long> number = ParseNumber(text);
    if (number && *number >= 1 && *number <= 254) {
        return static_cast<unsigned int>(*number);
    }
    return std::nullopt;
}

std::string KeyName(unsigned int code) {
    for (const NamedKey& key : kKeyNames) {
        if (key.code == code) {
            return key.name;
        }
    }
    if (code >= 'A' && code <= 'Z') {
        return std::string(1, static_cast<char>(code));
    }
    static const char kHex[] = "0123456789ABCDEF";
    return std::string("0x") + kHex[(code >> 4) & 0xF] + kHex[code & 0xF];
}

ParseResult ParseArguments(const std::vector<std::string>& arguments) {
    CaptureOptions options;
    bool frameGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "-h" || argument == "--help") {
            options.help = true;
            continue;
        }
        if (argument == "--version") {
            options.version = true;
            continue;
        }
        if (argument.empty() || argument[0] != '-' || argument == "-") {
            if (!options.outputPath.empty()) {
                return Fail("more than one output path: '" + options.outputPath + "' and '" + argument + "'");
            }
            if (argument.empty()) {
                return Fail("the output path is empty");
            }
            options.outputPath = argument;
            continue;
        }

        // "--name value" or "--name=value"
        std::string name = argument;
        std::optional<std::string> inlineValue;
        if (std::size_t equals = argument.find('='); argument.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = argument.substr(0, equals);
            inlineValue = argument.substr(equals + 1);
        }
        const bool known = name == "--frame" || name == "--angle" || name == "--keys" || name == "--trace" ||
                           name == "--replay" || name == "--icon" || name == "-o" || name == "--output";
        if (!known) {
            return Fail("unknown option '" + argument + "'");
        }
        std::optional<std::string> value = TakeValue(arguments, i, inlineValue);
        if (!value) {
            return Fail("option '" + name + "' needs a value");
        }

        if (name == "--frame") {
            std::optional<long long> frame = ParseNumber(*value);
            if (!frame || *frame > kMaxFrame) {
                return Fail("--frame wants a whole number from 0 to " + std::to_string(kMaxFrame) + ", not '" + *value +
                            "'");
            }
            options.frame = static_cast<int>(*frame);
            frameGiven = true;
        } else if (name == "--angle") {
            std::optional<long long> angle = ParseNumber(*value);
            if (!angle || *angle > 359) {
                return Fail("--angle wants whole degrees from 0 to 359, not '" + *value + "'");
            }
            options.angle = static_cast<int>(*angle);
        } else if (name == "--keys") {
            std::size_t start = 0;
            while (true) {
                std::size_t comma = value->find(',', start);
                std::string item = value->substr(start, comma == std::string::npos ? std::string::npos : comma - start);
                std::optional<unsigned int> code = ParseKey(item);
                if (!code) {
                    return Fail("unknown key '" + item + "' in --keys (see --help for the names)");
                }
                options.keys.push_back(KeyPress{item, *code});
                if (comma == std::string::npos) {
                    break;
                }
                start = comma + 1;
            }
        } else if (name == "--icon") {
            std::optional<long long> size = ParseNumber(*value);
            if (!size || *size < 16 || *size > 1024) {
                return Fail("--icon wants a size in pixels from 16 to 1024, not '" + *value + "'");
            }
            options.iconSize = static_cast<int>(*size);
        } else if (name == "--replay") {
            if (value->empty()) {
                return Fail("the path of the trace to replay is empty");
            }
            options.replayPath = *value;
        } else if (name == "--trace") {
            if (value->empty()) {
                return Fail("the trace path is empty");
            }
            options.tracePath = *value;
        } else {  // -o, --output
            if (value->empty()) {
                return Fail("the output path is empty");
            }
            if (!options.outputPath.empty()) {
                return Fail("more than one output path: '" + options.outputPath + "' and '" + *value + "'");
            }
            options.outputPath = *value;
        }
    }

    if (options.help || options.version) {
        return ParseResult{options, {}};
    }
    if (frameGiven && options.angle) {
        return Fail("--frame and --angle cannot be used together");
    }
    if (!options.replayPath.empty() && (frameGiven || options.angle || !options.keys.empty())) {
        return Fail("--replay draws the trace's own frame; it takes no --frame, --angle or --keys");
    }
    if (options.outputPath.empty()) {
        return Fail("no output path given");
    }
    if (options.outputPath == options.tracePath) {
        return Fail("the PNG and the trace cannot be the same file");
    }
    return ParseResult{options, {}};
}

std::string UsageText() {
    return R"(Usage: anemometer-capture [options] OUTPUT.png

Draws one frame of the anemometer on this host's Direct3D 9 device, headless, and writes
it as an 800 x 600 RGB PNG.

Options:
  -o, --output FILE   the PNG to write (or give it as the one plain argument)
  --frame N           draw N frames first and capture frame N (rotor at N mod 360 degrees);
                      0 to 100000, default 0
  --angle DEG         capture the first frame with the rotor set to DEG (0 to 359) instead;
                      not together with --frame
  --keys K1,K2,...    press these keys, in order, just before the captured frame; may be given
                      more than once. Names (any case, VK_ prefix allowed): PageUp (Prior, PgUp),
                      PageDown (Next, PgDn), Left, Up, Right, Down, F1 to F12, Escape, Space,
                      Enter, Tab, Backspace, Home, End, Insert, Delete; a letter A to Z; or a
                      virtual-key code, 0x71 or 113
  --trace FILE        write every device call of the key presses and of the captured frame,
                      with every uploaded vertex, one line per call (the format is described
                      in tools/capture/README.md)
  --replay FILE       draw the frame by making the device calls of a trace written by --trace
                      again, instead of running the scene
  --icon SIZE         write a SIZE x SIZE icon (16 to 1024) instead of the whole frame: the
                      square around what was drawn, scaled down by averaging
  --version           show the version
  -h, --help          show this text

Exit codes: 0 written; 2 bad arguments, an output that is not a regular file or is the same
file as another, or a trace to replay that cannot be read, is not a trace or passes its
limits; 3 the window or the device could not be made, or the frame not drawn or read back;
4 the PNG or the trace could not be written; 130 or 143 ended by SIGINT or SIGTERM. Outputs
are replaced only when the run succeeds.
)";
}
