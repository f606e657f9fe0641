// The capture tool's command line, read without running anything.
#include <gtest/gtest.h>

#include "tools/capture/Options.h"

namespace {

CaptureOptions Parsed(const std::vector<std::string>& arguments) {
    ParseResult result = ParseArguments(arguments);
    EXPECT_TRUE(result.options.has_value()) << result.error;
    return result.options.value_or(CaptureOptions{});
}

std::string Error(const std::vector<std::string>& arguments) {
    ParseResult result = ParseArguments(arguments);
    EXPECT_FALSE(result.options.has_value());
    return result.error;
}

std::vector<unsigned int> Codes(const CaptureOptions& options) {
    std::vector<unsigned int> codes;
    for (const KeyPress& key : options.keys) {
        codes.push_back(key.code);
    }
    return codes;
}

// >>what a valid command line gives

TEST(CaptureOptions, DefaultsToTheFirstFrameWithNoKeysAndNoTrace) {
    CaptureOptions options = Parsed({"out.png"});
    EXPECT_EQ(options.outputPath, "out.png");
    EXPECT_EQ(options.frame, 0);
    EXPECT_FALSE(options.angle.has_value());
    EXPECT_TRUE(options.keys.empty());
    EXPECT_TRUE(options.tracePath.empty());
    EXPECT_FALSE(options.help);
}

TEST(CaptureOptions, ReadsEveryOptionInBothSpellings) {
    CaptureOptions options = Parsed({"--frame", "37", "--keys=F2,Left", "--trace", "t.txt", "-o", "a.png"});
    EXPECT_EQ(options.frame, 37);
    EXPECT_EQ(options.tracePath, "t.txt");
    EXPECT_EQ(options.outputPath, "a.png");
    EXPECT_EQ(Codes(options), (std::vector<unsigned int>{0x71, 0x25}));

    CaptureOptions byAngle = Parsed({"--angle=359", "--output=b.png", "--trace=u.txt"});
    EXPECT_EQ(byAngle.angle, 359);
    EXPECT_EQ(byAngle.outputPath, "b.png");
    EXPECT_EQ(byAngle.tracePath, "u.txt");
}

TEST(CaptureOptions, KeysKeepTheirOrderAcrossRepeatedOptions) {
    CaptureOptions options = Parsed({"--keys", "F2,Left,Left,PageUp", "--keys", "Down", "x.png"});
    EXPECT_EQ(Codes(options), (std::vector<unsigned int>{0x71, 0x25, 0x25, 0x21, 0x28}));
    EXPECT_EQ(options.keys[3].name, "PageUp");
}

TEST(CaptureOptions, HelpNeedsNoOutputPath) {
    EXPECT_TRUE(Parsed({"--help"}).help);
    EXPECT_TRUE(Parsed({"-h", "--frame", "3"}).help);
    EXPECT_TRUE(Parsed({"--version"}).version);
}

// >>key names and codes

TEST(CaptureKeys, EveryKeyOfTheKeyboardTableHasANameAndTheWindowsCode) {
    const std::pair<const char*, unsigned int> table[] = {
        {"PageUp", 0x21}, {"PageDown", 0x22}, {"Left", 0x25}, {"Up", 0x26}, {"Right", 0x27},
        {"Down", 0x28},   {"F1", 0x70},       {"F2", 0x71},   {"F3", 0x72}, {"F4", 0x73},
        {"F5", 0x74},     {"F6", 0x75},       {"F7", 0x76}};
    for (const auto& [name, code] : table) {
        EXPECT_EQ(ParseKey(name), code) << name;
        EXPECT_EQ(KeyName(code), name) << code;
    }
}

TEST(CaptureKeys, AcceptsAliasesAnyCaseVkPrefixLettersAndCodes) {
    EXPECT_EQ(ParseKey("prior"), 0x21u);
    EXPECT_EQ(ParseKey("PgDn"), 0x22u);
    EXPECT_EQ(ParseKey("VK_NEXT"), 0x22u);
    EXPECT_EQ(ParseKey("vk_f7"), 0x76u);
    EXPECT_EQ(ParseKey("LEFT"), 0x25u);
    EXPECT_EQ(ParseKey("a"), 0x41u);
    EXPECT_EQ(ParseKey("Z"), 0x5Au);
    EXPECT_EQ(ParseKey("0x71"), 0x71u);
    EXPECT_EQ(ParseKey("0X2e"), 0x2Eu);
    EXPECT_EQ(ParseKey("113"), 0x71u);
    EXPECT_EQ(KeyName(0x41), "A");
    EXPECT_EQ(KeyName(0x90), "0x90");
}

TEST(CaptureKeys, RejectsUnknownNamesAndCodesOutsideOneTo254) {
    for (const char* text : {"", "F13", "Lefty", "VK_", "0", "255", "0x100", "-1", "0x", "1e2", "A1", "F2 "}) {
        EXPECT_FALSE(ParseKey(text).has_value()) << "'" << text << "'";
    }
}

// >>what is refused, and why

TEST(CaptureOptions, RefusesMissingOrExtraOutputPaths) {
    EXPECT_NE(Error({}).find("no output path"), std::string::npos);
    EXPECT_NE(Error({"--frame", "2"}).find("no output path"), std::string::npos);
    EXPECT_NE(Error({"a.png", "b.png"}).find("more than one output path"), std::string::npos);
    EXPECT_NE(Error({"a.png", "-o", "b.png"}).find("more than one output path"), std::string::npos);
    EXPECT_NE(Error({"--output="}).find("empty"), std::string::npos);
}

TEST(CaptureOptions, RefusesUnknownOptionsAndOptionsWithoutValue) {
    EXPECT_NE(Error({"--frames", "3", "a.png"}).find("unknown option '--frames'"), std::string::npos);
    EXPECT_NE(Error({"-x", "a.png"}).find("unknown option"), std::string::npos);
    EXPECT_NE(Error({"a.png", "--frame"}).find("'--frame' needs a value"), std::string::npos);
    EXPECT_NE(Error({"a.png", "--keys"}).find("needs a value"), std::string::npos);
}

TEST(CaptureOptions, RefusesFramesAndAnglesOutOfRangeOrNotWhole) {
    for (const char* frame : {"-1", "abc", "1.5", "100001", "", "0x"}) {
        EXPECT_NE(Error({"--frame", frame, "a.png"}).find("--frame wants"), std::string::npos) << frame;
    }
    for (const char* angle : {"-1", "360", "12.5", "ninety"}) {
        EXPECT_NE(Error({"--angle", angle, "a.png"}).find("--angle wants"), std::string::npos) << angle;
    }
    for (const char* size : {"15", "1025", "0", "-16", "big"}) {
        EXPECT_NE(Error({"--icon", size, "a.png"}).find("--icon wants"), std::string::npos) << size;
    }
    EXPECT_EQ(Parsed({"--icon", "16", "a.png"}).iconSize, 16);
    EXPECT_EQ(Parsed({"--frame", "100000", "a.png"}).frame, 100000);
    EXPECT_NE(Error({"--frame", "3", "--angle", "3", "a.png"}).find("together"), std::string::npos);
}

TEST(CaptureOptions, RefusesBadKeysNamingTheCulprit) {
    EXPECT_NE(Error({"--keys", "F2,Lft", "a.png"}).find("unknown key 'Lft'"), std::string::npos);
    EXPECT_NE(Error({"--keys", "F2,,Left", "a.png"}).find("unknown key ''"), std::string::npos);
    EXPECT_NE(Error({"--keys=", "a.png"}).find("unknown key"), std::string::npos);
}

TEST(CaptureOptions, AReplayTakesNoSceneOptions) {
    EXPECT_EQ(Parsed({"--replay", "t.txt", "a.png"}).replayPath, "t.txt");
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--replay=t.txt", "--frame", "2", "a.png"},
          {"--replay=t.txt", "--angle", "2", "a.png"},
          {"--keys", "F2", "--replay", "t.txt", "a.png"}}) {
        EXPECT_NE(Error(arguments).find("--replay draws the trace's own frame"), std::string::npos);
    }
    EXPECT_NE(Error({"--replay=", "a.png"}).find("empty"), std::string::npos);
}

TEST(CaptureOptions, RefusesATraceThatWouldOverwriteThePicture) {
    EXPECT_NE(Error({"--trace", "a.png", "a.png"}).find("same file"), std::string::npos);
}

}  // namespace
