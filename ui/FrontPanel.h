#pragma once

#include "../core/FrontPanelState.h"

#include <windows.h>

// Dialog procedure of the front panel (template 101); the state comes in as
// the initialisation parameter and is kept in the window's user data.
INT_PTR CALLBACK frontPanelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Enables Connect, Delete record and Clear the list from the state and the list.
void refreshControls(const FrontPanelState& state);

// Removes every U+0020 in place; other blanks such as tabs stay.
void removeSpaces(wchar_t* text);

// The list box repeats LBN_SELCHANGE when the line that is already selected is
// clicked again. The selected line carries a mark in its item data, so that
// only a real change of selection copies a line over what the user typed.
void markSelectedLine(HWND list, LRESULT index);
