#include "Dialogs.h"

#include <commctrl.h>

#include "ResourceIds.h"
#include "Texts.h"

namespace dialogs {

namespace {

HINSTANCE Module() {
    return static_cast<HINSTANCE>(setupState.moduleInstance);
}

}  // namespace

bool ShowPage(WizardPage page, DLGPROC procedure) {
    const INT_PTR result = ::DialogBoxParamA(Module(), MAKEINTRESOURCEA(IDD_WELCOME + page), nullptr, procedure, 0);
    // -1: the template or one of its controls could not be made, so the page never ran. 0 also comes
    // from a dialog manager that gave up before the page ran, but a page closed from a timer ends
    // with 0 too; that one has stored its next page, which tells the two apart.
    return result != -1 && !(result == 0 && setupState.currentPage == page);
}

void SetPageIcon(HWND page) {
    HICON icon = ::LoadIconA(Module(), MAKEINTRESOURCEA(IDI_SETUP));
    ::SendMessageA(page, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
    ::SendMessageA(page, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void EndPage(HWND page, WizardPage next, WPARAM wParam) {
    // The loop reads only currentPage, so it must hold the next page before the dialog ends.
    setupState.currentPage = next;
    ::EndDialog(page, static_cast<INT_PTR>(wParam));
}

void SetItemText(HWND page, int id, const std::string& ansiText) {
    ::SetDlgItemTextA(page, id, ansiText.c_str());
}

std::string GetItemText(HWND page, int id) {
    char buffer[4096];
    const UINT length = ::GetDlgItemTextA(page, id, buffer, sizeof(buffer));
    return std::string(buffer, length < sizeof(buffer) ? length : sizeof(buffer) - 1);
}

void LimitText(HWND page, int id, unsigned limit) {
    ::SendDlgItemMessageA(page, id, EM_LIMITTEXT, limit, 0);
}

bool IsChecked(HWND page, int id) {
    return ::SendDlgItemMessageA(page, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SetChecked(HWND page, int id, bool checked) {
    ::SendMessageA(::GetDlgItem(page, id), BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void EnableItem(HWND page, int id, bool enabled) {
    ::EnableWindow(::GetDlgItem(page, id), enabled ? TRUE : FALSE);
}

void SetProgressRange(HWND page, int id, int low, int high) {
    ::SendDlgItemMessageA(page, id, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
}

void SetProgressPosition(HWND page, int id, int position) {
    ::SendDlgItemMessageA(page, id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
}

void StartTimer(HWND page, UINT milliseconds) {
    ::SetTimer(page, 0, milliseconds, nullptr);
}

void StopTimer(HWND page) {
    ::KillTimer(page, 0);
}

void PostToPage(HWND page, UINT message) {
    ::PostMessageA(page, message, 0, 0);
}

int ShowMessage(HWND owner, const std::string& ansiText, UINT flags) {
    return ::MessageBoxA(owner, ansiText.c_str(), kTextBoxTitle, flags);
}

}  // namespace dialogs
