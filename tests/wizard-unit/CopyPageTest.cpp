#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "CopyPage.h"
#include "MessageBoxes.h"
#include "Pages.h"
#include "Platform.h"
#include "ResourceIds.h"
#include "SetupState.h"
#include "TestFiles.h"
#include "Texts.h"
#include "VolumeWriter.h"

namespace {

using testfiles::ScratchFolder;

TEST(CopyPageProgress, PositionIsWholeMebibytesCappedAtTheRange) {
    const struct {
        std::int64_t bytes;
        int position;
    } cases[] = {
        {0, 0},
        {1048575, 0},
        {1048576, 1},
        {2 * 1048576 - 1, 1},
        {1237319680 - 1, 1179},
        {1237319680, 1180},
        {1237319680 + 1048576, 1180},
        {std::int64_t{1} << 40, 1180},
        {INT64_MAX, 1180},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ProgressPosition(c.bytes), c.position) << c.bytes;
    }
}

// The program shows the copy page once per process, and the page's job and its second-disc prompt
// are process-wide: every test that starts a run needs a process of its own (ctest gives each one
// its own, by name). Run together in one process, all but the first are skipped.
int runsInThisProcess = 0;

// A run's sample medium: three entries on each disc, and the two side files.
struct Medium {
    ScratchFolder source;
    ScratchFolder target;

    void WriteVolume(int number, const std::vector<VolumeEntry>& entries) {
        std::string error;
        ASSERT_TRUE(
            ::WriteVolume(testfiles::ToUtf8(source / ("data" + std::to_string(number) + ".cab")), entries, error))
            << error;
    }
    void WriteDisc(bool first) {
        for (int number = first ? 1 : 4; number < (first ? 4 : 7); ++number) {
            VolumeEntry entry;
            entry.name = "Voice\\disc" + std::to_string(number) + ".ogg";
            entry.data = std::string(3000 + number, static_cast<char>('0' + number));
            WriteVolume(number, {entry});
        }
    }
    void WriteSideFiles() {
        testfiles::WriteFile(source / "den.dat", "den");
        testfiles::WriteFile(source / "launch.ini", "[launch]\r\n");
    }
    std::map<std::string, std::string> Installed() const { return testfiles::Snapshot(target.path()); }
};

class CopyPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(GetACP(), 950u) << "run under LANG=zh_TW.UTF-8, where the ANSI code page is Big5";
        setupState.moduleInstance = GetModuleHandleA(nullptr);
        setupState.sourceFolder = medium_.source.utf8();
        setupState.installFolder = medium_.target.utf8();
        setupState.currentPage = Copy;
        setupState.installSucceeded = false;
    }

    void TearDown() override {
        Close();
        platform::SetOperationHook(nullptr);
    }

    void Open() {
        page_ = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_COPY), nullptr, CopyPageProc, 0);
        ASSERT_NE(page_, nullptr);
    }
    void Close() {
        if (page_ != nullptr) {
            DestroyWindow(page_);  // waits for the worker
            page_ = nullptr;
        }
    }

    // Runs the page's messages until the condition holds; false after a generous time-out.
    static bool PumpUntil(const std::function<bool()>& condition) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!condition()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        return true;
    }
    static bool PageEnded() { return setupState.currentPage == Finish; }

    void Cancel() { SendMessageA(page_, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); }
    std::string Item(int id) {
        char text[4096] = {};
        GetDlgItemTextA(page_, id, text, sizeof text);
        return text;
    }
    int BarPosition() { return static_cast<int>(SendDlgItemMessageA(page_, IDC_PROGRESS, PBM_GETPOS, 0, 0)); }
    bool CancelEnabled() { return IsWindowEnabled(GetDlgItem(page_, IDCANCEL)) != FALSE; }

    Medium medium_;
    HWND page_ = nullptr;
};

#define CLAIM_PROCESS()                                                                   \
    if (runsInThisProcess > 0) {                                                          \
        GTEST_SKIP() << "a copy-page run needs a process of its own; run it by its name"; \
    }                                                                                     \
    ++runsInThisProcess

TEST_F(CopyPageTest, MissingFirstDiscVolumeBlocksUntilCancel) {
    medium_.WriteDisc(true);
    std::error_code error;
    testfiles::fs::remove(medium_.source / "data2.cab", error);
    MessageBoxes boxes;
    Open();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{kTextFilesMissing});
    EXPECT_EQ(Item(IDC_VOLUME_TEXT), "");
    EXPECT_EQ(Item(IDC_CURRENT_FILE), "");
    EXPECT_EQ(BarPosition(), 0);

    // No worker and no polls (no timer to kill): the page stays until Cancel, which asks nothing.
    EXPECT_FALSE(KillTimer(page_, 0));
    EXPECT_EQ(setupState.currentPage, Copy);
    boxes.Clear();
    Cancel();
    EXPECT_EQ(setupState.currentPage, Finish);
    EXPECT_TRUE(boxes.Texts().empty());
    EXPECT_TRUE(medium_.Installed().empty());
}

// Holds the worker inside its writes until the test lets it go.
std::atomic<bool> writesHeld{false};
bool HoldWrites(platform::Operation operation, const std::string&) {
    while (operation == platform::Operation::Write && writesHeld.load()) {
        platform::SleepMilliseconds(10);
    }
    return false;
}

// Holds it only at the first entry of the second disc.
bool HoldSecondDisc(platform::Operation operation, const std::string& path) {
    while (operation == platform::Operation::CreateForWriting && path.find("disc4.ogg") != std::string::npos &&
           writesHeld.load()) {
        platform::SleepMilliseconds(10);
    }
    return false;
}

TEST_F(CopyPageTest, FullRunAsksForTheSecondDiscOnce) {
    CLAIM_PROCESS();
    medium_.WriteDisc(true);
    medium_.WriteSideFiles();
    MessageBoxes boxes;
    boxes.answer = [this](const std::string& text) {
        if (text == kTextInsertDisc2) {
            medium_.WriteDisc(false);  // the user puts the second disc in, then presses OK
            return IDOK;
        }
        return IDCANCEL;
    };
    writesHeld = true;
    platform::SetOperationHook(HoldSecondDisc);
    Open();
    // Held at the second disc's first entry: the polls show the second volume text and that entry.
    ASSERT_TRUE(PumpUntil([this] { return Item(IDC_CURRENT_FILE) == "Voice\\disc4.ogg"; }));
    EXPECT_EQ(Item(IDC_VOLUME_TEXT), kTextDisc2);
    EXPECT_EQ(BarPosition(), 0);  // a few kilobytes so far
    writesHeld = false;

    ASSERT_TRUE(PumpUntil([] { return PageEnded(); }));
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{kTextInsertDisc2});
    EXPECT_EQ(Item(IDC_CURRENT_FILE), kTextComplete);
    EXPECT_EQ(BarPosition(), 1180);
    Close();

    EXPECT_TRUE(setupState.installSucceeded);
    const auto installed = medium_.Installed();
    EXPECT_EQ(installed.size(), 8u);
    EXPECT_EQ(installed.count("Voice/disc6.ogg"), 1u);
    EXPECT_EQ(installed.at("Bin/den.dat"), "den");
    EXPECT_EQ(installed.at("Bin/launch.ini"), "[launch]\r\n");
}

TEST_F(CopyPageTest, ConfirmedCancelStopsTheRunAndRollsBack) {
    CLAIM_PROCESS();
    medium_.WriteDisc(true);
    medium_.WriteDisc(false);
    medium_.WriteSideFiles();
    writesHeld = true;
    platform::SetOperationHook(HoldWrites);
    MessageBoxes boxes;
    Open();
    // The worker is inside its first entry once the poll shows that entry.
    ASSERT_TRUE(PumpUntil([this] { return Item(IDC_CURRENT_FILE) == "Voice\\disc1.ogg"; }));
    EXPECT_EQ(Item(IDC_VOLUME_TEXT), kTextDisc1);

    boxes.answer = [](const std::string&) { return IDNO; };
    Cancel();
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{kTextConfirmCancel});
    EXPECT_TRUE(CancelEnabled());
    EXPECT_EQ(setupState.currentPage, Copy);

    boxes.answer = [](const std::string&) { return IDYES; };
    Cancel();
    EXPECT_FALSE(CancelEnabled());
    EXPECT_EQ(setupState.currentPage, Copy);  // the page ends through a poll, once the worker is done

    writesHeld = false;
    ASSERT_TRUE(PumpUntil([] { return PageEnded(); }));
    EXPECT_EQ(boxes.Texts().size(), 2u);
    EXPECT_EQ(Item(IDC_CURRENT_FILE), kTextComplete);
    Close();
    EXPECT_FALSE(setupState.installSucceeded);
    EXPECT_TRUE(medium_.Installed().empty());
}

TEST_F(CopyPageTest, FailedRunShowsTheErrorAndRollsBack) {
    CLAIM_PROCESS();
    medium_.WriteDisc(true);
    medium_.WriteDisc(false);
    // A record whose name length is 0: the second volume is malformed.
    testfiles::WriteFile(medium_.source / "data2.cab", std::string(4, '\0'));
    MessageBoxes boxes;
    Open();
    ASSERT_TRUE(PumpUntil([] { return PageEnded(); }));
    const std::string volumePath = medium_.source.utf8() + "\\data2.cab";  // ASCII: the same in Big5
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{kTextBadVolumePrefix + volumePath + kTextVolumeSuffix});
    EXPECT_NE(Item(IDC_CURRENT_FILE), kTextComplete);
    Close();
    EXPECT_FALSE(setupState.installSucceeded);
    EXPECT_TRUE(medium_.Installed().empty());
}

}  // namespace
