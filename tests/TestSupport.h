#pragma once

#include "OwnFolder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Drives that the tests' Wine fixture maps into its prefix, with known serials
// (tests/CMakeLists.txt names them).
const wchar_t TEST_DRIVE[] = L"E:";
const wchar_t TEST_DRIVE_SERIAL[] = L"1a2b3c4d";
const wchar_t OTHER_TEST_DRIVE[] = L"F:";
const wchar_t OTHER_TEST_DRIVE_SERIAL[] = L"00c0ffee";

// The launcher that the tests start: the file named by KORVANE_LAUNCHER, which
// the tests' properties set (the release launcher in the 32-bit build), else
// the one built beside the test program.
std::wstring launcherUnderTest();

// True when the test drives of the harness are mapped (the tests run through
// ctest, whose fixture maps them); tests that need them skip otherwise.
bool testDrivesMapped();

void makeFolders(const std::wstring& path);
void removeTree(const std::wstring& path);
bool copyFileTo(const std::wstring& from, const std::wstring& to);
bool fileExists(const std::wstring& path);

std::string readBytes(const std::wstring& path);
std::wstring readUtf16File(const std::wstring& path);
void writeBytes(const std::wstring& path, const std::string& bytes);
// Writes text as UTF-16LE with a byte order mark.
void writeUtf16File(const std::wstring& path, const std::wstring& text);

// Lines of the stand-ins' log, one launch each (without the line feed).
std::vector<std::wstring> readLogLines(const std::wstring& path);

struct ProcessResult {
    bool started = false;
    bool finished = false;
    DWORD exitCode = 0;
};

// Starts commandLine, waits up to timeoutMs, kills it on expiry.
ProcessResult runAndWait(const std::wstring& commandLine, DWORD timeoutMs = 20000,
                         const wchar_t* applicationName = nullptr);

// Runs copy, a copy of the running test program, with the one test named by
// filter, e.g. "ModulePath.IsThe*": it must run and pass. So a test sees what
// the program's code derives in another place.
::testing::AssertionResult passesAsCopy(const std::wstring& copy, const std::wstring& filter);

std::wstring utf8ToWide(const std::string& text);
std::string wideToUtf8(const std::wstring& text);

// Lays out a drive folder: the given program as the launcher, and (unless
// withoutData) a Data folder with the two stand-ins.
void layOutDriveFolder(const std::wstring& folder, const std::wstring& program, const std::wstring& launcherName,
                       bool withData = true);
