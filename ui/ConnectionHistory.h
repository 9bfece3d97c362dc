#pragma once

#include "../core/FrontPanelState.h"
#include "../drive/StringStorage.h"

#include <cstddef>
#include <memory>

// The recent connections that the viewer records in its own settings file:
// numbered keys of the History section, each with an entry section of its own.

// HistoryLimit from the Settings section: 32 when missing or empty.
int readHistoryLimit(const StringStorage& settingsPath);

// Rebuilds the list from the file, puts the first entry into the host edit
// and keeps the selection index where it still exists. Each line keeps its
// key number as item data.
void fillHistoryList(FrontPanelState& state);

// Deletes the entry that the selected line stands for: every key whose full
// text equals that entry's, each with its entry section.
void deleteSelectedEntry(FrontPanelState& state);

// Deletes every entry below the limit, with its section.
void clearHistory();

// A History key and how many lines of the section carry its name (a damaged
// file may repeat a name; the platform reads and deletes the first).
struct HistoryKey {
    int number;
    int lines;
};

// History keys in ascending order, each once.
struct HistoryKeys {
    std::unique_ptr<HistoryKey[]> keys;
    size_t count = 0;
};

// The History keys that are numerals as %d writes them and below limit, found
// by reading the section's lines once: the cost follows the file, not the
// limit, which a damaged file may set to two thousand million.
HistoryKeys listHistoryKeys(const StringStorage& settingsPath, int limit);

// Converts text as a signed decimal number: leading white space, one sign,
// digits up to the first non-digit; saturates at the 32-bit range.
int parseSignedDecimal(const wchar_t* text);
