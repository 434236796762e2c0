// Drives the real Setup.exe from outside, the way a user meets it: finds its pages, reads their
// controls, presses their buttons and keys, answers its message boxes and captures its windows.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ui {

// Generous on purpose: a cold wine process can take seconds to show its first window.
inline constexpr DWORD kTimeoutMs = 30000;
inline constexpr DWORD kPollMs = 25;

// Polls the condition every kPollMs until it holds (true) or the time-out passes (false).
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = kTimeoutMs);

enum class PageKind { None, Welcome, License, Folder, Ready, Copy, Finish };
const char* PageName(PageKind kind);

// Tells a page apart by its controls alone, never by its caption (all six share one).
PageKind ClassifyPage(HWND page);

// The Setup.exe under test: env SETUP_EXE, else the one the build names. Unix paths become Z:\ paths.
std::wstring SetupExePath();
std::wstring ToWindowsPath(const std::string& path);
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);  // UTF-8

// The ANSI code page's bytes of a UTF-16 text, and back: what a narrow call of Setup.exe sees.
std::string ToAnsi(const std::wstring& wide);
std::wstring FromAnsi(const std::string& ansi);

// The visible dialogs among the process's top-level windows: its pages and its message boxes.
std::vector<HWND> VisibleDialogsOf(DWORD processId);

// A folder laid out like the first disc: Setup.exe, eula.txt, den.dat and launch.ini. Removed with
// everything in it at the end; the wizard that ran from it must have ended by then.
class Medium {
public:
    // The folder's own name may hold any characters; it sits below the temporary folder.
    explicit Medium(const std::wstring& folderName = L"");
    ~Medium();
    Medium(const Medium&) = delete;
    Medium& operator=(const Medium&) = delete;

    bool ok() const { return ok_; }
    const std::wstring& folder() const { return folder_; }
    std::wstring setupPath() const { return folder_ + L"\\Setup.exe"; }
    bool WriteFile(const std::wstring& name, const std::string& bytes);
    bool RemoveFile(const std::wstring& name);
    // A file put there by other means, to be removed with the rest.
    void Adopt(const std::wstring& name) { files_.push_back(name); }

private:
    std::wstring folder_;
    std::vector<std::wstring> files_;
    bool ok_ = false;
};

// One run of Setup.exe. Ended by force at the end if it still runs, so a failed test never leaves a
// wizard behind for the next one.
class Wizard {
public:
    explicit Wizard(const Medium& medium);
    // Started from any path, such as D:\Setup.exe on a disc drive.
    explicit Wizard(const std::wstring& setupPath);
    ~Wizard();
    Wizard(const Wizard&) = delete;
    Wizard& operator=(const Wizard&) = delete;

    bool started() const { return process_ != nullptr; }
    DWORD processId() const { return processId_; }
    bool HasExited() const;

    // The one visible page of the process now, or None.
    PageKind CurrentPage(HWND* window = nullptr) const;
    // Waits until the page of that kind shows; nullptr on time-out or when the process ended.
    HWND WaitForPage(PageKind kind, DWORD timeoutMs = kTimeoutMs) const;
    // The page's window whether it shows yet or not: a page that opens a box while it starts is still
    // hidden behind it.
    HWND WaitForPageWindow(PageKind kind, DWORD timeoutMs = kTimeoutMs) const;
    // A message box of the process, owned by any of its windows; nullptr when none shows.
    HWND FindAnyMessageBox() const;
    // Waits for the process to end and reads its exit code.
    bool WaitForExit(DWORD* exitCode, DWORD timeoutMs = kTimeoutMs) const;

    // The visible windows of the process, for failure messages.
    std::string Describe() const;

private:
    HANDLE process_ = nullptr;
    HANDLE thread_ = nullptr;
    DWORD processId_ = 0;
};

// Reading a page's controls. Every call to the other process has a time-out, so a hung wizard fails
// the test instead of hanging the driver.
bool HasControl(HWND page, int id);
std::wstring Text(HWND window);
std::wstring ItemText(HWND page, int id);
std::string ItemAnsiText(HWND page, int id);  // WM_GETTEXT in the ANSI code page: Setup.exe's bytes
bool IsItemChecked(HWND page, int id);
bool IsItemEnabled(HWND page, int id);
LONG_PTR ItemStyle(HWND page, int id);
bool SetItemText(HWND page, int id, const std::wstring& text);
int ItemProgressPosition(HWND page, int id);  // PBM_GETPOS of a progress bar, -1 when it cannot be read

// Acting on a page. Everything is posted: a modal box that the action opens never blocks the driver.
bool Click(HWND page, int id);    // BM_CLICK to the button, as a mouse click would
bool Command(HWND page, int id);  // WM_COMMAND from that button, as its notification would
// Esc as the keyboard gives it: key down and up to the focused control of the page, so only the
// dialog manager's IsDialogMessage can turn it into IDCANCEL. Fails when the focus is outside the page.
bool PressEscape(HWND page);
bool PressCloseBox(HWND page);  // WM_SYSCOMMAND SC_CLOSE, the caption's close box

// The control that has the keyboard focus in the page's thread (the page itself when none does).
HWND FocusedControl(HWND page);

// Message boxes: a dialog owned by the page with its text in static 0xFFFF.
HWND FindMessageBox(HWND owner);
HWND WaitForMessageBox(HWND owner, DWORD timeoutMs = kTimeoutMs);
std::wstring MessageBoxText(HWND box);
bool AnswerMessageBox(HWND box, int buttonId);

// Whether a process of this program file name (such as L"ui_browser.exe") runs in the Wine session.
bool ProcessRuns(const std::wstring& exeName);

// Holds every thread of the page's process but the one that runs the page, for as long as it lives:
// the install worker stands still while the page goes on polling, so a test sees a moment of the run
// on the page however fast the machine copies.
class PausedWorker {
public:
    explicit PausedWorker(HWND page);
    ~PausedWorker();
    PausedWorker(const PausedWorker&) = delete;
    PausedWorker& operator=(const PausedWorker&) = delete;
    bool ok() const { return !threads_.empty(); }

private:
    std::vector<HANDLE> threads_;
};

// Pixels of a screen rectangle, 0x00RRGGBB, rows from the top.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    bool operator==(const Image& other) const {
        return width == other.width && height == other.height && pixels == other.pixels;
    }
};
Image CaptureScreenRect(const RECT& rect);
Image CaptureWindow(HWND window);
// Waits until two captures in a row agree and show more than one colour: the window has painted.
bool CapturePainted(HWND window, Image* image, DWORD timeoutMs = kTimeoutMs);
bool SaveBmp(const Image& image, const std::wstring& path);

}  // namespace ui
