// Writing the volumes from the tree's files, and reading them back record by record.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TreeScan.h"

using ProgressFunction = std::function<void(std::uint64_t bytesDone)>;

// Writes the entries, in order, to a new file at volumePath. Each file's bytes are copied inside the
// kernel where it can (copy_file_range), which keeps the pack as fast as a plain copy. A file that no
// longer has the size it was scanned with is refused. Stops when cancel is raised. On failure error
// names the file and the cause; the caller removes what was written.
bool WriteVolumeFile(const std::string& volumePath, const std::vector<const PackFile*>& entries,
                     const std::atomic<bool>& cancel, const ProgressFunction& progress, std::string& error);

// Copies one file, as it is, to a new file at destination (the side files beside Setup.exe).
bool CopyPlainFile(const PackFile& file, const std::string& destination, const std::atomic<bool>& cancel,
                   const ProgressFunction& progress, std::string& error);

struct VolumeRecord {
    std::string name;
    std::uint64_t offset = 0;  // where the record starts in the volume
    std::uint32_t size = 0;
    std::string sha256;  // hex digest of the data
};

// Reads every record of the volume, hashing its data, and hands each to onRecord. False with error
// on a damaged volume (a bad name length, a missing zero byte, a record cut short, stray bytes at the
// end) or when the file cannot be read.
bool ReadVolumeFile(const std::string& volumePath, const std::function<void(const VolumeRecord&)>& onRecord,
                    const ProgressFunction& progress, std::string& error);

// The SHA-256 of a file's bytes and their count; false when it cannot be read.
bool HashFile(const std::string& path, std::string& sha256, std::uint64_t& size, const ProgressFunction& progress);
