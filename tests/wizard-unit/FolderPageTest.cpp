#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "FolderPage.h"
#include "MessageBoxes.h"
#include "Pages.h"
#include "ResourceIds.h"
#include "SetupState.h"
#include "Texts.h"

namespace {

constexpr std::uint64_t MiB = 1024 * 1024;
constexpr std::uint64_t kRequiredBytes = 1237319680;  // 1180 MiB
constexpr char kGameKey[] = "SOFTWARE\\Veyloran";

// "C:\許功蓋\" in Big5: each of the three characters ends in the byte 0x5C.
constexpr char kBig5Folder[] = "C:\\\xb3\x5c\xa5\x5c\xbb\x5c\\";
constexpr char kUtf8Folder[] = u8"C:\\許功蓋\\";

// The drive as the tests want it to answer.
struct FakeDrive {
    bool answers = true;
    std::uint64_t total = 100 * 1024 * MiB;
    std::uint64_t free = 50 * 1024 * MiB;
    int queries = 0;
    std::string lastRoot;
};
FakeDrive drive;

bool QueryFakeDrive(const char* ansiRoot, std::uint64_t& totalBytes, std::uint64_t& freeBytes) {
    ++drive.queries;
    drive.lastRoot = ansiRoot;
    if (!drive.answers) {
        return false;
    }
    totalBytes = drive.total;
    freeBytes = drive.free;
    return true;
}

void DeleteGameKey() {
    RegDeleteKeyA(HKEY_CURRENT_USER, kGameKey);
}

void SetGameValue(const char* name, DWORD type, const std::string& data) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kGameKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(
        RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size())),
        ERROR_SUCCESS);
    RegCloseKey(key);
}

std::string ItemText(HWND window, int id) {
    char text[4096] = {};
    GetDlgItemTextA(window, id, text, sizeof text);
    return text;
}

// The page runs in a modeless dialog from the program's own template 131. Its timer is stopped so
// that each test ticks it by hand and counts exactly.
class FolderPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 950u) << "run under LANG=zh_TW.UTF-8, where the ANSI code page is Big5";
        DeleteGameKey();
        drive = FakeDrive{};
        QueryDriveSpace = QueryFakeDrive;
        setupState.moduleInstance = GetModuleHandleA(nullptr);
        setupState.installFolder = "C:\\Program Files\\Tarnwick\\Veyloran\\";
        setupState.currentPage = Folder;
    }

    void TearDown() override {
        if (page_ != nullptr) {
            DestroyWindow(page_);
        }
        QueryDriveSpace = QueryDriveSpaceFromSystem;
        DeleteGameKey();
    }

    HWND Open() {
        page_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_FOLDER), nullptr, FolderPageProc, 0);
        EXPECT_NE(page_, nullptr);
        KillTimer(page_, 0);
        return page_;
    }

    void Tick() { SendMessageA(page_, WM_TIMER, 0, 0); }
    void Type(const std::string& ansi) { SetDlgItemTextA(page_, IDC_FOLDER_EDIT, ansi.c_str()); }
    void Press(int id) { SendMessageA(page_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }
    std::string Item(int id) { return ItemText(page_, id); }

    // The instruction line: the first unnamed static after the two pictures.
    std::string InstructionText() {
        for (HWND child = GetWindow(page_, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            if (GetDlgCtrlID(child) == -1 && (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_BITMAP) {
                char text[512] = {};
                GetWindowTextA(child, text, sizeof text);
                return text;
            }
        }
        return std::string();
    }

    HWND page_ = nullptr;
};

TEST_F(FolderPageTest, SizeLabelsFollowTheDriveAnswer) {
    struct Case {
        const char* folder;
        bool answers;
        std::uint64_t total;
        std::uint64_t free;
        bool valid;
        const char* totalLabel;
        const char* freeLabel;
        const char* root;  // the root the drive was asked for; "" when it must not be asked
    };
    const Case cases[] = {
        {"C:\\Games\\Veyloran", true, 100 * 1024 * MiB, kRequiredBytes, true, "102400 MB", "1180 MB", "C:\\"},
        {"C:\\Games", true, 2 * kRequiredBytes, kRequiredBytes - 1, true, "2360 MB", "1179 MB", "C:\\"},
        {"c:/games", true, MiB - 1, 0, true, "0 MB", "0 MB", "c:\\"},
        // Only the low 32 bits of the megabytes are printed.
        {"D:\\x", true, (std::uint64_t{1} << 52) + 5 * MiB, (std::uint64_t{1} << 52) + 7 * MiB - 1, true, "5 MB",
         "6 MB", "D:\\"},
        {"Q:\\Games", false, 0, 0, false, "---", "---", "Q:\\"},
        {"C:\\zero", true, 0, 0, false, "---", "---", "C:\\"},
        {"C:\\huge", true, std::uint64_t{1} << 63, 0, false, "---", "---", "C:\\"},  // negative when signed
        {"C:", true, 100 * MiB, 100 * MiB, false, "---", "---", ""},
        {"1:\\x", true, 100 * MiB, 100 * MiB, false, "---", "---", ""},
        {"\xb3\x5c:\\x", true, 100 * MiB, 100 * MiB, false, "---", "---", ""},
    };
    Open();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        drive.answers = c.answers;
        drive.total = c.total;
        drive.free = c.free;
        drive.queries = 0;
        drive.lastRoot.clear();
        setupState.installFolder = c.folder;

        std::uint64_t total = 0;
        std::uint64_t free = 0;
        EXPECT_EQ(GetInstallDriveSpace(total, free), c.valid);
        UpdateSpaceLabels(page_, true);
        EXPECT_EQ(Item(IDC_TOTAL_SIZE), c.totalLabel);
        EXPECT_EQ(Item(IDC_FREE_SPACE), c.freeLabel);
        EXPECT_EQ(Item(IDC_NEEDED_SPACE), "1180 MB");
        EXPECT_EQ(drive.lastRoot, c.root);
        EXPECT_EQ(drive.queries, *c.root != '\0' ? 2 : 0);
    }
    // 259 bytes in the right form is valid, 260 is not.
    drive = FakeDrive{};
    for (const std::size_t length : {259u, 260u}) {
        setupState.installFolder = "C:\\" + std::string(length - 3, 'a');
        UpdateSpaceLabels(page_, true);
        EXPECT_EQ(Item(IDC_FREE_SPACE), length == 259 ? "51200 MB" : "---") << length;
    }
}

TEST_F(FolderPageTest, AnUnchangedFieldQueriesTheDriveOnce) {
    Open();
    EXPECT_EQ(drive.queries, 1);  // the forced refresh of the page's start
    for (int i = 0; i < 40; ++i) {
        Tick();
    }
    EXPECT_EQ(drive.queries, 1);

    Type(Item(IDC_FOLDER_EDIT) + "x");
    Tick();
    EXPECT_EQ(drive.queries, 2);
    EXPECT_EQ(setupState.installFolder, "C:\\Program Files\\Tarnwick\\Veyloran\\x");
    for (int i = 0; i < 40; ++i) {
        Tick();
    }
    EXPECT_EQ(drive.queries, 2);

    // A folder that fails the test is remembered too: it is not tested again while it stays.
    Type("C:");
    Tick();
    Tick();
    EXPECT_EQ(Item(IDC_TOTAL_SIZE), "---");
    drive.answers = false;
    Type("Q:\\Games");
    Tick();
    Tick();
    EXPECT_EQ(drive.queries, 3);
    EXPECT_EQ(Item(IDC_FREE_SPACE), "---");
}

TEST_F(FolderPageTest, NextNeedsAValidFolderWithRoomOnItsDrive) {
    struct Case {
        const char* folder;
        std::uint64_t total;
        std::uint64_t free;
        const char* warning;  // nullptr: accepted
    };
    const Case cases[] = {
        {"C:\\Games\\Veyloran", 100 * 1024 * MiB, kRequiredBytes, nullptr},
        {"C:\\", 100 * 1024 * MiB, 5 * kRequiredBytes, nullptr},
        {"c:/games", 100 * 1024 * MiB, 5 * kRequiredBytes, nullptr},
        {"C:\\Games\\Veyloran", 100 * 1024 * MiB, kRequiredBytes - 1, kTextNoSpace},
        {"C:\\Games\\Veyloran", 100 * 1024 * MiB, 0, kTextNoSpace},
        {"C:\\Games\\Veyloran", 0, kRequiredBytes, kTextInvalidPath},
        {"C:", 100 * 1024 * MiB, kRequiredBytes, kTextInvalidPath},
        {"Games\\Veyloran", 100 * 1024 * MiB, kRequiredBytes, kTextInvalidPath},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        MessageBoxes boxes;
        Open();
        drive.total = c.total;
        drive.free = c.free;
        setupState.currentPage = Folder;
        // Next reads the field itself, without waiting for a tick.
        Type(c.folder);
        Press(IDC_NEXT);
        EXPECT_EQ(setupState.installFolder, c.folder);
        if (c.warning == nullptr) {
            EXPECT_TRUE(boxes.Texts().empty());
            EXPECT_EQ(setupState.currentPage, Ready);
        } else {
            EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.warning});
            EXPECT_EQ(setupState.currentPage, Folder);
        }
        DestroyWindow(page_);
        page_ = nullptr;
    }
}

TEST_F(FolderPageTest, BackAndCancelLeaveWithTheFolderOfTheLastTick) {
    for (const int button : {IDC_BACK, IDCANCEL}) {
        MessageBoxes boxes;
        Open();
        Type("D:\\Ticked");
        Tick();
        Type("D:\\NotTicked");
        Press(button);
        EXPECT_EQ(setupState.currentPage, button == IDC_BACK ? License : Finish);
        EXPECT_EQ(setupState.installFolder, "D:\\Ticked");
        EXPECT_TRUE(boxes.Texts().empty());
        DestroyWindow(page_);
        page_ = nullptr;
    }
}

TEST_F(FolderPageTest, Big5FolderIsHeldInUtf8WithoutFalseSeparators) {
    Open();
    Type(kBig5Folder);
    Tick();
    EXPECT_EQ(setupState.installFolder, kUtf8Folder);
    EXPECT_EQ(setupState.installFolder.find('\\', 3), setupState.installFolder.size() - 1);
    EXPECT_EQ(Item(IDC_FREE_SPACE), "51200 MB");
    DestroyWindow(page_);

    // And back: a new visit shows the folder in Big5 again.
    Open();
    EXPECT_EQ(Item(IDC_FOLDER_EDIT), kBig5Folder);
}

TEST_F(FolderPageTest, RememberedGameFolderFromTheRegistry) {
    const std::string original = "C:\\Program Files\\Tarnwick\\Veyloran\\";
    struct Case {
        const char* what;
        const char* name;  // nullptr: no key at all
        DWORD type;
        std::string data;
        bool found;
        std::string folder;
    };
    const Case cases[] = {
        {"no key", nullptr, REG_SZ, "", false, original},
        {"string value", "default", REG_SZ, std::string("D:\\Games\\Veyloran", 18), true, "D:\\Games\\Veyloran"},
        {"Big5 string", "default", REG_SZ, std::string(kBig5Folder) + '\0', true, kUtf8Folder},
        {"empty string", "default", REG_SZ, std::string(1, '\0'), true, ""},
        {"expandable string", "default", REG_EXPAND_SZ, std::string("D:\\Games", 9), false, original},
        {"number", "default", REG_DWORD, std::string("\x01\x00\x00\x00", 4), false, original},
        {"the key's unnamed value", "", REG_SZ, std::string("D:\\Games", 9), false, original},
        {"another name", "Default Folder", REG_SZ, std::string("D:\\Games", 9), false, original},
        {"too long", "default", REG_SZ, std::string(70000, 'a') + '\0', false, original},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteGameKey();
        if (c.name != nullptr) {
            SetGameValue(c.name, c.type, c.data);
        }
        setupState.installFolder = original;
        EXPECT_EQ(ReadRememberedGameFolder(), c.found);
        EXPECT_EQ(setupState.installFolder, c.folder);

        // The page reads it on every visit, and hints at the game folder when there is none.
        setupState.installFolder = original;
        Open();
        EXPECT_EQ(setupState.installFolder, c.folder);
        EXPECT_EQ(InstructionText().find(kTextChooseGameFolder) != std::string::npos, !c.found);
        DestroyWindow(page_);
        page_ = nullptr;
    }
}

TEST_F(FolderPageTest, ValuesThatFillTheWholeBuffer) {
    // 65,535 bytes and the zero that ends them: exactly the buffer.
    SetGameValue("default", REG_SZ, std::string(65535, 'a') + '\0');
    EXPECT_TRUE(ReadRememberedGameFolder());
    EXPECT_EQ(setupState.installFolder, std::string(65535, 'a'));

    // 32,768 characters of 許 and no terminating zero: 65,536 bytes in Big5, the whole buffer without
    // a zero byte in it (stored through the wide call: the narrow one adds the missing zero itself).
    // Windows hands such a value over as it is, and the page takes it whole; Wine asks for one byte
    // more, and the page keeps its folder. Nothing else may come out, and nothing past the buffer.
    const std::wstring value(32768, L'\x8a31');
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kGameKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, L"default", 0, REG_SZ, reinterpret_cast<const BYTE*>(value.data()),
                             static_cast<DWORD>(value.size() * sizeof(wchar_t))),
              ERROR_SUCCESS);
    RegCloseKey(key);
    std::string whole;
    for (std::size_t i = 0; i < value.size(); ++i) {
        whole += u8"許";
    }
    const std::string original = "C:\\Games\\";
    setupState.installFolder = original;
    if (ReadRememberedGameFolder()) {
        EXPECT_TRUE(setupState.installFolder == whole);
    } else {
        EXPECT_EQ(setupState.installFolder, original);
    }

    // A folder that long fails the form test: the labels say so and the drive is never asked.
    SetGameValue("default", REG_SZ, std::string(65535, 'a') + '\0');
    Open();
    EXPECT_EQ(Item(IDC_TOTAL_SIZE), "---");
    EXPECT_EQ(drive.queries, 0);
}

}  // namespace
