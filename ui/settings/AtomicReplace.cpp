#include "AtomicReplace.h"

#include <aclapi.h>

#include <cstring>
#include <cwchar>

const wchar_t TEMPORARY_SUFFIX[] = L".korvane-new";

namespace {

// A file larger than this is not rewritten: no viewer writes one.
const LONGLONG LARGEST_FILE = 256 * 1024 * 1024;

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
    splitSettingsLines(file);
    return true;
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
    auto finalPath = reinterpret_cast<FinalPathFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetFinalPathNameByHandleW")));
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

void removeTemporary(const wchar_t* temporary)
{
    SetFileAttributesW(temporary, FILE_ATTRIBUTE_NORMAL);
    DeleteFileW(temporary);
}

void temporaryPath(const HeldSettingsFile& held, StringStorage& out)
{
    out.setString(held.path.getString());
    out.appendString(TEMPORARY_SUFFIX);
}

} // namespace

HeldSettingsFile::~HeldSettingsFile()
{
    if (handle != INVALID_HANDLE_VALUE)
        CloseHandle(handle);
}

void toLongPathForm(const wchar_t* path, StringStorage& out)
{
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) {
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

bool holdSettingsFile(const wchar_t* path, HeldSettingsFile& held)
{
    StringStorage longPath;
    toLongPathForm(path, longPath);
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
    // A link is followed: its target is what changes.
    if (!getFinalPath(handle, held.path))
        held.path.setString(longPath.getString());
    StringStorage temporary;
    temporaryPath(held, temporary);
    removeTemporary(temporary.getString());
    return true;
}

bool replaceHeldFile(HeldSettingsFile& held, const char* bytes, size_t count)
{
    StringStorage temporary;
    temporaryPath(held, temporary);
    bool written;
    {
        FileHandle file(CreateFileW(temporary.getString(), GENERIC_WRITE | READ_CONTROL, 0, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        // On the drive before it takes the old file's place: a pulled drive
        // then leaves one whole file or the other.
        written = file.handle != INVALID_HANDLE_VALUE && writeWhole(file.handle, bytes, count) &&
                  FlushFileBuffers(file.handle) && hasSameSecurity(held.handle, file.handle);
    }
    // Hidden, system and archive stay as they were.
    const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                       FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_OFFLINE | FILE_ATTRIBUTE_TEMPORARY;
    DWORD attributes = held.information.dwFileAttributes & kept;
    if (written)
        written = SetFileAttributesW(temporary.getString(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
    // Held until here: nobody wrote the file since it was read. The platform
    // renames over no file that is open, so the hold ends just before, and
    // the file must still be the one that was read.
    CloseHandle(held.handle);
    held.handle = INVALID_HANDLE_VALUE;
    WIN32_FILE_ATTRIBUTE_DATA now;
    bool unchanged = GetFileAttributesExW(held.path.getString(), GetFileExInfoStandard, &now) &&
                     CompareFileTime(&now.ftLastWriteTime, &held.information.ftLastWriteTime) == 0 &&
                     now.nFileSizeHigh == held.information.nFileSizeHigh &&
                     now.nFileSizeLow == held.information.nFileSizeLow;
    if (!written || !unchanged ||
        !MoveFileExW(temporary.getString(), held.path.getString(), MOVEFILE_REPLACE_EXISTING |
                     MOVEFILE_WRITE_THROUGH)) {
        removeTemporary(temporary.getString());
        return false;
    }
    return true;
}
