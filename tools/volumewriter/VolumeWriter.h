// Writes volumes in the setup program's format, byte-exact; the counterpart of the extractor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct VolumeEntry {
    std::string name;        // stored as is (UTF-8, folders separated by '\')
    std::string sourcePath;  // file whose bytes are stored; used when fromFile is set
    std::string data;        // bytes stored when fromFile is clear
    bool fromFile = false;
};

inline constexpr std::size_t kMaxEntryNameBytes = 4095;
inline constexpr std::uint64_t kMaxEntryDataBytes = 4294967295ull;

// The record of one entry with its bytes in memory.
std::string EncodeRecord(const std::string& name, const std::string& data);

// Writes the entries, in order, to a new volume at volumePath. On a refusal (a name over 4095 bytes,
// a file over 4,294,967,295 bytes, an unreadable file) nothing is left behind and error says which
// entry broke which rule.
bool WriteVolume(const std::string& volumePath, const std::vector<VolumeEntry>& entries, std::string& error);
