#pragma once

#include "SettingsFormat.h"

#include "../../drive/StringStorage.h"

#include <windows.h>

// Replacing a settings file in one step. The file is held against other
// writers from its reading until just before the rename that replaces it,
// and the new file from that rename until it is checked: a program that
// writes meanwhile fails and may try again. A write that slips in between
// the two is found through a second name of the old file, which then goes
// back in place: nothing that another program wrote is lost. The new text
// goes into a file of a fixed name beside the old one, which takes the old
// one's place by a rename: an interruption leaves the old file or the new
// one, and at most the launcher's own two files beside it, which the next
// rewrite removes.

// Added to the file's name for the new text's file, and for the old file's
// second name: the launcher's own.
extern const wchar_t TEMPORARY_SUFFIX[];
extern const wchar_t OLD_SUFFIX[];

struct HeldSettingsFile {
    HeldSettingsFile() = default;
    ~HeldSettingsFile();
    HeldSettingsFile(const HeldSettingsFile&) = delete;
    HeldSettingsFile& operator=(const HeldSettingsFile&) = delete;

    HANDLE handle = INVALID_HANDLE_VALUE;
    // The file itself, past any symbolic link, in the long-path form.
    StringStorage path;
    SettingsFile content;
    BY_HANDLE_FILE_INFORMATION information = {};
};

// The long-path form ("\\?\") of a full path, which may pass 260 characters;
// any other path as it is.
void toLongPathForm(const wchar_t* path, StringStorage& out);

// Reads the whole file and splits it into lines, letting other programs read
// and write it meanwhile. False, with nothing read, when it cannot be read.
bool readSettingsFile(const wchar_t* path, SettingsFile& file);

// Removes what an interrupted rewrite left beside the file, with the hosts
// that it may hold: a plain file of the launcher's own names only. Not while
// another program holds the file against writing.
void removeInterruptedRewrite(const wchar_t* path);

// Opens the file, denying other programs writing, and reads it whole; removes
// the files that an interrupted rewrite left, a plain file of the launcher's
// own names only, even when it then refuses. False, holding nothing,
// when a replace would change more than its content or could not be made:
// the file is missing, too large, read-only, another program has it open for
// writing or denies writing, or it has further hard links, which a rename
// would break.
bool holdSettingsFile(const wchar_t* path, HeldSettingsFile& held);

// Writes bytes as the held file's new content beside it and puts it in the
// file's place, with the old file's attributes and security, and lets the
// file go. False, with the old file as it was and no temporary file, when
// anything fails: a full drive, security that the new file cannot be given,
// a file of the launcher's own names that it did not make (a directory or a
// link), or another program that opened or wrote the file since. The file's
// second name may stay while another program has it open without sharing
// deletion; the next hold removes it.
bool replaceHeldFile(HeldSettingsFile& held, const char* bytes, size_t count);
