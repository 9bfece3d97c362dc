#include "LoaderWindow.h"

const wchar_t CLOSE_MESSAGE_NAME[] = L"korvane.closemsg";

LoaderWindow* createLoaderWindow(LoaderWindow* record, HINSTANCE instance, const wchar_t* className)
{
    record->closeMessage = RegisterWindowMessageW(CLOSE_MESSAGE_NAME);
    record->window = nullptr;
    record->instance = instance;

    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = loaderWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = className;
    if (RegisterClassW(&windowClass) == 0)
        return record;

    // Top-level (not message-only) so that other programs can find it by class
    // name or reach it with a broadcast; never shown.
    record->window = CreateWindowExW(0, className, L"", 0, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
    if (record->window != nullptr)
        SetWindowLongPtrW(record->window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(record));
    return record;
}

LRESULT CALLBACK loaderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The close message is registered at run time, so it cannot be a case label;
    // messages that come before the user data is set get the default handling.
    auto* record = reinterpret_cast<LoaderWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (record != nullptr && message == record->closeMessage) {
        // Ends whichever modal loop runs, and then the front panel's own.
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}
