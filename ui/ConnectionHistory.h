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
// and keeps the selection index where it still exists.
void fillHistoryList(FrontPanelState& state);

// Deletes every entry whose text equals the selected line, with its section.
void deleteSelectedEntry(FrontPanelState& state);

// Deletes every entry below the limit, with its section.
void clearHistory();

// History key numbers in ascending order, each once.
struct HistoryKeys {
    std::unique_ptr<int[]> numbers;
    size_t count = 0;
};

// The History keys that are numerals as %d writes them and below limit, found
// by listing the section's key names once: the cost follows the file, not the
// limit, which a damaged file may set to two thousand million.
HistoryKeys listHistoryKeys(const StringStorage& settingsPath, int limit);

// Converts text as a signed decimal number: leading white space, one sign,
// digits up to the first non-digit; saturates at the 32-bit range.
int parseSignedDecimal(const wchar_t* text);
