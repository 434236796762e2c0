#include "VolumeWriter.h"

#include <memory>

#include "Platform.h"

namespace {

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

// Copies a file's bytes into the volume; counts them so that a file over the limit is refused.
bool CopyFileBody(platform::FileHandle out, const VolumeEntry& entry, unsigned char* buffer, std::uint32_t bufferSize,
                  std::string& error) {
    const platform::FileHandle in = platform::OpenForReading(entry.sourcePath);
    if (in == platform::kInvalidFile) {
        error = entry.sourcePath + ": cannot be read";
        return false;
    }
    // The length comes first, so measure the file by reading it once, then copy it.
    std::uint64_t size = 0;
    bool ok = true;
    for (;;) {
        std::uint32_t got = 0;
        if (!platform::ReadFile(in, buffer, bufferSize, got)) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        size += got;
    }
    platform::CloseFile(in);
    if (!ok) {
        error = entry.sourcePath + ": cannot be read";
        return false;
    }
    if (size > kMaxEntryDataBytes) {
        error = entry.sourcePath + ": larger than 4,294,967,295 bytes, which a volume cannot hold";
        return false;
    }
    std::string length;
    AppendBigEndian32(length, static_cast<std::uint32_t>(size));
    if (!WriteAll(out, length.data(), length.size())) {
        error = "cannot write the volume";
        return false;
    }
    const platform::FileHandle again = platform::OpenForReading(entry.sourcePath);
    if (again == platform::kInvalidFile) {
        error = entry.sourcePath + ": cannot be read";
        return false;
    }
    std::uint64_t copied = 0;
    while (copied < size) {
        std::uint32_t got = 0;
        const std::uint64_t due = size - copied;
        const std::uint32_t want = due < bufferSize ? static_cast<std::uint32_t>(due) : bufferSize;
        if (!platform::ReadFile(again, buffer, want, got) || got != want) {
            error = entry.sourcePath + ": changed while it was packed";
            ok = false;
            break;
        }
        if (!WriteAll(out, buffer, got)) {
            error = "cannot write the volume";
            ok = false;
            break;
        }
        copied += got;
    }
    platform::CloseFile(again);
    return ok;
}

}  // namespace

std::string EncodeRecord(const std::string& name, const std::string& data) {
    std::string record = Header(name);
    AppendBigEndian32(record, static_cast<std::uint32_t>(data.size()));
    record += data;
    return record;
}

bool WriteVolume(const std::string& volumePath, const std::vector<VolumeEntry>& entries, std::string& error) {
    for (const VolumeEntry& entry : entries) {
        if (entry.name.size() > kMaxEntryNameBytes) {
            error = entry.name.substr(0, 60) + "...: name of " + std::to_string(entry.name.size()) +
                    " bytes; a volume holds names of at most 4095 bytes";
            return false;
        }
        if (!entry.fromFile && entry.data.size() > kMaxEntryDataBytes) {
            error = entry.name + ": larger than 4,294,967,295 bytes, which a volume cannot hold";
            return false;
        }
    }
    const platform::FileHandle out = platform::CreateForWriting(volumePath);
    if (out == platform::kInvalidFile) {
        error = volumePath + ": cannot be created";
        return false;
    }
    constexpr std::uint32_t kBufferSize = 4u * 1024 * 1024;
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBufferSize]);
    bool ok = true;
    for (const VolumeEntry& entry : entries) {
        const std::string header = Header(entry.name);
        if (!WriteAll(out, header.data(), header.size())) {
            error = volumePath + ": cannot be written";
            ok = false;
            break;
        }
        if (entry.fromFile) {
            if (!CopyFileBody(out, entry, buffer.get(), kBufferSize, error)) {
                ok = false;
                break;
            }
        } else {
            std::string length;
            AppendBigEndian32(length, static_cast<std::uint32_t>(entry.data.size()));
            if (!WriteAll(out, length.data(), length.size()) || !WriteAll(out, entry.data.data(), entry.data.size())) {
                error = volumePath + ": cannot be written";
                ok = false;
                break;
            }
        }
    }
    platform::CloseFile(out);
    if (!ok) {
        platform::RemoveFile(volumePath);
    }
    return ok;
}
