#include "tools/capture/Replay.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <string_view>

#include "device/Device.h"
#include "tools/capture/TraceDevice.h"

namespace {

using Kind = TraceCall::Kind;

const std::string kOverBudget = "the trace draws more than " + std::to_string(static_cast<int>(kMaxReplayScreens)) +
                                " back buffers' worth of pixels, the limit of a replay's work";

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < line.size()) {
        std::size_t end = line.find(' ', at);
        if (end == std::string_view::npos) {
            end = line.size();
        }
        if (end > at) {
            words.push_back(line.substr(at, end - at));
        }
        at = end + 1;
    }
    return words;
}

// Decimal, or hex after 0x, as the trace writes integers, flags and colours.
bool ParseUnsigned(std::string_view text, std::uint32_t& value) {
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && text[1] == 'x') {
        base = 16;
        text.remove_prefix(2);
    }
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return error == std::errc() && end == text.data() + text.size();
}

bool ParseFloat(std::string_view text, float& value) {
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// "vb12" -> 12
bool ParseBuffer(std::string_view text, int& buffer) {
    std::uint32_t number = 0;
    if (text.size() < 3 || text.substr(0, 2) != "vb" || text[2] < '1' || text[2] > '9' ||
        !ParseUnsigned(text.substr(2), number) || number > static_cast<std::uint32_t>(INT_MAX)) {
        return false;
    }
    buffer = static_cast<int>(number);
    return true;
}

// "[x1,y1,x2,y2;...]"
bool ParseRects(std::string_view text, std::vector<D3DRECT>& rects) {
    if (text.size() < 2 || text.front() != '[' || text.back() != ']') {
        return false;
    }
    text = text.substr(1, text.size() - 2);
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(';'), text.size());
        std::string_view rect = text.substr(0, end);
        LONG values[4];
        for (LONG& value : values) {
            const std::size_t comma = std::min(rect.find(','), rect.size());
            auto [stop, error] = std::from_chars(rect.data(), rect.data() + comma, value);
            if (error != std::errc() || stop != rect.data() + comma) {
                return false;
            }
            rect.remove_prefix(std::min(comma + 1, rect.size()));
        }
        rects.push_back(D3DRECT{values[0], values[1], values[2], values[3]});
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return true;
}

// Direct3D 9's enumerations end at 0x7fffffff (their FORCE_DWORD member): a larger number is no
// value of one and cannot be passed as one.
bool FitsEnumeration(std::uint32_t value, const char* type, std::string& reason) {
    if (value <= 0x7fffffffu) {
        return true;
    }
    reason = std::to_string(value) + " is no " + type + " value (Direct3D 9's enumerations end at 0x7fffffff)";
    return false;
}

bool ParseNumbers(const std::vector<std::string_view>& words, std::size_t from, std::size_t count, TraceCall& call) {
    if (words.size() < from + count) {
        return false;
    }
    for (std::size_t i = from; i < from + count; ++i) {
        std::uint32_t value = 0;
        if (!ParseUnsigned(words[i], value)) {
            return false;
        }
        call.numbers.push_back(value);
    }
    return true;
}

bool ParseFloats(const std::vector<std::string_view>& words, std::size_t from, std::size_t count, TraceCall& call) {
    if (words.size() < from + count) {
        return false;
    }
    for (std::size_t i = from; i < from + count; ++i) {
        float value = 0.0f;
        if (!ParseFloat(words[i], value)) {
            return false;
        }
        call.floats.push_back(value);
    }
    return true;
}

bool IsRect(std::string_view text) {
    std::vector<D3DRECT> rect;
    return ParseRects(text, rect) && rect.size() == 1;
}

// Reads a trace line by line, keeping what the lines before have made live and what they have
// cost so far.
class TraceReader {
public:
    explicit TraceReader(std::vector<TraceCall>& calls) : calls_(calls) {}

    // Reads one line; false, with the reason, when it is refused.
    bool Line(int number, std::string_view line, std::string& reason);

    bool Ended() const { return ended_; }

private:
    struct Live {
        std::uint32_t length = 0;
        int references = 1;
        int line = 0;
    };

    bool Call(const std::vector<std::string_view>& words, std::string& reason);
    bool BufferCall(const std::vector<std::string_view>& words, std::string& reason);
    bool LiveBuffer(std::string_view name, int& buffer, std::string& reason);

    std::vector<TraceCall>& calls_;
    TraceCall call_;
    std::map<int, Live> live_;
    std::uint64_t liveBytes_ = 0;
    std::uint64_t clearRects_ = 0;
    std::uint64_t primitives_ = 0;
    bool ended_ = false;
};

bool TraceReader::Line(int number, std::string_view line, std::string& reason) {
    if (number == 1) {
        if (line != kTraceHeader) {
            reason = "the first line is not '" + std::string(kTraceHeader) + "': this is not a trace";
            return false;
        }
        return true;
    }
    if (!line.empty() && line.front() == '#') {
        return true;  // a comment
    }
    if (ended_) {
        reason = "a line after 'end'";
        return false;
    }
    const std::vector<std::string_view> words = Words(line);
    if (words.empty()) {
        reason = "an empty line";
        return false;
    }
    call_ = TraceCall();
    call_.line = number;
    const std::string_view name = words[0];
    if (name == "key" || name == "frame" || name == "replay" || name == "end") {
        const std::size_t expected = name == "key" ? 3 : name == "frame" ? 4 : 1;
        std::uint32_t ignored = 0;
        const bool valid = words.size() == expected && (name != "key" || ParseUnsigned(words[2], ignored)) &&
                           (name != "frame" || (ParseUnsigned(words[1], ignored) && words[2] == "rotation"));
        if (!valid) {
            reason = "a malformed '" + std::string(name) + "' marker";
            return false;
        }
        ended_ = name == "end";
        return true;
    }
    if (name == "AddRef" || name == "Release") {
        if (words.size() != 1) {
            reason = "the device's " + std::string(name) + " takes no words after it";
            return false;
        }
        return true;
    }
    return Call(words, reason);
}

bool TraceReader::LiveBuffer(std::string_view name, int& buffer, std::string& reason) {
    if (!ParseBuffer(name, buffer)) {
        reason = std::string("'").append(name) + "' is not a buffer name (vb1, vb2, ...)";
        return false;
    }
    if (live_.find(buffer) == live_.end()) {
        reason = std::string(name) + " is used before it is made or after it is released";
        return false;
    }
    return true;
}

bool TraceReader::BufferCall(const std::vector<std::string_view>& words, std::string& reason) {
    const std::string_view name = words[0];
    if (name == "vertex") {  // vertex vbN INDEX X Y Z COLOR
        call_.kind = Kind::Vertex;
        if (words.size() != 7) {
            reason = "'vertex' takes 6 words";
            return false;
        }
        if (!LiveBuffer(words[1], call_.buffer, reason)) {
            return false;
        }
        if (!ParseNumbers(words, 2, 1, call_) || !ParseFloats(words, 3, 3, call_) ||
            !ParseNumbers(words, 6, 1, call_)) {
            reason = "a malformed vertex";
            return false;
        }
        calls_.push_back(std::move(call_));
        return true;
    }
    if (name == "bytes") {
        reason = "only D3DFVF_XYZ | D3DFVF_DIFFUSE vertex data ('vertex' lines) can be replayed";
        return false;
    }
    // vbN.Method ...
    const std::size_t dot = name.find('.');
    if (dot == std::string_view::npos) {
        reason = "an unknown call";
        return false;
    }
    if (!LiveBuffer(name.substr(0, dot), call_.buffer, reason)) {
        return false;
    }
    const std::string_view method = name.substr(dot + 1);
    Live& buffer = live_[call_.buffer];
    if (method == "AddRef" || method == "Release") {
        if (words.size() != 1) {
            reason = std::string(method) + " takes no words after it";
            return false;
        }
        // The replay holds one reference per buffer and lets it go with the trace's last Release.
        if (method == "AddRef") {
            ++buffer.references;
        } else if (--buffer.references == 0) {
            call_.kind = Kind::ReleaseBuffer;
            liveBytes_ -= buffer.length;
            live_.erase(call_.buffer);
            calls_.push_back(std::move(call_));
        }
        return true;
    }
    const bool lock = method == "Lock";
    if (!lock && method != "Unlock") {
        reason = "an unknown buffer method";
        return false;
    }
    const std::size_t arguments = lock ? 3 : 0;
    std::uint32_t result = 0;
    if (words.size() != arguments + 3 || words[arguments + 1] != "->" || !ParseUnsigned(words[arguments + 2], result) ||
        !ParseNumbers(words, 1, arguments, call_)) {
        reason = lock ? "'Lock' takes OFFSET SIZE FLAGS -> RESULT" : "'Unlock' takes -> RESULT";
        return false;
    }
    call_.kind = lock ? Kind::Lock : Kind::Unlock;
    calls_.push_back(std::move(call_));
    return true;
}

bool TraceReader::Call(const std::vector<std::string_view>& words, std::string& reason) {
    const std::string_view name = words[0];
    if (name == "vertex" || name == "bytes" || name.substr(0, 2) == "vb") {
        return BufferCall(words, reason);
    }

    // NAME ARGUMENTS... -> RESULT, then what a Get returns or the buffer made
    struct Shape {
        std::string_view name;
        std::size_t arguments;
        std::size_t after;  // words after the result
    };
    static constexpr Shape kShapes[] = {
        {"Clear", 6, 0},          {"BeginScene", 0, 0},         {"EndScene", 0, 0},       {"Present", 4, 0},
        {"SetRenderState", 2, 0}, {"SetTransform", 17, 0},      {"SetFVF", 1, 0},         {"SetStreamSource", 4, 0},
        {"DrawPrimitive", 3, 0},  {"CreateVertexBuffer", 5, 1}, {"GetRenderState", 1, 1}, {"GetTransform", 1, 16},
        {"GetFVF", 0, 1},         {"GetViewport", 0, 6},
    };
    const Shape* shape = nullptr;
    for (const Shape& candidate : kShapes) {
        shape = candidate.name == name ? &candidate : shape;
    }
    if (shape == nullptr) {
        reason = "an unknown call";
        return false;
    }
    const std::size_t arrow = shape->arguments + 1;
    std::uint32_t result = 0;
    if (words.size() < arrow + 2 || words[arrow] != "->" || !ParseUnsigned(words[arrow + 1], result)) {
        reason =
            std::string("'").append(name) + "' takes " + std::to_string(shape->arguments) + " words, then '-> RESULT'";
        return false;
    }
    const std::size_t after = words.size() - arrow - 2;
    const bool isGet = name.substr(0, 3) == "Get";
    // A failed Get returns nothing (GetViewport) or null (GetTransform, GetFVF).
    const bool failedGet = isGet && (after == 0 || (after == 1 && words.back() == "null"));
    if (after != shape->after && !failedGet) {
        reason = std::string("'").append(name) + "' has " + std::to_string(after) +
                 " words after its result instead of " + std::to_string(shape->after);
        return false;
    }
    const std::vector<std::string_view> a(words.begin() + 1, words.begin() + static_cast<std::ptrdiff_t>(arrow));
    const auto malformed = [&reason, name] {
        reason = "malformed arguments of '" + std::string(name) + "'";
        return false;
    };

    if (isGet) {  // reads change nothing that is drawn; only their form is checked
        std::uint32_t value = 0;
        float number = 0.0f;
        for (std::string_view argument : a) {
            if (!ParseUnsigned(argument, value)) {
                return malformed();
            }
        }
        for (std::size_t i = arrow + 2; i < words.size() && !failedGet; ++i) {
            if (!ParseUnsigned(words[i], value) && !ParseFloat(words[i], number)) {
                return malformed();
            }
        }
        return true;
    }

    if (name == "Clear") {  // COUNT RECTS FLAGS COLOR Z STENCIL
        call_.kind = Kind::Clear;
        call_.rectsNull = a[1] == "null";
        if (!ParseNumbers(a, 0, 1, call_)) {
            return malformed();
        }
        if (!call_.rectsNull && call_.numbers[0] > kMaxRectsPerClear) {
            reason = "a Clear of " + std::to_string(call_.numbers[0]) + " rectangles; the limit is " +
                     std::to_string(kMaxRectsPerClear);
            return false;
        }
        if ((!call_.rectsNull && (!ParseRects(a[1], call_.rects) || call_.rects.size() != call_.numbers[0])) ||
            !ParseNumbers(a, 2, 2, call_) || !ParseFloats(a, 4, 1, call_) || !ParseNumbers(a, 5, 1, call_)) {
            return malformed();
        }
        clearRects_ += call_.rectsNull ? 1 : call_.rects.size();
        if (clearRects_ > kMaxClearRects) {
            reason = "more than " + std::to_string(kMaxClearRects) +
                     " rectangles cleared in all (a null list counts as one), the limit of a replay's clearing";
            return false;
        }
    } else if (name == "BeginScene" || name == "EndScene") {
        call_.kind = name == "BeginScene" ? Kind::BeginScene : Kind::EndScene;
    } else if (name == "Present") {  // SRC DST WINDOW REGION; replayed as Present(NULL, NULL, NULL, NULL)
        call_.kind = Kind::Present;
        const bool valid = (a[0] == "null" || IsRect(a[0])) && (a[1] == "null" || IsRect(a[1])) &&
                           (a[2] == "null" || a[2] == "window") && (a[3] == "null" || a[3] == "region");
        if (!valid) {
            return malformed();
        }
    } else if (name == "SetRenderState") {
        call_.kind = Kind::SetRenderState;
        if (!ParseNumbers(a, 0, 2, call_)) {
            return malformed();
        }
        if (!FitsEnumeration(call_.numbers[0], "D3DRENDERSTATETYPE", reason)) {
            return false;
        }
    } else if (name == "SetTransform") {
        call_.kind = Kind::SetTransform;
        if (!ParseNumbers(a, 0, 1, call_) || !ParseFloats(a, 1, 16, call_)) {
            return malformed();
        }
        if (!FitsEnumeration(call_.numbers[0], "D3DTRANSFORMSTATETYPE", reason)) {
            return false;
        }
    } else if (name == "SetFVF") {
        call_.kind = Kind::SetFVF;
        if (!ParseNumbers(a, 0, 1, call_)) {
            return malformed();
        }
    } else if (name == "SetStreamSource") {  // STREAM vbN OFFSET STRIDE
        call_.kind = Kind::SetStreamSource;
        if (!ParseNumbers(a, 0, 1, call_) || !ParseNumbers(a, 2, 2, call_)) {
            return malformed();
        }
        if (a[1] != "null" && !LiveBuffer(a[1], call_.buffer, reason)) {
            return false;
        }
    } else if (name == "DrawPrimitive") {
        call_.kind = Kind::DrawPrimitive;
        if (!ParseNumbers(a, 0, 3, call_)) {
            return malformed();
        }
        if (!FitsEnumeration(call_.numbers[0], "D3DPRIMITIVETYPE", reason)) {
            return false;
        }
        primitives_ += call_.numbers[2];
        if (primitives_ > kMaxPrimitives) {
            reason = "more than " + std::to_string(kMaxPrimitives) +
                     " primitives drawn in all, the limit of a replay's drawing";
            return false;
        }
    } else {  // CreateVertexBuffer LENGTH USAGE FVF POOL SHARED -> R vbN
        call_.kind = Kind::CreateVertexBuffer;
        if (!ParseNumbers(a, 0, 4, call_) || a[4] != "null") {
            return malformed();
        }
        if (!FitsEnumeration(call_.numbers[3], "D3DPOOL", reason)) {
            return false;
        }
        const std::string_view made = words.back();
        if (made == "null") {
            return true;  // it failed when traced: nothing to make
        }
        if (!ParseBuffer(made, call_.buffer)) {
            return malformed();
        }
        if (auto found = live_.find(call_.buffer); found != live_.end()) {
            reason = std::string(made) + " is made again while the one made on line " +
                     std::to_string(found->second.line) + " is still live";
            return false;
        }
        const std::uint32_t length = call_.numbers[0];
        if (length > kMaxBufferLength) {
            reason = "a vertex buffer of " + std::to_string(length) + " bytes; the limit is " +
                     std::to_string(kMaxBufferLength);
            return false;
        }
        if (liveBytes_ + length > kMaxLiveBufferBytes) {
            reason = "more than " + std::to_string(kMaxLiveBufferBytes) + " bytes of vertex buffers live at once";
            return false;
        }
        liveBytes_ += length;
        live_[call_.buffer] = Live{length, 1, call_.line};
    }
    calls_.push_back(std::move(call_));
    return true;
}

}  // namespace

bool ReadTraceFile(const std::string& path, std::string& text, std::string& error) {
    std::error_code status;
    if (std::filesystem::is_directory(path, status)) {
        error = "'" + path + "' is a folder, not a trace";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read the trace to replay, '" + path + "'";
        return false;
    }
    // At most one block more than the limit is read, so endless inputs (/dev/zero) end too.
    text.clear();
    std::vector<char> block(65536);
    while (in && text.size() <= kMaxTraceBytes) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        text.append(block.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (text.size() > kMaxTraceBytes) {
        text.clear();
        text.shrink_to_fit();
        error = "'" + path + "' is larger than " + std::to_string(kMaxTraceBytes) + " bytes, the limit of a trace";
        return false;
    }
    if (in.bad()) {
        error = "cannot read the trace to replay, '" + path + "'";
        return false;
    }
    return true;
}

bool ParseTrace(const std::string& text, std::vector<TraceCall>& calls, std::string& error) {
    calls.clear();
    if (text.size() > kMaxTraceBytes) {
        error = "the trace is larger than " + std::to_string(kMaxTraceBytes) + " bytes, the limit of a trace";
        return false;
    }
    if (text.empty()) {
        error = "the trace is empty: this is not a trace";
        return false;
    }
    TraceReader reader(calls);
    int number = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        std::string reason;
        if (!reader.Line(number, line, reason)) {
            constexpr std::size_t kShown = 80;
            error = "line " + std::to_string(number) + ": " + reason + ": '" + std::string(line.substr(0, kShown)) +
                    (line.size() > kShown ? "...'" : "'");
            calls.clear();
            return false;
        }
    }
    if (!reader.Ended()) {
        error = "the trace ends without its 'end' line after line " + std::to_string(number) + ": it was cut short";
        calls.clear();
        return false;
    }
    return true;
}

namespace {

// An upper bound of the pixels a draw touches, from what the replay itself knows: the
// transforms set and the vertices written. Each primitive counts its screen bounding box,
// clipped to the back buffer; one whose corner lies behind the eye (or is not a number) counts
// the whole back buffer. Lists of points and lines count the same way, which overestimates.
class DrawCost {
public:
    DrawCost(double width, double height) : width_(width), height_(height) {
        for (int i = 0; i < 3; ++i) {
            for (int r = 0; r < 4; ++r) {
                for (int c = 0; c < 4; ++c) {
                    matrices_[i][r][c] = r == c ? 1.0 : 0.0;
                }
            }
        }
    }

    double Screen() const { return width_ * height_; }

    void SetTransform(std::uint32_t state, const std::vector<float>& m) {
        const int index = state == 256 ? 0 : state == 2 ? 1 : state == 3 ? 2 : -1;
        if (index >= 0) {
            for (int k = 0; k < 16; ++k) {
                matrices_[index][k / 4][k % 4] = static_cast<double>(m[static_cast<std::size_t>(k)]);
            }
        }
    }

    // Pixels of DrawPrimitive(type, start, count) from vertices at data (offset, stride).
    double Draw(std::uint32_t type, std::uint32_t start, std::uint32_t count, const std::vector<std::uint8_t>* data,
                std::uint32_t offset, std::uint32_t stride) const {
        if (data == nullptr || type < 1 || type > 6) {
            return 0.0;  // nothing bound, or a type the device refuses
        }
        if (stride < 12) {
            return static_cast<double>(count) * Screen();
        }
        double pixels = 0.0;
        for (std::uint64_t i = 0; i < count; ++i) {
            std::uint64_t corners[3];
            int n = 3;
            switch (type) {
                case 1:
                    corners[0] = start + i, n = 1;
                    break;
                case 2:
                    corners[0] = start + 2 * i, corners[1] = corners[0] + 1, n = 2;
                    break;
                case 3:
                    corners[0] = start + i, corners[1] = corners[0] + 1, n = 2;
                    break;
                case 4:
                    corners[0] = start + 3 * i, corners[1] = corners[0] + 1, corners[2] = corners[0] + 2;
                    break;
                case 5:
                    corners[0] = start + i, corners[1] = corners[0] + 1, corners[2] = corners[0] + 2;
                    break;
                default:
                    corners[0] = start, corners[1] = start + i + 1, corners[2] = start + i + 2;
                    break;
            }
            double clip[3][4];
            for (int k = 0; k < n; ++k) {
                if (!Corner(corners[k], *data, offset, stride, clip[k])) {
                    return pixels;  // past the buffer's end: the device draws no further
                }
            }
            pixels += Pixels(clip, n);
        }
        return pixels;
    }

private:
    // The clip-space position of vertex index; false past the data's end.
    bool Corner(std::uint64_t index, const std::vector<std::uint8_t>& data, std::uint32_t offset, std::uint32_t stride,
                double clip[4]) const {
        const std::uint64_t at = std::uint64_t{offset} + index * stride;
        if (at + 12 > data.size()) {
            return false;
        }
        float p[3];
        std::memcpy(p, data.data() + at, sizeof p);
        double v[4] = {p[0], p[1], p[2], 1.0};
        for (int m = 0; m < 3; ++m) {
            for (int c = 0; c < 4; ++c) {
                clip[c] = v[0] * matrices_[m][0][c] + v[1] * matrices_[m][1][c] + v[2] * matrices_[m][2][c] +
                          v[3] * matrices_[m][3][c];
            }
            std::memcpy(v, clip, sizeof v);
        }
        return true;
    }

    // None when every corner lies beyond one clip plane; the whole screen when a corner lies
    // behind the eye or is not a number; else the corners' bounding box on the screen.
    double Pixels(const double (*clip)[4], int n) const {
        unsigned outside = 0x3F;
        bool behind = false;
        for (int k = 0; k < n; ++k) {
            const double x = clip[k][0], y = clip[k][1], z = clip[k][2], w = clip[k][3];
            if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) || !std::isfinite(w)) {
                return Screen();
            }
            outside &= (x < -w ? 1u : 0u) | (x > w ? 2u : 0u) | (y < -w ? 4u : 0u) | (y > w ? 8u : 0u) |
                       (z < 0 ? 16u : 0u) | (z > w ? 32u : 0u);
            behind = behind || !(w > 1e-9);
        }
        if (outside != 0) {
            return 0.0;
        }
        if (behind) {
            return Screen();
        }
        double left = width_, right = 0.0, top = height_, bottom = 0.0;
        for (int k = 0; k < n; ++k) {
            const double x = std::clamp((clip[k][0] / clip[k][3] + 1.0) * 0.5 * width_, 0.0, width_);
            const double y = std::clamp((1.0 - clip[k][1] / clip[k][3]) * 0.5 * height_, 0.0, height_);
            left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
        }
        return std::min(Screen(), (right - left + 1.0) * (bottom - top + 1.0));
    }

    double width_;
    double height_;
    double matrices_[3][4][4];  // world, view, projection
};

}  // namespace

ReplayOutcome ReplayTrace(const std::vector<TraceCall>& calls, IDirect3DDevice9* device, std::string& error,
                          const volatile std::sig_atomic_t* stop) {
    struct Buffer {
        IDirect3DVertexBuffer9* object = nullptr;
        std::uint32_t length = 0;
        std::uint8_t* locked = nullptr;  // points at lockedOffset
        std::uint32_t lockedOffset = 0;
        std::uint32_t lockedSize = 0;
        std::shared_ptr<std::vector<std::uint8_t>> copy;  // what was written, for the cost of draws
    };
    std::map<int, Buffer> buffers;
    const auto release = [&buffers] {
        for (auto& [number, buffer] : buffers) {
            if (buffer.locked != nullptr) {
                buffer.object->Unlock();
            }
            buffer.object->Release();
        }
        buffers.clear();
    };
    const auto fail = [&](const TraceCall& call, const std::string& reason, ReplayOutcome outcome) {
        error = "line " + std::to_string(call.line) + ": " + reason;
        release();
        return outcome;
    };

    // The viewer's back buffer (asking the device would add a call to a traced replay).
    const D3DPRESENT_PARAMETERS backBuffer = ViewerPresentParameters(nullptr);
    DrawCost cost(backBuffer.BackBufferWidth, backBuffer.BackBufferHeight);
    const double budget = kMaxReplayScreens * cost.Screen();
    double spent = 0.0;
    std::shared_ptr<std::vector<std::uint8_t>> stream;  // stream 0's vertices, kept while bound
    std::uint32_t streamOffset = 0;
    std::uint32_t streamStride = 0;

    for (const TraceCall& call : calls) {
        if (stop != nullptr && *stop != 0) {
            return fail(call, "interrupted", ReplayOutcome::kInterrupted);
        }
        Buffer* buffer = nullptr;
        if (call.buffer != 0 && call.kind != Kind::CreateVertexBuffer) {
            auto found = buffers.find(call.buffer);
            if (found == buffers.end()) {
                return fail(call, "vb" + std::to_string(call.buffer) + " is used before it is made",
                            ReplayOutcome::kDeviceFailed);
            }
            buffer = &found->second;
        }
        const std::vector<std::uint32_t>& n = call.numbers;
        switch (call.kind) {
            case Kind::Clear:
                spent += (call.rectsNull ? 1.0 : static_cast<double>(call.rects.size())) * cost.Screen();
                if (spent > budget) {
                    return fail(call, kOverBudget, ReplayOutcome::kTooCostly);
                }
                device->Clear(n[0], call.rectsNull ? nullptr : call.rects.data(), n[1], n[2], call.floats[0], n[3]);
                break;
            case Kind::BeginScene:
                device->BeginScene();
                break;
            case Kind::EndScene:
                device->EndScene();
                break;
            case Kind::Present:
                device->Present(nullptr, nullptr, nullptr, nullptr);
                break;
            case Kind::SetRenderState:
                device->SetRenderState(static_cast<D3DRENDERSTATETYPE>(n[0]), n[1]);
                break;
            case Kind::SetTransform: {
                D3DMATRIX matrix;
                std::memcpy(matrix.m, call.floats.data(), sizeof matrix.m);
                if (SUCCEEDED(device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(n[0]), &matrix))) {
                    cost.SetTransform(n[0], call.floats);
                }
                break;
            }
            case Kind::SetFVF:
                device->SetFVF(n[0]);
                break;
            case Kind::CreateVertexBuffer: {
                if (call.buffer == 0) {
                    break;  // it failed when traced
                }
                IDirect3DVertexBuffer9* object = nullptr;
                if (FAILED(
                        device->CreateVertexBuffer(n[0], n[1], n[2], static_cast<D3DPOOL>(n[3]), &object, nullptr)) ||
                    object == nullptr) {
                    return fail(call, "the device could not make vb" + std::to_string(call.buffer),
                                ReplayOutcome::kDeviceFailed);
                }
                Buffer& made = buffers[call.buffer];
                made.object = object;
                made.length = n[0];
                made.copy = std::make_shared<std::vector<std::uint8_t>>(n[0], std::uint8_t{0});
                break;
            }
            case Kind::Lock: {
                void* data = nullptr;
                if (FAILED(buffer->object->Lock(n[0], n[1], &data, n[2])) || data == nullptr) {
                    return fail(call, "vb" + std::to_string(call.buffer) + " could not be locked",
                                ReplayOutcome::kDeviceFailed);
                }
                buffer->locked = static_cast<std::uint8_t*>(data);
                buffer->lockedOffset = n[0];
                buffer->lockedSize = n[1] != 0 ? n[1] : (n[0] <= buffer->length ? buffer->length - n[0] : 0);
                break;
            }
            case Kind::Vertex: {
                const std::uint64_t at = std::uint64_t{n[0]} * 16;
                if (buffer->locked == nullptr || at < buffer->lockedOffset ||
                    at + 16 > std::uint64_t{buffer->lockedOffset} + buffer->lockedSize || at + 16 > buffer->length) {
                    return fail(call, "the vertex lies outside vb" + std::to_string(call.buffer) + "'s locked range",
                                ReplayOutcome::kDeviceFailed);
                }
                std::uint8_t* target = buffer->locked + (at - buffer->lockedOffset);
                std::memcpy(target, call.floats.data(), 12);
                std::memcpy(target + 12, &n[1], 4);
                std::memcpy(buffer->copy->data() + at, target, 16);
                break;
            }
            case Kind::Unlock:
                buffer->object->Unlock();
                buffer->locked = nullptr;
                break;
            case Kind::SetStreamSource:
                if (SUCCEEDED(
                        device->SetStreamSource(n[0], buffer != nullptr ? buffer->object : nullptr, n[1], n[2])) &&
                    n[0] == 0) {
                    stream = buffer != nullptr ? buffer->copy : nullptr;
                    streamOffset = n[1];
                    streamStride = n[2];
                }
                break;
            case Kind::DrawPrimitive:
                spent += cost.Draw(n[0], n[1], n[2], stream.get(), streamOffset, streamStride);
                if (spent > budget) {
                    return fail(call, kOverBudget, ReplayOutcome::kTooCostly);
                }
                device->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(n[0]), n[1], n[2]);
                break;
            case Kind::ReleaseBuffer:
                buffer->object->Release();
                buffers.erase(call.buffer);
                break;
        }
    }
    release();
    return ReplayOutcome::kDrawn;
}
