// Start-up benchmark: process start to front panel ready for input, for the
// launcher and for a bare program showing the same template, run alternately;
// then Connect to the viewer's process start. Prints figures; asserts nothing.
//
//   startup_bench DRIVE-FOLDER [rounds]   (the folder is laid out as a drive)
#include "BenchSupport.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Search {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK matchPanel(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (pid == search->pid && IsWindowVisible(window) && wcscmp(title, L"Korvane Portable Edition") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND waitForPanel(DWORD pid)
{
    for (int i = 0; i < 20000; i++) {
        Search search = {pid, nullptr};
        EnumWindows(matchPanel, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr)
            return search.found;
        Sleep(0);
    }
    return nullptr;
}

struct Started {
    PROCESS_INFORMATION process = {};
    HWND panel = nullptr;
    double readyMs = -1;
};

// Starts program, waits until its panel is shown and its thread waits for input.
Started startAndWaitForPanel(const std::wstring& program)
{
    Started started;
    std::wstring line = L"\"" + program + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    double begin = nowMs();
    if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started.process))
        return started;
    WaitForInputIdle(started.process.hProcess, 10000);
    started.panel = waitForPanel(started.process.dwProcessId);
    if (started.panel != nullptr)
        started.readyMs = nowMs() - begin;
    return started;
}

void finish(Started& started)
{
    if (started.panel != nullptr)
        PostMessageW(started.panel, WM_COMMAND, IDCANCEL, 0);
    if (WaitForSingleObject(started.process.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(started.process.hProcess, 1);
    CloseHandle(started.process.hThread);
    CloseHandle(started.process.hProcess);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n == 0 ? 0 : (n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2);
}

void copyProgram(const std::wstring& from, const std::wstring& to)
{
    if (!CopyFileW(from.c_str(), to.c_str(), FALSE))
        fwprintf(stderr, L"cannot copy %ls\n", from.c_str());
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        fwprintf(stderr, L"usage: startup_bench DRIVE-FOLDER [rounds]\n");
        return 2;
    }
    std::wstring drive = argv[1];
    int rounds = argc > 2 ? _wtoi(argv[2]) : 15;
    std::wstring bin = ownFolder();
    CreateDirectoryW(drive.c_str(), nullptr);
    CreateDirectoryW((drive + L"\\Data").c_str(), nullptr);
    std::wstring launcher = drive + L"\\KorvanePortable.exe";
    copyProgram(bin + L"\\..\\bin\\KorvanePortable.exe", launcher);
    copyProgram(bin + L"\\..\\bin\\standins\\dodivarav.exe", drive + L"\\Data\\dodivarav.exe");
    std::wstring bare = bin + L"\\bare_panel.exe";

    WIN32_FILE_ATTRIBUTE_DATA attributes = {};
    GetFileAttributesExW(launcher.c_str(), GetFileExInfoStandard, &attributes);
    wprintf(L"launcher size: %lu bytes (%.1f KiB)\n", attributes.nFileSizeLow, attributes.nFileSizeLow / 1024.0);

    // One warm-up run of each, then alternate.
    for (const std::wstring* program : {&launcher, &bare}) {
        Started warm = startAndWaitForPanel(*program);
        finish(warm);
    }
    std::vector<double> launcherMs, bareMs;
    for (int i = 0; i < rounds; i++) {
        for (int which = 0; which < 2; which++) {
            bool first = (i + which) % 2 == 0;
            Started run = startAndWaitForPanel(first ? launcher : bare);
            (first ? launcherMs : bareMs).push_back(run.readyMs);
            finish(run);
        }
    }
    double launcherMedian = median(launcherMs);
    double bareMedian = median(bareMs);
    wprintf(L"start to panel ready, median of %d: launcher %.1f ms, bare dialog %.1f ms, ratio %.3f\n", rounds,
            launcherMedian, bareMedian, bareMedian > 0 ? launcherMedian / bareMedian : 0.0);

    // Connect to the viewer's process start, through the stand-in's start event.
    HANDLE viewerStarted = CreateEventW(nullptr, FALSE, FALSE, L"korvane-bench-viewer-started");
    SetEnvironmentVariableW(L"KORVANE_STANDIN_STARTED", L"korvane-bench-viewer-started");
    std::vector<double> connectMs;
    for (int i = 0; i < rounds; i++) {
        Started run = startAndWaitForPanel(launcher);
        if (run.panel == nullptr)
            break;
        HWND edit = GetDlgItem(run.panel, 1014);
        SendMessageW(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(L"benchhost::5901"));
        double begin = nowMs();
        PostMessageW(GetDlgItem(run.panel, 1009), BM_CLICK, 0, 0);
        if (WaitForSingleObject(viewerStarted, 10000) == WAIT_OBJECT_0)
            connectMs.push_back(nowMs() - begin);
        run.panel = nullptr;
        finish(run);
    }
    wprintf(L"Connect to viewer process start, median of %zu: %.1f ms\n", connectMs.size(), median(connectMs));
    CloseHandle(viewerStarted);
    return 0;
}
