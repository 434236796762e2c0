// What every wizard test starts from: a medium, a running wizard, and the walk between pages.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "UiDriver.h"

// Control ids of the pages, as the templates fix them.
inline constexpr int kLicensePane = 1007;
inline constexpr int kAgreeBox = 1008;
inline constexpr int kFolderEdit = 1012;
inline constexpr int kReadyFolder = 1014;
inline constexpr int kBack = 1018;
inline constexpr int kNext = 1019;

class WizardTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(ui::SetupExePath().empty()) << "set SETUP_EXE to the Setup.exe under test";
        ASSERT_TRUE(medium_->ok()) << "could not lay out the medium from " << ui::Narrow(ui::SetupExePath());
    }

    // Starts the wizard from the medium and waits for its welcome page.
    HWND Start() {
        wizard_ = std::make_unique<ui::Wizard>(*medium_);
        EXPECT_TRUE(wizard_->started()) << "CreateProcess failed for " << ui::Narrow(medium_->setupPath());
        return Expect(ui::PageKind::Welcome);
    }

    HWND Expect(ui::PageKind kind) {
        HWND page = wizard_->WaitForPage(kind);
        EXPECT_NE(page, nullptr) << "no " << ui::PageName(kind) << " page; " << wizard_->Describe();
        return page;
    }

    // Presses a button of the page and waits for the page it leads to.
    HWND Go(HWND page, int button, ui::PageKind next) {
        EXPECT_TRUE(ui::Click(page, button)) << "page has no button " << button;
        return Expect(next);
    }

    // Ticks or unticks the agreement and waits until Next follows it.
    bool SetAgreement(HWND license, bool agree) {
        if (ui::IsItemChecked(license, kAgreeBox) != agree) {
            ui::Click(license, kAgreeBox);
        }
        return ui::WaitFor([&] {
            return ui::IsItemChecked(license, kAgreeBox) == agree && ui::IsItemEnabled(license, kNext) == agree;
        });
    }

    // From the start to the page asked for, by the forward road, agreeing to the license on the way.
    HWND StartAndWalkTo(ui::PageKind target) {
        HWND page = Start();
        if (page == nullptr || target == ui::PageKind::Welcome) {
            return page;
        }
        page = Go(page, kNext, ui::PageKind::License);
        if (page == nullptr || target == ui::PageKind::License) {
            return page;
        }
        EXPECT_TRUE(SetAgreement(page, true));
        page = Go(page, kNext, ui::PageKind::Folder);
        if (page == nullptr || target == ui::PageKind::Folder) {
            return page;
        }
        page = Go(page, kNext, ui::PageKind::Ready);
        if (page == nullptr || target == ui::PageKind::Ready) {
            return page;
        }
        return Go(page, IDCANCEL, ui::PageKind::Finish);
    }

    // Closes the finish page and checks that the program ends with exit code 0.
    void CloseFinishAndExpectExit(HWND finish) {
        ASSERT_TRUE(ui::Click(finish, IDCANCEL));
        DWORD code = 1234;
        ASSERT_TRUE(wizard_->WaitForExit(&code)) << wizard_->Describe();
        EXPECT_EQ(code, 0u);
    }

    std::unique_ptr<ui::Medium> medium_ = std::make_unique<ui::Medium>();
    std::unique_ptr<ui::Wizard> wizard_;  // declared after the medium: ends before its folder goes

    void TearDown() override { wizard_.reset(); }
};

// Whether any static control of the page shows exactly this text.
bool PageShowsText(HWND page, const std::wstring& text);

// The program-files folder as the shell names it to a narrow caller, plus the maker's subfolders.
std::string ExpectedDefaultFolder();
