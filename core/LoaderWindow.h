#pragma once

#include <windows.h>

// Name of the registered message by which another program closes an open
// front panel: "korvane.closemsg".
extern const wchar_t CLOSE_MESSAGE_NAME[];

// Behind the hidden loader window; allocated once, lives until the process ends.
struct LoaderWindow {
    UINT closeMessage;
    HWND window;
    HINSTANCE instance;
};

// Registers the close message and the class, creates the hidden window and
// ties the record to it. Without a class or window the run simply goes on.
LoaderWindow* createLoaderWindow(LoaderWindow* record, HINSTANCE instance, const wchar_t* className);

LRESULT CALLBACK loaderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
