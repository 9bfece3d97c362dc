#pragma once

// What the tests expect of the program, in one place: the close message, the
// command lines it starts, their switches, and the section names of the
// viewer's settings file.
#include <string>
#include <vector>

namespace expected {

// The registered message by which another program closes the launcher.
const wchar_t CLOSE_MESSAGE[] = L"korvane.closemsg";

const wchar_t LISTEN_SWITCH[] = L"-listen";
const wchar_t SETTINGS_FILE_SWITCH[] = L"-settingsfile";
const wchar_t WINDOW_CLASS_SWITCH[] = L"-wndclass";
const wchar_t SERVER_SETTINGS_SWITCH[] = L"-runwithinifile";

const wchar_t SETTINGS_SECTION[] = L"80000001\\Software\\Durmont\\DODivarav\\Settings";
const wchar_t HISTORY_SECTION[] = L"80000001\\Software\\Durmont\\DODivarav\\History";

// A section's header line as a settings file holds it.
inline std::wstring sectionHeader(const std::wstring& section)
{
    return L"[" + section + L"]\r\n";
}

// Paths for a launcher in folder (no trailing backslash).
inline std::wstring viewerPath(const std::wstring& folder) { return folder + L"\\Data\\dodivarav.exe"; }
inline std::wstring serverPath(const std::wstring& folder) { return folder + L"\\Data\\WinZRX.exe"; }
inline std::wstring viewerSettingsPath(const std::wstring& folder) { return folder + L"\\Data\\viewer_settings.ini"; }
inline std::wstring serverSettingsPath(const std::wstring& folder) { return folder + L"\\Data\\server_settings.ini"; }
inline std::wstring viewerClass(const std::wstring& identity) { return L"viewer" + identity; }

// The lines the launcher builds, on a drive with that identity (serial).
inline std::wstring viewerLine(const std::wstring& folder, const std::wstring& host, const std::wstring& identity)
{
    return L"\"" + viewerPath(folder) + L"\" " + host + L" " + SETTINGS_FILE_SWITCH + L" \"" +
           viewerSettingsPath(folder) + L"\" " + WINDOW_CLASS_SWITCH + L" " + viewerClass(identity);
}
inline std::wstring serverLine(const std::wstring& folder)
{
    return L"\"" + serverPath(folder) + L"\" " + SERVER_SETTINGS_SWITCH + L" \"" + serverSettingsPath(folder) + L"\"";
}

// What a started program receives: the line and one trailing blank.
inline std::wstring received(const std::wstring& line)
{
    return line + L" ";
}

// The viewer's six arguments, as the platform's parser splits its line.
inline std::vector<std::wstring> viewerArguments(const std::wstring& folder, const std::wstring& host,
                                                 const std::wstring& identity)
{
    return {viewerPath(folder), host, SETTINGS_FILE_SWITCH, viewerSettingsPath(folder), WINDOW_CLASS_SWITCH,
            viewerClass(identity)};
}

} // namespace expected
