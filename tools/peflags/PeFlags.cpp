// Post-link step for Setup.exe: marks the image IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP, so that Windows
// copies a program started from a disc into the swap file instead of paging it in from the drive (the
// user swaps the discs while it runs), and writes the image checksum that the marking invalidates.
// GNU ld has no switch for that bit. With --one-manifest it also refuses an image that does not carry
// exactly one manifest resource: a toolchain's default manifest beside ours would be a silent change.
//
// Portable C++17 on purpose: in a cross build it is compiled by the host compiler from this one file.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kRemovableRunFromSwap = 0x0400;
constexpr std::uint32_t kManifestType = 24;

std::uint16_t Read16(const std::vector<unsigned char>& image, std::size_t at) {
    return static_cast<std::uint16_t>(image[at] | (image[at + 1] << 8));
}

std::uint32_t Read32(const std::vector<unsigned char>& image, std::size_t at) {
    return static_cast<std::uint32_t>(image[at]) | (static_cast<std::uint32_t>(image[at + 1]) << 8) |
           (static_cast<std::uint32_t>(image[at + 2]) << 16) | (static_cast<std::uint32_t>(image[at + 3]) << 24);
}

void Write16(std::vector<unsigned char>& image, std::size_t at, std::uint16_t value) {
    image[at] = static_cast<unsigned char>(value);
    image[at + 1] = static_cast<unsigned char>(value >> 8);
}

void Write32(std::vector<unsigned char>& image, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        image[at + static_cast<std::size_t>(i)] = static_cast<unsigned char>(value >> (8 * i));
    }
}

struct PeLayout {
    std::size_t coffHeader = 0;  // the machine field, just after "PE\0\0"
    std::size_t optionalHeader = 0;
    std::size_t checksumField = 0;
    std::size_t resourceDirectory = 0;  // the data-directory entry of the resources
    std::size_t sectionTable = 0;
    std::uint16_t sectionCount = 0;
};

bool Fits(const std::vector<unsigned char>& image, std::size_t at, std::size_t size) {
    return at <= image.size() && size <= image.size() - at;
}

bool ParseLayout(const std::vector<unsigned char>& image, PeLayout& layout) {
    if (!Fits(image, 0, 0x40) || image[0] != 'M' || image[1] != 'Z') {
        return false;
    }
    const std::size_t signature = Read32(image, 0x3c);
    if (!Fits(image, signature, 24) || std::memcmp(&image[signature], "PE\0\0", 4) != 0) {
        return false;
    }
    layout.coffHeader = signature + 4;
    layout.sectionCount = Read16(image, layout.coffHeader + 2);
    const std::uint16_t optionalSize = Read16(image, layout.coffHeader + 16);
    layout.optionalHeader = layout.coffHeader + 20;
    if (!Fits(image, layout.optionalHeader, optionalSize) || optionalSize < 2) {
        return false;
    }
    const std::uint16_t magic = Read16(image, layout.optionalHeader);
    // The data directories start at 96 (PE32) or 112 (PE32+); the resources are the third entry.
    std::size_t directories = 0;
    if (magic == 0x10b) {
        directories = 96;
    } else if (magic == 0x20b) {
        directories = 112;
    } else {
        return false;
    }
    if (optionalSize < directories + 3 * 8) {
        return false;
    }
    layout.checksumField = layout.optionalHeader + 64;
    layout.resourceDirectory = layout.optionalHeader + directories + 2 * 8;
    layout.sectionTable = layout.optionalHeader + optionalSize;
    return Fits(image, layout.sectionTable, static_cast<std::size_t>(layout.sectionCount) * 40);
}

// The file offset of a relative virtual address, or 0 when no section holds it.
std::size_t FileOffset(const std::vector<unsigned char>& image, const PeLayout& layout, std::uint32_t rva) {
    for (std::uint16_t i = 0; i < layout.sectionCount; ++i) {
        const std::size_t section = layout.sectionTable + static_cast<std::size_t>(i) * 40;
        const std::uint32_t virtualAddress = Read32(image, section + 12);
        const std::uint32_t rawSize = Read32(image, section + 16);
        const std::uint32_t rawOffset = Read32(image, section + 20);
        if (rva >= virtualAddress && rva - virtualAddress < rawSize) {
            return static_cast<std::size_t>(rawOffset) + (rva - virtualAddress);
        }
    }
    return 0;
}

// Entries of the resource directory at that offset: (id or name flag, target) pairs.
bool DirectoryEntries(const std::vector<unsigned char>& image,
                      std::size_t directory,
                      std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries) {
    if (!Fits(image, directory, 16)) {
        return false;
    }
    const std::size_t count = static_cast<std::size_t>(Read16(image, directory + 12)) + Read16(image, directory + 14);
    if (!Fits(image, directory + 16, count * 8)) {
        return false;
    }
    entries.clear();
    for (std::size_t i = 0; i < count; ++i) {
        entries.emplace_back(Read32(image, directory + 16 + i * 8), Read32(image, directory + 20 + i * 8));
    }
    return true;
}

// Manifests in the image: every language of every id under the manifest type. -1 on a malformed tree.
long CountManifests(const std::vector<unsigned char>& image, const PeLayout& layout) {
    const std::uint32_t rva = Read32(image, layout.resourceDirectory);
    if (rva == 0) {
        return 0;
    }
    const std::size_t root = FileOffset(image, layout, rva);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> types;
    if (root == 0 || !DirectoryEntries(image, root, types)) {
        return -1;
    }
    long count = 0;
    for (const auto& type : types) {
        if (type.first != kManifestType) {
            continue;
        }
        if ((type.second & 0x80000000u) == 0) {
            return -1;
        }
        std::vector<std::pair<std::uint32_t, std::uint32_t>> ids;
        if (!DirectoryEntries(image, root + (type.second & 0x7fffffffu), ids)) {
            return -1;
        }
        for (const auto& id : ids) {
            std::vector<std::pair<std::uint32_t, std::uint32_t>> languages;
            if ((id.second & 0x80000000u) == 0 ||
                !DirectoryEntries(image, root + (id.second & 0x7fffffffu), languages)) {
                return -1;
            }
            count += static_cast<long>(languages.size());
        }
    }
    return count;
}

// The image checksum as imagehlp's CheckSumMappedFile computes it: the 16-bit sum with end-around
// carry of the whole file, taken while the checksum field holds zero, plus the file length.
std::uint32_t ImageChecksum(const std::vector<unsigned char>& image) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < image.size(); i += 2) {
        std::uint32_t word = image[i];
        if (i + 1 < image.size()) {
            word |= static_cast<std::uint32_t>(image[i + 1]) << 8;
        }
        sum += word;
        sum = (sum & 0xffff) + (sum >> 16);
    }
    return sum + static_cast<std::uint32_t>(image.size());
}

bool ReadWholeFile(const char* path, std::vector<unsigned char>& contents) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        return false;
    }
    unsigned char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
        contents.insert(contents.end(), buffer, buffer + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

bool WriteWholeFile(const char* path, const std::vector<unsigned char>& contents) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(contents.data(), 1, contents.size(), file) == contents.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

}  // namespace

int main(int argc, char** argv) {
    bool oneManifest = false;
    const char* path = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--one-manifest") == 0) {
            oneManifest = true;
        } else if (path == nullptr) {
            path = argv[i];
        } else {
            path = nullptr;
            break;
        }
    }
    if (path == nullptr) {
        std::fprintf(stderr, "usage: peflags [--one-manifest] image.exe\n");
        return 2;
    }

    std::vector<unsigned char> image;
    PeLayout layout;
    if (!ReadWholeFile(path, image) || !ParseLayout(image, layout)) {
        std::fprintf(stderr, "peflags: %s is no readable PE image\n", path);
        return 1;
    }
    if (oneManifest) {
        const long manifests = CountManifests(image, layout);
        if (manifests != 1) {
            std::fprintf(stderr, "peflags: %s holds %ld manifest resources, expected exactly 1\n", path, manifests);
            return 1;
        }
    }

    const std::size_t characteristics = layout.coffHeader + 18;
    Write16(image, characteristics, static_cast<std::uint16_t>(Read16(image, characteristics) | kRemovableRunFromSwap));
    Write32(image, layout.checksumField, 0);
    Write32(image, layout.checksumField, ImageChecksum(image));
    if (!WriteWholeFile(path, image)) {
        std::fprintf(stderr, "peflags: cannot write %s\n", path);
        return 1;
    }
    return 0;
}
