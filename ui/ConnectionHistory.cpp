#include "ConnectionHistory.h"

#include "FrontPanel.h"

#include "../drive/DrivePaths.h"
#include "../res/resource.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <cwchar>
#include <memory>

namespace {

const wchar_t SETTINGS_SECTION[] = L"80000001\\Software\\Durmont\\DODivarav\\Settings";
const wchar_t HISTORY_SECTION[] = L"80000001\\Software\\Durmont\\DODivarav\\History";
const wchar_t HISTORY_LIMIT_KEY[] = L"HistoryLimit";
const int DEFAULT_HISTORY_LIMIT = 32;

const DWORD LIMIT_BUFFER = 20;
const DWORD LIST_BUFFER = 256;
const DWORD DELETE_BUFFER = 32768;
const DWORD FIRST_KEY_NAMES_BUFFER = 4096;
// Enough for "-2147483648" and its zero.
const size_t KEY_NAME_BUFFER = 12;

bool isWhiteSpace(wchar_t c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

// A key name as %d writes a number from 0 up to limit - 1: digits only, no
// leading zero. Sets number on success.
bool parseKeyNumber(const wchar_t* name, int limit, int& number)
{
    if (name[0] < L'0' || name[0] > L'9' || (name[0] == L'0' && name[1] != L'\0'))
        return false;
    long long value = 0;
    for (const wchar_t* c = name; *c != L'\0'; c++) {
        if (*c < L'0' || *c > L'9')
            return false;
        value = value * 10 + (*c - L'0');
        if (value >= limit)
            return false;
    }
    number = static_cast<int>(value);
    return true;
}

// The name of History key number key, as "%d" writes it.
struct KeyName {
    explicit KeyName(int key)
    {
        formatToArray(text, KEY_NAME_BUFFER, L"%d", key);
        text[KEY_NAME_BUFFER - 1] = L'\0';
    }
    wchar_t text[KEY_NAME_BUFFER];
};

// Reads one History key into buffer; returns the number of characters read.
DWORD readHistoryValue(const KeyName& key, wchar_t* buffer, DWORD capacity, const StringStorage& settingsPath)
{
    return GetPrivateProfileStringW(HISTORY_SECTION, key.text, L"", buffer, capacity, settingsPath.getString());
}

// Deletes one History key and the entry section named after its text.
void deleteHistoryEntry(const KeyName& key, const wchar_t* entryText, const StringStorage& settingsPath)
{
    WritePrivateProfileStringW(HISTORY_SECTION, key.text, nullptr, settingsPath.getString());

    StringStorage entrySection;
    entrySection.setString(HISTORY_SECTION);
    entrySection.appendString(L"\\");
    entrySection.appendString(entryText);
    WritePrivateProfileStringW(entrySection.getString(), nullptr, nullptr, settingsPath.getString());
}

int compareNumbers(const void* left, const void* right)
{
    int a = *static_cast<const int*>(left);
    int b = *static_cast<const int*>(right);
    return (a > b) - (a < b);
}

// Deletes every entry below the limit whose text equals onlyText (every entry
// when it is null), each with its entry section.
void deleteEntries(const StringStorage* onlyText)
{
    StringStorage settingsPath;
    getViewerSettingsPath(settingsPath);
    int limit = readHistoryLimit(settingsPath);

    std::unique_ptr<wchar_t[]> value(allocateWideArray(DELETE_BUFFER));
    HistoryKeys keys = listHistoryKeys(settingsPath, limit);
    for (size_t k = 0; k < keys.count; k++) {
        KeyName key(keys.numbers[k]);
        if (readHistoryValue(key, value.get(), DELETE_BUFFER, settingsPath) == 0)
            continue;
        const wchar_t* entryText = value.get() + 1;
        if (onlyText != nullptr && !onlyText->isEqualTo(entryText))
            continue;
        deleteHistoryEntry(key, entryText, settingsPath);
    }
}

} // namespace

int parseSignedDecimal(const wchar_t* text)
{
    while (isWhiteSpace(*text))
        text++;
    bool negative = false;
    if (*text == L'+' || *text == L'-') {
        negative = *text == L'-';
        text++;
    }
    long long value = 0;
    for (; *text >= L'0' && *text <= L'9'; text++) {
        value = value * 10 + (*text - L'0');
        // Past the range the result is the bound; stop before value overflows.
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        return static_cast<int>(-value < INT_MIN ? INT_MIN : -value);
    return static_cast<int>(value > INT_MAX ? INT_MAX : value);
}

int readHistoryLimit(const StringStorage& settingsPath)
{
    wchar_t value[LIMIT_BUFFER];
    DWORD read = GetPrivateProfileStringW(SETTINGS_SECTION, HISTORY_LIMIT_KEY, L"", value, LIMIT_BUFFER,
                                          settingsPath.getString());
    if (read == 0)
        return DEFAULT_HISTORY_LIMIT;
    // The first character is the viewer's type prefix, never part of the number.
    return parseSignedDecimal(value + 1);
}

HistoryKeys listHistoryKeys(const StringStorage& settingsPath, int limit)
{
    HistoryKeys keys;
    if (limit <= 0)
        return keys;
    // A cut list of names comes back with size - 2: grow until it fits.
    std::unique_ptr<wchar_t[]> names;
    DWORD read = 0;
    for (DWORD capacity = FIRST_KEY_NAMES_BUFFER;; capacity *= 2) {
        names.reset(allocateWideArray(capacity));
        read = GetPrivateProfileStringW(HISTORY_SECTION, nullptr, L"", names.get(), capacity,
                                        settingsPath.getString());
        if (read + 2 < capacity || capacity > 0x7FFFFFFF / 2)
            break;
    }
    // Each name takes at least two characters with its zero.
    keys.numbers.reset(new int[read / 2 + 1]);
    for (const wchar_t* name = names.get(); *name != L'\0'; name += wcslen(name) + 1) {
        int number;
        if (parseKeyNumber(name, limit, number))
            keys.numbers[keys.count++] = number;
    }
    // Visited in key order, each once, as a scan from 0 to the limit would.
    qsort(keys.numbers.get(), keys.count, sizeof(int), compareNumbers);
    size_t kept = 0;
    for (size_t i = 0; i < keys.count; i++) {
        if (kept == 0 || keys.numbers[kept - 1] != keys.numbers[i])
            keys.numbers[kept++] = keys.numbers[i];
    }
    keys.count = kept;
    return keys;
}

void fillHistoryList(FrontPanelState& state)
{
    HWND list = GetDlgItem(state.panelWindow, IDC_HISTORY_LIST);
    HWND edit = GetDlgItem(state.panelWindow, IDC_HOST_EDIT);
    LRESULT selection = SendMessageW(list, LB_GETCURSEL, 0, 0);
    SendMessageW(list, LB_RESETCONTENT, 0, 0);

    StringStorage settingsPath;
    getViewerSettingsPath(settingsPath);
    int limit = readHistoryLimit(settingsPath);

    wchar_t value[LIST_BUFFER];
    WPARAM line = 0;
    HistoryKeys keys = listHistoryKeys(settingsPath, limit);
    for (size_t k = 0; k < keys.count; k++) {
        if (readHistoryValue(KeyName(keys.numbers[k]), value, LIST_BUFFER, settingsPath) == 0)
            continue;
        // Inserted at an explicit index, which the sorted list box never re-sorts.
        SendMessageW(list, LB_INSERTSTRING, line, reinterpret_cast<LPARAM>(value + 1));
        if (line == 0)
            SetWindowTextW(edit, value + 1);
        line++;
    }

    LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
    if (count == LB_ERR)
        return;
    if (selection >= count)
        selection = count - 1;
    SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(selection), 0);
    markSelectedLine(list, selection);
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
    StringStorage selectedText;
    selectedText.setString(line.get());

    // Every key holding the same text goes, not only the first.
    deleteEntries(&selectedText);
}

void clearHistory()
{
    deleteEntries(nullptr);
}
