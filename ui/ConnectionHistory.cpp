#include "ConnectionHistory.h"

#include "../drive/DrivePaths.h"
#include "../res/resource.h"

#include <windows.h>

#include <climits>
#include <memory>

namespace {

// The viewer's settings file; false when the launcher does not know where it
// runs from, and so must neither read nor delete anything.
bool getHistoryFile(StringStorage& settingsPath)
{
    if (!isModulePathKnown())
        return false;
    getViewerSettingsPath(settingsPath);
    return true;
}

} // namespace

void showHistory(HWND list, HWND edit, const HistoryList& history)
{
    LRESULT selection = SendMessageW(list, LB_GETCURSEL, 0, 0);
    LRESULT top = SendMessageW(list, LB_GETTOPINDEX, 0, 0);
    // A shown list box redraws itself and its scroll bar after every line
    // that it takes: thousands of lines took seconds.
    SendMessageW(list, WM_SETREDRAW, FALSE, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);
    SendMessageW(list, LB_INITSTORAGE, history.count, history.count * 16);
    for (size_t i = 0; i < history.count; i++) {
        // Inserted at an explicit index, which the sorted list box never re-sorts.
        // The key stays with the line: a cut line still finds its entry.
        LRESULT at = SendMessageW(list, LB_INSERTSTRING, i, reinterpret_cast<LPARAM>(history.entries[i].text));
        if (at >= 0)
            SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(at), history.entries[i].key);
    }
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (count != LB_ERR) {
        if (selection >= count)
            selection = count - 1;
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(selection), 0);
        // Where the user had scrolled, as far as the lines still reach.
        if (top != LB_ERR && top > 0)
            SendMessageW(list, LB_SETTOPINDEX, static_cast<WPARAM>(top < count ? top : count - 1), 0);
    }
    SendMessageW(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
    // After the list: the host edit's change notification finds the list whole.
    if (history.count > 0)
        SetWindowTextW(edit, history.entries[0].text);
}

void fillHistoryList(FrontPanelState& state)
{
    HistoryList history;
    StringStorage settingsPath;
    if (getHistoryFile(settingsPath))
        listHistory(settingsPath.getString(), history);
    showHistory(GetDlgItem(state.panelWindow, IDC_HISTORY_LIST), GetDlgItem(state.panelWindow, IDC_HOST_EDIT),
                history);
}

void deleteSelectedEntry(FrontPanelState& state)
{
    HWND list = GetDlgItem(state.panelWindow, IDC_HISTORY_LIST);
    LRESULT index = SendMessageW(list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR)
        return;
    LRESULT length = SendMessageW(list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR)
        return;
    std::unique_ptr<wchar_t[]> line(allocateWideArray(static_cast<size_t>(length) + 1));
    line[0] = L'\0';
    SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(line.get()));
    line[length] = L'\0';
    LRESULT key = SendMessageW(list, LB_GETITEMDATA, index, 0);
    StringStorage settingsPath;
    if (getHistoryFile(settingsPath))
        deleteHistoryEntry(settingsPath.getString(), line.get(), key >= 0 && key <= INT_MAX ? static_cast<int>(key) : -1);
}

void clearHistory()
{
    StringStorage settingsPath;
    if (getHistoryFile(settingsPath))
        clearHistoryEntries(settingsPath.getString());
}
