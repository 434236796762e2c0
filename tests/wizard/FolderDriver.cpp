#include "FolderDriver.h"

#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>

#include "UiDriver.h"

namespace folderui {

namespace {

constexpr UINT kSendTimeoutMs = 5000;
constexpr char kVeyloranKey[] = "SOFTWARE\\Veyloran";

std::wstring ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return name;
}

bool SendW(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR* result = nullptr) {
    DWORD_PTR dummy = 0;
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK, kSendTimeoutMs,
                               result ? result : &dummy) != 0;
}

// A real CALLBACK function: on i686 a lambda would not convert to the stdcall WNDENUMPROC.
BOOL CALLBACK CollectWindow(HWND window, LPARAM lParam) {
    reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(window);
    return TRUE;
}

std::vector<HWND> Descendants(HWND parent) {
    std::vector<HWND> found;
    EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND DescendantOfClass(HWND parent, const wchar_t* className) {
    for (HWND child : Descendants(parent)) {
        if (lstrcmpiW(ClassOf(child).c_str(), className) == 0) {
            return child;
        }
    }
    return nullptr;
}

// Memory inside the process of a window: the tree view and the browser read and write their pointer
// arguments in their own address space, and the system marshals none of their messages.
class RemoteMemory {
public:
    RemoteMemory(HWND window, SIZE_T size) : size_(size) {
        DWORD processId = 0;
        GetWindowThreadProcessId(window, &processId);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
        if (process_ != nullptr) {
            address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        }
    }
    ~RemoteMemory() {
        if (address_ != nullptr) {
            VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        }
        if (process_ != nullptr) {
            CloseHandle(process_);
        }
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    bool ok() const { return address_ != nullptr; }
    char* at(SIZE_T offset) const { return static_cast<char*>(address_) + offset; }
    bool Write(SIZE_T offset, const void* data, SIZE_T size) const {
        SIZE_T written = 0;
        return offset + size <= size_ && WriteProcessMemory(process_, at(offset), data, size, &written) &&
               written == size;
    }
    bool Read(SIZE_T offset, void* data, SIZE_T size) const {
        SIZE_T read = 0;
        return offset + size <= size_ && ReadProcessMemory(process_, at(offset), data, size, &read) && read == size;
    }

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    SIZE_T size_;
};

}  // namespace

bool SetItemAnsiText(HWND page, int id, const std::string& ansi) {
    HWND control = GetDlgItem(page, id);
    DWORD_PTR result = 0;
    return control != nullptr &&
           SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(ansi.c_str()),
                               SMTO_ABORTIFHUNG | SMTO_BLOCK, kSendTimeoutMs, &result) != 0 &&
           result != 0;
}

bool TypeInto(HWND page, int id, const std::wstring& keys, bool replaceAll) {
    HWND edit = GetDlgItem(page, id);
    if (edit == nullptr) {
        return false;
    }
    // Posted like the keys themselves, so it is done before the first of them arrives.
    // Positions past the end are clamped to it: the caret goes to the end of the text.
    const WPARAM start = replaceAll ? 0 : 0x7FFFFFFF;
    if (!PostMessageW(edit, EM_SETSEL, start, 0x7FFFFFFF)) {
        return false;
    }
    for (wchar_t key : keys) {
        if (!PostMessageW(edit, WM_CHAR, key, 1)) {
            return false;
        }
    }
    return true;
}

std::wstring Megabytes(ULONGLONG bytes) {
    wchar_t text[32];
    std::swprintf(text, 32, L"%u MB", static_cast<unsigned>(static_cast<DWORD>(bytes / 1024 / 1024)));
    return text;
}

bool DriveSizes(const std::wstring& root, ULONGLONG* total, ULONGLONG* free) {
    ULARGE_INTEGER totalBytes{};
    ULARGE_INTEGER freeBytes{};
    if (!GetDiskFreeSpaceExW(root.c_str(), nullptr, &totalBytes, &freeBytes)) {
        return false;
    }
    *total = totalBytes.QuadPart;
    *free = freeBytes.QuadPart;
    return true;
}

// --- Registry -------------------------------------------------------------------------------------

RememberedFolder::RememberedFolder(DWORD type, const std::string& ansiValue) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kVeyloranKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, &disposition) !=
        ERROR_SUCCESS) {
        return;
    }
    createdKey_ = disposition == REG_CREATED_NEW_KEY;
    ok_ = RegSetValueExA(key, "default", 0, type, reinterpret_cast<const BYTE*>(ansiValue.c_str()),
                         static_cast<DWORD>(ansiValue.size() + 1)) == ERROR_SUCCESS;
    RegCloseKey(key);
}

RememberedFolder::~RememberedFolder() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kVeyloranKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        RegDeleteValueA(key, "default");
        RegCloseKey(key);
    }
    if (createdKey_) {
        RegDeleteKeyA(HKEY_CURRENT_USER, kVeyloranKey);
    }
}

bool GameFolderIsRemembered() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kVeyloranKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    const bool found = RegQueryValueExA(key, "default", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

// --- Files ----------------------------------------------------------------------------------------

ScratchTree::ScratchTree(std::wstring root) : root_(std::move(root)) {
    RemoveTree(root_);
}

ScratchTree::~ScratchTree() {
    RemoveTree(root_);
}

void RemoveTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        for (const std::wstring& name : ListFolder(path)) {
            RemoveTree(path + L"\\" + name);
        }
        RemoveDirectoryW(path.c_str());
    } else {
        DeleteFileW(path.c_str());
    }
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadWholeFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    return bytes;
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW data{};
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
        return names;
    }
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(name);
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return names;
}

std::wstring ThroughUnixRoot(const std::wstring& cPath) {
    wchar_t prefix[4096] = {};
    const DWORD length = GetEnvironmentVariableW(L"WINEPREFIX", prefix, 4096);
    if (length == 0 || length >= 4096 || prefix[0] != L'/' || cPath.size() < 3 ||
        (cPath[0] != L'C' && cPath[0] != L'c') || cPath[1] != L':') {
        return {};
    }
    return ui::ToWindowsPath(ui::Narrow(prefix) + "/drive_c") + cPath.substr(2);
}

std::string UnixFileName(const std::wstring& path) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    FARPROC proc = GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    if (proc == nullptr) {
        return {};
    }
    char* name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(proc))(path.c_str());
    if (name == nullptr) {
        return {};
    }
    std::string result = name;
    HeapFree(GetProcessHeap(), 0, name);
    return result;
}

// --- Folder browser -------------------------------------------------------------------------------

namespace {

struct BrowserSearch {
    DWORD processId;
    HWND owner;
    HWND found;
};

BOOL CALLBACK FindBrowserWindow(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<BrowserSearch*>(lParam);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == search->processId && IsWindowVisible(window) && ClassOf(window) == L"#32770" &&
        GetWindow(window, GW_OWNER) == search->owner && DescendantOfClass(window, WC_TREEVIEWW) != nullptr) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND FindFolderBrowser(HWND page) {
    BrowserSearch search{0, page, nullptr};
    GetWindowThreadProcessId(page, &search.processId);
    EnumWindows(FindBrowserWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForFolderBrowser(HWND page) {
    HWND browser = nullptr;
    ui::WaitFor([&] {
        browser = FindFolderBrowser(page);
        return browser != nullptr || !IsWindow(page);
    });
    return browser;
}

std::string DescribeControls(HWND dialog) {
    std::string text = "controls of " + ui::Narrow(ClassOf(dialog)) + " \"" + ui::Narrow(ui::Text(dialog)) + "\":";
    for (HWND child : Descendants(dialog)) {
        char line[512];
        std::snprintf(line, sizeof line, "\n  class=%s id=%d visible=%d enabled=%d text=\"%s\"",
                      ui::Narrow(ClassOf(child)).c_str(), GetDlgCtrlID(child), IsWindowVisible(child) ? 1 : 0,
                      IsWindowEnabled(child) ? 1 : 0, ui::Narrow(ui::Text(child)).c_str());
        text += line;
    }
    return text;
}

std::wstring SelectedTreeText(HWND browser) {
    HWND tree = DescendantOfClass(browser, WC_TREEVIEWW);
    DWORD_PTR item = 0;
    if (tree == nullptr || !SendW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0, &item) || item == 0) {
        return {};
    }
    constexpr int kTextUnits = MAX_PATH;
    RemoteMemory remote(tree, sizeof(TVITEMW) + kTextUnits * sizeof(wchar_t));
    if (!remote.ok()) {
        return {};
    }
    TVITEMW request{};
    request.mask = TVIF_HANDLE | TVIF_TEXT;
    request.hItem = reinterpret_cast<HTREEITEM>(item);
    request.pszText = reinterpret_cast<wchar_t*>(remote.at(sizeof(TVITEMW)));
    request.cchTextMax = kTextUnits;
    const wchar_t none = L'\0';
    DWORD_PTR ok = 0;
    wchar_t text[kTextUnits + 1] = {};
    if (!remote.Write(0, &request, sizeof request) || !remote.Write(sizeof(TVITEMW), &none, sizeof none) ||
        !SendW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(remote.at(0)), &ok) || !ok ||
        !remote.Read(sizeof(TVITEMW), text, kTextUnits * sizeof(wchar_t))) {
        return {};
    }
    return text;
}

bool SelectInBrowser(HWND browser, const std::wstring& folder, std::string* why) {
    HWND tree = DescendantOfClass(browser, WC_TREEVIEWW);
    HWND ok = GetDlgItem(browser, IDOK);
    if (tree == nullptr || ok == nullptr) {
        *why = "no tree view or no OK button; " + DescribeControls(browser);
        return false;
    }
    // The tree shows each folder by the shell's display name.
    SHFILEINFOW info{};
    if (!SHGetFileInfoW(folder.c_str(), 0, &info, sizeof info, SHGFI_DISPLAYNAME) || info.szDisplayName[0] == 0) {
        *why = "the shell has no display name for " + ui::Narrow(folder);
        return false;
    }
    const std::wstring shown = info.szDisplayName;
    const SIZE_T bytes = (folder.size() + 1) * sizeof(wchar_t);
    RemoteMemory remote(browser, bytes);
    if (!remote.ok() || !remote.Write(0, folder.c_str(), bytes)) {
        *why = "could not write the folder into the browser's process";
        return false;
    }
    // The selection a program gives its browser: the dialog walks its tree down to the folder, expanding
    // what lies on the way, and selects it just as a click would. Asked again while the tree does not
    // show it: a walk that meets a branch still being filled stops short.
    const bool selected = ui::WaitFor([&] {
        DWORD_PTR unused = 0;
        SendW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(remote.at(0)), &unused);
        return ui::WaitFor([&] { return SelectedTreeText(browser) == shown && IsWindowEnabled(ok); }, 1000);
    });
    if (!selected) {
        *why = "the tree shows \"" + ui::Narrow(SelectedTreeText(browser)) + "\", not \"" + ui::Narrow(shown) +
               "\"; " + DescribeControls(browser);
        return false;
    }
    if (HWND edit = DescendantOfClass(browser, L"Edit")) {
        ui::SetItemText(browser, GetDlgCtrlID(edit), folder);
    }
    return true;
}

std::wstring ShellPathOf(const std::wstring& folder) {
    PIDLIST_ABSOLUTE items = nullptr;
    if (FAILED(SHParseDisplayName(folder.c_str(), nullptr, &items, 0, nullptr))) {
        return {};
    }
    char path[MAX_PATH + 1] = {};
    const bool ok = SHGetPathFromIDListA(items, path);
    CoTaskMemFree(items);
    return ok ? ui::FromAnsi(path) : std::wstring();
}

}  // namespace folderui
