// Times the recent-connections operations on generated settings files in the
// Data folder beside this program. Prints figures; asserts nothing.
#include "../res/resource.h"
#include "../ui/ConnectionHistory.h"
#include "../ui/FrontPanel.h"

#include "../tests/Expected.h"
#include "BenchSupport.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

void writeSettings(const std::wstring& path, const wchar_t* limit, int entries)
{
    using expected::HISTORY_SECTION;
    std::wstring text = L"\xFEFF" + expected::sectionHeader(expected::SETTINGS_SECTION) + L"HistoryLimit=";
    text += limit;
    text += L"\r\n" + expected::sectionHeader(HISTORY_SECTION);
    for (int i = 0; i < entries; i++)
        text += std::to_wstring(i) + L"=xhost" + std::to_wstring(i) + L".example::5901\r\n";
    for (int i = 0; i < entries; i++)
        text += expected::sectionHeader(std::wstring(HISTORY_SECTION) + L"\\host" + std::to_wstring(i) +
                                        L".example::5901") + L"Port=5901\r\n";
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written, nullptr);
    CloseHandle(file);
}

} // namespace

// With the argument "quick", the case of 10,000 entries is left out: the
// platform rewrites the whole file for each deleted entry, so clearing them
// all takes minutes.
int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::string(argv[1]) == "quick";
    std::wstring data = ownFolder() + L"\\Data";
    CreateDirectoryW(data.c_str(), nullptr);
    std::wstring path = data + L"\\viewer_settings.ini";

    FrontPanelState state;
    HWND panel = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_FRONT_PANEL), nullptr,
                                    frontPanelProc, reinterpret_cast<LPARAM>(&state));
    HWND list = GetDlgItem(panel, IDC_HISTORY_LIST);

    struct Case {
        const wchar_t* limit;
        int entries;
    } cases[] = {{L"d32", 32}, {L"d10000", 10000}, {L"d2147483647", 32}};
    wprintf(L"%-12ls %8ls %10ls %10ls %10ls\n", L"limit", L"entries", L"fill ms", L"delete ms", L"clear ms");
    for (const Case& c : cases) {
        if (quick && c.entries > 1000)
            continue;
        writeSettings(path, c.limit, c.entries);
        double start = nowMs();
        fillHistoryList(state);
        double fill = nowMs() - start;

        SendMessageW(list, LB_SETCURSEL, 0, 0);
        start = nowMs();
        deleteSelectedEntry(state);
        double remove = nowMs() - start;

        start = nowMs();
        clearHistory();
        double clear = nowMs() - start;
        wprintf(L"%-12ls %8d %10.1f %10.1f %10.1f\n", c.limit + 1, c.entries, fill, remove, clear);
    }
    DestroyWindow(panel);
    DeleteFileW(path.c_str());
    return 0;
}
