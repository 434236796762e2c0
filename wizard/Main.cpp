// Entry and page loop: start-up, one modal page after another until a page stores Exit, then the
// post-install page.
#include <windows.h>

#include <string>
#include <vector>

#include "Dialogs.h"
#include "Encoding.h"
#include "Pages.h"
#include "Paths.h"
#include "Platform.h"
#include "SetupState.h"
#include "ShellHeaders.h"

namespace {

// The maker's page opened after a successful install on a computer that is online.
constexpr char kMakerPageAddress[] = "http://www.tarnwick.com/link/00000169";

constexpr std::uint32_t kLicenseChunkBytes = 65536;

// The page procedure of each WizardPage value from Welcome to Finish; the template is 129 + value.
constexpr DLGPROC kPageProcedures[] = {WelcomePageProc, LicensePageProc, FolderPageProc,
                                       ReadyPageProc,   CopyPageProc,    FinishPageProc};
static_assert(sizeof(kPageProcedures) / sizeof(kPageProcedures[0]) == Exit, "one procedure per page");

bool canSearchSystemFolderOnly = false;

// A setup program is started from wherever the user downloaded or copied it, often beside DLLs it
// never asked for (the "DLL planting" attack): from here on, DLLs loaded without a full path come
// from the system folder only. Looked up at run time because Windows 7 without KB2533623 lacks it;
// there the current folder at least leaves the search.
void RestrictDllSearch() {
    using SetDefaultDllDirectoriesProc = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = ::GetModuleHandleA("kernel32.dll");
    const auto setDefault = kernel == nullptr ? nullptr
                                              : reinterpret_cast<SetDefaultDllDirectoriesProc>(reinterpret_cast<void*>(
                                                    ::GetProcAddress(kernel, "SetDefaultDllDirectories")));
    if (setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        canSearchSystemFolderOnly = true;
        return;
    }
    ::SetDllDirectoryA("");
}

// A DLL that the import table must not name, because it is no known system DLL and the loader would
// look for it beside the program first.
HMODULE LoadSystemLibrary(const char* name) {
    if (canSearchSystemFolderOnly) {
        return ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    }
    // Without the search flags the only safe request is a full path into the system folder.
    char folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return nullptr;
    }
    const std::string path = std::string(folder, length) + '\\' + name;
    return ::LoadLibraryExA(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::string ProgramPath() {
    std::vector<wchar_t> wide(4096);
    DWORD length = 0;
    for (;;) {
        length = ::GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
        // A full buffer means the path was cut (Windows XP does not even say so by an error code, nor
        // terminate it); the longest path Windows knows is 32767 units.
        if (length < wide.size() || wide.size() >= 32768) {
            break;
        }
        wide.resize(wide.size() * 2);
    }
    if (length == 0) {
        return std::string();
    }
    wide[length < wide.size() ? length : wide.size() - 1] = L'\0';

    char utf8[4096];
    const int written = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, utf8, sizeof(utf8), nullptr, nullptr);
    if (written > 0) {
        return std::string(utf8, static_cast<std::size_t>(written - 1));
    }
    // A path of many non-ASCII names can take more than 4096 bytes in UTF-8. An empty source folder
    // would leave the license and every volume unreachable (and JoinPath takes no empty left side),
    // so convert it again into a buffer of the size it needs.
    const int needed = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) {
        return std::string();
    }
    std::string longPath(static_cast<std::size_t>(needed), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), -1, &longPath[0], needed, nullptr, nullptr);
    longPath.resize(static_cast<std::size_t>(needed - 1));
    return longPath;
}

std::string SourceFolder() {
    std::string folder = ProgramPath();
    const std::size_t cut = FindLastSeparator(folder);
    if (cut != kNoPosition) {
        folder.resize(cut);
    }
    // Only a failed GetModuleFileNameW leaves nothing; the current folder is then the best guess of
    // where the program was started from, and keeps JoinPath's left side non-empty.
    return folder.empty() ? std::string(".") : folder;
}

void LoadLicenseText() {
    const platform::FileHandle file = platform::OpenForReading(JoinPath(setupState.sourceFolder, "eula.txt"));
    if (file == platform::kInvalidFile) {
        return;
    }
    std::vector<char> chunk(kLicenseChunkBytes);
    std::uint32_t got = 0;
    while (platform::ReadFile(file, chunk.data(), kLicenseChunkBytes, got) && got > 0) {
        setupState.licenseText.append(chunk.data(), got);
    }
    platform::CloseFile(file);
}

std::string ProgramFilesFolder() {
    char path[MAX_PATH] = "";
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAM_FILES, &items)) && items != nullptr) {
        if (!::SHGetPathFromIDListA(items, path)) {
            path[0] = '\0';
        }
        ::CoTaskMemFree(items);
    }
    if (path[0] != '\0') {
        return AnsiToUtf8(path);
    }
    // A shell that cannot name the folder (a stripped-down system, a broken profile) still gets a
    // default the install-folder page accepts: the usual folder on the Windows drive.
    char windows[MAX_PATH] = "";
    const UINT length = ::GetSystemWindowsDirectoryA(windows, MAX_PATH);
    const bool hasDrive = length >= 2 && length < MAX_PATH && windows[1] == ':';
    return (hasDrive ? std::string(windows, 2) : std::string("C:")) + "\\Program Files";
}

// UTF-8, like every folder the program holds; the ending backslash is part of the default.
std::string DefaultInstallFolder() {
    return ProgramFilesFolder() + "\\Tarnwick\\Veyloran\\";
}

void RunPageLoop() {
    setupState.currentPage = Welcome;
    while (setupState.currentPage != Exit) {
        const WizardPage page = setupState.currentPage;
        if (page < Welcome || page > Finish) {
            break;
        }
        if (!dialogs::ShowPage(page, kPageProcedures[page])) {
            // A page that cannot be made leaves currentPage as it was and would fail again at once,
            // forever. Offer the finish page once instead; if even that fails, leave.
            setupState.currentPage = page == Finish ? Exit : Finish;
        }
    }
}

bool IsOnline() {
    // wininet is no known system DLL, so it stays out of the import table.
    HMODULE wininet = LoadSystemLibrary("wininet.dll");
    if (wininet == nullptr) {
        return false;
    }
    using InternetGetConnectedStateProc = BOOL(WINAPI*)(LPDWORD, DWORD);
    const auto connected = reinterpret_cast<InternetGetConnectedStateProc>(
        reinterpret_cast<void*>(::GetProcAddress(wininet, "InternetGetConnectedState")));
    DWORD flags = 0;
    const bool online = connected != nullptr && connected(&flags, 0) != FALSE;
    ::FreeLibrary(wininet);
    return online;
}

void OpenPostInstallPage() {
    if (IsOnline()) {
        ::ShellExecuteA(nullptr, "open", kMakerPageAddress, nullptr, nullptr, SW_SHOW);
        return;
    }
    if (setupState.installFolder.empty()) {
        return;
    }
    const std::string localPage = Utf8ToAnsi(JoinPath(setupState.installFolder, "Bin\\install.html"));
    if (::GetFileAttributesA(localPage.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ::ShellExecuteA(nullptr, "open", localPage.c_str(), nullptr, nullptr, SW_SHOW);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Before anything else can load a DLL.
    RestrictDllSearch();

    setupState.sourceFolder = SourceFolder();
    ::CoInitialize(nullptr);
    setupState.moduleInstance = instance;
    LoadLicenseText();
    setupState.installFolder = DefaultInstallFolder();

    RunPageLoop();

    if (setupState.installSucceeded) {
        OpenPostInstallPage();
    }
    ::CoUninitialize();
    return 0;
}
