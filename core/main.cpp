#include "ChildLauncher.h"
#include "FrontPanelState.h"
#include "LoaderWindow.h"

#include "../drive/DrivePaths.h"
#include "../res/resource.h"
#include "../ui/FrontPanel.h"

#include <windows.h>

#include <cstdlib>

namespace {

const wchar_t LOADER_CLASS_WORD[] = L"loader";

// The launcher's own folder is a drive that anyone may write to: DLLs that the
// system loads later on its behalf come from the system folder only, never
// from beside the launcher or from the current directory.
void restrictDllSearch()
{
    SetDllDirectoryW(L"");
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    // Present from Windows 8 on (and on 7 with its security update): looked up,
    // so that older systems still start the launcher.
    auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefaultDllDirectories != nullptr)
        setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

void runChosenProgram(INT_PTR result, const FrontPanelState& state)
{
    // The results of the launches are not looked at: a program that cannot be
    // started simply ends the run, silently.
    switch (result) {
    case IDC_CONNECT:
        startViewer(state.hostText);
        break;
    case IDC_START_LISTENING_VIEWER:
        startListeningViewer();
        break;
    case IDC_START_SERVER:
        startServer();
        break;
    default:
        // Exit, cancel, OK or a panel that could not be shown: nothing to start.
        break;
    }
}

} // namespace

// The launcher takes no arguments: the command line and show state are ignored.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    restrictDllSearch();

    StringStorage loaderClassName;
    getWindowClassName(LOADER_CLASS_WORD, loaderClassName);

    // Lives until the process ends, as the window that refers to it does.
    createLoaderWindow(new LoaderWindow(), instance, loaderClassName.getString());

    FrontPanelState state;
    INT_PTR result = DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_FRONT_PANEL), nullptr, frontPanelProc,
                                     reinterpret_cast<LPARAM>(&state));
    // Still open means the close message ended the panel's loop; once it was
    // handled the panel took no command. A command taken before it launches.
    if (!state.panelOpen)
        runChosenProgram(result, state);
    return 0;
}

#if defined(__GNUC__)
// The launcher catches nothing: an allocation failure ends the run. GCC's
// default handler would first describe the exception, which pulls its symbol
// demangler into the executable; ending at once keeps the program small.
namespace __gnu_cxx {
void __verbose_terminate_handler()
{
    abort();
}
} // namespace __gnu_cxx
#endif
