#pragma once

#include "StringStorage.h"

// Every location the launcher uses is derived afresh, on each call, from the
// full path of its own executable: nothing is cached and nothing is created.

// Full path of the running executable; leaves out untouched on failure.
bool getModulePath(StringStorage& out);

// Whether the platform gives the launcher its own path. Without it every
// location below would be a guess (\Data on the current drive), so nothing
// is started, read or deleted then.
bool isModulePathKnown();

// Serial of the volume holding the executable as eight lower-case hex digits,
// 00000000 when it cannot be read.
void getDriveIdentity(StringStorage& out);

// Serial of the volume whose root is rootPath (null: the current directory's).
void getVolumeIdentity(const wchar_t* rootPath, StringStorage& out);

void getDataFolder(StringStorage& out);
void getViewerPath(StringStorage& out);
void getServerPath(StringStorage& out);
void getViewerSettingsPath(StringStorage& out);
void getServerSettingsPath(StringStorage& out);

// prefix followed directly by the drive identity, e.g. loader1a2b3c4d.
void getWindowClassName(const wchar_t* prefix, StringStorage& out);

// The rules behind the functions above, as functions of their inputs alone.
// The input texts must not be out's own: out is emptied before they are read.

// The root whose volume gives the identity: up to the first backslash, kept
// (E:\Apps\loader.exe gives E:\, \\host\share\x gives \); without one, the whole path.
void volumeRootOf(const wchar_t* modulePath, StringStorage& out);

// The loader folder, less its trailing backslash, then Data: E:\Apps\loader.exe
// gives E:\Apps\Data, E:\loader.exe gives E:\Data.
void dataFolderOf(const wchar_t* modulePath, StringStorage& out);

// The programs and settings files in a Data folder.
void viewerPathIn(const wchar_t* dataFolder, StringStorage& out);
void serverPathIn(const wchar_t* dataFolder, StringStorage& out);
void viewerSettingsPathIn(const wchar_t* dataFolder, StringStorage& out);
void serverSettingsPathIn(const wchar_t* dataFolder, StringStorage& out);

// prefix followed directly by identity.
void windowClassNameOf(const wchar_t* prefix, const wchar_t* identity, StringStorage& out);
