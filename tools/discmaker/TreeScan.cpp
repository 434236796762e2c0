#include "TreeScan.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "Paths.h"
#include "VolumeWriter.h"

namespace {

// Decodes one strict UTF-8 sequence at text[i]; false on anything malformed.
bool DecodeUtf8(const std::string& text, std::size_t& i, char32_t& value) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    char32_t minimum = 0;
    if (lead < 0x80) {
        value = lead;
        ++i;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        extra = 1;
        value = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        extra = 2;
        value = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        extra = 3;
        value = lead & 0x07;
        minimum = 0x10000;
    } else {
        return false;
    }
    if (i + extra >= text.size()) {
        return false;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) {
            return false;
        }
        value = (value << 6) | (next & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return false;
    }
    i += extra + 1;
    return true;
}

void AppendUtf8(std::string& out, char32_t c) {
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

// NTFS compares names through an upper-case table that covers far more than ASCII; these are the
// alphabets a voice pack's names are likely to use.
char32_t FoldCase(char32_t c) {
    if (c >= 'A' && c <= 'Z') {
        return c + 0x20;
    }
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) {
        return c + 0x20;
    }
    if (c >= 0x100 && c <= 0x137 && c % 2 == 0) {
        return c + 1;
    }
    if (c >= 0x139 && c <= 0x148 && c % 2 == 1) {
        return c + 1;
    }
    if (c >= 0x14A && c <= 0x177 && c % 2 == 0) {
        return c + 1;
    }
    if (c == 0x178) {
        return 0xFF;
    }
    if (c >= 0x179 && c <= 0x17E && c % 2 == 1) {
        return c + 1;
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2) {
        return c + 0x20;
    }
    if (c >= 0x410 && c <= 0x42F) {
        return c + 0x20;
    }
    if (c >= 0x400 && c <= 0x40F) {
        return c + 0x50;
    }
    if (c >= 0xFF21 && c <= 0xFF3A) {
        return c + 0x20;
    }
    return c;
}

bool IsRefusedByWindows(char32_t c) {
    return c < 0x20 || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*';
}

bool IsDeviceName(std::string component) {
    const std::size_t dot = component.find('.');
    if (dot != std::string::npos) {
        component.resize(dot);
    }
    while (!component.empty() && component.back() == ' ') {
        component.pop_back();
    }
    for (char& c : component) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 0x20);
        }
    }
    if (component == "CON" || component == "PRN" || component == "AUX" || component == "NUL") {
        return true;
    }
    return component.size() == 4 && (component.compare(0, 3, "COM") == 0 || component.compare(0, 3, "LPT") == 0) &&
           component[3] >= '1' && component[3] <= '9';
}

// What Windows would do to the name that the maker may not expect; empty when nothing.
std::string WindowsNameProblem(const std::string& entryName) {
    std::size_t start = 0;
    while (start <= entryName.size()) {
        std::size_t end = entryName.find('\\', start);
        if (end == std::string::npos) {
            end = entryName.size();
        }
        const std::string component = entryName.substr(start, end - start);
        if (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
            return "a name that ends in a dot or a space, which Windows drops when it creates the file";
        }
        if (IsDeviceName(component)) {
            return "a device name (CON, NUL, COM1 ...), which Windows cannot create as a file";
        }
        start = end + 1;
    }
    for (std::size_t i = 0; i < entryName.size();) {
        char32_t c = 0;
        DecodeUtf8(entryName, i, c);
        if (IsRefusedByWindows(c)) {
            return "a control character or one of < > \" | ? *, which Windows refuses in names";
        }
    }
    return std::string();
}

struct Walker {
    TreeScan& scan;
    std::map<std::string, std::string> fileKeys;    // WindowsNameKey -> entry name
    std::map<std::string, std::string> folderKeys;  // WindowsNameKey of each folder -> its name

    void CheckFile(const std::string& entryName, const std::vector<std::string>& components,
                   const std::string& sourcePath, std::uint64_t size) {
        const std::string shown = entryName.size() > 200 ? entryName.substr(0, 200) + "..." : entryName;
        for (const std::string& component : components) {
            if (component.find('\\') != std::string::npos) {
                scan.errors.push_back(sourcePath + ": a backslash inside a file or folder name; the setup program "
                                                   "reads it as a folder separator");
                return;
            }
        }
        if (!IsValidUtf8(entryName)) {
            scan.errors.push_back(sourcePath + ": the name is not valid UTF-8; entry names are stored in UTF-8");
            return;
        }
        if (!IsSafeEntryName(entryName)) {
            scan.errors.push_back(shown + ": a '..' component or a colon; the setup program refuses such a name");
            return;
        }
        if (entryName.size() > kMaxEntryNameBytes) {
            scan.errors.push_back(shown + ": name of " + std::to_string(entryName.size()) +
                                  " bytes; a volume holds names of at most 4095 bytes");
            return;
        }
        if (size > kMaxEntryDataBytes) {
            scan.errors.push_back(shown + ": " + std::to_string(size) +
                                  " bytes; a volume holds files of at most 4,294,967,295 bytes");
            return;
        }
        const std::string key = WindowsNameKey(entryName);
        const auto clash = fileKeys.find(key);
        if (clash != fileKeys.end()) {
            scan.errors.push_back(shown + ": the same file on Windows as " + clash->second +
                                  " (the names differ only in letter case or in trailing dots or spaces)");
            return;
        }
        const auto folderClash = folderKeys.find(key);
        if (folderClash != folderKeys.end()) {
            scan.errors.push_back(shown + ": a file of the same name on Windows as the folder " + folderClash->second);
            return;
        }
        fileKeys.emplace(key, entryName);
        // Each folder on the way must not be a file of the same name on Windows.
        std::string folder;
        for (std::size_t i = 0; i + 1 < components.size(); ++i) {
            folder += (i == 0 ? "" : "\\") + components[i];
            const std::string folderKey = WindowsNameKey(folder);
            const auto fileClash = fileKeys.find(folderKey);
            if (fileClash != fileKeys.end()) {
                scan.errors.push_back(fileClash->second + ": a file of the same name on Windows as the folder " +
                                      folder);
                fileKeys.erase(fileClash);
            }
            folderKeys.emplace(folderKey, folder);
        }
        if (IsReservedSideFileName(entryName)) {
            scan.notes.push_back(entryName + ": the setup program skips this entry and installs the " +
                                 (NormalizeEntryName(entryName) == "bin/den.dat" ? "den.dat" : "launch.ini") +
                                 " beside Setup.exe instead; it is packed, but never installed");
        }
        const std::string problem = WindowsNameProblem(entryName);
        if (!problem.empty()) {
            scan.notes.push_back(shown + ": " + problem);
        }
        scan.files.push_back(PackFile{entryName, sourcePath, size});
    }

    // Depth first with each folder's names in byte order, which lists the files sorted by their path
    // components and keeps every folder's files together. Folders are opened relative to their parent,
    // so a name too long for one path (over 4095 bytes) still reaches the rule that refuses it.
    void Walk(int folderFd, const std::string& folderPath, std::vector<std::string>& components) {
        DIR* folder = ::fdopendir(folderFd);
        if (folder == nullptr) {
            ::close(folderFd);
            scan.errors.push_back(folderPath + ": the folder cannot be read");
            return;
        }
        std::vector<std::string> names;
        while (const dirent* item = ::readdir(folder)) {
            const std::string name = item->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
        }
        std::sort(names.begin(), names.end());
        if (names.empty() && !components.empty()) {
            std::string shown;
            for (const std::string& component : components) {
                shown += (shown.empty() ? "" : "\\") + component;
            }
            scan.notes.push_back(shown + ": an empty folder; volumes hold files only, so it is not created on install");
        }
        for (const std::string& name : names) {
            const std::string path = folderPath + "/" + name;
            struct stat info {};
            if (::fstatat(::dirfd(folder), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
                scan.errors.push_back(path + ": cannot be read");
                continue;
            }
            if (S_ISLNK(info.st_mode)) {
                // A link to a file packs the file; links to folders could loop, so they are not followed.
                if (::fstatat(::dirfd(folder), name.c_str(), &info, 0) != 0 || !S_ISREG(info.st_mode)) {
                    scan.errors.push_back(path + ": a link to something other than a file; only files are packed");
                    continue;
                }
            }
            components.push_back(name);
            if (S_ISDIR(info.st_mode)) {
                const int child = ::openat(::dirfd(folder), name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
                if (child < 0) {
                    scan.errors.push_back(path + ": the folder cannot be read");
                } else {
                    Walk(child, path, components);
                }
            } else if (S_ISREG(info.st_mode)) {
                std::string entryName;
                for (const std::string& component : components) {
                    entryName += (entryName.empty() ? "" : "\\") + component;
                }
                CheckFile(entryName, components, path, static_cast<std::uint64_t>(info.st_size));
            } else {
                scan.errors.push_back(path + ": neither a file nor a folder; only files are packed");
            }
            components.pop_back();
        }
        ::closedir(folder);
    }
};

}  // namespace

bool IsValidUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = 0;
        if (!DecodeUtf8(text, i, c)) {
            return false;
        }
    }
    return true;
}

std::string WindowsNameKey(const std::string& entryName) {
    std::string key;
    std::string component;
    const auto flush = [&](bool last) {
        while (!component.empty() && (component.back() == '.' || component.back() == ' ')) {
            component.pop_back();
        }
        key += component;
        if (!last) {
            key += '/';
        }
        component.clear();
    };
    for (std::size_t i = 0; i < entryName.size();) {
        char32_t c = 0;
        if (!DecodeUtf8(entryName, i, c)) {
            c = static_cast<unsigned char>(entryName[i++]);
        }
        if (c == '\\' || c == '/') {
            flush(false);
        } else {
            AppendUtf8(component, FoldCase(c));
        }
    }
    flush(true);
    return key;
}

bool IsReservedSideFileName(const std::string& entryName) {
    const std::string normalized = NormalizeEntryName(entryName);
    return normalized == "bin/den.dat" || normalized == "bin/launch.ini";
}

void ScanTree(const std::string& root, TreeScan& scan) {
    struct stat info {};
    if (::stat(root.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        scan.errors.push_back(root + ": not a folder");
        return;
    }
    const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) {
        scan.errors.push_back(root + ": the folder cannot be read");
        return;
    }
    Walker walker{scan, {}, {}};
    std::vector<std::string> components;
    walker.Walk(rootFd, root, components);
    if (scan.files.empty() && scan.errors.empty()) {
        scan.errors.push_back(root + ": holds no files to pack");
    }
}
