// The install-folder page's parts, shared by its procedure and its tests.
#pragma once

#include <windows.h>

#include <cstdint>

// Asks the drive of a root such as "C:\" (ANSI) for its total size and its whole free space, the
// latter not limited by the caller's quota. False when the drive does not answer. Tests replace it.
using DriveSpaceQuery = bool (*)(const char* ansiRoot, std::uint64_t& totalBytes, std::uint64_t& freeBytes);
extern DriveSpaceQuery QueryDriveSpace;

// GetDiskFreeSpaceExA: the default of QueryDriveSpace.
bool QueryDriveSpaceFromSystem(const char* ansiRoot, std::uint64_t& totalBytes, std::uint64_t& freeBytes);

// True when installFolder has the install-folder form and its drive reports a total size above 0.
// The caller sets both counts to 0 first.
bool GetInstallDriveSpace(std::uint64_t& totalBytes, std::uint64_t& freeBytes);

// Refreshes labels 1009 to 1011 for installFolder; without force only when the folder changed since
// the last refresh.
void UpdateSpaceLabels(HWND page, bool force);

// The string value "default" under HKEY_CURRENT_USER\SOFTWARE\Veyloran into installFolder.
bool ReadRememberedGameFolder();

// The shell's folder browser; true when a file-system folder was picked into installFolder.
bool BrowseForInstallFolder(HWND owner);
