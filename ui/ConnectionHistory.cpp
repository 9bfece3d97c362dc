#include "ConnectionHistory.h"

#include "SettingsFile.h"

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

// A History key below the limit, with the value of its first line, the one
// that the platform reads; the value lies in the section's lines.
struct ListedKey {
    int number;
    size_t order;
    wchar_t* value;
};

struct ListedKeys {
    std::unique_ptr<wchar_t[]> lines;
    std::unique_ptr<ListedKey[]> keys;
    size_t count = 0;
};

// By number, then in file order.
template <typename Key>
int compareKeys(const void* left, const void* right)
{
    const Key* a = static_cast<const Key*>(left);
    const Key* b = static_cast<const Key*>(right);
    if (a->number != b->number)
        return a->number < b->number ? -1 : 1;
    return (a->order > b->order) - (a->order < b->order);
}

// The History keys that are numerals as %d writes them and below limit, in
// ascending order, each once, with their values: all from the section's
// lines, read in one call. The cost follows the file, not the limit, which a
// damaged file may set to two thousand million; and a file just written is
// parsed once, where the platform reads a young file afresh for every key.
ListedKeys listHistoryKeys(const StringStorage& settingsPath, int limit)
{
    ListedKeys keys;
    if (limit <= 0)
        return keys;
    // The section's lines, name=value each; a cut section comes back with
    // size - 2: grow until it fits. The lines are read rather than the key
    // names, whose list the platform ends at the first empty name.
    DWORD read = 0;
    for (DWORD capacity = FIRST_SECTION_BUFFER;; capacity *= 2) {
        keys.lines.reset(allocateWideArray(capacity));
        read = GetPrivateProfileSectionW(HISTORY_SECTION, keys.lines.get(), capacity, settingsPath.getString());
        if (read + 2 < capacity || capacity > 0x7FFFFFFF / 2)
            break;
    }
    keys.lines[read] = L'\0';
    // Each line takes at least two characters with its zero.
    keys.keys.reset(new ListedKey[read / 2 + 1]);
    for (DWORD at = 0; at < read; at += static_cast<DWORD>(wcslen(keys.lines.get() + at)) + 1) {
        wchar_t* line = keys.lines.get() + at;
        wchar_t* equals = wcschr(line, L'=');
        int number;
        if (parseKeyNumber(line, equals != nullptr ? equals - line : wcslen(line), limit, number))
            keys.keys[keys.count++] = ListedKey{number, at, equals != nullptr ? equals + 1 : line + wcslen(line)};
    }
    // In key order, as a scan from 0 to the limit would visit them; of the
    // lines that share a name, the first.
    qsort(keys.keys.get(), keys.count, sizeof(ListedKey), compareKeys<ListedKey>);
    size_t kept = 0;
    for (size_t i = 0; i < keys.count; i++) {
        if (kept == 0 || keys.keys[kept - 1].number != keys.keys[i].number)
            keys.keys[kept++] = keys.keys[i];
    }
    keys.count = kept;
    return keys;
}

// A History key's line in the settings file: order is the line's index.
struct HistoryLine {
    int number;
    size_t order;
};

// A section header, by its name with letter case folded.
struct SectionHeader {
    const wchar_t* name;
    size_t length;
    size_t line;
};

int compareNames(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength)
{
    int order = wmemcmp(a, b, aLength < bLength ? aLength : bLength);
    if (order != 0)
        return order;
    return (aLength > bLength) - (aLength < bLength);
}

int compareHeaders(const void* left, const void* right)
{
    const SectionHeader* a = static_cast<const SectionHeader*>(left);
    const SectionHeader* b = static_cast<const SectionHeader*>(right);
    int order = compareNames(a->name, a->length, b->name, b->length);
    return order != 0 ? order : (a->line > b->line) - (a->line < b->line);
}

// The section headers of a settings file by folded name, each name's headers
// in file order: the platform deletes the first section of a name.
struct SectionIndex {
    explicit SectionIndex(const SettingsFile& file)
    {
        size_t units = 0;
        for (size_t i = 0; i < file.lineCount; i++)
            units += file.lines[i].kind == SettingsLineKind::Section ? file.lines[i].nameLength : 0;
        folded.reset(allocateWideArray(units + 1));
        headers.reset(new SectionHeader[file.lineCount + 1]);
        wchar_t* at = folded.get();
        for (size_t i = 0; i < file.lineCount; i++) {
            const SettingsLine& line = file.lines[i];
            if (line.kind != SettingsLineKind::Section || line.nameLength == 0)
                continue;
            wmemcpy(at, line.name, line.nameLength);
            foldCase(at, line.nameLength);
            headers[count++] = SectionHeader{at, line.nameLength, i};
            at += line.nameLength;
        }
        qsort(headers.get(), count, sizeof(SectionHeader), compareHeaders);
    }

    // The first header named name that is not removed; npos if none. Folds
    // name in place.
    size_t first(wchar_t* name, size_t length, const bool* removed) const
    {
        foldCase(name, length);
        size_t low = 0, high = count;
        while (low < high) {
            size_t middle = low + (high - low) / 2;
            if (compareNames(headers[middle].name, headers[middle].length, name, length) < 0)
                low = middle + 1;
            else
                high = middle;
        }
        for (; low < count && compareNames(headers[low].name, headers[low].length, name, length) == 0; low++) {
            if (!removed[headers[low].line])
                return headers[low].line;
        }
        return NO_LINE;
    }

    static const size_t NO_LINE = ~static_cast<size_t>(0);
    std::unique_ptr<wchar_t[]> folded;
    std::unique_ptr<SectionHeader[]> headers;
    size_t count = 0;
};

// Marks a section's header and every line up to the next header.
void removeSection(const SettingsFile& file, size_t header, bool* removed)
{
    removed[header] = true;
    for (size_t i = header + 1; i < file.lineCount && file.lines[i].kind != SettingsLineKind::Section; i++)
        removed[i] = true;
}

// The first section named text that is not removed.
size_t findSection(const SectionIndex& sections, const StringStorage& name, const bool* removed)
{
    std::unique_ptr<wchar_t[]> folded(allocateWideArray(name.getLength() + 1));
    wmemcpy(folded.get(), name.getString(), name.getLength() + 1);
    return sections.first(folded.get(), name.getLength(), removed);
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
    std::unique_ptr<bool[]> removed(new bool[file.lineCount + 1]());
    StringStorage sectionName;
    sectionName.setString(HISTORY_SECTION);
    size_t history = findSection(sections, sectionName, removed.get());
    if (history == SectionIndex::NO_LINE)
        return;

    // The History keys below the limit, by number and then in file order.
    std::unique_ptr<HistoryLine[]> keys(new HistoryLine[file.lineCount + 1]);
    size_t keyCount = 0;
    for (size_t i = history + 1; i < file.lineCount && file.lines[i].kind != SettingsLineKind::Section; i++) {
        const SettingsLine& line = file.lines[i];
        int number;
        if (line.kind == SettingsLineKind::Key && parseKeyNumber(line.name, line.nameLength, limit, number))
            keys[keyCount++] = HistoryLine{number, i};
    }
    qsort(keys.get(), keyCount, sizeof(HistoryLine), compareKeys<HistoryLine>);

    bool changed = false;
    for (size_t k = 0; k < keyCount;) {
        // Each line of one number in turn, as the platform would read it next,
        // until one is empty or holds another text.
        size_t next = k;
        while (next < keyCount && keys[next].number == keys[k].number)
            next++;
        for (; k < next; k++) {
            const SettingsLine& line = file.lines[keys[k].order];
            const wchar_t* value = line.value;
            size_t length = value != nullptr ? readValueAsPlatform(value, line.valueLength, DELETE_BUFFER) : 0;
            if (length == 0)
                break;
            std::unique_ptr<wchar_t[]> text(allocateWideArray(length));
            wmemcpy(text.get(), value + 1, length - 1);
            text[length - 1] = L'\0';
            if (onlyText != nullptr && !onlyText->isEqualTo(text.get()))
                break;
            removed[keys[k].order] = true;
            sectionName.setString(HISTORY_SECTION);
            sectionName.appendString(L"\\");
            sectionName.appendString(text.get());
            size_t entrySection = findSection(sections, sectionName, removed.get());
            if (entrySection != SectionIndex::NO_LINE)
                removeSection(file, entrySection, removed.get());
            changed = true;
        }
        k = next;
    }
    if (changed && replaceWithoutLines(settingsPath.getString(), file, removed.get())) {
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
    ListedKeys keys = listHistoryKeys(settingsPath, limit);
    for (size_t k = 0; k < keys.count; k++) {
        const wchar_t* value = keys.keys[k].value;
        size_t length = readValueAsPlatform(value, wcslen(value), LIST_BUFFER);
        if (length == 0)
            continue;
        // The value lies in the section's lines, which are this fill's own.
        const_cast<wchar_t*>(value)[length] = L'\0';
        // Inserted at an explicit index, which the sorted list box never re-sorts.
        // The key stays with the line: a cut line still finds its entry.
        LRESULT at = SendMessageW(list, LB_INSERTSTRING, line, reinterpret_cast<LPARAM>(value + 1));
        if (at >= 0)
            SendMessageW(list, LB_SETITEMDATA, static_cast<WPARAM>(at), keys.keys[k].number);
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
