// Reading the voice pack's folder tree into the list of entries to pack, with every rule that the
// setup program's extractor and Windows impose on an entry.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackFile {
    std::string entryName;   // as stored: UTF-8, folders separated by '\'
    std::string sourcePath;  // the file on this machine
    std::uint64_t size = 0;
};

struct TreeScan {
    std::vector<PackFile> files;      // sorted by path, folder by folder
    std::vector<std::string> errors;  // refusals, one per offending file
    std::vector<std::string> notes;   // accepted, but the maker should know
};

// Walks root and applies the rules. The result is complete even when errors are found, so that every
// offending file is named in one run.
void ScanTree(const std::string& root, TreeScan& scan);

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsValidUtf8(const std::string& text);

// A key under which two entry names compare equal when Windows takes them for one file: letter case
// folded (ASCII, Latin-1, Latin Extended-A, Greek, Cyrillic, full-width Latin), trailing dots and spaces
// of each component dropped, '/' for '\'. The name must be valid UTF-8.
std::string WindowsNameKey(const std::string& entryName);

// Whether the normalised name is one of the two that the extractor reads and discards.
bool IsReservedSideFileName(const std::string& entryName);
