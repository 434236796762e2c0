#include "Extractor.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "Paths.h"
#include "Texts.h"

namespace {

std::atomic<bool> forceFallbackBuffer{false};

std::uint32_t BigEndian32(const unsigned char* bytes) {
    return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) |
           std::uint32_t{bytes[3]};
}

bool ReadExactly(platform::FileHandle file, unsigned char* buffer, std::uint32_t size) {
    std::uint32_t got = 0;
    return platform::ReadFile(file, buffer, size, got) && got == size;
}

// A failure stops the job: the text first, then finished, then running.
void StopWithError(InstallJob& job, std::string text) {
    job.errorText = std::move(text);
    Set(job.finished, true);
    Set(job.running, false);
}

std::string VolumeText(const char* prefix, const std::string& volumePath) {
    return prefix + volumePath + kTextVolumeSuffix;
}

bool IsReservedName(const std::string& name) {
    const std::string normalized = NormalizeEntryName(name);
    return normalized == "bin/launch.ini" || normalized == "bin/den.dat";
}

void AddProgress(InstallJob& job, std::uint64_t bytes) {
    platform::LockGuard guard(job.lock);
    job.bytesCopied += static_cast<std::int64_t>(bytes);
}

// The platform names a file by the bytes before the first zero byte, so an entry name with an inner
// zero byte reaches the same file as its text before that byte; kept names and identity keys must
// be formed from that part, or the ".setup-kept" suffix would vanish behind the zero.
std::string FileNamePart(const std::string& path) {
    return path.substr(0, path.find('\0'));
}

}  // namespace

void ForceFallbackBuffer(bool force) {
    forceFallbackBuffer.store(force, std::memory_order_release);
}

platform::FileHandle CreateOutputFile(const std::string& path) {
    platform::FileHandle file = platform::CreateForWriting(path);
    if (file != platform::kInvalidFile) {
        return file;
    }
    for (std::size_t separator = FindNextSeparator(path, 0); separator != kNoPosition;
         separator = FindNextSeparator(path, separator + 1)) {
        const std::string prefix = path.substr(0, separator);
        if (prefix.size() == 2 && prefix[1] == ':') {
            continue;  // a drive such as C:
        }
        if (platform::MakeFolder(prefix) == platform::FolderResult::Failed) {
            return platform::kInvalidFile;
        }
    }
    return platform::CreateForWriting(path);
}

bool KeepEarlierFile(InstallJob& job, const std::string& destination) {
    const std::string path = FileNamePart(destination);
    if (job.createdKeys.count(PathIdentityKey(path)) != 0) {
        return true;  // ours from earlier in this run: simply replaced
    }
    // The rename comes first: on a fresh install it finds no file, which costs one call per entry.
    // Only when it fails is the kept name looked at, since a rename never replaces its target.
    for (unsigned attempt = 0; attempt < 1000; ++attempt) {
        std::string kept = path + ".setup-kept";
        if (attempt > 0) {
            kept += std::to_string(attempt);
        }
        switch (platform::RenameFile(path, kept)) {
            case platform::MoveResult::NoSource:
                return true;
            case platform::MoveResult::Moved:
                job.keptFiles.push_back(KeptFile{path, kept});
                return true;
            case platform::MoveResult::Failed:
                if (!platform::PathExists(kept)) {
                    return false;
                }
                break;  // that name is taken: try the next one
        }
    }
    return false;
}

void RecordCreatedFile(InstallJob& job, const std::string& path) {
    job.createdFiles.push_back(path);
    job.createdKeys.insert(PathIdentityKey(FileNamePart(path)));
}

void ExtractVolume(const std::string& volumeName, InstallJob& job) {
    const std::string volumePath = JoinPath(setupState.sourceFolder, volumeName);
    const platform::FileHandle volume = platform::OpenForReading(volumePath);
    if (volume == platform::kInvalidFile) {
        StopWithError(job, VolumeText(kTextReadVolumePrefix, volumePath));
        return;
    }

    std::unique_ptr<unsigned char[]> heapBuffer;
    if (!forceFallbackBuffer.load(std::memory_order_acquire)) {
        heapBuffer.reset(new (std::nothrow) unsigned char[kWorkBufferSize]);
    }
    unsigned char fallbackBuffer[kFallbackBufferSize];
    unsigned char* const buffer = heapBuffer ? heapBuffer.get() : fallbackBuffer;
    const std::uint32_t bufferSize = static_cast<std::uint32_t>(heapBuffer ? kWorkBufferSize : kFallbackBufferSize);

    while (Get(job.running)) {
        std::uint32_t got = 0;
        if (!platform::ReadFile(volume, buffer, 4, got) || got < 4) {
            break;  // the volume is complete
        }
        const std::uint32_t nameLength = BigEndian32(buffer);
        if (nameLength == 0 || nameLength > kMaxNameLength || !ReadExactly(volume, buffer, nameLength) ||
            buffer[nameLength - 1] != 0) {
            StopWithError(job, VolumeText(kTextBadVolumePrefix, volumePath));
            break;
        }
        {
            platform::LockGuard guard(job.lock);
            job.currentFile.assign(reinterpret_cast<const char*>(buffer), nameLength - 1);
        }
        const std::string destination = JoinPath(setupState.installFolder, job.currentFile);
        if (!ReadExactly(volume, buffer, 4)) {
            StopWithError(job, VolumeText(kTextBadVolumePrefix, volumePath));
            break;
        }
        const std::uint32_t dataLength = BigEndian32(buffer);

        // A damaged or tampered volume must never write outside the install folder.
        if (!IsSafeEntryName(job.currentFile)) {
            StopWithError(job, VolumeText(kTextBadVolumePrefix, volumePath));
            break;
        }

        platform::FileHandle output = platform::kInvalidFile;
        const bool hasOutput = !IsReservedName(job.currentFile);
        if (hasOutput) {
            if (KeepEarlierFile(job, destination)) {
                output = CreateOutputFile(destination);
            }
            if (output == platform::kInvalidFile) {
                StopWithError(job, kTextWriteFailed);
                break;
            }
            RecordCreatedFile(job, destination);
        }

        std::uint32_t consumed = 0;
        std::uint64_t batch = 0;
        const char* failure = nullptr;
        bool badVolume = false;
        while (consumed < dataLength) {
            if (!Get(job.running)) {
                break;  // cancelled: the partial file stays for the roll-back
            }
            const std::uint32_t chunk = std::min(dataLength - consumed, bufferSize);
            if (!ReadExactly(volume, buffer, chunk)) {
                badVolume = true;
                break;
            }
            if (hasOutput) {
                std::uint32_t written = 0;
                if (!platform::WriteFile(output, buffer, chunk, written) || written != chunk) {
                    failure = kTextWriteFailed;
                    break;
                }
            }
            consumed += chunk;
            batch += chunk;
            if (consumed == dataLength) {
                break;
            }
            if (batch > kProgressBatchBytes) {
                AddProgress(job, batch);
                batch = 0;
            }
        }

        if (hasOutput) {
            platform::CloseFile(output);
        }
        if (badVolume || failure != nullptr) {
            if (hasOutput) {
                platform::RemoveFile(destination);
            }
            StopWithError(job, badVolume ? VolumeText(kTextBadVolumePrefix, volumePath) : std::string(failure));
            break;
        }
        AddProgress(job, batch);
    }

    platform::CloseFile(volume);
}
