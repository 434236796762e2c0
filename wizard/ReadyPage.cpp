#include "Dialogs.h"
#include "Encoding.h"
#include "Pages.h"
#include "ResourceIds.h"

INT_PTR CALLBACK ReadyPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        dialogs::SetPageIcon(page);
        // The label is an ellipsis label: a folder too long for it is cut, not wrapped.
        dialogs::SetItemText(page, IDC_READY_FOLDER, Utf8ToAnsi(setupState.installFolder));
        return FALSE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
        case IDC_BACK:
            dialogs::EndPage(page, Folder, wParam);
            return TRUE;
        case IDC_NEXT:
            dialogs::EndPage(page, Copy, wParam);
            return TRUE;
        case IDCANCEL:
            dialogs::EndPage(page, Finish, wParam);
            return TRUE;
        default:
            return FALSE;
    }
}
