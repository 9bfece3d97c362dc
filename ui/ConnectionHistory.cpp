#include "ConnectionHistory.h"

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
// A listed entry shows at most this many characters of its text.
const size_t LISTED_TEXT = LIST_BUFFER - 2;
const DWORD FIRST_SECTION_BUFFER = 4096;
// Enough for "-2147483648" and its zero.
const size_t KEY_NAME_BUFFER = 12;

bool isWhiteSpace(wchar_t c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r');
}

bool isBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// A key name as %d writes a number from 0 up to limit - 1: digits only, no
// leading zero. Blanks around it do not count, as the platform trims them when
// it matches key names. Sets number on success.
bool parseKeyNumber(const wchar_t* name, size_t length, int limit, int& number)
{
    while (length > 0 && isBlank(*name)) {
        name++;
        length--;
    }
    while (length > 0 && isBlank(name[length - 1]))
        length--;
    if (length == 0 || (name[0] == L'0' && length > 1))
        return false;
    long long value = 0;
    for (size_t i = 0; i < length; i++) {
        if (name[i] < L'0' || name[i] > L'9')
            return false;
        value = value * 10 + (name[i] - L'0');
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

// The viewer's settings file; false when the launcher does not know where it
// runs from, and so must neither read nor delete anything.
bool getHistoryFile(StringStorage& settingsPath)
{
    if (!isModulePathKnown())
        return false;
    getViewerSettingsPath(settingsPath);
    return true;
}

// Deletes one History key and the entry section named after its text; false
// when the key could not be deleted.
bool deleteHistoryEntry(const KeyName& key, const wchar_t* entryText, const StringStorage& settingsPath)
{
    if (!WritePrivateProfileStringW(HISTORY_SECTION, key.text, nullptr, settingsPath.getString()))
        return false;

    StringStorage entrySection;
    entrySection.setString(HISTORY_SECTION);
    entrySection.appendString(L"\\");
    entrySection.appendString(entryText);
    WritePrivateProfileStringW(entrySection.getString(), nullptr, nullptr, settingsPath.getString());
    return true;
}

int compareKeys(const void* left, const void* right)
{
    int a = static_cast<const HistoryKey*>(left)->number;
    int b = static_cast<const HistoryKey*>(right)->number;
    return (a > b) - (a < b);
}

// Deletes every entry below the limit whose text equals onlyText (every entry
// when it is null), each with its entry section. The platform reads and
// deletes the first of the lines that share a name, so a key is read again
// after each deletion, at most once per line that carries its name.
void deleteEntries(const StringStorage& settingsPath, const StringStorage* onlyText)
{
    int limit = readHistoryLimit(settingsPath);
    std::unique_ptr<wchar_t[]> value(allocateWideArray(DELETE_BUFFER));
    HistoryKeys keys = listHistoryKeys(settingsPath, limit);
    for (size_t k = 0; k < keys.count; k++) {
        KeyName key(keys.keys[k].number);
        for (int line = 0; line < keys.keys[k].lines; line++) {
            if (readHistoryValue(key, value.get(), DELETE_BUFFER, settingsPath) == 0)
                break;
            const wchar_t* entryText = value.get() + 1;
            if (onlyText != nullptr && !onlyText->isEqualTo(entryText))
                break;
            if (!deleteHistoryEntry(key, entryText, settingsPath))
                break;
        }
    }
}

// Whether a list line shows this entry text: the whole text, or its first
// characters where the list cut it.
bool isListedAs(const wchar_t* entryText, const wchar_t* line)
{
    size_t shown = wcslen(entryText);
    if (shown > LISTED_TEXT)
        shown = LISTED_TEXT;
    return wcslen(line) == shown && wmemcmp(entryText, line, shown) == 0;
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
    // The section's lines, name=value each; a cut section comes back with
    // size - 2: grow until it fits. The lines are read rather than the key
    // names, whose list the platform ends at the first empty name.
    std::unique_ptr<wchar_t[]> lines;
    DWORD read = 0;
    for (DWORD capacity = FIRST_SECTION_BUFFER;; capacity *= 2) {
        lines.reset(allocateWideArray(capacity));
        read = GetPrivateProfileSectionW(HISTORY_SECTION, lines.get(), capacity, settingsPath.getString());
        if (read + 2 < capacity || capacity > 0x7FFFFFFF / 2)
            break;
    }
    lines[read] = L'\0';
    // Each line takes at least two characters with its zero.
    keys.keys.reset(new HistoryKey[read / 2 + 1]);
    for (DWORD at = 0; at < read; at += static_cast<DWORD>(wcslen(lines.get() + at)) + 1) {
        const wchar_t* line = lines.get() + at;
        const wchar_t* equals = wcschr(line, L'=');
        int number;
        if (parseKeyNumber(line, equals != nullptr ? equals - line : wcslen(line), limit, number))
            keys.keys[keys.count++] = HistoryKey{number, 1};
    }
    // Visited in key order, each once, as a scan from 0 to the limit would.
    qsort(keys.keys.get(), keys.count, sizeof(HistoryKey), compareKeys);
    size_t kept = 0;
    for (size_t i = 0; i < keys.count; i++) {
        if (kept > 0 && keys.keys[kept - 1].number == keys.keys[i].number)
            keys.keys[kept - 1].lines++;
        else
            keys.keys[kept++] = keys.keys[i];
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
    if (!getHistoryFile(settingsPath))
        return;
    int limit = readHistoryLimit(settingsPath);

    wchar_t value[LIST_BUFFER];
    WPARAM line = 0;
    HistoryKeys keys = listHistoryKeys(settingsPath, limit);
    for (size_t k = 0; k < keys.count; k++) {
        int number = keys.keys[k].number;
        if (readHistoryValue(KeyName(number), value, LIST_BUFFER, settingsPath) == 0)
            continue;
        // Inserted at an explicit index, which the sorted list box never re-sorts.
        // The key stays with the line: a cut line still finds its entry.
        LRESULT at = SendMessageW(list, LB_INSERTSTRING, line, reinterpret_cast<LPARAM>(value + 1));
        if (at >= 0)
            SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(at), number);
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
    StringStorage entryText;
    entryText.setString(line.get());

    StringStorage settingsPath;
    if (!getHistoryFile(settingsPath))
        return;
    // The line may show its entry cut: the key it was filled from gives the
    // whole text, as long as that key still holds what the line shows.
    LRESULT key = SendMessageW(list, LB_GETITEMDATA, index, 0);
    if (key >= 0 && key <= INT_MAX) {
        std::unique_ptr<wchar_t[]> value(allocateWideArray(DELETE_BUFFER));
        if (readHistoryValue(KeyName(static_cast<int>(key)), value.get(), DELETE_BUFFER, settingsPath) != 0 &&
            isListedAs(value.get() + 1, line.get()))
            entryText.setString(value.get() + 1);
    }
    // Every key holding the same text goes, not only the first.
    deleteEntries(settingsPath, &entryText);
}

void clearHistory()
{
    StringStorage settingsPath;
    if (getHistoryFile(settingsPath))
        deleteEntries(settingsPath, nullptr);
}
