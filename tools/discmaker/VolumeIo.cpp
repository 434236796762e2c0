#include "VolumeIo.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "Sha256.h"

namespace {

constexpr std::size_t kBufferSize = 4u * 1024 * 1024;
// copy_file_range moves at most this much per call, so a cancel is seen within a fraction of a second.
constexpr std::size_t kCopyChunk = 64u * 1024 * 1024;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // close() is where a full disk may first report itself for the last bytes written.
    bool Close() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

// Reads as much as asked unless the file ends first; -1 on an error.
ssize_t ReadFull(int fd, char* buffer, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const ssize_t got = ::read(fd, buffer + total, size - total);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        total += static_cast<std::size_t>(got);
    }
    return static_cast<ssize_t>(total);
}

void AppendBigEndian32(std::string& out, std::uint32_t value) {
    out += static_cast<char>((value >> 24) & 0xFF);
    out += static_cast<char>((value >> 16) & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

std::uint32_t BigEndian32(const char* bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes);
    return (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) | (std::uint32_t{b[2]} << 8) | std::uint32_t{b[3]};
}

std::string Describe(const std::string& what) {
    return what + " (" + std::strerror(errno) + ")";
}

// Copies size bytes from in to the current end of out. False with the reason in error.
bool CopyBody(int in, int out, std::uint64_t size, const PackFile& file, const std::atomic<bool>& cancel,
              const ProgressFunction& progress, std::unique_ptr<char[]>& buffer, std::string& error) {
    std::uint64_t copied = 0;
    bool kernelCopy = true;
    while (copied < size) {
        if (cancel.load(std::memory_order_acquire)) {
            error = "interrupted";
            return false;
        }
        const std::uint64_t due = size - copied;
        ssize_t moved = -1;
        if (kernelCopy) {
            moved = ::copy_file_range(in, nullptr, out, nullptr, due < kCopyChunk ? due : kCopyChunk, 0);
            if (moved < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP)) {
                kernelCopy = false;  // another file system or an old kernel: copy through memory
                continue;
            }
            if (moved < 0 && errno == EINTR) {
                continue;
            }
            if (moved < 0) {
                error = Describe(file.sourcePath + ": cannot be copied into the volume");
                return false;
            }
        } else {
            if (!buffer) {
                buffer.reset(new char[kBufferSize]);
            }
            moved = ReadFull(in, buffer.get(), due < kBufferSize ? due : kBufferSize);
            if (moved < 0) {
                error = Describe(file.sourcePath + ": cannot be read");
                return false;
            }
            if (!WriteAll(out, buffer.get(), static_cast<std::size_t>(moved))) {
                error = Describe("cannot write the volume");
                return false;
            }
        }
        if (moved == 0) {
            error = file.sourcePath + ": became shorter while it was packed";
            return false;
        }
        copied += static_cast<std::uint64_t>(moved);
        progress(static_cast<std::uint64_t>(moved));
    }
    return true;
}

}  // namespace

bool WriteVolumeFile(const std::string& volumePath, const std::vector<const PackFile*>& entries,
                     const std::atomic<bool>& cancel, const ProgressFunction& progress, std::string& error) {
    FileDescriptor out(::open(volumePath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.get() < 0) {
        error = Describe(volumePath + ": cannot be created");
        return false;
    }
    std::unique_ptr<char[]> buffer;
    for (const PackFile* file : entries) {
        FileDescriptor in(::open(file->sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
        struct stat info {};
        if (in.get() < 0 || ::fstat(in.get(), &info) != 0) {
            error = Describe(file->sourcePath + ": cannot be read");
            return false;
        }
        // As cp does: the kernel may read ahead further for a file read once from start to end.
        ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
        if (static_cast<std::uint64_t>(info.st_size) != file->size) {
            error = file->sourcePath + ": changed size since the tree was read (" + std::to_string(file->size) +
                    " bytes, now " + std::to_string(info.st_size) + ")";
            return false;
        }
        std::string header;
        header.reserve(file->entryName.size() + 9);
        AppendBigEndian32(header, static_cast<std::uint32_t>(file->entryName.size() + 1));
        header += file->entryName;
        header += '\0';
        AppendBigEndian32(header, static_cast<std::uint32_t>(file->size));
        if (!WriteAll(out.get(), header.data(), header.size())) {
            error = Describe(volumePath + ": cannot be written");
            return false;
        }
        progress(header.size());
        if (!CopyBody(in.get(), out.get(), file->size, *file, cancel, progress, buffer, error)) {
            return false;
        }
    }
    if (!out.Close()) {
        error = Describe(volumePath + ": cannot be written");
        return false;
    }
    return true;
}

bool CopyPlainFile(const PackFile& file, const std::string& destination, const std::atomic<bool>& cancel,
                   const ProgressFunction& progress, std::string& error) {
    FileDescriptor in(::open(file.sourcePath.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (in.get() < 0 || ::fstat(in.get(), &info) != 0) {
        error = Describe(file.sourcePath + ": cannot be read");
        return false;
    }
    if (static_cast<std::uint64_t>(info.st_size) != file.size) {
        error = file.sourcePath + ": changed size since it was first read";
        return false;
    }
    FileDescriptor out(::open(destination.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
    if (out.get() < 0) {
        error = Describe(destination + ": cannot be created");
        return false;
    }
    std::unique_ptr<char[]> buffer;
    if (!CopyBody(in.get(), out.get(), file.size, file, cancel, progress, buffer, error)) {
        return false;
    }
    if (!out.Close()) {
        error = Describe(destination + ": cannot be written");
        return false;
    }
    return true;
}

namespace {

// Sequential reads through one large buffer.
class BufferedReader {
public:
    BufferedReader(int fd) : fd_(fd), buffer_(new char[kBufferSize]) {}
    // Up to size bytes into out; the count delivered, -1 on an error.
    ssize_t Read(char* out, std::size_t size) {
        std::size_t total = 0;
        while (total < size) {
            if (position_ == filled_) {
                const ssize_t got = ReadFull(fd_, buffer_.get(), kBufferSize);
                if (got < 0) {
                    return -1;
                }
                position_ = 0;
                filled_ = static_cast<std::size_t>(got);
                if (got == 0) {
                    break;
                }
            }
            const std::size_t take = std::min(size - total, filled_ - position_);
            std::memcpy(out + total, buffer_.get() + position_, take);
            position_ += take;
            total += take;
        }
        return static_cast<ssize_t>(total);
    }
    // Hands up to size bytes to consume, chunk by chunk straight from the buffer; the count delivered.
    ssize_t Stream(std::uint64_t size, const std::function<void(const char*, std::size_t)>& consume) {
        std::uint64_t total = 0;
        while (total < size) {
            if (position_ == filled_) {
                const ssize_t got = ReadFull(fd_, buffer_.get(), kBufferSize);
                if (got < 0) {
                    return -1;
                }
                position_ = 0;
                filled_ = static_cast<std::size_t>(got);
                if (got == 0) {
                    break;
                }
            }
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size - total, filled_ - position_));
            consume(buffer_.get() + position_, take);
            position_ += take;
            total += take;
        }
        return static_cast<ssize_t>(total);
    }

private:
    int fd_;
    std::unique_ptr<char[]> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
};

}  // namespace

bool ReadVolumeFile(const std::string& volumePath, const std::function<void(const VolumeRecord&)>& onRecord,
                    const ProgressFunction& progress, std::string& error) {
    FileDescriptor in(::open(volumePath.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        error = Describe(volumePath + ": cannot be read");
        return false;
    }
    BufferedReader reader(in.get());
    std::uint64_t offset = 0;
    std::unique_ptr<char[]> name(new char[4096]);
    Sha256 hash;
    for (;;) {
        char lengths[4];
        const ssize_t got = reader.Read(lengths, 4);
        if (got < 0) {
            error = Describe(volumePath + ": cannot be read");
            return false;
        }
        if (got == 0) {
            return true;
        }
        const std::string where = volumePath + ", record at byte " + std::to_string(offset);
        if (got < 4) {
            error = where + ": " + std::to_string(got) + " stray bytes at the end of the volume";
            return false;
        }
        const std::uint32_t nameLength = BigEndian32(lengths);
        if (nameLength == 0 || nameLength > 4096) {
            error = where + ": name length " + std::to_string(nameLength) + ", outside 1 to 4096";
            return false;
        }
        if (reader.Read(name.get(), nameLength) != static_cast<ssize_t>(nameLength) || name[nameLength - 1] != '\0') {
            error = where + ": the name is cut short or not ended by a zero byte";
            return false;
        }
        if (reader.Read(lengths, 4) != 4) {
            error = where + ": cut short before its data length";
            return false;
        }
        VolumeRecord record;
        record.name.assign(name.get(), nameLength - 1);
        record.offset = offset;
        record.size = BigEndian32(lengths);
        hash.Reset();
        const ssize_t streamed = reader.Stream(record.size, [&](const char* data, std::size_t size) {
            hash.Update(data, size);
            progress(size);
        });
        if (streamed != static_cast<ssize_t>(record.size)) {
            error = where + " (" + record.name + "): cut short, " + std::to_string(streamed < 0 ? 0 : streamed) +
                    " of " + std::to_string(record.size) + " data bytes";
            return false;
        }
        record.sha256 = Sha256::ToHex(hash.Finish());
        onRecord(record);
        offset += 8 + nameLength + std::uint64_t{record.size};
    }
}

bool HashFile(const std::string& path, std::string& sha256, std::uint64_t& size, const ProgressFunction& progress) {
    FileDescriptor in(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (in.get() < 0) {
        return false;
    }
    BufferedReader reader(in.get());
    Sha256 hash;
    const ssize_t total = reader.Stream(UINT64_MAX, [&](const char* data, std::size_t count) {
        hash.Update(data, count);
        progress(count);
    });
    if (total < 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(total);
    sha256 = Sha256::ToHex(hash.Finish());
    return true;
}
