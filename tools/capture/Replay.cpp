#include "tools/capture/Replay.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <map>
#include <sstream>
#include <string_view>

namespace {

using Kind = TraceCall::Kind;

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
    if (text.size() < 3 || text.substr(0, 2) != "vb" || !ParseUnsigned(text.substr(2), number) || number == 0) {
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

// The words between the call's name and its " -> result": the arguments.
struct Split {
    std::vector<std::string_view> arguments;
    std::uint32_t result = 0;
    bool hasResult = false;
};

bool SplitResult(const std::vector<std::string_view>& words, Split& split) {
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (words[i] == "->") {
            split.hasResult = true;
            return i + 1 < words.size() && ParseUnsigned(words[i + 1], split.result);
        }
        split.arguments.push_back(words[i]);
    }
    return true;
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

// Fills call from one line; false when the line is not a well-formed call.
bool ParseCall(std::string_view line, TraceCall& call, bool& skip) {
    const std::vector<std::string_view> words = Words(line);
    skip = false;
    if (words.empty() || words[0].front() == '#' || words[0] == "key" || words[0] == "frame" || words[0] == "end" ||
        words[0] == "AddRef" || words[0] == "Release" || words[0].substr(0, 3) == "Get") {
        skip = true;
        return true;
    }
    Split split;
    if (!SplitResult(words, split)) {
        return false;
    }
    const std::vector<std::string_view>& a = split.arguments;
    const std::string_view name = words[0];

    if (name == "vertex" || name.substr(0, 2) == "vb") {
        std::string_view buffer = name == "vertex" ? (a.empty() ? std::string_view() : a[0]) : name;
        std::string_view method;
        if (name != "vertex") {
            const std::size_t dot = name.find('.');
            if (dot == std::string_view::npos) {
                return false;
            }
            buffer = name.substr(0, dot);
            method = name.substr(dot + 1);
        }
        if (!ParseBuffer(buffer, call.buffer)) {
            return false;
        }
        if (name == "vertex") {
            call.kind = Kind::Vertex;  // vertex vbN INDEX X Y Z COLOR
            return a.size() == 6 && ParseNumbers(a, 1, 1, call) && ParseFloats(a, 2, 3, call) &&
                   ParseNumbers(a, 5, 1, call);
        }
        if (method == "Lock") {
            call.kind = Kind::Lock;
            return a.size() == 3 && ParseNumbers(a, 0, 3, call);
        }
        if (method == "Unlock") {
            call.kind = Kind::Unlock;
            return a.empty();
        }
        if (method == "Release") {
            call.kind = Kind::ReleaseBuffer;
            return a.empty();
        }
        if (method == "AddRef") {
            skip = true;  // balanced by a later Release; the replay keeps one reference per buffer
            return a.empty();
        }
        return false;
    }

    if (name == "Clear" && a.size() == 6) {
        call.kind = Kind::Clear;  // COUNT RECTS FLAGS COLOR Z STENCIL
        call.rectsNull = a[1] == "null";
        return ParseNumbers(a, 0, 1, call) && (call.rectsNull || ParseRects(a[1], call.rects)) &&
               (call.rectsNull || call.rects.size() == call.numbers[0]) && ParseNumbers(a, 2, 2, call) &&
               ParseFloats(a, 4, 1, call) && ParseNumbers(a, 5, 1, call);
    }
    if (name == "BeginScene" && a.empty()) {
        call.kind = Kind::BeginScene;
        return true;
    }
    if (name == "EndScene" && a.empty()) {
        call.kind = Kind::EndScene;
        return true;
    }
    if (name == "Present" && a.size() == 4) {
        call.kind = Kind::Present;  // always replayed as Present(NULL, NULL, NULL, NULL)
        return true;
    }
    if (name == "SetRenderState") {
        call.kind = Kind::SetRenderState;
        return a.size() == 2 && ParseNumbers(a, 0, 2, call);
    }
    if (name == "SetTransform") {
        call.kind = Kind::SetTransform;
        return a.size() == 17 && ParseNumbers(a, 0, 1, call) && ParseFloats(a, 1, 16, call);
    }
    if (name == "SetFVF") {
        call.kind = Kind::SetFVF;
        return a.size() == 1 && ParseNumbers(a, 0, 1, call);
    }
    if (name == "CreateVertexBuffer") {
        call.kind = Kind::CreateVertexBuffer;  // LENGTH USAGE FVF POOL SHARED -> R vbN
        return a.size() == 5 && ParseNumbers(a, 0, 4, call) && words.size() >= 2 &&
               (words.back() == "null" || ParseBuffer(words.back(), call.buffer));
    }
    if (name == "SetStreamSource") {
        call.kind = Kind::SetStreamSource;  // STREAM vbN OFFSET STRIDE
        return a.size() == 4 && ParseNumbers(a, 0, 1, call) && (a[1] == "null" || ParseBuffer(a[1], call.buffer)) &&
               ParseNumbers(a, 2, 2, call);
    }
    if (name == "DrawPrimitive") {
        call.kind = Kind::DrawPrimitive;
        return a.size() == 3 && ParseNumbers(a, 0, 3, call);
    }
    return false;
}

}  // namespace

bool ParseTrace(const std::string& text, std::vector<TraceCall>& calls, std::string& error) {
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        TraceCall call;
        call.line = number;
        bool skip = false;
        if (!ParseCall(line, call, skip)) {
            error = "line " + std::to_string(number) + " is not a trace line: '" + line + "'";
            return false;
        }
        if (!skip) {
            calls.push_back(std::move(call));
        }
    }
    return true;
}

bool ReplayTrace(const std::vector<TraceCall>& calls, IDirect3DDevice9* device, std::string& error) {
    struct Buffer {
        IDirect3DVertexBuffer9* object = nullptr;
        std::uint32_t length = 0;
        std::uint8_t* locked = nullptr;  // points at lockedOffset
        std::uint32_t lockedOffset = 0;
        std::uint32_t lockedSize = 0;
    };
    std::map<int, Buffer> buffers;
    const auto fail = [&](const TraceCall& call, const std::string& reason) {
        error = "line " + std::to_string(call.line) + ": " + reason;
        for (auto& [number, buffer] : buffers) {
            if (buffer.locked != nullptr) {
                buffer.object->Unlock();
            }
            buffer.object->Release();
        }
        return false;
    };

    for (const TraceCall& call : calls) {
        Buffer* buffer = nullptr;
        if (call.buffer != 0 && call.kind != Kind::CreateVertexBuffer) {
            auto found = buffers.find(call.buffer);
            if (found == buffers.end()) {
                return fail(call, "vb" + std::to_string(call.buffer) + " is used before it is made");
            }
            buffer = &found->second;
        }
        const std::vector<std::uint32_t>& n = call.numbers;
        switch (call.kind) {
            case Kind::Clear:
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
                device->SetTransform(static_cast<D3DTRANSFORMSTATETYPE>(n[0]), &matrix);
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
                    return fail(call, "the device could not make vb" + std::to_string(call.buffer));
                }
                buffers[call.buffer].object = object;
                buffers[call.buffer].length = n[0];
                break;
            }
            case Kind::Lock: {
                void* data = nullptr;
                if (FAILED(buffer->object->Lock(n[0], n[1], &data, n[2])) || data == nullptr) {
                    return fail(call, "vb" + std::to_string(call.buffer) + " could not be locked");
                }
                buffer->locked = static_cast<std::uint8_t*>(data);
                buffer->lockedOffset = n[0];
                buffer->lockedSize = n[1] != 0 ? n[1] : (n[0] <= buffer->length ? buffer->length - n[0] : 0);
                break;
            }
            case Kind::Vertex: {
                const std::uint64_t at = std::uint64_t{n[0]} * 16;
                if (buffer->locked == nullptr || at < buffer->lockedOffset ||
                    at + 16 > std::uint64_t{buffer->lockedOffset} + buffer->lockedSize) {
                    return fail(call, "the vertex lies outside vb" + std::to_string(call.buffer) + "'s locked range");
                }
                std::uint8_t* target = buffer->locked + (at - buffer->lockedOffset);
                std::memcpy(target, call.floats.data(), 12);
                std::memcpy(target + 12, &n[1], 4);
                break;
            }
            case Kind::Unlock:
                buffer->object->Unlock();
                buffer->locked = nullptr;
                break;
            case Kind::SetStreamSource:
                device->SetStreamSource(n[0], buffer != nullptr ? buffer->object : nullptr, n[1], n[2]);
                break;
            case Kind::DrawPrimitive:
                device->DrawPrimitive(static_cast<D3DPRIMITIVETYPE>(n[0]), n[1], n[2]);
                break;
            case Kind::ReleaseBuffer:
                buffer->object->Release();
                buffers.erase(call.buffer);
                break;
        }
    }
    for (auto& [number, buffer] : buffers) {
        buffer.object->Release();
    }
    return true;
}
