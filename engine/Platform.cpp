// The counted front of the platform layer; each OS implementation supplies the os:: functions.
#include "Platform.h"

#include <atomic>

#include "PlatformOs.h"

namespace platform {

namespace {

std::atomic<OperationHook> operationHook{nullptr};

bool Injected(Operation operation, const std::string& path) {
    const OperationHook hook = operationHook.load(std::memory_order_acquire);
    return hook != nullptr && hook(operation, path);
}

}  // namespace

void SetOperationHook(OperationHook hook) {
    operationHook.store(hook, std::memory_order_release);
}

FileHandle OpenForReading(const std::string& path) {
    return Injected(Operation::OpenForReading, path) ? kInvalidFile : os::OpenForReading(path);
}

FileHandle CreateForWriting(const std::string& path) {
    return Injected(Operation::CreateForWriting, path) ? kInvalidFile : os::CreateForWriting(path);
}

bool ReadFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t& bytesRead) {
    bytesRead = 0;
    return !Injected(Operation::Read, std::string()) && os::ReadFile(file, buffer, size, bytesRead);
}

bool WriteFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t& bytesWritten) {
    bytesWritten = 0;
    return !Injected(Operation::Write, std::string()) && os::WriteFile(file, data, size, bytesWritten);
}

void CloseFile(FileHandle file) {
    os::CloseFile(file);
}

FolderResult MakeFolder(const std::string& path) {
    return Injected(Operation::MakeFolder, path) ? FolderResult::Failed : os::MakeFolder(path);
}

void RemoveFile(const std::string& path) {
    if (!Injected(Operation::RemoveFile, path)) {
        os::RemoveFile(path);
    }
}

bool PathExists(const std::string& path) {
    return !Injected(Operation::PathExists, path) && os::PathExists(path);
}

MoveResult RenameFile(const std::string& from, const std::string& to) {
    return Injected(Operation::RenameFile, from) ? MoveResult::Failed : os::RenameFile(from, to);
}

}  // namespace platform
