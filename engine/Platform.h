// The engine's only way to the operating system: files, folders, attributes, a lock, threads and
// sleeping. Paths are UTF-8; each implementation converts them at this edge (Win32: ToWidePath and the
// W calls, removal included, so a roll-back removes the very file that was created).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// A file handle as an integer: a HANDLE on Windows, a descriptor elsewhere.
using FileHandle = std::intptr_t;
inline constexpr FileHandle kInvalidFile = -1;

// Opens an existing file for reading, sharing read access (CreateFileW GENERIC_READ, FILE_SHARE_READ,
// OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL).
FileHandle OpenForReading(const std::string& path);

// Creates a file for writing, not shared, replacing an existing one (CreateFileW GENERIC_WRITE, share
// mode 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL).
FileHandle CreateForWriting(const std::string& path);

// ReadFile / WriteFile: false on failure; the count tells how much moved.
bool ReadFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t& bytesRead);
bool WriteFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t& bytesWritten);
void CloseFile(FileHandle file);

enum class FolderResult { Created, AlreadyExists, Failed };
FolderResult MakeFolder(const std::string& path);

// Removes a file; the outcome is not reported.
void RemoveFile(const std::string& path);

// Whether anything of that name exists (GetFileAttributesW).
bool PathExists(const std::string& path);

enum class MoveResult { Moved, NoSource, Failed };
// Renames a file within its folder, never replacing an existing target. NoSource when there is no
// file of that name (a folder of that name counts as none: it is not moved).
MoveResult RenameFile(const std::string& from, const std::string& to);

void SleepMilliseconds(std::uint32_t milliseconds);

// COM on the calling thread (CoInitialize / CoUninitialize on Windows, nothing elsewhere).
void ComInitialize();
void ComUninitialize();

// The job's mutual-exclusion lock: a critical section on Windows.
class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    void Enter();
    void Leave();

private:
    alignas(8) unsigned char storage_[64];
};

class LockGuard {
public:
    explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
    ~LockGuard() { lock_.Leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& lock_;
};

using ThreadProc = std::uint32_t (*)(void* argument);

// One background thread (CreateThread with default attributes and stack size on Windows).
struct Thread {
    void* handle = nullptr;
    ThreadProc proc = nullptr;
    void* argument = nullptr;
};

bool StartThread(Thread& thread, ThreadProc proc, void* argument);
// True when the thread has ended within the time; UINT32_MAX waits without limit.
bool WaitForThread(Thread& thread, std::uint32_t milliseconds);
// Waits for the thread without limit if it still runs, then releases it. Harmless on a thread that was
// never started.
void JoinThread(Thread& thread);

// Test seam: a hook called before every counted file operation; when it returns true the operation
// fails as the operating system would report a failure. Null (the default) fails nothing.
enum class Operation { OpenForReading, CreateForWriting, Read, Write, MakeFolder, RemoveFile, PathExists, RenameFile };
using OperationHook = bool (*)(Operation operation, const std::string& path);
void SetOperationHook(OperationHook hook);

}  // namespace platform
