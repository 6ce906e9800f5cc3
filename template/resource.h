// Numbers of the installer's resources and of the wizard's controls.
#pragma once

#define IDD_WIZARD 100
#define IDI_SETUP 101
// The sidebar picture: the number under which the tool stores the one the user chose.
#define IDB_SIDEBAR 251

#define IDC_SIDEBAR 1000
#define IDC_BACK 1001
#define IDC_NEXT 1002
#define IDC_SEPARATOR 1003
#define IDC_HEADING 1010
#define IDC_INTRO 1011
#define IDC_LICENCE_TEXT 1020
#define IDC_ACCEPT 1021
#define IDC_DEST_LABEL 1030
#define IDC_DEST_EDIT 1031
#define IDC_BROWSE 1032
#define IDC_CPU_LABEL 1033
#define IDC_CPU_LIST 1034
#define IDC_DEST_ERROR 1035
#define IDC_WAY_CABINET 1036
#define IDC_WAY_FOLDER 1037
#define IDC_WAY_APPMGR 1038
#define IDC_WAY_DEVICE 1039
#define IDC_WAY_NOTE 1042
#define IDC_CPU_NOTE 1043
#define IDC_STATUS 1040
#define IDC_PROGRESS 1041
