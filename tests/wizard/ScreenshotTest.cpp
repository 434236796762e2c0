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

// The second-disc prompt, then the copy page while it copies the second disc: its volumes are put in
// once the prompt shows, one of them large enough that the page polls while it is copied. The run is
// cancelled then, so nothing stays installed.
TEST_F(Screenshots, DiscPromptAndCopyPage) {
    if (folder_.empty()) {
        GTEST_SKIP() << "UI_SCREENSHOT_DIR is not set";
    }
    const std::string medium = ui::Narrow(medium_->folder());
    ASSERT_TRUE(medium_->WriteFile(L"voice.bin", std::string(32u << 20, 'v')));
    auto writeVolume = [&](int number, int entryCount) {
        std::vector<VolumeEntry> entries(static_cast<size_t>(entryCount));
        for (int i = 0; i < entryCount; ++i) {
            entries[i].name = "Voice\\disc" + std::to_string(number) + "_" + std::to_string(i) + ".ogg";
            entries[i].sourcePath = medium + "\\voice.bin";
            entries[i].fromFile = true;
        }
        const std::wstring name = L"data" + std::to_wstring(number) + L".cab";
        std::string error;
        EXPECT_TRUE(WriteVolume(medium + "\\" + ui::Narrow(name), entries, error)) << error;
        medium_->Adopt(name);
    };
    for (int n = 1; n <= 3; ++n) {
        writeVolume(n, 1);
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

    HWND box = ui::WaitForMessageBox(page);
    ASSERT_TRUE(box) << wizard_->Describe();
    EXPECT_EQ(ui::MessageBoxText(box), L"請放入第二張光碟後按確定");
    Save(box, L"disc-prompt");

    writeVolume(4, 24);
    writeVolume(5, 1);
    writeVolume(6, 1);
    ASSERT_TRUE(ui::AnswerMessageBox(box, IDOK));
    ASSERT_TRUE(ui::WaitFor([&] {
        return ui::ItemText(page, 1016) == L"正在複製第2卷，共2卷" && !ui::ItemText(page, 1015).empty();
    })) << wizard_->Describe();
    Save(page, L"copy");

    // Cancel, confirmed: the worker rolls back and the finish page follows.
    ASSERT_TRUE(ui::Click(page, IDCANCEL));
    HWND question = ui::WaitForMessageBox(page);
    if (question != nullptr) {
        EXPECT_EQ(ui::MessageBoxText(question), L"是否終止安裝程式？");
        ui::AnswerMessageBox(question, IDYES);
    }
    page = Expect(ui::PageKind::Finish);
    ASSERT_TRUE(page);
    CloseFinishAndExpectExit(page);
    RemoveDirectoryW((target + L"\\Voice").c_str());
    RemoveDirectoryW(target.c_str());
}

}  // namespace
