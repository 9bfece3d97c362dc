#pragma once

#include <windows.h>

#include <string>

// Full path of the running program; shared by the tests and the benchmarks.
inline std::wstring ownPath()
{
    wchar_t path[MAX_PATH * 4];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
    return std::wstring(path, length);
}

// Folder of the running program, without a trailing backslash.
inline std::wstring ownFolder()
{
    std::wstring path = ownPath();
    return path.substr(0, path.find_last_of(L'\\'));
}
