#pragma once
// Resource and control identifiers.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_MONITOR_DIALOG = 102;
inline constexpr int IDP_SOCKETS_INIT_FAILED = 103;
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDD_FILTER_DIALOG = 129;
inline constexpr int IDD_EVENT_DETAIL = 134;
inline constexpr int IDB_ABOUT = 136;

inline constexpr int IDC_EVENT_LIST = 1000;
inline constexpr int IDC_CLEAR = 1001;
inline constexpr int IDC_CLOCK = 1002;
inline constexpr int IDC_START = 1003;
inline constexpr int IDC_STOP = 1004;
inline constexpr int IDC_LOCAL_ADDRESSES = 1005;
inline constexpr int IDC_FILTER = 1007;
inline constexpr int IDC_SRC_ADDRESS = 1008;
inline constexpr int IDC_DST_ADDRESS = 1009;
inline constexpr int IDC_SRC_LABEL = 1010;
inline constexpr int IDC_DST_LABEL = 1011;
inline constexpr int IDC_MONITORED_LABEL = 1012;
inline constexpr int IDC_IGNORED_LABEL = 1013;
inline constexpr int IDC_DETAIL_AREA = 1017;
inline constexpr int IDC_MONITORED_EDIT = 1018;
inline constexpr int IDC_MONITORED_SPIN = 1020;
inline constexpr int IDC_IGNORED_EDIT = 1021;
inline constexpr int IDC_IGNORED_SPIN = 1022;
inline constexpr int IDC_ABOUT_PAGE = 1023;
inline constexpr int IDC_ABOUT = 1024;
inline constexpr int IDC_SAVE = 1025;
inline constexpr int IDC_DATA_PANE = 1027;
