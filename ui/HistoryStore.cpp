#include "HistoryStore.h"

#include "settings/AtomicReplace.h"
#include "settings/SettingsFormat.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <cwchar>
#include <new>

namespace {

const wchar_t SETTINGS_SECTION[] = L"80000001\\Software\\Durmont\\DODivarav\\Settings";
const wchar_t HISTORY_SECTION[] = L"80000001\\Software\\Durmont\\DODivarav\\History";
const wchar_t HISTORY_LIMIT_KEY[] = L"HistoryLimit";
const int DEFAULT_HISTORY_LIMIT = 32;

// The platform's reading calls take a value into a buffer of this many
// characters: the limit, a listed entry, an entry to delete.
const size_t LIMIT_BUFFER = 20;
const size_t LIST_BUFFER = LISTED_TEXT + 2;
const size_t DELETE_BUFFER = 32768;

// A key name as %d writes a number from 0 up to limit - 1: digits only, no
// leading zero. Sets number on success.
bool parseKeyNumber(const wchar_t* name, size_t length, int limit, int& number)
{
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

int limitOf(const SettingsFile& file)
{
    size_t section = findSectionLine(file, SETTINGS_SECTION);
    size_t key = section < file.lineCount ? findKeyLine(file, section, HISTORY_LIMIT_KEY) : file.lineCount;
    if (key == file.lineCount || file.lines[key].value == nullptr)
        return DEFAULT_HISTORY_LIMIT;
    const wchar_t* value = file.lines[key].value;
    size_t length = readValueAsPlatform(value, file.lines[key].valueLength, LIMIT_BUFFER);
    if (length == 0)
        return DEFAULT_HISTORY_LIMIT;
    wchar_t text[LIMIT_BUFFER];
    wmemcpy(text, value, length);
    text[length] = L'\0';
    // The first character is the viewer's type prefix, never part of the number.
    return parseSignedDecimal(text + 1);
}

// A line of the History section that holds a key below the limit.
struct HistoryKey {
    int number;
    size_t line;
};

// By number, then in file order.
int compareKeys(const void* left, const void* right)
{
    const HistoryKey* a = static_cast<const HistoryKey*>(left);
    const HistoryKey* b = static_cast<const HistoryKey*>(right);
    if (a->number != b->number)
        return a->number < b->number ? -1 : 1;
    return (a->line > b->line) - (a->line < b->line);
}

// The lines of the first History section whose names are numerals as %d
// writes them, below the limit, by number and then in file order. The cost
// follows the file, not the limit, which a damaged file may set to two
// thousand million.
struct HistoryKeys {
    HistoryKeys(const SettingsFile& file, int limit) : keys(new HistoryKey[file.lineCount + 1])
    {
        size_t history = findSectionLine(file, HISTORY_SECTION);
        for (size_t i = history + 1; limit > 0 && i < file.lineCount &&
                                     file.lines[i].kind != SettingsLineKind::Section; i++) {
            const SettingsLine& line = file.lines[i];
            int number;
            if (line.kind == SettingsLineKind::Key && parseKeyNumber(line.name, line.nameLength, limit, number))
                keys[count++] = HistoryKey{number, i};
        }
        qsort(keys.get(), count, sizeof(HistoryKey), compareKeys);
    }
    std::unique_ptr<HistoryKey[]> keys;
    size_t count = 0;
};

// The length of a key's value as the platform reads it into a buffer of
// capacity characters (0: no value); value moves past an opening quote.
size_t valueOf(const SettingsLine& line, const wchar_t*& value, size_t capacity)
{
    value = line.value;
    return value != nullptr ? readValueAsPlatform(value, line.valueLength, capacity) : 0;
}

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

    // The first header named name that is not removed; npos if none.
    size_t first(const StringStorage& name, const bool* removed) const
    {
        std::unique_ptr<wchar_t[]> folded(allocateWideArray(name.getLength() + 1));
        size_t length = name.getLength();
        wmemcpy(folded.get(), name.getString(), length + 1);
        foldCase(folded.get(), length);
        size_t low = 0, high = count;
        while (low < high) {
            size_t middle = low + (high - low) / 2;
            if (compareNames(headers[middle].name, headers[middle].length, folded.get(), length) < 0)
                low = middle + 1;
            else
                high = middle;
        }
        for (; low < count && compareNames(headers[low].name, headers[low].length, folded.get(), length) == 0;
             low++) {
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

// Whether a list line shows this entry text: the whole text, or its first
// characters where the list cut it.
bool isListedAs(const wchar_t* entryText, size_t length, const wchar_t* line)
{
    size_t shown = length < LISTED_TEXT ? length : LISTED_TEXT;
    return wcslen(line) == shown && wmemcmp(entryText, line, shown) == 0;
}

// Deletes every entry below the limit whose text equals onlyText (every entry
// when it is null), each with its entry section: the same keys and sections
// as deleting them one by one through the platform, which deletes the first
// line of a key in the first History section and the first section of a
// name. The line of key listedKey, when it still shows as listedLine, gives
// onlyText its whole text. The file is read once and replaced once, all other
// bytes kept; when it cannot be read or replaced, nothing changes.
bool deleteEntries(const wchar_t* settingsPath, StringStorage* onlyText, int listedKey, const wchar_t* listedLine)
{
    HeldSettingsFile held;
    if (!holdSettingsFile(settingsPath, held))
        return false;
    const SettingsFile& file = held.content;
    HistoryKeys keys(file, limitOf(file));
    if (keys.count == 0)
        return false;
    SectionIndex sections(file);
    std::unique_ptr<bool[]> removed(new bool[file.lineCount + 1]());
    StringStorage sectionName;

    if (onlyText != nullptr) {
        for (size_t k = 0; k < keys.count; k++) {
            if (keys.keys[k].number != listedKey)
                continue;
            const wchar_t* value;
            size_t length = valueOf(file.lines[keys.keys[k].line], value, DELETE_BUFFER);
            if (length != 0 && isListedAs(value + 1, length - 1, listedLine)) {
                std::unique_ptr<wchar_t[]> text(allocateWideArray(length));
                wmemcpy(text.get(), value + 1, length - 1);
                text[length - 1] = L'\0';
                onlyText->setString(text.get());
            }
            break;
        }
    }

    bool changed = false;
    for (size_t k = 0; k < keys.count;) {
        // Each line of one number in turn, as the platform would read it next,
        // until one is empty or holds another text.
        size_t next = k;
        while (next < keys.count && keys.keys[next].number == keys.keys[k].number)
            next++;
        for (; k < next; k++) {
            const wchar_t* value;
            size_t length = valueOf(file.lines[keys.keys[k].line], value, DELETE_BUFFER);
            if (length == 0)
                break;
            std::unique_ptr<wchar_t[]> text(allocateWideArray(length));
            wmemcpy(text.get(), value + 1, length - 1);
            text[length - 1] = L'\0';
            if (onlyText != nullptr && !onlyText->isEqualTo(text.get()))
                break;
            removed[keys.keys[k].line] = true;
            sectionName.setString(HISTORY_SECTION);
            sectionName.appendString(L"\\");
            sectionName.appendString(text.get());
            size_t entrySection = sections.first(sectionName, removed.get());
            if (entrySection != SectionIndex::NO_LINE)
                removeSection(file, entrySection, removed.get());
            changed = true;
        }
        k = next;
    }
    if (!changed)
        return false;
    std::unique_ptr<char[]> kept(new char[file.byteCount + 1]);
    size_t keptCount = copyKeptLines(file, removed.get(), kept.get());
    if (!replaceHeldFile(held, kept.get(), keptCount))
        return false;
    // Tells the platform to read the file afresh rather than from its cache;
    // its reader takes no longer path, and Wine's copies one unchecked.
    if (wcslen(settingsPath) < MAX_PATH)
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, settingsPath);
    return true;
}

// A file whose lines do not fit in memory is one that cannot be read.
bool deleteEntriesIfHeld(const wchar_t* settingsPath, StringStorage* onlyText, int listedKey, const wchar_t* listedLine)
{
    try {
        return deleteEntries(settingsPath, onlyText, listedKey, listedLine);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void listHistoryOf(const wchar_t* settingsPath, HistoryList& list)
{
    list = HistoryList();
    SettingsFile file;
    if (!readSettingsFile(settingsPath, file))
        return;
    HistoryKeys keys(file, limitOf(file));
    list.entries.reset(new HistoryEntry[keys.count + 1]);
    // No entry is longer than the file's text.
    list.text.reset(allocateWideArray(file.byteCount + keys.count + 1));
    wchar_t* at = list.text.get();
    for (size_t k = 0; k < keys.count; k++) {
        // Of the lines that share a number, the platform reads the first.
        if (k > 0 && keys.keys[k].number == keys.keys[k - 1].number)
            continue;
        const wchar_t* value;
        size_t length = valueOf(file.lines[keys.keys[k].line], value, LIST_BUFFER);
        if (length == 0)
            continue;
        wmemcpy(at, value + 1, length - 1);
        at[length - 1] = L'\0';
        list.entries[list.count++] = HistoryEntry{keys.keys[k].number, at};
        at += length;
    }
}

} // namespace

int parseSignedDecimal(const wchar_t* text)
{
    while (isAsciiSpace(*text))
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
    try {
        SettingsFile file;
        if (!readSettingsFile(settingsPath.getString(), file))
            return DEFAULT_HISTORY_LIMIT;
        return limitOf(file);
    } catch (const std::bad_alloc&) {
        return DEFAULT_HISTORY_LIMIT;
    }
}

void listHistory(const wchar_t* settingsPath, HistoryList& list)
{
    // A rewrite killed after its rename left the old file, with the hosts
    // just deleted, beside the new one; once the list is empty, no Delete
    // record or Clear the list would remove it.
    removeInterruptedRewrite(settingsPath);
    // A file whose lines do not fit in memory lists nothing.
    try {
        listHistoryOf(settingsPath, list);
    } catch (const std::bad_alloc&) {
        list = HistoryList();
    }
}

bool deleteHistoryEntry(const wchar_t* settingsPath, const wchar_t* line, int key)
{
    StringStorage entryText;
    entryText.setString(line);
    return deleteEntriesIfHeld(settingsPath, &entryText, key, line);
}

bool clearHistoryEntries(const wchar_t* settingsPath)
{
    return deleteEntriesIfHeld(settingsPath, nullptr, -1, nullptr);
}
