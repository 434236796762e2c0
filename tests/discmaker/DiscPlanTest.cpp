#include "DiscPlan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "DiscMaker.h"
#include "TreeScan.h"

namespace {

// Files whose records take exactly the given sizes: one-byte names, so a record is 10 bytes plus data.
std::vector<PackFile> FilesOfRecordSizes(const std::vector<std::uint64_t>& recordSizes) {
    std::vector<PackFile> files;
    for (std::size_t i = 0; i < recordSizes.size(); ++i) {
        files.push_back(PackFile{std::string(1, static_cast<char>('a' + i % 26)), "", recordSizes[i] - 10});
    }
    return files;
}

// Every file exactly once, volumes in order, each disc within capacity, and the totals add up.
void ExpectConsistent(const DiscLayout& layout, const std::vector<PackFile>& files, std::uint64_t sideBytes,
                      std::uint64_t capacity) {
    std::vector<std::size_t> all;
    std::uint64_t discBytes[2] = {sideBytes, 0};
    for (int v = 0; v < kVolumeCount; ++v) {
        const auto& volume = layout.volumes[static_cast<std::size_t>(v)];
        EXPECT_TRUE(std::is_sorted(volume.begin(), volume.end())) << "volume " << v;
        std::uint64_t bytes = 0;
        for (std::size_t index : volume) {
            bytes += RecordBytes(files[index]);
            all.push_back(index);
        }
        EXPECT_EQ(bytes, layout.volumeBytes[static_cast<std::size_t>(v)]) << "volume " << v;
        discBytes[v / kVolumesPerDisc] += bytes;
    }
    std::sort(all.begin(), all.end());
    ASSERT_EQ(all.size(), files.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i], i);
    }
    EXPECT_EQ(layout.discBytes[0], discBytes[0]);
    EXPECT_EQ(layout.discBytes[1], discBytes[1]);
    EXPECT_LE(discBytes[0], capacity);
    EXPECT_LE(discBytes[1], capacity);
}

TEST(DiscPlan, CutsTheSortedListWhereTheDiscsComeClosest) {
    const auto files = FilesOfRecordSizes({100, 100, 100, 100, 100, 100, 100, 100});
    DiscLayout layout;
    std::vector<std::string> errors;
    // The side files weigh 200 on the first disc, so it takes three of the eight: 500 against 500.
    ASSERT_TRUE(PlanDiscs(files, 200, 10000, layout, errors));
    ExpectConsistent(layout, files, 200, 10000);
    EXPECT_EQ(layout.discBytes[0], 500u);
    EXPECT_EQ(layout.discBytes[1], 500u);
    EXPECT_EQ(layout.volumes[0], (std::vector<std::size_t>{0}));
    // Five of 100 over three volumes: the largest can be no smaller than 200; the earliest cuts win.
    EXPECT_EQ(layout.volumes[3], (std::vector<std::size_t>{3}));
    EXPECT_EQ(layout.volumes[4], (std::vector<std::size_t>{4, 5}));
    EXPECT_EQ(layout.volumes[5], (std::vector<std::size_t>{6, 7}));
}

// The three volumes of a disc against every possible pair of cuts: the largest volume is as small as any
// cut can make it.
TEST(DiscPlan, VolumesHaveTheSmallestLargestPart) {
    std::mt19937 random(7);
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint64_t> sizes(random() % 9);
        for (auto& size : sizes) {
            size = 10 + random() % 1000;
        }
        const auto files = FilesOfRecordSizes(sizes);
        DiscLayout layout;
        std::vector<std::string> errors;
        if (files.empty()) {
            continue;
        }
        ASSERT_TRUE(PlanDiscs(files, 0, 1u << 30, layout, errors));
        ExpectConsistent(layout, files, 0, 1u << 30);
        for (int disc = 0; disc < 2; ++disc) {
            std::vector<std::uint64_t> run;
            for (int v = disc * 3; v < disc * 3 + 3; ++v) {
                for (std::size_t index : layout.volumes[static_cast<std::size_t>(v)]) {
                    run.push_back(sizes[index]);
                }
            }
            std::uint64_t best = UINT64_MAX;
            for (std::size_t a = 0; a <= run.size(); ++a) {
                for (std::size_t b = a; b <= run.size(); ++b) {
                    std::uint64_t parts[3] = {0, 0, 0};
                    for (std::size_t i = 0; i < run.size(); ++i) {
                        parts[i < a ? 0 : i < b ? 1 : 2] += run[i];
                    }
                    best = std::min(best, std::max({parts[0], parts[1], parts[2]}));
                }
            }
            const std::uint64_t largest = *std::max_element(layout.volumeBytes.begin() + disc * 3,
                                                            layout.volumeBytes.begin() + disc * 3 + 3);
            EXPECT_EQ(largest, best) << "round " << round << " disc " << disc;
        }
    }
}

struct Refusal {
    std::vector<std::uint64_t> recordSizes;
    std::uint64_t sideBytes;
    std::uint64_t capacity;
    const char* expected;
};

TEST(DiscPlan, RefusesWhatCannotFit) {
    const Refusal cases[] = {
        {{50, 1001, 50}, 0, 1000, "b: 991 bytes (1001 bytes in a volume), larger than a disc of 1000 bytes"},
        {{50}, 1001, 1000, "more than the first disc's 1000 bytes"},
        {{700, 700, 700}, 0, 1000, "2100 bytes in all, more than two discs of 1000 bytes each"},
        // 200 of side files count on the first disc: 900 + 200 + 900 = 2000 > 2 * 999.
        {{900, 900}, 200, 999, "more than two discs"},
        // 200 in all fits two discs of 100, and 50+50 | 40+30+30 would; no cut of the sorted list does, and
        // dealing largest first misses it too.
        {{50, 40, 50, 30, 30}, 0, 100, "cannot be divided between them"},
    };
    for (const Refusal& refusal : cases) {
        DiscLayout layout;
        std::vector<std::string> errors;
        EXPECT_FALSE(PlanDiscs(FilesOfRecordSizes(refusal.recordSizes), refusal.sideBytes, refusal.capacity, layout,
                               errors));
        ASSERT_EQ(errors.size(), 1u) << refusal.expected;
        EXPECT_NE(errors[0].find(refusal.expected), std::string::npos) << errors[0];
    }
}

// Exactly full discs are accepted: the limit is inclusive.
TEST(DiscPlan, FullDiscsFit) {
    const auto files = FilesOfRecordSizes({600, 400, 1000});
    DiscLayout layout;
    std::vector<std::string> errors;
    ASSERT_TRUE(PlanDiscs(files, 0, 1000, layout, errors)) << errors[0];
    ExpectConsistent(layout, files, 0, 1000);
}

// When no single cut fits, the files are dealt out by size and each disc keeps its files in order.
TEST(DiscPlan, DealsBySizeWhenNoCutFits) {
    // Sorted: 60, 60, 40, 40 with capacity 100: cuts give 60|140, 120|80, 160|40; dealing gives 100|100.
    const auto files = FilesOfRecordSizes({60, 60, 40, 40});
    DiscLayout layout;
    std::vector<std::string> errors;
    ASSERT_TRUE(PlanDiscs(files, 0, 100, layout, errors));
    ExpectConsistent(layout, files, 0, 100);
    EXPECT_EQ(layout.discBytes[0], 100u);
}

TEST(DiscPlan, CapacityTexts) {
    const std::pair<const char*, std::uint64_t> accepted[] = {
        {"700M", 700ull << 20}, {"4K", 4096}, {"1G", 1ull << 30}, {"12345", 12345}, {"4k", 4096}};
    for (const auto& [text, bytes] : accepted) {
        std::uint64_t parsed = 0;
        EXPECT_TRUE(ParseCapacity(text, parsed)) << text;
        EXPECT_EQ(parsed, bytes) << text;
    }
    for (const char* text : {"", "0", "M", "700MB", "-5", "1.5G", "99999999999999999999"}) {
        std::uint64_t parsed = 0;
        EXPECT_FALSE(ParseCapacity(text, parsed)) << text;
    }
}

TEST(TreeRules, StrictUtf8) {
    const std::pair<std::string, bool> cases[] = {
        {"voice/a.wav", true},          {"\xE8\x81\xB2\xE9\x9F\xB3", true},  // 聲音
        {"\xF0\x9F\x8E\xB5", true},     {"\xFF", false},
        {"\xC0\xAF", false},            // overlong '/'
        {"\xED\xA0\x80", false},        // a surrogate
        {"\xE8\x81", false},            // cut short
        {"\xF4\x90\x80\x80", false},    // above U+10FFFF
        {"\xA9", false},                // Big5 or Latin-1, not UTF-8
    };
    for (const auto& [text, valid] : cases) {
        EXPECT_EQ(IsValidUtf8(text), valid) << text;
    }
}

TEST(TreeRules, NamesThatAreOneFileOnWindows) {
    const std::pair<const char*, const char*> same[] = {
        {"Voice\\A.wav", "voice\\a.WAV"},
        {"\xC3\x84.wav", "\xC3\xA4.wav"},          // Ä and ä
        {"\xD0\x90.ogg", "\xD0\xB0.ogg"},          // Cyrillic А and а
        {"\xEF\xBC\xA1.ogg", "\xEF\xBD\x81.ogg"},  // full-width Ａ and ａ
        {"a.\\b", "a\\b"},                         // Windows drops trailing dots
        {"a \\b", "a\\b"},
    };
    for (const auto& [left, right] : same) {
        EXPECT_EQ(WindowsNameKey(left), WindowsNameKey(right)) << left << " / " << right;
    }
    EXPECT_NE(WindowsNameKey("a\\b"), WindowsNameKey("ab"));
    EXPECT_NE(WindowsNameKey("\xE8\x81\xB2"), WindowsNameKey("\xE9\x9F\xB3"));
}

TEST(TreeRules, ReservedSideFileNames) {
    EXPECT_TRUE(IsReservedSideFileName("Bin\\den.dat"));
    EXPECT_TRUE(IsReservedSideFileName("BIN/Launch.INI"));
    EXPECT_FALSE(IsReservedSideFileName("Bin\\den.dat.bak"));
    EXPECT_FALSE(IsReservedSideFileName("x\\Bin\\den.dat"));
}

}  // namespace
