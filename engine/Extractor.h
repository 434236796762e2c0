// The volume format and its extraction.
//
// A volume is a plain sequence of records, back to back, with big-endian 32-bit numbers:
//   nameLength (1..4096, the terminating zero included) | name (UTF-8, zero-ended) |
//   dataLength (0..4294967295) | data
// The end of the file ends the sequence; fewer than 4 bytes where a record would begin are ignored.
#pragma once

#include <cstdint>
#include <string>

#include "Platform.h"
#include "SetupState.h"

inline constexpr std::uint32_t kMaxNameLength = 4096;
inline constexpr std::size_t kWorkBufferSize = 4u * 1024 * 1024;
inline constexpr std::size_t kFallbackBufferSize = 64u * 1024;
// bytesCopied is brought up to date once a batch exceeds this many bytes.
inline constexpr std::uint32_t kProgressBatchBytes = 1024u * 1024;

// Creates the file for writing (replacing one of that name) and, when that fails, the folders on its
// way, then tries once more. Folders it makes are not recorded.
platform::FileHandle CreateOutputFile(const std::string& path);

// Before the run replaces a file that existed before it, moves that file aside in its own folder and
// records it in job.keptFiles, so a roll-back can put it back. A path the run created itself is
// replaced as it is. False when an existing file could not be moved aside.
bool KeepEarlierFile(InstallJob& job, const std::string& path);

// Records a file that the run created, for the roll-back.
void RecordCreatedFile(InstallJob& job, const std::string& path);

// Extracts one volume from the source folder into the install folder, reporting through the job.
void ExtractVolume(const std::string& volumeName, InstallJob& job);

// For tests: makes the next extractions use the small fallback buffer, as when the large one cannot
// be allocated.
void ForceFallbackBuffer(bool force);
