#pragma once
// Resources of qx3ide.dll. Dialog and control ids are fixed: the IDE's users
// and the tests find the controls by them.

// The COM module's project name string.
#define IDS_PROJNAME 100
// Registration script of the add-in class.
#define IDR_IDEADDIN 101

// Toolbar glyph strips: large (64 x 32) and medium (32 x 16) buttons.
#define IDB_LARGE 202
#define IDB_MEDIUM 203

// Dialog templates.
#define IDD_SETTINGS 201
#define IDD_EXCLUSIONS 204
#define IDD_ABOUT 205

// Controls of the settings dialog.
#define IDC_ENABLED 201
#define IDC_USE_NTSYMPATH 202
#define IDC_USE_SYMPATH 203
#define IDC_NTSYMPATH 204
#define IDC_SYMPATH 206
#define IDC_DESTDIR 208
#define IDC_DEFAULTS 209
#define IDC_EXCLUSIONS 210
#define IDC_HELPBUTTON 211
#define IDC_ABOUT 212
#define IDC_PDBDIRS 213
#define IDC_REPORT_PROGRESS 216

// Controls of the exclusions dialog.
#define IDC_EXCLUSION_LIST 214
#define IDC_EXCLUSIONS_HELP 215

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
