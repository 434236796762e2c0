#include "Dialogs.h"
#include "Pages.h"
#include "ResourceIds.h"

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        dialogs::SetPageIcon(page);
        return FALSE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
        case IDC_NEXT:
            dialogs::EndPage(page, License, wParam);
            return TRUE;
        case IDCANCEL:
            // Cancel leads to the finish page, not out of the program.
            dialogs::EndPage(page, Finish, wParam);
            return TRUE;
        default:
            return FALSE;
    }
}
