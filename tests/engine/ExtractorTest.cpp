// ExtractVolume and CreateOutputFile against small volumes made by the writer; the platform hook
// watches the job between file operations and injects failures and cancels.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <list>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Extractor.h"
#include "Paths.h"
#include "TestFiles.h"
#include "Texts.h"
#include "VolumeWriter.h"

namespace {

namespace fs = std::filesystem;
using testfiles::ReadFile;
using testfiles::ScratchFolder;
using testfiles::Snapshot;
using testfiles::WriteFile;

constexpr std::uint32_t kMiB = 1024 * 1024;
constexpr std::uint32_t kSmallChunk = 64 * 1024;

// The texts in Big5, written out here independently of Texts.h.
const std::string kReadPrefix = "\xb5\x4c\xaa\x6b\xc5\xaa\xa8\xfa\xb8\xea\xae\xc6\xa5\x5d\x28";
const std::string kBadPrefix = "\xbf\xf9\xbb\x7e\xaa\xba\xb8\xea\xae\xc6\xa5\x5d\x28";
const std::string kSuffix = "\x29\xbd\xd0\xbd\x54\xbb\x7b\xa6\x77\xb8\xcb\xa5\x5d\xac\x4f\xa7\x5f\xa7\xb9\xbe\xe3";
const std::string kWriteText =
    "\xb5\x4c\xaa\x6b\xbc\x67\xa4\x4a\xc0\xc9\xae\xd7\xa1\x41\xbd\xd0\xbd\x54\xbb\x7b\xa5\xd8\xab\x65\xb1\x62\xb8"
    "\xb9\xb9\xef\xa6\x77\xb8\xcb\xa5\xd8\xbf\xfd\xac\x4f\xa7\x5f\xa6\xb3\xbc\x67\xa4\x4a\xc5\x76\xad\xad\xa1\x49";

// A UTF-8 path as the standard library takes it; natively a backslash is no separator there.
fs::path Native(std::string path) {
    for (char& c : path) {
        c = c == '\\' ? '/' : c;
    }
    return testfiles::FromUtf8(path);
}

std::string BigEndian32(std::uint32_t value) {
    return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
            static_cast<char>(value)};
}

// Data whose bytes differ from chunk to chunk, so a chunk written twice or skipped shows.
std::string Pattern(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        data[i] = static_cast<char>((i * 7 + i / 65536) & 0xFF);
    }
    return data;
}

// Every file and folder below the folder, relative, with '/' separators.
std::set<std::string> Listing(const fs::path& folder) {
    std::set<std::string> names;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
        std::string relative = testfiles::ToUtf8(fs::relative(it->path(), folder, error));
        for (char& c : relative) {
            c = c == '\\' ? '/' : c;
        }
        names.insert(relative);
    }
    return names;
}

// What the hook sees: the job's progress before every read and write, and injected events. The hook is
// a plain function, so its state is process-wide; the fixture clears it.
struct HookState {
    InstallJob* job = nullptr;
    std::vector<std::int64_t> beforeRead;
    std::vector<std::int64_t> beforeWrite;
    int creates = 0;
    int folders = 0;
    int removes = 0;
    std::size_t cancelAtRead = SIZE_MAX;   // clears running just before this read (0-based)
    std::size_t cancelAtWrite = SIZE_MAX;  // ... or this write
    bool failWrites = false;
};
HookState hook;

bool Hook(platform::Operation operation, const std::string&) {
    switch (operation) {
        case platform::Operation::Read:
            if (hook.beforeRead.size() == hook.cancelAtRead) {
                Set(hook.job->running, false);
            }
            hook.beforeRead.push_back(hook.job->bytesCopied);
            return false;
        case platform::Operation::Write:
            if (hook.beforeWrite.size() == hook.cancelAtWrite) {
                Set(hook.job->running, false);
            }
            hook.beforeWrite.push_back(hook.job->bytesCopied);
            return hook.failWrites;
        case platform::Operation::CreateForWriting:
            ++hook.creates;
            return false;
        case platform::Operation::MakeFolder:
            ++hook.folders;
            return false;
        case platform::Operation::RemoveFile:
            ++hook.removes;
            return false;
        default:
            return false;
    }
}

class Extractor : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(source);
        fs::create_directories(install);
        setupState.sourceFolder = testfiles::ToUtf8(source);
        setupState.installFolder = testfiles::ToUtf8(install);
        hook = HookState();
    }
    void TearDown() override {
        platform::SetOperationHook(nullptr);
        ForceFallbackBuffer(false);
    }

    // Writes the volume as data1.cab and extracts it with a running job, the hook watching.
    void Extract(InstallJob& job, const std::string& volume) {
        WriteFile(source / "data1.cab", volume);
        Set(job.running, true);
        hook.job = &job;
        platform::SetOperationHook(Hook);
        ExtractVolume("data1.cab", job);
        platform::SetOperationHook(nullptr);
    }

    std::string VolumePath() const { return JoinPath(setupState.sourceFolder, "data1.cab"); }
    std::string BadText() const { return kBadPrefix + VolumePath() + kSuffix; }
    std::string Destination(const std::string& name) const { return JoinPath(setupState.installFolder, name); }

    static void ExpectStopped(const InstallJob& job, const std::string& text) {
        EXPECT_EQ(job.errorText, text);
        EXPECT_TRUE(Get(job.finished));
        EXPECT_FALSE(Get(job.running));
    }
    static void ExpectNotStopped(const InstallJob& job) {
        EXPECT_EQ(job.errorText, "");
        EXPECT_FALSE(Get(job.finished));
    }

    ScratchFolder root;
    const fs::path source = root.path() / "src";
    const fs::path install = root.path() / "inst";
};

TEST_F(Extractor, TextsAreExactBig5) {
    EXPECT_EQ(std::string(kTextReadVolumePrefix), kReadPrefix);
    EXPECT_EQ(std::string(kTextBadVolumePrefix), kBadPrefix);
    EXPECT_EQ(std::string(kTextVolumeSuffix), kSuffix);
    EXPECT_EQ(std::string(kTextWriteFailed), kWriteText);
    EXPECT_EQ(kReadPrefix.size(), 15u);
    EXPECT_EQ(kBadPrefix.size(), 13u);
    EXPECT_EQ(kSuffix.size(), 21u);
    EXPECT_EQ(kWriteText.size(), 54u);
}

TEST_F(Extractor, ExtractsRecordsInOrderAndMakesFolders) {
    InstallJob job;
    const std::string name5 = "\xe8\xaa\x9e\xe9\x9f\xb3\\c.ogg";  // 語音\c.ogg
    Extract(job, EncodeRecord("readme.txt", "hello") + EncodeRecord("voice\\en\\a.ogg", Pattern(3000)) +
                     EncodeRecord("voice/jp/b.ogg", "b") + EncodeRecord("empty.dat", "") + EncodeRecord(name5, "c"));
    ExpectNotStopped(job);
    EXPECT_TRUE(Get(job.running));
    const std::map<std::string, std::string> expected = {
        {"readme.txt", "hello"}, {"voice/en/a.ogg", Pattern(3000)},       {"voice/jp/b.ogg", "b"},
        {"empty.dat", ""},       {"\xe8\xaa\x9e\xe9\x9f\xb3/c.ogg", "c"},
    };
    EXPECT_EQ(Snapshot(install), expected);
    const std::list<std::string> created = {Destination("readme.txt"), Destination("voice\\en\\a.ogg"),
                                            Destination("voice/jp/b.ogg"), Destination("empty.dat"),
                                            Destination(name5)};
    EXPECT_EQ(job.createdFiles, created);
    EXPECT_EQ(job.bytesCopied, 5 + 3000 + 1 + 0 + 1);
    EXPECT_EQ(job.currentFile, name5);
    EXPECT_TRUE(job.keptFiles.empty());
}

TEST_F(Extractor, VolumeEndsWhereFewerThanFourBytesRemain) {
    const std::string strays[] = {"", "\x01", std::string(2, '\0'), "\xff\xff\xff"};
    for (const std::string& stray : strays) {
        for (bool withRecord : {false, true}) {
            SCOPED_TRACE(std::to_string(stray.size()) + " stray bytes, record " + std::to_string(withRecord));
            fs::remove_all(install);
            fs::create_directories(install);
            InstallJob job;
            Extract(job, (withRecord ? EncodeRecord("a.txt", "abc") : std::string()) + stray);
            ExpectNotStopped(job);
            EXPECT_TRUE(Get(job.running));
            EXPECT_EQ(Snapshot(install).size(), withRecord ? 1u : 0u);
            EXPECT_EQ(job.bytesCopied, withRecord ? 3 : 0);
        }
    }
}

TEST_F(Extractor, MalformedRecordsStopTheJob) {
    const std::string good = EncodeRecord("good.txt", "12345");
    struct Case {
        const char* what;
        std::string bytes;  // follows a good record
    } cases[] = {
        {"nameLength 0", BigEndian32(0) + BigEndian32(0)},
        {"nameLength 4097", BigEndian32(4097) + std::string(4096, 'n') + '\0' + BigEndian32(0)},
        {"nameLength 0xFFFFFFFF", BigEndian32(0xFFFFFFFF) + "x"},
        {"name not zero-ended", BigEndian32(3) + "abc" + BigEndian32(0)},
        {"volume ends inside the name", BigEndian32(10) + "abc"},
        {"volume ends inside dataLength", BigEndian32(2) + std::string("a\0", 2) + std::string("\0\0", 2)},
        {"volume ends after the name", BigEndian32(2) + std::string("a\0", 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(install);
        fs::create_directories(install);
        hook = HookState();
        InstallJob job;
        Extract(job, good + c.bytes);
        ExpectStopped(job, BadText());
        EXPECT_EQ(Listing(install), std::set<std::string>{"good.txt"});
        EXPECT_EQ(job.createdFiles, std::list<std::string>{Destination("good.txt")});
        EXPECT_EQ(job.bytesCopied, 5);
        EXPECT_EQ(hook.creates, 1);
    }
}

TEST_F(Extractor, VolumeEndingInsideDataDeletesThePartialFile) {
    {
        InstallJob job;
        Extract(job, EncodeRecord("part.bin", Pattern(100)).substr(0, 4 + 9 + 4 + 50));
        ExpectStopped(job, BadText());
        EXPECT_TRUE(Snapshot(install).empty());
        EXPECT_EQ(job.createdFiles, std::list<std::string>{Destination("part.bin")});
        EXPECT_EQ(job.bytesCopied, 0);  // a failed record's batch is not counted
    }
    {
        // Many small chunks: the batch already counted stays counted, the rest of the record is not.
        ForceFallbackBuffer(true);
        InstallJob job;
        Extract(job, EncodeRecord("part.bin", Pattern(20 * kSmallChunk)).substr(0, 4 + 9 + 4 + 19 * kSmallChunk));
        ExpectStopped(job, BadText());
        EXPECT_TRUE(Snapshot(install).empty());
        EXPECT_EQ(job.bytesCopied, 17 * kSmallChunk);
    }
    {
        // A discarded record has no file of its own, so nothing is deleted.
        hook = HookState();
        InstallJob job;
        const std::string volume = EncodeRecord("Bin\\den.dat", "0123456789");
        Extract(job, volume.substr(0, volume.size() - 3));
        ExpectStopped(job, BadText());
        EXPECT_EQ(hook.removes, 0);
        EXPECT_TRUE(job.createdFiles.empty());
    }
}

TEST_F(Extractor, NameLength4096IsAccepted) {
    {
        // 4095 bytes of name; the platform names the file by the bytes before the inner zero byte.
        const std::string name = "a.txt" + std::string(1, '\0') + std::string(4089, 'x');
        ASSERT_EQ(name.size(), 4095u);
        ASSERT_EQ(EncodeRecord(name, "").substr(0, 4), BigEndian32(4096));
        InstallJob job;
        Extract(job, EncodeRecord(name, "data"));
        ExpectNotStopped(job);
        EXPECT_EQ(job.currentFile, name);
        EXPECT_EQ(Snapshot(install), (std::map<std::string, std::string>{{"a.txt", "data"}}));
        EXPECT_EQ(job.bytesCopied, 4);
    }
    {
        // One component of 4095 bytes: no file system takes it (NTFS and ext4 stop at 255), so the
        // record is read in full and then fails as a file that cannot be written, on both platforms.
        const std::string name(4095, 'n');
        InstallJob job;
        Extract(job, EncodeRecord(name, "data"));
        ExpectStopped(job, kWriteText);
        EXPECT_EQ(job.currentFile, name);
        EXPECT_TRUE(job.createdFiles.empty());
    }
}

TEST_F(Extractor, SideFileNamesAreDiscardedOnlyWhenTheyMatchExactly) {
    struct Case {
        std::string name;
        const char* file;  // the file extracted for it, or null when it is discarded
    } cases[] = {
        {"Bin\\Launch.INI", nullptr},
        {"BIN/DEN.DAT", nullptr},
        {"bin\\den.dat", nullptr},
        {"./bin/den.dat", "bin/den.dat"},
        {"bin//den.dat", "bin/den.dat"},
        {"bin/launch.ini.bak", "bin/launch.ini.bak"},
#ifdef _WIN32
        // Win32 drops trailing spaces from a file name, so the space reaches the file system as nothing.
        {"bin\\den.dat ", "bin/den.dat"},
#else
        {"bin\\den.dat ", "bin/den.dat "},
#endif
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(install);
        fs::create_directories(install);
        InstallJob job;
        Extract(job, EncodeRecord(c.name, "side file") + EncodeRecord("after.txt", "x"));
        ExpectNotStopped(job);
        EXPECT_EQ(job.bytesCopied, 10);
        std::map<std::string, std::string> expected = {{"after.txt", "x"}};
        std::list<std::string> created = {Destination("after.txt")};
        if (c.file != nullptr) {
            expected[c.file] = "side file";
            created.push_front(Destination(c.name));
        }
        EXPECT_EQ(Snapshot(install), expected);
        EXPECT_EQ(job.createdFiles, created);
    }
    // The discarded record is still the current file while it is read.
    InstallJob job;
    Extract(job, EncodeRecord("BIN/DEN.DAT", "x"));
    EXPECT_EQ(job.currentFile, "BIN/DEN.DAT");
}

TEST_F(Extractor, FilesThatCannotBeWrittenStopTheJob) {
    WriteFile(install / "blocker", "a file where a folder should be");
    struct Case {
        const char* what;
        std::string name;
        bool failWrites;
    } cases[] = {
        // The destination is the install folder itself with a backslash added.
        {"empty name", "", false},
        {"folder blocked by a file", "blocker\\sub\\a.txt", false},
        {"destination is a folder", "blocker2", false},
        {"write fails", "w.txt", true},
    };
    fs::create_directories(install / "blocker2");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallJob job;
        hook.failWrites = c.failWrites;
        Extract(job, EncodeRecord(c.name, "data") + EncodeRecord("never.txt", ""));
        ExpectStopped(job, kWriteText);
        EXPECT_EQ(job.currentFile, c.name);
        EXPECT_EQ(Listing(install), (std::set<std::string>{"blocker", "blocker2"}));
        EXPECT_EQ(job.bytesCopied, 0);
        // A file created before the failing write stays recorded for the roll-back.
        EXPECT_EQ(job.createdFiles.size(), c.failWrites ? 1u : 0u);
    }
}

TEST_F(Extractor, MissingDriveGivesTheWriteText) {
    // Natively "Q:" is a relative folder name that does not exist; under Windows it is a drive letter.
    if (platform::PathExists("Q:\\")) {
        GTEST_SKIP() << "Q: exists here";
    }
    setupState.installFolder = "Q:\\Games";
    InstallJob job;
    Extract(job, EncodeRecord("voice\\a.ogg", "data"));
    ExpectStopped(job, kWriteText);
    EXPECT_FALSE(platform::PathExists("Q:"));
}

TEST_F(Extractor, LargeRecordMovesInWholeBufferChunks) {
    const std::string data = Pattern(10 * kMiB);
    InstallJob job;
    Extract(job, EncodeRecord("big.bin", data));
    ExpectNotStopped(job);
    // Three header reads, chunks of 4, 4 and 2 MiB, then the read that finds the end.
    const std::vector<std::int64_t> reads = {0, 0, 0, 0, 4 * kMiB, 8 * kMiB, 10 * kMiB};
    const std::vector<std::int64_t> writes = {0, 4 * kMiB, 8 * kMiB};
    EXPECT_EQ(hook.beforeRead, reads);
    EXPECT_EQ(hook.beforeWrite, writes);
    EXPECT_EQ(job.bytesCopied, 10 * kMiB);
    EXPECT_TRUE(ReadFile(install / "big.bin") == data);
}

TEST_F(Extractor, FallbackBufferCountsProgressEverySeventeenthChunk) {
    ForceFallbackBuffer(true);
    const std::string data = Pattern(40 * kSmallChunk + 100);
    InstallJob job;
    Extract(job, EncodeRecord("big.bin", data));
    ExpectNotStopped(job);
    ASSERT_EQ(hook.beforeWrite.size(), 41u);
    for (std::size_t k = 0; k < hook.beforeWrite.size(); ++k) {
        EXPECT_EQ(hook.beforeWrite[k], std::int64_t{17} * kSmallChunk * static_cast<std::int64_t>(k / 17)) << k;
    }
    EXPECT_EQ(job.bytesCopied, static_cast<std::int64_t>(data.size()));
    EXPECT_TRUE(ReadFile(install / "big.bin") == data);
}

TEST_F(Extractor, CancelKeepsWhatWasWritten) {
    const std::string first = Pattern(5 * kSmallChunk);
    const std::string volume = EncodeRecord("one.bin", first) + EncodeRecord("two.bin", "second");
    struct Case {
        const char* what;
        bool fallback;
        std::size_t cancelAtRead;
        std::size_t cancelAtWrite;
        std::map<std::string, std::string> files;
        std::int64_t bytesCopied;
    } cases[] = {
        // one.bin is one 4 MiB chunk: its only write completes it, and two.bin is never begun.
        {"before a record", false, SIZE_MAX, 0, {{"one.bin", first}}, 5 * kSmallChunk},
        // Read 6 is two.bin's dataLength: the cancel is seen before its first chunk, when its file
        // already exists, empty.
        {"during a header", false, 6, SIZE_MAX, {{"one.bin", first}, {"two.bin", ""}}, 5 * kSmallChunk},
        // The third of five chunks is still written; the part written stays, counted and recorded.
        {"during a record", true, SIZE_MAX, 2, {{"one.bin", first.substr(0, 3 * kSmallChunk)}}, 3 * kSmallChunk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(install);
        fs::create_directories(install);
        ForceFallbackBuffer(c.fallback);
        hook = HookState();
        hook.cancelAtRead = c.cancelAtRead;
        hook.cancelAtWrite = c.cancelAtWrite;
        InstallJob job;
        Extract(job, volume);
        ExpectNotStopped(job);
        EXPECT_FALSE(Get(job.running));
        EXPECT_EQ(Snapshot(install), c.files);
        EXPECT_EQ(job.createdFiles.size(), c.files.size());
        EXPECT_EQ(job.createdFiles.front(), Destination("one.bin"));
        EXPECT_EQ(job.bytesCopied, c.bytesCopied);
        EXPECT_EQ(hook.removes, 0);
    }
}

TEST_F(Extractor, LaterRecordReplacesEarlierOne) {
    InstallJob job;
    Extract(job, EncodeRecord("a.txt", "first, longer") + EncodeRecord("a.txt", "second"));
    ExpectNotStopped(job);
    EXPECT_EQ(Snapshot(install), (std::map<std::string, std::string>{{"a.txt", "second"}}));
    EXPECT_EQ(job.createdFiles, (std::list<std::string>{Destination("a.txt"), Destination("a.txt")}));
    EXPECT_TRUE(job.keptFiles.empty());  // the first file was the run's own
}

TEST_F(Extractor, FileFromBeforeTheRunIsKeptAside) {
    struct Case {
        std::string name;
        const char* file;
    } cases[] = {
        {"a.txt", "a.txt"},
        {"Voice\\b.txt", "Voice/b.txt"},
        // The name reaches the file before its inner zero byte, which is the one to keep.
        {std::string("z.txt\0tail", 10), "z.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        fs::remove_all(install);
        WriteFile(install / c.file, "from before");
        InstallJob job;
        Extract(job, EncodeRecord(c.name, "new"));
        ExpectNotStopped(job);
        EXPECT_EQ(ReadFile(install / c.file), "new");
        ASSERT_EQ(job.keptFiles.size(), 1u);
        EXPECT_EQ(job.keptFiles.front().originalPath, Destination(c.name.substr(0, c.name.find('\0'))));
        EXPECT_EQ(ReadFile(Native(job.keptFiles.front().keptPath)), "from before");
    }
}

TEST_F(Extractor, MissingVolumeGivesTheReadTextWithItsPath) {
    InstallJob job;
    Set(job.running, true);
    ExtractVolume("data9.cab", job);
    const std::string path = setupState.sourceFolder + "\\data9.cab";
    ExpectStopped(job, kReadPrefix + path + kSuffix);
    EXPECT_EQ(job.errorText.size(), 15 + path.size() + 21);
    EXPECT_TRUE(job.createdFiles.empty());
    EXPECT_TRUE(Listing(install).empty());
}

TEST_F(Extractor, UnsafeNamesAreRefusedBeforeAnythingIsCreated) {
    const std::string names[] = {
        "..\\x.txt",
        "../x.txt",
        "..",
        "a/../../x.txt",
        "a\\.. \\x.txt",
        "a\\...\\x.txt",
        "a\\. .\\x.txt",
        "C:\\x.txt",
        "a.txt:stream",
        "a:b\\c.txt",
        ":",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        hook = HookState();
        InstallJob job;
        Extract(job, EncodeRecord(name, "escaped"));
        ExpectStopped(job, BadText());
        EXPECT_EQ(hook.creates, 0);
        EXPECT_EQ(hook.folders, 0);
        EXPECT_EQ(Listing(root.path()), (std::set<std::string>{"inst", "src", "src/data1.cab"}));
        EXPECT_TRUE(job.createdFiles.empty());
    }
}

TEST_F(Extractor, FailureRaisesFinishedBeforeClearingRunning) {
    // A watcher on another thread: once it sees running clear, finished and the text must be there.
    for (int round = 0; round < 50; ++round) {
        InstallJob job;
        Set(job.running, true);
        const std::string expected = kReadPrefix + VolumePath() + kSuffix;
        std::atomic<bool> ok{false};
        std::thread watcher([&] {
            while (Get(job.running)) {
            }
            ok = Get(job.finished) && job.errorText == expected;
        });
        ExtractVolume("data1.cab", job);  // no volume was written: the read text
        watcher.join();
        ASSERT_TRUE(ok) << "round " << round;
    }
}

TEST_F(Extractor, CreateOutputFileMakesMissingFoldersOnlyAfterAFailure) {
    hook = HookState();
    platform::SetOperationHook(Hook);
    const platform::FileHandle existing = CreateOutputFile(Destination("x.txt"));
    EXPECT_EQ(hook.folders, 0);
    const platform::FileHandle nested = CreateOutputFile(Destination("d1\\d2/y.txt"));
    platform::SetOperationHook(nullptr);
    ASSERT_NE(existing, platform::kInvalidFile);
    ASSERT_NE(nested, platform::kInvalidFile);
    platform::CloseFile(existing);
    platform::CloseFile(nested);
    EXPECT_EQ(hook.creates, 3);
    EXPECT_GE(hook.folders, 2);
    EXPECT_EQ(Listing(install), (std::set<std::string>{"x.txt", "d1", "d1/d2", "d1/d2/y.txt"}));
}

}  // namespace
