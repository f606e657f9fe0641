#include "tools/capture/Capture.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "scene/Scene.h"
#include "scene/SceneState.h"
#include "tools/capture/Options.h"
#include "tools/capture/PngWriter.h"
#include "tools/capture/ReadBack.h"
#include "tools/capture/Replay.h"
#include "tools/capture/TraceDevice.h"

namespace {

constexpr char kProgram[] = "anemometer-capture";

// lParam of a WM_KEYDOWN for a key pressed once: repeat count 1, all other bits clear.
constexpr LPARAM kKeyDownLParam = 1;

int Usage(std::ostream& err, const std::string& message) {
    err << kProgram << ": " << message << "\n"
        << "Try '" << kProgram << " --help'.\n";
    return kExitUsage;
}

}  // namespace

int RunCapture(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    const ParseResult parsed = ParseArguments(arguments);
    if (!parsed.options) {
        return Usage(err, parsed.error);
    }
    const CaptureOptions& options = *parsed.options;
    if (options.help) {
        out << UsageText();
        return kExitOk;
    }

    // A trace to replay is read whole and checked before anything is made.
    std::vector<TraceCall> replayCalls;
    if (!options.replayPath.empty()) {
        std::ifstream in(options.replayPath, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        if (!in) {
            return Usage(err, "cannot read the trace to replay, '" + options.replayPath + "'");
        }
        std::string parseError;
        if (!ParseTrace(text.str(), replayCalls, parseError)) {
            return Usage(err, "'" + options.replayPath + "': " + parseError);
        }
    }

    std::ofstream trace;
    if (!options.tracePath.empty()) {
        trace.open(options.tracePath, std::ios::out | std::ios::trunc | std::ios::binary);
        if (!trace) {
            err << kProgram << ": cannot open the trace file '" << options.tracePath << "' for writing\n";
            return kExitWrite;
        }
        trace << kTraceHeader << '\n';
    }

    // A run that fails leaves no half-written trace behind.
    const auto discardTrace = [&trace, &options] {
        if (trace.is_open()) {
            trace.close();
            std::remove(options.tracePath.c_str());
        }
    };

    std::string error;
    if (!OpenCaptureDevice(error)) {
        err << kProgram << ": " << error << "\n";
        discardTrace();
        return kExitDevice;
    }

    // The frames before the captured one are drawn in full, as the viewer would draw them.
    for (int i = 0; i < options.frame; ++i) {
        RenderFrame();
    }
    if (options.angle) {
        sceneState.rotationDegrees = static_cast<float>(*options.angle);
    }
    if (trace.is_open()) {
        sceneState.device = CreateTraceDevice(sceneState.device, trace);  // takes over the reference
    }
    for (const KeyPress& key : options.keys) {
        if (trace.is_open()) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02x", key.code);
            trace << "key " << KeyName(key.code) << " " << code << '\n';
        }
        HandleKeyDown(CaptureWindow(), key.code, kKeyDownLParam);
    }
    if (trace.is_open()) {
        if (options.replayPath.empty()) {
            trace << "frame " << options.frame << " rotation " << sceneState.rotationDegrees << '\n';
        } else {
            trace << "replay\n";
        }
    }

    // The captured frame: the scene's, or the replayed trace's.
    CapturedFrame frame;
    bool replayed = true;
    std::string replayError;
    const bool captured = CaptureFrame(
        [&] {
            if (options.replayPath.empty()) {
                RenderFrame();
            } else {
                replayed = ReplayTrace(replayCalls, sceneState.device, replayError);
            }
        },
        frame, error);
    CloseCaptureDevice();
    if (!replayed) {
        err << kProgram << ": the trace could not be replayed: " << replayError << "\n";
        discardTrace();
        return kExitDevice;
    }
    if (!captured) {
        err << kProgram << ": the frame could not be read back: " << error << "\n";
        discardTrace();
        return kExitDevice;
    }

    if (trace.is_open()) {
        trace << "end\n";
        trace.close();
        if (trace.fail()) {
            err << kProgram << ": cannot write the trace file '" << options.tracePath << "'\n";
            std::remove(options.tracePath.c_str());
            return kExitWrite;
        }
    }
    if (!WritePng(options.outputPath, frame, error)) {
        err << kProgram << ": " << error << "\n";
        return kExitWrite;
    }
    return kExitOk;
}
