#include "DrivePaths.h"

#include <windows.h>

#include <memory>

namespace {

const wchar_t DATA_FOLDER_NAME[] = L"Data";
const wchar_t VIEWER_FILE_NAME[] = L"dodivarav.exe";
const wchar_t SERVER_FILE_NAME[] = L"WinZRX.exe";
const wchar_t VIEWER_WORD[] = L"viewer";
const wchar_t SERVER_WORD[] = L"server";
const wchar_t SETTINGS_SUFFIX[] = L"settings.ini";

const DWORD FIRST_CAPACITY = 260;
const DWORD CAPACITY_STEP = 128;
// Windows paths end at 32,767 characters; past that, growing cannot help.
const DWORD LAST_CAPACITY = 32768 + CAPACITY_STEP;

void getFileInDataFolder(const wchar_t* name, StringStorage& out)
{
    StringStorage dataFolder;
    getDataFolder(dataFolder);
    out.format(L"%s\\%s", dataFolder.getString(), name);
}

void getSettingsFileInDataFolder(const wchar_t* word, StringStorage& out)
{
    StringStorage dataFolder;
    getDataFolder(dataFolder);
    out.format(L"%s\\%s_%s", dataFolder.getString(), word, SETTINGS_SUFFIX);
}

} // namespace

bool getModulePath(StringStorage& out)
{
    for (DWORD capacity = FIRST_CAPACITY; capacity <= LAST_CAPACITY; capacity += CAPACITY_STEP) {
        std::unique_ptr<wchar_t[]> array(allocateWideArray(capacity + 1));
        // The call need not clear a stale last-error code on success; clear it
        // here so that an old ERROR_INSUFFICIENT_BUFFER cannot make us grow.
        SetLastError(ERROR_SUCCESS);
        DWORD copied = GetModuleFileNameW(nullptr, array.get(), capacity);
        if (copied == 0)
            return false;
        // A cut path fills the whole capacity; some versions neither terminate
        // it nor set the error, so the length decides as well as the code.
        if (copied >= capacity || GetLastError() == ERROR_INSUFFICIENT_BUFFER)
            continue;
        array[copied] = L'\0';
        out.setString(array.get());
        return true;
    }
    return false;
}

bool isModulePathKnown()
{
    StringStorage modulePath;
    return getModulePath(modulePath);
}

void getVolumeIdentity(const wchar_t* rootPath, StringStorage& out)
{
    DWORD serial = 0;
    GetVolumeInformationW(rootPath, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0);
    out.format(L"%.8x", static_cast<unsigned int>(serial));
}

void getDriveIdentity(StringStorage& out)
{
    StringStorage root;
    if (getModulePath(root) && root.getLength() > 0) {
        const wchar_t* text = root.getString();
        for (uint32_t i = 0; i < root.getLength(); i++) {
            if (text[i] == L'\\') {
                // Keeps the backslash: E:\Apps\loader.exe becomes E:\.
                root.copyPrefix(static_cast<int32_t>(i), root);
                break;
            }
        }
    }
    getVolumeIdentity(root.getString(), out);
}

void getDataFolder(StringStorage& out)
{
    StringStorage folder;
    if (getModulePath(folder) && folder.getLength() > 0) {
        const wchar_t* text = folder.getString();
        int32_t k = static_cast<int32_t>(folder.getLength()) - 1;
        while (k > 0 && text[k] != L'\\')
            k--;
        // Without the trailing backslash: E:\Apps\loader.exe gives E:\Apps.
        folder.copyPrefix(k - 1 > 0 ? k - 1 : 0, folder);
    }
    // Without a module path the folder part is empty; callers check
    // isModulePathKnown first rather than use the guessed \Data.
    out.format(L"%s\\%s", folder.getString() != nullptr ? folder.getString() : L"", DATA_FOLDER_NAME);
}

void getViewerPath(StringStorage& out)
{
    getFileInDataFolder(VIEWER_FILE_NAME, out);
}

void getServerPath(StringStorage& out)
{
    getFileInDataFolder(SERVER_FILE_NAME, out);
}

void getViewerSettingsPath(StringStorage& out)
{
    getSettingsFileInDataFolder(VIEWER_WORD, out);
}

void getServerSettingsPath(StringStorage& out)
{
    getSettingsFileInDataFolder(SERVER_WORD, out);
}

void getWindowClassName(const wchar_t* prefix, StringStorage& out)
{
    StringStorage identity;
    getDriveIdentity(identity);
    out.format(L"%s%s", prefix, identity.getString());
}
