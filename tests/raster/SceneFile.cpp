#include "tests/raster/SceneFile.h"

#include <cstdlib>
#include <map>
#include <optional>
#include <sstream>

#include "tests/support/MatrixChain.h"

namespace rastertest {

namespace {

std::vector<std::string> Tokenize(const std::string& text) {
    std::istringstream lines(text);
    std::string uncommented;
    for (std::string line; std::getline(lines, line);) {
        uncommented += line.substr(0, line.find('#'));
        uncommented += '\n';
    }
    return testsupport::SplitTokens(uncommented);
}

std::optional<unsigned long> Number(const std::string& token) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(token.c_str(), &end, 0);
    if (end == token.c_str() || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

std::optional<float> Float(const std::string& token) {
    char* end = nullptr;
    const float value = std::strtof(token.c_str(), &end);
    if (end == token.c_str() || *end != '\0') {
        return std::nullopt;
    }
    return value;
}

class Player {
public:
    Player(std::vector<std::string> tokens, TestDevice& device) : tokens_(std::move(tokens)), device_(device) {}

    bool Run(std::string* error) {
        // The frame's clear colour may be named anywhere in the file.
        D3DCOLOR clearColor = 0xFF000000u;
        for (std::size_t i = 0; i + 1 < tokens_.size(); ++i) {
            if (tokens_[i] == "clear" && Number(tokens_[i + 1])) {
                clearColor = static_cast<D3DCOLOR>(*Number(tokens_[i + 1]));
            }
        }
        device_.BeginFrame(clearColor);
        while (position_ < tokens_.size()) {
            if (!Command()) {
                *error = error_ + " (at token " + std::to_string(position_) + ")";
                return false;
            }
        }
        device_.EndFrame();
        return true;
    }

private:
    bool Fail(const std::string& message) {
        error_ = message;
        return false;
    }

    std::optional<std::string> Next() {
        if (position_ >= tokens_.size()) {
            return std::nullopt;
        }
        return tokens_[position_++];
    }

    std::optional<float> NextFloat() {
        const auto token = Next();
        return token ? Float(*token) : std::nullopt;
    }

    std::optional<unsigned long> NextNumber() {
        const auto token = Next();
        return token ? Number(*token) : std::nullopt;
    }

    bool SetState(D3DRENDERSTATETYPE state, const std::map<std::string, DWORD>& names) {
        const auto word = Next();
        if (!word || names.count(*word) == 0) {
            return Fail("unknown value for a render state");
        }
        device_->SetRenderState(state, names.at(*word));
        return true;
    }

    bool Transform(D3DTRANSFORMSTATETYPE slot) {
        std::string chainError;
        const auto matrix = testsupport::EvaluateChain(tokens_, position_, chainError);
        if (!matrix) {
            return Fail("bad matrix chain: " + chainError);
        }
        device_->SetTransform(slot, &*matrix);
        return true;
    }

    bool Draw() {
        static const std::map<std::string, D3DPRIMITIVETYPE> types = {
            {"list", D3DPT_TRIANGLELIST}, {"strip", D3DPT_TRIANGLESTRIP}, {"fan", D3DPT_TRIANGLEFAN}};
        const auto type = Next();
        if (!type || types.count(*type) == 0) {
            return Fail("unknown primitive type");
        }
        long long primitives = -1;
        if (position_ < tokens_.size() && tokens_[position_] == "prims") {
            ++position_;
            const auto count = Next();
            if (!count || !Number(*count)) {
                return Fail("prims needs a count");
            }
            primitives = static_cast<long long>(*Number(*count));
        }
        std::vector<Vertex> vertices;
        while (true) {
            const auto first = Next();
            if (!first) {
                return Fail("draw without end");
            }
            if (*first == "end") {
                break;
            }
            const auto x = Float(*first);
            const auto y = NextFloat();
            const auto z = NextFloat();
            const auto color = NextNumber();
            if (!x || !y || !z || !color) {
                return Fail("bad vertex");
            }
            vertices.push_back({*x, *y, *z, static_cast<D3DCOLOR>(*color)});
        }
        device_.Draw(types.at(*type), vertices, primitives);
        return true;
    }

    bool Command() {
        const std::string word = *Next();
        if (word == "clear") {
            return Next().has_value();  // taken into account before the frame began
        }
        if (word == "cull") {
            return SetState(D3DRS_CULLMODE, {{"none", D3DCULL_NONE}, {"cw", D3DCULL_CW}, {"ccw", D3DCULL_CCW}});
        }
        if (word == "fill") {
            return SetState(D3DRS_FILLMODE,
                            {{"point", D3DFILL_POINT}, {"wireframe", D3DFILL_WIREFRAME}, {"solid", D3DFILL_SOLID}});
        }
        if (word == "shade") {
            return SetState(D3DRS_SHADEMODE, {{"flat", D3DSHADE_FLAT}, {"gouraud", D3DSHADE_GOURAUD}});
        }
        if (word == "zenable") {
            return SetState(D3DRS_ZENABLE, {{"0", D3DZB_FALSE}, {"1", D3DZB_TRUE}});
        }
        if (word == "lighting") {
            return SetState(D3DRS_LIGHTING, {{"0", FALSE}, {"1", TRUE}});
        }
        if (word == "renderstate") {
            const auto state = NextNumber();
            const auto value = NextNumber();
            if (!state || !value) {
                return Fail("renderstate needs two numbers");
            }
            device_->SetRenderState(static_cast<D3DRENDERSTATETYPE>(*state), static_cast<DWORD>(*value));
            return true;
        }
        if (word == "world") {
            return Transform(D3DTS_WORLD);
        }
        if (word == "view") {
            return Transform(D3DTS_VIEW);
        }
        if (word == "proj") {
            return Transform(D3DTS_PROJECTION);
        }
        if (word == "draw") {
            return Draw();
        }
        return Fail("unknown command " + word);
    }

    std::vector<std::string> tokens_;
    std::size_t position_ = 0;
    TestDevice& device_;
    std::string error_;
};

}  // namespace

bool PlayScene(const std::string& text, TestDevice& device, std::string* error) {
    return Player(Tokenize(text), device).Run(error);
}

}  // namespace rastertest
