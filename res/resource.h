// Identifiers of Lumeno's resources, controls, commands, timers and private messages.
// Included by the resource script, so it holds preprocessor definitions only.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX 100
#define IDD_MAIN 102
#define IDD_SETTINGS 130

// Strings
#define IDS_ABOUTBOX 101

// Icons
#define IDR_MAINFRAME 128
#define IDI_TRAY_IDLE 149
#define IDI_TRAY_RECORDING 151
#define IDI_TRAY_WARNING 152

// Images: "IMG" (JPEG) and "PNG" resources
#define IDB_BANNER 131
#define IDB_CLOSE 136
#define IDB_MINIMIZE 137
#define IDB_SETTINGS 143
#define IDB_START_DISABLED 144
#define IDB_START 145
#define IDB_STOP_DISABLED 146
#define IDB_STOP 147
#define IDB_LOGO 148

// Controls of the settings dialog
#define IDC_STORAGE_PATH 1000
#define IDC_BROWSE 1001
#define IDC_RETENTION 1002
#define IDC_AUTORUN 1003
#define IDC_AUTORECORD 1004
#define IDC_TIMEZONE2 1005
#define IDC_NAME 1006
#define IDC_PLATFORM 1007
#define IDC_ACCOUNT 1008
#define IDC_AUTOCLEAR 1012

// Controls of the main window
#define IDC_START 1009
#define IDC_STORAGE_INFO 1010
#define IDC_SETTINGS 1011
#define IDC_STOP 1013

// Image button click notification: WM_NOTIFY with this idFrom and code
#define IDC_IMGBTN 0x8001
#define IMGBN_CLICKED 1

// Commands and timers
#define IDM_ABOUTBOX 0x0010
#define ID_TRAY_EXIT 1
#define IDT_HIDE_AT_START 2
#define IDT_HEALTH 3
#ifndef ID_HELP
#define ID_HELP 0xE146
#endif

#include "framework/PrivateMessages.h"
