#include "GuiDriver.h"

#include "Expected.h"

bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(10);
    }
    return true;
}

bool postedMessagesHandled(HWND edit, DWORD timeoutMs)
{
    LRESULT limit = SendMessageW(edit, EM_GETLIMITTEXT, 0, 0);
    // Posted messages of one thread are handled in the order they were posted.
    // Two rounds: what the handling of the input posted in turn is handled too.
    for (LRESULT marker : {limit ^ 1, limit}) {
        if (!PostMessageW(edit, EM_SETLIMITTEXT, marker, 0))
            return false;
        if (!waitFor([&] { return !IsWindow(edit) || SendMessageW(edit, EM_GETLIMITTEXT, 0, 0) == marker; },
                     timeoutMs))
            return false;
    }
    return IsWindow(edit) != FALSE;
}

namespace {

struct WindowSearch {
    DWORD pid;
    const wchar_t* title;
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK matchWindow(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid || !IsWindowVisible(window))
        return TRUE;
    if ((search->title != nullptr && windowText(window) != search->title) ||
        (search->className != nullptr && windowClass(window) != search->className))
        return TRUE;
    search->found = window;
    return FALSE;
}

} // namespace

HWND findProcessWindow(DWORD pid, const wchar_t* title, const wchar_t* className)
{
    WindowSearch search = {pid, title, className, nullptr};
    EnumWindows(matchWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::wstring windowText(HWND window)
{
    LRESULT length = SendMessageW(window, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    LRESULT copied = SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]));
    text.resize(static_cast<size_t>(copied));
    return text;
}

std::wstring windowClass(HWND window)
{
    wchar_t name[256];
    int length = GetClassNameW(window, name, 256);
    return std::wstring(name, length > 0 ? length : 0);
}

void typeInto(HWND edit, const std::wstring& text)
{
    std::wstring before = windowText(edit);
    // Click at the right end first, as a user would: focus, caret after the text.
    RECT client = {};
    GetClientRect(edit, &client);
    LPARAM at = MAKELPARAM(client.right - 2, (client.top + client.bottom) / 2);
    PostMessageW(edit, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(edit, WM_LBUTTONUP, 0, at);
    for (wchar_t c : text)
        PostMessageW(edit, WM_CHAR, c, 1);
    EXPECT_TRUE(waitFor([&] { return windowText(edit) == before + text; }))
        << "the edit did not take the typed text";
}

void pressKey(HWND window, UINT virtualKey)
{
    PostMessageW(window, WM_KEYDOWN, virtualKey, 1);
    PostMessageW(window, WM_KEYUP, virtualKey, 0xC0000001);
}

void clickButton(HWND button)
{
    // Posted, not sent: a click that opens a modal box would block a send.
    PostMessageW(button, BM_CLICK, 0, 0);
}

namespace {

void clickListAt(HWND list, POINT point, bool doubleClick)
{
    POINT screen = point;
    ClientToScreen(list, &screen);
    // The panel asks where the pointer was when a double click was posted. A
    // pointer motion still queued for the launcher's thread (the warp of an
    // earlier click) can move it back after SetCursorPos: warp again until
    // the position holds across a few rounds of that thread's messages.
    for (int steady = 0, tries = 0; steady < 3 && tries < 100; tries++) {
        POINT now = {};
        GetCursorPos(&now);
        if (now.x == screen.x && now.y == screen.y) {
            steady++;
        } else {
            steady = 0;
            SetCursorPos(screen.x, screen.y);
        }
        DWORD_PTR ignored;
        SendMessageTimeoutW(list, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored);
        Sleep(10);
    }
    LPARAM at = MAKELPARAM(point.x, point.y);
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(list, WM_LBUTTONUP, 0, at);
    if (doubleClick) {
        PostMessageW(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
        PostMessageW(list, WM_LBUTTONUP, 0, at);
    }
}

} // namespace

void clickListLine(HWND list, int index, bool doubleClick)
{
    RECT line = {};
    SendMessageW(list, LB_GETITEMRECT, index, reinterpret_cast<LPARAM>(&line));
    clickListAt(list, POINT{(line.left + line.right) / 2, (line.top + line.bottom) / 2}, doubleClick);
}

void clickBelowListLines(HWND list, bool doubleClick)
{
    RECT client = {};
    GetClientRect(list, &client);
    clickListAt(list, POINT{(client.left + client.right) / 2, client.bottom - 3}, doubleClick);
}

std::vector<std::wstring> listLines(HWND list)
{
    std::vector<std::wstring> lines;
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++) {
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        // The list may be refilled while it is read.
        if (length == LB_ERR)
            break;
        std::wstring text(static_cast<size_t>(length) + 1, L'\0');
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<size_t>(length));
        lines.push_back(text);
    }
    return lines;
}

LauncherProcess startLauncher(const std::wstring& folder, const std::wstring& arguments)
{
    LauncherProcess launcher;
    std::wstring line = L"\"" + folder + L"\\KorvanePortable.exe\"" + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        ADD_FAILURE() << "cannot start the launcher in " << wideToUtf8(folder);
        return launcher;
    }
    CloseHandle(info.hThread);
    launcher.process = info.hProcess;
    launcher.pid = info.dwProcessId;
    launcher.thread = info.dwThreadId;
    return launcher;
}

DWORD waitForEnd(LauncherProcess& launcher, DWORD timeoutMs)
{
    if (launcher.process == nullptr)
        return 0xDEAD;
    DWORD exitCode = 0xDEAD;
    if (WaitForSingleObject(launcher.process, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(launcher.process, &exitCode);
    } else {
        TerminateProcess(launcher.process, 0xDEAD);
        WaitForSingleObject(launcher.process, 5000);
    }
    CloseHandle(launcher.process);
    launcher.process = nullptr;
    return exitCode;
}

HWND focusOf(const LauncherProcess& launcher)
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(launcher.thread, &info);
    return info.hwndFocus;
}

bool postCloseMessage(const std::wstring& loaderClass)
{
    static const UINT closeMessage = RegisterWindowMessageW(expected::CLOSE_MESSAGE);
    HWND loader = FindWindowW(loaderClass.c_str(), nullptr);
    return loader != nullptr && PostMessageW(loader, closeMessage, 0, 0);
}
