/* Resource and control ids of the program, shared by the resource script and
   the code; plain #defines so that the resource compiler reads them too. */
#pragma once

#define IDD_ABOUTBOX 100
#define IDR_MAINFRAME 128
#define IDD_MAINDLG 129
#define IDR_ABOUT_PICTURE 211
#define IDI_PLAY 215
#define IDI_STOP 216

#ifndef IDCANCEL
#define IDOK 1
#define IDCANCEL 2
#endif

/* Main window */
#define IDC_PLAY 1000
#define IDC_STOP 1001
#define IDC_INPUT_DEVICE 1002
#define IDC_DELAY_SLIDER 1003
#define IDC_OUTPUT_DEVICE 1004
#define IDC_MIXER 1005
#define IDC_DELAY_EDIT 1006
#define IDC_INPUT_LEFT 1008
#define IDC_INPUT_RIGHT 1009
#define IDC_OUTPUT_LEFT 1010
#define IDC_OUTPUT_RIGHT 1011
#define IDC_TUNER 1014
#define ID_APP_ABOUT 0xE140

/* About box */
#define IDC_ABOUT_PICTURE 1004
#define IDC_ABOUT_WEB 1017
#define IDC_ABOUT_TEXT 1018
