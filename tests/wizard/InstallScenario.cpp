#include "InstallScenario.h"

#include <wininet.h>

#include <algorithm>
#include <cstdio>

#include "FolderDriver.h"
#include "VolumeWriter.h"

namespace {

std::wstring Parent(const std::wstring& path) {
    const size_t cut = path.find_last_of(L"\\/");
    return cut == std::wstring::npos ? std::wstring() : path.substr(0, cut);
}

void SnapshotInto(const std::wstring& folder, const std::string& prefix, Tree& tree) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring path = folder + L"\\" + name;
        const std::string relative = prefix + ui::Narrow(name);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            SnapshotInto(path, relative + "\\", tree);
            continue;
        }
        std::string bytes;
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char chunk[65536];
            DWORD got = 0;
            while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) {
                bytes.append(chunk, got);
            }
            CloseHandle(file);
        } else {
            bytes = "<unreadable>";
        }
        tree[relative] = std::move(bytes);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

bool MakeFolders(const std::wstring& folder) {
    if (folder.empty() || GetFileAttributesW(folder.c_str()) != INVALID_FILE_ATTRIBUTES) {
        return true;
    }
    MakeFolders(Parent(folder));
    return CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string Lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c + 32);
        }
        if (c == '\\') {
            c = '/';
        }
    }
    return text;
}

std::string Backslashed(std::string name) {
    std::replace(name.begin(), name.end(), '/', '\\');
    return name;
}

std::string Printable(const std::string& path) {
    return path.empty() ? "<root>" : path;
}

}  // namespace

Tree Snapshot(const std::wstring& folder) {
    Tree tree;
    SnapshotInto(folder, "", tree);
    return tree;
}

std::string TreeDifference(const Tree& expected, const Tree& actual) {
    std::string text;
    int shown = 0;
    auto note = [&](const std::string& line) {
        if (++shown <= 12) {
            text += "\n  " + line;
        }
    };
    for (const auto& [path, bytes] : expected) {
        const auto it = actual.find(path);
        if (it == actual.end()) {
            note("missing " + Printable(path));
        } else if (it->second != bytes) {
            note("differs " + path + " (" + std::to_string(it->second.size()) + " bytes, expected " +
                 std::to_string(bytes.size()) + ")");
        }
    }
    for (const auto& [path, bytes] : actual) {
        if (expected.count(path) == 0) {
            note("extra " + path + " (" + std::to_string(bytes.size()) + " bytes)");
        }
    }
    if (shown > 12) {
        text += "\n  ... " + std::to_string(shown - 12) + " more";
    }
    return text;
}

bool WriteBinaryFile(const std::wstring& path, const std::string& bytes) {
    if (!MakeFolders(Parent(path))) {
        return false;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

bool WriteTree(const std::wstring& folder, const Tree& files) {
    for (const auto& [path, bytes] : files) {
        if (!WriteBinaryFile(folder + L"\\" + ui::Widen(path), bytes)) {
            return false;
        }
    }
    return true;
}

void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                // A program that ran from here may hold its file for a moment after it ended.
                ui::WaitFor([&] { return DeleteFileW(path.c_str()) != 0; }, 5000);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

std::wstring ScratchPath(const std::wstring& stem) {
    static unsigned counter = 0;
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    return std::wstring(temp) + stem + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
           std::to_wstring(counter++);
}

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[4096] = {};
    const DWORD length = GetEnvironmentVariableW(name, buffer, 4096);
    return length > 0 && length < 4096 ? std::wstring(buffer, length) : std::wstring();
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = static_cast<char>(state >> 24);
    }
    return bytes;
}

// --- Packs ----------------------------------------------------------------------------------------

std::string VoicePack::VolumeBytes(int index) const {
    std::string bytes;
    for (const PackFile& file : volumes[static_cast<size_t>(index)]) {
        bytes += EncodeRecord(file.name, file.data);
    }
    return bytes;
}

Tree VoicePack::Installed() const {
    std::map<std::string, std::string> byKey;  // the file system compares names without case
    std::map<std::string, std::string> shownName;
    for (const auto& volume : volumes) {
        for (const PackFile& file : volume) {
            const std::string key = Lower(file.name);
            if (key == "bin/den.dat" || key == "bin/launch.ini") {
                continue;
            }
            byKey[key] = file.data;
            shownName.emplace(key, Backslashed(file.name));  // the first creator's spelling stays
        }
    }
    Tree tree;
    for (const auto& [key, data] : byKey) {
        tree[shownName[key]] = data;
    }
    tree["Bin\\den.dat"] = den;
    tree["Bin\\launch.ini"] = launch;
    return tree;
}

VoicePack SamplePack(const PackShape& shape) {
    VoicePack pack;
    auto& v = pack.volumes;
    v[0] = {{"Voice\\Common\\greeting.ogg", Pattern(3000, 1)},
            {"Bin\\den.dat", "a packed den.dat, never to be written"},
            {"Voice\\Common\\silence.ogg", ""},
            {"Voice\\角色\\對白001.ogg", Pattern(2100, 2)}};
    v[1] = {{"BIN/LAUNCH.INI", "a packed launch.ini, never to be written"},
            {"Voice/角色/對白002.ogg", Pattern(1900, 3)}};
    v[2] = {{"Music\\theme.ogg", Pattern(4000, 4)}};
    v[3] = {{"Voice\\Common\\greeting.ogg", Pattern(3300, 5)},  // the second disc's newer take
            {"bin\\den.dat", "another packed den.dat"},
            {"Voice\\Disc2\\深層\\夜.ogg", Pattern(2500, 6)}};
    v[4] = {{"Voice\\Disc2\\morning.ogg", Pattern(1200, 7)}};
    v[5] = {{"readme.txt", "Veyloran voice pack\r\n"}};
    if (shape.largeFileBytes > 0) {
        v[1].push_back({"Voice\\Large\\first.ogg", Pattern(shape.largeFileBytes, 8)});
        v[4].push_back({"Voice\\Large\\second.ogg", Pattern(shape.largeFileBytes, 9)});
    }
    if (shape.localPage) {
        v[5].push_back({"Bin\\install.html", "<html><body>Veyloran</body></html>\r\n"});
    }
    for (int volume = 0; volume < 6; ++volume) {
        for (int i = 0; i < shape.filesPerVolume; ++i) {
            char name[64];
            std::snprintf(name, sizeof name, "Voice\\Lines%d\\line%04d.ogg", volume + 1, i);
            v[static_cast<size_t>(volume)].push_back({name, Pattern(512 + i % 7, static_cast<unsigned>(volume * 10000 + i))});
        }
    }
    return pack;
}

Tree EarlierGameFiles() {
    return {{"Veyloran.exe", "MZ the game"},
            {"Bin\\den.dat", "the game's own den.dat"},
            {"Bin\\launch.ini", "[launch]\r\nlanguage=en\r\n"},
            {"Voice\\Common\\greeting.ogg", "the game's first greeting"},
            {"Save\\slot1.sav", Pattern(700, 99)}};
}

// --- Disc drive -----------------------------------------------------------------------------------

CdDrive::CdDrive() {
    const std::wstring folder = Environment(L"UI_CDROM_DIR");
    if (folder.empty()) {
        return;
    }
    current_ = ui::ToWindowsPath(ui::Narrow(folder));
    const std::wstring parent = Parent(current_);
    disc1Out_ = parent + L"\\disc1-out";
    disc2_ = parent + L"\\disc2";
    ok_ = GetFileAttributesW(current_.c_str()) != INVALID_FILE_ATTRIBUTES &&
          GetFileAttributesW(L"D:\\") != INVALID_FILE_ATTRIBUTES;
}

CdDrive::~CdDrive() {
    if (current_.empty()) {
        return;
    }
    RemoveTree(current_);
    RemoveTree(disc1Out_);
    RemoveTree(disc2_);
    CreateDirectoryW(current_.c_str(), nullptr);  // an empty drive for the next test
}

std::wstring CdDrive::DiscFolder(int disc) const {
    if (disc == 1) {
        return changed_ ? disc1Out_ : current_;
    }
    return changed_ ? current_ : disc2_;
}

bool CdDrive::WriteOnDisc(int disc, const std::wstring& name, const std::string& bytes) {
    return WriteBinaryFile(DiscFolder(disc) + L"\\" + name, bytes);
}

bool CdDrive::LayOut(const VoicePack& pack, bool allOnFirst) {
    if (!ok_ || !CopyFileW(ui::SetupExePath().c_str(), (current_ + L"\\Setup.exe").c_str(), FALSE)) {
        return false;
    }
    bool done = CreateDirectoryW(disc2_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    done = done && WriteOnDisc(1, L"eula.txt", ui::ToAnsi(L"最終使用者授權合約\r\n")) &&
           WriteOnDisc(1, L"den.dat", pack.den) && WriteOnDisc(1, L"launch.ini", pack.launch);
    for (int i = 0; i < 6 && done; ++i) {
        done = WriteOnDisc(i < 3 || allOnFirst ? 1 : 2, L"data" + std::to_wstring(i + 1) + L".cab", pack.VolumeBytes(i));
    }
    return done;
}

bool CdDrive::LayOutFrom(const std::wstring& disc1, const std::wstring& disc2) {
    if (!ok_) {
        return false;
    }
    bool done = CreateDirectoryW(disc2_.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    const std::pair<std::wstring, std::wstring> discs[] = {{disc1, current_}, {disc2, disc2_}};
    for (const auto& [from, to] : discs) {
        WIN32_FIND_DATAW found{};
        HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) {
            return false;
        }
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                done = done && CopyFileW((from + L"\\" + found.cFileName).c_str(),
                                         (to + L"\\" + found.cFileName).c_str(), FALSE);
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return done;
}

bool CdDrive::ChangeDisc() {
    if (changed_ || !MoveFileW(current_.c_str(), disc1Out_.c_str())) {
        return false;
    }
    changed_ = MoveFileW(disc2_.c_str(), current_.c_str()) != 0;
    return changed_;
}

bool WineSaysOnline() {
    DWORD flags = 0;
    return InternetGetConnectedState(&flags, 0) != FALSE;
}

// --- Watching the copy page -----------------------------------------------------------------------

void CopyWatch::Sample(HWND page) {
    if (!IsWindow(page)) {
        return;
    }
    const std::wstring volume = ui::ItemText(page, kVolumeText);
    if (volumeTexts.empty() || volumeTexts.back() != volume) {
        volumeTexts.push_back(volume);
    }
    const std::wstring file = ui::ItemText(page, kCurrentFile);
    if (fileTexts.empty() || fileTexts.back() != file) {
        fileTexts.push_back(file);
    }
    const int bar = ui::ItemProgressPosition(page, kProgressBar);
    if (bar >= 0 && (barPositions.empty() || barPositions.back() != bar)) {
        barPositions.push_back(bar);
    }
}

bool CopyWatch::Saw(const std::wstring& volumeText) const {
    return std::find(volumeTexts.begin(), volumeTexts.end(), volumeText) != volumeTexts.end();
}

int CopyWatch::HighestBar() const {
    return barPositions.empty() ? -1 : *std::max_element(barPositions.begin(), barPositions.end());
}

std::string CopyWatch::Describe() const {
    std::string text = "label 1016:";
    for (const auto& t : volumeTexts) {
        text += " \"" + ui::Narrow(t) + "\"";
    }
    text += "; label 1015: " + std::to_string(fileTexts.size()) + " texts";
    if (!fileTexts.empty()) {
        text += ", last \"" + ui::Narrow(fileTexts.back()) + "\"";
    }
    text += "; bar:";
    for (size_t i = 0; i < barPositions.size() && i < 20; ++i) {
        text += " " + std::to_string(barPositions[i]);
    }
    return text;
}

// --- The fixture ----------------------------------------------------------------------------------

namespace {

std::wstring BrowserPath() {
    const std::wstring given = Environment(L"UI_BROWSER_EXE");
    if (!given.empty()) {
        return ui::ToWindowsPath(ui::Narrow(given));
    }
    wchar_t own[4096] = {};
    GetModuleFileNameW(nullptr, own, 4096);
    return Parent(own) + L"\\browser\\ui_browser.exe";
}

bool SetDefault(const std::wstring& key, const std::wstring& value) {
    HKEY handle = nullptr;
    if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    const LONG result = RegSetValueExW(handle, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(handle);
    return result == ERROR_SUCCESS;
}

// Web addresses and .html files open the stand-in instead of winebrowser. No DDE: the shell would try
// that before the command.
bool RegisterStandInBrowser(std::string* why) {
    const std::wstring browser = BrowserPath();
    if (GetFileAttributesW(browser.c_str()) == INVALID_FILE_ATTRIBUTES) {
        *why = "no stand-in browser at " + ui::Narrow(browser);
        return false;
    }
    const std::wstring command = L"\"" + browser + L"\" \"%1\"";
    for (const wchar_t* kind : {L"http", L"https", L"htmlfile"}) {
        RegDeleteTreeW(HKEY_CLASSES_ROOT, (std::wstring(kind) + L"\\shell\\open\\ddeexec").c_str());
        if (!SetDefault(std::wstring(kind) + L"\\shell\\open\\command", command)) {
            *why = "cannot register the stand-in browser for " + ui::Narrow(kind);
            return false;
        }
    }
    if (!SetDefault(L".html", L"htmlfile")) {
        *why = "cannot register .html";
        return false;
    }
    return true;
}

}  // namespace

void InstallTest::SetUp() {
    WizardTest::SetUp();
    static std::string registration = [] {
        std::string why;
        return RegisterStandInBrowser(&why) ? std::string() : why;
    }();
    ASSERT_EQ(registration, "");
    SetEnvironmentVariableW(L"UI_BROWSER_LOG", browserLog_.c_str());
}

void InstallTest::TearDown() {
    WizardTest::TearDown();
    SetEnvironmentVariableW(L"UI_BROWSER_LOG", nullptr);
    DeleteFileW(browserLog_.c_str());
    RemoveTree(installFolder_);
}

HWND InstallTest::WalkToReady(const std::wstring& setupPath, const std::wstring& installFolder) {
    wizard_ = std::make_unique<ui::Wizard>(setupPath);
    EXPECT_TRUE(wizard_->started()) << "CreateProcess failed for " << ui::Narrow(setupPath);
    HWND page = Expect(ui::PageKind::Welcome);
    if (page == nullptr) {
        return nullptr;
    }
    page = Go(page, kNext, ui::PageKind::License);
    if (page == nullptr || !SetAgreement(page, true)) {
        return nullptr;
    }
    page = Go(page, kNext, ui::PageKind::Folder);
    if (page == nullptr || !ui::SetItemText(page, kFolderEdit, installFolder)) {
        return nullptr;
    }
    return Go(page, kNext, ui::PageKind::Ready);
}

HWND InstallTest::WalkToCopy(const std::wstring& setupPath, const std::wstring& installFolder) {
    HWND page = WalkToReady(setupPath, installFolder);
    return page == nullptr ? nullptr : Go(page, kNext, ui::PageKind::Copy);
}

HWND InstallTest::InstallFromReady(HWND ready) {
    if (ready == nullptr || !ui::Click(ready, kNext)) {
        ADD_FAILURE() << "no ready page to go on from";
        return nullptr;
    }
    HWND box = nullptr;
    EXPECT_TRUE(ui::WaitFor([&] {
        box = wizard_->FindAnyMessageBox();
        return box != nullptr || wizard_->CurrentPage() == ui::PageKind::Finish || wizard_->HasExited();
    }, 120000)) << wizard_->Describe();
    EXPECT_EQ(box, nullptr) << "a box on the way: \"" << ui::Narrow(ui::MessageBoxText(box)) << "\"";
    return box == nullptr ? Expect(ui::PageKind::Finish) : nullptr;
}

HWND InstallTest::ExpectBox(HWND owner, const std::wstring& text) {
    HWND box = ui::WaitForMessageBox(owner);
    EXPECT_NE(box, nullptr) << "no box \"" << ui::Narrow(text) << "\"; " << wizard_->Describe();
    if (box != nullptr) {
        EXPECT_EQ(ui::MessageBoxText(box), text);
        EXPECT_EQ(ui::Text(box), kBoxCaption);
    }
    return box;
}

void InstallTest::Answer(HWND box, int button) {
    ASSERT_TRUE(ui::AnswerMessageBox(box, button)) << "the box has no button " << button;
    ASSERT_TRUE(ui::WaitFor([&] { return !IsWindow(box); }));
}

std::unique_ptr<ui::PausedWorker> InstallTest::Hold(HWND page, CopyWatch& watch, const std::function<bool()>& shows) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        auto paused = std::make_unique<ui::PausedWorker>(page);
        if (!paused->ok()) {
            return nullptr;
        }
        if (Watch(page, watch, shows, 3000)) {
            return paused;
        }
    }
    return nullptr;
}

bool InstallTest::Watch(HWND page, CopyWatch& watch, const std::function<bool()>& until, DWORD timeoutMs) {
    return ui::WaitFor(
        [&] {
            watch.Sample(page);
            return until();
        },
        timeoutMs);
}

void InstallTest::ExpectUndone(const Tree& before) {
    HWND finish = Expect(ui::PageKind::Finish);
    ASSERT_TRUE(finish);
    EXPECT_EQ(TreeDifference(before, Snapshot(installFolder_)), "");
    EXPECT_TRUE(CloseAndCollectOpened(finish).empty()) << "nothing opens after a run that did not succeed";
}

std::vector<std::string> InstallTest::CloseAndCollectOpened(HWND finish) {
    std::vector<std::string> lines;
    CloseFinishAndExpectExit(finish);
    // Setup.exe has ended, so every program it started through the shell is running or done by now.
    EXPECT_TRUE(ui::WaitFor([] { return !ui::ProcessRuns(L"ui_browser.exe"); }));
    const std::string text = folderui::ReadWholeFile(browserLog_);
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}
