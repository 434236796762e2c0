// What the install-folder tests need beyond the driver: typing as a user does, narrow text, the
// remembered game folder in the registry, the shell's folder browser, and folders on the disk.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace folderui {

// WM_SETTEXT in its narrow form: the bytes arrive as the ANSI code page's, as from a narrow caller.
bool SetItemAnsiText(HWND page, int id, const std::string& ansi);

// Keystrokes as the keyboard gives them to the edit control: the whole text selected, then one WM_CHAR
// per character (a backspace is L'\b'), so the field changes step by step as under a user's hands.
bool TypeInto(HWND page, int id, const std::wstring& keys, bool replaceAll);

// "%u MB" of a byte count, as the page prints it.
std::wstring Megabytes(ULONGLONG bytes);
// Sizes of the drive whose root is given ("C:\"); false when it does not answer.
bool DriveSizes(const std::wstring& root, ULONGLONG* total, ULONGLONG* free);

// Sets HKEY_CURRENT_USER\SOFTWARE\Veyloran "default" for its lifetime, then removes the value, and
// the key as well when it was created here, so the next test sees the prefix as it found it.
class RememberedFolder {
public:
    RememberedFolder(DWORD type, const std::string& ansiValue);
    ~RememberedFolder();
    RememberedFolder(const RememberedFolder&) = delete;
    RememberedFolder& operator=(const RememberedFolder&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
    bool createdKey_ = false;
};
bool GameFolderIsRemembered();

// A folder tree that the test makes or expects, removed with everything below it at both ends.
class ScratchTree {
public:
    explicit ScratchTree(std::wstring root);
    ~ScratchTree();
    ScratchTree(const ScratchTree&) = delete;
    ScratchTree& operator=(const ScratchTree&) = delete;
    const std::wstring& root() const { return root_; }

private:
    std::wstring root_;
};
void RemoveTree(const std::wstring& path);
bool Exists(const std::wstring& path);
std::string ReadWholeFile(const std::wstring& path);
// Names in a folder, without "." and "..".
std::vector<std::wstring> ListFolder(const std::wstring& folder);

// The same file reached from the Unix side: WINEPREFIX's drive_c through drive Z:, the Unix root.
// Empty when WINEPREFIX is unknown or the path is not on C:.
std::wstring ThroughUnixRoot(const std::wstring& cPath);
// The Unix name Wine gives a Windows path (UTF-8 bytes), or empty outside Wine.
std::string UnixFileName(const std::wstring& path);

// The shell's folder browser of a page: a dialog of the page's process owned by the page, with a
// tree view. nullptr while there is none.
HWND FindFolderBrowser(HWND page);
HWND WaitForFolderBrowser(HWND page);
// Class, id, visibility and text of every control of the browser, for failure messages.
std::string DescribeControls(HWND dialog);
// Selects the folder in the browser's tree and puts its path into the browser's edit box: Wine's OK
// takes the tree's selection and ignores the edit box, Windows' takes a full path typed there. True
// once the tree shows a selection and OK is enabled.
bool SelectInBrowser(HWND browser, const std::wstring& folder, std::string* why);
// The text of the tree item now selected, read from the browser's process.
std::wstring SelectedTreeText(HWND browser);
// What SHGetPathFromIDListA gives for the folder, back in UTF-16: what the browser hands the page.
std::wstring ShellPathOf(const std::wstring& folder);

}  // namespace folderui
