#pragma once

// Drives the real launcher from outside, as a user would: finds its windows,
// types, clicks and presses keys, and reads back what a user would see.
#include "TestSupport.h"

#include <functional>

// Waits until condition holds, polling; false on time-out.
bool waitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// Waits until the thread that owns edit has handled every message posted to
// its windows so far: posts a change of the edit's text limit behind them and
// waits until it shows. False when the edit is gone or the time is up.
bool postedMessagesHandled(HWND edit, DWORD timeoutMs = 10000);

// A visible top-level window of process pid with the given title and class
// (null: any), or null.
HWND findProcessWindow(DWORD pid, const wchar_t* title, const wchar_t* className = nullptr);

std::wstring windowText(HWND window);
std::wstring windowClass(HWND window);

// Clicks at the edit's end, posts one WM_CHAR per character, then waits until the edit shows them.
void typeInto(HWND edit, const std::wstring& text);

void pressKey(HWND window, UINT virtualKey);
void clickButton(HWND button);
// Clicks (or double-clicks) list line index at its rectangle, with the
// pointer there as a user's would be.
void clickListLine(HWND list, int index, bool doubleClick = false);
// The same below the last line, in the blank part of the list.
void clickBelowListLines(HWND list, bool doubleClick = false);

std::vector<std::wstring> listLines(HWND list);

struct LauncherProcess {
    HANDLE process = nullptr;
    DWORD pid = 0;
    DWORD thread = 0;
};

// Starts folder\KorvanePortable.exe with extra arguments.
LauncherProcess startLauncher(const std::wstring& folder, const std::wstring& arguments = L"");

// Waits for the process to end; returns its exit code, or kills it and
// returns 0xDEAD on time-out. Closes the handle.
DWORD waitForEnd(LauncherProcess& launcher, DWORD timeoutMs = 10000);

// The focused control of the launcher's thread.
HWND focusOf(const LauncherProcess& launcher);

// Posts the registered close message to the loader window of the given class.
bool postCloseMessage(const std::wstring& loaderClass);
