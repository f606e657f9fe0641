// Our D3DX matrices against values computed by an independent D3DX implementation for the inputs
// this viewer uses (shared/d3dx-reference.txt). Multiply must agree to the bit; the constructors
// within a unit or two in the last place, signs of zeros included.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "device/D3DXMath.h"
#include "tests/support/MatrixChain.h"

namespace {

struct ReferenceMatrix {
    std::string name;
    std::string chain;
    std::uint32_t bits[4][4];
};

std::vector<ReferenceMatrix> LoadReference() {
    std::ifstream in(ANEMOMETER_REFERENCE_DIR "/d3dx-matrices.txt");
    std::vector<ReferenceMatrix> matrices;
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("== ", 0) != 0)
            continue;
        ReferenceMatrix m;
        const auto colon = line.rfind(": ");
        m.name = line.substr(3, colon - 3);
        m.chain = line.substr(colon + 2);
        for (int row = 0; row < 4; ++row) {
            std::getline(in, line);
            std::istringstream hex(line.substr(line.find('|') + 1));
            for (auto& bits : m.bits[row])
                hex >> std::hex >> bits;
        }
        matrices.push_back(m);
    }
    return matrices;
}

const std::vector<ReferenceMatrix>& Reference() {
    static const auto matrices = LoadReference();
    return matrices;
}

D3DXMATRIX FromBits(const std::uint32_t (&bits)[4][4]) {
    D3DXMATRIX m;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            m.m[i][j] = std::bit_cast<float>(bits[i][j]);
    return m;
}

const ReferenceMatrix& Named(const std::string& name) {
    for (const auto& m : Reference())
        if (m.name == name)
            return m;
    ADD_FAILURE() << "no reference matrix named " << name;
    static ReferenceMatrix none{};
    return none;
}

// Distance in units in the last place between two finite floats; +0 and -0 are 0 apart here,
// their signs are checked separately.
std::int64_t UlpDistance(float a, float b) {
    auto ordered = [](float f) {
        const auto bits = static_cast<std::int64_t>(std::bit_cast<std::uint32_t>(f));
        return bits & 0x80000000 ? 0x80000000 - bits : bits;
    };
    return std::llabs(ordered(a) - ordered(b));
}

struct Agreement {
    std::int64_t maxUlps = 0;
    int zeroSignMismatches = 0;
};

Agreement Compare(const D3DXMATRIX& ours, const std::uint32_t (&bits)[4][4]) {
    Agreement agreement;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            const float theirs = std::bit_cast<float>(bits[i][j]);
            agreement.maxUlps = std::max(agreement.maxUlps, UlpDistance(ours.m[i][j], theirs));
            if (ours.m[i][j] == 0.0f && theirs == 0.0f && std::signbit(ours.m[i][j]) != std::signbit(theirs)) {
                ++agreement.zeroSignMismatches;
            }
        }
    }
    return agreement;
}

TEST(D3DXReference, FileIsReadAndComplete) {
    // Every entry of the file is compared below; an unreadable file must not pass silently.
    ASSERT_GE(Reference().size(), 70u) << "reference matrices not found at " ANEMOMETER_REFERENCE_DIR;
}

// Each chain evaluated with our functions against the reference: the constructors within one
// unit in the last place, the look-at within the reference implementation's own tolerance
// against native (32), and no zero of the wrong sign.
TEST(D3DXReference, EveryChainAgrees) {
    std::int64_t worst = 0;
    std::string worstName;
    for (const auto& reference : Reference()) {
        std::string error;
        const auto ours = testsupport::EvaluateChain(reference.chain, error);
        ASSERT_TRUE(ours) << reference.name << ": " << error;
        const Agreement agreement = Compare(*ours, reference.bits);
        const bool lookAt = reference.chain.find("lookat") != std::string::npos;
        EXPECT_LE(agreement.maxUlps, lookAt ? 32 : 1) << reference.name;
        EXPECT_EQ(agreement.zeroSignMismatches, 0) << reference.name;
        if (agreement.maxUlps > worst) {
            worst = agreement.maxUlps;
            worstName = reference.name;
        }
    }
    RecordProperty("worst_ulps", static_cast<int>(worst));
    std::cout << "largest difference from the reference: " << worst << " ulp (" << worstName << ")\n";
}

// The viewer's own camera and projection, and the rotations at the angles the rotor passes, are
// what the pictures depend on: these agree to the bit.
TEST(D3DXReference, ViewerMatricesAreBitExact) {
    for (const char* name : {"view", "projection", "view eye (0,21,-30)", "view eye (0,20,-29)",
                             "view eye (0,20,0) (looks along up: degenerate)", "rotx pi/2", "roty 2pi/3", "rotz pi/2",
                             "translate (-11.5,13,-0.5)"}) {
        const auto& reference = Named(name);
        std::string error;
        const auto ours = testsupport::EvaluateChain(reference.chain, error);
        ASSERT_TRUE(ours) << name << ": " << error;
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                EXPECT_EQ(std::bit_cast<std::uint32_t>(ours->m[i][j]), reference.bits[i][j])
                    << name << " [" << i << "][" << j << "]";
    }
}

// Multiply alone, on the reference's own factors, must reproduce the reference's products to
// the bit: this separates it from any difference in the trigonometry.
TEST(D3DXReference, MultiplyIsBitExact) {
    struct Product {
        const char* result;
        const char* first;
        const char* second;
    };
    const Product products[] = {
        {"view x projection", "view", "projection"},      {"A x Q k=0", "A k=0", "roty 2pi/3"},
        {"(A x Q) x Q k=0", "A x Q k=0", "roty 2pi/3"},   {"U x Q k=0", "U k=0", "roty 2pi/3"},
        {"(U x Q) x Q k=0", "U x Q k=0", "roty 2pi/3"},   {"A x Q k=90", "A k=90", "roty 2pi/3"},
        {"(A x Q) x Q k=90", "A x Q k=90", "roty 2pi/3"}, {"U x Q k=90", "U k=90", "roty 2pi/3"},
        {"(U x Q) x Q k=90", "U x Q k=90", "roty 2pi/3"}, {"RY(rho) x T(0,6,0) k=90", "roty pi/2", "translate (0,6,0)"},
    };
    for (const auto& product : products) {
        const D3DXMATRIX first = FromBits(Named(product.first).bits);
        const D3DXMATRIX second = FromBits(Named(product.second).bits);
        D3DXMATRIX ours;
        D3DXMatrixMultiply(&ours, &first, &second);
        for (int i = 0; i < 4; ++i)
            for (int j = 0; j < 4; ++j)
                EXPECT_EQ(std::bit_cast<std::uint32_t>(ours.m[i][j]), Named(product.result).bits[i][j])
                    << product.result << " [" << i << "][" << j << "]";
    }
}

TEST(D3DXMultiply, OutputMayAliasEitherInput) {
    D3DXMATRIX a, b, expected;
    D3DXMatrixRotationY(&a, 0.3f);
    D3DXMatrixTranslation(&b, 1.0f, 2.0f, 3.0f);
    D3DXMatrixMultiply(&expected, &a, &b);
    D3DXMATRIX left = a, right = b;
    D3DXMatrixMultiply(&left, &left, &b);
    D3DXMatrixMultiply(&right, &a, &right);
    EXPECT_EQ(std::memcmp(&left, &expected, sizeof expected), 0);
    EXPECT_EQ(std::memcmp(&right, &expected, sizeof expected), 0);
}

TEST(D3DXChain, MalformedChainsAreRejected) {
    std::string error;
    EXPECT_FALSE(testsupport::EvaluateChain("translate 1 2", error));
    EXPECT_FALSE(testsupport::EvaluateChain("( roty 1", error));
    EXPECT_FALSE(testsupport::EvaluateChain("scale 2 2 2", error));
    EXPECT_FALSE(testsupport::EvaluateChain("rotx one", error));
    EXPECT_TRUE(testsupport::EvaluateChain("( identity ) roty 1", error)) << error;
}

// The rotations take the double-precision sine and cosine of the float angle, rounded once to
// float. A libm whose double result is within one double ulp of the exact value gives the same
// float unless the exact value lies within that ulp of a float rounding boundary (the midpoint of
// two floats). For every whole-degree angle the rotor can stand at, and the scene's fixed turns,
// the exact values lie far from any such midpoint, so the matrices do not depend on the host's
// libm (nor does the projection's tangent); and this host's rotations hold the correctly rounded
// values. The exact values come from a
// quad-precision long double (arm64's), so elsewhere the test is skipped.
::testing::AssertionResult FarFromAFloatMidpoint(long double exact, float rounded) {
    const long double below =
        (static_cast<long double>(rounded) + static_cast<long double>(std::nextafter(rounded, -INFINITY))) / 2;
    const long double above =
        (static_cast<long double>(rounded) + static_cast<long double>(std::nextafter(rounded, INFINITY))) / 2;
    const long double margin = std::min(exact - below, above - exact);
    const long double doubleUlp = std::ldexp(1.0L, std::ilogb(static_cast<double>(exact)) - 52);
    if (exact != 0 && margin <= 2 * doubleUlp) {
        return ::testing::AssertionFailure()
               << "within " << static_cast<double>(margin / doubleUlp) << " double ulps of a float rounding boundary";
    }
    return ::testing::AssertionSuccess();
}

TEST(D3DXRotation, SinesAndCosinesDoNotDependOnTheLibm) {
    if (std::numeric_limits<long double>::digits < 113) {
        GTEST_SKIP() << "needs a quad-precision long double for the exact values (arm64 has one)";
    }
    std::vector<float> angles = {2.0943952f, 1.5707964f};  // a third and a quarter turn
    for (int degrees = 0; degrees < 360; ++degrees) {
        angles.push_back(static_cast<float>(degrees) * 0.017453292f);  // the rotor's radians per degree
    }
    for (const float angle : angles) {
        const long double exactCos = std::cos(static_cast<long double>(angle));
        const long double exactSin = std::sin(static_cast<long double>(angle));
        const float cosine = static_cast<float>(exactCos);
        const float sine = static_cast<float>(exactSin);
        EXPECT_TRUE(FarFromAFloatMidpoint(exactCos, cosine)) << "cos " << angle;
        EXPECT_TRUE(FarFromAFloatMidpoint(exactSin, sine)) << "sin " << angle;
        D3DXMATRIX m;
        D3DXMatrixRotationY(&m, angle);
        EXPECT_EQ(std::bit_cast<std::uint32_t>(m.m[0][0]), std::bit_cast<std::uint32_t>(cosine)) << angle;
        EXPECT_EQ(std::bit_cast<std::uint32_t>(m.m[2][0]), std::bit_cast<std::uint32_t>(sine)) << angle;
    }
    const float halfFieldOfView = 0.7853982f / 2.0f;  // the projection's tangent
    const long double exactTan = std::tan(static_cast<long double>(halfFieldOfView));
    EXPECT_TRUE(FarFromAFloatMidpoint(exactTan, static_cast<float>(exactTan)));
}

}  // namespace
