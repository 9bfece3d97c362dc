#include "ChildLauncher.h"

#include "../drive/DrivePaths.h"

#include <windows.h>

#include <cstring>
#include <cwchar>
#include <memory>

namespace {

const wchar_t LISTEN_ARGUMENT[] = L"-listen";
const wchar_t VIEWER_CLASS_WORD[] = L"viewer";
// Process creation takes at most this many units, terminator included.
const size_t MAX_COMMAND_LINE = 32767;

// Waits for the process while dispatching this thread's messages, so that the
// loader window keeps answering other programs (a broadcast sent to every
// top-level window, the session-end query) while the child runs. A quit
// request met here is dropped: the launcher ends when its child has ended.
void waitDispatchingMessages(HANDLE process)
{
    for (;;) {
        DWORD woken = MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woken == WAIT_FAILED) {
            WaitForSingleObject(process, INFINITE);
            return;
        }
        if (woken != WAIT_OBJECT_0 + 1)
            return;
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT)
                DispatchMessageW(&message);
        }
    }
}

// Without its own path, or from a Data folder that a program reading its
// command line as ANSI text would read as another folder (isExactInAnsi), the
// launcher starts nothing rather than a program pointed elsewhere. Every path
// lies in the Data folder, beside names that convert unchanged.
bool canStartFromDataFolder()
{
    if (!isModulePathKnown())
        return false;
    StringStorage folder;
    getDataFolder(folder);
    return isExactInAnsi(folder.getString());
}

bool startViewerWith(const wchar_t* hostArgument)
{
    if (!canStartFromDataFolder())
        return false;
    StringStorage commandLine;
    buildViewerCommandLine(commandLine, hostArgument);
    return runProcessAndWait(commandLine.getString());
}

} // namespace

bool isExactInAnsi(const wchar_t* text, UINT codePage)
{
    if (codePage == CP_ACP)
        codePage = GetACP();
    // UTF-8 has no best fit, but a lone surrogate becomes U+FFFD, a character
    // that may name another folder.
    if (codePage == CP_UTF8)
        return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1, nullptr, 0, nullptr, nullptr) > 0;
    int bytes = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        return false;
    std::unique_ptr<char[]> image(new char[bytes]);
    std::unique_ptr<char[]> exact(new char[bytes]);
    WideCharToMultiByte(codePage, 0, text, -1, image.get(), bytes, nullptr, nullptr);
    // Other code pages without best fit refuse the flag: nothing to compare.
    if (WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text, -1, exact.get(), bytes, nullptr, nullptr) != bytes)
        return GetLastError() == ERROR_INVALID_FLAGS;
    return memcmp(image.get(), exact.get(), bytes) == 0;
}

void composeViewerCommandLine(StringStorage& out, const wchar_t* dataFolder, const wchar_t* driveIdentity,
                              const wchar_t* hostArgument)
{
    StringStorage viewerPath;
    StringStorage settingsPath;
    StringStorage className;
    viewerPathIn(dataFolder, viewerPath);
    viewerSettingsPathIn(dataFolder, settingsPath);
    windowClassNameOf(VIEWER_CLASS_WORD, driveIdentity, className);
    // The program path is quoted so that a folder with blanks cannot make the
    // platform run a planted program from a shorter prefix of the path.
    out.format(L"\"%s\" %s %s \"%s\" %s %s", viewerPath.getString(), hostArgument,
               L"-settingsfile", settingsPath.getString(), L"-wndclass", className.getString());
}

void composeServerCommandLine(StringStorage& out, const wchar_t* dataFolder)
{
    StringStorage serverPath;
    StringStorage settingsPath;
    serverPathIn(dataFolder, serverPath);
    serverSettingsPathIn(dataFolder, settingsPath);
    out.format(L"\"%s\" %s \"%s\"", serverPath.getString(), L"-runwithinifile", settingsPath.getString());
}

void buildViewerCommandLine(StringStorage& out, const wchar_t* hostArgument)
{
    StringStorage dataFolder;
    StringStorage identity;
    getDataFolder(dataFolder);
    getDriveIdentity(identity);
    composeViewerCommandLine(out, dataFolder.getString(), identity.getString(), hostArgument);
}

void buildServerCommandLine(StringStorage& out)
{
    StringStorage dataFolder;
    getDataFolder(dataFolder);
    composeServerCommandLine(out, dataFolder.getString());
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
    waitDispatchingMessages(processInfo.hProcess);
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
    if (!canStartFromDataFolder())
        return false;
    StringStorage commandLine;
    buildServerCommandLine(commandLine);
    return runProcessAndWait(commandLine.getString());
}
