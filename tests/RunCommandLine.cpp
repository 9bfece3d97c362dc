// Runs the command line in KORVANE_COMMAND_LINE exactly as written (Wine quotes
// and escapes the arguments that it hands over from Linux), waits for it, and
// exits with its exit code: 255 when it does not start or end within 60 s.
//
// For the installer check's cuts and pairs, also:
//   KORVANE_KILL_AFTER_MS  ends the program that many milliseconds after its
//                          start, as a power cut would (exit code 254 then);
//                          with KORVANE_KILL_FROM, counted from the moment the
//                          file or folder it names exists
//   KORVANE_SECOND_COMMAND_LINE, KORVANE_PAUSE_AT  holds the first program
//                          once the file or folder KORVANE_PAUSE_AT exists, runs
//                          the second to its end, lets the first go on, and
//                          prints "first N second M"
#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

typedef LONG(WINAPI* ProcessCall)(HANDLE);

bool readEnvironment(const wchar_t* name, wchar_t* value, DWORD capacity)
{
    DWORD length = GetEnvironmentVariableW(name, value, capacity);
    return length != 0 && length < capacity;
}

// Starts a writable copy of the line; 0 when it does not start.
HANDLE start(const wchar_t* line)
{
    static wchar_t copy[4096];
    wcscpy(copy, line);
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process;
    if (!CreateProcessW(nullptr, copy, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// Waits for the process and closes it; its exit code, or `expired` when it
// did not end within the time.
DWORD finish(HANDLE process, DWORD milliseconds, DWORD expired)
{
    DWORD code = expired;
    if (WaitForSingleObject(process, milliseconds) == WAIT_OBJECT_0)
        GetExitCodeProcess(process, &code);
    else
        TerminateProcess(process, expired);
    CloseHandle(process);
    return code;
}

} // namespace

int wmain()
{
    static wchar_t line[4096], second[4096], pauseAt[1024], killAfter[32];
    if (!readEnvironment(L"KORVANE_COMMAND_LINE", line, 4096))
        return 255;
    HANDLE process = start(line);
    if (!process)
        return 255;
    if (readEnvironment(L"KORVANE_KILL_AFTER_MS", killAfter, 32)) {
        if (readEnvironment(L"KORVANE_KILL_FROM", pauseAt, 1024))
            while (GetFileAttributesW(pauseAt) == INVALID_FILE_ATTRIBUTES && WaitForSingleObject(process, 1) == WAIT_TIMEOUT) {
            }
        return static_cast<int>(finish(process, wcstoul(killAfter, nullptr, 10), 254));
    }
    if (readEnvironment(L"KORVANE_SECOND_COMMAND_LINE", second, 4096) &&
        readEnvironment(L"KORVANE_PAUSE_AT", pauseAt, 1024)) {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        ProcessCall suspend = reinterpret_cast<ProcessCall>(GetProcAddress(ntdll, "NtSuspendProcess"));
        ProcessCall resume = reinterpret_cast<ProcessCall>(GetProcAddress(ntdll, "NtResumeProcess"));
        for (int i = 0; i < 60000 && GetFileAttributesW(pauseAt) == INVALID_FILE_ATTRIBUTES; i++)
            Sleep(1);
        if (!suspend || !resume || suspend(process) != 0)
            return 255;
        HANDLE other = start(second);
        DWORD secondCode = other ? finish(other, 60000, 255) : 255;
        resume(process);
        std::printf("first %lu second %lu\n", finish(process, 60000, 255), secondCode);
        return 0;
    }
    return static_cast<int>(finish(process, 60000, 255));
}
