// Resource ids of the program. Controls carry their id as the Qt property "id"
// so that tests find them by it.
#pragma once

// The sample photograph's id lives with the core (imaging/SampleResource.h).

// The program icon.
#define IDR_MAINFRAME 128

// The main window "Ansicht" and its controls.
#define IDD_IMAGE_DIALOG 130
#define IDC_VIEW 1000
#define IDC_SCROLL_H 1002
#define IDC_SCROLL_V 1003

// Commands the main window handles (menu items and the panel's buttons).
#define ID_OPEN 1006
#define ID_SAVE_AS 32775
#define ID_CONVERT_DIRECTORY 32776
#define ID_MAIL_SETUP 32777
#define ID_SEND_MAIL 32778
#define ID_APP_ABOUT 57664

// Context menu item of the main window that opens the about box.
#define IDM_ABOUTBOX 16

// Context menu items of the main window for its view: before and after, fitted,
// one to one.
#define ID_VIEW_COMPARE 32790
#define ID_VIEW_FIT 32791
#define ID_VIEW_ONE_TO_ONE 32792

// Directory conversion: the dialog "Verzeichnis umwandeln" and the question
// "Umwandlung". Mail: the dialog "Mail Setup". IDOK and IDCANCEL are the
// dialogs' "OK" and "Abbrechen" buttons.
#define IDOK 1
#define IDCANCEL 2
#define IDD_FOLDER_DIALOG 134
#define IDD_MAIL_SETUP 136
#define IDD_CONFIRM 147
#define IDC_FOLDER_ASK_EACH_FILE 1019
#define IDC_FOLDER_MAIL_AFTER 1020
#define IDC_FOLDER_SOURCE_PATH 1021
#define IDC_FOLDER_DEST_PATH 1022
#define IDC_MAIL_SUBJECT 1039
#define IDC_MAIL_TEXT 1040
#define IDC_FOLDER_SOURCE_TREE 1060
#define IDC_FOLDER_DEST_TREE 1061
#define IDC_CONFIRM_TEXT 1067
#define IDC_YES_TO_ALL 1069

// The control panel "Schnellstart", its menu bar and the pictures of its buttons.
// The panel's buttons 1006, 1027, 1028 and 1040 run the main window's commands.
#define IDD_PANEL 135
#define IDR_PANEL_MENU 128
#define IDB_FACE_SAVE 137
#define IDB_FACE_OPEN 138
#define IDB_FACE_SEND 139
#define IDB_FACE_DIRECTORY 140
#define IDB_FACE_MORE 141
#define IDB_FACE_LESS 142
#define IDB_FACE_RESET 143
#define IDC_PANEL_OPEN 1006
#define IDC_PANEL_SIZE_SLIDER 1017
#define IDC_PANEL_SIZE 1018
#define IDC_PANEL_QUALITY 1026
#define IDC_PANEL_SAVE 1027
#define IDC_PANEL_DIRECTORY 1028
#define IDC_PANEL_QUALITY_10 1029 // 1029 ... 1037: "10%" ... "90%"
#define IDC_PANEL_QUALITY_90 1037
#define IDC_PANEL_INFORMATION 1038
#define IDC_PANEL_SEND 1040
#define IDC_PANEL_BRIGHTNESS 1045
#define IDC_PANEL_CONTRAST 1046
#define IDC_PANEL_RED 1047
#define IDC_PANEL_GREEN 1048
#define IDC_PANEL_BLUE 1049
#define IDC_PANEL_GRAYSCALE 1050
#define IDC_PANEL_RESET 1051
#define IDC_PANEL_QUALITY_GROUP 1052
#define IDC_PANEL_SIZE_GROUP 1053
#define IDC_PANEL_MORE_LESS 1054
#define IDC_PANEL_COLOUR_GROUP 1055
#define IDC_PANEL_RESOLUTION 1056
#define IDC_PANEL_PROMOTION_1 1057
#define IDC_PANEL_PROMOTION_2 1058
#define IDC_PANEL_PROMOTION_3 1059
#define IDC_PANEL_ROTATION 1063
#define IDC_PANEL_MIRROR 1064
#define IDC_PANEL_EFFECT 1065
#define IDC_PANEL_EFFECT_GROUP 1070
#define IDC_PANEL_KEEP_EXIF 1071
#define IDC_PANEL_MAX_KB 1072
#define IDC_FOLDER_SETTINGS 1075
#define IDC_MAIL_MAX_MB 1076
#define IDC_PANEL_SHRINK 1073
#define IDC_PANEL_NO_ENLARGE 1074
// The compact panel's line naming the extended part's active choices.
#define IDC_PANEL_ACTIVE_CHOICES 1077
#define IDC_PANEL_STATIC (-1)
// The arrows of a spin edit field (the same id for every field).
#define IDC_SPIN 2000
// Tooltip texts of the more/less button, compact and extended.
#define IDS_PANEL_TIP_MORE 1052
#define IDS_PANEL_TIP_LESS 1053
