// The records that the engine and the wizard share.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_set>
#include <vector>

#include "Platform.h"

// The megabytes the voice pack needs: shown and required by the install-folder page, and the range of
// the copy page's progress bar.
inline constexpr std::uint32_t RequiredMegabytes = 1180;

enum WizardPage : std::int32_t { Welcome = 0, License = 1, Folder = 2, Ready = 3, Copy = 4, Finish = 5, Exit = 6 };

// The state of one setup run. One instance, in static storage; no lock guards it: the worker only reads
// the folders (which do not change while it runs) and sets installSucceeded, which the entry reads
// after the page loop.
struct SetupState {
    std::string sourceFolder;   // UTF-8, the folder of the running program, no trailing separator
    std::string installFolder;  // UTF-8, converted from the ANSI code page at the wizard's edge
    std::string licenseText;    // the bytes of eula.txt, unchanged
    WizardPage currentPage = Welcome;
    void* moduleInstance = nullptr;
    bool licenseAccepted = false;
    bool installSucceeded = false;
};

extern SetupState setupState;

// A file that the run moved aside before it replaced it, and where it went.
struct KeptFile {
    std::string originalPath;
    std::string keptPath;
};

// The record through which the copy page and the install worker work together. The lock lives as
// long as the job, and the job's destruction waits for its worker, so neither the lock nor the fields
// can be used after they are gone.
struct InstallJob {
    // One-byte flags shared without the lock: written with release, read with acquire.
    std::atomic<bool> finished{false};
    std::atomic<bool> running{false};
    std::atomic<bool> waitingForDisc{false};
    platform::Lock lock;           // guards currentFile and bytesCopied
    std::string currentFile;       // the entry being extracted, as stored in the volume (UTF-8)
    std::int64_t bytesCopied = 0;  // entry data bytes handled in this run
    std::string errorText;         // Big5 failure text; read only after finished is seen
    std::vector<std::string> volumes;
    std::atomic<std::int32_t> phase{0};  // 0 first disc and wait, 1 from the end of the wait on
    std::list<std::string> createdFiles;  // every output file the run created or replaced, in order
    std::list<KeptFile> keptFiles;        // earlier files moved aside before they were replaced
    std::unordered_set<std::string> createdKeys;  // PathIdentityKey of every created file
    platform::Thread worker;
    // Called on the worker's thread as its very last act, once finished is raised for good, so that
    // whoever polls the job can look at once instead of at its next poll. Null: nobody is told.
    void (*onFinished)(void* context) = nullptr;
    void* onFinishedContext = nullptr;

    InstallJob() = default;
    ~InstallJob();
    InstallJob(const InstallJob&) = delete;
    InstallJob& operator=(const InstallJob&) = delete;
};

static_assert(sizeof(std::atomic<bool>) == 1, "the job's flags must be single bytes");

// Reads of the flags with acquire, writes with release.
inline bool Get(const std::atomic<bool>& flag) {
    return flag.load(std::memory_order_acquire);
}
inline void Set(std::atomic<bool>& flag, bool value) {
    flag.store(value, std::memory_order_release);
}
