// The capture tool's command line: arguments split at NUL bytes. Whatever is accepted must be
// consistent, and every key name the tool prints must read back as the same key.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/capture/Options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    std::vector<std::string> arguments(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (bytes[i] == 0) {
            arguments.emplace_back();
        } else {
            arguments.back() += static_cast<char>(bytes[i]);
        }
    }
    const ParseResult parsed = ParseArguments(arguments);
    if (!parsed.options) {
        if (parsed.error.empty()) {
            __builtin_trap();  // a refusal must say why
        }
        return 0;
    }
    const CaptureOptions& options = *parsed.options;
    if (options.help || options.version) {
        return 0;  // the two that need no output path
    }
    const bool consistent = !options.outputPath.empty() && options.frame >= 0 && options.frame <= 100000 &&
                            (!options.angle || (*options.angle >= 0 && *options.angle <= 359)) &&
                            (options.iconSize == 0 || (options.iconSize >= 16 && options.iconSize <= 1024));
    if (!consistent) {
        __builtin_trap();
    }
    for (const KeyPress& key : options.keys) {
        const auto again = ParseKey(KeyName(key.code));
        if (key.code < 1 || key.code > 254 || !again || *again != key.code) {
            __builtin_trap();
        }
    }
    return 0;
}
