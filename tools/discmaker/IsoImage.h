// The disc images: made by xorriso, read back by a small ISO 9660 / Joliet reader of our own.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct IsoSettings {
    std::string xorriso = "xorriso";  // the program, looked up on PATH
    std::string label;                // volume label, at most 16 of A-Z 0-9 _
    std::int64_t epoch = 0;           // every time stamp inside the image, seconds since 1970 (UTC)
};

// Whether xorriso accepts the label and Windows shows it whole: Joliet keeps 16 characters.
bool IsValidVolumeLabel(const std::string& label);

// Makes isoPath from the files of folder, with ISO 9660 and Joliet names and fixed time stamps, so the
// same folder always gives the same image. percent reports xorriso's progress (0 to 100).
bool MakeIsoImage(const IsoSettings& settings, const std::string& folder, const std::string& isoPath,
                  const std::atomic<bool>& cancel, const std::function<void(int percent)>& percent,
                  std::string& error);

struct IsoFile {
    std::string name;  // the Joliet name, UTF-8
    std::uint64_t size = 0;
    bool isFolder = false;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> extents;  // byte offset and length in the image
};

struct IsoListing {
    std::string label;  // the Joliet volume label
    std::vector<IsoFile> files;  // the root folder's contents
};

// Reads the Joliet root folder of the image. False with error when it is no ISO 9660 image with Joliet
// names.
bool ReadIsoRoot(const std::string& isoPath, IsoListing& listing, std::string& error);

// The SHA-256 of one file inside the image.
bool HashIsoFile(const std::string& isoPath, const IsoFile& file, std::string& sha256,
                 const std::function<void(std::uint64_t)>& progress);
