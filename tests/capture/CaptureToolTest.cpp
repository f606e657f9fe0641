// anemometer-capture run as a user runs it: exit codes and messages, the picture it writes and
// the trace of the device calls. The program is the one the build just made.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "PngReader.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kBlack = 0x000000;
constexpr std::uint32_t kRed = 0xFF0000;
constexpr std::uint32_t kWhite = 0xFFFFFF;

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

class CaptureTool : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        directory_ = fs::temp_directory_path() / ("capture_tool_" + std::to_string(::getpid()) + "_" +
                                                  info->test_suite_name() + "_" + info->name());
        fs::create_directories(directory_);
    }
    void TearDown() override { fs::remove_all(directory_); }

    fs::path File(const std::string& name) const { return directory_ / name; }

    // Runs the tool with the arguments, optionally with one environment variable set.
    ToolRun Capture(const std::vector<std::string>& arguments, const std::string& environment = "") const {
        std::string command = environment.empty() ? "" : "env " + Quoted(environment) + " ";
        for (const char* word : std::initializer_list<const char*> CAPTURE_TOOL_EMULATOR) {
            command += Quoted(word) + " ";
        }
        command += Quoted(CAPTURE_TOOL_PATH);
        for (const std::string& argument : arguments) {
            command += " " + Quoted(argument);
        }
        command += " >" + Quoted(File("stdout").string()) + " 2>" + Quoted(File("stderr").string());
        const int status = std::system(command.c_str());
        ToolRun run;
        run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = ReadFile(File("stdout"));
        run.err = ReadFile(File("stderr"));
        return run;
    }

    // Captures a frame into name and decodes it; fails the test when either goes wrong.
    DecodedPng Picture(const std::string& name, std::vector<std::string> arguments = {}) const {
        arguments.push_back(File(name).string());
        ToolRun run = Capture(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        DecodedPng png = DecodePngFile(File(name).string());
        EXPECT_TRUE(png.error.empty()) << png.error;
        return png;
    }

    std::vector<std::string> TraceLines(const std::string& name, std::vector<std::string> arguments = {}) const {
        arguments.insert(arguments.end(), {"--trace", File(name).string(), File(name + ".png").string()});
        ToolRun run = Capture(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(File(name)));
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

private:
    fs::path directory_;
};

int CountStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
    int count = 0;
    for (const std::string& line : lines) {
        count += line.rfind(prefix, 0) == 0 ? 1 : 0;
    }
    return count;
}

// The pixels of a block around (x, y), by colour.
struct Census {
    int red = 0;
    int white = 0;
    int black = 0;
    int other = 0;
};

Census Count(const DecodedPng& png, int x0, int y0, int x1, int y1) {
    Census census;
    for (int y = y0; y <= y1; ++y) {
        for (int x = x0; x <= x1; ++x) {
            const std::uint32_t pixel = png.At(x, y);
            (pixel == kRed     ? census.red
             : pixel == kWhite ? census.white
             : pixel == kBlack ? census.black
                               : census.other)++;
        }
    }
    return census;
}

// The mast stands below the image's centre: the eye at (0, 20, -30) looks at the origin, which
// lies inside the cone (radius 2.3 at that height), so the block around the centre is all mast.
constexpr int kMastLeft = 385, kMastTop = 295, kMastRight = 415, kMastBottom = 330;

// >>arguments and exit codes

TEST_F(CaptureTool, HelpExitsWithZeroAndNamesEveryOption) {
    ToolRun run = Capture({"--help"});
    EXPECT_EQ(run.exitCode, 0);
    for (const char* option : {"--frame", "--angle", "--keys", "--trace", "--output", "Exit codes"}) {
        EXPECT_NE(run.out.find(option), std::string::npos) << option;
    }
    EXPECT_TRUE(run.err.empty());
}

TEST_F(CaptureTool, BadArgumentsExitWithTwoAndSayWhatIsWrong) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "no output path"},
        {{"--frame", "-3", "a.png"}, "--frame wants"},
        {{"--angle", "400", "a.png"}, "--angle wants"},
        {{"--keys", "F2,Sideways", "a.png"}, "unknown key 'Sideways'"},
        {{"--bogus", "a.png"}, "unknown option '--bogus'"},
        {{"a.png", "--trace"}, "needs a value"},
    };
    for (const auto& [arguments, message] : cases) {
        ToolRun run = Capture(arguments);
        EXPECT_EQ(run.exitCode, 2) << message;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("--help"), std::string::npos) << run.err;
    }
    EXPECT_FALSE(fs::exists("a.png"));
}

TEST_F(CaptureTool, AnUnwritableTraceExitsWithFourBeforeDrawing) {
    ToolRun run = Capture({"--trace", File("missing/trace.txt").string(), File("a.png").string()});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(run.err.find("trace"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(File("a.png")));
}

TEST_F(CaptureTool, AnUnwritablePictureExitsWithFour) {
    ToolRun run = Capture({File("missing/a.png").string()});
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_NE(run.err.find("missing/a.png"), std::string::npos) << run.err;
}

TEST_F(CaptureTool, NoWindowForTheDeviceExitsWithThree) {
    // The window stand-in runs on SDL; a video driver that does not exist makes the window fail.
    ToolRun run =
        Capture({"--trace", File("t.txt").string(), File("a.png").string()}, "SDL_VIDEODRIVER=no-such-driver");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_NE(run.err.find("window"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(File("a.png")));
    EXPECT_FALSE(fs::exists(File("t.txt"))) << "no half-written trace is left";
}

// >>outputs: written whole or not at all, never over something that is not a plain file

TEST_F(CaptureTool, AFailedRunLeavesExistingFilesAsTheyWere) {
    std::ofstream(File("a.png")) << "old picture";
    std::ofstream(File("t.txt")) << "old trace";
    ToolRun run =
        Capture({"--trace", File("t.txt").string(), File("a.png").string()}, "SDL_VIDEODRIVER=no-such-driver");
    EXPECT_EQ(run.exitCode, 3) << run.err;
    EXPECT_EQ(ReadFile(File("a.png")), "old picture");
    EXPECT_EQ(ReadFile(File("t.txt")), "old trace");
    // A run that succeeds replaces both, and leaves no temporary file beside them.
    ASSERT_EQ(Capture({"--trace", File("t.txt").string(), File("a.png").string()}).exitCode, 0);
    EXPECT_EQ(ReadFile(File("t.txt")).rfind("# anemometer-capture trace 1\n", 0), 0u);
    EXPECT_TRUE(DecodePngFile(File("a.png").string()).error.empty());
    int files = 0;
    for (const auto& entry : fs::directory_iterator(File("."))) {
        files += entry.path().filename() != "stdout" && entry.path().filename() != "stderr" ? 1 : 0;
    }
    EXPECT_EQ(files, 2);
}

TEST_F(CaptureTool, OutputsThatAreNotPlainFilesOrAreAnInputAreRefusedWithTwo) {
    fs::create_directories(File("folder"));
    ASSERT_EQ(Capture({"--trace", File("t.txt").string(), File("a.png").string()}).exitCode, 0);
    fs::create_hard_link(File("t.txt"), File("t-link.txt"));
    const std::string trace = ReadFile(File("t.txt"));
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{File("folder").string()}, "not a regular file"},
        {{"--trace", File("folder").string(), File("b.png").string()}, "not a regular file"},
        {{"--trace", File("./a.png").string(), File("a.png").string()}, "same file"},
        {{"--replay", File("t.txt").string(), File("t-link.txt").string()}, "same file"},
        {{"--replay", File("t.txt").string(), "--trace", File("folder/../t.txt").string(), File("b.png").string()},
         "same file"},
    };
    for (const auto& [arguments, message] : cases) {
        ToolRun run = Capture(arguments);
        EXPECT_EQ(run.exitCode, 2) << arguments.back();
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }
    EXPECT_TRUE(fs::is_directory(File("folder")));
    EXPECT_TRUE(ReadFile(File("t.txt")) == trace) << "the trace was changed";
    EXPECT_FALSE(fs::exists(File("b.png")));
}

TEST_F(CaptureTool, SigintAndSigtermEndALongCapturePromptlyWritingNothing) {
    if (std::initializer_list<const char*> CAPTURE_TOOL_EMULATOR.size() != 0) {
        // Under qemu-user both this test and the tool are emulated, and the signal would cross
        // two emulators; the native and sanitizer runs check the tool's own handling.
        GTEST_SKIP() << "signals to a tool under an emulator";
    }
    std::ofstream(File("a.png")) << "old picture";
    for (const int signal : {SIGINT, SIGTERM}) {
        const std::string png = File("a.png").string();
        const std::string trace = File("t.txt").string();
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::execl(CAPTURE_TOOL_PATH, CAPTURE_TOOL_PATH, "--frame", "100000", "--trace", trace.c_str(), png.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(500));  // well into the frames
        ::kill(child, signal);
        int status = 0;
        const auto sent = std::chrono::steady_clock::now();
        while (::waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() - sent > std::chrono::seconds(5)) {
                ::kill(child, SIGKILL);
                ::waitpid(child, &status, 0);
                ADD_FAILURE() << "signal " << signal << " did not end the capture within 5 s";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal) << "signal " << signal;
    }
    EXPECT_EQ(ReadFile(File("a.png")), "old picture");
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(File("."))) {
        left.push_back(entry.path().filename().string());
    }
    EXPECT_EQ(left, std::vector<std::string>{"a.png"}) << "no trace and no temporary file";
}

TEST_F(CaptureTool, AReplayThatWouldDrawTooMuchIsRefusedWithTwo) {
    // 67 vertices on three screen-covering corners, drawn as a strip of 65 screen-sized triangles.
    std::ofstream text(File("costly.txt"));
    text << "# anemometer-capture trace 1\n";
    for (int state : {2, 3, 256}) {
        text << "SetTransform " << state << " 1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1 -> 0x0\n";
    }
    text << "CreateVertexBuffer 1072 0x0 0x42 1 null -> 0x0 vb1\nvb1.Lock 0 0 0x0 -> 0x0\n";
    const char* corners[] = {"-1 -1", "-1 3", "3 -1"};
    for (int i = 0; i < 67; ++i) {
        text << "vertex vb1 " << i << " " << corners[i % 3] << " 0.5 0x00ff0000\n";
    }
    text << "vb1.Unlock -> 0x0\nSetStreamSource 0 vb1 0 16 -> 0x0\nBeginScene -> 0x0\nDrawPrimitive 5 0 65 -> 0x0\n"
         << "EndScene -> 0x0\nPresent null null null null -> 0x0\nend\n";
    text.close();
    ToolRun run = Capture({"--replay", File("costly.txt").string(), File("a.png").string()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("back buffers' worth of pixels"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(File("a.png")));
}

// >>the picture

TEST_F(CaptureTool, TheFirstFrameIs800x600WithBlackCornersAndAStripedMast) {
    DecodedPng png = Picture("first.png");
    ASSERT_EQ(png.width, 800);
    ASSERT_EQ(png.height, 600);
    for (auto [x, y] : {std::pair{0, 0}, {799, 0}, {0, 599}, {799, 599}}) {
        EXPECT_EQ(png.At(x, y), kBlack) << x << "," << y;
    }
    Census mast = Count(png, kMastLeft, kMastTop, kMastRight, kMastBottom);
    EXPECT_EQ(mast.black + mast.other, 0) << "black " << mast.black << ", other " << mast.other;
    EXPECT_GT(mast.red, 0);
    EXPECT_GT(mast.white, 0);
}

TEST_F(CaptureTool, F2DrawsEdgesOnlyLeavingTheMastsInsideBlack) {
    DecodedPng solid = Picture("solid.png");
    DecodedPng wire = Picture("wire.png", {"--keys", "F2"});
    ASSERT_EQ(wire.width, 800);
    Census mast = Count(wire, kMastLeft, kMastTop, kMastRight, kMastBottom);
    EXPECT_GT(mast.black, mast.red + mast.white) << "most of the mast's inside should be black";
    EXPECT_GT(mast.red + mast.white, 0) << "the mast's edges should still be drawn";

    const Census wholeSolid = Count(solid, 0, 0, 799, 599);
    const Census wholeWire = Count(wire, 0, 0, 799, 599);
    EXPECT_LT(wholeWire.red + wholeWire.white, (wholeSolid.red + wholeSolid.white) / 2);

    DecodedPng back = Picture("back.png", {"--keys", "F2,F1"});
    EXPECT_EQ(back.pixels, solid.pixels) << "F1 after F2 returns to solid fill";
}

TEST_F(CaptureTool, FrameNShowsTheRotorAtNDegrees) {
    DecodedPng byFrames = Picture("frame.png", {"--frame", "30"});
    DecodedPng byAngle = Picture("angle.png", {"--angle", "30"});
    DecodedPng first = Picture("first.png");
    EXPECT_EQ(byFrames.pixels, byAngle.pixels);
    EXPECT_NE(byFrames.pixels, first.pixels);
    DecodedPng wrapped = Picture("wrapped.png", {"--frame", "360"});
    EXPECT_EQ(wrapped.pixels, first.pixels) << "after 360 frames the rotor is back at 0 degrees";
}

TEST_F(CaptureTool, ArrowKeysMoveTheEyeAndOppositeKeysCancel) {
    DecodedPng first = Picture("first.png");
    DecodedPng moved = Picture("moved.png", {"--keys", "Left,Left,Left"});
    DecodedPng back = Picture("back.png", {"--keys", "Left,Left,Left,Right,Right,Right"});
    EXPECT_NE(moved.pixels, first.pixels);
    EXPECT_EQ(back.pixels, first.pixels);
}

// >>the trace

TEST_F(CaptureTool, TheTraceListsOneFrameOf74Draws) {
    std::vector<std::string> lines = TraceLines("trace.txt");
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines.front(), "# anemometer-capture trace 1");
    EXPECT_EQ(lines[1], "frame 0 rotation 0");
    EXPECT_EQ(lines.back(), "end");
    EXPECT_EQ(CountStartingWith(lines, "DrawPrimitive "), 74);
    EXPECT_EQ(CountStartingWith(lines, "DrawPrimitive ") - CountStartingWith(lines, "DrawPrimitive 5 ") -
                  CountStartingWith(lines, "DrawPrimitive 6 "),
              0)
        << "only strips and fans";
    EXPECT_EQ(CountStartingWith(lines, "CreateVertexBuffer "), 74);
    EXPECT_EQ(CountStartingWith(lines, "Present "), 1);
    EXPECT_EQ(CountStartingWith(lines, "Clear "), 2);
    for (const std::string& line : lines) {
        if (line.find(" -> ") != std::string::npos && line.rfind("vb", 0) != 0) {
            EXPECT_NE(line.find(" -> 0x00000000"), std::string::npos) << "failed call: " << line;
        }
    }
}

TEST_F(CaptureTool, TheTraceIsTheSameInTwoRuns) {
    std::vector<std::string> first = TraceLines("one.txt", {"--frame", "5", "--keys", "F5,Up"});
    std::vector<std::string> second = TraceLines("two.txt", {"--frame", "5", "--keys", "F5,Up"});
    EXPECT_GT(first.size(), 1000u);
    EXPECT_EQ(first, second);
}

TEST_F(CaptureTool, KeysAppearInTheTraceBeforeTheFrameWithTheirDeviceCalls) {
    std::vector<std::string> lines = TraceLines("keys.txt", {"--angle", "37", "--keys", "F2,Left,F7"});
    ASSERT_GE(lines.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.begin() + 7),
              (std::vector<std::string>{"key F2 0x71", "SetRenderState 8 2 -> 0x00000000", "key Left 0x25",
                                        "key F7 0x76", "SetRenderState 7 0 -> 0x00000000", "frame 0 rotation 37"}));
}

// >>replaying a trace

std::vector<std::string> CallsOnly(const std::vector<std::string>& lines) {
    std::vector<std::string> calls;
    for (const std::string& line : lines) {
        if (line.rfind("key ", 0) != 0 && line.rfind("frame ", 0) != 0 && line != "replay") {
            calls.push_back(line);
        }
    }
    return calls;
}

TEST_F(CaptureTool, AReplayedTraceDrawsTheSameFrameWithTheSameCalls) {
    const std::vector<std::string> state = {"--frame", "7", "--keys", "F2,F5,Left,PageUp,F7"};
    std::vector<std::string> original = TraceLines("original.txt", state);
    std::vector<std::string> replayed = TraceLines("replayed.txt", {"--replay", File("original.txt").string()});
    EXPECT_EQ(CallsOnly(replayed), CallsOnly(original));
    EXPECT_NE(std::find(replayed.begin(), replayed.end(), "replay"), replayed.end());

    DecodedPng drawn = DecodePngFile(File("original.txt.png").string());
    DecodedPng again = DecodePngFile(File("replayed.txt.png").string());
    ASSERT_TRUE(drawn.error.empty() && again.error.empty()) << drawn.error << again.error;
    EXPECT_EQ(again.pixels, drawn.pixels);
    EXPECT_NE(drawn.pixels, Picture("first.png").pixels) << "the state must differ from the first frame's";
}

TEST_F(CaptureTool, AReplayNeedsAReadableWellFormedTraceAndNothingElse) {
    ToolRun missing = Capture({"--replay", File("none.txt").string(), File("a.png").string()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("cannot read the trace"), std::string::npos) << missing.err;

    std::ofstream(File("broken.txt")) << "# anemometer-capture trace 1\nBeginScene -> 0x00000000\nDrawPrimitive 6 0\n";
    ToolRun broken = Capture({"--replay", File("broken.txt").string(), File("a.png").string()});
    EXPECT_EQ(broken.exitCode, 2);
    EXPECT_NE(broken.err.find("line 3"), std::string::npos) << broken.err;

    std::ofstream(File("unmade.txt"))
        << "# anemometer-capture trace 1\nSetStreamSource 0 vb4 0 16 -> 0x00000000\nend\n";
    ToolRun unmade = Capture({"--replay", File("unmade.txt").string(), File("a.png").string()});
    EXPECT_EQ(unmade.exitCode, 2);
    EXPECT_NE(unmade.err.find("line 2: vb4 is used before it is made"), std::string::npos) << unmade.err;
    EXPECT_FALSE(fs::exists(File("a.png")));

    // What is not a trace at all exits with 2 as well, quickly and without reading it all.
    std::ofstream(File("empty.txt")).close();
    fs::create_directories(File("folder"));
    const std::pair<std::string, std::string> notTraces[] = {{File("empty.txt").string(), "empty"},
                                                             {File("folder").string(), "is a folder"},
                                                             {"/dev/zero", "larger than 4194304 bytes"}};
    for (const auto& [path, message] : notTraces) {
        ToolRun run = Capture({"--replay", path, File("a.png").string()});
        EXPECT_EQ(run.exitCode, 2) << path;
        EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
    }

    EXPECT_EQ(Capture({"--replay", File("unmade.txt").string(), "--keys", "F2", File("a.png").string()}).exitCode, 2);
}

}  // namespace
