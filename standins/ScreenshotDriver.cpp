// Helper for the screenshot and demo scripts: finds the launcher's windows,
// opens its boxes, prints their screen rectangles, and closes it the way
// another program would, with the registered close message.
//
//   screenshot_driver panel   wait for the front panel; print "x y width height"
//   screenshot_driver about   open the About box; print its rectangle
//   screenshot_driver clear   open the Clear the list confirmation; print its rectangle
//   screenshot_driver close   post the close message to the launcher's loader window
//   screenshot_driver window TITLE ID   wait for the dialog TITLE that has control ID
//                                       (the installer's pages, its boxes); print its rectangle
//   screenshot_driver click TITLE ID    wait for it, then click its button ID
//   screenshot_driver text TITLE ID TEXT   wait for TITLE, then set the text of its control ID
//                                          (in the dialog or a page inside it)
// A dialog counts only while it is enabled: not one that a box in front of it holds.
#include "../tests/Expected.h"

#include "../res/resource.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HWND waitForWindow(const wchar_t* title)
{
    for (int i = 0; i < 1000; i++) {
        HWND window = FindWindowW(L"#32770", title);
        if (window != nullptr && IsWindowVisible(window))
            return window;
        Sleep(20);
    }
    return nullptr;
}

int printRectangle(HWND window)
{
    if (window == nullptr) {
        fwprintf(stderr, L"window not found\n");
        return 1;
    }
    // Paint everything now (the window's thread does it while this waits),
    // then give the X server a moment to show it.
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    SendMessageW(window, WM_NULL, 0, 0);
    Sleep(300);
    RECT r;
    GetWindowRect(window, &r);
    wprintf(L"%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
}

struct LoaderSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK matchLoader(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<LoaderSearch*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    if (pid == search->pid && wcsncmp(name, L"loader", 6) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct DialogSearch {
    const wchar_t* title;
    int control;
    HWND found;
};

BOOL CALLBACK matchDialog(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    wchar_t name[64] = {}, title[256] = {};
    GetClassNameW(window, name, 64);
    GetWindowTextW(window, title, 256);
    HWND control = GetDlgItem(window, search->control);
    if (wcscmp(name, L"#32770") == 0 && wcsncmp(title, search->title, wcslen(search->title)) == 0 && IsWindowVisible(window) &&
        IsWindowEnabled(window) &&
        control != nullptr && IsWindowVisible(control) && IsWindowEnabled(control)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// The dialog whose title begins with `title` and whose control `control` is shown and enabled, as
// soon as there is one (within 20 s).
HWND waitForDialog(const wchar_t* title, int control)
{
    DialogSearch search = {title, control, nullptr};
    for (int i = 0; i < 1000 && search.found == nullptr; i++) {
        EnumWindows(matchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr)
            Sleep(20);
    }
    return search.found;
}

struct ChildSearch {
    int control;
    HWND found;
};

BOOL CALLBACK matchChild(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<ChildSearch*>(parameter);
    if (GetDlgCtrlID(window) != search->control)
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    if (argc == 4 && (wcscmp(argv[1], L"window") == 0 || wcscmp(argv[1], L"click") == 0)) {
        int control = _wtoi(argv[3]);
        HWND dialog = waitForDialog(argv[2], control);
        if (wcscmp(argv[1], L"window") == 0)
            return printRectangle(dialog);
        if (dialog == nullptr)
            return 1;
        PostMessageW(GetDlgItem(dialog, control), BM_CLICK, 0, 0);
        return 0;
    }
    if (argc == 5 && wcscmp(argv[1], L"text") == 0) {
        // The control may sit in a page inside the dialog, whose Next (ID 1) is the dialog's own.
        HWND dialog = waitForDialog(argv[2], IDOK);
        if (dialog == nullptr)
            return 1;
        ChildSearch search = {_wtoi(argv[3]), nullptr};
        EnumChildWindows(dialog, matchChild, reinterpret_cast<LPARAM>(&search));
        return search.found != nullptr && SetWindowTextW(search.found, argv[4]) ? 0 : 1;
    }
    HWND panel = waitForWindow(L"Korvane Portable Edition");
    if (wcscmp(argv[1], L"panel") == 0)
        return printRectangle(panel);
    if (panel == nullptr)
        return 1;
    if (wcscmp(argv[1], L"about") == 0) {
        PostMessageW(GetDlgItem(panel, IDC_ABOUT), BM_CLICK, 0, 0);
        return printRectangle(waitForWindow(L"About Korvane Portable Edition"));
    }
    if (wcscmp(argv[1], L"clear") == 0) {
        PostMessageW(GetDlgItem(panel, IDC_CLEAR_LIST), BM_CLICK, 0, 0);
        return printRectangle(waitForWindow(L"Data Removal Confirmation"));
    }
    if (wcscmp(argv[1], L"close") == 0) {
        LoaderSearch search = {0, nullptr};
        GetWindowThreadProcessId(panel, &search.pid);
        EnumWindows(matchLoader, reinterpret_cast<LPARAM>(&search));
        if (search.found == nullptr)
            return 1;
        PostMessageW(search.found, RegisterWindowMessageW(expected::CLOSE_MESSAGE), 0, 0);
        return 0;
    }
    return 2;
}
