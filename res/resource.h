#pragma once

// Dialogs
#define IDD_FRONT_PANEL 101
#define IDD_ABOUT_BOX 103

// Icon
#define IDI_LAUNCHER 110

// Front panel controls
#define IDC_DELETE_RECORD 1003
#define IDC_CLEAR_LIST 1004
#define IDC_CONNECT 1009
#define IDC_START_SERVER 1010
#define IDC_ABOUT 1011
#define IDC_EXIT 1012
#define IDC_HISTORY_LIST 1013
#define IDC_HOST_EDIT 1014
#define IDC_START_LISTENING_VIEWER 1015

// About box controls
#define IDC_BUILD_LINE 1001

#define IDC_STATIC_TEXT -1
