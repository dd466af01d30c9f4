// Resource ids of the dialogs in ui.rc. Shared by the resource script and the
// dialog procedures; the host dialog's ids go in their own section below.
#pragma once

// The wizard picture, 154 x 400 pixels, 24 bits per pixel.
#define IDB_WIZARD 112

// Host dialog ("PROPERTY")
#define IDC_HOST_RUN_STOP 1019
#define IDC_HOST_SETTINGS 1018
#define IDC_HOST_HELP 31011
// Sent or posted by the host dialog to itself (WM_COMMAND, lParam 0): show
// the run state on the buttons, and run the first-start check.
#define IDC_HOST_REFRESH_RUN 102
#define IDC_HOST_FIRST_START 103

// Soundcard properties ("SCARD")
#define IDC_SCARD_STEREO 1027
#define IDC_SCARD_SAMPLE_RATE 1021
#define IDC_SCARD_RESYNC_SECONDS 1023
#define IDC_SCARD_LEGACY_MODE 1037
#define IDC_SCARD_LEGACY_IN_LABEL 1051
#define IDC_SCARD_LEGACY_IN 1049
#define IDC_SCARD_LEGACY_OUT_LABEL 1052
#define IDC_SCARD_LEGACY_OUT 1048
#define IDC_SCARD_LEGACY_CHUNK_LABEL 1044
#define IDC_SCARD_LEGACY_CHUNK 1026
#define IDC_SCARD_LEGACY_CHUNK_UNIT 1045
#define IDC_SCARD_DX_MODE 1036
#define IDC_SCARD_DX_FRAME 1047
#define IDC_SCARD_DX_IN_LABEL 1055
#define IDC_SCARD_DX_IN 1053
#define IDC_SCARD_DX_OUT_LABEL 1054
#define IDC_SCARD_DX_OUT 1050
#define IDC_SCARD_DX_CHUNK_LABEL 1038
#define IDC_SCARD_DX_CHUNK 1024
#define IDC_SCARD_DX_CHUNK_UNIT 1042
#define IDC_SCARD_LATENCY_LABEL 1039
#define IDC_SCARD_LATENCY_MS 1030
#define IDC_SCARD_LATENCY_UNIT 1043
#define IDC_SCARD_ACCELERATED_LABEL 1040
#define IDC_SCARD_ACCELERATED 1028
#define IDC_SCARD_OWN_THREAD_LABEL 1041
#define IDC_SCARD_OWN_THREAD 1033
#define IDC_SCARD_SAVE_INPUT 1056
#define IDC_SCARD_SAVE_OUTPUT 1057
#define IDC_SCARD_DISK_OPTIONS 1060
#define IDC_SCARD_QUICK_HELP 1025
// Posted by the soundcard dialog to itself: tick the mode radios and enable
// the group of the chosen mode.
#define IDC_SCARD_MODE_REFRESH 104

// Disk options ("DISK_OPTIONS")
#define IDC_DISK_BROWSE 1058
#define IDC_DISK_DIRECTORY 1059
#define IDC_DISK_INPUT_NAME 1061
#define IDC_DISK_OUTPUT_NAME 1062
#define IDC_DISK_APPEND_TAKE 1063
