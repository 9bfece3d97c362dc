#pragma once

#include <cstddef>
#include <memory>

// The viewer's settings file as its own bytes, split into the lines that the
// platform's profile reader sees. Lines are taken out by rewriting the file
// once, beside the old one, and putting it in the old one's place: every byte
// of the lines that stay is kept as it was (encoding, another code page's
// bytes, comments, spacing, line ends), and an interruption leaves either
// the old file or the new one.

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

// Reads the whole file and splits it into lines. False, with nothing read,
// when the file is missing, cannot be read whole, or could not be replaced
// afterwards: it is read-only, or another program holds it against writing.
// (A file that another program holds open at all is not replaced either: see
// replaceWithoutLines.)
bool readSettingsFile(const wchar_t* path, SettingsFile& file);

// Writes the file without the lines marked in removed (one flag per line)
// beside the old file, then puts it in the old file's place. False, with the
// old file as it was, when anything fails, also when another program holds
// the old file open: it cannot be replaced then.
bool replaceWithoutLines(const wchar_t* path, const SettingsFile& file, const bool* removed);

// The length of a key's value as the platform's reading call returns it into
// a buffer of capacity characters: without surrounding quotes (value then
// moves past the opening one), cut to capacity - 1.
size_t readValueAsPlatform(const wchar_t*& value, size_t length, size_t capacity);

// Folds letter case in place: the platform matches section and key names
// regardless of the case of ASCII letters, so two names match when their
// folded forms are equal.
void foldCase(wchar_t* text, size_t length);
