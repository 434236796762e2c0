// The demo's hands on the wizard, started by scripts/demo.sh under wine:
//   demo_driver auto SETUP_EXE CD_FOLDER PICTURE_FOLDER   walks the whole installation by itself,
//                                                          with a picture of every page
//   demo_driver watch SETUP_EXE CD_FOLDER                  the user walks it; only the disc is changed
// CD_FOLDER holds the folders behind the CD-ROM drive: current (the disc in the drive) and disc2.
// Exit code 0 when the run reached its end as asked, 1 when it did not, 2 for wrong arguments.
#include <windows.h>

#include <string>
#include <vector>

#include "UiDriver.h"
#include "WizardRun.h"

namespace {

// A whole copy of the sample pack takes seconds; a copy page that shows nothing new for this long is
// stuck.
constexpr DWORD kCopyTimeoutMs = 10 * 60 * 1000;
constexpr DWORD kExitTimeoutMs = 60000;

bool IsDiscPrompt(HWND box) {
    return ui::MessageBoxText(box) == demo::kInsertDiscText;
}

bool ChangeDisc(const std::wstring& cdFolder) {
    if (!demo::ChangeToSecondDisc(cdFolder)) {
        demo::Say("demo: the disc could not be changed in " + ui::Narrow(cdFolder));
        return false;
    }
    demo::Say("disc 2 is in the drive now");
    return true;
}

void Picture(const std::vector<HWND>& windows, const std::wstring& folder, int* number, const char* name) {
    const std::wstring path = demo::PicturePath(folder, (*number)++, name);
    if (demo::SavePicture(windows, path)) {
        demo::Say("picture " + ui::Narrow(path));
    } else {
        demo::Say(std::string("demo: no picture of the ") + name + " page");
    }
}

int RunAutomatically(const std::wstring& setupPath, const std::wstring& cdFolder, const std::wstring& pictures) {
    ui::Wizard setup(setupPath);
    if (!setup.started()) {
        demo::Say("demo: Setup.exe could not be started from " + ui::Narrow(setupPath));
        return 1;
    }
    int number = 1;
    std::string failure;
    HWND ready = demo::WalkToReadyPage(setup, L"", pictures, &number, &failure);
    if (ready == nullptr) {
        demo::Say("demo: " + failure);
        return 1;
    }
    demo::Say("ready page: installing to " + ui::Narrow(ui::ItemText(ready, 1014)));
    ui::Click(ready, demo::kNext);
    HWND copy = setup.WaitForPage(ui::PageKind::Copy);
    if (copy == nullptr) {
        demo::Say("demo: no copy page after Next on the ready page");
        return 1;
    }
    {
        // The sample copies faster than the page polls: holding the worker for a moment lets the
        // picture show the disc, the file and the bar.
        ui::PausedWorker paused(copy);
        ui::WaitFor([&] { return !ui::ItemText(copy, 1015).empty() || setup.FindAnyMessageBox() != nullptr; }, 5000);
        Picture({copy}, pictures, &number, "copy");
    }

    bool discChanged = false;
    HWND finish = nullptr;
    for (;;) {
        HWND box = nullptr;
        const bool moved = ui::WaitFor(
            [&] {
                if (setup.CurrentPage(&finish) == ui::PageKind::Finish) {
                    return true;
                }
                finish = nullptr;
                box = setup.FindAnyMessageBox();
                return box != nullptr || setup.HasExited();
            },
            kCopyTimeoutMs);
        if (finish != nullptr) {
            break;
        }
        if (!moved || box == nullptr) {
            demo::Say("demo: the copy page never ended");
            return 1;
        }
        if (!IsDiscPrompt(box) || discChanged) {
            Picture({copy, box}, pictures, &number, "error");
            demo::Say("demo: the wizard says: " + ui::Narrow(ui::MessageBoxText(box)));
            ui::AnswerMessageBox(box, IsDiscPrompt(box) ? IDOK : IDCANCEL);
            return 1;
        }
        Picture({copy, box}, pictures, &number, "second-disc");
        if (!ChangeDisc(cdFolder)) {
            return 1;
        }
        discChanged = true;
        ui::AnswerMessageBox(box, IDOK);
        ui::WaitFor([&] { return !IsWindow(box); });
    }
    if (!discChanged) {
        demo::Say("demo: the wizard finished without asking for the second disc");
    }
    Picture({finish}, pictures, &number, "finish");
    ui::Click(finish, IDCANCEL);
    DWORD exitCode = 0;
    if (!setup.WaitForExit(&exitCode, kExitTimeoutMs)) {
        demo::Say("demo: Setup.exe did not end after Close on the finish page");
        return 1;
    }
    demo::Say("Setup.exe ended with exit code " + std::to_string(exitCode));
    return discChanged ? 0 : 1;
}

int Watch(const std::wstring& setupPath, const std::wstring& cdFolder) {
    ui::Wizard setup(setupPath);
    if (!setup.started()) {
        demo::Say("demo: Setup.exe could not be started from " + ui::Narrow(setupPath));
        return 1;
    }
    demo::Say("The wizard is on your display: click through it. When it asks for the second disc, the disc");
    demo::Say("is changed for you; then press OK in its box.");
    HWND prompt = nullptr;
    ui::WaitFor(
        [&] {
            prompt = setup.FindAnyMessageBox();
            if (prompt != nullptr && !IsDiscPrompt(prompt)) {
                prompt = nullptr;
            }
            return prompt != nullptr || setup.HasExited();
        },
        INFINITE);
    if (prompt != nullptr && !ChangeDisc(cdFolder)) {
        return 1;
    }
    DWORD exitCode = 0;
    setup.WaitForExit(&exitCode, INFINITE);
    demo::Say("Setup.exe ended with exit code " + std::to_string(exitCode));
    return 0;
}

}  // namespace

int main() {
    const std::vector<std::wstring> arguments = demo::Arguments();
    if (arguments.size() == 4 && arguments[0] == L"auto") {
        return RunAutomatically(arguments[1], arguments[2], arguments[3]);
    }
    if (arguments.size() == 3 && arguments[0] == L"watch") {
        return Watch(arguments[1], arguments[2]);
    }
    demo::Say("usage: demo_driver auto SETUP_EXE CD_FOLDER PICTURE_FOLDER | watch SETUP_EXE CD_FOLDER");
    return 2;
}
