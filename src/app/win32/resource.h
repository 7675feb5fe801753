// Resource identifiers of tarvex.exe, shared by the resource script and the C++ code.
//
// The form's control identifiers are the ones of ui/TarvexDlg.h (an enum the resource compiler
// cannot read); they are repeated here as CTL_ numbers and checked against the enum when
// TarvexWindow.cpp compiles.
#pragma once

#define IDR_MAINFRAME 128  // the application icon
#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101  // "&About Tarvex...", the system-menu item
#define IDD_TARVEX_DIALOG 102
#define IDC_ABOUT_TEXT 1200
#define IDC_ABOUT_DETAIL 1201
// The status line under the progress bar: the view's own, not a control of the form.
#define IDC_STATUS_LINE 1300

#define CTL_CLOSE 1
#define CTL_CANCEL 2
#define CTL_FILE_TO_SEND 1000
#define CTL_BROWSE 1001
#define CTL_COM_PORT 1002
#define CTL_BAUD_RATE 1003
#define CTL_PARITY 1004
#define CTL_PASSWORD 1005
#define CTL_DATA_BITS 1006
#define CTL_STOP_BITS 1007
#define CTL_DOWNLOAD 1008
#define CTL_PROGRESS 1009
#define CTL_REMEMBER_PASSWORD 1010
#define CTL_PRODUCT 1011
#define CTL_SLAVE_ID 1012
#define CTL_BOOTLOADER_VERSION 1014
#define CTL_SLAVE_ID_LABEL 1015
#define CTL_BL_VERSION 1016
#define CTL_BL_VERSION_LABEL 1017
#define CTL_FIRMWARE_VERSION 1019
#define CTL_APPLICATION 1020
#define CTL_UPLOAD 1021
#define CTL_BITMAP 1022
#define CTL_FONT 1023
#define CTL_RECIPE 1024
#define CTL_ALL 1025
#define CTL_SELECT_RECIPE_LABEL 1026
#define CTL_SELECT_RECIPE 1027
#define CTL_SERIAL_DOWNLOAD 1035
#define CTL_USB_DOWNLOAD 1036
#define CTL_ECHO 1037
#define CTL_RS485 1038
#define CTL_PRODUCT_LABEL 1101
#define CTL_BOOTLOADER_LABEL 1102
#define CTL_FIRMWARE_LABEL 1103
#define CTL_FILE_TO_SEND_LABEL 1104
#define CTL_COM_PORT_LABEL 1105
#define CTL_BAUD_RATE_LABEL 1106
#define CTL_PARITY_LABEL 1107
#define CTL_DATA_BITS_LABEL 1108
#define CTL_STOP_BITS_LABEL 1109
#define CTL_PASSWORD_LABEL 1110
#define CTL_ECHO_LABEL 1111
