// Resource ids of the Windows program: the dialog template, its controls, the icons.
// Shared by clearnook.rc and the window code; plain macros, since the resource compiler reads it.
#pragma once

#define IDD_CLEANUP_DIALOG 102  // the main dialog's template

#define IDR_MAINFRAME 128  // the program's icon: 32x32 and 16x16, 256 colours

// The category icons, 16x16 each: the icon at position p of the category table
// (engine/categories.h) is IDI_CATEGORY_BASE + p.
#define IDI_CATEGORY_BASE 129
#define IDI_TEMP_FILES 129
#define IDI_TEMP_INTERNET_FILES 130
#define IDI_HELP_SUPPORT_FILES 131
#define IDI_PRECOMPILED_HEADERS 132
#define IDI_RECENT_DOCUMENTS 133
#define IDI_THUMBNAIL_CACHE 134

// The dialog's controls; the Scan/Cancel button is IDOK (1).
#define IDC_DRIVE 1000
#define IDC_STATUS 1001
#define IDC_RESULTS 1002
#define IDC_DESCRIPTION 1003
#define IDC_DELETE 1004
#define IDC_ABOUT 1005
