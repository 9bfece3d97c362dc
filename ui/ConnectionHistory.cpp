#include "ConnectionHistory.h"

#include "SettingsFile.h"

#include "../drive/DrivePaths.h"
#include "../res/resource.h"

#include <windows.h>

#include <algorithm>
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

// A History key below the limit, with the value of its first line: the one
// that the platform reads.
struct ListedKey {
    int number;
    std::wstring value;
};

// The History keys that are numerals as %d writes them and below limit, in
// ascending order, each once, with their values: all from the section's
// lines, read in one call. The cost follows the file, not the limit, which a
// damaged file may set to two thousand million; and a file just written is
// parsed once, where the platform reads a young file afresh for every key.
std::vector<ListedKey> listHistoryKeys(const StringStorage& settingsPath, int limit)
{
    std::vector<ListedKey> keys;
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
    for (DWORD at = 0; at < read; at += static_cast<DWORD>(wcslen(lines.get() + at)) + 1) {
        const wchar_t* line = lines.get() + at;
        const wchar_t* equals = wcschr(line, L'=');
        int number;
        if (parseKeyNumber(line, equals != nullptr ? equals - line : wcslen(line), limit, number))
            keys.push_back(ListedKey{number, equals != nullptr ? equals + 1 : L""});
    }
    // In key order, as a scan from 0 to the limit would visit them; of the
    // lines that share a name, the first.
    std::stable_sort(keys.begin(), keys.end(),
                     [](const ListedKey& a, const ListedKey& b) { return a.number < b.number; });
    keys.erase(std::unique(keys.begin(), keys.end(),
                           [](const ListedKey& a, const ListedKey& b) { return a.number == b.number; }),
               keys.end());
    return keys;
}

// A History key's line in the settings file.
struct HistoryLine {
    int number;
    size_t line;
};

// The section headers of a settings file by folded name, each name's headers
// in file order: the platform deletes the first section of a name.
struct SectionIndex {
    explicit SectionIndex(const SettingsFile& file)
    {
        for (size_t i = 0; i < file.lines.size(); i++) {
            if (file.lines[i].kind == SettingsLineKind::Section && !file.lines[i].name.empty())
                headers.push_back(Header{foldName(file.lines[i].name), i});
        }
        std::sort(headers.begin(), headers.end(), [](const Header& a, const Header& b) {
            return a.name != b.name ? a.name < b.name : a.line < b.line;
        });
    }

    // The first header named name (folded) that is not removed; npos if none.
    size_t first(const std::wstring& name, const std::vector<bool>& removed) const
    {
        auto at = std::lower_bound(headers.begin(), headers.end(), name,
                                   [](const Header& header, const std::wstring& n) { return header.name < n; });
        for (; at != headers.end() && at->name == name; ++at) {
            if (!removed[at->line])
                return at->line;
        }
        return std::wstring::npos;
    }

    struct Header {
        std::wstring name;
        size_t line;
    };
    std::vector<Header> headers;
};

// Marks a section's header and every line up to the next header.
void removeSection(const SettingsFile& file, size_t header, std::vector<bool>& removed)
{
    removed[header] = true;
    for (size_t i = header + 1; i < file.lines.size() && file.lines[i].kind != SettingsLineKind::Section; i++)
        removed[i] = true;
}

// Deletes every entry below the limit whose text equals onlyText (every entry
// when it is null), each with its entry section: the same keys and sections
// as deleting them one by one through the platform, which deletes the first
// line of a key in the first History section and the first section of a
// name. The file is read once and replaced once, all other bytes kept; when
// it cannot be read or replaced, nothing changes.
void deleteEntries(const StringStorage& settingsPath, const StringStorage* onlyText)
{
    int limit = readHistoryLimit(settingsPath);
    SettingsFile file;
    if (limit <= 0 || !readSettingsFile(settingsPath.getString(), file))
        return;
    SectionIndex sections(file);
    std::vector<bool> removed(file.lines.size());
    size_t history = sections.first(foldName(HISTORY_SECTION), removed);
    if (history == std::wstring::npos)
        return;

    // The History keys below the limit, by number and then in file order.
    std::vector<HistoryLine> keys;
    for (size_t i = history + 1; i < file.lines.size() && file.lines[i].kind != SettingsLineKind::Section; i++) {
        int number;
        const std::wstring& name = file.lines[i].name;
        if (file.lines[i].kind == SettingsLineKind::Key && parseKeyNumber(name.data(), name.size(), limit, number))
            keys.push_back(HistoryLine{number, i});
    }
    std::stable_sort(keys.begin(), keys.end(),
                     [](const HistoryLine& a, const HistoryLine& b) { return a.number < b.number; });

    const std::wstring entryPrefix = std::wstring(HISTORY_SECTION) + L"\\";
    bool changed = false;
    for (size_t k = 0; k < keys.size();) {
        // Each line of one number in turn, as the platform would read it next,
        // until one is empty or holds another text.
        size_t next = k;
        while (next < keys.size() && keys[next].number == keys[k].number)
            next++;
        for (; k < next; k++) {
            const SettingsLine& line = file.lines[keys[k].line];
            std::wstring value = readValueAsPlatform(line.value, DELETE_BUFFER);
            if (!line.hasValue || value.empty())
                break;
            const wchar_t* entryText = value.c_str() + 1;
            if (onlyText != nullptr && !onlyText->isEqualTo(entryText))
                break;
            removed[keys[k].line] = true;
            size_t entrySection = sections.first(foldName(entryPrefix + entryText), removed);
            if (entrySection != std::wstring::npos)
                removeSection(file, entrySection, removed);
            changed = true;
        }
        k = next;
    }
    if (changed && replaceWithoutLines(settingsPath.getString(), file, removed)) {
        // Tells the platform to read the file afresh rather than from its cache.
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, settingsPath.getString());
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

    WPARAM line = 0;
    for (const ListedKey& key : listHistoryKeys(settingsPath, limit)) {
        std::wstring value = readValueAsPlatform(key.value, LIST_BUFFER);
        if (value.empty())
            continue;
        // Inserted at an explicit index, which the sorted list box never re-sorts.
        // The key stays with the line: a cut line still finds its entry.
        LRESULT at = SendMessageW(list, LB_INSERTSTRING, line, reinterpret_cast<LPARAM>(value.c_str() + 1));
        if (at >= 0)
            SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(at), key.number);
        if (line == 0)
            SetWindowTextW(edit, value.c_str() + 1);
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
