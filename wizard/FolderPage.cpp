#include "FolderPage.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "Encoding.h"
#include "Pages.h"
#include "Paths.h"
#include "ResourceIds.h"
#include "SetupState.h"
#include "ShellHeaders.h"
#include "Texts.h"

namespace {

constexpr UINT kPollMilliseconds = 250;
constexpr unsigned kFolderEditLimit = 260;
constexpr std::int64_t kRequiredBytes = std::int64_t{RequiredMegabytes} * 1024 * 1024;
constexpr DWORD kRegistryBufferSize = 65536;
constexpr char kNoSize[] = "---";

// installFolder is UTF-8 inside the program; the edit field speaks the ANSI code page. Converting here,
// and only here, keeps a Big5 folder such as C:\許功蓋 intact: the second byte of each of those
// characters is 0x5C, which the path rules would take for a backslash, while no byte of a multi-byte
// UTF-8 character ever is one.
void ReadFolderField(HWND page) {
    setupState.installFolder = AnsiToUtf8(dialogs::GetItemText(page, IDC_FOLDER_EDIT));
}

void ShowFolderField(HWND page) {
    dialogs::SetItemText(page, IDC_FOLDER_EDIT, Utf8ToAnsi(setupState.installFolder));
}

std::string Megabytes(std::uint64_t bytes) {
    // Only the low 32 bits are printed, as "%u" of the count always has.
    const auto megabytes = static_cast<std::uint32_t>(bytes / 1024 / 1024);
    char text[32];
    std::snprintf(text, sizeof text, "%u MB", static_cast<unsigned>(megabytes));
    return text;
}

// The first static text of the template that has no id of its own and shows no picture: on template
// 131 the instruction line above the size labels.
HWND FindInstructionLabel(HWND page) {
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(child);
        if (id != -1 && id != 0xFFFF) {
            continue;
        }
        char className[16] = {};
        GetClassNameA(child, className, sizeof className);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (lstrcmpiA(className, "Static") == 0 && (style & SS_TYPEMASK) != SS_BITMAP) {
            return child;
        }
    }
    return nullptr;
}

// The hint for a game folder the registry does not know. Sent to item -1 it would land on the banner
// picture, the first of the template's controls without an id, and nobody would see it. A cue banner
// on the edit field would not do either: the field always holds a folder, so the cue never shows. The
// instruction line is the one text control the user reads before choosing, so the hint takes its place
// there; the field, the Browse button and the "安裝路徑" caption still say what to do.
void ShowGameFolderHint(HWND page) {
    if (HWND label = FindInstructionLabel(page)) {
        SetWindowTextA(label, kTextChooseGameFolder);
    }
}

INT_PTR AcceptFolder(HWND page, WPARAM wParam) {
    ReadFolderField(page);
    UpdateSpaceLabels(page, false);
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;
    if (!GetInstallDriveSpace(totalBytes, freeBytes)) {
        dialogs::ShowMessage(page, kTextInvalidPath, MB_OK | MB_ICONWARNING);
        return FALSE;
    }
    if (static_cast<std::int64_t>(freeBytes) < kRequiredBytes) {
        dialogs::ShowMessage(page, kTextNoSpace, MB_OK | MB_ICONWARNING);
        return FALSE;
    }
    dialogs::EndPage(page, Ready, wParam);
    return TRUE;
}

}  // namespace

DriveSpaceQuery QueryDriveSpace = QueryDriveSpaceFromSystem;

bool QueryDriveSpaceFromSystem(const char* ansiRoot, std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
    ULARGE_INTEGER total{};
    ULARGE_INTEGER totalFree{};
    // The whole free space of the volume, not the share a per-user quota leaves to the caller.
    if (!GetDiskFreeSpaceExA(ansiRoot, nullptr, &total, &totalFree)) {
        return false;
    }
    totalBytes = total.QuadPart;
    freeBytes = totalFree.QuadPart;
    return true;
}

bool GetInstallDriveSpace(std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
    const std::string& folder = setupState.installFolder;
    if (!IsValidInstallPath(folder)) {
        return false;
    }
    // The form test has made the first byte an ASCII letter, so the root reads the same in UTF-8 and in
    // the ANSI code page; a lower-case letter stays lower-case.
    const char root[] = {folder[0], ':', '\\', '\0'};
    if (!QueryDriveSpace(root, totalBytes, freeBytes)) {
        return false;
    }
    return static_cast<std::int64_t>(totalBytes) > 0;
}

void UpdateSpaceLabels(HWND page, bool force) {
    // Outlives the page's windows: each visit starts with a forced refresh anyway.
    static std::string lastShownFolder;
    if (!force && setupState.installFolder == lastShownFolder) {
        return;
    }
    // Remembered before the test, so a folder that fails it is not queried again while it stays.
    lastShownFolder = setupState.installFolder;
    std::uint64_t totalBytes = 0;
    std::uint64_t freeBytes = 0;
    if (GetInstallDriveSpace(totalBytes, freeBytes)) {
        dialogs::SetItemText(page, IDC_TOTAL_SIZE, Megabytes(totalBytes));
        dialogs::SetItemText(page, IDC_FREE_SPACE, Megabytes(freeBytes));
    } else {
        dialogs::SetItemText(page, IDC_TOTAL_SIZE, kNoSize);
        dialogs::SetItemText(page, IDC_FREE_SPACE, kNoSize);
    }
    dialogs::SetItemText(page, IDC_NEEDED_SPACE, Megabytes(std::uint64_t{RequiredMegabytes} * 1024 * 1024));
}

bool ReadRememberedGameFolder() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Veyloran", 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    std::vector<char> buffer(kRegistryBufferSize, '\0');
    DWORD type = 0;
    DWORD size = kRegistryBufferSize;
    const LONG result = RegQueryValueExA(key, "default", nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    // A value that fills the whole buffer without a terminating zero is taken whole; the scan never
    // runs past the buffer. Such a folder fails the form test, which is what the user then sees.
    const void* zero = std::memchr(buffer.data(), '\0', buffer.size());
    const std::size_t length =
        zero != nullptr ? static_cast<std::size_t>(static_cast<const char*>(zero) - buffer.data()) : buffer.size();
    setupState.installFolder = AnsiToUtf8(std::string(buffer.data(), length));
    return true;
}

bool BrowseForInstallFolder(HWND owner) {
    IMalloc* allocator = nullptr;
    if (FAILED(SHGetMalloc(&allocator))) {
        allocator = nullptr;
    }
    BROWSEINFOA info{};
    info.hwndOwner = owner;
    info.lpszTitle = kTextBrowseTitle;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX | BIF_NEWDIALOGSTYLE;
    LPITEMIDLIST list = SHBrowseForFolderA(&info);
    bool picked = false;
    if (list != nullptr) {
        char path[MAX_PATH + 1] = {};
        if (SHGetPathFromIDListA(list, path)) {
            // Exactly as the shell gives it, with no separator added.
            setupState.installFolder = AnsiToUtf8(path);
            picked = true;
        }
        // The shell's allocator is COM's task allocator, so the list can still be freed without it.
        if (allocator != nullptr) {
            allocator->Free(list);
        } else {
            CoTaskMemFree(list);
        }
    }
    if (allocator != nullptr) {
        allocator->Release();
    }
    return picked;
}

INT_PTR CALLBACK FolderPageProc(HWND page, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG:
            dialogs::SetPageIcon(page);
            if (!ReadRememberedGameFolder()) {
                ShowGameFolderHint(page);
            }
            dialogs::LimitText(page, IDC_FOLDER_EDIT, kFolderEditLimit);
            ShowFolderField(page);
            dialogs::StartTimer(page, kPollMilliseconds);
            UpdateSpaceLabels(page, true);
            return FALSE;
        case WM_TIMER:
            // The field is polled rather than followed through its notifications; the comparison in
            // UpdateSpaceLabels keeps an unchanged field down to one string compare per tick.
            ReadFolderField(page);
            UpdateSpaceLabels(page, false);
            return FALSE;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_BROWSE:
                    if (BrowseForInstallFolder(page)) {
                        ShowFolderField(page);
                        UpdateSpaceLabels(page, false);
                    }
                    return FALSE;
                case IDC_BACK:
                    dialogs::EndPage(page, License, wParam);
                    return TRUE;
                case IDCANCEL:
                    dialogs::EndPage(page, Finish, wParam);
                    return TRUE;
                case IDC_NEXT:
                    return AcceptFolder(page, wParam);
                default:
                    return FALSE;
            }
        case WM_DESTROY:
            dialogs::StopTimer(page);
            return FALSE;
        default:
            return FALSE;
    }
}
