#pragma once

#include "../drive/StringStorage.h"

#include <windows.h>

// Each action starts its program from the Data folder, waits until it has
// ended, and returns whether it could be started.
bool startViewer(const wchar_t* hostText);
bool startListeningViewer();
bool startServer();

void buildViewerCommandLine(StringStorage& out, const wchar_t* hostArgument);
void buildServerCommandLine(StringStorage& out);

// The lines above for a Data folder and a drive identity: the program path and
// the settings file quoted, the host argument as given, e.g.
// "E:\Data\dodivarav.exe" myhost -settingsfile "E:\Data\viewer_settings.ini" -wndclass viewer1a2b3c4d
void composeViewerCommandLine(StringStorage& out, const wchar_t* dataFolder, const wchar_t* driveIdentity,
                              const wchar_t* hostArgument);
void composeServerCommandLine(StringStorage& out, const wchar_t* dataFolder);

// Whether text reaches a program that reads its command line as ANSI text
// as it is: the system's best-fit conversion turns no character of it into
// another that means something in a path (U+FF02 into a quote, U+0101 into
// "a", U+FF0E into ".", U+FF3C into a backslash). A character with no image
// at all becomes "?", which names no file, so only best fit is refused: the
// image with best fit must equal the image without it. In the computer's ANSI
// code page unless another is named.
bool isExactInAnsi(const wchar_t* text, UINT codePage = CP_ACP);

// Starts commandLine followed by one blank and waits for the process to end,
// dispatching the thread's messages meanwhile (a quit request is dropped).
// False when it could not be created, or the line is too long for the platform.
bool runProcessAndWait(const wchar_t* commandLine);
