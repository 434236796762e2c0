// Scratch folders and file helpers for the engine tests; the same code serves native and Wine runs.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

namespace testfiles {

namespace fs = std::filesystem;

inline fs::path FromUtf8(const std::string& utf8) {
    // u8path is deprecated in C++20 but exact in C++17, also for mingw's wide paths.
    return fs::u8path(utf8);
}

inline std::string ToUtf8(const fs::path& path) {
    return path.u8string();
}

inline unsigned long ProcessTag() {
    return static_cast<unsigned long>(std::hash<std::string>{}(
        std::to_string(reinterpret_cast<std::uintptr_t>(&ProcessTag)) +
        std::to_string(std::chrono::steady_clock::now().time_since_epoch().count())));
}

// A fresh folder below the system's temporary folder, removed with its contents at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        static unsigned counter = 0;
        const fs::path base = fs::temp_directory_path();
        std::error_code error;
        for (;;) {
            path_ = base / ("setup-test-" + std::to_string(::testfiles::ProcessTag()) + "-" +
                            std::to_string(counter++));
            if (fs::create_directory(path_, error)) {
                break;
            }
        }
    }
    ~ScratchFolder() {
        std::error_code error;
        fs::remove_all(path_, error);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return path_; }
    // The folder as the engine takes it: UTF-8, without a trailing separator.
    std::string utf8() const { return ToUtf8(path_); }
    fs::path operator/(const std::string& utf8Relative) const { return path_ / FromUtf8(utf8Relative); }

private:
    fs::path path_;
};

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// Every regular file below the folder, by UTF-8 path relative to it with '/' separators, and its bytes.
inline std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(folder, error); it != fs::recursive_directory_iterator();
         it.increment(error)) {
        if (it->is_regular_file(error)) {
            std::string relative = ToUtf8(fs::relative(it->path(), folder, error));
            for (char& c : relative) {
                if (c == '\\') {
                    c = '/';
                }
            }
            files[relative] = ReadFile(it->path());
        }
    }
    return files;
}

}  // namespace testfiles
