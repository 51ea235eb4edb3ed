// Resource and control ids, shared by the templates and the dialog classes.
#pragma once

#define IDD_SHRED_SETTINGS 136
#define IDD_SHRED_CONFIRM 201
#define IDD_SHRED_PROGRESS 203
#define IDI_SHRED 206
#define IDD_WIPE_CONFIRM 210
#define IDD_WIPE_PROGRESS 211

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
// Wipe confirm dialog (with IDC_OPTIONS).
#define IDC_WIPE_DRIVE 1101
#define IDC_WIPE_FREE 1102
#define IDC_WIPE_METHOD 1103
#define IDC_WIPE_ESTIMATE 1104
// Wipe progress dialog.
#define IDC_WIPE_PHASE 1110
#define IDC_WIPE_BAR 1111
#define IDC_WIPE_DONE 1112
#define IDC_WIPE_RATE 1113
#define IDC_WIPE_LEFT 1114

// The server module's registry scripts (the files' class, the drives' class), type library and
// project name.
#define IDR_REGISTRY 102
#define IDR_DRIVE_REGISTRY 103
#define IDR_TYPELIB 1
#define IDS_PROJNAME 100
