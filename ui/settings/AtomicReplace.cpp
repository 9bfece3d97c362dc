#include "AtomicReplace.h"

#include <aclapi.h>

#include <cstring>
#include <cwchar>
#include <initializer_list>

const wchar_t TEMPORARY_SUFFIX[] = L".korvane-new";
const wchar_t OLD_SUFFIX[] = L".korvane-old";

namespace {

// A file larger than this is not read: no viewer writes one, and the lines
// of a larger one may not fit in a 32-bit launcher's memory.
const LONGLONG LARGEST_FILE = 64 * 1024 * 1024;

// A kernel function that Windows XP lacks; null there.
template <typename Function> Function kernelFunction(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}
typedef BOOL(WINAPI* SetInformationFunction)(HANDLE, FILE_INFO_BY_HANDLE_CLASS, LPVOID, DWORD);

// Closes a file handle when it goes out of scope.
struct FileHandle {
    explicit FileHandle(HANDLE handle) : handle(handle) {}
    ~FileHandle()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    HANDLE handle;
};

bool readWhole(HANDLE handle, SettingsFile& file)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size) || size.QuadPart > LARGEST_FILE)
        return false;
    file.byteCount = static_cast<size_t>(size.QuadPart);
    file.bytes.reset(new char[file.byteCount + 1]);
    for (size_t done = 0; done < file.byteCount;) {
        DWORD read = 0;
        if (!ReadFile(handle, file.bytes.get() + done, static_cast<DWORD>(file.byteCount - done), &read, nullptr) ||
            read == 0)
            return false;
        done += read;
    }
    return splitSettingsLines(file);
}

bool writeWhole(HANDLE handle, const char* bytes, size_t count)
{
    while (count > 0) {
        DWORD written = 0;
        if (!WriteFile(handle, bytes, static_cast<DWORD>(count), &written, nullptr) || written == 0)
            return false;
        bytes += written;
        count -= written;
    }
    return true;
}

// The path of the file that handle has open, past any symbolic link, in the
// long-path form; false where the platform cannot say (before Windows Vista,
// which has no links to files).
bool getFinalPath(HANDLE handle, StringStorage& out)
{
    typedef DWORD(WINAPI * FinalPathFunction)(HANDLE, LPWSTR, DWORD, DWORD);
    auto finalPath = kernelFunction<FinalPathFunction>("GetFinalPathNameByHandleW");
    if (finalPath == nullptr)
        return false;
    DWORD length = finalPath(handle, nullptr, 0, 0);
    if (length == 0)
        return false;
    std::unique_ptr<wchar_t[]> text(allocateWideArray(length + 1));
    DWORD written = finalPath(handle, text.get(), length + 1, 0);
    if (written == 0 || written > length)
        return false;
    text[written] = L'\0';
    out.setString(text.get());
    return true;
}

// Frees a security descriptor that GetSecurityInfo allocated.
struct Security {
    ~Security() { LocalFree(descriptor); }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
};

bool readSecurity(HANDLE handle, Security& security)
{
    return GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                           &security.owner, nullptr, &security.dacl, nullptr, &security.descriptor) == ERROR_SUCCESS;
}

bool sameSecurity(const Security& a, const Security& b)
{
    // A drive without security (FAT) gives neither an owner nor a list.
    if ((a.owner == nullptr) != (b.owner == nullptr) || (a.owner != nullptr && !EqualSid(a.owner, b.owner)))
        return false;
    if (a.dacl == nullptr || b.dacl == nullptr)
        return a.dacl == b.dacl;
    return a.dacl->AclSize == b.dacl->AclSize && memcmp(a.dacl, b.dacl, a.dacl->AclSize) == 0;
}

// Whether the new file has the old one's owner and access list: the rename
// must not change who may read the settings. A new file takes the folder's
// defaults, as the old one did unless someone changed it since. Under Wine
// the list stands for the Unix mode; a list that is set is kept beside the
// file and no longer follows the mode, so it is compared, never set.
bool hasSameSecurity(HANDLE old, HANDLE fresh)
{
    Security a, b;
    bool readOld = readSecurity(old, a), readFresh = readSecurity(fresh, b);
    return readOld == readFresh && (!readOld || sameSecurity(a, b));
}

// Deletes the file that handle has open, and closes it.
void deleteOpenFile(HANDLE handle, const wchar_t* path)
{
    auto setInformation = kernelFunction<SetInformationFunction>("SetFileInformationByHandle");
    FILE_DISPOSITION_INFO disposition = {TRUE};
    bool deleted = setInformation != nullptr &&
                   setInformation(handle, FileDispositionInfo, &disposition, sizeof(disposition));
    CloseHandle(handle);
    if (!deleted)
        DeleteFileW(path);
}

// Removes a file of one of the launcher's own names that an interrupted
// rewrite left: only a plain file of that very name. A directory, or a link
// that someone put there, is left as it is, and so is whatever it leads to.
void removeOwnFile(const wchar_t* path)
{
    HANDLE handle = CreateFileW(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    BY_HANDLE_FILE_INFORMATION information;
    StringStorage finalPath;
    // Under Wine a Unix link shows no reparse point: its target's path tells it.
    bool own = GetFileInformationByHandle(handle, &information) &&
               (information.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
               (!getFinalPath(handle, finalPath) || _wcsicmp(finalPath.getString(), path) == 0);
    if (own)
        deleteOpenFile(handle, path);
    else
        CloseHandle(handle);
}

void ownPath(const HeldSettingsFile& held, const wchar_t* suffix, StringStorage& out)
{
    out.setString(held.path.getString());
    out.appendString(suffix);
}

// Renames the file that handle has open over target. Through the handle
// where the platform can, so that the file is held from the moment it takes
// the name; otherwise (Windows XP) the handle is closed first and becomes
// INVALID_HANDLE_VALUE.
bool renameOver(HANDLE& handle, const wchar_t* path, const wchar_t* target)
{
    auto setInformation = kernelFunction<SetInformationFunction>("SetFileInformationByHandle");
    if (setInformation == nullptr) {
        CloseHandle(handle);
        handle = INVALID_HANDLE_VALUE;
        return MoveFileExW(path, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    size_t length = wcslen(target);
    size_t size = sizeof(FILE_RENAME_INFO) + length * sizeof(wchar_t);
    std::unique_ptr<char[]> buffer(new char[size]());
    FILE_RENAME_INFO* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.get());
    rename->ReplaceIfExists = TRUE;
    rename->FileNameLength = static_cast<DWORD>(length * sizeof(wchar_t));
    wmemcpy(rename->FileName, target, length + 1);
    return setInformation(handle, FileRenameInfo, rename, static_cast<DWORD>(size)) != FALSE;
}

// Whether the held file still has the content that was read, as seen through
// previous, a second name of the same file.
bool isAsRead(HANDLE previous, const HeldSettingsFile& held)
{
    BY_HANDLE_FILE_INFORMATION information;
    SettingsFile now;
    if (!GetFileInformationByHandle(previous, &information) ||
        information.nFileIndexHigh != held.information.nFileIndexHigh ||
        information.nFileIndexLow != held.information.nFileIndexLow ||
        information.dwVolumeSerialNumber != held.information.dwVolumeSerialNumber)
        return false;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(previous, &size) || static_cast<ULONGLONG>(size.QuadPart) != held.content.byteCount)
        return false;
    std::unique_ptr<char[]> bytes(new char[held.content.byteCount + 1]);
    for (size_t done = 0; done < held.content.byteCount;) {
        DWORD read = 0;
        if (!ReadFile(previous, bytes.get() + done, static_cast<DWORD>(held.content.byteCount - done), &read,
                      nullptr) || read == 0)
            return false;
        done += read;
    }
    return memcmp(bytes.get(), held.content.bytes.get(), held.content.byteCount) == 0;
}

// Whether the file at the held path still has the size and time it had when
// it was read: the check where no second name can be made (FAT drives).
bool looksAsRead(const HeldSettingsFile& held)
{
    WIN32_FILE_ATTRIBUTE_DATA now;
    return GetFileAttributesExW(held.path.getString(), GetFileExInfoStandard, &now) &&
           CompareFileTime(&now.ftLastWriteTime, &held.information.ftLastWriteTime) == 0 &&
           now.nFileSizeHigh == held.information.nFileSizeHigh && now.nFileSizeLow == held.information.nFileSizeLow;
}

} // namespace

HeldSettingsFile::~HeldSettingsFile()
{
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

void toLongPathForm(const wchar_t* path, StringStorage& out)
{
    if (path[0] == L'\\' && path[1] == L'\\' && (path[2] == L'?' || path[2] == L'.') && path[3] == L'\\') {
        // Already a device or long-path form.
        out.setString(path);
    } else if (path[0] != L'\0' && path[1] == L':' && path[2] == L'\\') {
        out.setString(L"\\\\?\\");
        out.appendString(path);
    } else if (path[0] == L'\\' && path[1] == L'\\') {
        out.setString(L"\\\\?\\UNC\\");
        out.appendString(path + 2);
    } else {
        out.setString(path);
    }
}

bool readSettingsFile(const wchar_t* path, SettingsFile& file)
{
    StringStorage longPath;
    toLongPathForm(path, longPath);
    file = SettingsFile();
    FileHandle handle(CreateFileW(longPath.getString(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE |
                                  FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (handle.handle == INVALID_HANDLE_VALUE || !readWhole(handle.handle, file)) {
        file = SettingsFile();
        return false;
    }
    return true;
}

namespace {

// Where the launcher's own files lie: beside the target of a link, which is
// what changes.
void finalPathOf(const StringStorage& longPath, StringStorage& out)
{
    HANDLE named = CreateFileW(longPath.getString(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                               FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (named == INVALID_HANDLE_VALUE || !getFinalPath(named, out))
        out.setString(longPath.getString());
    if (named != INVALID_HANDLE_VALUE)
        CloseHandle(named);
}

// Not while another program holds the file against writing, maybe another
// launcher in the middle of its own rewrite.
void removeLeftovers(const StringStorage& longPath, const StringStorage& finalPath)
{
    HANDLE probe = CreateFileW(longPath.getString(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE |
                               FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe != INVALID_HANDLE_VALUE)
        CloseHandle(probe);
    if (probe == INVALID_HANDLE_VALUE && GetLastError() == ERROR_SHARING_VIOLATION)
        return;
    for (const wchar_t* suffix : {TEMPORARY_SUFFIX, OLD_SUFFIX}) {
        StringStorage own;
        own.setString(finalPath.getString());
        own.appendString(suffix);
        removeOwnFile(own.getString());
    }
}

} // namespace

void removeInterruptedRewrite(const wchar_t* path)
{
    StringStorage longPath, finalPath;
    toLongPathForm(path, longPath);
    finalPathOf(longPath, finalPath);
    removeLeftovers(longPath, finalPath);
}

bool holdSettingsFile(const wchar_t* path, HeldSettingsFile& held)
{
    StringStorage longPath;
    toLongPathForm(path, longPath);
    finalPathOf(longPath, held.path);
    // An interrupted rewrite's files go first, even when this rewrite cannot
    // be made: the file's own second name can no longer be removed once the
    // file is held.
    removeLeftovers(longPath, held.path);
    // Opened for writing too, though nothing is written through it: a file
    // that another program holds against writing is left as it is. Other
    // programs may read it meanwhile, but not write it.
    HANDLE handle = CreateFileW(longPath.getString(), GENERIC_READ | GENERIC_WRITE | READ_CONTROL, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    held.handle = handle;
    if (!GetFileInformationByHandle(handle, &held.information) ||
        (held.information.dwFileAttributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
        held.information.nNumberOfLinks != 1 || !readWhole(handle, held.content)) {
        CloseHandle(handle);
        held.handle = INVALID_HANDLE_VALUE;
        return false;
    }
    return true;
}

bool replaceHeldFile(HeldSettingsFile& held, const char* bytes, size_t count)
{
    StringStorage temporary, old;
    ownPath(held, TEMPORARY_SUFFIX, temporary);
    ownPath(held, OLD_SUFFIX, old);
    // Others may read the new file once it is in place, but nobody writes it
    // until the check below is done.
    HANDLE fresh = CreateFileW(temporary.getString(), GENERIC_WRITE | DELETE | READ_CONTROL, FILE_SHARE_READ,
                               nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (fresh == INVALID_HANDLE_VALUE) {
        CloseHandle(held.handle);
        held.handle = INVALID_HANDLE_VALUE;
        return false;
    }
    // The security is compared while the new file is still empty: the hosts
    // of a file that others may not read never lie in one that they may.
    // On the drive before it takes the old file's place: a pulled drive then
    // leaves one whole file or the other.
    bool written = hasSameSecurity(held.handle, fresh) && writeWhole(fresh, bytes, count) && FlushFileBuffers(fresh);
    // Hidden, system and archive stay as they were.
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
    DWORD attributes = held.information.dwFileAttributes & kept;
    written = written &&
              SetFileAttributesW(temporary.getString(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
    // The platform renames over no file that is open, so the hold ends just
    // before the rename. A second name for the old file, made while it is
    // held, shows afterwards whether another program wrote it in between.
    bool linked = written && CreateHardLinkW(old.getString(), held.path.getString(), nullptr);
    const bool occupied = !linked && (GetLastError() == ERROR_ALREADY_EXISTS ||
                                      GetFileAttributesW(old.getString()) != INVALID_FILE_ATTRIBUTES);
    CloseHandle(held.handle);
    held.handle = INVALID_HANDLE_VALUE;
    // Something at that name (no file of this rewrite's: it left the hold in
    // place) refuses the rewrite. Where the drive makes no second names (FAT;
    // the error differs, under Wine it is access denied), only the size and
    // time are checked.
    written = written && (linked || (!occupied && looksAsRead(held)));
    if (!written || !renameOver(fresh, temporary.getString(), held.path.getString())) {
        if (fresh != INVALID_HANDLE_VALUE)
            deleteOpenFile(fresh, temporary.getString());
        else
            removeOwnFile(temporary.getString());
        if (linked)
            removeOwnFile(old.getString());
        return false;
    }
    bool replaced = true;
    if (linked) {
        HANDLE previous = CreateFileW(old.getString(), GENERIC_READ | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, 0, nullptr);
        if (previous != INVALID_HANDLE_VALUE && !isAsRead(previous, held)) {
            // Another program wrote the old file meanwhile: it goes back, with
            // that write, and nothing is deleted. A program that has the new
            // file open for a moment delays it.
            if (fresh != INVALID_HANDLE_VALUE)
                CloseHandle(fresh);
            fresh = INVALID_HANDLE_VALUE;
            bool back = false;
            for (int attempt = 0; !back && attempt < 100; attempt++) {
                back = renameOver(previous, old.getString(), held.path.getString());
                if (!back)
                    Sleep(1);
            }
            replaced = false;
        }
        if (previous != INVALID_HANDLE_VALUE)
            CloseHandle(previous);
        if (replaced)
            removeOwnFile(old.getString());
    }
    if (fresh != INVALID_HANDLE_VALUE)
        CloseHandle(fresh);
    return replaced;
}
