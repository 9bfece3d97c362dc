#include "AboutBox.h"

#include "../res/resource.h"

namespace {

// The build line, fixed when the program is built. The compiler takes the
// date and time from SOURCE_DATE_EPOCH when it is set, which keeps builds
// reproducible.
const char BUILD_LINE[] = "Built on " __DATE__ " at " __TIME__;

INT_PTR CALLBACK aboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // The one narrow text the program puts into a dialog.
        SetDlgItemTextA(dialog, IDC_BUILD_LINE, BUILD_LINE);
        SetForegroundWindow(dialog);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        default:
            return FALSE;
        }
    default:
        return FALSE;
    }
}

} // namespace

void showAboutBox(HWND owner)
{
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUT_BOX), owner, aboutBoxProc, 0);
}
