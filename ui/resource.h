// The numbers of the program's resources, controls and commands, named once for the .rc file and
// the C++ code alike. The numbers are fixed: workspaces, tests and later dialogs rely on them.
#pragma once

#define IDD_ABOUT 100
#define IDD_MAIN_WINDOW 129
#define IDD_PROGRESS 204
#define IDD_INSTALLER_PROPERTIES 205
#define IDR_MAIN_MENU 201
#define IDI_TARVELO 216
#define IDB_SPLASH 217

#define IDC_FILE_LIST 1001
#define IDC_CREATE_INSTALLER 1008
#define IDC_EULA 1009
#define IDC_SHORTCUT 1010
#define IDC_ARM 1016
#define IDC_MIPS 1022
#define IDC_SHX 1023
#define IDC_INTEL 1024
#define IDC_SELECTED_FILE 1025
#define IDC_OVERALL_PROGRESS 1026
#define IDC_FILE_PROGRESS 1027
#define IDC_PROGRESS_FILE_NAME 1028
#define IDC_FOLDER_ON_DEVICE 1032
#define IDC_PROGRAM_NAME 1035
#define IDC_TARGET_FOLDER 1036
#define IDC_INSTALLER_PROPERTIES 1037
#define IDC_FIELD_HELP 1038
#define IDC_IMAGE_PATH 1039
#define IDC_CHOOSE_IMAGE 1040
#define IDC_SHORTCUT_LABEL 1041
// The Installer Properties dialog's shortcut name field shares its number with the main window's
// shortcut label; they live in different windows.
#define IDC_SHORTCUT_NAME 1041
#define IDC_INSTALLER_TITLE 1042
#define IDC_ICON_PATH 1043
#define IDC_CHOOSE_ICON 1044
#define IDC_WORKSPACE_PATH 1047
#define IDC_PROGRAM_PATH 1048
#define IDC_CREATE_DAT 1049
#define IDC_CREATE_CABWIZ_INF 1050
#define IDC_SIDEBAR_PREVIEW 1051
#define IDC_BUILD_COMMAND 1052
#define IDC_STATUS_BAR 59393

#define ID_APP_ABOUT 32773
#define ID_FILE_ADD_FILES 32774
#define ID_FILE_SAVE_WORKSPACE 32776
#define ID_FILE_OPEN_WORKSPACE 32777
#define ID_APP_EXIT 32778
#define ID_FILE_CREATE_DAT 32780
#define ID_FILE_CREATE_INSTALLER 32784
#define ID_FILE_NEW 57600
#define ID_HELP_INDEX 57666
