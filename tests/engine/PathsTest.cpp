#include <gtest/gtest.h>

#include "Paths.h"

namespace {

TEST(PathRules, JoinPath) {
    struct Case {
        const char* left;
        const char* right;
        const char* joined;
    } cases[] = {
        {"C:\\Games", "data1.cab", "C:\\Games\\data1.cab"},
        {"C:\\Games\\", "data1.cab", "C:\\Games\\data1.cab"},
        {"C:\\Games", "\\Bin\\den.dat", "C:\\Games\\Bin\\den.dat"},
        {"C:\\Games\\", "\\Bin", "C:\\Games\\\\Bin"},
        {"C:/Games/", "voice.dat", "C:/Games/voice.dat"},
        {"C:\\Games", "/x", "C:\\Games/x"},
        {"D:", "data1.cab", "D:\\data1.cab"},
        {"C:\\Games", "", "C:\\Games\\"},
        {"C:\\Games\\", "", "C:\\Games\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JoinPath(c.left, c.right), c.joined) << c.left << " + " << c.right;
    }
}

TEST(PathRules, Separators) {
    const std::string path = "a/b\\c";
    EXPECT_EQ(FindNextSeparator(path, 0), 1u);
    EXPECT_EQ(FindNextSeparator(path, 1), 1u);
    EXPECT_EQ(FindNextSeparator(path, 2), 3u);
    EXPECT_EQ(FindNextSeparator(path, 4), kNoPosition);
    EXPECT_EQ(FindNextSeparator(path, 5), kNoPosition);
    EXPECT_EQ(FindNextSeparator(path, 99), kNoPosition);
    EXPECT_EQ(FindNextSeparator("", 0), kNoPosition);

    EXPECT_EQ(FindLastSeparator("D:\\Setup\\setup.exe"), 8u);
    EXPECT_EQ(FindLastSeparator("D:\\Setup/x"), 8u);
    EXPECT_EQ(FindLastSeparator("setup.exe"), kNoPosition);
    EXPECT_EQ(FindLastSeparator(""), kNoPosition);
    // UTF-8 never has a separator byte inside a character; Big5 does (0x5C trail bytes).
    EXPECT_EQ(FindLastSeparator("E:\\\xe8\xa8\xb1\\s.exe"), 6u);
}

TEST(PathRules, IsValidInstallPath) {
    struct Case {
        std::string path;
        bool valid;
    } cases[] = {
        {"C:\\", true},
        {"c:/", true},
        {"C:", false},
        {"C:x", false},
        {"1:\\Games", false},
        {":\\Games", false},
        {"CC\\Games", false},
        {"C:\\Ga*mes", true},
        {"C:\\" + std::string(256, 'a'), true},   // 259 bytes
        {"C:\\" + std::string(257, 'a'), false},  // 260 bytes
        {"\x80:\\Games", false},
        {"\xc3:\\Games", false},
        {"", false},
        {"@:\\", false},
        {"[:\\", false},
        {"`:\\", false},
        {"{:\\", false},
        {"Z:\\", true},
        {"a:\\", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsValidInstallPath(c.path), c.valid) << c.path << " (" << c.path.size() << " bytes)";
    }
}

TEST(PathRules, NormalizeEntryName) {
    EXPECT_EQ(NormalizeEntryName("Bin\\Launch.INI"), "bin/launch.ini");
    EXPECT_EQ(NormalizeEntryName("BIN/DEN.DAT"), "bin/den.dat");
    EXPECT_EQ(NormalizeEntryName("\xc3\x84Z\\\xe8\xa8\xb1"), "\xc3\x84z/\xe8\xa8\xb1");
    EXPECT_EQ(NormalizeEntryName("@[`{"), "@[`{");
    const std::string inner("A\\B\0C\\D", 7);
    EXPECT_EQ(NormalizeEntryName(inner), std::string("a/b\0C\\D", 7));
}

TEST(PathRules, ToWidePath) {
    EXPECT_EQ(ToWidePath("C:\\Games\\data1.cab"), u"C:\\Games\\data1.cab");
    EXPECT_EQ(ToWidePath("D:\\\xe9\x81\x8a\xe6\x88\xb2"), u"D:\\\u904a\u6232");
    EXPECT_EQ(ToWidePath("\xf0\x9f\x8e\xae"), u"\U0001F3AE");
    EXPECT_EQ(ToWidePath(std::string("ab\0cd", 5)), u"ab");
    // Invalid UTF-8 is not refused: each unreadable byte becomes U+FFFD.
    EXPECT_EQ(ToWidePath("a\xff" "b"), u"a\uFFFDb");
    EXPECT_EQ(ToWidePath("\xe9\x81"), u"\uFFFD\uFFFD");
    // 40959 units of text and the terminator fit; one more does not.
    EXPECT_EQ(ToWidePath(std::string(40959, 'x')).size(), 40959u);
    EXPECT_TRUE(ToWidePath(std::string(40960, 'x')).empty());
}

TEST(PathRules, SafeEntryNames) {
    struct Case {
        const char* name;
        bool safe;
    } cases[] = {
        {"voice\\a.ogg", true},   {"./bin/den.dat", true}, {"bin//den.dat", true}, {"a.txt ", true},
        {"..\\x", false},         {"a/../x", false},       {"a/..", false},        {"a\\.. \\x", false},
        {"a\\...\\x", false},     {"a\\. .\\x", false},    {"C:\\x", false},       {"a.txt:stream", false},
        {"a\\..x\\y", true},      {"a\\x..\\y", true},     {".hidden", true},      {"\\rooted", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(IsSafeEntryName(c.name), c.safe) << c.name;
    }
}

TEST(PathRules, PathIdentityKey) {
    EXPECT_EQ(PathIdentityKey("C:\\Games\\Bin\\DEN.DAT"), PathIdentityKey("c:/games/bin/den.dat"));
    EXPECT_EQ(PathIdentityKey("C:\\Games\\bin//den.dat"), PathIdentityKey("C:\\Games\\bin\\den.dat"));
    EXPECT_EQ(PathIdentityKey("C:\\Games\\.\\bin\\den.dat"), PathIdentityKey("C:\\Games\\bin\\den.dat"));
    EXPECT_EQ(PathIdentityKey("C:\\Games\\a.txt "), PathIdentityKey("C:\\Games\\a.txt"));
    EXPECT_NE(PathIdentityKey("C:\\Games\\a.txt"), PathIdentityKey("C:\\Games\\b.txt"));
}

}  // namespace
