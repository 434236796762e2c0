// The floor that wine allows for the wizard's copy: the extractor's calls and buffer, in a bare loop
// with nothing around it (no job, no lock, no progress, no window).
//   bare_extract SOURCE_FOLDER OUT_FOLDER VOLUME...   prints seconds, files and bytes
// Per entry, like the engine: a name conversion to UTF-16, one GetFileAttributesW probe (the engine's
// look for an earlier file to keep), CreateFileW, the folders by CreateDirectoryW only when that
// fails, ReadFile and WriteFile through one 4 MiB buffer, CloseHandle.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr DWORD kBufferSize = 4 * 1024 * 1024;
constexpr DWORD kMaxNameLength = 4096;

std::wstring Wide(const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string Utf8(const std::wstring& wide) {
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr, nullptr);
    return utf8;
}

bool ReadExactly(HANDLE file, unsigned char* buffer, DWORD size) {
    DWORD got = 0;
    return ReadFile(file, buffer, size, &got, nullptr) && got == size;
}

DWORD BigEndian32(const unsigned char* bytes) {
    return (DWORD{bytes[0]} << 24) | (DWORD{bytes[1]} << 16) | (DWORD{bytes[2]} << 8) | DWORD{bytes[3]};
}

HANDLE CreateOutput(const std::string& path) {
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        return file;
    }
    for (size_t separator = path.find_first_of("\\/"); separator != std::string::npos;
         separator = path.find_first_of("\\/", separator + 1)) {
        const std::string prefix = path.substr(0, separator);
        if (prefix.size() == 2 && prefix[1] == ':') {
            continue;
        }
        if (!CreateDirectoryW(Wide(prefix).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            return INVALID_HANDLE_VALUE;
        }
    }
    return CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool ExtractOne(const std::string& volumePath, const std::string& outFolder, unsigned char* buffer, long long* files,
                long long* bytes) {
    HANDLE volume = CreateFileW(Wide(volumePath).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (volume == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "cannot open %s\n", volumePath.c_str());
        return false;
    }
    bool ok = true;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(volume, buffer, 4, &got, nullptr) || got < 4) {
            break;
        }
        const DWORD nameLength = BigEndian32(buffer);
        if (nameLength == 0 || nameLength > kMaxNameLength || !ReadExactly(volume, buffer, nameLength)) {
            ok = false;
            break;
        }
        const std::string destination =
            outFolder + "\\" + std::string(reinterpret_cast<const char*>(buffer), nameLength - 1);
        if (!ReadExactly(volume, buffer, 4)) {
            ok = false;
            break;
        }
        const DWORD dataLength = BigEndian32(buffer);
        GetFileAttributesW(Wide(destination).c_str());
        HANDLE output = CreateOutput(destination);
        if (output == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "cannot create %s\n", destination.c_str());
            ok = false;
            break;
        }
        for (DWORD consumed = 0; consumed < dataLength && ok;) {
            const DWORD chunk = dataLength - consumed < kBufferSize ? dataLength - consumed : kBufferSize;
            DWORD written = 0;
            ok = ReadExactly(volume, buffer, chunk) && WriteFile(output, buffer, chunk, &written, nullptr) &&
                 written == chunk;
            consumed += chunk;
        }
        CloseHandle(output);
        if (!ok) {
            break;
        }
        ++*files;
        *bytes += dataLength;
    }
    CloseHandle(volume);
    return ok;
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; list != nullptr && i < count; ++i) {
        arguments.push_back(Utf8(list[i]));
    }
    LocalFree(list);
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: bare_extract SOURCE_FOLDER OUT_FOLDER VOLUME...\n");
        return 2;
    }
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBufferSize]);
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    long long files = 0;
    long long bytes = 0;
    for (size_t i = 2; i < arguments.size(); ++i) {
        if (!ExtractOne(arguments[0] + "\\" + arguments[i], arguments[1], buffer.get(), &files, &bytes)) {
            return 1;
        }
    }
    QueryPerformanceCounter(&end);
    std::printf("seconds %.3f files %lld bytes %lld\n",
                static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart), files,
                bytes);
    return 0;
}
