// Resource and control ids, shared by the templates and the dialog classes.
#pragma once

#define IDD_SHRED_SETTINGS 136
#define IDD_SHRED_CONFIRM 201
#define IDD_SHRED_PROGRESS 203
#define IDI_SHRED 206

// Confirm dialog.
#define IDC_OPTIONS 201
// Progress dialog.
#define IDC_FILE_NAME 203
#define IDC_PROGRESS 204
// Settings dialog.
#define IDC_METHOD 1003
#define IDC_TAILS 1005
#define IDC_MANGLE 1006
#define IDC_PASSES 1008

// The server module's registry script, type library and project name.
#define IDR_REGISTRY 102
#define IDR_TYPELIB 1
#define IDS_PROJNAME 100
