#pragma once

#include <cstddef>
#include <memory>

// The bytes of a settings file split into the lines that the platform's
// profile reader sees, with each line's section or key name and value as the
// platform reads them. Every byte stays where it was: a line can be left out
// without touching the others (encoding, another code page's bytes, comments,
// spacing, line ends).

enum class SettingsLineKind { Other, Section, Key };

struct SettingsLine {
    // Where the line lies in the file, in bytes: from its first byte up to
    // and with its line feed.
    size_t start;
    size_t end;
    SettingsLineKind kind;
    // A section's name, between "[" and the last "]", or a key's name, blanks
    // trimmed. Both end at a zero character, as the platform reads them.
    const wchar_t* name;
    size_t nameLength;
    // The text after a key's first "=", blanks trimmed; null without "=".
    const wchar_t* value;
    size_t valueLength;
};

struct SettingsFile {
    std::unique_ptr<char[]> bytes;
    size_t byteCount = 0;
    // Bytes of the byte order mark, which no line includes.
    size_t textStart = 0;
    // The lines' text as the platform reads it; names and values point here.
    std::unique_ptr<wchar_t[]> text;
    std::unique_ptr<SettingsLine[]> lines;
    size_t lineCount = 0;
};

// Splits file.bytes into lines: UTF-8 or UTF-16 after their byte order mark,
// any other file in the running computer's ANSI code page. False, with no
// lines, for a file of more lines than the launcher can hold.
bool splitSettingsLines(SettingsFile& file);

// A file of more lines than this is not read: their records would not fit in
// a 32-bit launcher's memory.
const size_t LARGEST_LINE_COUNT = 4 * 1024 * 1024;

// Copies the file's bytes without the lines marked in removed (one flag per
// line) into kept, which holds byteCount bytes; returns how many it copied.
size_t copyKeptLines(const SettingsFile& file, const bool* removed, char* kept);

// The first section named name (letter case folded as the platform folds
// it), from line from on; lineCount when there is none.
size_t findSectionLine(const SettingsFile& file, const wchar_t* name, size_t from = 0);

// The first key named name in the section whose header is line section;
// lineCount when there is none.
size_t findKeyLine(const SettingsFile& file, size_t section, const wchar_t* name);

// The length of a key's value as the platform's reading call returns it into
// a buffer of capacity characters: without surrounding quotes (value then
// moves past the opening one), cut to capacity - 1.
size_t readValueAsPlatform(const wchar_t*& value, size_t length, size_t capacity);

// Folds letter case in place: the platform matches section and key names
// regardless of the case of ASCII letters, so two names match when their
// folded forms are equal.
void foldCase(wchar_t* text, size_t length);

// Whether two names match as the platform matches them.
bool namesMatch(const wchar_t* a, size_t aLength, const wchar_t* b, size_t bLength);
