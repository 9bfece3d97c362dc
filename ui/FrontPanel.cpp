#include "FrontPanel.h"

#include "AboutBox.h"
#include "ConnectionHistory.h"

#include "../res/resource.h"

#include <cwchar>
#include <memory>

namespace {

const LRESULT SELECTED_LINE_MARK = 1;

const wchar_t CLEAR_CAPTION[] = L"Data Removal Confirmation";
const wchar_t CLEAR_QUESTION[] = L"Clear the list of saved Korvane connections?";

void endPanel(FrontPanelState& state, INT_PTR result)
{
    EndDialog(state.panelWindow, result);
    state.panelOpen = false;
}

void initPanel(HWND dialog, FrontPanelState& state)
{
    // The nested EN_CHANGE during the fill needs the state in the user data,
    // and the fill finds its controls through panelWindow: both come first.
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    state.panelWindow = dialog;
    SetForegroundWindow(dialog);
    state.panelOpen = true;
    fillHistoryList(state);
    refreshControls(state);
}

void takeHostText(FrontPanelState& state)
{
    GetWindowTextW(GetDlgItem(state.panelWindow, IDC_HOST_EDIT), state.hostText, HOST_TEXT_CAPACITY);
    removeSpaces(state.hostText);
}

// Copies the selected line into hostText and the host edit; the edit's
// EN_CHANGE then takes the text back and refreshes the controls.
void copySelectedLine(FrontPanelState& state)
{
    HWND list = GetDlgItem(state.panelWindow, IDC_HISTORY_LIST);
    LRESULT index = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR || SendMessageW(list, LB_GETITEMDATA, index, 0) == SELECTED_LINE_MARK)
        return;
    markSelectedLine(list, index);
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR)
        return;
    if (length < HOST_TEXT_CAPACITY) {
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(state.hostText));
    } else {
        // Never written by the fill, but a longer line must not overrun hostText.
        std::unique_ptr<wchar_t[]> line(new wchar_t[length + 1]);
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(line.get()));
        wmemcpy(state.hostText, line.get(), HOST_TEXT_CAPACITY - 1);
        state.hostText[HOST_TEXT_CAPACITY - 1] = L'\0';
    }
    SetWindowTextW(GetDlgItem(state.panelWindow, IDC_HOST_EDIT), state.hostText);
}

void deleteRecord(FrontPanelState& state)
{
    deleteSelectedEntry(state);
    fillHistoryList(state);
    refreshControls(state);
}

void clearList(FrontPanelState& state)
{
    if (MessageBoxW(state.panelWindow, CLEAR_QUESTION, CLEAR_CAPTION, MB_YESNO) != IDYES)
        return;
    clearHistory();
    fillHistoryList(state);
    refreshControls(state);
}

INT_PTR onCommand(FrontPanelState& state, WORD id, WORD notification)
{
    switch (id) {
    case IDOK:
    case IDCANCEL:
    case IDC_CONNECT:
    case IDC_START_SERVER:
    case IDC_EXIT:
    case IDC_START_LISTENING_VIEWER:
        endPanel(state, id);
        return TRUE;
    case IDC_HOST_EDIT:
        if (notification == EN_CHANGE) {
            takeHostText(state);
            refreshControls(state);
        }
        return FALSE;
    case IDC_HISTORY_LIST:
        if (notification == LBN_SELCHANGE)
            copySelectedLine(state);
        else if (notification == LBN_DBLCLK)
            endPanel(state, IDC_CONNECT);
        return FALSE;
    case IDC_DELETE_RECORD:
        deleteRecord(state);
        return FALSE;
    case IDC_CLEAR_LIST:
        clearList(state);
        return FALSE;
    case IDC_ABOUT:
        showAboutBox(state.panelWindow);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void removeSpaces(wchar_t* text)
{
    wchar_t* kept = text;
    for (; *text != L'\0'; text++) {
        if (*text != L' ')
            *kept++ = *text;
    }
    *kept = L'\0';
}

void markSelectedLine(HWND list, LRESULT index)
{
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; i++)
        SendMessageW(list, LB_SETITEMDATA, i, i == index ? SELECTED_LINE_MARK : 0);
}

void refreshControls(const FrontPanelState& state)
{
    HWND dialog = state.panelWindow;
    HWND list = GetDlgItem(dialog, IDC_HISTORY_LIST);
    LRESULT selection = SendMessageW(list, LB_GETCURSEL, 0, 0);
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);

    EnableWindow(GetDlgItem(dialog, IDC_START_SERVER), TRUE);
    EnableWindow(GetDlgItem(dialog, IDC_START_LISTENING_VIEWER), TRUE);
    EnableWindow(list, TRUE);
    EnableWindow(GetDlgItem(dialog, IDC_HOST_EDIT), TRUE);
    EnableWindow(GetDlgItem(dialog, IDC_CONNECT), state.hostText[0] != L'\0');
    EnableWindow(GetDlgItem(dialog, IDC_DELETE_RECORD), selection != LB_ERR);
    EnableWindow(GetDlgItem(dialog, IDC_CLEAR_LIST), count != LB_ERR && count != 0);
}

INT_PTR CALLBACK frontPanelProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        initPanel(dialog, *reinterpret_cast<FrontPanelState*>(lParam));
        // TRUE: the platform focuses the first tab stop, the host edit.
        return TRUE;
    }
    auto* state = reinterpret_cast<FrontPanelState*>(GetWindowLongPtrW(dialog, GWLP_USERDATA));
    if (message == WM_COMMAND && state != nullptr)
        return onCommand(*state, LOWORD(wParam), HIWORD(wParam));
    return FALSE;
}
