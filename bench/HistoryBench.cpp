// Times the recent connections on generated settings files in the Data folder
// beside this program, as the user waits for them: the front panel shown as
// the launcher shows it, run by its own message loop, and driven from a
// second thread as a user would drive it: from the click to the refilled
// list, drawn. Beside it, the store alone, without a window. Prints figures;
// asserts nothing.
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
// 8-bit text, which makes 100,000 entries a file of about 7 MB.
void writeSettings(const std::wstring& path, int entries, bool shortNames)
{
    using expected::HISTORY_SECTION;
    std::wstring text = expected::sectionHeader(expected::SETTINGS_SECTION) + L"HistoryLimit=d" +
                        std::to_wstring(entries < 32 ? 32 : entries) + L"\r\n" +
                        expected::sectionHeader(HISTORY_SECTION);
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

const DWORD GIVE_UP_MS = 600000;

// Polls until condition holds; false after GIVE_UP_MS.
template <typename Condition>
bool waitUntil(Condition condition)
{
    for (double start = nowMs(); !condition(); Sleep(1)) {
        if (nowMs() - start > GIVE_UP_MS)
            return false;
    }
    return true;
}

HWND findShown(const wchar_t* title)
{
    HWND window = FindWindowW(L"#32770", title);
    return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

// Draws whatever the panel has left to draw, through its own thread.
void drawn(HWND panel)
{
    RedrawWindow(panel, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
}

// One run of the shown panel: when it was asked for, and what the driver measured.
struct PanelRun {
    int entries;
    double asked;
    double up = -1, remove = -1, clear = -1;
};

// The user's side: waits for the panel, clicks the first line, Delete
// record, Clear the list and Yes, and closes the panel.
DWORD WINAPI drivePanel(void* parameter)
{
    PanelRun& run = *static_cast<PanelRun*>(parameter);
    HWND panel = nullptr;
    if (!waitUntil([&] { return (panel = findShown(L"Korvane Portable Edition")) != nullptr; }))
        return 1;
    HWND list = GetDlgItem(panel, IDC_HISTORY_LIST);
    drawn(panel);
    run.up = nowMs() - run.asked;

    RECT line;
    SendMessageW(list, LB_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&line));
    PostMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(line.left + 2, line.top + 2));
    PostMessageW(list, WM_LBUTTONUP, 0, MAKELPARAM(line.left + 2, line.top + 2));
    HWND remove = GetDlgItem(panel, IDC_DELETE_RECORD);
    if (!waitUntil([&] { return IsWindowEnabled(remove) != FALSE; }))
        return 1;
    double start = nowMs();
    PostMessageW(remove, BM_CLICK, 0, 0);
    // The list answers once the panel's thread is done with the click.
    if (!waitUntil([&] { return SendMessageW(list, LB_GETCOUNT, 0, 0) == run.entries - 1; }))
        return 1;
    drawn(panel);
    run.remove = nowMs() - start;

    PostMessageW(GetDlgItem(panel, IDC_CLEAR_LIST), BM_CLICK, 0, 0);
    HWND box = nullptr;
    if (!waitUntil([&] { return (box = findShown(L"Data Removal Confirmation")) != nullptr; }))
        return 1;
    start = nowMs();
    PostMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
    if (!waitUntil([&] { return SendMessageW(list, LB_GETCOUNT, 0, 0) == 0; }))
        return 1;
    drawn(panel);
    run.clear = nowMs() - start;
    PostMessageW(panel, WM_COMMAND, IDCANCEL, 0);
    return 0;
}

void runPanel(PanelRun& run)
{
    FrontPanelState state;
    HANDLE driver = CreateThread(nullptr, 0, drivePanel, &run, 0, nullptr);
    run.asked = nowMs();
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_FRONT_PANEL), nullptr, frontPanelProc,
                    reinterpret_cast<LPARAM>(&state));
    WaitForSingleObject(driver, INFINITE);
    CloseHandle(driver);
}

} // namespace

// With the argument "quick", the files of 10,000 and more entries are left out.
int main(int argc, char** argv)
{
    bool quick = argc > 1 && std::string(argv[1]) == "quick";
    std::wstring data = ownFolder() + L"\\Data";
    CreateDirectoryW(data.c_str(), nullptr);
    std::wstring path = expected::viewerSettingsPath(ownFolder());

    struct Case {
        int entries;
        bool shortNames;
    } cases[] = {{32, false}, {3000, false}, {10000, false}, {100000, true}};
    wprintf(L"%8ls %8ls | %-35ls | %-35ls\n", L"", L"", L"shown panel, ms, from the click", L"store alone, ms");
    wprintf(L"%8ls %8ls | %11ls %11ls %11ls | %11ls %11ls %11ls\n", L"entries", L"file KB", L"panel up", L"delete",
            L"clear", L"list", L"delete", L"clear");
    for (const Case& c : cases) {
        if (quick && c.entries >= 10000)
            continue;
        writeSettings(path, c.entries, c.shortNames);
        WIN32_FILE_ATTRIBUTE_DATA file = {};
        GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &file);
        PanelRun run{c.entries, 0};
        runPanel(run);

        writeSettings(path, c.entries, c.shortNames);
        double start = nowMs();
        HistoryList history;
        listHistory(path.c_str(), history);
        double list = nowMs() - start;
        start = nowMs();
        deleteHistoryEntry(path.c_str(), history.entries[0].text, history.entries[0].key);
        double remove = nowMs() - start;
        start = nowMs();
        clearHistoryEntries(path.c_str());
        double clear = nowMs() - start;
        wprintf(L"%8d %8lu | %11.1f %11.1f %11.1f | %11.1f %11.1f %11.1f\n", c.entries, file.nFileSizeLow / 1024,
                run.up, run.remove, run.clear, list, remove, clear);
    }
    DeleteFileW(path.c_str());
    return 0;
}
