#include "Worker.h"

#include <string>
#include <unordered_set>

#include "Extractor.h"
#include "Paths.h"
#include "Texts.h"

namespace {

constexpr std::uint32_t kSideFileBufferSize = 32768;
constexpr std::uint32_t kDiscWaitMilliseconds = 1000;

enum class SideFileResult { Copied, Skipped, Failed };

// Copies a file from beside the program to below the install folder. A source that cannot be opened,
// or a destination that cannot be made, is skipped without a word; a copy that breaks off after its
// destination exists fails the run, since the file would be incomplete.
SideFileResult CopySideFile(InstallJob& job, const char* sourceName, const char* destinationName) {
    const platform::FileHandle source = platform::OpenForReading(JoinPath(setupState.sourceFolder, sourceName));
    if (source == platform::kInvalidFile) {
        return SideFileResult::Skipped;
    }
    const std::string destinationPath = JoinPath(setupState.installFolder, destinationName);
    platform::FileHandle destination = platform::kInvalidFile;
    const std::size_t keptBefore = job.keptFiles.size();
    if (KeepEarlierFile(job, destinationPath)) {
        destination = CreateOutputFile(destinationPath);
    }
    if (destination == platform::kInvalidFile) {
        // A skipped side file leaves the game's own copy where it was: a successful run would
        // otherwise discard the copy that was moved aside for it.
        if (job.keptFiles.size() != keptBefore) {
            const KeptFile& kept = job.keptFiles.back();
            if (platform::RenameFile(kept.keptPath, kept.originalPath) == platform::MoveResult::Moved) {
                job.keptFiles.pop_back();
            }
        }
        platform::CloseFile(source);
        return SideFileResult::Skipped;
    }
    // Recorded at once, so that a copy that breaks off is rolled back too.
    RecordCreatedFile(job, destinationPath);

    unsigned char buffer[kSideFileBufferSize];
    bool failed = false;
    for (;;) {
        std::uint32_t got = 0;
        if (!platform::ReadFile(source, buffer, kSideFileBufferSize, got)) {
            failed = true;
            break;
        }
        if (got == 0) {
            break;
        }
        std::uint32_t written = 0;
        if (!platform::WriteFile(destination, buffer, got, written) || written != got) {
            failed = true;
            break;
        }
    }
    platform::CloseFile(destination);
    platform::CloseFile(source);
    if (failed) {
        job.errorText = kTextWriteFailed;
        Set(job.finished, true);
        Set(job.running, false);
        return SideFileResult::Failed;
    }
    return SideFileResult::Copied;
}

void ExtractDisc(InstallJob& job, std::size_t first) {
    for (std::size_t i = first; i < first + 3; ++i) {
        ExtractVolume(job.volumes[i], job);
        if (!Get(job.running)) {
            break;
        }
    }
}

}  // namespace

bool VolumesPresent(const InstallJob& job, bool firstDisc) {
    const std::size_t first = firstDisc ? 0 : 3;
    for (std::size_t i = first; i < first + 3; ++i) {
        if (i >= job.volumes.size() || !platform::PathExists(JoinPath(setupState.sourceFolder, job.volumes[i]))) {
            return false;
        }
    }
    return true;
}

std::uint32_t InstallWorker(void* parameter) {
    InstallJob& job = *static_cast<InstallJob*>(parameter);
    platform::ComInitialize();
    job.phase.store(0, std::memory_order_release);

    if (Get(job.running)) {
        ExtractDisc(job, 0);
    }
    if (Get(job.running)) {
        if (CopySideFile(job, "den.dat", "Bin\\den.dat") != SideFileResult::Failed) {
            CopySideFile(job, "launch.ini", "Bin\\launch.ini");
        }
    }
    if (!VolumesPresent(job, false)) {
        Set(job.waitingForDisc, true);
        while (Get(job.waitingForDisc) && Get(job.running)) {
            platform::SleepMilliseconds(kDiscWaitMilliseconds);
        }
    }
    job.phase.store(1, std::memory_order_release);
    if (Get(job.running)) {
        ExtractDisc(job, 3);
    }

    if (Get(job.running)) {
        setupState.installSucceeded = true;
        DiscardKeptFiles(job);
    } else {
        RollBack(job);
    }
    platform::ComUninitialize();
    Set(job.finished, true);
    if (job.onFinished != nullptr) {
        job.onFinished(job.onFinishedContext);
    }
    return 0;
}

bool StartInstallWorker(InstallJob& job) {
    return platform::StartThread(job.worker, InstallWorker, &job);
}

void RollBack(InstallJob& job) {
    for (const std::string& path : job.createdFiles) {
        platform::RemoveFile(path);
    }
    // Newest first: a kept file that was itself moved aside again comes back in the right order.
    for (auto kept = job.keptFiles.rbegin(); kept != job.keptFiles.rend(); ++kept) {
        platform::RenameFile(kept->keptPath, kept->originalPath);
    }
}

void DiscardKeptFiles(InstallJob& job) {
    // A kept copy that a later entry moved aside again is that entry's place now, not a copy.
    std::unordered_set<std::string> movedLater;
    for (auto kept = job.keptFiles.rbegin(); kept != job.keptFiles.rend(); ++kept) {
        if (movedLater.count(PathIdentityKey(kept->keptPath)) == 0) {
            // Only a copy with a replacement in its place may go; one whose replacement never came
            // (its put-back failed) is the game's only copy and returns to its name instead.
            if (platform::PathExists(kept->originalPath)) {
                platform::RemoveFile(kept->keptPath);
            } else {
                platform::RenameFile(kept->keptPath, kept->originalPath);
            }
        }
        movedLater.insert(PathIdentityKey(kept->originalPath));
    }
}
