// The pages before the copy page as a user walks them: forward, back, the license gate, and every way
// out through the finish page.
#include <shlobj.h>

#include "WizardFixture.h"

using ui::PageKind;

namespace {

struct TextSearch {
    const std::wstring* text;
    bool found;
};

BOOL CALLBACK FindStaticWithText(HWND child, LPARAM lParam) {
    auto* search = reinterpret_cast<TextSearch*>(lParam);
    wchar_t name[16] = {};
    GetClassNameW(child, name, 16);
    if (lstrcmpiW(name, L"Static") == 0 && ui::Text(child) == *search->text) {
        search->found = true;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

bool PageShowsText(HWND page, const std::wstring& text) {
    TextSearch search{&text, false};
    EnumChildWindows(page, FindStaticWithText, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::string ExpectedDefaultFolder() {
    char folder[MAX_PATH] = {};
    LPITEMIDLIST items = nullptr;
    if (SUCCEEDED(SHGetSpecialFolderLocation(nullptr, CSIDL_PROGRAM_FILES, &items))) {
        SHGetPathFromIDListA(items, folder);
        CoTaskMemFree(items);
    }
    return std::string(folder) + "\\Tarnwick\\Veyloran\\";
}

namespace {

// The remembered game folder would replace the default on the folder page.
bool GameFolderIsRemembered() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Veyloran", 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    const bool found = RegQueryValueExA(key, "default", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

using Navigation = WizardTest;

TEST_F(Navigation, ForwardToReadyAndBackToWelcome) {
    ASSERT_FALSE(GameFolderIsRemembered()) << "run in a fresh prefix: HKCU\\SOFTWARE\\Veyloran\\default is set";
    HWND page = Start();
    ASSERT_TRUE(page);
    EXPECT_TRUE(ui::IsItemEnabled(page, kNext));
    EXPECT_EQ(ui::ItemText(page, IDCANCEL), L"取消");

    page = Go(page, kNext, PageKind::License);
    ASSERT_TRUE(page);
    ASSERT_TRUE(SetAgreement(page, true));
    page = Go(page, kNext, PageKind::Folder);
    ASSERT_TRUE(page);
    const std::string folder = ExpectedDefaultFolder();
    EXPECT_EQ(ui::ItemAnsiText(page, kFolderEdit), folder);

    page = Go(page, kNext, PageKind::Ready);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemAnsiText(page, kReadyFolder), folder);

    // Back from each page in turn, down to the welcome page.
    page = Go(page, kBack, PageKind::Folder);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemAnsiText(page, kFolderEdit), folder);
    page = Go(page, kBack, PageKind::License);
    ASSERT_TRUE(page);
    EXPECT_TRUE(ui::IsItemChecked(page, kAgreeBox)) << "the agreement is remembered";
    EXPECT_TRUE(ui::IsItemEnabled(page, kNext));
    page = Go(page, kBack, PageKind::Welcome);
    ASSERT_TRUE(page);

    // And forward again: the agreement survived the welcome page too.
    page = Go(page, kNext, PageKind::License);
    ASSERT_TRUE(page);
    EXPECT_TRUE(ui::IsItemChecked(page, kAgreeBox));
    EXPECT_TRUE(ui::IsItemEnabled(page, kNext));
    page = Go(page, kNext, PageKind::Folder);
    ASSERT_TRUE(page);
    page = Go(page, kNext, PageKind::Ready);
    ASSERT_TRUE(page);
    page = Go(page, IDCANCEL, PageKind::Finish);
    ASSERT_TRUE(page);
    CloseFinishAndExpectExit(page);
}

TEST_F(Navigation, ReadyPageShowsTheFolderAsTyped) {
    HWND page = StartAndWalkTo(PageKind::Folder);
    ASSERT_TRUE(page);
    const std::wstring folder = L"C:\\Games\\Veyloran";
    ASSERT_TRUE(ui::SetItemText(page, kFolderEdit, folder));
    page = Go(page, kNext, PageKind::Ready);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemText(page, kReadyFolder), folder);
    EXPECT_FALSE(PageShowsText(page, L"E:")) << "the placeholder is replaced";
}

// Next on the folder page with a folder of the wrong form: the warning box, owned by the page, and the
// page stays once it is answered.
TEST_F(Navigation, InvalidFolderIsRefusedWithAWarning) {
    HWND page = StartAndWalkTo(PageKind::Folder);
    ASSERT_TRUE(page);
    ASSERT_TRUE(ui::SetItemText(page, kFolderEdit, L"C:"));
    ASSERT_TRUE(ui::Click(page, kNext));
    HWND box = ui::WaitForMessageBox(page);
    ASSERT_TRUE(box) << wizard_->Describe();
    EXPECT_EQ(ui::MessageBoxText(box), L"安裝路徑無效，請重新指定安裝路徑！");
    EXPECT_EQ(ui::Text(box), L"Veyloran - 安裝嚮導");
    ASSERT_TRUE(ui::AnswerMessageBox(box, IDOK));
    ASSERT_TRUE(ui::WaitFor([&] { return !IsWindow(box); }));
    HWND now = nullptr;
    EXPECT_EQ(wizard_->CurrentPage(&now), PageKind::Folder);
    EXPECT_EQ(now, page) << "the same page stays";
}

using LicenseGate = WizardTest;

TEST_F(LicenseGate, FirstVisitIsUntickedAndTheBoxDrivesNext) {
    HWND welcome = Start();
    ASSERT_TRUE(welcome);
    HWND page = Go(welcome, kNext, PageKind::License);
    ASSERT_TRUE(page);
    EXPECT_FALSE(ui::IsItemChecked(page, kAgreeBox));
    EXPECT_FALSE(ui::IsItemEnabled(page, kNext));
    EXPECT_TRUE(ui::IsItemEnabled(page, kBack));

    ASSERT_TRUE(SetAgreement(page, true)) << "ticking enables Next";
    ASSERT_TRUE(SetAgreement(page, false)) << "unticking disables it again";
    ASSERT_TRUE(SetAgreement(page, true));
    ASSERT_TRUE(SetAgreement(page, false));
    HWND now = nullptr;
    EXPECT_EQ(wizard_->CurrentPage(&now), PageKind::License);
    EXPECT_EQ(now, page) << "the box never closes the page";

    // Left unticked, it stays unticked through the welcome page.
    page = Go(page, kBack, PageKind::Welcome);
    ASSERT_TRUE(page);
    page = Go(page, kNext, PageKind::License);
    ASSERT_TRUE(page);
    EXPECT_FALSE(ui::IsItemChecked(page, kAgreeBox));
    EXPECT_FALSE(ui::IsItemEnabled(page, kNext));
}

TEST_F(LicenseGate, TickedIsRememberedFromTheFolderPage) {
    HWND page = StartAndWalkTo(PageKind::Folder);
    ASSERT_TRUE(page);
    page = Go(page, kBack, PageKind::License);
    ASSERT_TRUE(page);
    EXPECT_TRUE(ui::IsItemChecked(page, kAgreeBox));
    EXPECT_TRUE(ui::IsItemEnabled(page, kNext));
    // Unticking there takes the agreement back for the next visit as well.
    ASSERT_TRUE(SetAgreement(page, false));
    page = Go(page, kBack, PageKind::Welcome);
    ASSERT_TRUE(page);
    page = Go(page, kNext, PageKind::License);
    ASSERT_TRUE(page);
    EXPECT_FALSE(ui::IsItemChecked(page, kAgreeBox));
    EXPECT_FALSE(ui::IsItemEnabled(page, kNext));
}

// Cancel, Esc and the close box: on every page before the copy page they lead to the finish page, and
// on the finish page the same way ends the program with exit code 0.
enum class Way { CancelButton, EscKey, CloseBox };

struct LeaveCase {
    PageKind page;
    Way way;
};

std::string CaseText(const LeaveCase& c) {
    static const char* const ways[] = {"Cancel", "Esc", "CloseBox"};
    std::string page = ui::PageName(c.page);
    page[0] = static_cast<char>(page[0] - 'a' + 'A');
    return page + "By" + ways[static_cast<int>(c.way)];
}

std::string CaseName(const ::testing::TestParamInfo<LeaveCase>& info) {
    return CaseText(info.param);
}

void PrintTo(const LeaveCase& c, std::ostream* out) {
    *out << CaseText(c);
}

class Leaving : public WizardTest, public ::testing::WithParamInterface<LeaveCase> {
protected:
    void Leave(HWND page, Way way) {
        switch (way) {
            case Way::CancelButton:
                ASSERT_TRUE(ui::Click(page, IDCANCEL));
                break;
            case Way::EscKey: {
                HWND focus = ui::FocusedControl(page);
                // The key must reach a control of the page: only the dialog manager turns it into IDCANCEL,
                // the pages themselves take no keys.
                ASSERT_TRUE(focus == page || IsChild(page, focus)) << "focus outside the page";
                ASSERT_TRUE(ui::PressEscape(page));
                break;
            }
            case Way::CloseBox:
                ASSERT_TRUE(ui::PressCloseBox(page));
                break;
        }
    }
};

TEST_P(Leaving, LeadsToFinishThenOut) {
    const LeaveCase c = GetParam();
    HWND page = StartAndWalkTo(c.page);
    ASSERT_TRUE(page);
    Leave(page, c.way);
    HWND finish = Expect(PageKind::Finish);
    ASSERT_TRUE(finish);
    EXPECT_FALSE(wizard_->HasExited());
    EXPECT_TRUE(PageShowsText(finish, L"安裝結束"));
    EXPECT_FALSE(ui::HasControl(finish, kBack));

    Leave(finish, c.way);
    DWORD code = 1234;
    ASSERT_TRUE(wizard_->WaitForExit(&code)) << wizard_->Describe();
    EXPECT_EQ(code, 0u);
}

INSTANTIATE_TEST_SUITE_P(PagesTimesWays,
                         Leaving,
                         ::testing::Values(LeaveCase{PageKind::Welcome, Way::CancelButton},
                                           LeaveCase{PageKind::Welcome, Way::EscKey},
                                           LeaveCase{PageKind::Welcome, Way::CloseBox},
                                           LeaveCase{PageKind::License, Way::CancelButton},
                                           LeaveCase{PageKind::License, Way::EscKey},
                                           LeaveCase{PageKind::License, Way::CloseBox},
                                           LeaveCase{PageKind::Folder, Way::CancelButton},
                                           LeaveCase{PageKind::Folder, Way::EscKey},
                                           LeaveCase{PageKind::Folder, Way::CloseBox},
                                           LeaveCase{PageKind::Ready, Way::CancelButton},
                                           LeaveCase{PageKind::Ready, Way::EscKey},
                                           LeaveCase{PageKind::Ready, Way::CloseBox}),
                         CaseName);

}  // namespace
