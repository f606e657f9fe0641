#include "tools/capture/Capture.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#include "scene/Scene.h"
#include "scene/SceneState.h"
#include "tools/capture/Options.h"
#include "tools/capture/OutputFile.h"
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

    // Outputs must be plain files (or not exist yet), and no file may be both read and written
    // or written twice.
    for (const std::string* path : {&options.outputPath, &options.tracePath}) {
        if (!path->empty()) {
            if (std::string refusal = CheckOutputPath(*path); !refusal.empty()) {
                return Usage(err, refusal);
            }
        }
    }
    if (!options.tracePath.empty() && SameFile(options.outputPath, options.tracePath)) {
        return Usage(err, "the PNG and the trace are the same file");
    }
    if (!options.replayPath.empty()) {
        for (const std::string* path : {&options.outputPath, &options.tracePath}) {
            if (!path->empty() && SameFile(options.replayPath, *path)) {
                return Usage(err, "'" + *path + "' is the same file as the trace to replay");
            }
        }
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

    // Both outputs are written to temporary files beside them and renamed over them only when
    // the run succeeds; a failed run leaves whatever was there before.
    std::string error;
    OutputFile picture;
    if (!picture.Open(options.outputPath, error)) {
        err << kProgram << ": " << error << "\n";
        return kExitWrite;
    }
    OutputFile traceFile;
    if (!options.tracePath.empty()) {
        if (!traceFile.Open(options.tracePath, error)) {
            err << kProgram << ": cannot open the trace file: " << error << "\n";
            return kExitWrite;
        }
        traceFile.Stream() << kTraceHeader << '\n';
    }
    std::ostream& trace = traceFile.Stream();
    const bool tracing = traceFile.IsOpen();

    if (!OpenCaptureDevice(error)) {
        err << kProgram << ": " << error << "\n";
        return kExitDevice;
    }

    // The frames before the captured one are drawn in full, as the viewer would draw them.
    for (int i = 0; i < options.frame; ++i) {
        RenderFrame();
    }
    if (options.angle) {
        sceneState.rotationDegrees = static_cast<float>(*options.angle);
    }
    if (tracing) {
        sceneState.device = CreateTraceDevice(sceneState.device, trace);  // takes over the reference
    }
    for (const KeyPress& key : options.keys) {
        if (tracing) {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02x", key.code);
            trace << "key " << KeyName(key.code) << " " << code << '\n';
        }
        HandleKeyDown(CaptureWindow(), key.code, kKeyDownLParam);
    }
    if (tracing) {
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
        return kExitDevice;
    }
    if (!captured) {
        err << kProgram << ": the frame could not be read back: " << error << "\n";
        return kExitDevice;
    }

    if (tracing) {
        trace << "end\n";
        if (!traceFile.Commit(error)) {
            err << kProgram << ": " << error << "\n";
            return kExitWrite;
        }
    }
    if (!WritePng(picture, frame, error)) {
        err << kProgram << ": " << error << "\n";
        return kExitWrite;
    }
    return kExitOk;
}
