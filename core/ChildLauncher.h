#pragma once

#include "../drive/StringStorage.h"

// Each action starts its program from the Data folder, waits until it has
// ended, and returns whether it could be started.
bool startViewer(const wchar_t* hostText);
bool startListeningViewer();
bool startServer();

void buildViewerCommandLine(StringStorage& out, const wchar_t* hostArgument);
void buildServerCommandLine(StringStorage& out);

// Starts commandLine followed by one blank and waits for the process to end,
// dispatching the thread's messages meanwhile (a quit request is dropped).
// False when it could not be created, or the line is too long for the platform.
bool runProcessAndWait(const wchar_t* commandLine);
