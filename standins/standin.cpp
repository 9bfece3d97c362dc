// Stand-in for the viewer or the server on a demo or test drive. It records
// the command line it was given and, outside tests, shows it in a small box.
//
// Environment, used by tests:
//   KORVANE_STANDIN_LOG      append the exact command line (UTF-16LE, one line each)
//   KORVANE_STANDIN_STARTED  name of an event to set once started
//   KORVANE_STANDIN_WAIT     name of an event to wait for (at most a minute) before exiting
//   KORVANE_STANDIN_MODULES  append the full path of the program that actually ran
#include <windows.h>

#include <cwchar>
#include <string>

#ifndef STANDIN_NAME
#define STANDIN_NAME L"stand-in"
#endif

namespace {

std::wstring readEnvironment(const wchar_t* name)
{
    wchar_t value[1024];
    DWORD length = GetEnvironmentVariableW(name, value, 1024);
    if (length == 0 || length >= 1024)
        return std::wstring();
    return std::wstring(value, length);
}

void appendToLog(const std::wstring& logPath, const wchar_t* commandLine)
{
    HANDLE file = CreateFileW(logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::wstring line = commandLine;
    line += L'\n';
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
}

// The quoted text after a switch such as -settingsfile, or an empty text.
std::wstring findQuotedAfter(const std::wstring& line, const wchar_t* option)
{
    size_t at = line.find(option);
    if (at == std::wstring::npos)
        return std::wstring();
    size_t open = line.find(L'"', at);
    size_t close = open == std::wstring::npos ? open : line.find(L'"', open + 1);
    if (close == std::wstring::npos)
        return std::wstring();
    return line.substr(open + 1, close - open - 1);
}

void showCommandLine(const wchar_t* commandLine)
{
    std::wstring line = commandLine;
    std::wstring settings = findQuotedAfter(line, L"-settingsfile");
    if (settings.empty())
        settings = findQuotedAfter(line, L"-runwithinifile");
    std::wstring text = L"This stand-in was started by the launcher.\n\nCommand line:\n";
    text += line;
    text += L"\n\nSettings file:\n";
    text += settings.empty() ? L"(none)" : settings;
    MessageBoxW(nullptr, text.c_str(), STANDIN_NAME L" stand-in", MB_OK | MB_ICONINFORMATION);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int)
{
    const wchar_t* commandLine = GetCommandLineW();
    std::wstring logPath = readEnvironment(L"KORVANE_STANDIN_LOG");
    std::wstring started = readEnvironment(L"KORVANE_STANDIN_STARTED");
    std::wstring wait = readEnvironment(L"KORVANE_STANDIN_WAIT");
    std::wstring modules = readEnvironment(L"KORVANE_STANDIN_MODULES");

    if (!started.empty()) {
        HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, started.c_str());
        if (event != nullptr) {
            SetEvent(event);
            CloseHandle(event);
        }
    }
    if (!logPath.empty())
        appendToLog(logPath, commandLine);
    if (!modules.empty()) {
        wchar_t self[MAX_PATH * 4];
        DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH * 4);
        self[length < MAX_PATH * 4 ? length : MAX_PATH * 4 - 1] = L'\0';
        appendToLog(modules, self);
    }
    if (!wait.empty()) {
        HANDLE event = CreateEventW(nullptr, TRUE, FALSE, wait.c_str());
        if (event != nullptr) {
            WaitForSingleObject(event, 60000);
            CloseHandle(event);
        }
    }
    if (logPath.empty() && started.empty())
        showCommandLine(commandLine);
    return 0;
}
