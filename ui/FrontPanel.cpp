#include "FrontPanel.h"

#include "AboutBox.h"
#include "ConnectionHistory.h"

#include "../res/resource.h"

#include <cwchar>
#include <memory>

namespace {

const wchar_t CLEAR_CAPTION[] = L"Data Removal Confirmation";
const wchar_t CLEAR_QUESTION[] = L"Clear the list of saved Korvane connections?";

// White space as Unicode defines it, the information separators that some
// runtimes count as white space, and the double quote.
bool isSeparatorOrQuote(wchar_t c)
{
    return c == L'"' || c == L' ' || (c >= L'\t' && c <= L'\r') || (c >= 0x1C && c <= 0x1F) || c == 0x85 ||
           c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

void endPanel(FrontPanelState& state, INT_PTR result)
{
    EndDialog(state.panelWindow, result);
    state.panelOpen = false;
}

// The host edit's modification flag: set when the user changes the text,
// cleared whenever the panel itself writes it.
bool isHostEditedByUser(const FrontPanelState& state)
{
    return SendMessageW(GetDlgItem(state.panelWindow, IDC_HOST_EDIT), EM_GETMODIFY, 0, 0) != 0;
}

void markHostAsSetByPanel(const FrontPanelState& state)
{
    SendMessageW(GetDlgItem(state.panelWindow, IDC_HOST_EDIT), EM_SETMODIFY, FALSE, 0);
}

// Rebuilds the list from the file. The fill may have put the first line into
// the host edit, which counts as the panel's own writing.
void refillList(FrontPanelState& state)
{
    fillHistoryList(state);
    HWND list = GetDlgItem(state.panelWindow, IDC_HISTORY_LIST);
    state.selectedLine = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
    markHostAsSetByPanel(state);
    refreshControls(state);
}

void initPanel(HWND dialog, FrontPanelState& state)
{
    // The nested EN_CHANGE during the fill needs the state in the user data,
    // and the fill finds its controls through panelWindow: both come first.
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    state.panelWindow = dialog;
    SetForegroundWindow(dialog);
    state.panelOpen = true;
    refillList(state);
}

void takeHostText(FrontPanelState& state)
{
    GetWindowTextW(GetDlgItem(state.panelWindow, IDC_HOST_EDIT), state.hostText, HOST_TEXT_CAPACITY);
    removeSpaces(state.hostText);
}

// Copies list line index into hostText and the host edit; the edit's
// EN_CHANGE then takes the text back, cleaned, and refreshes the controls.
void copyLine(FrontPanelState& state, LRESULT index)
{
    HWND list = GetDlgItem(state.panelWindow, IDC_HISTORY_LIST);
    state.selectedLine = static_cast<int>(index);
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
    markHostAsSetByPanel(state);
}

// A selection is copied into the host, except that clicking the line already
// selected again leaves a host that the user has edited alone.
void onSelectionChange(FrontPanelState& state)
{
    LRESULT index = SendMessageW(GetDlgItem(state.panelWindow, IDC_HISTORY_LIST), LB_GETCURSEL, 0, 0);
    if (index == LB_ERR || (index == state.selectedLine && isHostEditedByUser(state)))
        return;
    copyLine(state, index);
}

// The list line under the pointer of the message being handled, or LB_ERR
// when it is on no line (the blank part of the list).
LRESULT lineUnderPointer(HWND list)
{
    DWORD position = GetMessagePos();
    POINT point = {static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))};
    ScreenToClient(list, &point);
    LRESULT hit = SendMessageW(list, LB_ITEMFROMPOINT, 0, MAKELPARAM(point.x, point.y));
    if (HIWORD(hit) != 0)
        return LB_ERR;
    // The answer holds 16 bits of the line number: the rest comes from the
    // first visible line, since the pointer is on a visible one.
    LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    return top + static_cast<WORD>(LOWORD(hit) - static_cast<WORD>(top));
}

// A double click on a line connects to that line, whatever the host edit
// holds; elsewhere in the list it connects to the host, as Connect does.
// Nothing left to connect to (a line that is all blanks) connects to nothing.
void onDoubleClick(FrontPanelState& state)
{
    LRESULT index = lineUnderPointer(GetDlgItem(state.panelWindow, IDC_HISTORY_LIST));
    if (index != LB_ERR)
        copyLine(state, index);
    if (state.hostText[0] != L'\0')
        endPanel(state, IDC_CONNECT);
}

void deleteRecord(FrontPanelState& state)
{
    deleteSelectedEntry(state);
    refillList(state);
}

void clearList(FrontPanelState& state)
{
    if (MessageBoxW(state.panelWindow, CLEAR_QUESTION, CLEAR_CAPTION, MB_YESNO) != IDYES)
        return;
    clearHistory();
    refillList(state);
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
            onSelectionChange(state);
        else if (notification == LBN_DBLCLK)
            onDoubleClick(state);
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
        if (!isSeparatorOrQuote(*text))
            *kept++ = *text;
    }
    *kept = L'\0';
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
