#pragma once

// The dialog templates as designed, for the check that the launcher's
// resources hold exactly them; other tests read the launcher's own.
#include "../res/resource.h"
#include "DialogResource.h"

const TemplateControl FRONT_PANEL_CONTROLS[] = {
    {IDC_HOST_EDIT, L"Edit", L"", 17, 28, 116, 12, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
    {IDC_CONNECT, L"Button", L"Connect", 50, 44, 50, 15, BS_DEFPUSHBUTTON | WS_DISABLED | WS_GROUP | WS_TABSTOP},
    {IDC_START_SERVER, L"Button", L"Start Korvane Server", 173, 178, 85, 15, WS_TABSTOP},
    {IDC_ABOUT, L"Button", L"About...", 6, 225, 50, 15, WS_TABSTOP},
    {IDC_EXIT, L"Button", L"Exit", 217, 224, 50, 15, WS_TABSTOP},
    {IDC_HISTORY_LIST, L"ListBox", L"", 141, 28, 116, 69,
     LBS_NOTIFY | LBS_SORT | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP},
    {-1, L"Static", L"Recent connections:", 141, 18, 116, 10, SS_LEFT | WS_GROUP},
    {-1, L"Static", L"Host name or IP address:", 17, 18, 116, 10, SS_LEFT | WS_GROUP},
    {IDC_START_LISTENING_VIEWER, L"Button", L"Start Listening Viewer", 173, 143, 85, 15, WS_TABSTOP},
    {IDC_DELETE_RECORD, L"Button", L"Delete record", 141, 101, 55, 15, WS_TABSTOP | BS_CENTER},
    {-1, L"Button", L"Accept incoming connections", 6, 130, 261, 72, BS_GROUPBOX},
    {-1, L"Button", L"Connect to a Korvane Server (view and control other computer remotely)", 6, 5, 261, 120,
     BS_GROUPBOX},
    {-1, L"Static", L"Make this desktop accessible via Korvane:", 17, 182, 148, 10, SS_LEFT | WS_GROUP},
    {IDC_CLEAR_LIST, L"Button", L"Clear the list", 202, 101, 55, 15, WS_TABSTOP},
    {-1, L"Static",
     L"To specify a TCP port, append it after two colons (e.g. myhost::443).\nA number up to 99 after just one "
     L"colon will be interpreted as a ZRX display number (which is an offset from the default ZRX port, 5900).",
     17, 67, 116, 48, SS_LEFT | WS_GROUP},
    {-1, L"Static",
     L"Korvane connections can be reversed, so that a server can connect to a viewer. Start the listening "
     L"viewer here and use \"Add New Client\" command of the Korvane Server.",
     17, 143, 148, 35, SS_LEFT | WS_GROUP},
};

const TemplateControl ABOUT_BOX_CONTROLS[] = {
    {-1, L"Static", L"Korvane Portable Edition, Loader Module", 7, 7, 244, 10, SS_CENTER | WS_GROUP},
    {IDC_BUILD_LINE, L"Static", L"Built on DATE at TIME", 7, 21, 244, 10, SS_CENTER | WS_GROUP},
    {-1, L"Static", nullptr, 7, 35, 244, 10, SS_CENTER | WS_GROUP},
    {IDCANCEL, L"Button", L"Close Window", 92, 95, 74, 15, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP},
};

const DWORD DIALOG_STYLE =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFOREGROUND | DS_CENTER | DS_SETFONT;
