// Resource ids, grouped by what uses them.
#pragma once

// Icons: program icon, then the tray pictures by traffic.
#define IDI_KAVRIN 128
#define IDI_TRAY_IDLE 132
#define IDI_TRAY_BOTH 133
#define IDI_TRAY_SENT 134
#define IDI_TRAY_CONNECTED 135
#define IDI_TRAY_RECEIVED 136

// Menus.
#define IDR_TRAY_MENU 128
#define IDR_APPLIST_MENU 199

// The one empty dialog every window is built on.
#define IDD_EMPTY 201

// Strings.
#define IDS_REFERRAL_TAG 101
#define IDS_DEFAULT_LOGIN_HOSTS 102

// Tray menu commands.
#define ID_TRAY_SHOW 32772
#define ID_TRAY_EXIT 32774
#define ID_TRAY_ABOUT 32775
#define ID_TRAY_HOMEPAGE 32779
#define ID_TRAY_PURCHASE 32781

// Application list commands.
#define ID_APPLIST_CHANGE_RULES 32787
#define ID_APPLIST_REMOVE 32788
#define ID_APPLIST_ADD_USER_STARTMENU 32789
#define ID_APPLIST_ADD_COMMON_STARTMENU 32790
#define ID_APPLIST_ADD_PROGRAM_FILES 32791
