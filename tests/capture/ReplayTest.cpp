// Reading a trace back: which lines become which calls, and which lines are refused.
#include <gtest/gtest.h>

#include <cmath>

#include "tools/capture/Replay.h"

namespace {

std::vector<TraceCall> Parsed(const std::string& text) {
    std::vector<TraceCall> calls;
    std::string error;
    EXPECT_TRUE(ParseTrace(text, calls, error)) << error;
    return calls;
}

std::string Refusal(const std::string& text) {
    std::vector<TraceCall> calls;
    std::string error;
    EXPECT_FALSE(ParseTrace(text, calls, error)) << text;
    return error;
}

TEST(TraceReplay, ReadsEveryKindOfCallWithItsArguments) {
    const std::vector<TraceCall> calls = Parsed(
        "# anemometer-capture trace 1\n"
        "key F2 0x71\n"
        "SetRenderState 8 2 -> 0x00000000\n"
        "frame 0 rotation 0\n"
        "Clear 2 [0,0,10,20;-5,6,7,8] 0x00000002 0xff000000 0.5 3 -> 0x00000000\n"
        "SetTransform 256 1 0 0 0 0 1 0 0 0 0 1 0 0 -5 0 1 -> 0x00000000\n"
        "CreateVertexBuffer 32 0x00000000 0x00000042 1 null -> 0x00000000 vb3\n"
        "vb3.Lock 0 0 0x00000000 -> 0x00000000\n"
        "vertex vb3 1 0.100000001 -0 1e+20 0x00ff0000\n"
        "vb3.Unlock -> 0x00000000\n"
        "SetStreamSource 0 vb3 0 16 -> 0x00000000\n"
        "DrawPrimitive 6 0 1 -> 0x00000000\n"
        "vb3.Release\n"
        "GetRenderState 8 -> 0x00000000 2\n"
        "Present null null null null -> 0x00000000\n"
        "Release\n"
        "end\n");
    ASSERT_EQ(calls.size(), 11u);
    EXPECT_EQ(calls[0].kind, TraceCall::Kind::SetRenderState);
    EXPECT_EQ(calls[0].numbers, (std::vector<std::uint32_t>{8, 2}));
    EXPECT_EQ(calls[0].line, 3);

    const TraceCall& clear = calls[1];
    EXPECT_EQ(clear.kind, TraceCall::Kind::Clear);
    EXPECT_EQ(clear.numbers, (std::vector<std::uint32_t>{2, 2, 0xFF000000u, 3}));
    EXPECT_EQ(clear.floats, std::vector<float>{0.5f});
    ASSERT_EQ(clear.rects.size(), 2u);
    EXPECT_EQ(clear.rects[1].x1, -5);
    EXPECT_EQ(clear.rects[0].y2, 20);

    EXPECT_EQ(calls[2].floats.size(), 16u);
    EXPECT_EQ(calls[2].floats[13], -5.0f);
    EXPECT_EQ(calls[3].kind, TraceCall::Kind::CreateVertexBuffer);
    EXPECT_EQ(calls[3].buffer, 3);
    EXPECT_EQ(calls[3].numbers, (std::vector<std::uint32_t>{32, 0, 0x42, 1}));

    const TraceCall& vertex = calls[5];
    EXPECT_EQ(vertex.kind, TraceCall::Kind::Vertex);
    EXPECT_EQ(vertex.numbers, (std::vector<std::uint32_t>{1, 0x00FF0000u}));
    EXPECT_EQ(vertex.floats, (std::vector<float>{0.1f, -0.0f, 1e20f}));
    EXPECT_TRUE(std::signbit(vertex.floats[1]));

    EXPECT_EQ(calls[7].kind, TraceCall::Kind::SetStreamSource);
    EXPECT_EQ(calls[7].buffer, 3);
    EXPECT_EQ(calls[8].numbers, (std::vector<std::uint32_t>{6, 0, 1}));
    EXPECT_EQ(calls[9].kind, TraceCall::Kind::ReleaseBuffer);
    EXPECT_EQ(calls[10].kind, TraceCall::Kind::Present);
}

constexpr char kHeader[] = "# anemometer-capture trace 1\n";

std::string Repeated(const std::string& line, int times) {
    std::string text;
    for (int i = 0; i < times; ++i) {
        text += line;
    }
    return text;
}

TEST(TraceReplay, RefusesMalformedLinesNamingTheLine) {
    EXPECT_NE(Refusal(std::string(kHeader) + "BeginScene -> 0x00000000\nDrawPrimitive 6 0 -> 0x00000000\nend\n")
                  .find("line 3"),
              std::string::npos);
    for (const char* line : {"Draw 6 0 1 -> 0x00000000",
                             "SetRenderState 8 two -> 0x00000000",
                             "SetTransform 2 1 0 0 -> 0x00000000",
                             "vertex vb0 1 0 0 0 0x0",
                             "vertex vbx 1 0 0 0 0x0",
                             "vertex vb1 1 0 0 0x0",
                             "vb2.Paint",
                             "Clear 1 [0,0,1] 0x1 0x0 1 0 -> 0x00000000",
                             "Clear 2 [0,0,1,1] 0x1 0x0 1 0 -> 0x00000000",
                             "SetFVF 0x42 ->",
                             "bytes vb1 0 00ff",
                             "BeginScene",
                             "BeginScene -> 0x00000000 0x00000000",
                             "SetFVF 0x42 -> 0x0 -> 0x0",
                             "EndScene 1 -> 0x0",
                             "Present null null null -> 0x0",
                             "Present 1 2 3 4 -> 0x0",
                             "Present null null null null -> 0x0 more",
                             "Release 1",
                             "key F2",
                             "frame 0 rotation",
                             "",
                             "GetRenderState 8 -> 0x0 2 3",
                             "SetStreamSource 0 vb1 0 16 -> 0x0",
                             "vb1.Unlock -> 0x0"}) {
        const std::string error = Refusal(std::string(kHeader) + line + "\nend\n");
        EXPECT_NE(error.find("line 2"), std::string::npos) << line << ": " << error;
    }
}

// Each hostile trace is refused at the line that goes too far, before anything is made.
TEST(TraceReplay, RefusesTracesThatAreNotTracesOrCostTooMuch) {
    const std::string create = "CreateVertexBuffer 16 0x00000000 0x00000042 1 null -> 0x00000000 vb1\n";
    const std::string big = "CreateVertexBuffer 1048576 0x00000000 0x00000042 1 null -> 0x00000000 vb";
    std::string manyBuffers;
    for (int i = 1; i <= 17; ++i) {
        manyBuffers += big + std::to_string(i) + "\n";
    }
    const std::pair<std::string, std::string> cases[] = {
        {"", "empty"},
        {"BeginScene -> 0x00000000\nend\n", "line 1: the first line is not"},
        {std::string(kHeader) + "BeginScene -> 0x00000000\n", "without its 'end' line"},
        {std::string(kHeader) + "end\nBeginScene -> 0x00000000\n", "line 3: a line after 'end'"},
        {kHeader + create + create + "end\n", "line 3: vb1 is made again while the one made on line 2 is still live"},
        {kHeader + create + "vb1.Release\nvb1.Lock 0 0 0x0 -> 0x0\nend\n", "line 4: vb1 is used before it is made"},
        {std::string(kHeader) + "CreateVertexBuffer 4294967295 0x0 0x42 1 null -> 0x0 vb1\nend\n",
         "line 2: a vertex buffer of 4294967295 bytes; the limit is 1048576"},
        {kHeader + manyBuffers + "end\n", "line 18: more than 16777216 bytes of vertex buffers live"},
        {std::string(kHeader) + "Clear 17 [" + Repeated("0,0,1,1;", 16) + "0,0,1,1] 0x1 0x0 1 0 -> 0x0\nend\n",
         "line 2: a Clear of 17 rectangles; the limit is 16"},
        {kHeader + Repeated("Clear 0 null 0x00000001 0x00000000 1 0 -> 0x00000000\n", 65) + "end\n",
         "line 66: more than 64 rectangles cleared"},
        {std::string(kHeader) + "DrawPrimitive 4 0 65000 -> 0x0\nDrawPrimitive 4 0 537 -> 0x0\nend\n",
         "line 3: more than 65536 primitives"},
        {std::string(kHeader) + std::string(kMaxTraceBytes, '#'), "larger than 4194304 bytes"},
        // Numbers no enumeration of Direct3D 9 holds, passed where one is expected.
        {std::string(kHeader) + "DrawPrimitive 0xff000000 1 0 -> 0x0\nend\n",
         "line 2: 4278190080 is no D3DPRIMITIVETYPE"},
        {std::string(kHeader) + "SetRenderState 0x80000000 1 -> 0x0\nend\n",
         "line 2: 2147483648 is no D3DRENDERSTATETYPE"},
        {std::string(kHeader) + "CreateVertexBuffer 16 0x0 0x42 0x80000001 null -> 0x0 vb1\nend\n", "is no D3DPOOL"},
    };
    for (const auto& [text, message] : cases) {
        std::vector<TraceCall> calls;
        std::string error;
        EXPECT_FALSE(ParseTrace(text, calls, error)) << message;
        EXPECT_NE(error.find(message), std::string::npos) << error;
        EXPECT_TRUE(calls.empty());
    }
}

TEST(TraceReplay, ABufferLivesUntilItsLastRelease) {
    const std::vector<TraceCall> calls =
        Parsed(std::string(kHeader) + "CreateVertexBuffer 16 0x0 0x42 1 null -> 0x0 vb1\nvb1.AddRef\nvb1.Release\n" +
               "SetStreamSource 0 vb1 0 16 -> 0x0\nvb1.Release\n" +
               "CreateVertexBuffer 16 0x0 0x42 1 null -> 0x0 vb1\nvb1.Release\nend\n");
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[1].kind, TraceCall::Kind::SetStreamSource);
    EXPECT_EQ(calls[2].kind, TraceCall::Kind::ReleaseBuffer);
    EXPECT_EQ(calls[2].line, 6);
    EXPECT_EQ(calls[3].kind, TraceCall::Kind::CreateVertexBuffer);
}

}  // namespace
