// Writes volumes in the setup program's format, byte-exact; the counterpart of the extractor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct VolumeEntry {
    std::string name;        // stored as is (UTF-8, folders separated by '\')
    std::string sourcePath;  // file whose bytes are stored (UTF-8); used when fromFile is set
    std::string data;        // bytes stored when fromFile is clear
    bool fromFile = false;
};

inline constexpr std::size_t kMaxEntryNameBytes = 4095;
inline constexpr std::uint64_t kMaxEntryDataBytes = 4294967295ull;

// The record of one entry with its bytes in memory.
std::string EncodeRecord(const std::string& name, const std::string& data);

// Every regular file below the folder (UTF-8 path), as an entry from that file, named by its path
// relative to the folder with backslashes, sorted by the bytes of the names so that a tree always
// gives the same volume. Folders get no entries. False, with error, when the tree cannot be listed.
bool ListTree(const std::string& folder, std::vector<VolumeEntry>& entries, std::string& error);

// The rule that the entry breaks, as a message naming the entry's file (or its name), or an empty
// string: a name that is empty or over 4095 bytes, a name the setup program refuses (a ".." component
// or a colon), data over 4,294,967,295 bytes, a file that cannot be read.
std::string CheckEntry(const VolumeEntry& entry);

// Writes the entries, in order, to a new volume at volumePath. Every entry is checked first: on a
// refusal nothing is written (a file at volumePath stays as it was) and error says which entry broke
// which rule. A failure while writing removes the partial volume.
bool WriteVolume(const std::string& volumePath, const std::vector<VolumeEntry>& entries, std::string& error);
