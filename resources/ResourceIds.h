// Resource and control ids, grouped by dialog; the numbers are fixed by the templates.
#pragma once

// Icon group and bitmaps.
#define IDI_SETUP 128
#define IDB_BANNER 131
#define IDB_SIDE_LICENSE 132
#define IDB_SIDE_WELCOME 133
#define IDB_SEPARATOR 134

// Dialog templates: the page number plus 129.
#define IDD_WELCOME 129
#define IDD_LICENSE 130
#define IDD_FOLDER 131
#define IDD_READY 132
#define IDD_COPY 133
#define IDD_FINISH 134

// Controls shared by the pages.
#define IDC_BACK 1018
#define IDC_NEXT 1019

// License page.
#define IDC_LICENSE_TEXT 1007
#define IDC_AGREE 1008

// Install-folder page.
#define IDC_TOTAL_SIZE 1009
#define IDC_FREE_SPACE 1010
#define IDC_NEEDED_SPACE 1011
#define IDC_FOLDER_EDIT 1012
#define IDC_BROWSE 1013

// Ready page.
#define IDC_READY_FOLDER 1014

// Copy page.
#define IDC_CURRENT_FILE 1015
#define IDC_VOLUME_TEXT 1016
#define IDC_PROGRESS 1017
