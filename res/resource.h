// Resource ids of the program. Controls carry their id as the Qt property "id"
// so that tests find them by it.
#pragma once

// The built-in sample photograph, resource type "JPG".
#define IDR_SAMPLE_JPG 132

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
