#include "Dialogs.h"
#include "Pages.h"

// The only way out of the wizard: Close, Esc and the close box all arrive as IDCANCEL.
INT_PTR CALLBACK FinishPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        dialogs::SetPageIcon(page);
        return FALSE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        dialogs::EndPage(page, Exit, wParam);
        return TRUE;
    }
    return FALSE;
}
