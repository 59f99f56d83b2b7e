// Resource ids, grouped by what uses them.
#pragma once

// Icons: program icon, then the tray pictures by traffic.
#define IDI_KAVRIN 128
#define IDI_TRAY_IDLE 132
#define IDI_TRAY_BOTH 133
#define IDI_TRAY_SENT 134
#define IDI_TRAY_CONNECTED 135
#define IDI_TRAY_RECEIVED 136

// Skin images (resource type "IMAGE"), in the order the start-up registers them.
#define IDR_SKIN_SYSTEM_MINIMIZE 162
#define IDR_SKIN_SYSTEM_CLOSE 163
#define IDR_SKIN_MAIN_WINDOW 167
#define IDR_SKIN_FRAME 170
#define IDR_SKIN_BUTTONS 161
#define IDR_SKIN_VSCROLL 192
#define IDR_SKIN_HSCROLL 191
#define IDR_SKIN_WEB_BUTTONS 169
#define IDR_SKIN_TABS 172
#define IDR_SKIN_HEADER_COLUMNS 175
#define IDR_SKIN_PANEL_TITLE 176
#define IDR_SKIN_CHECK_BOXES 174
#define IDR_SKIN_RADIO_BOXES 178
#define IDR_SKIN_FLAGS 171
#define IDR_SKIN_CONNECT_ICONS 173
#define IDR_SKIN_POLICY_ICONS 177
#define IDR_SKIN_TIP_INFO 179
#define IDR_SKIN_ONLINE_UPDATE 181
#define IDR_SKIN_SPEED_ICONS 180

// The fetch dialog's animation.
#define IDR_AVI_FETCH 141
// The same animation drawn at 150 % and 200 %.
#define IDR_AVI_FETCH_150 142
#define IDR_AVI_FETCH_200 143

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
#define ID_TRAY_AUTORECONNECT 32782
#define ID_TRAY_KILLSWITCH 32783
#define ID_TRAY_CONNECTION_LOG 32784

// Application list commands.
#define ID_APPLIST_CHANGE_RULES 32787
#define ID_APPLIST_REMOVE 32788
#define ID_APPLIST_ADD_USER_STARTMENU 32789
#define ID_APPLIST_ADD_COMMON_STARTMENU 32790
#define ID_APPLIST_ADD_PROGRAM_FILES 32791
