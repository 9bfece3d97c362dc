#include "SettingsFormat.h"

#include "../../drive/StringStorage.h"

#include <windows.h>

#include <cstring>
#include <cwchar>

namespace {

// The platform reads a file with a UTF-8 or UTF-16 byte order mark in that
// encoding, and any other file in the running computer's ANSI code page.
// This follows Wine, under which it is tested; Windows reads a file with a
// UTF-8 byte order mark in the ANSI code page, mark included.
enum class Encoding { Ansi, Utf8, Utf16Le, Utf16Be };

Encoding detectEncoding(const SettingsFile& file, size_t& markBytes)
{
    auto starts = [&](const char* mark, size_t length) {
        return file.byteCount >= length && memcmp(file.bytes.get(), mark, length) == 0;
    };
    markBytes = 0;
    if (starts("\xEF\xBB\xBF", 3)) {
        markBytes = 3;
        return Encoding::Utf8;
    }
    if (starts("\xFF\xFE", 2) || starts("\xFE\xFF", 2)) {
        markBytes = 2;
        return file.bytes[0] == '\xFF' ? Encoding::Utf16Le : Encoding::Utf16Be;
    }
    return Encoding::Ansi;
}

// Blanks as the profile reader trims them around lines, names and values;
// CR and the DOS end-of-file mark count too.
bool isProfileBlank(wchar_t c)
{
    return isAsciiSpace(c) || c == 0x1A;
}

// Names and values end at their first zero character, as the platform's do.
size_t untilZero(const wchar_t* text, size_t length)
{
    const wchar_t* zero = wmemchr(text, L'\0', length);
    return zero != nullptr ? static_cast<size_t>(zero - text) : length;
}

// Moves begin and end inward past the blanks at either end.
void trimBlanks(const wchar_t*& begin, const wchar_t*& end)
{
    while (begin < end && isProfileBlank(*begin))
        begin++;
    while (end > begin && isProfileBlank(end[-1]))
        end--;
}

// Parses one line's text as the profile reader does: blanks trimmed; "[" and
// a last "]" make a section header (its name trimmed too); otherwise a key,
// with a value after the first "=" when there is one.
void parseLine(const wchar_t* text, size_t length, SettingsLine& line)
{
    const wchar_t* begin = text;
    const wchar_t* end = text + length;
    trimBlanks(begin, end);
    line.kind = SettingsLineKind::Other;
    line.name = begin;
    line.nameLength = 0;
    line.value = nullptr;
    line.valueLength = 0;
    if (begin == end)
        return;
    if (*begin == L'[') {
        const wchar_t* close = end;
        while (close > begin && close[-1] != L']')
            close--;
        if (close > begin + 1) {
            const wchar_t* name = begin + 1;
            const wchar_t* nameEnd = close - 1;
            trimBlanks(name, nameEnd);
            line.kind = SettingsLineKind::Section;
            line.name = name;
            line.nameLength = untilZero(name, static_cast<size_t>(nameEnd - name));
            return;
        }
    }
    line.kind = SettingsLineKind::Key;
    const wchar_t* equals = wmemchr(begin, L'=', static_cast<size_t>(end - begin));
    const wchar_t* nameEnd = equals != nullptr ? equals : end;
    trimBlanks(begin, nameEnd);
    line.nameLength = untilZero(begin, static_cast<size_t>(nameEnd - begin));
    if (equals != nullptr) {
        const wchar_t* value = equals + 1;
        trimBlanks(value, end);
        line.value = value;
        line.valueLength = untilZero(value, static_cast<size_t>(end - value));
    }
}

// Splits the text into lines as the platform's reader does: a line ends at a
// line feed, a carriage return, or both. 8-bit text is read line by line in
// its code page; in a double-byte code page a lead byte takes the byte after
// it, whatever it is, as the platform's reading of the whole file does. The
// decoded text is never longer, in units, than the bytes it comes from.
bool splitLines(SettingsFile& file, Encoding encoding)
{
    const char* bytes = file.bytes.get();
    const bool wide = encoding == Encoding::Utf16Le || encoding == Encoding::Utf16Be;
    const size_t unit = wide ? 2 : 1;
    const size_t units = (file.byteCount - file.textStart) / unit;
    auto unitAt = [&](size_t i) -> wchar_t {
        const unsigned char* at = reinterpret_cast<const unsigned char*>(bytes + file.textStart + unit * i);
        if (!wide)
            return static_cast<wchar_t>(at[0]);
        return static_cast<wchar_t>(encoding == Encoding::Utf16Le ? at[0] | at[1] << 8 : at[1] | at[0] << 8);
    };
    const UINT codePage = encoding == Encoding::Utf8 ? CP_UTF8 : GetACP();
    bool lead[256] = {};
    CPINFO info;
    if (encoding == Encoding::Ansi && GetCPInfo(codePage, &info) && info.MaxCharSize == 2) {
        for (int b = 0x80; b < 256; b++)
            lead[b] = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(b)) != FALSE;
    }
    auto lineEnd = [&](size_t i) {
        while (i < units) {
            wchar_t c = unitAt(i);
            if (c == L'\n')
                return i + 1;
            if (c == L'\r')
                return i + 1 < units && unitAt(i + 1) == L'\n' ? i + 2 : i + 1;
            i += !wide && c < 256 && lead[c] && i + 1 < units ? 2 : 1;
        }
        return units;
    };
    // One record more than the lines, for the end.
    size_t count = 1;
    for (size_t first = 0; first < units && count <= LARGEST_LINE_COUNT + 1; first = lineEnd(first))
        count++;
    if (count > LARGEST_LINE_COUNT + 1)
        return false;
    file.lines.reset(new SettingsLine[count]);
    file.text.reset(allocateWideArray(units + 1));
    size_t used = 0;
    for (size_t first = 0; first < units;) {
        size_t next = lineEnd(first);
        wchar_t* text = file.text.get() + used;
        size_t length = next - first;
        if (wide) {
            for (size_t i = first; i < next; i++)
                text[i - first] = unitAt(i);
        } else {
            int decoded = MultiByteToWideChar(codePage, 0, bytes + file.textStart + first, static_cast<int>(length),
                                              text, static_cast<int>(units + 1 - used));
            length = decoded > 0 ? static_cast<size_t>(decoded) : 0;
        }
        used += length;
        SettingsLine& line = file.lines[file.lineCount++];
        line.start = file.textStart + unit * first;
        // The last line takes a trailing odd byte with it.
        line.end = next == units ? file.byteCount : file.textStart + unit * next;
        parseLine(text, length, line);
        first = next;
    }
    return true;
}

} // namespace

size_t readValueAsPlatform(const wchar_t*& value, size_t length, size_t capacity)
{
    bool quoted = length >= 2 && (value[0] == L'"' || value[0] == L'\'') && value[length - 1] == value[0];
    if (quoted) {
        value++;
        length--;
    }
    size_t copied = length < capacity - 1 ? length : capacity - 1;
    // The closing quote goes only when it was copied.
    if (quoted && capacity >= length)
        copied--;
    return copied;
}

void foldCase(wchar_t* text, size_t length)
{
    // The platform folds the ASCII letters only: "É" and "é" name two
    // sections. So Wine does, under which this is tested; Windows folds other
    // letters too.
    for (size_t i = 0; i < length; i++) {
        if (text[i] >= L'A' && text[i] <= L'Z')
            text[i] = static_cast<wchar_t>(text[i] - L'A' + L'a');
    }
}

bool namesMatch(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength)
{
    if (aLength != bLength)
        return false;
    for (size_t i = 0; i < aLength; i++) {
        wchar_t x = a[i] >= L'A' && a[i] <= L'Z' ? static_cast<wchar_t>(a[i] - L'A' + L'a') : a[i];
        wchar_t y = b[i] >= L'A' && b[i] <= L'Z' ? static_cast<wchar_t>(b[i] - L'A' + L'a') : b[i];
        if (x != y)
            return false;
    }
    return true;
}

bool splitSettingsLines(SettingsFile& file)
{
    file.lineCount = 0;
    return splitLines(file, detectEncoding(file, file.textStart));
}

size_t copyKeptLines(const SettingsFile& file, const bool* removed, char* kept)
{
    memcpy(kept, file.bytes.get(), file.textStart);
    size_t count = file.textStart;
    for (size_t i = 0; i < file.lineCount; i++) {
        if (removed[i])
            continue;
        const SettingsLine& line = file.lines[i];
        memcpy(kept + count, file.bytes.get() + line.start, line.end - line.start);
        count += line.end - line.start;
    }
    return count;
}

size_t findSectionLine(const SettingsFile& file, const wchar_t* name, size_t from)
{
    size_t length = wcslen(name);
    for (size_t i = from; i < file.lineCount; i++) {
        const SettingsLine& line = file.lines[i];
        if (line.kind == SettingsLineKind::Section && namesMatch(line.name, line.nameLength, name, length))
            return i;
    }
    return file.lineCount;
}

size_t findKeyLine(const SettingsFile& file, size_t section, const wchar_t* name)
{
    size_t length = wcslen(name);
    for (size_t i = section + 1; i < file.lineCount && file.lines[i].kind != SettingsLineKind::Section; i++) {
        const SettingsLine& line = file.lines[i];
        if (line.kind == SettingsLineKind::Key && namesMatch(line.name, line.nameLength, name, length))
            return i;
    }
    return file.lineCount;
}
