// Identifiers shared by the resource script and the code. The icon group is
// named by the text IDI_MAINICON, so it has no number here.
#pragma once

#define IDD_PROGRESS 103

#define IDC_STATUS_TEXT 1003
#define IDC_PERCENTAGE 1006
#define IDC_PROGRESS_BAR 1001
#define IDC_RESTART 4

#define MAIN_ICON_NAME L"IDI_MAINICON"
