// The install worker on a real thread, driven through its job the way the copy page drives it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Paths.h"
#include "Platform.h"
#include "SetupState.h"
#include "TestFiles.h"
#include "Texts.h"
#include "VolumeWriter.h"
#include "Worker.h"

namespace {

using testfiles::ScratchFolder;
using Files = std::map<std::string, std::string>;  // path relative to the install folder, '/' separated
using Clock = std::chrono::steady_clock;
using platform::Operation;

constexpr auto kRunTimeout = std::chrono::seconds(120);

struct Record {
    std::string name;
    std::string data;
};

// What lies beside the setup program on the two discs.
struct Discs {
    std::array<std::vector<Record>, 6> volumes;
    std::array<std::string, 6> damage;  // raw bytes after a volume's records: a record cut short
    std::optional<std::string> denDat;
    std::optional<std::string> launchIni;
};

std::string VolumeName(std::size_t index) {
    return "data" + std::to_string(index + 1) + ".cab";
}

std::string Relative(std::string name) {
    for (char& c : name) {
        if (c == '\\') {
            c = '/';
        }
    }
    return name;
}

bool IsSideFileEntry(const std::string& name) {
    std::string folded = Relative(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 0x20);
        }
    }
    return folded == "bin/den.dat" || folded == "bin/launch.ini";
}

void WriteDisc(const ScratchFolder& source, const Discs& discs, std::size_t disc) {
    for (std::size_t i = disc * 3; i < disc * 3 + 3; ++i) {
        std::string bytes;
        for (const Record& record : discs.volumes[i]) {
            bytes += EncodeRecord(record.name, record.data);
        }
        testfiles::WriteFile(source / VolumeName(i), bytes + discs.damage[i]);
    }
    if (disc == 0 && discs.denDat) {
        testfiles::WriteFile(source / "den.dat", *discs.denDat);
    }
    if (disc == 0 && discs.launchIni) {
        testfiles::WriteFile(source / "launch.ini", *discs.launchIni);
    }
}

void Seed(const ScratchFolder& install, const Files& files) {
    for (const auto& [path, bytes] : files) {
        testfiles::WriteFile(install / path, bytes);
    }
}

// The folder after a complete run: the earlier files, each replaced by the last record of its name,
// and the two side files. A run whose volume `cutVolume` ended early lacks that volume's records from
// `cutRecord` on; `skippedSide` names a side file that was not copied.
Files InstalledFiles(const Files& earlier,
                     const Discs& discs,
                     int cutVolume = -1,
                     std::size_t cutRecord = 0,
                     const std::string& skippedSide = "") {
    Files files = earlier;
    for (std::size_t v = 0; v < 6; ++v) {
        for (std::size_t r = 0; r < discs.volumes[v].size(); ++r) {
            if (static_cast<int>(v) == cutVolume && r >= cutRecord) {
                break;
            }
            const Record& record = discs.volumes[v][r];
            if (!IsSideFileEntry(record.name)) {
                files[Relative(record.name)] = record.data;
            }
        }
    }
    if (discs.denDat && skippedSide != "Bin/den.dat") {
        files["Bin/den.dat"] = *discs.denDat;
    }
    if (discs.launchIni && skippedSide != "Bin/launch.ini") {
        files["Bin/launch.ini"] = *discs.launchIni;
    }
    return files;
}

// The voice pack over a game folder that already holds some of its files: entries that replace
// earlier files (one of them twice, once per disc), new folders, a new path recorded twice, empty
// records and an empty volume, the two reserved side-file names, and a den.dat of two read chunks.
Discs GameDiscs() {
    Discs discs;
    discs.volumes[0] = {{"Voice\\v01.wav", "new voice 01"},
                        {"Voice\\v02.wav", "voice 02, first take"},
                        {"Speech\\Sub\\n1.ogg", "speech n1"},
                        {"bin\\den.dat", "den inside the volume"},
                        {"Voice\\empty.wav", ""}};
    discs.volumes[1] = {{"Speech\\Sub\\n2.ogg", "speech n2"},
                        {"Voice\\new3.wav", "new3, first take"},
                        {"Voice\\new3.wav", "new3, second take"}};
    discs.volumes[2] = {{"Speech\\n3.ogg", "speech n3"}};
    discs.volumes[3] = {{"Voice\\v02.wav", "voice 02, second take"},
                        {"BIN/Launch.INI", "launch inside the volume"},
                        {"Voice\\v04.wav", "new voice 04"}};
    discs.volumes[5] = {{"Voice\\v06.wav", "new voice 06"}, {"Speech\\Sub\\n6.ogg", "speech n6"}};
    std::string den(40000, '\0');
    for (std::size_t i = 0; i < den.size(); ++i) {
        den[i] = static_cast<char>(i * 7 + 3);
    }
    discs.denDat = den;
    discs.launchIni = "[launch]\r\nvoice=1\r\n";
    return discs;
}

// The game as installed before the run; every content is unique, so a moved file is recognised.
Files GameFolder() {
    return {{"Game.exe", "game program"},
            {"Bin/den.dat", "den of the game"},
            {"Bin/launch.ini", "[launch]\r\nvoice=0\r\n"},
            {"Voice/v01.wav", "old voice 01"},
            {"Voice/v02.wav", "old voice 02"},
            {"Save/slot1.sav", "saved game"},
            // The user's own file under the name the run would first move Voice\v02.wav to.
            {"Voice/v02.wav.setup-kept", "the user's own file"}};
}

void UseFolders(const ScratchFolder& source, const ScratchFolder& install) {
    setupState.sourceFolder = source.utf8();
    setupState.installFolder = install.utf8();
    setupState.installSucceeded = false;
}

// One platform operation as the worker asked for it; paths below the two folders are written
// "S:" or "I:" followed by the rest, so runs in different folders compare.
struct Op {
    Operation operation;
    std::string path;
    std::int32_t phase;
    bool onWorker;
    Clock::time_point when;
};

// Watches every platform operation while it lives; `decide` (on the calling thread, before the
// operation) says whether the operation fails.
class OperationLog {
public:
    using Decide = std::function<bool(std::size_t index, const Op& op)>;

    OperationLog(const InstallJob* job, Decide decide = {}) : job_(job), decide_(std::move(decide)) {
        source_ = setupState.sourceFolder;
        install_ = setupState.installFolder;
        active = this;
        platform::SetOperationHook(&Hook);
    }
    ~OperationLog() {
        platform::SetOperationHook(nullptr);
        active = nullptr;
    }
    OperationLog(const OperationLog&) = delete;
    OperationLog& operator=(const OperationLog&) = delete;

    std::vector<Op> Ops() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return ops_;
    }

private:
    static bool Hook(Operation operation, const std::string& path) { return active->Observe(operation, path); }

    bool Observe(Operation operation, const std::string& path) {
        Op op{operation, Shorten(path), job_ ? job_->phase.load(std::memory_order_acquire) : 0,
              std::this_thread::get_id() != testThread_, Clock::now()};
        std::size_t index = 0;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            index = ops_.size();
            ops_.push_back(op);
        }
        return decide_ && decide_(index, op);
    }

    std::string Shorten(const std::string& path) const {
        for (const auto& [folder, tag] : {std::pair(install_, "I:"), std::pair(source_, "S:")}) {
            if (path.compare(0, folder.size(), folder) == 0 &&
                (path.size() == folder.size() || IsSeparator(path[folder.size()]))) {
                return tag + path.substr(std::min(path.size(), folder.size() + 1));
            }
        }
        return path;
    }

    static inline OperationLog* active = nullptr;
    const InstallJob* job_;
    Decide decide_;
    std::string source_;
    std::string install_;
    std::thread::id testThread_ = std::this_thread::get_id();
    mutable std::mutex mutex_;
    std::vector<Op> ops_;
};

// The copy page's start: every field it resets, then the worker on its own thread.
void StartLikeCopyPage(InstallJob& job) {
    Set(job.finished, false);
    Set(job.running, true);
    Set(job.waitingForDisc, false);
    {
        platform::LockGuard guard(job.lock);
        job.currentFile.clear();
        job.bytesCopied = 0;
    }
    job.volumes.clear();
    for (std::size_t i = 0; i < 6; ++i) {
        job.volumes.push_back(VolumeName(i));
    }
    job.phase.store(0, std::memory_order_release);
    ASSERT_TRUE(StartInstallWorker(job));
}

// The copy page's polls until the worker has ended. `discPrompt` answers the second-disc prompt
// (by default the disc is there at once: the flag is cleared).
void PlayCopyPage(InstallJob& job, const std::function<void()>& discPrompt = {}) {
    const auto deadline = Clock::now() + kRunTimeout;
    bool prompted = false;
    std::int64_t lastBytes = 0;
    while (!Get(job.finished)) {
        if (!prompted && Get(job.waitingForDisc) && Get(job.running)) {
            prompted = true;
            if (discPrompt) {
                discPrompt();
            } else {
                Set(job.waitingForDisc, false);
            }
        }
        {
            platform::LockGuard guard(job.lock);
            EXPECT_GE(job.bytesCopied, lastBytes);
            lastBytes = job.bytesCopied;
        }
        ASSERT_LT(Clock::now(), deadline) << "the worker did not finish";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // finished can come before the roll-back; the page waits for the thread itself.
    ASSERT_TRUE(platform::WaitForThread(job.worker, 120000)) << "the worker thread did not end";
}

std::string ReadText(std::size_t volume) {
    return kTextReadVolumePrefix + JoinPath(setupState.sourceFolder, VolumeName(volume)) + kTextVolumeSuffix;
}

std::string BadText(std::size_t volume) {
    return kTextBadVolumePrefix + JoinPath(setupState.sourceFolder, VolumeName(volume)) + kTextVolumeSuffix;
}

std::vector<std::string> InstallPaths(const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    for (const std::string& name : names) {
        paths.push_back(JoinPath(setupState.installFolder, name));
    }
    return paths;
}

std::vector<std::string> Created(const InstallJob& job) {
    return std::vector<std::string>(job.createdFiles.begin(), job.createdFiles.end());
}

bool Saw(const std::vector<Op>& ops, Operation operation, const std::string& path) {
    for (const Op& op : ops) {
        if (op.operation == operation && op.path == path) {
            return true;
        }
    }
    return false;
}

// The differences between two folders, readable even for large files; empty when they are equal.
std::string Differences(const Files& actual, const Files& expected) {
    const auto shown = [](const std::string& bytes) {
        return bytes.size() < 64 ? "\"" + bytes + "\"" : std::to_string(bytes.size()) + " bytes";
    };
    std::string text;
    for (const auto& [path, bytes] : actual) {
        const auto other = expected.find(path);
        if (other == expected.end()) {
            text += "unexpected " + path + " " + shown(bytes) + "; ";
        } else if (other->second != bytes) {
            text += path + " holds " + shown(bytes) + " instead of " + shown(other->second) + "; ";
        }
    }
    for (const auto& [path, bytes] : expected) {
        if (actual.count(path) == 0) {
            text += "missing " + path + "; ";
        }
    }
    return text;
}

// Each earlier file is at its place with its bytes, or moved aside beside it, intact.
std::string LostEarlierFile(const ScratchFolder& install, const Files& earlier) {
    for (const auto& [path, bytes] : earlier) {
        const testfiles::fs::path place = install / path;
        std::error_code error;
        if (testfiles::fs::is_regular_file(place, error) && testfiles::ReadFile(place) == bytes) {
            continue;
        }
        bool kept = false;
        for (const auto& entry : testfiles::fs::directory_iterator(place.parent_path(), error)) {
            if (entry.path() != place && entry.is_regular_file(error) && testfiles::ReadFile(entry.path()) == bytes) {
                kept = true;
                break;
            }
        }
        if (!kept) {
            return path;
        }
    }
    return "";
}

// --- The run's main roads --------------------------------------------------------------------------

TEST(WorkerRun, BothDiscsPresentFromTheStart) {
    ScratchFolder source;
    ScratchFolder install;
    const Discs discs = GameDiscs();
    WriteDisc(source, discs, 0);
    WriteDisc(source, discs, 1);
    UseFolders(source, install);

    InstallJob job;
    OperationLog log(&job);
    // Whoever polls the job is told once, as the worker's last act, with finished already raised.
    struct Told {
        InstallJob* job = nullptr;
        std::atomic<int> calls{0};
        std::atomic<bool> finishedBefore{false};
    } told;
    told.job = &job;
    job.onFinished = [](void* context) {
        auto* t = static_cast<Told*>(context);
        t->finishedBefore.store(Get(t->job->finished));
        t->calls.fetch_add(1);
    };
    job.onFinishedContext = &told;
    StartLikeCopyPage(job);
    PlayCopyPage(job);
    platform::JoinThread(job.worker);
    EXPECT_EQ(told.calls.load(), 1);
    EXPECT_TRUE(told.finishedBefore.load());

    EXPECT_TRUE(setupState.installSucceeded);
    EXPECT_TRUE(Get(job.finished));
    EXPECT_TRUE(Get(job.running));
    EXPECT_FALSE(Get(job.waitingForDisc));  // raised by nobody, so never raised
    EXPECT_EQ(job.errorText, "");
    EXPECT_EQ(job.phase.load(), 1);
    EXPECT_EQ(job.currentFile, "Speech\\Sub\\n6.ogg");
    std::int64_t total = 0;
    for (const auto& volume : discs.volumes) {
        for (const Record& record : volume) {
            total += static_cast<std::int64_t>(record.data.size());
        }
    }
    EXPECT_EQ(job.bytesCopied, total);  // the discarded side-file records count too
    EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), InstalledFiles({}, discs)), "");
    EXPECT_EQ(Created(job), InstallPaths({"Voice\\v01.wav", "Voice\\v02.wav", "Speech\\Sub\\n1.ogg", "Voice\\empty.wav",
                                          "Speech\\Sub\\n2.ogg", "Voice\\new3.wav", "Voice\\new3.wav", "Speech\\n3.ogg",
                                          "Bin\\den.dat", "Bin\\launch.ini", "Voice\\v02.wav", "Voice\\v04.wav",
                                          "Voice\\v06.wav", "Speech\\Sub\\n6.ogg"}));

    // The first disc and the side files in phase 0, the second disc in phase 1, all on the worker.
    for (const Op& op : log.Ops()) {
        EXPECT_TRUE(op.onWorker);
        if (op.operation == Operation::OpenForReading) {
            const bool secondDisc = op.path == "S:data4.cab" || op.path == "S:data5.cab" || op.path == "S:data6.cab";
            EXPECT_EQ(op.phase, secondDisc ? 1 : 0) << op.path;
        }
    }
}

TEST(WorkerRun, SecondDiscAfterAWait) {
    ScratchFolder source;
    ScratchFolder install;
    const Discs discs = GameDiscs();
    WriteDisc(source, discs, 0);
    UseFolders(source, install);

    InstallJob job;
    OperationLog log(&job);
    Clock::time_point cleared;
    std::size_t opsWhenPrompted = 0;
    StartLikeCopyPage(job);
    PlayCopyPage(job, [&] {
        opsWhenPrompted = log.Ops().size();
        EXPECT_EQ(job.phase.load(), 0);
        // The user takes a while to change discs; the worker keeps sleeping meanwhile.
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_EQ(log.Ops().size(), opsWhenPrompted) << "the worker touched files while it waited";
        EXPECT_EQ(job.phase.load(), 0);
        WriteDisc(source, discs, 1);
        EXPECT_TRUE(VolumesPresent(job, false));  // the page's own test, while the worker sleeps
        cleared = Clock::now();
        Set(job.waitingForDisc, false);
    });

    EXPECT_TRUE(setupState.installSucceeded);
    EXPECT_EQ(job.errorText, "");
    EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), InstalledFiles({}, discs)), "");
    const std::vector<Op> ops = log.Ops();
    ASSERT_GT(ops.size(), opsWhenPrompted);
    std::optional<Clock::time_point> resumed;
    for (const Op& op : ops) {
        if (op.onWorker && op.operation == Operation::OpenForReading && op.path == "S:data4.cab") {
            resumed = op.when;
            EXPECT_EQ(op.phase, 1);
        }
    }
    ASSERT_TRUE(resumed.has_value());
    // One sleep of 1000 ms at most, with room for a busy machine's scheduling.
    const auto resumeDelay = std::chrono::duration_cast<std::chrono::milliseconds>(*resumed - cleared);
    EXPECT_LE(resumeDelay.count(), 1000 + 300);
}

TEST(WorkerRun, CancelWhileWaitingForTheSecondDisc) {
    ScratchFolder source;
    ScratchFolder install;
    const Discs discs = GameDiscs();
    WriteDisc(source, discs, 0);
    const Files earlier = GameFolder();
    Seed(install, earlier);
    UseFolders(source, install);

    InstallJob job;
    OperationLog log(&job);
    Clock::time_point cancelled;
    StartLikeCopyPage(job);
    PlayCopyPage(job, [&] {
        cancelled = Clock::now();
        Set(job.running, false);  // the user gives up; the prompt leaves waitingForDisc set
    });
    const auto ended = Clock::now();

    EXPECT_FALSE(setupState.installSucceeded);
    EXPECT_EQ(job.errorText, "");
    EXPECT_EQ(job.phase.load(), 1);
    EXPECT_LE(std::chrono::duration_cast<std::chrono::milliseconds>(ended - cancelled).count(), 1000 + 500);
    const std::vector<Op> ops = log.Ops();
    EXPECT_FALSE(Saw(ops, Operation::OpenForReading, "S:data4.cab"));
    EXPECT_TRUE(Saw(ops, Operation::OpenForReading, "S:launch.ini"));
    const std::vector<std::string> created = Created(job);
    ASSERT_FALSE(created.empty());
    EXPECT_EQ(created.back(), JoinPath(setupState.installFolder, "Bin\\launch.ini"));
    EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), earlier), "");
}

TEST(WorkerRun, StopOnTheFirstDisc) {
    struct Case {
        const char* what;
        bool cancel;  // else a record of data2 is cut short inside its data
        bool secondDiscPresent;
    } cases[] = {
        {"cancel, second disc present", true, true},
        {"cancel, second disc missing", true, false},
        {"failure, second disc present", false, true},
        {"failure, second disc missing", false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder source;
        ScratchFolder install;
        Discs discs = GameDiscs();
        // Two chunks, so a cancel after the first leaves a partial file behind for the roll-back.
        discs.volumes[1].insert(discs.volumes[1].begin(), Record{"Voice\\big.wav", std::string(5u << 20, 'b')});
        if (!c.cancel) {
            const std::string record = EncodeRecord("Voice\\cut.wav", "these bytes are cut short");
            discs.damage[1] = record.substr(0, record.size() - 5);
        }
        WriteDisc(source, discs, 0);
        if (c.secondDiscPresent) {
            WriteDisc(source, discs, 1);
        }
        const Files earlier = GameFolder();
        Seed(install, earlier);
        UseFolders(source, install);

        InstallJob job;
        std::atomic<bool> partialSeen{false};
        OperationLog log(&job, [&](std::size_t, const Op& op) {
            if (c.cancel && op.operation == Operation::Write && op.path.empty() &&
                testfiles::fs::exists(install / "Voice/big.wav") && !partialSeen.exchange(true)) {
                Set(job.running, false);  // the first chunk of big.wav is about to be written
            }
            return false;
        });
        StartLikeCopyPage(job);
        PlayCopyPage(job, [] { ADD_FAILURE() << "the page must not be asked for the disc after a stop"; });

        EXPECT_FALSE(setupState.installSucceeded);
        EXPECT_EQ(job.errorText, c.cancel ? "" : BadText(1));
        EXPECT_EQ(job.phase.load(), 1);
        EXPECT_FALSE(Get(job.running));
        EXPECT_EQ(Get(job.waitingForDisc), !c.secondDiscPresent);
        const std::vector<Op> ops = log.Ops();
        EXPECT_FALSE(Saw(ops, Operation::OpenForReading, "S:data3.cab"));
        EXPECT_FALSE(Saw(ops, Operation::OpenForReading, "S:den.dat"));
        EXPECT_FALSE(Saw(ops, Operation::OpenForReading, "S:launch.ini"));
        EXPECT_TRUE(Saw(ops, Operation::PathExists, "S:data4.cab"));
        EXPECT_FALSE(Saw(ops, Operation::OpenForReading, "S:data4.cab"));
        const std::vector<std::string> created = Created(job);
        ASSERT_FALSE(created.empty());
        EXPECT_EQ(created.back(), JoinPath(setupState.installFolder, c.cancel ? "Voice\\big.wav" : "Voice\\cut.wav"));
        EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), earlier), "");
    }
}

TEST(WorkerRun, FailureOnTheSecondDisc) {
    ScratchFolder source;
    ScratchFolder install;
    Discs discs = GameDiscs();
    discs.damage[4] = std::string("\0\0\x10\x01", 4);  // a name length of 4097
    WriteDisc(source, discs, 0);
    WriteDisc(source, discs, 1);
    const Files earlier = GameFolder();
    Seed(install, earlier);
    UseFolders(source, install);

    InstallJob job;
    OperationLog log(&job);
    StartLikeCopyPage(job);
    PlayCopyPage(job);

    EXPECT_FALSE(setupState.installSucceeded);
    EXPECT_EQ(job.errorText, BadText(4));
    EXPECT_FALSE(Saw(log.Ops(), Operation::OpenForReading, "S:data6.cab"));
    // Both discs' output and both side files were there, and all of it is gone or put back; the file
    // replaced on each disc holds what it held before the run, not the first disc's take.
    const std::vector<std::string> created = Created(job);
    EXPECT_EQ(created.size(), 12u);
    EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), earlier), "");
}

TEST(WorkerRun, SideFiles) {
    struct Case {
        const char* what;
        std::optional<std::string> denDat;
        std::optional<std::string> launchIni;
        bool denDatIsAFolder;
        std::vector<std::string> sideFilesCreated;
    } cases[] = {
        {"den.dat missing", std::nullopt, "[launch]", false, {"Bin\\launch.ini"}},
        {"den.dat a folder", std::nullopt, "[launch]", true, {"Bin\\launch.ini"}},
        {"both missing", std::nullopt, std::nullopt, false, {}},
        {"an empty launch.ini", "den", "", false, {"Bin\\den.dat", "Bin\\launch.ini"}},
        {"an empty den.dat", "", "[launch]", false, {"Bin\\den.dat", "Bin\\launch.ini"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder source;
        ScratchFolder install;
        Discs discs;
        discs.volumes[0] = {{"Voice\\a.wav", "a"}};
        discs.volumes[3] = {{"Voice\\b.wav", "b"}};
        discs.denDat = c.denDat;
        discs.launchIni = c.launchIni;
        WriteDisc(source, discs, 0);
        WriteDisc(source, discs, 1);
        if (c.denDatIsAFolder) {
            testfiles::fs::create_directory(source / "den.dat");
        }
        UseFolders(source, install);

        InstallJob job;
        StartLikeCopyPage(job);
        PlayCopyPage(job);

        EXPECT_TRUE(setupState.installSucceeded);
        EXPECT_EQ(job.errorText, "");
        std::vector<std::string> expected = {"Voice\\a.wav"};
        expected.insert(expected.end(), c.sideFilesCreated.begin(), c.sideFilesCreated.end());
        expected.push_back("Voice\\b.wav");
        EXPECT_EQ(Created(job), InstallPaths(expected));
        EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), InstalledFiles({}, discs)), "");
    }
}

TEST(WorkerRun, SideFileDestinationRefused) {
    // The game's Bin\den.dat is moved aside, then its replacement cannot be created (a first attempt
    // and the one after the folder walk both fail): the side file is skipped and the game's copy must
    // be back at its name, also when putting it back fails at first.
    for (const bool putBackFails : {false, true}) {
        SCOPED_TRACE(putBackFails ? "put-back fails once" : "put-back works");
        ScratchFolder source;
        ScratchFolder install;
        Discs discs;
        discs.volumes[0] = {{"Voice\\a.wav", "a"}};
        discs.volumes[3] = {{"Voice\\b.wav", "b"}};
        discs.denDat = "new den";
        discs.launchIni = "new launch";
        WriteDisc(source, discs, 0);
        WriteDisc(source, discs, 1);
        const Files earlier = {{"Bin/den.dat", "den of the game"}};
        Seed(install, earlier);
        UseFolders(source, install);

        InstallJob job;
        bool putBackRefused = false;
        OperationLog log(&job, [&](std::size_t, const Op& op) {
            if (op.operation == Operation::CreateForWriting && op.path == "I:Bin\\den.dat") {
                return true;
            }
            if (putBackFails && !putBackRefused && op.operation == Operation::RenameFile &&
                op.path.rfind("I:Bin\\den.dat", 0) == 0 && op.path != "I:Bin\\den.dat") {
                putBackRefused = true;
                return true;
            }
            return false;
        });
        StartLikeCopyPage(job);
        PlayCopyPage(job);

        EXPECT_TRUE(setupState.installSucceeded);
        EXPECT_EQ(job.errorText, "");
        EXPECT_EQ(putBackRefused, putBackFails);
        EXPECT_EQ(Created(job), InstallPaths({"Voice\\a.wav", "Bin\\launch.ini", "Voice\\b.wav"}));
        EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), (Files{{"Bin/den.dat", "den of the game"},
                                                                          {"Bin/launch.ini", "new launch"},
                                                                          {"Voice/a.wav", "a"},
                                                                          {"Voice/b.wav", "b"}})),
                  "");
    }
}

TEST(WorkerRun, PathRecordedTwice) {
    // An earlier file replaced by two records, and a new path recorded twice; once the run succeeds,
    // once it fails after both replacements.
    for (const bool fail : {false, true}) {
        SCOPED_TRACE(fail ? "failed run" : "successful run");
        ScratchFolder source;
        ScratchFolder install;
        Discs discs;
        discs.volumes[0] = {{"Voice\\v01.wav", "first take"}, {"Voice\\n.wav", "new, first take"}};
        discs.volumes[4] = {{"Voice/v01.wav", "second take"}, {"Voice\\n.wav", "new, second take"}};
        if (fail) {
            discs.damage[5] = EncodeRecord("Voice\\late.wav", "late").substr(0, 10);
        }
        WriteDisc(source, discs, 0);
        WriteDisc(source, discs, 1);
        const Files earlier = {{"Voice/v01.wav", "before the run"}};
        Seed(install, earlier);
        UseFolders(source, install);

        InstallJob job;
        StartLikeCopyPage(job);
        PlayCopyPage(job);

        EXPECT_EQ(setupState.installSucceeded, !fail);
        EXPECT_EQ(job.errorText, fail ? BadText(5) : "");
        const std::vector<std::string> twice =
            InstallPaths({"Voice\\v01.wav", "Voice\\n.wav", "Voice/v01.wav", "Voice\\n.wav"});
        EXPECT_EQ(Created(job), twice);
        const Files installed = {{"Voice/v01.wav", "second take"}, {"Voice/n.wav", "new, second take"}};
        EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), fail ? earlier : installed), "");
    }
}

TEST(WorkerVolumesPresent, TestsOneDiscInOrder) {
    struct Case {
        const char* what;
        bool firstDisc;
        std::vector<std::size_t> files;    // volumes present as files
        std::vector<std::size_t> folders;  // volumes present as folders of that name
        bool present;
        std::vector<std::string> probed;
    } cases[] = {
        {"first disc", true, {0, 1, 2}, {}, true, {"S:data1.cab", "S:data2.cab", "S:data3.cab"}},
        {"first disc without data2", true, {0, 2, 3, 4, 5}, {}, false, {"S:data1.cab", "S:data2.cab"}},
        {"second disc", false, {3, 4, 5}, {}, true, {"S:data4.cab", "S:data5.cab", "S:data6.cab"}},
        {"second disc without data4", false, {0, 1, 2, 4, 5}, {}, false, {"S:data4.cab"}},
        {"a folder counts", false, {3, 5}, {4}, true, {"S:data4.cab", "S:data5.cab", "S:data6.cab"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchFolder source;
        ScratchFolder install;
        for (std::size_t i : c.files) {
            testfiles::WriteFile(source / VolumeName(i), "");
        }
        for (std::size_t i : c.folders) {
            testfiles::fs::create_directory(source / VolumeName(i));
        }
        UseFolders(source, install);
        InstallJob job;
        for (std::size_t i = 0; i < 6; ++i) {
            job.volumes.push_back(VolumeName(i));
        }
        OperationLog log(&job);
        EXPECT_EQ(VolumesPresent(job, c.firstDisc), c.present);
        std::vector<std::string> probed;
        for (const Op& op : log.Ops()) {
            EXPECT_EQ(op.operation, Operation::PathExists);
            probed.push_back(op.path);
        }
        EXPECT_EQ(probed, c.probed);
    }
}

// --- Faults at every operation ---------------------------------------------------------------------

// What one failed operation does to a run, by the rules of the run.
enum class Effect {
    None,           // the run succeeds as without the fault
    Fails,          // the run fails with `errorText`; the folder is as before
    SideSkipped,    // a side file is skipped without a word; the game's own copy stays
    VolumeCut,      // a read failure where a record begins ends the volume there, silently
    KeptCopyStays,  // after success, one copy that was moved aside could not be removed
    Waits,          // the worker's presence test misses the second disc and it asks for it
};

struct Prediction {
    Effect effect = Effect::None;
    std::string errorText;
    std::string side;  // SideSkipped: "Bin/den.dat" or "Bin/launch.ini"
    int volume = -1;   // VolumeCut
    std::size_t record = 0;
};

Prediction Only(Effect effect) {
    Prediction p;
    p.effect = effect;
    return p;
}
Prediction FailsWith(std::string text) {
    Prediction p = Only(Effect::Fails);
    p.errorText = std::move(text);
    return p;
}
Prediction Skips(std::string side) {
    Prediction p = Only(Effect::SideSkipped);
    p.side = std::move(side);
    return p;
}
Prediction CutsAt(std::size_t volume, std::size_t record) {
    Prediction p = Only(Effect::VolumeCut);
    p.volume = static_cast<int>(volume);
    p.record = record;
    return p;
}

int VolumeOf(const std::string& path) {
    for (std::size_t i = 0; i < 6; ++i) {
        if (path == "S:" + VolumeName(i)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string SideOf(const std::string& path) {
    if (path == "S:den.dat" || path == "I:Bin\\den.dat") {
        return "Bin/den.dat";
    }
    if (path == "S:launch.ini" || path == "I:Bin\\launch.ini") {
        return "Bin/launch.ini";
    }
    return "";
}

// The failure of the `read`-th read of a volume: its records are read as the name length, the name,
// the data length and the data (one chunk: every record here is smaller than the work buffer), and
// a last read finds the end.
Prediction ReadFailure(const std::vector<Record>& records, std::size_t volume, std::size_t read) {
    std::size_t at = 0;
    for (std::size_t r = 0; r < records.size(); ++r) {
        if (read == at) {
            return CutsAt(volume, r);
        }
        const std::size_t reads = 3 + (records[r].data.empty() ? 0 : 1);
        if (read < at + reads) {
            return FailsWith(BadText(volume));
        }
        at += reads;
    }
    EXPECT_EQ(read, at) << "more reads of " << VolumeName(volume) << " than its records explain";
    return {};  // the read that finds the end: the volume ends either way
}

std::vector<Prediction> Predict(const std::vector<Op>& ops, const Discs& discs) {
    std::size_t lastRead = 0;
    for (std::size_t i = 0; i < ops.size(); ++i) {
        if (ops[i].operation == Operation::Read) {
            lastRead = i;
        }
    }
    std::vector<Prediction> predictions;
    std::string reading;
    std::size_t reads = 0;
    for (std::size_t i = 0; i < ops.size(); ++i) {
        const Op& op = ops[i];
        Prediction p;
        switch (op.operation) {
            case Operation::OpenForReading:
                reading = op.path;
                reads = 0;
                if (VolumeOf(op.path) >= 0) {
                    p = FailsWith(ReadText(static_cast<std::size_t>(VolumeOf(op.path))));
                } else {
                    p = Skips(SideOf(op.path));
                }
                break;
            case Operation::Read:
                if (VolumeOf(reading) >= 0) {
                    const auto volume = static_cast<std::size_t>(VolumeOf(reading));
                    p = ReadFailure(discs.volumes[volume], volume, reads);
                } else {
                    p = FailsWith(kTextWriteFailed);  // a side file's copy breaks off
                }
                ++reads;
                break;
            case Operation::Write:
                p = FailsWith(kTextWriteFailed);
                break;
            case Operation::PathExists:
                if (i > lastRead) {
                    p = Only(Effect::KeptCopyStays);  // the test that a moved copy has its replacement
                    break;
                }
                if (VolumeOf(op.path) >= 0) {
                    p = Only(Effect::Waits);
                    break;
                }
                // Whether the name an earlier file was to be moved to is taken: a wrong "free" means
                // the move failed for good, and the file it was to make room for is not made.
                [[fallthrough]];
            case Operation::CreateForWriting:
            case Operation::MakeFolder:
            case Operation::RenameFile: {
                // A failed first attempt at a file only sends the creation through the folder walk.
                if (op.operation == Operation::CreateForWriting &&
                    (i == 0 || ops[i - 1].operation != Operation::MakeFolder)) {
                    break;
                }
                // A move that failed because its target name is taken goes on to the next name; an
                // injected failure there looks the same and ends the same.
                if (op.operation == Operation::RenameFile && i + 1 < ops.size() &&
                    ops[i + 1].operation == Operation::PathExists && VolumeOf(ops[i + 1].path) < 0) {
                    break;
                }
                // The file that the operation prepares: the next one created.
                std::string target = op.path;
                for (std::size_t j = i; op.operation != Operation::CreateForWriting && j < ops.size(); ++j) {
                    if (ops[j].operation == Operation::CreateForWriting) {
                        target = ops[j].path;
                        break;
                    }
                }
                if (!SideOf(target).empty()) {
                    p = Skips(SideOf(target));
                } else {
                    p = FailsWith(kTextWriteFailed);
                }
                break;
            }
            case Operation::RemoveFile:
                p = Only(Effect::KeptCopyStays);
                break;
        }
        predictions.push_back(p);
    }
    return predictions;
}

// The seeded game folder and the discs for the sweeps, with the record of a run without faults.
class WorkerFaults : public ::testing::Test {
protected:
    void SetUp() override {
        WriteDisc(source_, discs_, 0);
        WriteDisc(source_, discs_, 1);
        ScratchFolder install;
        Seed(install, earlier_);
        UseFolders(source_, install);
        InstallJob job;
        lost_.clear();
        changes_ = false;
        {
            OperationLog log(&job, [&](std::size_t index, const Op& op) {
                CheckNothingLost(install, index, op);
                return false;
            });
            StartLikeCopyPage(job);
            PlayCopyPage(job);
            ops_ = log.Ops();
        }
        ASSERT_TRUE(setupState.installSucceeded);
        ASSERT_EQ(Differences(testfiles::Snapshot(install.path()), installed_), "");
        EXPECT_EQ(lost_, "");
    }

    // Called inside the hook, on the worker, before each operation: were the run killed here, would
    // every earlier file survive, in place or moved aside? A successful run may let them go.
    void CheckNothingLost(const ScratchFolder& install, std::size_t index, const Op& op) {
        // Only the operation before can have changed the folder; checking after each one that can
        // take a name away (writes go to files that were just created) sees every state that matters.
        const bool changedBefore = changes_;
        changes_ = op.operation == Operation::CreateForWriting || op.operation == Operation::RemoveFile ||
                   op.operation == Operation::RenameFile;
        if (changedBefore && !setupState.installSucceeded && lost_.empty()) {
            const std::string lost = LostEarlierFile(install, earlier_);
            if (!lost.empty()) {
                lost_ = lost + " before operation " + std::to_string(index);
            }
        }
    }

    ScratchFolder source_;
    const Discs discs_ = GameDiscs();
    const Files earlier_ = GameFolder();
    const Files installed_ = InstalledFiles(GameFolder(), GameDiscs());
    std::vector<Op> ops_;
    std::string lost_;
    bool changes_ = false;
};

TEST_F(WorkerFaults, WorkerFailsAtEveryOperation) {
    const std::vector<Prediction> predictions = Predict(ops_, discs_);
    std::map<Effect, std::size_t> seen;
    for (std::size_t n = 0; n < ops_.size(); ++n) {
        const Prediction& p = predictions[n];
        SCOPED_TRACE("operation " + std::to_string(n) + " of " + std::to_string(ops_.size()) + ": " +
                     std::to_string(static_cast<int>(ops_[n].operation)) + " " + ops_[n].path);
        ++seen[p.effect];
        ScratchFolder install;
        Seed(install, earlier_);
        UseFolders(source_, install);
        InstallJob job;
        lost_.clear();
        changes_ = false;
        std::vector<Op> ops;
        {
            OperationLog log(&job, [&](std::size_t index, const Op& op) {
                CheckNothingLost(install, index, op);
                return index == n;
            });
            StartLikeCopyPage(job);
            PlayCopyPage(job);
            ops = log.Ops();
        }
        ASSERT_GT(ops.size(), n);
        EXPECT_EQ(ops[n].operation, ops_[n].operation);
        EXPECT_EQ(ops[n].path, ops_[n].path);
        EXPECT_EQ(lost_, "");
        EXPECT_TRUE(Get(job.finished));
        EXPECT_EQ(job.phase.load(), 1);
        const Files after = testfiles::Snapshot(install.path());
        if (p.effect == Effect::Fails) {
            EXPECT_EQ(job.errorText, p.errorText);
            EXPECT_FALSE(Get(job.running));
            EXPECT_FALSE(setupState.installSucceeded);
            EXPECT_EQ(Differences(after, earlier_), "");
            continue;
        }
        EXPECT_EQ(job.errorText, "");
        EXPECT_TRUE(setupState.installSucceeded);
        if (p.effect == Effect::KeptCopyStays) {
            // Everything installed, and one earlier file of a replaced name still beside it.
            Files extra;
            for (const auto& [path, bytes] : after) {
                if (installed_.count(path) == 0) {
                    extra[path] = bytes;
                } else {
                    EXPECT_EQ(bytes, installed_.at(path)) << path;
                }
            }
            EXPECT_EQ(after.size() - extra.size(), installed_.size());
            ASSERT_EQ(extra.size(), 1u);
            bool matched = false;
            for (const auto& [path, bytes] : earlier_) {
                matched = matched || (bytes == extra.begin()->second && installed_.at(path) != bytes &&
                                      testfiles::FromUtf8(path).parent_path() ==
                                          testfiles::FromUtf8(extra.begin()->first).parent_path());
            }
            EXPECT_TRUE(matched) << extra.begin()->first;
            continue;
        }
        EXPECT_EQ(Differences(after, InstalledFiles(earlier_, discs_, p.volume, p.record, p.side)), "");
    }
    EXPECT_GT(seen[Effect::Fails], 0u);
    EXPECT_GT(seen[Effect::SideSkipped], 0u);
    EXPECT_GT(seen[Effect::VolumeCut], 0u);
    EXPECT_GT(seen[Effect::KeptCopyStays], 0u);
    EXPECT_GT(seen[Effect::Waits], 0u);
    EXPECT_GT(seen[Effect::None], 0u);
    std::cout << "fault sweep: " << ops_.size() << " points" << std::endl;
}

TEST_F(WorkerFaults, WorkerCancelledAtEveryOperation) {
    std::size_t lastRead = 0;
    for (std::size_t i = 0; i < ops_.size(); ++i) {
        if (ops_[i].operation == Operation::Read) {
            lastRead = i;
        }
    }
    for (std::size_t n = 0; n < ops_.size(); ++n) {
        SCOPED_TRACE("cancel at operation " + std::to_string(n) + ": " + ops_[n].path);
        ScratchFolder install;
        Seed(install, earlier_);
        UseFolders(source_, install);
        InstallJob job;
        {
            OperationLog log(&job, [&](std::size_t index, const Op&) {
                if (index == n) {
                    Set(job.running, false);
                }
                return false;
            });
            StartLikeCopyPage(job);
            PlayCopyPage(job);
        }
        EXPECT_EQ(job.errorText, "");
        EXPECT_EQ(job.phase.load(), 1);
        // After the last read the run has already succeeded; before it, a cancel rolls it back.
        const bool succeeded = n > lastRead;
        EXPECT_EQ(setupState.installSucceeded, succeeded);
        EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), succeeded ? installed_ : earlier_), "");
    }
    std::cout << "cancel sweep: " << ops_.size() << " points" << std::endl;
}

// --- The job's lifetime ----------------------------------------------------------------------------

TEST(WorkerLifetime, DestroyingTheJobWaitsForASlowRollBack) {
    ScratchFolder source;
    ScratchFolder install;
    const Discs discs = GameDiscs();
    WriteDisc(source, discs, 0);
    WriteDisc(source, discs, 1);
    const Files earlier = GameFolder();
    Seed(install, earlier);
    UseFolders(source, install);

    auto job = std::make_unique<InstallJob>();
    InstallJob* const raw = job.get();
    std::atomic<bool> destroyed{false};
    std::atomic<int> lateOperations{0};
    std::atomic<int> removals{0};
    OperationLog log(nullptr, [&](std::size_t, const Op& op) {
        if (destroyed.load()) {
            ++lateOperations;
        }
        if (op.operation == Operation::OpenForReading && op.path == "S:data3.cab") {
            Set(raw->running, false);
        }
        if (op.operation == Operation::RemoveFile) {
            ++removals;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return false;
    });
    StartLikeCopyPage(*job);
    const auto deadline = Clock::now() + kRunTimeout;
    while (removals.load() == 0) {
        ASSERT_LT(Clock::now(), deadline);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The page gives up waiting for the worker; the job goes regardless.
    EXPECT_FALSE(platform::WaitForThread(job->worker, 10));
    job.reset();
    destroyed = true;

    EXPECT_EQ(lateOperations.load(), 0);
    EXPECT_GT(removals.load(), 1);
    EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), earlier), "");
}

TEST(WorkerLifetime, DestroyingTheJobStopsAWorkerWaitingForTheDisc) {
    ScratchFolder source;
    ScratchFolder install;
    const Discs discs = GameDiscs();
    WriteDisc(source, discs, 0);
    const Files earlier = GameFolder();
    Seed(install, earlier);
    UseFolders(source, install);
    {
        InstallJob job;
        StartLikeCopyPage(job);
        const auto deadline = Clock::now() + kRunTimeout;
        while (!Get(job.waitingForDisc)) {
            ASSERT_LT(Clock::now(), deadline);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    EXPECT_FALSE(setupState.installSucceeded);
    EXPECT_EQ(Differences(testfiles::Snapshot(install.path()), earlier), "");
}

}  // namespace
