// POSIX layer for native builds and tests. The engine forms Windows paths, so a backslash is a
// separator here too.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <mutex>
#include <new>

#include "PlatformOs.h"

namespace platform {

namespace {

std::string NativePath(const std::string& path) {
    std::string native = path.substr(0, path.find('\0'));
    for (char& c : native) {
        if (c == '\\') {
            c = '/';
        }
    }
    return native;
}

}  // namespace

namespace os {

FileHandle OpenForReading(const std::string& path) {
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return kInvalidFile;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return kInvalidFile;
    }
    return fd;
}

FileHandle CreateForWriting(const std::string& path) {
    const int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd < 0 ? kInvalidFile : fd;
}

bool ReadFile(FileHandle file, void* buffer, std::uint32_t size, std::uint32_t& bytesRead) {
    // ReadFile on a file delivers everything asked for up to the end; read() may deliver less.
    auto* out = static_cast<unsigned char*>(buffer);
    std::uint32_t total = 0;
    while (total < size) {
        const ssize_t got = ::read(static_cast<int>(file), out + total, size - total);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            bytesRead = total;
            return false;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::uint32_t>(got);
    }
    bytesRead = total;
    return true;
}

bool WriteFile(FileHandle file, const void* data, std::uint32_t size, std::uint32_t& bytesWritten) {
    const auto* in = static_cast<const unsigned char*>(data);
    std::uint32_t total = 0;
    while (total < size) {
        const ssize_t put = ::write(static_cast<int>(file), in + total, size - total);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            bytesWritten = total;
            return false;
        }
        total += static_cast<std::uint32_t>(put);
    }
    bytesWritten = total;
    return true;
}

void CloseFile(FileHandle file) {
    if (file != kInvalidFile) {
        ::close(static_cast<int>(file));
    }
}

FolderResult MakeFolder(const std::string& path) {
    const std::string native = NativePath(path);
    if (native.empty()) {
        // The empty prefix of an absolute path is the root.
        return FolderResult::AlreadyExists;
    }
    if (::mkdir(native.c_str(), 0777) == 0) {
        return FolderResult::Created;
    }
    return errno == EEXIST ? FolderResult::AlreadyExists : FolderResult::Failed;
}

void RemoveFile(const std::string& path) {
    ::unlink(NativePath(path).c_str());
}

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::stat(NativePath(path).c_str(), &info) == 0;
}

MoveResult RenameFile(const std::string& from, const std::string& to) {
    const std::string source = NativePath(from);
    struct stat info {};
    if (::lstat(source.c_str(), &info) != 0) {
        return (errno == ENOENT || errno == ENOTDIR) ? MoveResult::NoSource : MoveResult::Failed;
    }
    if (S_ISDIR(info.st_mode)) {
        return MoveResult::NoSource;
    }
    return ::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, NativePath(to).c_str(), RENAME_NOREPLACE) == 0
               ? MoveResult::Moved
               : MoveResult::Failed;
}

}  // namespace os

void SleepMilliseconds(std::uint32_t milliseconds) {
    timespec delay{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

void ComInitialize() {}
void ComUninitialize() {}

static_assert(sizeof(std::mutex) <= 64, "the lock's storage is too small");

Lock::Lock() : storage_{} {
    new (storage_) std::mutex();
}

Lock::~Lock() {
    reinterpret_cast<std::mutex*>(storage_)->~mutex();
}

void Lock::Enter() {
    reinterpret_cast<std::mutex*>(storage_)->lock();
}

void Lock::Leave() {
    reinterpret_cast<std::mutex*>(storage_)->unlock();
}

namespace {

void* ThreadStart(void* parameter) {
    auto* thread = static_cast<Thread*>(parameter);
    thread->proc(thread->argument);
    return nullptr;
}

// glibc's pthread_t is an integer the size of a pointer.
static_assert(sizeof(pthread_t) <= sizeof(void*), "pthread_t does not fit a handle");

pthread_t Handle(const Thread& thread) {
    return static_cast<pthread_t>(reinterpret_cast<std::uintptr_t>(thread.handle));
}

}  // namespace

bool StartThread(Thread& thread, ThreadProc proc, void* argument) {
    thread.proc = proc;
    thread.argument = argument;
    pthread_t id{};
    if (::pthread_create(&id, nullptr, ThreadStart, &thread) != 0) {
        thread.handle = nullptr;
        return false;
    }
    thread.handle = reinterpret_cast<void*>(static_cast<std::uintptr_t>(id));
    return true;
}

bool WaitForThread(Thread& thread, std::uint32_t milliseconds) {
    if (thread.handle == nullptr) {
        return true;
    }
    if (milliseconds == UINT32_MAX) {
        ::pthread_join(Handle(thread), nullptr);
        thread.handle = nullptr;
        return true;
    }
    timespec deadline{};
    ::clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    if (::pthread_timedjoin_np(Handle(thread), nullptr, &deadline) == 0) {
        thread.handle = nullptr;
        return true;
    }
    return false;
}

void JoinThread(Thread& thread) {
    WaitForThread(thread, UINT32_MAX);
}

}  // namespace platform
