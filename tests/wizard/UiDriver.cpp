#include "UiDriver.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>

namespace ui {

namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr int kMessageBoxTextId = 0xFFFF;

bool Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result, bool ansi = false) {
    DWORD_PTR dummy = 0;
    LRESULT ok = ansi ? SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                            kSendTimeoutMs, result ? result : &dummy)
                      : SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                                            kSendTimeoutMs, result ? result : &dummy);
    return ok != 0;
}

std::wstring ClassName(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

bool IsDialogWindow(HWND window) {
    return ClassName(window) == L"#32770";
}

struct WindowSearch {
    DWORD processId;
    std::vector<HWND> found;
};

// A real CALLBACK function: on i686 a lambda would not convert to the stdcall WNDENUMPROC.
BOOL CALLBACK CollectWindowOfProcess(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->processId) {
        search->found.push_back(window);
    }
    return TRUE;
}

std::vector<HWND> TopLevelWindowsOf(DWORD processId) {
    WindowSearch search{processId, {}};
    EnumWindows(CollectWindowOfProcess, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
}

const char* PageName(PageKind kind) {
    switch (kind) {
        case PageKind::Welcome:
            return "welcome";
        case PageKind::License:
            return "license";
        case PageKind::Folder:
            return "folder";
        case PageKind::Ready:
            return "ready";
        case PageKind::Copy:
            return "copy";
        case PageKind::Finish:
            return "finish";
        case PageKind::None:
            break;
    }
    return "none";
}

PageKind ClassifyPage(HWND page) {
    if (HasControl(page, 1017)) {
        return PageKind::Copy;
    }
    if (HasControl(page, 1014)) {
        return PageKind::Ready;
    }
    if (HasControl(page, 1012)) {
        return PageKind::Folder;
    }
    if (HasControl(page, 1007)) {
        return PageKind::License;
    }
    if (HasControl(page, 1019) && !HasControl(page, 1018)) {
        return PageKind::Welcome;
    }
    if (!HasControl(page, 1019) && !HasControl(page, 1018) && ItemText(page, IDCANCEL) == L"關閉(&C)") {
        return PageKind::Finish;
    }
    return PageKind::None;
}

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), length);
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), length, nullptr, nullptr);
    return utf8;
}

std::string ToAnsi(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string ansi(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), ansi.data(), length, nullptr, nullptr);
    return ansi;
}

std::wstring FromAnsi(const std::string& ansi) {
    if (ansi.empty()) {
        return {};
    }
    const int length = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), wide.data(), length);
    return wide;
}

std::wstring ToWindowsPath(const std::string& path) {
    std::wstring wide = Widen(path);
    std::replace(wide.begin(), wide.end(), L'/', L'\\');
    // A Unix path from the build: wine maps the Unix root to drive Z:.
    if (!path.empty() && path[0] == '/') {
        wide = L"Z:" + wide;
    }
    return wide;
}

std::wstring SetupExePath() {
    wchar_t buffer[4096] = {};
    const DWORD length = GetEnvironmentVariableW(L"SETUP_EXE", buffer, 4096);
    if (length > 0 && length < 4096) {
        return ToWindowsPath(Narrow(buffer));
    }
#ifdef SETUP_EXE_PATH
    return ToWindowsPath(SETUP_EXE_PATH);
#else
    return {};
#endif
}

// --- Medium ---------------------------------------------------------------------------------------

Medium::Medium(const std::wstring& folderName) {
    static unsigned counter = 0;
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    folder_ = std::wstring(temp) + (folderName.empty() ? L"ui-medium" : folderName) + L"-" +
              std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
    if (!CreateDirectoryW(folder_.c_str(), nullptr)) {
        return;
    }
    const std::wstring setup = SetupExePath();
    ok_ = !setup.empty() && CopyFileW(setup.c_str(), setupPath().c_str(), TRUE);
    files_.push_back(L"Setup.exe");
    ok_ = ok_ && WriteFile(L"eula.txt", ToAnsi(L"最終使用者授權合約\r\n請仔細閱讀以下條款。\r\n")) &&
          WriteFile(L"den.dat", "den") && WriteFile(L"launch.ini", "[launch]\r\n");
}

Medium::~Medium() {
    for (const std::wstring& name : files_) {
        const std::wstring path = folder_ + L"\\" + name;
        // Setup.exe stays locked for a moment after its process has ended.
        WaitFor(
            [&] { return DeleteFileW(path.c_str()) || GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES; },
            5000);
    }
    RemoveDirectoryW(folder_.c_str());
}

bool Medium::WriteFile(const std::wstring& name, const std::string& bytes) {
    const std::wstring path = folder_ + L"\\" + name;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (std::find(files_.begin(), files_.end(), name) == files_.end()) {
        files_.push_back(name);
    }
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool Medium::RemoveFile(const std::wstring& name) {
    return DeleteFileW((folder_ + L"\\" + name).c_str()) != 0;
}

std::vector<HWND> VisibleDialogsOf(DWORD processId) {
    std::vector<HWND> dialogs;
    for (HWND window : TopLevelWindowsOf(processId)) {
        if (IsWindowVisible(window) && IsDialogWindow(window)) {
            dialogs.push_back(window);
        }
    }
    return dialogs;
}

// --- Wizard ---------------------------------------------------------------------------------------

Wizard::Wizard(const Medium& medium) : Wizard(medium.setupPath()) {}

Wizard::Wizard(const std::wstring& path) {
    std::wstring commandLine = L"\"" + path + L"\"";
    // Started from elsewhere, as from a shortcut: the wizard must find its files beside itself, not
    // in the current folder.
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, temp, &startup, &info)) {
        process_ = info.hProcess;
        thread_ = info.hThread;
        processId_ = info.dwProcessId;
    }
}

Wizard::~Wizard() {
    if (process_ != nullptr) {
        if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, 10000);
        }
        CloseHandle(thread_);
        CloseHandle(process_);
    }
}

bool Wizard::HasExited() const {
    return process_ == nullptr || WaitForSingleObject(process_, 0) != WAIT_TIMEOUT;
}

PageKind Wizard::CurrentPage(HWND* window) const {
    for (HWND candidate : TopLevelWindowsOf(processId_)) {
        if (!IsWindowVisible(candidate) || !IsDialogWindow(candidate) || GetWindow(candidate, GW_OWNER) != nullptr) {
            continue;
        }
        const PageKind kind = ClassifyPage(candidate);
        if (kind != PageKind::None) {
            if (window) {
                *window = candidate;
            }
            return kind;
        }
    }
    return PageKind::None;
}

HWND Wizard::WaitForPage(PageKind kind, DWORD timeoutMs) const {
    HWND found = nullptr;
    const bool ok = WaitFor(
        [&] {
            HWND window = nullptr;
            if (CurrentPage(&window) == kind) {
                found = window;
                return true;
            }
            return HasExited();
        },
        timeoutMs);
    return ok ? found : nullptr;
}

HWND Wizard::WaitForPageWindow(PageKind kind, DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND candidate : TopLevelWindowsOf(processId_)) {
                if (IsDialogWindow(candidate) && GetWindow(candidate, GW_OWNER) == nullptr &&
                    ClassifyPage(candidate) == kind) {
                    found = candidate;
                    return true;
                }
            }
            return HasExited();
        },
        timeoutMs);
    return found;
}

HWND Wizard::FindAnyMessageBox() const {
    for (HWND window : VisibleDialogsOf(processId_)) {
        if (GetWindow(window, GW_OWNER) != nullptr && HasControl(window, 0xFFFF)) {
            return window;
        }
    }
    return nullptr;
}

bool Wizard::WaitForExit(DWORD* exitCode, DWORD timeoutMs) const {
    if (process_ == nullptr || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    return GetExitCodeProcess(process_, exitCode) != 0;
}

std::string Wizard::Describe() const {
    std::string text = "windows of process " + std::to_string(processId_) + (HasExited() ? " (ended)" : "") + ":";
    for (HWND window : TopLevelWindowsOf(processId_)) {
        char line[512];
        std::snprintf(line, sizeof line, "\n  %p class=%s visible=%d owner=%p page=%s caption=\"%s\"",
                      static_cast<void*>(window), Narrow(ClassName(window)).c_str(), IsWindowVisible(window) ? 1 : 0,
                      static_cast<void*>(GetWindow(window, GW_OWNER)), PageName(ClassifyPage(window)),
                      Narrow(Text(window)).c_str());
        text += line;
    }
    return text;
}

// --- Controls -------------------------------------------------------------------------------------

bool HasControl(HWND page, int id) {
    return GetDlgItem(page, id) != nullptr;
}

std::wstring Text(HWND window) {
    DWORD_PTR length = 0;
    if (window == nullptr || !Send(window, WM_GETTEXTLENGTH, 0, 0, &length)) {
        return {};
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!Send(window, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()), &copied)) {
        return {};
    }
    text.resize(std::min<size_t>(copied, length));
    return text;
}

std::wstring ItemText(HWND page, int id) {
    return Text(GetDlgItem(page, id));
}

std::string ItemAnsiText(HWND page, int id) {
    HWND control = GetDlgItem(page, id);
    DWORD_PTR length = 0;
    if (control == nullptr || !Send(control, WM_GETTEXTLENGTH, 0, 0, &length, true)) {
        return {};
    }
    // The narrow length may be an upper bound only; leave room for a double-byte text either way.
    const size_t capacity = length * 2 + 2;
    std::string text(capacity, '\0');
    DWORD_PTR copied = 0;
    if (!Send(control, WM_GETTEXT, capacity, reinterpret_cast<LPARAM>(text.data()), &copied, true)) {
        return {};
    }
    text.resize(std::min<size_t>(copied, capacity));
    return text;
}

bool IsItemChecked(HWND page, int id) {
    DWORD_PTR state = 0;
    HWND control = GetDlgItem(page, id);
    return control != nullptr && Send(control, BM_GETCHECK, 0, 0, &state) && state == BST_CHECKED;
}

bool IsItemEnabled(HWND page, int id) {
    HWND control = GetDlgItem(page, id);
    return control != nullptr && IsWindowEnabled(control);
}

LONG_PTR ItemStyle(HWND page, int id) {
    HWND control = GetDlgItem(page, id);
    return control ? GetWindowLongPtrW(control, GWL_STYLE) : 0;
}

bool SetItemText(HWND page, int id, const std::wstring& text) {
    HWND control = GetDlgItem(page, id);
    DWORD_PTR result = 0;
    return control != nullptr && Send(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &result) &&
           result != 0;
}

int ItemProgressPosition(HWND page, int id) {
    HWND control = GetDlgItem(page, id);
    DWORD_PTR position = 0;
    return control != nullptr && Send(control, PBM_GETPOS, 0, 0, &position) ? static_cast<int>(position) : -1;
}

bool Click(HWND page, int id) {
    HWND control = GetDlgItem(page, id);
    return control != nullptr && PostMessageW(control, BM_CLICK, 0, 0);
}

bool Command(HWND page, int id) {
    HWND control = GetDlgItem(page, id);
    return PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

HWND FocusedControl(HWND page) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    const DWORD thread = GetWindowThreadProcessId(page, nullptr);
    if (!GetGUIThreadInfo(thread, &info) || info.hwndFocus == nullptr) {
        return page;
    }
    return info.hwndFocus;
}

bool PressEscape(HWND page) {
    HWND target = FocusedControl(page);
    if (target != page && !IsChild(page, target)) {
        return false;
    }
    // Repeat count 1, scan code 1 (Esc); the key-up has the previous-state and transition bits set.
    return PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001) &&
           PostMessageW(target, WM_KEYUP, VK_ESCAPE, static_cast<LPARAM>(0xC0010001u));
}

bool PressCloseBox(HWND page) {
    return PostMessageW(page, WM_SYSCOMMAND, SC_CLOSE, 0);
}

HWND FindMessageBox(HWND owner) {
    DWORD processId = 0;
    GetWindowThreadProcessId(owner, &processId);
    for (HWND window : TopLevelWindowsOf(processId)) {
        if (IsWindowVisible(window) && IsDialogWindow(window) && GetWindow(window, GW_OWNER) == owner &&
            HasControl(window, kMessageBoxTextId)) {
            return window;
        }
    }
    return nullptr;
}

HWND WaitForMessageBox(HWND owner, DWORD timeoutMs) {
    HWND box = nullptr;
    WaitFor(
        [&] {
            box = FindMessageBox(owner);
            return box != nullptr || !IsWindow(owner);
        },
        timeoutMs);
    return box;
}

std::wstring MessageBoxText(HWND box) {
    return ItemText(box, kMessageBoxTextId);
}

bool AnswerMessageBox(HWND box, int buttonId) {
    HWND button = GetDlgItem(box, buttonId);
    return button != nullptr &&
           PostMessageW(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

bool ProcessRuns(const std::wstring& exeName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry)) {
        found = lstrcmpiW(entry.szExeFile, exeName.c_str()) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

PausedWorker::PausedWorker(HWND page) {
    DWORD processId = 0;
    const DWORD pageThread = GetWindowThreadProcessId(page, &processId);
    if (pageThread == 0) {
        return;
    }
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return;
    }
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID != processId || entry.th32ThreadID == pageThread) {
            continue;
        }
        HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID);
        if (thread == nullptr) {
            continue;
        }
        if (SuspendThread(thread) == static_cast<DWORD>(-1)) {
            CloseHandle(thread);
            continue;
        }
        threads_.push_back(thread);
    }
    CloseHandle(snapshot);
}

PausedWorker::~PausedWorker() {
    for (HANDLE thread : threads_) {
        ResumeThread(thread);
        CloseHandle(thread);
    }
}

// --- Pictures -------------------------------------------------------------------------------------

Image CaptureScreenRect(const RECT& rect) {
    Image image;
    image.width = rect.right - rect.left;
    image.height = rect.bottom - rect.top;
    if (image.width <= 0 || image.height <= 0) {
        return {};
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = image.width;
    info.bmiHeader.biHeight = -image.height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap != nullptr) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, image.width, image.height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        const auto* source = static_cast<const std::uint32_t*>(bits);
        image.pixels.resize(static_cast<size_t>(image.width) * image.height);
        for (size_t i = 0; i < image.pixels.size(); ++i) {
            image.pixels[i] = source[i] & 0x00FFFFFFu;
        }
        SelectObject(memory, old);
        DeleteObject(bitmap);
    } else {
        image = {};
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return image;
}

Image CaptureWindow(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return CaptureScreenRect(rect);
}

bool CapturePainted(HWND window, Image* image, DWORD timeoutMs) {
    Image previous;
    return WaitFor(
        [&] {
            // A round trip through the window's thread first: what it was asked to do before is done.
            Send(window, WM_NULL, 0, 0, nullptr);
            Image current = CaptureWindow(window);
            const bool settled = !current.pixels.empty() && current == previous &&
                                 std::any_of(current.pixels.begin(), current.pixels.end(),
                                             [&](std::uint32_t p) { return p != current.pixels[0]; });
            previous = std::move(current);
            if (settled) {
                *image = previous;
            }
            return settled;
        },
        timeoutMs);
}

bool SaveBmp(const Image& image, const std::wstring& path) {
    if (image.width <= 0 || image.height <= 0) {
        return false;
    }
    const DWORD rowBytes = (static_cast<DWORD>(image.width) * 3 + 3) & ~3u;
    const DWORD dataBytes = rowBytes * static_cast<DWORD>(image.height);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER header{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof(file) + sizeof(header);
    file.bfSize = file.bfOffBits + dataBytes;
    header.biSize = sizeof(header);
    header.biWidth = image.width;
    header.biHeight = image.height;  // bottom-up, the form every reader takes
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = dataBytes;
    std::string data(dataBytes, '\0');
    for (int y = 0; y < image.height; ++y) {
        char* row = &data[static_cast<size_t>(image.height - 1 - y) * rowBytes];
        for (int x = 0; x < image.width; ++x) {
            const std::uint32_t p = image.at(x, y);
            row[x * 3 + 0] = static_cast<char>(p & 0xFF);
            row[x * 3 + 1] = static_cast<char>((p >> 8) & 0xFF);
            row[x * 3 + 2] = static_cast<char>((p >> 16) & 0xFF);
        }
    }
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    bool ok = ::WriteFile(handle, &file, sizeof(file), &written, nullptr) && written == sizeof(file);
    ok = ok && ::WriteFile(handle, &header, sizeof(header), &written, nullptr) && written == sizeof(header);
    ok = ok && ::WriteFile(handle, data.data(), dataBytes, &written, nullptr) && written == dataBytes;
    CloseHandle(handle);
    return ok;
}

}  // namespace ui
