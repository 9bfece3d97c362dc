#pragma once

#include <windows.h>

// The build line, fixed when the program is built.
extern const char BUILD_LINE[];

INT_PTR CALLBACK aboutBoxProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Shows the About box (template 103) modally over owner; its result is ignored.
void showAboutBox(HWND owner);
