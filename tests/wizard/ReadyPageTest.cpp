// The ready page's folder label: the whole folder as its text, cut with an ellipsis on the screen when
// the folder is too long for it.
#include <algorithm>
#include <map>

#include "WizardFixture.h"

namespace {

struct Blob {
    int left, right, top, bottom;  // inclusive pixel bounds of one run of inked columns
};

// The label's ink split into runs of columns with ink, separated by empty columns.
std::vector<Blob> InkBlobs(const ui::Image& image) {
    std::map<std::uint32_t, int> counts;
    for (std::uint32_t p : image.pixels) {
        ++counts[p];
    }
    const std::uint32_t background =
        std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })->first;
    auto inked = [&](int x, int y) {
        const std::uint32_t p = image.at(x, y);
        int distance = 0;
        for (int shift = 0; shift < 24; shift += 8) {
            distance +=
                std::abs(static_cast<int>((p >> shift) & 0xFF) - static_cast<int>((background >> shift) & 0xFF));
        }
        return distance > 120;
    };
    std::vector<Blob> blobs;
    bool open = false;
    for (int x = 0; x < image.width; ++x) {
        int top = image.height, bottom = -1;
        for (int y = 0; y < image.height; ++y) {
            if (inked(x, y)) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
        if (bottom < 0) {
            open = false;
            continue;
        }
        if (!open) {
            blobs.push_back(Blob{x, x, top, bottom});
            open = true;
        } else {
            Blob& b = blobs.back();
            b.right = x;
            b.top = std::min(b.top, top);
            b.bottom = std::max(b.bottom, bottom);
        }
    }
    return blobs;
}

// Three small marks side by side on the lower half of the line: an ellipsis. Where it sits depends on
// the system: Windows cuts the end of the folder for SS_WORDELLIPSIS, while Wine's static control tests
// the style's bits one by one, so SS_WORDELLIPSIS also turns on its path ellipsis and the dots land
// before the folder's last name. Either way the text on the screen is one line, cut, with the dots.
bool ShowsEllipsis(const ui::Image& image, std::string* why) {
    const std::vector<Blob> blobs = InkBlobs(image);
    if (blobs.size() < 4) {
        *why = "only " + std::to_string(blobs.size()) + " inked runs";
        return false;
    }
    int textTop = image.height, textBottom = -1;
    for (const Blob& b : blobs) {
        textTop = std::min(textTop, b.top);
        textBottom = std::max(textBottom, b.bottom);
    }
    const int middle = (textTop + textBottom) / 2;
    auto isDot = [&](const Blob& b) { return b.right - b.left <= 2 && b.bottom - b.top <= 2 && b.top > middle; };
    for (size_t i = 0; i + 2 < blobs.size(); ++i) {
        if (isDot(blobs[i]) && isDot(blobs[i + 1]) && isDot(blobs[i + 2])) {
            if (blobs.back().right < image.width - 16) {
                *why = "dots, yet the text ends at x " + std::to_string(blobs.back().right) + " of " +
                       std::to_string(image.width);
                return false;
            }
            return true;
        }
    }
    *why = "no three dots among " + std::to_string(blobs.size()) + " inked runs (text rows " + std::to_string(textTop) +
           ".." + std::to_string(textBottom) + ")";
    return false;
}

using ReadyPage = WizardTest;

TEST_F(ReadyPage, ShortFolderIsShownWhole) {
    HWND page = StartAndWalkTo(ui::PageKind::Ready);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemAnsiText(page, kReadyFolder), ExpectedDefaultFolder());
    ui::Image label;
    ASSERT_TRUE(ui::CapturePainted(GetDlgItem(page, kReadyFolder), &label));
    std::string why;
    EXPECT_FALSE(ShowsEllipsis(label, &why)) << "a folder that fits is not cut";
}

TEST_F(ReadyPage, LongFolderEndsInAnEllipsis) {
    HWND page = StartAndWalkTo(ui::PageKind::Folder);
    ASSERT_TRUE(page);
    // Valid (under 260 bytes) yet far wider than the label's 368 dialog units.
    std::wstring folder = L"C:\\Games";
    while (folder.size() < 230) {
        folder += L"\\VeyloranVoicePackFolder";
    }
    ASSERT_TRUE(ui::SetItemText(page, kFolderEdit, folder));
    page = Go(page, kNext, ui::PageKind::Ready);
    ASSERT_TRUE(page);
    EXPECT_EQ(ui::ItemText(page, kReadyFolder), folder) << "the label holds the whole folder";
    EXPECT_EQ(ui::ItemStyle(page, kReadyFolder) & SS_ELLIPSISMASK, SS_WORDELLIPSIS);

    ui::Image label;
    ASSERT_TRUE(ui::CapturePainted(GetDlgItem(page, kReadyFolder), &label));
    std::string why;
    EXPECT_TRUE(ShowsEllipsis(label, &why)) << why;
}

}  // namespace
