#include "tools/capture/Capture.h"

#include <csignal>
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

// Set by SIGINT and SIGTERM: the run stops at the next frame or call, leaving no output.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void OnStopSignal(int signal) {
    stopSignal = signal;
}

// Catches SIGINT and SIGTERM while it lives. Installed before SDL starts, which then leaves
// them alone (SDL only takes signals whose handler is the default one).
class StopSignals {
public:
    StopSignals() {
        stopSignal = 0;
        previousInterrupt_ = std::signal(SIGINT, OnStopSignal);
        previousTerminate_ = std::signal(SIGTERM, OnStopSignal);
    }
    ~StopSignals() {
        std::signal(SIGINT, previousInterrupt_);
        std::signal(SIGTERM, previousTerminate_);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    void (*previousInterrupt_)(int) = SIG_DFL;
    void (*previousTerminate_)(int) = SIG_DFL;
};

int Interrupted(std::ostream& err) {
    err << kProgram << ": interrupted by signal " << stopSignal << "; nothing was written\n";
    return kExitInterruptedBase + stopSignal;
}

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
    if (options.version) {
        out << kProgram << " " << ANEMOMETER_VERSION << "\n";
        return kExitOk;
    }
    const StopSignals stopSignals;

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
        std::string text;
        std::string parseError;
        if (!ReadTraceFile(options.replayPath, text, parseError)) {
            return Usage(err, parseError);
        }
        if (!ParseTrace(text, replayCalls, parseError)) {
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
    for (int i = 0; i < options.frame && stopSignal == 0; ++i) {
        RenderFrame();
    }
    if (stopSignal != 0) {
        CloseCaptureDevice();
        return Interrupted(err);
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
    ReplayOutcome replayed = ReplayOutcome::kDrawn;
    std::string replayError;
    const bool captured = CaptureFrame(
        [&] {
            if (options.replayPath.empty()) {
                RenderFrame();
            } else {
                replayed = ReplayTrace(replayCalls, sceneState.device, replayError, &stopSignal);
            }
        },
        frame, error);
    CloseCaptureDevice();
    if (stopSignal != 0 || replayed == ReplayOutcome::kInterrupted) {
        return Interrupted(err);
    }
    if (replayed == ReplayOutcome::kTooCostly) {
        return Usage(err, "'" + options.replayPath + "': " + replayError);
    }
    if (replayed != ReplayOutcome::kDrawn) {
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
    if (!WritePng(picture, options.iconSize > 0 ? MakeIcon(frame, options.iconSize) : frame, error)) {
        err << kProgram << ": " << error << "\n";
        return kExitWrite;
    }
    return kExitOk;
}
