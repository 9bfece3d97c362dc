#pragma once

#include <windows.h>

// Shows the About box (template 103) modally over owner; its result is ignored.
void showAboutBox(HWND owner);
