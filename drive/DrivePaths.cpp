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

void formatDataFolderFile(const wchar_t* dataFolder, const wchar_t* name, StringStorage& out)
{
    out.format(L"%s\\%s", dataFolder, name);
}

void formatSettingsFile(const wchar_t* dataFolder, const wchar_t* word, StringStorage& out)
{
    out.format(L"%s\\%s_%s", dataFolder, word, SETTINGS_SUFFIX);
}

// A file of the launcher's own Data folder, by one of the rules below.
void inOwnDataFolder(void (*fileIn)(const wchar_t* dataFolder, StringStorage& out), StringStorage& out)
{
    StringStorage dataFolder;
    getDataFolder(dataFolder);
    fileIn(dataFolder.getString(), out);
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

void volumeRootOf(const wchar_t* modulePath, StringStorage& out)
{
    out.setString(modulePath);
    const wchar_t* text = out.getString();
    for (uint32_t i = 0; i < out.getLength(); i++) {
        if (text[i] == L'\\') {
            out.copyPrefix(static_cast<int32_t>(i), out);
            return;
        }
    }
}

void dataFolderOf(const wchar_t* modulePath, StringStorage& out)
{
    StringStorage folder;
    folder.setString(modulePath != nullptr ? modulePath : L"");
    if (folder.getLength() > 0) {
        const wchar_t* text = folder.getString();
        int32_t k = static_cast<int32_t>(folder.getLength()) - 1;
        while (k > 0 && text[k] != L'\\')
            k--;
        folder.copyPrefix(k - 1 > 0 ? k - 1 : 0, folder);
    }
    out.format(L"%s\\%s", folder.getString(), DATA_FOLDER_NAME);
}

void viewerPathIn(const wchar_t* dataFolder, StringStorage& out)
{
    formatDataFolderFile(dataFolder, VIEWER_FILE_NAME, out);
}

void serverPathIn(const wchar_t* dataFolder, StringStorage& out)
{
    formatDataFolderFile(dataFolder, SERVER_FILE_NAME, out);
}

void viewerSettingsPathIn(const wchar_t* dataFolder, StringStorage& out)
{
    formatSettingsFile(dataFolder, VIEWER_WORD, out);
}

void serverSettingsPathIn(const wchar_t* dataFolder, StringStorage& out)
{
    formatSettingsFile(dataFolder, SERVER_WORD, out);
}

void windowClassNameOf(const wchar_t* prefix, const wchar_t* identity, StringStorage& out)
{
    out.format(L"%s%s", prefix, identity);
}

void getDriveIdentity(StringStorage& out)
{
    // Without the module path the root is null: the current directory's volume.
    StringStorage modulePath;
    StringStorage root;
    if (getModulePath(modulePath))
        volumeRootOf(modulePath.getString(), root);
    getVolumeIdentity(root.getString(), out);
}

void getDataFolder(StringStorage& out)
{
    // Without a module path the folder part is empty; callers check
    // isModulePathKnown first rather than use the guessed \Data.
    StringStorage modulePath;
    getModulePath(modulePath);
    dataFolderOf(modulePath.getString(), out);
}

void getViewerPath(StringStorage& out)
{
    inOwnDataFolder(viewerPathIn, out);
}

void getServerPath(StringStorage& out)
{
    inOwnDataFolder(serverPathIn, out);
}

void getViewerSettingsPath(StringStorage& out)
{
    inOwnDataFolder(viewerSettingsPathIn, out);
}

void getServerSettingsPath(StringStorage& out)
{
    inOwnDataFolder(serverSettingsPathIn, out);
}

void getWindowClassName(const wchar_t* prefix, StringStorage& out)
{
    StringStorage identity;
    getDriveIdentity(identity);
    windowClassNameOf(prefix, identity.getString(), out);
}
