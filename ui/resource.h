// Resource identifiers: the string table of every user-visible text, and the dialog templates.
#pragma once

#define IDS_START_REFUSED 1000
#define IDS_REBOOT_QUESTION 1001
#define IDS_UPDATE_DONE 1002
#define IDS_PROGRESS_TITLE 1004
#define IDS_UPDATE_ABORTED 1005
#define IDS_PROGRAM_RUNNING 1006
#define IDS_SERVICE_CAPTION 1008
#define IDS_PROGRESS_CAPTION 1009
#define IDS_BUTTON_OK 1010
#define IDS_BUTTON_YES 1011
#define IDS_BUTTON_NO 1012
#define IDS_BUTTON_ABORT 1013
#define IDS_BUTTON_RETRY 1014
#define IDS_UPDATE_FAILED 1017
#define IDS_BUTTON_IGNORE 1018
#define IDS_INSTALLER_BUSY 1020

// Dialog templates.
#define IDD_MESSAGE_BOX 131
#define IDD_RETRY_CHECK_BOX 132
#define IDD_PROGRESS 133

// Controls of the message box (buttons use the system's IDOK, IDYES, IDNO, IDCANCEL).
#define IDC_MESSAGE_ICON 2000
#define IDC_MESSAGE_TEXT 2001

// Controls of the retry box.
#define IDC_RETRY_TEXT 1019
#define IDC_RETRY_DETAILS 1021
#define IDC_RETRY_ABORT 1022
#define IDC_RETRY_RETRY 1023
#define IDC_RETRY_IGNORE 1024

// Controls of the progress dialog.
#define IDC_PROGRESS_STATUS 2001
#define IDC_PROGRESS_BAR 2003
#define IDC_PROGRESS_PERCENT 2006
