/* Resource and command ids of mjtray, shared by mjtray.rc and the C sources. */
#ifndef MJTRAY_RESOURCE_H
#define MJTRAY_RESOURCE_H

#define IDI_APP 1
#define IDR_TRAY_MENU 100

#define IDM_TOGGLE 1001
#define IDM_NUDGE 1002
#define IDM_MODE_ZEN 1010
#define IDM_MODE_MOVE 1011
#define IDM_INTERVAL_30 1020
#define IDM_INTERVAL_60 1021
#define IDM_INTERVAL_120 1022
#define IDM_INTERVAL_300 1023
#define IDM_INTERVAL_600 1024
#define IDM_INTERVAL_CUSTOM 1029
#define IDM_ONLY_WHEN_IDLE 1030
#define IDM_KEEP_AWAKE 1031
#define IDM_AUTOSTART 1032
#define IDM_ABOUT 1040
#define IDM_EXIT 1041
#define IDM_INTERVAL_SAFE 1028
#define IDM_RUN_FOR_30M 1050
#define IDM_RUN_FOR_1H 1051
#define IDM_RUN_FOR_2H 1052
#define IDM_RUN_FOR_4H 1053
#define IDM_RUN_UNTIL_END 1054
#define IDM_RUN_UNTIL_STOPPED 1055
#define IDM_WORKING_HOURS 1060

#define IDD_WORKING_HOURS 200
#define IDC_DAY_FIRST 201 /* Monday; the other days follow: 201 to 207 */
#define IDC_SPANS 210
#define IDC_NO_HOURS 211
#define IDC_HOURS_ERROR 212

#endif
