#include "IsoImage.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>

#include "Sha256.h"

extern char** environ;

namespace {

constexpr std::uint64_t kSector = 2048;

std::string IsoTimestamp(std::int64_t epoch) {
    const time_t seconds = static_cast<time_t>(epoch);
    struct tm utc {};
    gmtime_r(&seconds, &utc);
    char text[96];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d00", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
    return text;
}

// "xorriso : UPDATE :  42.17% done" -> 42
int ParsePercent(const std::string& line) {
    const std::size_t done = line.find("% done");
    if (done == std::string::npos) {
        return -1;
    }
    std::size_t start = done;
    while (start > 0 && (std::isdigit(static_cast<unsigned char>(line[start - 1])) || line[start - 1] == '.')) {
        --start;
    }
    return start == done ? -1 : std::atoi(line.c_str() + start);
}

bool ReadAt(int fd, std::uint64_t offset, void* buffer, std::size_t size) {
    auto* out = static_cast<char*>(buffer);
    while (size > 0) {
        const ssize_t got = ::pread(fd, out, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        out += got;
        offset += static_cast<std::uint64_t>(got);
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

std::uint32_t Little32(const unsigned char* bytes) {
    return std::uint32_t{bytes[0]} | (std::uint32_t{bytes[1]} << 8) | (std::uint32_t{bytes[2]} << 16) |
           (std::uint32_t{bytes[3]} << 24);
}

// Joliet stores UCS-2 big-endian (UTF-16 in practice).
std::string Utf16BigEndianToUtf8(const unsigned char* bytes, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        char32_t c = (char32_t{bytes[i]} << 8) | bytes[i + 1];
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < size) {
            const char32_t low = (char32_t{bytes[i + 2]} << 8) | bytes[i + 3];
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    void Reset() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_;
};

}  // namespace

bool IsValidVolumeLabel(const std::string& label) {
    if (label.empty() || label.size() > 16) {
        return false;
    }
    for (char c : label) {
        if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) {
            return false;
        }
    }
    return true;
}

bool MakeIsoImage(const IsoSettings& settings, const std::string& folder, const std::string& isoPath,
                  const std::atomic<bool>& cancel, const std::function<void(int percent)>& percent,
                  std::string& error) {
    const std::string stamp = IsoTimestamp(settings.epoch);
    // -no_rc first: a user's or the system's startup file must not change the image. -r rather than -R:
    // owners and permissions of this machine would otherwise end up in the image.
    std::vector<std::string> arguments = {settings.xorriso,
                                          "-no_rc",
                                          "-as",
                                          "mkisofs",
                                          "-iso-level",
                                          "3",
                                          "-J",
                                          "-r",
                                          "-V",
                                          settings.label,
                                          "--modification-date=" + stamp,
                                          "--set_all_file_dates",
                                          stamp,
                                          "-o",
                                          isoPath,
                                          folder};
    std::vector<char*> argv;
    for (std::string& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    // The epoch also fixes whatever xorriso stamps with "now"; UTC keeps the time strings unambiguous.
    std::vector<std::string> environment;
    for (char** item = environ; *item != nullptr; ++item) {
        if (std::strncmp(*item, "SOURCE_DATE_EPOCH=", 18) != 0 && std::strncmp(*item, "TZ=", 3) != 0) {
            environment.push_back(*item);
        }
    }
    environment.push_back("SOURCE_DATE_EPOCH=" + std::to_string(settings.epoch));
    environment.push_back("TZ=UTC");
    std::vector<char*> envp;
    for (std::string& item : environment) {
        envp.push_back(item.data());
    }
    envp.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        error = "cannot start xorriso (" + std::string(std::strerror(errno)) + ")";
        return false;
    }
    Descriptor readEnd(pipeEnds[0]);
    Descriptor writeEnd(pipeEnds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 2);
    pid_t child = 0;
    const int spawned = ::posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.Reset();
    if (spawned != 0) {
        error = "cannot run " + settings.xorriso + " (" + std::strerror(spawned) +
                "); install Debian's xorriso package, or pass --no-iso";
        return false;
    }

    // Its messages are kept for an error report; the last lines tell what went wrong.
    std::deque<std::string> lastLines;
    std::string line;
    bool stopped = false;
    for (;;) {
        if (cancel.load(std::memory_order_acquire) && !stopped) {
            ::kill(child, SIGTERM);
            stopped = true;
        }
        pollfd waiting{readEnd.get(), POLLIN, 0};
        if (::poll(&waiting, 1, 200) <= 0) {
            continue;
        }
        char chunk[4096];
        const ssize_t got = ::read(readEnd.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (chunk[i] == '\n' || chunk[i] == '\r') {
                if (!line.empty()) {
                    const int value = ParsePercent(line);
                    if (value >= 0) {
                        percent(value);
                    }
                    lastLines.push_back(line);
                    if (lastLines.size() > 12) {
                        lastLines.pop_front();
                    }
                }
                line.clear();
            } else {
                line += chunk[i];
            }
        }
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (cancel.load(std::memory_order_acquire)) {
        error = "interrupted";
        return false;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = isoPath + ": xorriso failed";
        if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
            error = "cannot run " + settings.xorriso + "; install Debian's xorriso package, or pass --no-iso";
        }
        for (const std::string& message : lastLines) {
            error += "\n  " + message;
        }
        return false;
    }
    percent(100);
    return true;
}

bool ReadIsoRoot(const std::string& isoPath, IsoListing& listing, std::string& error) {
    listing = IsoListing{};
    Descriptor image(::open(isoPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (image.get() < 0) {
        error = isoPath + ": cannot be read";
        return false;
    }
    unsigned char descriptor[kSector];
    std::uint64_t rootExtent = 0;
    std::uint64_t rootSize = 0;
    bool joliet = false;
    for (std::uint64_t sector = 16; sector < 64 && !joliet; ++sector) {
        if (!ReadAt(image.get(), sector * kSector, descriptor, kSector) ||
            std::memcmp(descriptor + 1, "CD001", 5) != 0) {
            break;
        }
        if (descriptor[0] == 255) {
            break;
        }
        // A supplementary descriptor with one of the three UCS-2 escape sequences is the Joliet one.
        const bool ucs2 = descriptor[88] == '%' && descriptor[89] == '/' &&
                          (descriptor[90] == '@' || descriptor[90] == 'C' || descriptor[90] == 'E');
        if (descriptor[0] == 2 && ucs2) {
            joliet = true;
            std::size_t labelEnd = 32;
            while (labelEnd >= 2 && descriptor[40 + labelEnd - 2] == 0 && descriptor[40 + labelEnd - 1] == ' ') {
                labelEnd -= 2;
            }
            listing.label = Utf16BigEndianToUtf8(descriptor + 40, labelEnd);
            rootExtent = Little32(descriptor + 156 + 2) * kSector;
            rootSize = Little32(descriptor + 156 + 10);
        }
    }
    if (!joliet) {
        error = isoPath + ": not an ISO 9660 image with Joliet names";
        return false;
    }
    if (rootSize == 0 || rootSize > 64u * 1024 * 1024) {
        error = isoPath + ": damaged root folder";
        return false;
    }
    std::unique_ptr<unsigned char[]> folder(new unsigned char[rootSize]);
    if (!ReadAt(image.get(), rootExtent, folder.get(), rootSize)) {
        error = isoPath + ": the root folder cannot be read";
        return false;
    }
    bool continuing = false;  // the previous record said that more extents of the same file follow
    for (std::uint64_t at = 0; at < rootSize;) {
        const unsigned length = folder[at];
        if (length == 0) {
            at = (at / kSector + 1) * kSector;  // records never cross a sector; the rest is padding
            continue;
        }
        if (length < 34 || at + length > rootSize) {
            error = isoPath + ": damaged root folder";
            return false;
        }
        const unsigned char* record = folder.get() + at;
        const unsigned nameLength = record[32];
        const unsigned char flags = record[25];
        at += length;
        if (33 + nameLength > length) {
            error = isoPath + ": damaged root folder";
            return false;
        }
        if (nameLength == 1 && (record[33] == 0 || record[33] == 1)) {
            continue;  // the folder itself and its parent
        }
        const std::uint64_t extent = Little32(record + 2) * kSector;
        const std::uint64_t size = Little32(record + 10);
        if (!continuing) {
            IsoFile file;
            file.name = Utf16BigEndianToUtf8(record + 33, nameLength);
            const std::size_t version = file.name.rfind(";1");
            if (version != std::string::npos && version + 2 == file.name.size()) {
                file.name.resize(version);
            }
            file.isFolder = (flags & 0x02) != 0;
            listing.files.push_back(file);
        }
        listing.files.back().extents.emplace_back(extent, size);
        listing.files.back().size += size;
        continuing = (flags & 0x80) != 0;
    }
    return true;
}

bool HashIsoFile(const std::string& isoPath, const IsoFile& file, std::string& sha256,
                 const std::function<void(std::uint64_t)>& progress) {
    Descriptor image(::open(isoPath.c_str(), O_RDONLY | O_CLOEXEC));
    if (image.get() < 0) {
        return false;
    }
    constexpr std::size_t kChunk = 4u * 1024 * 1024;
    std::unique_ptr<char[]> buffer(new char[kChunk]);
    Sha256 hash;
    for (const auto& [offset, size] : file.extents) {
        for (std::uint64_t done = 0; done < size;) {
            const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, size - done));
            if (!ReadAt(image.get(), offset + done, buffer.get(), take)) {
                return false;
            }
            hash.Update(buffer.get(), take);
            progress(take);
            done += take;
        }
    }
    sha256 = Sha256::ToHex(hash.Finish());
    return true;
}
