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
inline constexpr int IDD_CAPTURE_STATS = 140;

// The context menu's capture entries, their file dialog and their messages.
inline constexpr int IDS_CAPTURE_STATS = 141;
inline constexpr int IDS_OPEN_CAPTURE_FILE = 142;
inline constexpr int IDS_OPEN_CAPTURE_TITLE = 143;
inline constexpr int IDS_CAPTURE_FILE_TYPES = 144;
inline constexpr int IDS_ALL_FILE_TYPES = 145;
inline constexpr int IDP_FILE_CANNOT_OPEN = 146;
inline constexpr int IDP_FILE_NOT_CAPTURE = 147;
inline constexpr int IDP_FILE_LINK_TYPE = 148;
inline constexpr int IDP_FILE_TRUNCATED = 149;
inline constexpr int IDP_FILE_READ_ERROR = 150;
inline constexpr int IDS_FILE_MISSING = 151;
inline constexpr int IDS_FILE_NO_RIGHT = 152;
inline constexpr int IDS_FILE_IS_FOLDER = 153;
// The statistics window's states and units.
inline constexpr int IDS_STATS_CAPTURING = 160;
inline constexpr int IDS_STATS_PLAYING = 161;
inline constexpr int IDS_STATS_STOPPED = 162;
inline constexpr int IDS_STATS_NEVER = 163;
inline constexpr int IDS_STATS_SECONDS = 164;
inline constexpr int IDS_STATS_FILE_PROGRESS = 165;
// The find window, its menu entry and its messages.
inline constexpr int IDD_FIND = 280;
inline constexpr int IDS_FIND = 281;
inline constexpr int IDS_FIND_COUNT = 282;
inline constexpr int IDS_FIND_NOT_FOUND = 283;
inline constexpr int IDS_FIND_PAST_NUL = 284;
inline constexpr int IDS_FIND_IN_DATAGRAM = 285;
inline constexpr int IDS_FIND_CONTEXT = 286;

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
inline constexpr int IDC_STATS_STATE = 1030;
inline constexpr int IDC_STATS_SOURCE = 1031;
inline constexpr int IDC_STATS_STARTED = 1032;
inline constexpr int IDC_STATS_DURATION = 1033;
inline constexpr int IDC_STATS_RECEIVED = 1034;
inline constexpr int IDC_STATS_KERNEL_DROPS = 1035;
inline constexpr int IDC_STATS_FILTERED = 1036;
inline constexpr int IDC_STATS_ROWS = 1037;
inline constexpr int IDC_STATS_EMPTIED = 1038;
inline constexpr int IDC_STATS_PROGRESS = 1039;
inline constexpr int IDC_FIND_TEXT = 1140;
inline constexpr int IDC_FIND_NEXT = 1141;
inline constexpr int IDC_FIND_PREVIOUS = 1142;
inline constexpr int IDC_FIND_CASE = 1143;
inline constexpr int IDC_FIND_HEX = 1144;
inline constexpr int IDC_FIND_STATUS = 1145;

// System-menu commands (the low four bits are the system's).
inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
inline constexpr unsigned IDM_CAPTURE_STATS = 0x0020;
inline constexpr unsigned IDM_OPEN_CAPTURE_FILE = 0x0030;
inline constexpr unsigned IDM_FIND = 0x0070;
