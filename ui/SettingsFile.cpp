#include "SettingsFile.h"

#include <windows.h>

#include <cwchar>
#include <memory>

namespace {

// The platform reads a file with a UTF-8 or UTF-16 byte order mark in that
// encoding, and any other file in the running computer's ANSI code page.
enum class Encoding { Ansi, Utf8, Utf16Le, Utf16Be };

// A file larger than this is not rewritten: no viewer writes one.
const LONGLONG LARGEST_FILE = 256 * 1024 * 1024;

Encoding detectEncoding(const std::vector<char>& bytes, size_t& markBytes)
{
    auto starts = [&](const char* mark, size_t length) {
        return bytes.size() >= length && memcmp(bytes.data(), mark, length) == 0;
    };
    markBytes = 0;
    if (starts("\xEF\xBB\xBF", 3)) {
        markBytes = 3;
        return Encoding::Utf8;
    }
    if (starts("\xFF\xFE", 2)) {
        markBytes = 2;
        return Encoding::Utf16Le;
    }
    if (starts("\xFE\xFF", 2)) {
        markBytes = 2;
        return Encoding::Utf16Be;
    }
    return Encoding::Ansi;
}

// Blanks as the profile reader trims them around lines, names and values;
// CR and the DOS end-of-file mark count too.
bool isProfileBlank(wchar_t c)
{
    return c == L' ' || (c >= L'\t' && c <= L'\r') || c == 0x1A;
}

// Up to the first zero character, where the platform's names and values end.
std::wstring untilZero(const wchar_t* text, size_t length)
{
    const wchar_t* zero = wmemchr(text, L'\0', length);
    return std::wstring(text, zero != nullptr ? static_cast<size_t>(zero - text) : length);
}

// Parses one line's text as the profile reader does: blanks trimmed; "[" and
// a last "]" make a section header; otherwise a key, with a value after the
// first "=" when there is one.
void parseLine(const wchar_t* text, size_t length, SettingsLine& line)
{
    const wchar_t* begin = text;
    const wchar_t* end = text + length;
    while (begin < end && isProfileBlank(*begin))
        begin++;
    while (end > begin && isProfileBlank(end[-1]))
        end--;
    line.kind = SettingsLineKind::Other;
    line.hasValue = false;
    if (begin == end)
        return;
    if (*begin == L'[') {
        const wchar_t* close = end;
        while (close > begin && close[-1] != L']')
            close--;
        if (close > begin + 1) {
            line.kind = SettingsLineKind::Section;
            line.name = untilZero(begin + 1, static_cast<size_t>(close - 1 - (begin + 1)));
            return;
        }
    }
    line.kind = SettingsLineKind::Key;
    const wchar_t* equals = wmemchr(begin, L'=', static_cast<size_t>(end - begin));
    const wchar_t* nameEnd = equals != nullptr ? equals : end;
    while (nameEnd > begin && isProfileBlank(nameEnd[-1]))
        nameEnd--;
    line.name = untilZero(begin, static_cast<size_t>(nameEnd - begin));
    if (equals != nullptr) {
        const wchar_t* value = equals + 1;
        while (value < end && isProfileBlank(*value))
            value++;
        line.hasValue = true;
        line.value = untilZero(value, static_cast<size_t>(end - value));
    }
}

// Splits 8-bit text at its line feeds and reads each line in codePage.
void splitBytes(SettingsFile& file, UINT codePage)
{
    std::wstring text;
    const char* bytes = file.bytes.data();
    for (size_t start = file.textStart; start < file.bytes.size();) {
        const void* feed = memchr(bytes + start, '\n', file.bytes.size() - start);
        size_t end = feed != nullptr ? static_cast<size_t>(static_cast<const char*>(feed) - bytes) + 1
                                     : file.bytes.size();
        int length = static_cast<int>(end - start);
        int units = MultiByteToWideChar(codePage, 0, bytes + start, length, nullptr, 0);
        text.resize(units > 0 ? static_cast<size_t>(units) : 0);
        if (units > 0)
            MultiByteToWideChar(codePage, 0, bytes + start, length, &text[0], units);
        SettingsLine line{start, end, SettingsLineKind::Other, {}, false, {}};
        parseLine(text.data(), text.size(), line);
        file.lines.push_back(std::move(line));
        start = end;
    }
}

// Splits UTF-16 text at its line feeds; a last odd byte belongs to no unit.
void splitUnits(SettingsFile& file, bool bigEndian)
{
    size_t count = (file.bytes.size() - file.textStart) / 2;
    std::wstring text(count, L'\0');
    for (size_t i = 0; i < count; i++) {
        auto low = static_cast<unsigned char>(file.bytes[file.textStart + 2 * i + (bigEndian ? 1 : 0)]);
        auto high = static_cast<unsigned char>(file.bytes[file.textStart + 2 * i + (bigEndian ? 0 : 1)]);
        text[i] = static_cast<wchar_t>(low | high << 8);
    }
    for (size_t start = 0; start < count;) {
        const wchar_t* feed = wmemchr(text.data() + start, L'\n', count - start);
        size_t end = feed != nullptr ? static_cast<size_t>(feed - text.data()) + 1 : count;
        // The last line takes a trailing odd byte with it.
        size_t endByte = end == count ? file.bytes.size() : file.textStart + 2 * end;
        SettingsLine line{file.textStart + 2 * start, endByte, SettingsLineKind::Other, {}, false, {}};
        parseLine(text.data() + start, end - start, line);
        file.lines.push_back(std::move(line));
        start = end;
    }
}

// Closes a file handle when it goes out of scope.
struct FileHandle {
    explicit FileHandle(HANDLE handle) : handle(handle) {}
    ~FileHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE handle;
};

bool readWhole(HANDLE handle, std::vector<char>& bytes)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size) || size.QuadPart > LARGEST_FILE)
        return false;
    bytes.resize(static_cast<size_t>(size.QuadPart));
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD read = 0;
        if (!ReadFile(handle, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &read, nullptr) ||
            read == 0)
            return false;
        done += read;
    }
    return true;
}

bool writeWhole(HANDLE handle, const char* bytes, size_t count)
{
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0)
            return false;
        bytes += written;
        count -= written;
    }
    return true;
}

// The folder part of path, without its last backslash.
std::wstring folderOf(const wchar_t* path)
{
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash != nullptr ? std::wstring(path, static_cast<size_t>(slash - path)) : std::wstring(L".");
}

} // namespace

bool readSettingsFile(const wchar_t* path, SettingsFile& file)
{
    file = SettingsFile();
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    // Opened for writing too, though nothing is written through it: a file
    // that could not be written could not be replaced either. Others may
    // only read it meanwhile.
    FileHandle handle(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle.handle == INVALID_HANDLE_VALUE || !readWhole(handle.handle, file.bytes)) {
        file = SettingsFile();
        return false;
    }
    switch (detectEncoding(file.bytes, file.textStart)) {
    case Encoding::Ansi:
        splitBytes(file, CP_ACP);
        break;
    case Encoding::Utf8:
        splitBytes(file, CP_UTF8);
        break;
    case Encoding::Utf16Le:
        splitUnits(file, false);
        break;
    case Encoding::Utf16Be:
        splitUnits(file, true);
        break;
    }
    return true;
}

bool replaceWithoutLines(const wchar_t* path, const SettingsFile& file, const std::vector<bool>& removed)
{
    std::vector<char> kept(file.bytes.begin(), file.bytes.begin() + static_cast<std::ptrdiff_t>(file.textStart));
    for (size_t i = 0; i < file.lines.size(); i++) {
        if (!removed[i])
            kept.insert(kept.end(), file.bytes.begin() + static_cast<std::ptrdiff_t>(file.lines[i].start),
                        file.bytes.begin() + static_cast<std::ptrdiff_t>(file.lines[i].end));
    }

    // A new file with a name of its own in the same folder, so that putting it
    // in place is a rename on the same volume.
    wchar_t newPath[MAX_PATH];
    if (GetTempFileNameW(folderOf(path).c_str(), L"kvp", 0, newPath) == 0)
        return false;
    DWORD attributes = GetFileAttributesW(path);
    bool written;
    {
        FileHandle handle(CreateFileW(newPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
        // On the drive before it takes the old file's place: a pulled drive
        // then leaves one whole file or the other.
        written = handle.handle != INVALID_HANDLE_VALUE && writeWhole(handle.handle, kept.data(), kept.size()) &&
                  FlushFileBuffers(handle.handle);
    }
    if (written && attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(newPath, attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!written || !MoveFileExW(newPath, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileW(newPath);
        return false;
    }
    return true;
}

std::wstring readValueAsPlatform(const std::wstring& value, size_t capacity)
{
    bool quoted = value.size() >= 2 && (value[0] == L'"' || value[0] == L'\'') && value.back() == value[0];
    std::wstring text = value.substr(quoted ? 1 : 0, capacity - 1);
    // The closing quote goes only when it was copied.
    if (quoted && capacity >= value.size() - 1 && !text.empty())
        text.pop_back();
    return text;
}

std::wstring foldName(const std::wstring& name)
{
    std::wstring folded = name;
    if (!folded.empty())
        CharLowerBuffW(&folded[0], static_cast<DWORD>(folded.size()));
    return folded;
}
