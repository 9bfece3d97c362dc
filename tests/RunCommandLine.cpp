// Runs the command line in KORVANE_COMMAND_LINE exactly as written (Wine quotes
// and escapes the arguments that it hands over from Linux), waits for it, and
// exits with its exit code: 255 when it does not start or end within 60 s.
#include <windows.h>

int wmain()
{
    wchar_t line[4096];
    DWORD length = GetEnvironmentVariableW(L"KORVANE_COMMAND_LINE", line, 4096);
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION process;
    if (length == 0 || length >= 4096 ||
        !CreateProcessW(nullptr, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return 255;
    CloseHandle(process.hThread);
    DWORD code = 255;
    if (WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 255);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
