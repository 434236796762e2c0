// Appends its command line, as one UTF-8 line, to the file named by UI_BROWSER_LOG (else browser.log
// beside itself), and ends. The tests read that file to see what the setup program opened.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) {
        return std::string();
    }
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &utf8[0], length, nullptr, nullptr);
    utf8.resize(static_cast<size_t>(length - 1));
    return utf8;
}

std::wstring LogPath() {
    wchar_t buffer[4096] = {};
    const DWORD length = GetEnvironmentVariableW(L"UI_BROWSER_LOG", buffer, 4096);
    if (length > 0 && length < 4096) {
        return buffer;
    }
    const DWORD own = GetModuleFileNameW(nullptr, buffer, 4096);
    std::wstring path(buffer, own < 4096 ? own : 0);
    const size_t cut = path.find_last_of(L"\\/");
    return (cut == std::wstring::npos ? std::wstring() : path.substr(0, cut + 1)) + L"browser.log";
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    const std::string line = Utf8(GetCommandLineW()) + "\n";
    // Appending writes land at the end even when two openers race.
    HANDLE log = CreateFileW(LogPath().c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(log);
    return ok && written == line.size() ? 0 : 1;
}
