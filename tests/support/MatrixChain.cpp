#include "tests/support/MatrixChain.h"

#include <cstdlib>
#include <sstream>

namespace testsupport {
namespace {

bool ReadFloats(const std::vector<std::string>& tokens, std::size_t& position, int count, float* out,
                std::string& error) {
    for (int i = 0; i < count; ++i) {
        if (position >= tokens.size()) {
            error = "chain ends inside a constructor's arguments";
            return false;
        }
        const std::string& token = tokens[position++];
        char* end = nullptr;
        out[i] = std::strtof(token.c_str(), &end);
        if (end == token.c_str() || *end != '\0') {
            error = "not a number: " + token;
            return false;
        }
    }
    return true;
}

// One factor of a chain: a constructor or a parenthesised sub-chain. Returns nothing without an
// error when the next token does not start a factor.
std::optional<D3DXMATRIX> ReadFactor(const std::vector<std::string>& tokens, std::size_t& position,
                                     std::string& error) {
    if (position >= tokens.size()) {
        return std::nullopt;
    }
    const std::string& word = tokens[position];
    D3DXMATRIX m;
    float a[16];
    if (word == "(") {
        ++position;
        auto inner = EvaluateChain(tokens, position, error);
        if (!inner) {
            if (error.empty())
                error = "empty parentheses";
            return std::nullopt;
        }
        if (position >= tokens.size() || tokens[position] != ")") {
            error = "missing ')'";
            return std::nullopt;
        }
        ++position;
        return inner;
    }
    const std::size_t start = position++;
    if (word == "identity") {
        D3DXMatrixIdentity(&m);
    } else if (word == "matrix" && ReadFloats(tokens, position, 16, a, error)) {
        for (int i = 0; i < 16; ++i)
            m.m[i / 4][i % 4] = a[i];
    } else if (word == "translate" && ReadFloats(tokens, position, 3, a, error)) {
        D3DXMatrixTranslation(&m, a[0], a[1], a[2]);
    } else if (word == "rotx" && ReadFloats(tokens, position, 1, a, error)) {
        D3DXMatrixRotationX(&m, a[0]);
    } else if (word == "roty" && ReadFloats(tokens, position, 1, a, error)) {
        D3DXMatrixRotationY(&m, a[0]);
    } else if (word == "rotz" && ReadFloats(tokens, position, 1, a, error)) {
        D3DXMatrixRotationZ(&m, a[0]);
    } else if (word == "lookat" && ReadFloats(tokens, position, 9, a, error)) {
        const D3DXVECTOR3 eye{a[0], a[1], a[2]}, at{a[3], a[4], a[5]}, up{a[6], a[7], a[8]};
        D3DXMatrixLookAtLH(&m, &eye, &at, &up);
    } else if (word == "perspective" && ReadFloats(tokens, position, 4, a, error)) {
        D3DXMatrixPerspectiveFovLH(&m, a[0], a[1], a[2], a[3]);
    } else {
        position = start;  // not a factor: leave it to the caller
        return std::nullopt;
    }
    return m;
}

}  // namespace

std::optional<D3DXMATRIX> EvaluateChain(const std::vector<std::string>& tokens, std::size_t& position,
                                        std::string& error) {
    error.clear();
    auto product = ReadFactor(tokens, position, error);
    if (!product) {
        return std::nullopt;
    }
    while (true) {
        auto next = ReadFactor(tokens, position, error);
        if (!next) {
            if (!error.empty())
                return std::nullopt;
            return product;
        }
        D3DXMatrixMultiply(&*product, &*product, &*next);
    }
}

std::optional<D3DXMATRIX> EvaluateChain(const std::string& text, std::string& error) {
    const auto tokens = SplitTokens(text);
    std::size_t position = 0;
    auto result = EvaluateChain(tokens, position, error);
    if (result && position != tokens.size()) {
        error = "unexpected token: " + tokens[position];
        return std::nullopt;
    }
    return result;
}

std::vector<std::string> SplitTokens(const std::string& text) {
    std::vector<std::string> tokens;
    std::istringstream in(text);
    for (std::string token; in >> token;) {
        tokens.push_back(token);
    }
    return tokens;
}

}  // namespace testsupport
