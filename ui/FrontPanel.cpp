#include "FrontPanel.h"

#include "AboutBox.h"
#include "ConnectionHistory.h"

#include "../core/LoaderWindow.h"
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
    return c == L'"' || isAsciiSpace(c) || (c >= 0x1C && c <= 0x1F) || c == 0x85 ||
           c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
           c == 0x202F || c == 0x205F || c == 0x3000;
}

// Characters 1 or 2 units long: a surrogate pair is one character.
size_t characterLength(const wchar_t* text)
{
    return IS_HIGH_SURROGATE(text[0]) && IS_LOW_SURROGATE(text[1]) ? 2 : 1;
}

// A viewer that reads its command line in the ANSI code page gets the host
// after the system's best-fit conversion, which turns some harmless-looking
// characters into a quote, a blank or a dash (U+FF02 into " in code page
// 1252). The image of one character in this computer's ANSI code page, as the
// viewer's process gets it; at most a few bytes.
int ansiImage(const wchar_t* character, size_t length, char (&image)[8])
{
    return WideCharToMultiByte(CP_ACP, 0, character, static_cast<int>(length), image, sizeof(image), nullptr,
                               nullptr);
}

// True when the character's ANSI image holds a byte that splits arguments or
// quotes, as the characters above do in UTF-16.
bool splitsAnsiArguments(const wchar_t* character, size_t length)
{
    // Every ANSI code page keeps ASCII as it is.
    if (length == 1 && *character < 0x80)
        return false;
    char image[8];
    int bytes = ansiImage(character, length, image);
    for (int i = 0; i < bytes; i++) {
        unsigned char byte = static_cast<unsigned char>(image[i]);
        if (byte < 0x80 && isSeparatorOrQuote(static_cast<wchar_t>(byte)))
            return true;
    }
    return false;
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

// Whether one of the list's lines from first to last, read back as the host
// edit would give it and cleaned, is the host. Asked before a deletion: the
// host is then one of the entries that the deletion removes.
bool isHostAmongLines(FrontPanelState& state, LRESULT first, LRESULT last)
{
    if (state.hostText[0] == L'\0')
        return false;
    HWND list = GetDlgItem(state.panelWindow, IDC_HISTORY_LIST);
    for (LRESULT i = first; i <= last; i++) {
        LRESULT length = SendMessageW(list, LB_GETTEXTLEN, i, 0);
        if (length == LB_ERR)
            continue;
        std::unique_ptr<wchar_t[]> line(new wchar_t[length + 1]);
        line[0] = L'\0';
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.get()));
        line[length < HOST_TEXT_CAPACITY ? length : HOST_TEXT_CAPACITY - 1] = L'\0';
        cleanHostText(line.get());
        if (wcscmp(line.get(), state.hostText) == 0)
            return true;
    }
    return false;
}

// Rebuilds the list from the file. A fill that lists a line has put the first
// one into the host edit, which counts as the panel's own writing. A fill that
// lists nothing also takes away a host that the deletion just removed from
// the list, however it came into the edit (picked, typed back, undone): what
// was deleted must not stay on screen, ready to be sent to the viewer and
// recorded again. Any other host stays.
void refillList(FrontPanelState& state, bool hostRemoved)
{
    fillHistoryList(state);
    HWND list = GetDlgItem(state.panelWindow, IDC_HISTORY_LIST);
    state.selectedLine = static_cast<int>(SendMessageW(list, LB_GETCURSEL, 0, 0));
    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (count > 0)
        markHostAsSetByPanel(state);
    else if (hostRemoved)
        SetWindowTextW(GetDlgItem(state.panelWindow, IDC_HOST_EDIT), L"");
    refreshControls(state);
}

// The taskbar and Alt+Tab show the program's icon, not a generic one. Shared
// icons of the system sizes: the system frees them with the program.
void setProgramIcon(HWND dialog)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    const struct {
        WPARAM kind;
        int width;
        int height;
    } icons[] = {{ICON_BIG, SM_CXICON, SM_CYICON}, {ICON_SMALL, SM_CXSMICON, SM_CYSMICON}};
    for (const auto& icon : icons) {
        HANDLE image = LoadImageW(instance, MAKEINTRESOURCEW(IDI_LAUNCHER), IMAGE_ICON,
                                  GetSystemMetrics(icon.width), GetSystemMetrics(icon.height), LR_SHARED);
        SendMessageW(dialog, WM_SETICON, icon.kind, reinterpret_cast<LPARAM>(image));
    }
}

void initPanel(HWND dialog, FrontPanelState& state)
{
    // The nested EN_CHANGE during the fill needs the state in the user data,
    // and the fill finds its controls through panelWindow: both come first.
    SetWindowLongPtrW(dialog, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));
    state.panelWindow = dialog;
    setProgramIcon(dialog);
    SetForegroundWindow(dialog);
    state.panelOpen = true;
    refillList(state, false);
}

void takeHostText(FrontPanelState& state)
{
    GetWindowTextW(GetDlgItem(state.panelWindow, IDC_HOST_EDIT), state.hostText, HOST_TEXT_CAPACITY);
    cleanHostText(state.hostText);
    // No host name begins with a dash or a slash: such a text is no host, so
    // Connect, Enter and a double click start nothing.
    if (looksLikeSwitch(state.hostText))
        state.hostText[0] = L'\0';
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
    LRESULT selected = SendMessageW(GetDlgItem(state.panelWindow, IDC_HISTORY_LIST), LB_GETCURSEL, 0, 0);
    bool hostRemoved = selected != LB_ERR && isHostAmongLines(state, selected, selected);
    deleteSelectedEntry(state);
    refillList(state, hostRemoved);
}

void clearList(FrontPanelState& state)
{
    // The box's own loop may have ended the panel, or handled the close
    // message, before the answer came: then the answer changes nothing.
    if (MessageBoxW(state.panelWindow, CLEAR_QUESTION, CLEAR_CAPTION, MB_YESNO) != IDYES || !state.panelOpen ||
        isCloseRequested())
        return;
    LRESULT count = SendMessageW(GetDlgItem(state.panelWindow, IDC_HISTORY_LIST), LB_GETCOUNT, 0, 0);
    bool hostRemoved = isHostAmongLines(state, 0, count - 1);
    clearHistory();
    refillList(state, hostRemoved);
}

INT_PTR onCommand(FrontPanelState& state, WORD id, WORD notification)
{
    // Once the close message has been handled the run is ending: a click
    // queued behind it, or made while a menu loop held the quit request,
    // launches and deletes nothing.
    if (isCloseRequested())
        return FALSE;
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

bool looksLikeSwitch(const wchar_t* host)
{
    if (host[0] == L'-' || host[0] == L'/')
        return true;
    if (host[0] == L'\0')
        return false;
    char image[8];
    int bytes = ansiImage(host, characterLength(host), image);
    return bytes > 0 && (image[0] == '-' || image[0] == '/');
}

void cleanHostText(wchar_t* text)
{
    wchar_t* kept = text;
    while (*text != L'\0') {
        size_t length = characterLength(text);
        if (!isSeparatorOrQuote(*text) && !splitsAnsiArguments(text, length)) {
            wmemmove(kept, text, length);
            kept += length;
        }
        text += length;
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
