// Stand-in for a running PortableApps.com Platform, for the installer check.
// Placed as X:\...\PortableApps.com\PortableAppsPlatform.exe, it carries the
// Platform's product and company names, waits (at most a minute) for the
// refresh message that the Platform registers with its own path, and writes
// received.txt beside itself: the message's name, then what Data\NewApp.ini
// held when it came. It writes ready.txt once it listens.
#include <windows.h>

#include <string>

namespace {

UINT refreshMessage;
std::wstring folder;

void writeText(const std::wstring& name, const std::wstring& text)
{
    HANDLE file = CreateFileW((folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == refreshMessage) {
        wchar_t appId[256];
        GetPrivateProfileStringW(L"NewApp", L"AppID", L"", appId, 256, (folder + L"Data\\NewApp.ini").c_str());
        writeText(L"received.txt", std::wstring(L"refresh\r\nAppID=") + appId + L"\r\n");
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return 1;
    folder.assign(path, length);
    folder.erase(folder.rfind(L'\\') + 1);
    refreshMessage = RegisterWindowMessageW((std::wstring(L"PortableApps.comPlatformWindowMessageToRefresh") + path).c_str());
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = windowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"PlatformStandIn";
    RegisterClassW(&windowClass);
    // A hidden top-level window: broadcasts reach it, and nothing shows.
    HWND window = CreateWindowExW(0, L"PlatformStandIn", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    SetTimer(window, 1, 60000, nullptr);
    writeText(L"ready.txt", L"ready\r\n");
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER)
            break;
        DispatchMessageW(&message);
    }
    DestroyWindow(window);
    return 0;
}
