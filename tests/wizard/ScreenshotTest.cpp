// Pictures of each page from a real run, for the documentation. Runs only when UI_SCREENSHOT_DIR names
// the folder for them (screenshots.sh does that and turns the bitmaps into PNG files).
#include "WizardFixture.h"

namespace {

std::wstring ScreenshotFolder() {
    wchar_t buffer[4096] = {};
    const DWORD length = GetEnvironmentVariableW(L"UI_SCREENSHOT_DIR", buffer, 4096);
    return length > 0 && length < 4096 ? ui::ToWindowsPath(ui::Narrow(buffer)) : std::wstring();
}

class Screenshots : public WizardTest {
protected:
    void Save(HWND page, const wchar_t* name) {
        ui::Image image;
        ASSERT_TRUE(ui::CapturePainted(page, &image)) << ui::Narrow(name);
        EXPECT_TRUE(ui::SaveBmp(image, folder_ + L"\\" + name + L".bmp")) << ui::Narrow(name);
    }
    std::wstring folder_ = ScreenshotFolder();
};

TEST_F(Screenshots, PagesBeforeTheCopy) {
    if (folder_.empty()) {
        GTEST_SKIP() << "UI_SCREENSHOT_DIR is not set";
    }
    HWND page = Start();
    ASSERT_TRUE(page);
    Save(page, L"welcome");
    page = Go(page, kNext, ui::PageKind::License);
    ASSERT_TRUE(page);
    ASSERT_TRUE(SetAgreement(page, true));
    Save(page, L"license");
    page = Go(page, kNext, ui::PageKind::Folder);
    ASSERT_TRUE(page);
    // The size labels are filled by the page's first timer tick at the latest.
    ASSERT_TRUE(ui::WaitFor([&] { return ui::ItemText(page, 1011) == L"1180 MB"; }));
    Save(page, L"folder");
    page = Go(page, kNext, ui::PageKind::Ready);
    ASSERT_TRUE(page);
    Save(page, L"ready");
    page = Go(page, IDCANCEL, ui::PageKind::Finish);
    ASSERT_TRUE(page);
    Save(page, L"finish");
    CloseFinishAndExpectExit(page);
}

}  // namespace
