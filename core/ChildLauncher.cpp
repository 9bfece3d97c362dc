#include "ChildLauncher.h"

#include "../drive/DrivePaths.h"

#include <windows.h>

#include <cwchar>
#include <memory>

namespace {

const wchar_t LISTEN_ARGUMENT[] = L"-listen";
const wchar_t VIEWER_CLASS_WORD[] = L"viewer";
// Process creation takes at most this many units, terminator included.
const size_t MAX_COMMAND_LINE = 32767;

// Without the launcher's own path every program location would be a guess
// (\Data on the current drive), so nothing is started then.
bool isModulePathKnown()
{
    StringStorage modulePath;
    return getModulePath(modulePath);
}

bool startViewerWith(const wchar_t* hostArgument)
{
    if (!isModulePathKnown())
        return false;
    StringStorage commandLine;
    buildViewerCommandLine(commandLine, hostArgument);
    return runProcessAndWait(commandLine.getString());
}

} // namespace

void buildViewerCommandLine(StringStorage& out, const wchar_t* hostArgument)
{
    StringStorage viewerPath;
    StringStorage settingsPath;
    StringStorage className;
    getViewerPath(viewerPath);
    getViewerSettingsPath(settingsPath);
    getWindowClassName(VIEWER_CLASS_WORD, className);
    // The program path is quoted so that a folder with blanks cannot make the
    // platform run a planted program from a shorter prefix of the path.
    out.format(L"\"%s\" %s %s \"%s\" %s %s", viewerPath.getString(), hostArgument,
               L"-settingsfile", settingsPath.getString(), L"-wndclass", className.getString());
}

void buildServerCommandLine(StringStorage& out)
{
    StringStorage serverPath;
    StringStorage settingsPath;
    getServerPath(serverPath);
    getServerSettingsPath(settingsPath);
    out.format(L"\"%s\" %s \"%s\"", serverPath.getString(), L"-runwithinifile", settingsPath.getString());
}

bool runProcessAndWait(const wchar_t* commandLine)
{
    // The line, one blank and the zero, in a writable buffer of exactly that
    // size: CreateProcessW may write into its command line.
    size_t count = wcslen(commandLine) + 2;
    if (count > MAX_COMMAND_LINE)
        return false;
    std::unique_ptr<wchar_t[]> buffer(allocateWideArray(count));
    formatToArray(buffer.get(), count, L"%s %s", commandLine, L"");
    buffer[count - 1] = L'\0';

    STARTUPINFOW startupInfo = {};
    startupInfo.cb = sizeof(startupInfo);
    PROCESS_INFORMATION processInfo = {};
    if (!CreateProcessW(nullptr, buffer.get(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startupInfo, &processInfo))
        return false;
    CloseHandle(processInfo.hThread);
    WaitForSingleObject(processInfo.hProcess, INFINITE);
    CloseHandle(processInfo.hProcess);
    return true;
}

bool startViewer(const wchar_t* hostText)
{
    return startViewerWith(hostText);
}

bool startListeningViewer()
{
    return startViewerWith(LISTEN_ARGUMENT);
}

bool startServer()
{
    if (!isModulePathKnown())
        return false;
    StringStorage commandLine;
    buildServerCommandLine(commandLine);
    return runProcessAndWait(commandLine.getString());
}
