#pragma once

#include "../drive/StringStorage.h"

#include <cstddef>
#include <memory>

// The recent connections that the viewer records in its own settings file:
// numbered keys of the History section, each with an entry section of its
// own. The store reads the file with its own reader, which reads it as the
// platform's profile calls do, whatever the length of its path, and deletes
// by rewriting the file in one step (settings/AtomicReplace.h).

// A listed entry shows at most this many characters of its text.
const size_t LISTED_TEXT = 254;

struct HistoryEntry {
    int key;
    // The entry text, cut to LISTED_TEXT characters; zero-terminated.
    const wchar_t* text;
};

struct HistoryList {
    std::unique_ptr<wchar_t[]> text;
    std::unique_ptr<HistoryEntry[]> entries;
    size_t count = 0;
};

// HistoryLimit from the Settings section: 32 when missing or empty.
int readHistoryLimit(const StringStorage& settingsPath);

// The entries below the limit, in ascending key order, each key once; none
// when the file cannot be read. Removes what an interrupted rewrite left.
void listHistory(const wchar_t* settingsPath, HistoryList& list);

// Deletes the entry that a list line stands for: every key below the limit
// whose whole text equals that entry's, each with its entry section. The line
// may show its entry cut: key, the key that the line was listed from, gives
// the whole text as long as it still holds what the line shows (-1: none).
// True when the file was rewritten.
bool deleteHistoryEntry(const wchar_t* settingsPath, const wchar_t* line, int key);

// Deletes every entry below the limit, with its section. True when the file
// was rewritten.
bool clearHistoryEntries(const wchar_t* settingsPath);

// Converts text as a signed decimal number: leading white space, one sign,
// digits up to the first non-digit; saturates at the 32-bit range.
int parseSignedDecimal(const wchar_t* text);
