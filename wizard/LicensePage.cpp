#include "Dialogs.h"
#include "Pages.h"
#include "ResourceIds.h"

// The license gate: Next works only while the agreement box is ticked, and the answer outlives the
// page in licenseAccepted, so every later visit shows the box and Next as the user left them.
INT_PTR CALLBACK LicensePageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        dialogs::SetPageIcon(page);
        // The file's bytes as they are: eula.txt is written in the system's code page.
        dialogs::SetItemText(page, IDC_LICENSE_TEXT, setupState.licenseText);
        dialogs::SetChecked(page, IDC_AGREE, setupState.licenseAccepted);
        dialogs::EnableItem(page, IDC_NEXT, setupState.licenseAccepted);
        return FALSE;
    }
    if (message != WM_COMMAND) {
        return FALSE;
    }
    switch (LOWORD(wParam)) {
        case IDC_AGREE:
            setupState.licenseAccepted = dialogs::IsChecked(page, IDC_AGREE);
            dialogs::EnableItem(page, IDC_NEXT, setupState.licenseAccepted);
            return FALSE;
        case IDC_BACK:
            dialogs::EndPage(page, Welcome, wParam);
            return TRUE;
        case IDC_NEXT:
            // A disabled button sends nothing, but a WM_COMMAND posted from outside would still
            // arrive; the gate holds only if the flag is asked too.
            if (!setupState.licenseAccepted) {
                return FALSE;
            }
            dialogs::EndPage(page, Folder, wParam);
            return TRUE;
        case IDCANCEL:
            dialogs::EndPage(page, Finish, wParam);
            return TRUE;
        default:
            return FALSE;
    }
}
