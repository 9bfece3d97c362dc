// Test helper: copied to a folder on a test drive, it reports what the drive
// functions derive there, or runs one launch action.
//
//   drive_probe paths OUTFILE   one line each: module path, identity, data folder,
//                               viewer, server, viewer settings, server settings,
//                               loader class, viewer class, connect line (host from
//                               KORVANE_PROBE_HOST), listening line, server line
//   drive_probe viewer|listen|server
//                               runs the action; exit code 11 started, 10 not
//   drive_probe viewer-repeat N connect to a host of N letters h
#include "Expected.h"

#include "../core/ChildLauncher.h"
#include "../drive/DrivePaths.h"

#include <windows.h>

#include <cwchar>
#include <cwctype>
#include <string>

namespace {

std::wstring hostFromEnvironment()
{
    static wchar_t host[32768];
    DWORD length = GetEnvironmentVariableW(L"KORVANE_PROBE_HOST", host, 32768);
    return std::wstring(host, length < 32768 ? length : 0);
}

void addLine(std::wstring& report, const StringStorage& s)
{
    report += s.getString() != nullptr ? s.getString() : L"<no text>";
    report += L'\n';
}

int writePaths(const wchar_t* outFile)
{
    std::wstring report;
    StringStorage s;
    if (!getModulePath(s))
        s.setString(L"<failed>");
    addLine(report, s);
    getDriveIdentity(s);
    addLine(report, s);
    getDataFolder(s);
    addLine(report, s);
    getViewerPath(s);
    addLine(report, s);
    getServerPath(s);
    addLine(report, s);
    getViewerSettingsPath(s);
    addLine(report, s);
    getServerSettingsPath(s);
    addLine(report, s);
    getWindowClassName(L"loader", s);
    addLine(report, s);
    getWindowClassName(L"viewer", s);
    addLine(report, s);
    buildViewerCommandLine(s, hostFromEnvironment().c_str());
    addLine(report, s);
    buildViewerCommandLine(s, expected::LISTEN_SWITCH);
    addLine(report, s);
    buildServerCommandLine(s);
    addLine(report, s);

    HANDLE file = CreateFileW(outFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 2;
    DWORD written = 0;
    WriteFile(file, report.data(), static_cast<DWORD>(report.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
    return 0;
}

int launched(bool started)
{
    return started ? 11 : 10;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2)
        return 2;
    std::wstring mode = argv[1];
    if (mode == L"paths" && argc >= 3)
        return writePaths(argv[2]);
    if (mode == L"viewer")
        return launched(startViewer(hostFromEnvironment().c_str()));
    if (mode == L"listen")
        return launched(startListeningViewer());
    if (mode == L"server")
        return launched(startServer());
    if (mode == L"viewer-repeat" && argc >= 3) {
        std::wstring host(static_cast<size_t>(_wtoi(argv[2])), L'h');
        return launched(startViewer(host.c_str()));
    }
    return 2;
}
