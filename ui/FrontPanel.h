#pragma once

#include "../core/FrontPanelState.h"

#include <windows.h>

// Dialog procedure of the front panel (template 101); the state comes in as
// the initialisation parameter and is kept in the window's user data.
INT_PTR CALLBACK frontPanelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Enables Connect, Delete record and Clear the list from the state and the list.
void refreshControls(const FrontPanelState& state);

// Removes in place every character that a command-line parser takes as a
// separator or a quote: spaces, tabs, line breaks, every other white space and
// the double quote, and every character whose image in this computer's ANSI
// code page holds one of those. So the host always reaches the viewer as one
// argument, in UTF-16 and in ANSI.
void cleanHostText(wchar_t* text);

// A host that begins with a dash or a slash, as typed or in its ANSI image,
// would reach the viewer as a switch (-listen, -settingsfile, /x).
bool looksLikeSwitch(const wchar_t* host);
