// Pictures of each page from a real run, for the documentation. Runs only when UI_SCREENSHOT_DIR names
// the folder for them (screenshots.sh does that and turns the bitmaps into PNG files).
#include "VolumeWriter.h"
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

// The copy page and the second-disc prompt: the first disc's volumes alone, one of them large enough
// that the page polls while it is copied; the prompt is given up, so nothing stays installed.
TEST_F(Screenshots, CopyPageAndDiscPrompt) {
    if (folder_.empty()) {
        GTEST_SKIP() << "UI_SCREENSHOT_DIR is not set";
    }
    const std::string medium = ui::Narrow(medium_->folder());
    for (int n = 1; n <= 3; ++n) {
        std::vector<VolumeEntry> entries(1);
        entries[0].name = "Voice\\disc1_" + std::to_string(n) + ".dat";
        entries[0].data.assign(n == 1 ? 128u << 20 : 4096u, 'v');
        const std::wstring name = L"data" + std::to_wstring(n) + L".cab";
        std::string error;
        ASSERT_TRUE(WriteVolume(medium + "\\" + ui::Narrow(name), entries, error)) << error;
        medium_->Adopt(name);
    }
    HWND page = StartAndWalkTo(ui::PageKind::Folder);
    ASSERT_TRUE(page);
    wchar_t temp[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH + 1, temp);
    const std::wstring target = std::wstring(temp) + L"ui-install-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_TRUE(ui::SetItemText(page, kFolderEdit, target));
    page = Go(page, kNext, ui::PageKind::Ready);
    ASSERT_TRUE(page);
    page = Go(page, kNext, ui::PageKind::Copy);
    ASSERT_TRUE(page);

    HWND box = nullptr;
    ASSERT_TRUE(ui::WaitFor([&] {
        box = ui::FindMessageBox(page);
        return box != nullptr || !ui::ItemText(page, 1016).empty();
    }));
    auto moveAside = [&](HWND window) {
        SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    };
    if (box != nullptr) {
        moveAside(box);
    }
    Save(page, L"copy");
    box = ui::WaitForMessageBox(page);
    ASSERT_TRUE(box) << wizard_->Describe();
    EXPECT_EQ(ui::MessageBoxText(box), L"請放入第二張光碟後按確定");
    Save(box, L"disc-prompt");

    // OK without the second disc brings the retry box; giving that up stops the run.
    ASSERT_TRUE(ui::AnswerMessageBox(box, IDOK));
    HWND retry = nullptr;
    ASSERT_TRUE(ui::WaitFor([&] {
        retry = ui::FindMessageBox(page);
        return retry != nullptr && retry != box;
    })) << wizard_->Describe();
    ASSERT_TRUE(ui::AnswerMessageBox(retry, IDCANCEL));
    page = Expect(ui::PageKind::Finish);
    ASSERT_TRUE(page);
    CloseFinishAndExpectExit(page);
    RemoveDirectoryW((target + L"\\Voice").c_str());
    RemoveDirectoryW(target.c_str());
}

}  // namespace
