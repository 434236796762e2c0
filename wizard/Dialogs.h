// Every dialog-manager call of the wizard, narrow variants only. Texts passed in and out are in the
// ANSI code page; Encoding.h converts between that and the program's UTF-8.
#pragma once

#include <windows.h>

#include <string>

#include "SetupState.h"

namespace dialogs {

// Shows the page of that number modally (template 129 + page); returns when the page has ended.
// False when the page could not be created at all.
bool ShowPage(WizardPage page, DLGPROC procedure);

// Icon 128 as the page's big and small icon; every page calls it on WM_INITDIALOG.
void SetPageIcon(HWND page);

// Stores the next page, then ends the dialog; the caller returns TRUE.
void EndPage(HWND page, WizardPage next, WPARAM wParam);

void SetItemText(HWND page, int id, const std::string& ansiText);
std::string GetItemText(HWND page, int id);  // at most 4095 bytes
void LimitText(HWND page, int id, unsigned limit);
bool IsChecked(HWND page, int id);
void SetChecked(HWND page, int id, bool checked);
void EnableItem(HWND page, int id, bool enabled);
void SetProgressRange(HWND page, int id, int low, int high);
void SetProgressPosition(HWND page, int id, int position);
void StartTimer(HWND page, UINT milliseconds);  // timer id 0
void StopTimer(HWND page);
// Queues a message for the page from any thread; the page's own message loop delivers it.
void PostToPage(HWND page, UINT message);

// A modal box owned by the page, with the wizard's title; returns the button pressed.
int ShowMessage(HWND owner, const std::string& ansiText, UINT flags);

}  // namespace dialogs
