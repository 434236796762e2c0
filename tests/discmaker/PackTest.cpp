// The command end to end: packing a small tree, its refusals, and verify.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <sstream>

#include "../engine/TestFiles.h"
#include "DiscMaker.h"
#include "Extractor.h"
#include "IsoImage.h"
#include "Paths.h"
#include "Sha256.h"
#include "VolumeWriter.h"

namespace {

namespace fs = std::filesystem;
using testfiles::ReadFile;
using testfiles::WriteFile;

const char* const kVolumes[6] = {"data1.cab", "data2.cab", "data3.cab", "data4.cab", "data5.cab", "data6.cab"};

std::string Bytes(std::size_t count, unsigned seed) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>((i * 131 + seed * 17 + (i >> 7)) & 0xFF);
    }
    return bytes;
}

struct Result {
    int code = 0;
    std::string out;
    std::string err;
};

class DiscMakerTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(scratch / "side/Setup.exe", "MZ setup");
        WriteFile(scratch / "side/eula.txt", "license");
        WriteFile(scratch / "side/den.dat", "den");
        WriteFile(scratch / "side/launch.ini", "[launch]");
        fs::create_directories(tree);
    }

    // A voice pack in miniature: folders, a non-ASCII name, an empty file, sizes that spread out.
    void MakeSampleTree() {
        WriteFile(tree / "Voice/a001.wav", Bytes(3000, 1));
        WriteFile(tree / "Voice/a002.wav", Bytes(1500, 2));
        WriteFile(tree / "Voice/b/b001.wav", Bytes(2500, 3));
        WriteFile(tree / "Voice/\xE8\x81\xB2\xE9\x9F\xB3.ogg", Bytes(1200, 4));  // 聲音.ogg
        WriteFile(tree / "Music/theme.ogg", Bytes(4000, 5));
        WriteFile(tree / "Bin/voice.cfg", "");
        WriteFile(tree / "readme.txt", Bytes(700, 6));
    }

    Result Run(const std::vector<std::string>& arguments) {
        std::ostringstream out;
        std::ostringstream err;
        Result result;
        result.code = RunDiscMaker(arguments, out, err, false);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    Result Pack(const fs::path& outFolder, const std::string& capacity, std::vector<std::string> extra = {"--no-iso"}) {
        std::vector<std::string> arguments = {"pack",     "--tree",   tree.string(),
                                              "--setup",  (scratch / "side/Setup.exe").string(),
                                              "--eula",   (scratch / "side/eula.txt").string(),
                                              "--den",    (scratch / "side/den.dat").string(),
                                              "--launch", (scratch / "side/launch.ini").string(),
                                              "--out",    outFolder.string(),
                                              "--capacity", capacity};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        return Run(arguments);
    }

    Result Verify(const fs::path& outFolder) {
        return Run({"verify", "--tree", tree.string(), "--out", outFolder.string(), "--setup",
                    (scratch / "side/Setup.exe").string()});
    }

    static std::string VolumePath(const fs::path& outFolder, int volume) {
        return (outFolder / (volume < 3 ? "disc1" : "disc2") / kVolumes[volume]).string();
    }

    testfiles::ScratchFolder scratch;
    fs::path tree = scratch / "tree";
};

TEST_F(DiscMakerTest, SameInputGivesTheSameVolumesAndImages) {
    MakeSampleTree();
    const Result first = Pack(scratch / "one", "64K", {});
    ASSERT_EQ(first.code, 0) << first.err;
    // Fresh times on the inputs must not show in the output.
    for (const auto& item : fs::recursive_directory_iterator(tree)) {
        fs::last_write_time(item.path(), fs::file_time_type::clock::now() - std::chrono::hours(50));
    }
    const Result second = Pack(scratch / "two", "64K", {});
    ASSERT_EQ(second.code, 0) << second.err;
    EXPECT_EQ(testfiles::Snapshot(scratch / "one"), testfiles::Snapshot(scratch / "two"));
    EXPECT_EQ(testfiles::Snapshot(scratch / "one").size(), 12u);  // 7 + 3 disc files and 2 images
    EXPECT_TRUE(fs::exists(scratch / "one/disc1.iso"));

    for (int disc = 0; disc < 2; ++disc) {
        IsoListing listing;
        std::string error;
        const std::string image = (scratch / "one" / ("disc" + std::to_string(disc + 1) + ".iso")).string();
        ASSERT_TRUE(ReadIsoRoot(image, listing, error)) << error;
        EXPECT_EQ(listing.label, disc == 0 ? "VEYLORAN_DISC1" : "VEYLORAN_DISC2");
        std::vector<std::string> names;
        for (const IsoFile& file : listing.files) {
            names.push_back(file.name);
        }
        EXPECT_EQ(names, disc == 0 ? (std::vector<std::string>{"Setup.exe", "data1.cab", "data2.cab", "data3.cab",
                                                                 "den.dat", "eula.txt", "launch.ini"})
                                   : (std::vector<std::string>{"data4.cab", "data5.cab", "data6.cab"}));
    }
}

// The volumes hold the sorted entries back to back, byte for byte what the shared writer's records
// give, each record whole in one volume.
TEST_F(DiscMakerTest, VolumesHoldTheSortedRecords) {
    MakeSampleTree();
    const Result result = Pack(scratch / "out", "16K");
    ASSERT_EQ(result.code, 0) << result.err;
    const std::vector<std::pair<std::string, std::string>> sorted = {
        {"Bin\\voice.cfg", "Bin/voice.cfg"},
        {"Music\\theme.ogg", "Music/theme.ogg"},
        {"Voice\\a001.wav", "Voice/a001.wav"},
        {"Voice\\a002.wav", "Voice/a002.wav"},
        {"Voice\\b\\b001.wav", "Voice/b/b001.wav"},
        {"Voice\\\xE8\x81\xB2\xE9\x9F\xB3.ogg", "Voice/\xE8\x81\xB2\xE9\x9F\xB3.ogg"},
        {"readme.txt", "readme.txt"}};
    std::string all;
    for (int v = 0; v < 6; ++v) {
        all += ReadFile(VolumePath(scratch / "out", v));
    }
    std::string expected;
    std::vector<std::string> records;
    for (const auto& [name, path] : sorted) {
        records.push_back(EncodeRecord(name, ReadFile(tree / path)));
        expected += records.back();
    }
    EXPECT_EQ(all, expected);
    // Whole records only: every volume is a run of them.
    for (int v = 0; v < 6; ++v) {
        std::string rest = ReadFile(VolumePath(scratch / "out", v));
        while (!rest.empty()) {
            bool matched = false;
            for (const std::string& record : records) {
                if (rest.compare(0, record.size(), record) == 0) {
                    rest.erase(0, record.size());
                    matched = true;
                    break;
                }
            }
            ASSERT_TRUE(matched) << kVolumes[v] << " does not consist of whole records";
        }
    }
    std::uint64_t disc[2] = {8 + 7 + 3 + 8, 0};  // the four side files are on the first disc
    for (int v = 0; v < 6; ++v) {
        disc[v / 3] += fs::file_size(VolumePath(scratch / "out", v));
    }
    EXPECT_LE(disc[0], 16384u);
    EXPECT_LE(disc[1], 16384u);
    EXPECT_EQ(ReadFile(scratch / "out/disc1/Setup.exe"), "MZ setup");
    EXPECT_EQ(ReadFile(scratch / "out/disc1/launch.ini"), "[launch]");
}

// What the setup program's own extractor makes of the six volumes is the tree.
TEST_F(DiscMakerTest, TheExtractorRebuildsTheTree) {
    MakeSampleTree();
    ASSERT_EQ(Pack(scratch / "out", "16K").code, 0);
    setupState.installFolder = (scratch / "install").string();
    InstallJob job;
    Set(job.running, true);
    for (int v = 0; v < 6; ++v) {
        setupState.sourceFolder = (scratch / "out" / (v < 3 ? "disc1" : "disc2")).string();
        ExtractVolume(kVolumes[v], job);
        ASSERT_TRUE(Get(job.running)) << job.errorText;
    }
    EXPECT_EQ(testfiles::Snapshot(scratch / "install"), testfiles::Snapshot(tree));
}

// A capacity that only just holds the files: each disc stays within it, and the discs come out even.
TEST_F(DiscMakerTest, DiscsStayWithinTheCapacity) {
    for (int i = 0; i < 12; ++i) {
        WriteFile(tree / ("v" + std::to_string(10 + i) + ".wav"), Bytes(1000, static_cast<unsigned>(i)));
    }
    // 12 records of 1016 bytes and 26 bytes of side files: 12218 bytes, so two discs of 6200 just do.
    const Result result = Pack(scratch / "out", "6200");
    ASSERT_EQ(result.code, 0) << result.err;
    std::uint64_t disc[2] = {26, 0};
    for (int v = 0; v < 6; ++v) {
        disc[v / 3] += fs::file_size(VolumePath(scratch / "out", v));
    }
    EXPECT_EQ(disc[0], 26u + 6 * 1016u);
    EXPECT_EQ(disc[1], 6 * 1016u);
    EXPECT_EQ(Verify(scratch / "out").code, 0);
    EXPECT_EQ(Pack(scratch / "other", "6100").code, 1);  // 12218 > 2 x 6100
}

struct BadTree {
    const char* label;
    std::function<void(const fs::path& tree)> make;
    std::string capacity;
    std::vector<std::string> expected;  // all must appear in the messages
};

TEST_F(DiscMakerTest, RefusalsNameTheFileAndTheRuleAndWriteNothing) {
    const BadTree cases[] = {
        {"name over 4095 bytes",
         [](const fs::path& t) {
             fs::path folder = t;
             for (int i = 0; i < 16; ++i) {
                 folder /= std::string(250, static_cast<char>('a' + i));
             }
             fs::create_directories(folder);
             // 16 x 251 + 100 = 4116 bytes; the file is created relative to its folder, as the path is too
             // long for one call.
             const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
             const int file = ::openat(fd, std::string(100, 'z').c_str(), O_WRONLY | O_CREAT, 0644);
             ::close(file);
             ::close(fd);
         },
         "1M", {"name of 4116 bytes", "at most 4095 bytes"}},
        {"file over 4 GiB",
         [](const fs::path& t) {
             WriteFile(t / "huge.wav", "");
             fs::resize_file(t / "huge.wav", 4294967296ull);  // sparse: nothing is really written
         },
         "8G", {"huge.wav: 4294967296 bytes", "at most 4,294,967,295 bytes"}},
        {"name not UTF-8", [](const fs::path& t) { WriteFile(t / "Voice/\xA7\xDA.wav", "x"); }, "1M",
         {"Voice/\xA7\xDA.wav", "not valid UTF-8"}},
        {"dot-dot component", [](const fs::path& t) { WriteFile(t / "Voice/.../x.wav", "x"); }, "1M",
         {"Voice\\...\\x.wav", "'..' component or a colon"}},
        {"colon", [](const fs::path& t) { WriteFile(t / "Voice/a:b.wav", "x"); }, "1M",
         {"Voice\\a:b.wav", "'..' component or a colon"}},
        {"backslash in a name", [](const fs::path& t) { WriteFile(t / "Voice/a\\b.wav", "x"); }, "1M",
         {"a\\b.wav", "backslash"}},
        {"names differing in case",
         [](const fs::path& t) {
             WriteFile(t / "Voice/Hello.wav", "x");
             WriteFile(t / "Voice/hello.wav", "y");
         },
         "1M", {"Voice\\hello.wav: the same file on Windows as Voice\\Hello.wav"}},
        {"file and folder of one name",
         [](const fs::path& t) {
             WriteFile(t / "Voice", "x");
             WriteFile(t / "voice/a.wav", "y");
         },
         "1M", {"Voice: a file of the same name on Windows as the folder voice"}},
        {"file larger than a disc", [](const fs::path& t) { WriteFile(t / "big.wav", Bytes(5000, 1)); }, "4K",
         {"big.wav: 5000 bytes", "larger than a disc of 4096 bytes"}},
        {"total larger than two discs",
         [](const fs::path& t) {
             for (int i = 0; i < 3; ++i) {
                 WriteFile(t / ("v" + std::to_string(i) + ".wav"), Bytes(3000, 1));
             }
         },
         "4K", {"more than two discs of 4096 bytes each"}},
    };
    for (const BadTree& bad : cases) {
        SCOPED_TRACE(bad.label);
        fs::remove_all(tree);
        fs::create_directories(tree);
        WriteFile(tree / "fine.wav", "ok");
        bad.make(tree);
        const Result result = Pack(scratch / "out", bad.capacity);
        EXPECT_EQ(result.code, 1);
        for (const std::string& text : bad.expected) {
            EXPECT_NE(result.err.find(text), std::string::npos) << result.err;
        }
        EXPECT_NE(result.err.find("nothing was written"), std::string::npos);
        EXPECT_FALSE(fs::exists(scratch / "out"));
    }
}

// A failure after the volumes are written (here: no xorriso for the images) takes them away again, and
// an earlier output in the folder stays as it was.
TEST_F(DiscMakerTest, FailureLateInTheRunLeavesNothing) {
    MakeSampleTree();
    Result result = Pack(scratch / "out", "64K", {"--xorriso", "/nonexistent/xorriso"});
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("xorriso"), std::string::npos) << result.err;
    EXPECT_FALSE(fs::exists(scratch / "out"));

    ASSERT_EQ(Pack(scratch / "out", "64K").code, 0);
    const auto before = testfiles::Snapshot(scratch / "out");
    result = Pack(scratch / "out", "64K", {"--force", "--xorriso", "/nonexistent/xorriso"});
    EXPECT_EQ(result.code, 1);
    EXPECT_EQ(testfiles::Snapshot(scratch / "out"), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch / "out"), fs::directory_iterator()), 2);  // disc1, disc2

    // Without --force an existing output is refused; with it, replaced.
    WriteFile(tree / "extra.wav", "new");
    result = Pack(scratch / "out", "64K");
    EXPECT_EQ(result.code, 1);
    EXPECT_NE(result.err.find("already exists"), std::string::npos);
    ASSERT_EQ(Pack(scratch / "out", "64K", {"--no-iso", "--force"}).code, 0);
    EXPECT_EQ(Verify(scratch / "out").code, 0);
}

TEST_F(DiscMakerTest, ReportsTheReservedSideFileNames) {
    MakeSampleTree();
    WriteFile(tree / "Bin/Den.DAT", "old den");
    WriteFile(tree / "bin/launch.ini", "old launch");
    const Result result = Pack(scratch / "out", "64K");
    ASSERT_EQ(result.code, 0) << result.err;
    EXPECT_NE(result.err.find("note: Bin\\Den.DAT: the setup program skips this entry"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("note: bin\\launch.ini: the setup program skips this entry"), std::string::npos);
    EXPECT_EQ(result.err.find("voice.cfg"), std::string::npos);
}

// Verify prints the manifest and catches one changed byte wherever it is.
TEST_F(DiscMakerTest, VerifyCatchesAChangedByte) {
    MakeSampleTree();
    ASSERT_EQ(Pack(scratch / "out", "64K", {}).code, 0);
    const Result good = Verify(scratch / "out");
    ASSERT_EQ(good.code, 0) << good.err;
    EXPECT_NE(good.out.find("Voice\\a002.wav\t1500\t" + Sha256::HexOf(Bytes(1500, 2).data(), 1500) + "\n"),
              std::string::npos)
        << good.out;
    EXPECT_NE(good.err.find("verified 7 entries"), std::string::npos) << good.err;

    const auto flip = [](const fs::path& path, std::size_t fromEnd) {
        std::string bytes = ReadFile(path);
        bytes[bytes.size() - fromEnd] ^= 0x01;
        WriteFile(path, bytes);
    };
    struct Damage {
        const char* label;
        fs::path file;
        std::size_t fromEnd;
        std::string expected;
    };
    const fs::path out = scratch / "out";
    std::string lastVolume;
    for (int v = 5; v >= 0 && lastVolume.empty(); --v) {
        if (fs::file_size(VolumePath(out, v)) > 0) {
            lastVolume = VolumePath(out, v);
        }
    }
    const Damage damages[] = {
        {"volume data", lastVolume, 1, "readme.txt: the content differs from the tree's file"},
        {"tree file", tree / "Voice/a001.wav", 10, "Voice\\a001.wav: the content differs from the tree's file"},
        {"image", out / "disc1.iso", 0, "disc1.iso: "},
    };
    for (const Damage& damage : damages) {
        SCOPED_TRACE(damage.label);
        const std::string original = ReadFile(damage.file);
        if (damage.fromEnd == 0) {
            // Inside the image: a byte of Setup.exe's data, found by its content.
            std::string bytes = original;
            const std::size_t at = bytes.find("MZ setup");
            ASSERT_NE(at, std::string::npos);
            bytes[at + 3] ^= 0x01;
            WriteFile(damage.file, bytes);
        } else {
            flip(damage.file, damage.fromEnd);
        }
        const Result bad = Verify(out);
        EXPECT_EQ(bad.code, 1);
        EXPECT_NE(bad.err.find(damage.expected), std::string::npos) << bad.err;
        EXPECT_NE(bad.err.find("verify failed"), std::string::npos);
        WriteFile(damage.file, original);
    }
    EXPECT_EQ(Verify(out).code, 0);

    // A volume cut short is damage too, and its entries go missing.
    const std::string volume = ReadFile(lastVolume);
    WriteFile(lastVolume, volume.substr(0, volume.size() - 5));
    const Result cut = Verify(out);
    EXPECT_EQ(cut.code, 1);
    EXPECT_NE(cut.err.find("cut short"), std::string::npos) << cut.err;
    EXPECT_NE(cut.err.find("readme.txt: in the tree, but in none of the volumes"), std::string::npos) << cut.err;
}

TEST_F(DiscMakerTest, UsageErrors) {
    MakeSampleTree();
    EXPECT_EQ(Run({}).code, 2);
    EXPECT_EQ(Run({"burn"}).code, 2);
    EXPECT_EQ(Run({"pack", "--tree", tree.string()}).code, 2);
    EXPECT_EQ(Pack(scratch / "out", "lots").code, 2);
    const Result label = Pack(scratch / "out", "64K", {"--label1", "voice disc"});
    EXPECT_EQ(label.code, 1);
    EXPECT_NE(label.err.find("--label1 voice disc: a volume label"), std::string::npos);
    EXPECT_FALSE(fs::exists(scratch / "out"));
}

}  // namespace
