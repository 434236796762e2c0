// Win32 layer: every path goes through ToWidePath to the W calls, removal included.
#include <windows.h>
#include <objbase.h>

#include <new>

#include "Paths.h"
#include "PlatformOs.h"

namespace platform {

namespace {

HANDLE ToHandle(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle FromHandle(HANDLE handle) {
    return reinterpret_cast<FileHandle>(handle);
}

}  // namespace


namespace os {

FileHandle OpenForReading(const std::string& path) {
    const std::u16string wide = ToWidePath(path);
    HANDLE file = ::CreateFileW(reinterpret_cast<LPCWSTR>(wide.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kInvalidFile : FromHandle(file);
}

FileHandle CreateForWriting(const std::string& path) {
    const std::u16string wide = ToWidePath(path);
    HANDLE file = ::CreateFileW(reinterpret_cast<LPCWSTR>(wide.c_str()), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    return file == INVALID_HANDLE_VALUE ? kInvalidFile : FromHandle(file);
}

bool ReadFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t& bytesRead) {
    DWORD got = 0;
    const BOOL ok = ::ReadFile(ToHandle(file), buffer, size, &got, nullptr);
    bytesRead = got;
    return ok != FALSE;
}

bool WriteFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t& bytesWritten) {
    DWORD put = 0;
    const BOOL ok = ::WriteFile(ToHandle(file), data, size, &put, nullptr);
    bytesWritten = put;
    return ok != FALSE;
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) {
        ::CloseHandle(ToHandle(file));
    }
}

FolderResult MakeFolder(const std::string& path) {
    const std::u16string wide = ToWidePath(path);
    if (::CreateDirectoryW(reinterpret_cast<LPCWSTR>(wide.c_str()), nullptr)) {
        return FolderResult::Created;
    }
    return ::GetLastError() == ERROR_ALREADY_EXISTS ? FolderResult::AlreadyExists : FolderResult::Failed;
}

void RemoveFile(const std::string& path) {
    const std::u16string wide = ToWidePath(path);
    ::DeleteFileW(reinterpret_cast<LPCWSTR>(wide.c_str()));
}

bool PathExists(const std::string& path) {
    const std::u16string wide = ToWidePath(path);
    return ::GetFileAttributesW(reinterpret_cast<LPCWSTR>(wide.c_str())) != INVALID_FILE_ATTRIBUTES;
}

MoveResult RenameFile(const std::string& from, const std::string& to) {
    const std::u16string source = ToWidePath(from);
    const DWORD attributes = ::GetFileAttributesW(reinterpret_cast<LPCWSTR>(source.c_str()));
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? MoveResult::NoSource
                                                                                : MoveResult::Failed;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        return MoveResult::NoSource;
    }
    const std::u16string target = ToWidePath(to);
    // No MOVEFILE_REPLACE_EXISTING: an existing target is never overwritten.
    return ::MoveFileExW(reinterpret_cast<LPCWSTR>(source.c_str()), reinterpret_cast<LPCWSTR>(target.c_str()), 0)
               ? MoveResult::Moved
               : MoveResult::Failed;
}

}  // namespace os

void SleepMilliseconds(std::uint32_t milliseconds) {
    ::Sleep(milliseconds);
}

void ComInitialize() {
    ::CoInitialize(nullptr);
}

void ComUninitialize() {
    ::CoUninitialize();
}

static_assert(sizeof(CRITICAL_SECTION) <= 64, "the lock's storage is too small");

Lock::Lock() : storage_{} {
    ::InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

Lock::~Lock() {
    ::DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

void Lock::Enter() {
    ::EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

void Lock::Leave() {
    ::LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(storage_));
}

namespace {

DWORD WINAPI ThreadStart(LPVOID parameter) {
    auto* thread = static_cast<Thread*>(parameter);
    return thread->proc(thread->argument);
}

}  // namespace

bool StartThread(Thread& thread, ThreadProc proc, void* argument) {
    thread.proc = proc;
    thread.argument = argument;
    thread.handle = ::CreateThread(nullptr, 0, ThreadStart, &thread, 0, nullptr);
    return thread.handle != nullptr;
}

bool WaitForThread(Thread& thread, std::uint32_t milliseconds) {
    if (thread.handle == nullptr) {
        return true;
    }
    return ::WaitForSingleObject(thread.handle, milliseconds == UINT32_MAX ? INFINITE : milliseconds) ==
           WAIT_OBJECT_0;
}

void JoinThread(Thread& thread) {
    if (thread.handle != nullptr) {
        ::WaitForSingleObject(thread.handle, INFINITE);
        ::CloseHandle(thread.handle);
        thread.handle = nullptr;
    }
}

}  // namespace platform
