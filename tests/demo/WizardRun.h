// One whole run of Setup.exe from outside, for the demo and the wizard benchmark: the process, its
// pages and boxes, the forward walk, the disc change and pictures of what the user sees.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "UiDriver.h"

namespace demo {

// Control ids of the pages, as the templates fix them.
inline constexpr int kAgreeBox = 1008;
inline constexpr int kFolderEdit = 1012;
inline constexpr int kNext = 1019;

// The texts of the copy page's boxes that a run has to recognise.
inline constexpr wchar_t kInsertDiscText[] = L"請放入第二張光碟後按確定";

// The program's arguments in UTF-16: the command line's own text, never the ANSI code page's.
std::vector<std::wstring> Arguments();

// Prints a line of UTF-8 to standard output at once, so the calling script sees progress as it comes.
void Say(const std::string& line);

// The disc change of a CD-ROM drive on the folder <cdFolder>\current: current becomes disc1 and
// disc2 becomes current.
bool ChangeToSecondDisc(const std::wstring& cdFolder);

// A picture of the windows once two captures in a row agree; saved as BMP. The rectangle is the
// union of the windows, so a message box is shown over the page it belongs to.
bool SavePicture(const std::vector<HWND>& windows, const std::wstring& path);

// The forward walk from the welcome page to the ready page: Next, the agreement ticked and Next,
// the folder (replaced when installFolder is not empty) and Next. Pictures of each page go to
// pictureFolder as NN-name.bmp when it is not empty. Returns the ready page, or nullptr with the
// reason in *failure.
HWND WalkToReadyPage(const ui::Wizard& setup, const std::wstring& installFolder, const std::wstring& pictureFolder,
                     int* pictureNumber, std::string* failure);

std::wstring PicturePath(const std::wstring& folder, int number, const char* name);

}  // namespace demo
