// The volume writer and packvol: byte-exact volumes, refusals that leave nothing behind, and a round
// trip through the setup program's own extractor.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "Extractor.h"
#include "TestFiles.h"
#include "VolumeWriter.h"

namespace {

namespace fs = std::filesystem;
using testfiles::ReadFile;
using testfiles::ScratchFolder;
using testfiles::WriteFile;

// Runs packvol with the arguments; its exit code, and what it wrote to stderr in `message`.
int PackVol(const std::string& arguments, std::string* message = nullptr) {
    ScratchFolder logs;
    const fs::path log = logs.path() / "stderr.txt";
    const int status = std::system((std::string(PACKVOL_PATH) + " " + arguments + " 2>" + log.string()).c_str());
    if (message != nullptr) {
        *message = ReadFile(log);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A file of the size, sparse, so no disk is used.
bool MakeSparseFile(const fs::path& path, off_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool ok = fd >= 0 && ::ftruncate(fd, size) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return ok;
}

class PackVolume : public ::testing::Test {
protected:
    void SetUp() override {
        // Created out of name order, so that only the sort can give the expected order.
        WriteFile(tree / "voice/jp/b.ogg", "jp");
        WriteFile(tree / "a.txt", "alpha");
        WriteFile(tree / "B.txt", "upper case sorts first");
        WriteFile(tree / "\xe8\xaa\x9e/c.ogg", "non-ASCII sorts last");
        WriteFile(tree / "voice/en/a.ogg", std::string(70000, 'e'));
        WriteFile(tree / "empty.dat", "");
        fs::create_directories(tree / "no files here");
    }

    // The volume of the tree, record by record.
    static std::string ExpectedTreeVolume() {
        return EncodeRecord("B.txt", "upper case sorts first") + EncodeRecord("a.txt", "alpha") +
               EncodeRecord("empty.dat", "") + EncodeRecord("voice\\en\\a.ogg", std::string(70000, 'e')) +
               EncodeRecord("voice\\jp\\b.ogg", "jp") + EncodeRecord("\xe8\xaa\x9e\\c.ogg", "non-ASCII sorts last");
    }

    ScratchFolder root;
    const fs::path tree = root.path() / "tree";
    const fs::path out = root.path() / "out.cab";
};

TEST_F(PackVolume, ListTreeNamesFilesRelativeWithBackslashesSortedByBytes) {
    std::vector<VolumeEntry> entries;
    std::string error;
    ASSERT_TRUE(ListTree(tree.string(), entries, error)) << error;
    std::vector<std::string> names;
    for (const VolumeEntry& entry : entries) {
        names.push_back(entry.name);
        EXPECT_TRUE(entry.fromFile);
        std::string relative = entry.name;
        for (char& c : relative) {
            c = c == '\\' ? '/' : c;
        }
        EXPECT_EQ(entry.sourcePath, (tree / fs::u8path(relative)).u8string());
    }
    const std::vector<std::string> expected = {
        "B.txt", "a.txt", "empty.dat", "voice\\en\\a.ogg", "voice\\jp\\b.ogg", "\xe8\xaa\x9e\\c.ogg"};
    EXPECT_EQ(names, expected);
}

TEST_F(PackVolume, TreeVolumeIsByteExactAndDeterministic) {
    ASSERT_EQ(PackVol(out.string() + " --tree " + tree.string()), 0);
    const std::string first = ReadFile(out);
    EXPECT_TRUE(first == ExpectedTreeVolume());

    // The same files made in another order, elsewhere, give the same bytes.
    ScratchFolder other;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"\xe8\xaa\x9e/c.ogg", "non-ASCII sorts last"},
        {"empty.dat", ""},
        {"voice/en/a.ogg", std::string(70000, 'e')},
        {"B.txt", "upper case sorts first"},
        {"a.txt", "alpha"},
        {"voice/jp/b.ogg", "jp"},
    };
    for (const auto& [name, data] : files) {
        WriteFile(other / name, data);
    }
    const fs::path again = root.path() / "again.cab";
    ASSERT_EQ(PackVol(again.string() + " --tree " + other.path().string()), 0);
    EXPECT_TRUE(ReadFile(again) == first);
}

TEST_F(PackVolume, ExplicitListKeepsItsOrderAndNames) {
    const std::string args = out.string() + " Voice\\\\z.ogg=" + (tree / "voice/jp/b.ogg").string() +
                             " a.txt=" + (tree / "a.txt").string() + " Bin/den.dat=" + (tree / "empty.dat").string();
    ASSERT_EQ(PackVol(args), 0);
    EXPECT_TRUE(ReadFile(out) ==
                EncodeRecord("Voice\\z.ogg", "jp") + EncodeRecord("a.txt", "alpha") + EncodeRecord("Bin/den.dat", ""));
}

TEST_F(PackVolume, VolumeRoundTripsThroughTheExtractor) {
    ASSERT_EQ(PackVol((root.path() / "data1.cab").string() + " --tree " + tree.string()), 0);
    const fs::path install = root.path() / "install";
    fs::create_directories(install);
    setupState.sourceFolder = root.path().string();
    setupState.installFolder = install.string();
    InstallJob job;
    Set(job.running, true);
    ExtractVolume("data1.cab", job);
    EXPECT_EQ(job.errorText, "");
    EXPECT_EQ(testfiles::Snapshot(install), testfiles::Snapshot(tree));
}

TEST_F(PackVolume, RefusalsNameTheFileAndTheRuleAndWriteNothing) {
    const fs::path big = root.path() / "big.bin";
    ASSERT_TRUE(MakeSparseFile(big, 4294967296LL));  // one byte over the limit
    const std::string longName(4096, 'n');
    struct Case {
        const char* what;
        std::string arguments;
        std::string inMessage;
        bool onlyOverExisting = false;  // the volume can be its own input only once it exists
    } cases[] = {
        {"name over 4095 bytes", longName + "=" + (tree / "a.txt").string(), "at most 4095 bytes"},
        {"file over 4 GiB", "voice\\big.bin=" + big.string(), big.string() + ": 4294967296 bytes"},
        {"missing file", "a.txt=" + (root.path() / "missing").string(), "missing: cannot be read"},
        {"folder as a file", "a=" + tree.string(), tree.string() + ": cannot be read"},
        {"empty name", "=" + (tree / "a.txt").string(), "empty name"},
        {"name the setup refuses", "..\\\\x.txt=" + (tree / "a.txt").string(), "\"..\" component"},
        {"name with a colon", "C:x.txt=" + (tree / "a.txt").string(), "colon"},
        {"the volume itself", "a.txt=" + out.string(), "is the volume being written", true},
        {"not NAME=FILE", "a.txt", "expected NAME=FILE"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        for (bool existing : {false, true}) {
            if (c.onlyOverExisting && !existing) {
                continue;
            }
            if (existing) {
                WriteFile(out, "an earlier volume");
            } else {
                fs::remove(out);
            }
            std::string message;
            // A good entry first: the refusal comes before anything is written.
            const int code =
                PackVol(out.string() + " ok.txt=" + (tree / "a.txt").string() + " " + c.arguments, &message);
            EXPECT_NE(code, 0);
            EXPECT_NE(message.find(c.inMessage), std::string::npos) << message;
            if (existing) {
                EXPECT_EQ(ReadFile(out), "an earlier volume");
            } else {
                EXPECT_FALSE(fs::exists(out));
            }
        }
    }

    // The tree form refuses the same way, naming the file.
    fs::remove(out);
    fs::rename(big, tree / "voice/big.bin");
    std::string message;
    EXPECT_EQ(PackVol(out.string() + " --tree " + tree.string(), &message), 1);
    EXPECT_NE(message.find((tree / "voice/big.bin").string() + ": 4294967296 bytes; a volume holds files of at most "
                                                               "4,294,967,295 bytes"),
              std::string::npos)
        << message;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(PackVolume, LibraryRefusesInMemoryEntriesOverTheLimits) {
    std::string error;
    std::vector<VolumeEntry> entries(1);
    entries[0].name = std::string(4095, 'n');
    EXPECT_EQ(CheckEntry(entries[0]), "");
    entries[0].name += 'n';
    EXPECT_FALSE(WriteVolume(out.string(), entries, error));
    EXPECT_NE(error.find("name of 4096 bytes"), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(PackVolume, UsageErrors) {
    EXPECT_EQ(PackVol(""), 2);
    EXPECT_EQ(PackVol(out.string()), 2);
    EXPECT_EQ(PackVol(out.string() + " --tree"), 2);
    EXPECT_EQ(PackVol(out.string() + " --tree " + (root.path() / "missing").string()), 1);
    EXPECT_FALSE(fs::exists(out));
}

}  // namespace
