#include "TestSupport.h"

#include "Expected.h"

#include <shellapi.h>

std::wstring launcherUnderTest()
{
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetEnvironmentVariableW(L"KORVANE_LAUNCHER", path, MAX_PATH * 4);
    if (length > 0 && length < MAX_PATH * 4)
        return std::wstring(path, length);
    // The harness (which maps the drives) always names it: a lost name must
    // not quietly test the test build's launcher instead.
    if (testDrivesMapped())
        ADD_FAILURE() << "the tests' properties name no launcher under test (KORVANE_LAUNCHER)";
    return ownFolder() + L"\\KorvanePortable.exe";
}

bool testDrivesMapped()
{
    DWORD serial = 0;
    std::wstring root = std::wstring(TEST_DRIVE) + L"\\";
    wchar_t text[16] = {};
    if (GetVolumeInformationW(root.c_str(), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        _snwprintf(text, 15, L"%.8x", static_cast<unsigned>(serial));
    bool mapped = std::wstring(text) == TEST_DRIVE_SERIAL;
    // Under ctest (whose properties name the launcher) a skip would hide a broken harness.
    if (!mapped && GetEnvironmentVariableW(L"KORVANE_LAUNCHER", nullptr, 0) != 0)
        ADD_FAILURE() << "the tests' Wine fixture maps the test drives, but E: is not one of them";
    return mapped;
}

void makeFolders(const std::wstring& path)
{
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    CreateDirectoryW(path.c_str(), nullptr);
}

void removeTree(const std::wstring& path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                removeTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(path.c_str());
}

bool copyFileTo(const std::wstring& from, const std::wstring& to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

bool fileExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string readBytes(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return std::string();
    std::string bytes;
    char chunk[8192];
    DWORD read = 0;
    while (ReadFile(file, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        bytes.append(chunk, read);
    CloseHandle(file);
    return bytes;
}

std::wstring readUtf16File(const std::wstring& path)
{
    std::string bytes = readBytes(path);
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
}

void writeBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << wideToUtf8(path);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

void writeUtf16File(const std::wstring& path, const std::wstring& text)
{
    std::string bytes("\xFF\xFE", 2);
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    writeBytes(path, bytes);
}

std::vector<std::wstring> readLogLines(const std::wstring& path)
{
    std::vector<std::wstring> lines;
    std::wstring text = readUtf16File(path);
    size_t start = 0;
    for (size_t end = text.find(L'\n'); end != std::wstring::npos; end = text.find(L'\n', start)) {
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

ProcessResult runAndWait(const std::wstring& commandLine, DWORD timeoutMs, const wchar_t* applicationName)
{
    ProcessResult result;
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(applicationName, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        return result;
    result.started = true;
    CloseHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(process.hProcess, &result.exitCode);
    } else {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, 5000);
    }
    CloseHandle(process.hProcess);
    return result;
}

::testing::AssertionResult passesAsCopy(const std::wstring& copy, const std::wstring& filter)
{
    std::wstring report = copy.substr(0, 3) + L"copy-report.xml";
    DeleteFileW(report.c_str());
    ProcessResult run = runAndWait(L"\"" + copy + L"\" --gtest_filter=" + filter + L" --gtest_output=xml:" + report);
    std::string xml = readBytes(report);
    DeleteFileW(report.c_str());
    // One test ran, and it passed rather than failed or skipped.
    if (run.finished && run.exitCode == 0 && xml.find("tests=\"1\" failures=\"0\"") != std::string::npos &&
        xml.find("<skipped") == std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wideToUtf8(filter) << " from " << wideToUtf8(copy) << ": exit code "
                                         << run.exitCode << "\n" << xml;
}

std::wstring utf8ToWide(const std::string& text)
{
    int count = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(count, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], count);
    return wide;
}

std::string wideToUtf8(const std::wstring& text)
{
    int count = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(count, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &narrow[0], count, nullptr, nullptr);
    return narrow;
}

void layOutDriveFolder(const std::wstring& folder, const std::wstring& program, const std::wstring& launcherName,
                       bool withData)
{
    // A drive's root is laid out over what it holds; it cannot be removed.
    if (folder.size() > 3)
        removeTree(folder);
    makeFolders(folder);
    ASSERT_TRUE(copyFileTo(program, folder + L"\\" + launcherName)) << wideToUtf8(folder);
    if (!withData)
        return;
    makeFolders(folder + L"\\Data");
    ASSERT_TRUE(copyFileTo(ownFolder() + L"\\standins\\dodivarav.exe", expected::viewerPath(folder)));
    ASSERT_TRUE(copyFileTo(ownFolder() + L"\\standins\\WinZRX.exe", expected::serverPath(folder)));
}
