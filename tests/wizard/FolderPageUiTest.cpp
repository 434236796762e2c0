// The install-folder page as a user meets it: the remembered game folder, typed and picked folders, the
// drive's sizes and the two warnings, and a Big5 folder carried through to the disk.
#include <algorithm>
#include <string>
#include <vector>

#include "FolderDriver.h"
#include "VolumeWriter.h"
#include "WizardFixture.h"

using ui::PageKind;

namespace {

constexpr int kTotalSize = 1009;
constexpr int kFreeSpace = 1010;
constexpr int kNeededSpace = 1011;
constexpr int kBrowse = 1013;

const std::wstring kNoSize = L"---";
const std::wstring kNeeded = L"1180 MB";
const std::wstring kInvalidPath = L"安裝路徑無效，請重新指定安裝路徑！";
const std::wstring kNoSpace = L"目標硬碟剩餘空間不足，請重新指定安裝路徑！";
const std::wstring kCaption = L"Veyloran - 安裝嚮導";

// Big5 characters whose second byte is 0x5C, the backslash: a byte-wise separator test splits them.
const std::wstring kBig5Name = L"許功蓋";

// "%u MB": decimal digits without a leading zero, then " MB".
bool IsSizeText(const std::wstring& text) {
    const size_t digits = text.size() >= 4 ? text.size() - 3 : 0;
    if (digits == 0 || text.compare(digits, 3, L" MB") != 0 || (text[0] == L'0' && digits > 1)) {
        return false;
    }
    return std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(digits),
                       [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}

class FolderPage : public WizardTest {
protected:
    void SetUp() override {
        WizardTest::SetUp();
        ASSERT_FALSE(folderui::GameFolderIsRemembered())
            << "HKCU\\SOFTWARE\\Veyloran\\default is set: an earlier test did not clean up";
    }

    HWND Folder() { return StartAndWalkTo(PageKind::Folder); }

    // Waits until the timer has taken the field: both size labels show what the drive of a valid folder
    // reports, or "---" for an invalid one; the needed space is always there.
    bool WaitForSizes(HWND page, bool valid) {
        return ui::WaitFor([&] {
            const std::wstring total = ui::ItemText(page, kTotalSize);
            const std::wstring free = ui::ItemText(page, kFreeSpace);
            const bool shown = valid ? IsSizeText(total) && IsSizeText(free) : total == kNoSize && free == kNoSize;
            return shown && ui::ItemText(page, kNeededSpace) == kNeeded;
        });
    }

    // Puts the text into the field as a program would and waits for the labels to follow. The timer
    // only refreshes on a change, so the field first holds a folder of the other kind.
    void Enter(HWND page, const std::wstring& folder, bool valid) {
        ASSERT_TRUE(ui::SetItemText(page, kFolderEdit, valid ? L"Q:" : L"C:\\"));
        ASSERT_TRUE(WaitForSizes(page, !valid)) << Labels(page);
        ASSERT_TRUE(ui::SetItemText(page, kFolderEdit, folder));
        ASSERT_TRUE(WaitForSizes(page, valid)) << Labels(page);
    }

    static std::string Labels(HWND page) {
        return "labels \"" + ui::Narrow(ui::ItemText(page, kTotalSize)) + "\" \"" +
               ui::Narrow(ui::ItemText(page, kFreeSpace)) + "\" \"" + ui::Narrow(ui::ItemText(page, kNeededSpace)) +
               "\", field \"" + ui::Narrow(ui::ItemText(page, kFolderEdit)) + "\"";
    }

    // Next with a folder the page must refuse: the warning, owned by the page, and the page stays.
    void ExpectRefused(HWND page, const std::wstring& warning) {
        ASSERT_TRUE(ui::Click(page, kNext));
        HWND box = ui::WaitForMessageBox(page);
        ASSERT_TRUE(box) << wizard_->Describe();
        EXPECT_EQ(ui::MessageBoxText(box), warning);
        EXPECT_EQ(ui::Text(box), kCaption);
        ASSERT_TRUE(ui::AnswerMessageBox(box, IDOK));
        ASSERT_TRUE(ui::WaitFor([&] { return !IsWindow(box); }));
        HWND now = nullptr;
        EXPECT_EQ(wizard_->CurrentPage(&now), PageKind::Folder);
        EXPECT_EQ(now, page) << "the same page stays";
    }

    // Waits for the page, or fails at once with the text of a box that showed instead.
    HWND ExpectPageNotBox(HWND owner, PageKind kind) {
        HWND found = nullptr;
        HWND box = nullptr;
        ui::WaitFor([&] {
            box = ui::FindMessageBox(owner);
            return box != nullptr || wizard_->CurrentPage(&found) == kind || wizard_->HasExited();
        });
        EXPECT_EQ(box, nullptr) << "box: " << ui::Narrow(ui::MessageBoxText(box));
        EXPECT_EQ(wizard_->CurrentPage(&found), kind) << wizard_->Describe();
        return box == nullptr && wizard_->CurrentPage(&found) == kind ? found : nullptr;
    }
};

// --- The remembered game folder ---------------------------------------------------------------------

TEST_F(FolderPage, WithoutARememberedFolderTheDefaultAndTheDriveOfC) {
    HWND page = Folder();
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemAnsiText(page, kFolderEdit), ExpectedDefaultFolder());
    ASSERT_TRUE(WaitForSizes(page, true)) << Labels(page);
    ULONGLONG total = 0, free = 0;
    ASSERT_TRUE(folderui::DriveSizes(L"C:\\", &total, &free));
    EXPECT_EQ(ui::ItemText(page, kTotalSize), folderui::Megabytes(total));
    // Other programs write to the disk under C: meanwhile; its free space only has to be plausible.
    const unsigned shownFree = static_cast<unsigned>(_wtoi(ui::ItemText(page, kFreeSpace).c_str()));
    EXPECT_NEAR(static_cast<double>(shownFree), static_cast<double>(free / 1048576), 2048.0);
}

struct RememberedCase {
    const char* name;
    DWORD type;
    std::wstring value;
    bool taken;
};

void PrintTo(const RememberedCase& c, std::ostream* out) {
    *out << c.name;
}

class RememberedFolder : public FolderPage, public ::testing::WithParamInterface<RememberedCase> {};

// The registry's folder replaces whatever the user chose, on every visit of the page.
TEST_P(RememberedFolder, IsProposedOnEveryVisit) {
    const RememberedCase& c = GetParam();
    folderui::RememberedFolder remembered(c.type, ui::ToAnsi(c.value));
    ASSERT_TRUE(remembered.ok());
    const std::string expected = c.taken ? ui::ToAnsi(c.value) : ExpectedDefaultFolder();

    HWND page = Folder();
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemAnsiText(page, kFolderEdit), expected);
    if (!c.taken) {
        return;
    }
    const std::wstring other = L"C:\\Games\\Elsewhere";
    ASSERT_TRUE(ui::SetItemText(page, kFolderEdit, other));
    page = Go(page, kNext, PageKind::Ready);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemText(page, kReadyFolder), other) << "the user's folder goes to the ready page";

    page = Go(page, kBack, PageKind::Folder);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemAnsiText(page, kFolderEdit), expected) << "back from the ready page";
    page = Go(page, kBack, PageKind::License);
    ASSERT_TRUE(page);
    page = Go(page, kNext, PageKind::Folder);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemAnsiText(page, kFolderEdit), expected) << "again from the license page";
    ASSERT_TRUE(WaitForSizes(page, true)) << Labels(page);
}

INSTANTIATE_TEST_SUITE_P(
    Values,
    RememberedFolder,
    ::testing::Values(RememberedCase{"String", REG_SZ, L"C:\\Games\\Veyloran", true},
                      RememberedCase{"Big5String", REG_SZ, L"C:\\遊戲\\" + kBig5Name, true},
                      RememberedCase{"ExpandStringIsIgnored", REG_EXPAND_SZ, L"C:\\Games\\Expanded", false}),
    [](const ::testing::TestParamInfo<RememberedCase>& param) { return std::string(param.param.name); });

// --- Typed folders --------------------------------------------------------------------------------

TEST_F(FolderPage, FoldersOfTheWrongFormOrWithoutADriveAreRefused) {
    ASSERT_EQ(GetDriveTypeW(L"Q:\\"), static_cast<UINT>(DRIVE_NO_ROOT_DIR)) << "this prefix has a drive Q";
    const std::wstring folders[] = {
        L"Q:\\Games",                         // no such drive
        L"C:",                                // no separator
        L"1:\\x",                             // no drive letter
        L"C:\\" + std::wstring(257, L'a'),    // 260 bytes
        L"C:\\" + std::wstring(300, L'a'),    // longer still
    };
    HWND page = Folder();
    ASSERT_TRUE(page);
    for (const std::wstring& folder : folders) {
        SCOPED_TRACE(ui::Narrow(folder));
        Enter(page, folder, false);
        ExpectRefused(page, kInvalidPath);
        EXPECT_EQ(ui::ItemText(page, kFolderEdit), folder) << "the field keeps what the user typed";
    }
}

TEST_F(FolderPage, FoldersOfTheRightFormOnADriveWithRoomAreAccepted) {
    const std::wstring missing = L"C:\\ui-missing-" + std::to_wstring(GetCurrentProcessId()) + L"\\not\\there";
    ASSERT_FALSE(folderui::Exists(missing));
    const std::wstring folders[] = {
        L"C:\\",
        L"c:/games",
        missing,
        L"C:\\" + std::wstring(256, L'a'),  // 259 bytes, the longest the page takes
    };
    HWND page = Folder();
    ASSERT_TRUE(page);
    for (const std::wstring& folder : folders) {
        SCOPED_TRACE(ui::Narrow(folder));
        Enter(page, folder, true);
        ASSERT_TRUE(ui::Click(page, kNext));
        HWND ready = ExpectPageNotBox(page, PageKind::Ready);
        ASSERT_TRUE(ready);
        EXPECT_EQ(ui::ItemText(ready, kReadyFolder), folder);
        page = Go(ready, kBack, PageKind::Folder);
        ASSERT_TRUE(page);
        EXPECT_EQ(ui::ItemText(page, kFolderEdit), folder);
    }
    EXPECT_FALSE(folderui::Exists(missing)) << "the page creates nothing";
}

TEST_F(FolderPage, DriveWithTooLittleRoomIsRefused) {
    wchar_t drive[8] = {};
    if (GetEnvironmentVariableW(L"UI_SMALL_DRIVE", drive, 8) == 0) {
        GTEST_SKIP() << "UI_SMALL_DRIVE is not set (run_ui_tests.sh maps it when it runs as root)";
    }
    const std::wstring root = std::wstring(drive) + L"\\";
    ULONGLONG total = 0, free = 0;
    ASSERT_TRUE(folderui::DriveSizes(root, &total, &free));
    ASSERT_LT(free, 1180ull * 1048576);

    HWND page = Folder();
    ASSERT_TRUE(page);
    Enter(page, root + L"Games\\Veyloran", true);
    EXPECT_EQ(ui::ItemText(page, kTotalSize), folderui::Megabytes(total));
    EXPECT_EQ(ui::ItemText(page, kFreeSpace), folderui::Megabytes(free));
    ExpectRefused(page, kNoSpace);
}

// Keystrokes, as a user types them: the labels follow the field, and Back keeps what the timer read.
TEST_F(FolderPage, TypedKeysAreFollowedAndBackKeepsThem) {
    HWND page = Folder();
    ASSERT_TRUE(page);
    ASSERT_TRUE(folderui::TypeInto(page, kFolderEdit, L"C:\\Typed", true));
    ASSERT_TRUE(ui::WaitFor([&] { return ui::ItemText(page, kFolderEdit) == L"C:\\Typed"; })) << Labels(page);
    ASSERT_TRUE(WaitForSizes(page, true)) << Labels(page);

    // Down to "C:" the folder is of the wrong form, and up again it is right.
    ASSERT_TRUE(folderui::TypeInto(page, kFolderEdit, std::wstring(6, L'\b'), false));
    ASSERT_TRUE(WaitForSizes(page, false)) << Labels(page);
    EXPECT_EQ(ui::ItemText(page, kFolderEdit), L"C:");
    ASSERT_TRUE(folderui::TypeInto(page, kFolderEdit, L"\\" + kBig5Name, false));
    const std::wstring typed = L"C:\\" + kBig5Name;
    ASSERT_TRUE(ui::WaitFor([&] { return ui::ItemText(page, kFolderEdit) == typed; })) << Labels(page);
    ASSERT_TRUE(WaitForSizes(page, true)) << Labels(page);

    page = Go(page, kBack, PageKind::License);
    ASSERT_TRUE(page);
    page = Go(page, kNext, PageKind::Folder);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemText(page, kFolderEdit), typed);
    EXPECT_EQ(ui::ItemAnsiText(page, kFolderEdit), ui::ToAnsi(typed));
}

TEST_F(FolderPage, CancelLeavesAtOnceWhateverTheField) {
    HWND page = Folder();
    ASSERT_TRUE(page);
    Enter(page, L"Q:\\Games", false);
    ASSERT_TRUE(ui::Click(page, IDCANCEL));
    HWND finish = ExpectPageNotBox(page, PageKind::Finish);
    ASSERT_TRUE(finish) << "Cancel asks nothing and tests nothing";
    CloseFinishAndExpectExit(finish);
}

// --- The folder browser ---------------------------------------------------------------------------

enum class Pick { Subfolder, Big5Subfolder, DriveRoot, Nothing };

struct BrowseCase {
    const char* name;
    Pick pick;
};

void PrintTo(const BrowseCase& c, std::ostream* out) {
    *out << c.name;
}

class FolderBrowser : public FolderPage, public ::testing::WithParamInterface<BrowseCase> {};

TEST_P(FolderBrowser, PickedFolderGoesIntoTheFieldAsTheShellGivesIt) {
    const Pick pick = GetParam().pick;
    folderui::ScratchTree tree(L"C:\\ui-browse-" + std::to_wstring(GetCurrentProcessId()));
    std::wstring folder = L"C:\\";
    if (pick == Pick::Subfolder || pick == Pick::Big5Subfolder) {
        folder = tree.root() + (pick == Pick::Subfolder ? L"\\Picked Folder" : L"\\" + kBig5Name);
        ASSERT_TRUE(CreateDirectoryW(tree.root().c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    }

    HWND page = Folder();
    ASSERT_TRUE(page);
    const std::wstring before = ui::ItemText(page, kFolderEdit);
    ASSERT_TRUE(ui::Click(page, kBrowse));
    HWND browser = folderui::WaitForFolderBrowser(page);
    ASSERT_TRUE(browser) << wizard_->Describe();
    EXPECT_TRUE(PageShowsText(browser, L"選擇安裝目錄")) << folderui::DescribeControls(browser);
    EXPECT_TRUE(ui::HasControl(browser, IDOK) && ui::HasControl(browser, IDCANCEL))
        << folderui::DescribeControls(browser);

    if (pick == Pick::Nothing) {
        ASSERT_TRUE(ui::Click(browser, IDCANCEL));
        ASSERT_TRUE(ui::WaitFor([&] { return !IsWindow(browser); }));
        EXPECT_EQ(ui::ItemText(page, kFolderEdit), before) << "a cancelled browser changes nothing";
        return;
    }
    std::string why;
    ASSERT_TRUE(folderui::SelectInBrowser(browser, folder, &why)) << why;
    const std::wstring selected = folderui::SelectedTreeText(browser);
    const std::wstring expected = folderui::ShellPathOf(folder);
    ASSERT_FALSE(expected.empty());
    if (pick == Pick::DriveRoot) {
        EXPECT_EQ(expected, L"C:\\") << "the shell names a root with its separator";
    } else {
        EXPECT_EQ(expected, folder) << "the shell adds no separator to a folder";
    }
    ASSERT_TRUE(ui::Click(browser, IDOK));
    ASSERT_TRUE(ui::WaitFor([&] { return !IsWindow(browser); })) << folderui::DescribeControls(browser);
    ASSERT_TRUE(ui::WaitFor([&] { return ui::ItemText(page, kFolderEdit) == expected; }))
        << "selected in the tree: \"" << ui::Narrow(selected) << "\"; " << Labels(page);
    ASSERT_TRUE(WaitForSizes(page, true)) << Labels(page);

    page = Go(page, kNext, PageKind::Ready);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemText(page, kReadyFolder), expected);
}

INSTANTIATE_TEST_SUITE_P(Picks,
                         FolderBrowser,
                         ::testing::Values(BrowseCase{"Subfolder", Pick::Subfolder},
                                           BrowseCase{"Big5Subfolder", Pick::Big5Subfolder},
                                           BrowseCase{"DriveRoot", Pick::DriveRoot},
                                           BrowseCase{"Cancelled", Pick::Nothing}),
                         [](const ::testing::TestParamInfo<BrowseCase>& param) { return std::string(param.param.name); });

// --- A Big5 folder through to the disk ------------------------------------------------------------

// Volumes of one small entry each, laid beside Setup.exe.
class Big5Install : public FolderPage {
protected:
    static std::wstring Entry(int volume) { return L"Voice\\disc" + std::to_wstring(volume) + L".ogg"; }
    static std::string Data(int volume) { return std::string(1000 + volume, static_cast<char>('0' + volume)); }

    void WriteVolumes(int first, int last) {
        for (int volume = first; volume <= last; ++volume) {
            const std::wstring name = L"data" + std::to_wstring(volume) + L".cab";
            VolumeEntry entry;
            entry.name = ui::Narrow(Entry(volume));
            entry.data = Data(volume);
            std::string error;
            ASSERT_TRUE(WriteVolume(ui::Narrow(medium_->folder() + L"\\" + name), {entry}, error)) << error;
            medium_->Adopt(name);
        }
    }

    // The folder typed in the ANSI code page, as a narrow caller would, then Next to the ready page,
    // which must show it unchanged, then Next to the copy page.
    // Types the folder in Big5 and goes on from the ready page to the page next: the copy page, or for
    // a run that cannot stop on the way, the finish page (so small a copy may be over before a look
    // finds the copy page).
    HWND StartCopyInto(const std::wstring& folder, PageKind next = PageKind::Copy) {
        const std::string ansi = ui::ToAnsi(folder);
        EXPECT_NE(ansi.find("\xB3\x5C"), std::string::npos) << "the ANSI code page is not Big5";
        HWND page = Folder();
        if (!page) {
            return nullptr;
        }
        EXPECT_TRUE(folderui::SetItemAnsiText(page, kFolderEdit, ansi));
        EXPECT_TRUE(ui::Click(page, kNext));
        HWND ready = ExpectPageNotBox(page, PageKind::Ready);
        if (!ready) {
            return nullptr;
        }
        EXPECT_EQ(ui::ItemAnsiText(ready, kReadyFolder), ansi);
        EXPECT_EQ(ui::ItemText(ready, kReadyFolder), folder);
        return Go(ready, kNext, next);
    }

    std::vector<std::wstring> DiscOneFiles(const std::wstring& folder) {
        return {folder + L"\\" + Entry(1), folder + L"\\" + Entry(2), folder + L"\\" + Entry(3),
                folder + L"\\Bin\\den.dat", folder + L"\\Bin\\launch.ini"};
    }
};

TEST_F(Big5Install, FilesLandUnderTheFolderOfThatName) {
    WriteVolumes(1, 6);
    folderui::ScratchTree tree(L"C:\\" + kBig5Name);
    const std::wstring folder = tree.root() + L"\\" + kBig5Name.substr(1, 1);  // C:\許功蓋\功
    const std::vector<std::wstring> before = folderui::ListFolder(L"C:");

    ASSERT_TRUE(StartCopyInto(folder, PageKind::Finish));
    for (int volume = 1; volume <= 6; ++volume) {
        EXPECT_EQ(folderui::ReadWholeFile(folder + L"\\" + Entry(volume)), Data(volume)) << volume;
    }
    EXPECT_EQ(folderui::ReadWholeFile(folder + L"\\Bin\\den.dat"), "den");
    EXPECT_EQ(folderui::ReadWholeFile(folder + L"\\Bin\\launch.ini"), "[launch]\r\n");

    // One new folder in C:\, named as typed: not cut at a 0x5C byte, not in another encoding.
    std::vector<std::wstring> added;
    for (const std::wstring& name : folderui::ListFolder(L"C:")) {
        if (std::find(before.begin(), before.end(), name) == before.end()) {
            added.push_back(name);
        }
    }
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0], kBig5Name);
    EXPECT_EQ(folderui::ListFolder(tree.root()), std::vector<std::wstring>{kBig5Name.substr(1, 1)});

    // And from the Unix side: the same file in WINEPREFIX's drive_c, under its UTF-8 name.
    const std::wstring unixSide = folderui::ThroughUnixRoot(folder + L"\\" + Entry(6));
    if (unixSide.empty()) {
        GTEST_SKIP() << "WINEPREFIX is not known to the test";
    }
    EXPECT_EQ(folderui::ReadWholeFile(unixSide), Data(6)) << ui::Narrow(unixSide);
    const std::string unixName = folderui::UnixFileName(folder + L"\\" + Entry(6));
    const std::string tail = "/" + ui::Narrow(kBig5Name) + "/" + ui::Narrow(kBig5Name.substr(1, 1)) + "/Voice/disc6.ogg";
    ASSERT_GE(unixName.size(), tail.size()) << unixName;
    EXPECT_EQ(unixName.substr(unixName.size() - tail.size()), tail);
}

// The second disc never comes: the run is given up at the prompt and its roll-back removes what it had
// written under the Big5 folder.
TEST_F(Big5Install, GivenUpRunRemovesItsFilesFromTheFolder) {
    WriteVolumes(1, 3);
    folderui::ScratchTree tree(L"C:\\" + kBig5Name + L"-rollback");
    const std::wstring folder = tree.root() + L"\\" + kBig5Name;

    HWND copy = StartCopyInto(folder);
    ASSERT_TRUE(copy);
    HWND prompt = ui::WaitForMessageBox(copy);
    ASSERT_TRUE(prompt) << wizard_->Describe();
    ASSERT_EQ(ui::MessageBoxText(prompt), L"請放入第二張光碟後按確定");
    for (const std::wstring& file : DiscOneFiles(folder)) {
        EXPECT_TRUE(folderui::Exists(file)) << "written before the prompt: " << ui::Narrow(file);
    }
    ASSERT_TRUE(ui::AnswerMessageBox(prompt, IDOK));
    // The second disc is still missing: the retry box follows.
    HWND retry = nullptr;
    ASSERT_TRUE(ui::WaitFor([&] {
        retry = ui::FindMessageBox(copy);
        return retry != nullptr && ui::HasControl(retry, IDRETRY);
    })) << wizard_->Describe();
    ASSERT_TRUE(ui::AnswerMessageBox(retry, IDCANCEL));
    ASSERT_TRUE(ui::WaitFor([&] { return !IsWindow(retry); }));

    HWND finish = ExpectPageNotBox(copy, PageKind::Finish);
    ASSERT_TRUE(finish);
    for (const std::wstring& file : DiscOneFiles(folder)) {
        EXPECT_FALSE(folderui::Exists(file)) << "left behind: " << ui::Narrow(file);
    }
}

}  // namespace
