#pragma once

#include <windows.h>

// Behind the hidden loader window; allocated once, lives until the process ends.
struct LoaderWindow {
    UINT closeMessage;
    HWND window;
};

// Registers the close message and the class, creates the hidden window and
// ties the record to it. Without a class or window the run simply goes on.
void createLoaderWindow(LoaderWindow* record, HINSTANCE instance, const wchar_t* className);

LRESULT CALLBACK loaderWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// True once the loader window has handled the close message. The run is then
// ending: the front panel acts on no further command, so nothing is launched
// or deleted. This record, not the thread's quit request, decides: the
// platform's own menu and scroll-bar loops take the quit request off the
// queue and do not post it again.
bool isCloseRequested();
