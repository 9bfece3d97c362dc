#include "LoaderWindow.h"

namespace {

// The registered message by which another program closes an open front panel.
const wchar_t CLOSE_MESSAGE_NAME[] = L"korvane.closemsg";

// Set once by the loader window's procedure; the process has one loader window.
bool closeRequested = false;
const UINT_PTR CLOSE_RETRY_TIMER = 1;
const UINT CLOSE_RETRY_MS = 50;

bool isQuitPending()
{
    MSG quit;
    return PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE) != FALSE;
}

// Ends whichever modal loop runs, and then the front panel's own: the quit
// request ends the dialog and message-box loops. A menu loop would take the
// request and stay open, so the menu is ended too, and so is a tracking loop
// that holds the mouse (a scroll bar's arrow held down, a window moved). A
// loop that took the request anyway has it posted again by the timer once
// control is back in a dialog's loop.
void endModalLoops()
{
    if (!isQuitPending())
        PostQuitMessage(0);
    EndMenu();
    if (GetCapture() != nullptr)
        ReleaseCapture();
}

BOOL CALLBACK findVisibleWindow(HWND window, LPARAM found)
{
    if (!IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<bool*>(found) = true;
    return FALSE;
}

// True while the thread shows a window: the front panel, or a box over it.
bool isPanelShown()
{
    bool found = false;
    EnumThreadWindows(GetCurrentThreadId(), findVisibleWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

} // namespace

void createLoaderWindow(LoaderWindow* record, HINSTANCE instance, const wchar_t* className)
{
    record->closeMessage = RegisterWindowMessageW(CLOSE_MESSAGE_NAME);
    record->window = nullptr;

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = loaderWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    if (RegisterClassW(&windowClass) == 0)
        return;

    // Top-level (not message-only) so that other programs can find it by class
    // name or reach it with a broadcast; never shown.
    record->window = CreateWindowExW(0, className, L"", 0, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    if (record->window != nullptr)
        SetWindowLongPtrW(record->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
}

LRESULT CALLBACK loaderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The close message is registered at run time, so it cannot be a case label;
    // messages that come before the user data is set get the default handling.
    auto* record = reinterpret_cast<LoaderWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (record != nullptr && message == record->closeMessage) {
        closeRequested = true;
        endModalLoops();
        SetTimer(window, CLOSE_RETRY_TIMER, CLOSE_RETRY_MS, nullptr);
        return 0;
    }
    if (message == WM_TIMER && wParam == CLOSE_RETRY_TIMER) {
        // Once no window is shown there is no loop left to end: the panel has
        // closed, or a child runs and the close message is ignored.
        if (isPanelShown())
            endModalLoops();
        else
            KillTimer(window, CLOSE_RETRY_TIMER);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool isCloseRequested()
{
    return closeRequested;
}
