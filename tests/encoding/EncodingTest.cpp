#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Encoding.h"
#include "Texts.h"

namespace {

// "安裝路徑" and "C:\遊戲\Veyloran" in both forms.
const std::string kInstallPathUtf8 = "\xe5\xae\x89\xe8\xa3\x9d\xe8\xb7\xaf\xe5\xbe\x91";
const std::string kInstallPathBig5 = "\xa6\x77\xb8\xcb\xb8\xf4\xae\x7c";
const std::string kGameFolderUtf8 = "C:\\\xe9\x81\x8a\xe6\x88\xb2\\Veyloran";
const std::string kGameFolderBig5 = "C:\\\xb9\x43\xc0\xb8\\Veyloran";

class Encoding : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(::GetACP(), 950u) << "run under wine with LANG=zh_TW.UTF-8"; }
};

TEST_F(Encoding, ConvertsBothWaysBetweenBig5AndUtf8) {
    struct Case {
        std::string ansi;
        std::string utf8;
    };
    const Case cases[] = {
        {"", ""},
        {"C:\\Program Files\\Tarnwick\\Veyloran\\", "C:\\Program Files\\Tarnwick\\Veyloran\\"},
        {kInstallPathBig5, kInstallPathUtf8},
        {kGameFolderBig5, kGameFolderUtf8},
        // A second byte that is a backslash in ASCII ("功" is A5 5C): it must stay part of its character.
        {"\xa5\x5c", "\xe5\x8a\x9f"},
        // A zero byte inside the text converts like any other character instead of ending it.
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8);
        EXPECT_EQ(Utf8ToAnsi(c.utf8), c.ansi);
    }
}

TEST_F(Encoding, CharactersBig5LacksBecomeQuestionMarks) {
    // "한" (Hangul) has no Big5 form.
    EXPECT_EQ(Utf8ToAnsi("D:\\\xed\x95\x9c\\x"), "D:\\?\\x");
}

TEST_F(Encoding, MessageForDisplayShowsTheVolumePathInBig5) {
    for (const char* prefix : {kTextReadVolumePrefix, kTextBadVolumePrefix}) {
        // The path may hold the suffix's own ')' without confusing the cut.
        const std::string utf8Path = kGameFolderUtf8 + "(1)\\data1.cab";
        const std::string big5Path = kGameFolderBig5 + "(1)\\data1.cab";
        EXPECT_EQ(MessageForDisplay(prefix + utf8Path + kTextVolumeSuffix), prefix + big5Path + kTextVolumeSuffix);
    }
}

TEST_F(Encoding, MessageForDisplayLeavesOtherTextsAlone) {
    const std::string texts[] = {
        kTextWriteFailed,
        // A volume prefix without its suffix is no volume text: its bytes are not UTF-8 to convert.
        std::string(kTextReadVolumePrefix) + kGameFolderBig5,
        "",
    };
    for (const std::string& text : texts) {
        EXPECT_EQ(MessageForDisplay(text), text);
    }
}

}  // namespace
