#include "WizardRun.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>

namespace demo {

namespace {

constexpr DWORD kSettleTimeoutMs = 10000;

// The page of that kind, or a message box, or the end of the process, whichever comes first.
HWND WaitForPageOrBox(const ui::Wizard& setup, ui::PageKind kind, HWND* box, DWORD timeoutMs) {
    HWND page = nullptr;
    *box = nullptr;
    ui::WaitFor(
        [&] {
            HWND current = nullptr;
            if (setup.CurrentPage(&current) == kind) {
                page = current;
                return true;
            }
            *box = setup.FindAnyMessageBox();
            return *box != nullptr || setup.HasExited();
        },
        timeoutMs);
    return page;
}

bool TakePicture(HWND page, const std::wstring& folder, int* number, const char* name) {
    if (folder.empty()) {
        return true;
    }
    const std::wstring path = PicturePath(folder, (*number)++, name);
    if (!SavePicture({page}, path)) {
        return false;
    }
    Say(std::string("picture ") + ui::Narrow(path));
    return true;
}

}  // namespace

std::vector<std::wstring> Arguments() {
    int count = 0;
    LPWSTR* list = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; list != nullptr && i < count; ++i) {
        arguments.emplace_back(list[i]);
    }
    LocalFree(list);
    return arguments;
}

void Say(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool ChangeToSecondDisc(const std::wstring& cdFolder) {
    const std::wstring current = cdFolder + L"\\current";
    const std::wstring first = cdFolder + L"\\disc1";
    const std::wstring second = cdFolder + L"\\disc2";
    if (!MoveFileW(current.c_str(), first.c_str())) {
        return false;
    }
    if (!MoveFileW(second.c_str(), current.c_str())) {
        MoveFileW(first.c_str(), current.c_str());
        return false;
    }
    return true;
}

bool SavePicture(const std::vector<HWND>& windows, const std::wstring& path) {
    RECT area{};
    bool first = true;
    for (HWND window : windows) {
        RECT rect{};
        if (!GetWindowRect(window, &rect)) {
            return false;
        }
        if (first) {
            area = rect;
            first = false;
        } else {
            UnionRect(&area, &area, &rect);
        }
    }
    ui::Image previous;
    ui::Image last;
    const bool settled = ui::WaitFor(
        [&] {
            // A round trip through each window's thread first: what it was asked to paint is painted.
            for (HWND window : windows) {
                DWORD_PTR ignored = 0;
                SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
            }
            last = ui::CaptureScreenRect(area);
            const bool same = !last.pixels.empty() && last == previous &&
                              std::any_of(last.pixels.begin(), last.pixels.end(),
                                          [&](std::uint32_t p) { return p != last.pixels[0]; });
            previous = last;
            return same;
        },
        kSettleTimeoutMs);
    // A copy page whose progress moves on between two captures is still worth its picture.
    (void)settled;
    return ui::SaveBmp(last, path);
}

std::wstring PicturePath(const std::wstring& folder, int number, const char* name) {
    wchar_t prefix[8];
    swprintf(prefix, 8, L"%02d-", number);
    return folder + L"\\" + prefix + ui::Widen(name) + L".bmp";
}

HWND WalkToReadyPage(const ui::Wizard& setup, const std::wstring& installFolder, const std::wstring& pictureFolder,
                     int* pictureNumber, std::string* failure) {
    auto fail = [&](const std::string& why) -> HWND {
        HWND box = setup.FindAnyMessageBox();
        *failure = why + (box != nullptr ? "; the wizard shows: " + ui::Narrow(ui::MessageBoxText(box)) : "");
        return nullptr;
    };
    HWND box = nullptr;
    HWND welcome = WaitForPageOrBox(setup, ui::PageKind::Welcome, &box, ui::kTimeoutMs);
    if (welcome == nullptr) {
        return fail("no welcome page");
    }
    TakePicture(welcome, pictureFolder, pictureNumber, "welcome");
    ui::Click(welcome, kNext);

    HWND license = WaitForPageOrBox(setup, ui::PageKind::License, &box, ui::kTimeoutMs);
    if (license == nullptr) {
        return fail("no license page after Next");
    }
    ui::Click(license, kAgreeBox);
    if (!ui::WaitFor([&] { return ui::IsItemChecked(license, kAgreeBox) && ui::IsItemEnabled(license, kNext); })) {
        return fail("the agreement box does not tick");
    }
    TakePicture(license, pictureFolder, pictureNumber, "license");
    ui::Click(license, kNext);

    HWND folder = WaitForPageOrBox(setup, ui::PageKind::Folder, &box, ui::kTimeoutMs);
    if (folder == nullptr) {
        return fail("no install-folder page after Next");
    }
    if (!installFolder.empty() && !ui::SetItemText(folder, kFolderEdit, installFolder)) {
        return fail("the install folder cannot be typed in");
    }
    TakePicture(folder, pictureFolder, pictureNumber, "folder");
    ui::Click(folder, kNext);

    HWND ready = WaitForPageOrBox(setup, ui::PageKind::Ready, &box, ui::kTimeoutMs);
    if (ready == nullptr) {
        return fail("no ready page after Next on the install-folder page");
    }
    TakePicture(ready, pictureFolder, pictureNumber, "ready");
    return ready;
}

}  // namespace demo
