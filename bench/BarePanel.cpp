// The front panel's template shown by a program that does nothing else: the
// baseline against which the launcher's start-up is measured.
#include "../res/resource.h"

#include <windows.h>

namespace {

INT_PTR CALLBACK bareProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_INITDIALOG)
        return TRUE;
    if (message == WM_COMMAND && (LOWORD(wParam) == IDCANCEL || LOWORD(wParam) == IDOK)) {
        EndDialog(dialog, LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_FRONT_PANEL), nullptr, bareProc, 0);
    return 0;
}
