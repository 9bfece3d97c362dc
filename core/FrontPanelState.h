#pragma once

#include <windows.h>

const int HOST_TEXT_CAPACITY = 256;

// Owned by the entry point for the whole run and lent to the front panel.
struct FrontPanelState {
    // The host edit's text less its blanks and quotes: at most 255 characters
    // and the zero.
    wchar_t hostText[HOST_TEXT_CAPACITY];
    HWND panelWindow;
    // True from the panel's initialisation until it ends itself with a command.
    bool panelOpen;
    // The list line that is selected as far as the panel knows (-1: none).
    // The list box repeats its selection notification when the selected line
    // is clicked again; that repeat must not overwrite a host the user edited.
    int selectedLine;

    FrontPanelState()
        : hostText{}, panelWindow(nullptr), panelOpen(false), selectedLine(-1)
    {
    }
};
