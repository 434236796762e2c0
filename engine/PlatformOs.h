// What each operating system's layer implements (Platform_win.cpp, Platform_posix.cpp).
#pragma once

#include "Platform.h"

namespace platform::os {

FileHandle OpenForReading(const std::string& path);
FileHandle CreateForWriting(const std::string& path);
bool ReadFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t& bytesRead);
bool WriteFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t& bytesWritten);
void CloseFile(FileHandle file);
FolderResult MakeFolder(const std::string& path);
void RemoveFile(const std::string& path);
bool PathExists(const std::string& path);
MoveResult RenameFile(const std::string& from, const std::string& to);

}  // namespace platform::os
