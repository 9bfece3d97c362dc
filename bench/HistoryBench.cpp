// Times the recent-connections operations on generated settings files in the
// Data folder beside this program: the fill when the panel opens, Delete
// record and Clear the list with their refills. Prints figures; asserts nothing.
#include "../res/resource.h"
#include "../ui/ConnectionHistory.h"
#include "../ui/FrontPanel.h"

#include "../tests/Expected.h"
#include "BenchSupport.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Entries with their entry sections; long names in UTF-16, or short names in
// 8-bit text, which makes 100,000 entries a file of about 6 MB.
void writeSettings(const std::wstring& path, const wchar_t* limit, int entries, bool shortNames)
{
    using expected::HISTORY_SECTION;
    std::wstring text = expected::sectionHeader(expected::SETTINGS_SECTION) + L"HistoryLimit=";
    text += limit;
    text += L"\r\n" + expected::sectionHeader(HISTORY_SECTION);
    auto host = [&](int i) {
        return shortNames ? L"h" + std::to_wstring(i) : L"host" + std::to_wstring(i) + L".example::5901";
    };
    for (int i = 0; i < entries; i++)
        text += std::to_wstring(i) + L"=x" + host(i) + L"\r\n";
    for (int i = 0; i < entries; i++)
        text += expected::sectionHeader(std::wstring(HISTORY_SECTION) + L"\\" + host(i)) + L"Port=5901\r\n";
    std::string bytes;
    if (shortNames) {
        bytes.assign(text.begin(), text.end());
    } else {
        text.insert(text.begin(), L'\xFEFF');
        bytes.assign(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

} // namespace

// With the argument "quick", the files of 10,000 and more entries are left out.
int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::string(argv[1]) == "quick";
    std::wstring data = ownFolder() + L"\\Data";
    CreateDirectoryW(data.c_str(), nullptr);
    std::wstring path = expected::viewerSettingsPath(ownFolder());

    FrontPanelState state;
    HWND panel = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_FRONT_PANEL), nullptr,
                                    frontPanelProc, reinterpret_cast<LPARAM>(&state));
    HWND list = GetDlgItem(panel, IDC_HISTORY_LIST);

    struct Case {
        const wchar_t* limit;
        int entries;
        bool shortNames;
    } cases[] = {{L"d32", 32, false},       {L"d4000", 3000, false},       {L"d10000", 10000, false},
                 {L"d2147483647", 32, false}, {L"d32", 100000, true}};
    wprintf(L"%-12ls %8ls %8ls %10ls %10ls %10ls\n", L"limit", L"entries", L"file KB", L"fill ms", L"delete ms",
            L"clear ms");
    for (const Case& c : cases) {
        if (quick && c.entries >= 10000)
            continue;
        writeSettings(path, c.limit, c.entries, c.shortNames);
        WIN32_FILE_ATTRIBUTE_DATA file = {};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &file);
        double start = nowMs();
        fillHistoryList(state);
        double fill = nowMs() - start;

        SendMessageW(list, LB_SETCURSEL, 0, 0);
        // Each command as the panel runs it: the deletion, then the refill.
        start = nowMs();
        deleteSelectedEntry(state);
        fillHistoryList(state);
        double remove = nowMs() - start;

        start = nowMs();
        clearHistory();
        fillHistoryList(state);
        double clear = nowMs() - start;
        wprintf(L"%-12ls %8d %8lu %10.1f %10.1f %10.1f\n", c.limit + 1, c.entries, file.nFileSizeLow / 1024, fill,
                remove, clear);
    }
    DestroyWindow(panel);
    DeleteFileW(path.c_str());
    return 0;
}
