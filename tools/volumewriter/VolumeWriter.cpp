#include "VolumeWriter.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include "Paths.h"
#include "Platform.h"

namespace {

namespace fs = std::filesystem;

void AppendBigEndian32(std::string& out, std::uint32_t value) {
    out += static_cast<char>((value >> 24) & 0xFF);
    out += static_cast<char>((value >> 16) & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
    out += static_cast<char>(value & 0xFF);
}

bool WriteAll(platform::FileHandle file, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const std::uint32_t chunk = size > (1u << 30) ? (1u << 30) : static_cast<std::uint32_t>(size);
        std::uint32_t written = 0;
        if (!platform::WriteFile(file, bytes, chunk, written) || written != chunk) {
            return false;
        }
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

std::string Header(const std::string& name) {
    std::string header;
    AppendBigEndian32(header, static_cast<std::uint32_t>(name.size() + 1));
    header += name;
    header += '\0';
    return header;
}

fs::path FromUtf8(const std::string& path) {
    // u8path is exact in C++17, also for mingw's wide paths.
    return fs::u8path(path);
}

// The size of a regular file, or false when there is none to read.
bool SizeOfFile(const std::string& path, std::uint64_t& size) {
    std::error_code error;
    const fs::path file = FromUtf8(path);
    if (!fs::is_regular_file(file, error)) {
        return false;
    }
    size = fs::file_size(file, error);
    return !error;
}

std::string Label(const VolumeEntry& entry) {
    return entry.fromFile ? entry.sourcePath : entry.name;
}

// Copies exactly size bytes of the file into the volume; a file that changed since it was measured
// would make the record's length a lie, so it is refused.
bool CopyFileBody(platform::FileHandle out,
                  const VolumeEntry& entry,
                  std::uint64_t size,
                  unsigned char* buffer,
                  std::uint32_t bufferSize,
                  const std::string& volumePath,
                  std::string& error) {
    const platform::FileHandle in = platform::OpenForReading(entry.sourcePath);
    if (in == platform::kInvalidFile) {
        error = entry.sourcePath + ": cannot be read";
        return false;
    }
    bool ok = true;
    std::uint64_t copied = 0;
    while (ok && copied < size) {
        std::uint32_t got = 0;
        const std::uint64_t due = size - copied;
        const std::uint32_t want = due < bufferSize ? static_cast<std::uint32_t>(due) : bufferSize;
        if (!platform::ReadFile(in, buffer, want, got) || got != want) {
            error = entry.sourcePath + ": changed while it was packed";
            ok = false;
        } else if (!WriteAll(out, buffer, got)) {
            error = volumePath + ": cannot be written";
            ok = false;
        }
        copied += got;
    }
    std::uint32_t extra = 0;
    if (ok && (!platform::ReadFile(in, buffer, 1, extra) || extra != 0)) {
        error = entry.sourcePath + ": changed while it was packed";
        ok = false;
    }
    platform::CloseFile(in);
    return ok;
}

}  // namespace

std::string EncodeRecord(const std::string& name, const std::string& data) {
    std::string record = Header(name);
    AppendBigEndian32(record, static_cast<std::uint32_t>(data.size()));
    record += data;
    return record;
}

bool ListTree(const std::string& folder, std::vector<VolumeEntry>& entries, std::string& error) {
    const fs::path root = FromUtf8(folder);
    std::error_code failure;
    if (!fs::is_directory(root, failure)) {
        error = folder + ": not a folder";
        return false;
    }
    std::vector<VolumeEntry> found;
    fs::recursive_directory_iterator it(root, failure);
    for (; !failure && it != fs::recursive_directory_iterator(); it.increment(failure)) {
        if (!it->is_regular_file(failure)) {
            continue;
        }
        VolumeEntry entry;
        entry.name = fs::relative(it->path(), root, failure).u8string();
        std::replace(entry.name.begin(), entry.name.end(), '/', '\\');
        entry.sourcePath = it->path().u8string();
        entry.fromFile = true;
        found.push_back(std::move(entry));
    }
    if (failure) {
        error = folder + ": cannot be listed (" + failure.message() + ")";
        return false;
    }
    // std::string compares its bytes as unsigned char, so UTF-8 names sort by their code points.
    std::sort(found.begin(), found.end(), [](const VolumeEntry& a, const VolumeEntry& b) { return a.name < b.name; });
    entries.insert(entries.end(), found.begin(), found.end());
    return true;
}

std::string CheckEntry(const VolumeEntry& entry) {
    if (entry.name.empty()) {
        return Label(entry) + ": empty name; the setup program cannot create a file without one";
    }
    if (entry.name.size() > kMaxEntryNameBytes) {
        return Label(entry) + ": name of " + std::to_string(entry.name.size()) +
               " bytes; a volume holds names of at most 4095 bytes";
    }
    if (!IsSafeEntryName(entry.name)) {
        return Label(entry) + ": name \"" + entry.name +
               "\" has a \"..\" component or a colon, which the setup program refuses";
    }
    std::uint64_t size = entry.data.size();
    if (entry.fromFile && !SizeOfFile(entry.sourcePath, size)) {
        return entry.sourcePath + ": cannot be read";
    }
    if (size > kMaxEntryDataBytes) {
        return Label(entry) + ": " + std::to_string(size) +
               " bytes; a volume holds files of at most 4,294,967,295 bytes";
    }
    return std::string();
}

bool WriteVolume(const std::string& volumePath, const std::vector<VolumeEntry>& entries, std::string& error) {
    std::vector<std::uint64_t> sizes;
    sizes.reserve(entries.size());
    for (const VolumeEntry& entry : entries) {
        const std::string broken = CheckEntry(entry);
        if (!broken.empty()) {
            error = broken;
            return false;
        }
        std::error_code failure;
        if (entry.fromFile && fs::equivalent(FromUtf8(entry.sourcePath), FromUtf8(volumePath), failure)) {
            error = entry.sourcePath + ": is the volume being written";
            return false;
        }
        std::uint64_t size = entry.data.size();
        if (entry.fromFile) {
            SizeOfFile(entry.sourcePath, size);
        }
        sizes.push_back(size);
    }
    const platform::FileHandle out = platform::CreateForWriting(volumePath);
    if (out == platform::kInvalidFile) {
        error = volumePath + ": cannot be created";
        return false;
    }
    constexpr std::uint32_t kBufferSize = 4u * 1024 * 1024;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBufferSize]);
    bool ok = true;
    for (std::size_t i = 0; ok && i < entries.size(); ++i) {
        const VolumeEntry& entry = entries[i];
        std::string header = Header(entry.name);
        AppendBigEndian32(header, static_cast<std::uint32_t>(sizes[i]));
        if (!WriteAll(out, header.data(), header.size())) {
            error = volumePath + ": cannot be written";
            ok = false;
        } else if (entry.fromFile) {
            ok = CopyFileBody(out, entry, sizes[i], buffer.get(), kBufferSize, volumePath, error);
        } else if (!WriteAll(out, entry.data.data(), entry.data.size())) {
            error = volumePath + ": cannot be written";
            ok = false;
        }
    }
    platform::CloseFile(out);
    if (!ok) {
        platform::RemoveFile(volumePath);
    }
    return ok;
}
