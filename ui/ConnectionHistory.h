#pragma once

#include "../core/FrontPanelState.h"
#include "../drive/StringStorage.h"

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

// Converts text as a signed decimal number: leading white space, one sign,
// digits up to the first non-digit; saturates at the 32-bit range.
int parseSignedDecimal(const wchar_t* text);
