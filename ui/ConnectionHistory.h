#pragma once

#include "HistoryStore.h"

#include "../core/FrontPanelState.h"

// The front panel's recent-connections list: the store's entries shown in
// list box 1013, with the first one in the host edit.

// Rebuilds the list from the file, puts the first entry into the host edit
// and keeps the selection index where it still exists, and the scrolling.
// Each line keeps its key number as item data.
void fillHistoryList(FrontPanelState& state);

// Deletes the entry that the selected line stands for, with every other key
// that holds its text.
void deleteSelectedEntry(FrontPanelState& state);

// Deletes every entry below the limit, with its section.
void clearHistory();

// Shows the entries in list and the first one in edit, drawing the list once
// at the end rather than after each line; keeps the selection index where it
// still exists, and the first visible line.
void showHistory(HWND list, HWND edit, const HistoryList& history);
