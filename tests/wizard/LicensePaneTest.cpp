// The license pane shows eula.txt's bytes as they are, whatever their size and wherever the medium is.
#include "WizardFixture.h"

namespace {

// A Big5 text of more than one 64 KiB read, laid out so that a double-byte character straddles the
// first read's end: a reader that converted or cut per chunk would break that character.
std::string LongBig5Text() {
    const std::wstring line = L"第%05d行：本授權合約適用於語音包之全部內容，請仔細閱讀。\r\n";
    for (std::string pad;; pad += "x") {
        std::string text = pad;
        std::vector<bool> leadByte(pad.size(), false);
        for (int n = 0; text.size() < 100000; ++n) {
            wchar_t buffer[128];
            swprintf(buffer, 128, line.c_str(), n);
            for (const wchar_t* c = buffer; *c; ++c) {
                const std::string bytes = ui::ToAnsi(std::wstring(1, *c));
                text += bytes;
                leadByte.push_back(bytes.size() == 2);
                if (bytes.size() == 2) {
                    leadByte.push_back(false);
                }
            }
        }
        if (leadByte[65535]) {
            return text;
        }
    }
}

size_t FirstDifference(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            return i;
        }
    }
    return a.size() == b.size() ? std::string::npos : n;
}

enum class File { Absent, Present };

struct LicenseCase {
    const char* name;
    std::wstring mediumFolder;  // empty: an ASCII name
    File file;
    std::string bytes;
};

void PrintTo(const LicenseCase& c, std::ostream* out) {
    *out << c.name << " (" << c.bytes.size() << " bytes)";
}

class LicensePane : public WizardTest, public ::testing::WithParamInterface<LicenseCase> {
protected:
    void SetUp() override {
        medium_ = std::make_unique<ui::Medium>(GetParam().mediumFolder);
        WizardTest::SetUp();
    }
};

TEST_P(LicensePane, HoldsTheFileUnchanged) {
    const LicenseCase& c = GetParam();
    if (c.file == File::Absent) {
        ASSERT_TRUE(medium_->RemoveFile(L"eula.txt"));
    } else {
        ASSERT_TRUE(medium_->WriteFile(L"eula.txt", c.bytes));
    }
    HWND page = StartAndWalkTo(ui::PageKind::License);
    ASSERT_TRUE(page);
    const std::string shown = ui::ItemAnsiText(page, kLicensePane);
    EXPECT_EQ(shown.size(), c.bytes.size());
    EXPECT_EQ(FirstDifference(shown, c.bytes), std::string::npos) << "first differing byte";
    const LONG_PTR style = ui::ItemStyle(page, kLicensePane);
    EXPECT_TRUE(style & ES_READONLY) << "the pane cannot be edited";
    EXPECT_TRUE(style & WS_VSCROLL) << "the pane scrolls";
}

const std::string kShortBig5 =
    ui::ToAnsi(L"最終使用者授權合約\r\n\r\n一、本軟體之著作權屬於原作者。\r\n二、請勿散佈。\r\n");

INSTANTIATE_TEST_SUITE_P(Files,
                         LicensePane,
                         ::testing::Values(LicenseCase{"ShortBig5", L"", File::Present, kShortBig5},
                                           LicenseCase{"LongerThanOneRead", L"", File::Present, LongBig5Text()},
                                           LicenseCase{"EmptyFile", L"", File::Present, ""},
                                           LicenseCase{"NoFile", L"", File::Absent, ""},
                                           // The medium's folder name outside ASCII: the program must still find the
                                           // file beside itself.
                                           LicenseCase{"ChineseMediumFolder", L"安裝光碟", File::Present, kShortBig5}),
                         [](const ::testing::TestParamInfo<LicenseCase>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
