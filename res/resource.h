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
inline constexpr int IDS_FILE_NOT_REGULAR = 630;  // a named pipe, socket or device
// The statistics window's states and units.
inline constexpr int IDS_STATS_CAPTURING = 160;
inline constexpr int IDS_STATS_PLAYING = 161;
inline constexpr int IDS_STATS_STOPPED = 162;
inline constexpr int IDS_STATS_NEVER = 163;
inline constexpr int IDS_STATS_SECONDS = 164;
inline constexpr int IDS_STATS_FILE_PROGRESS = 165;
inline constexpr int IDS_STATS_IPV6_OFF = 166;  // the IPv6 handle is not read, and why
// The find window, its menu entry and its messages.
inline constexpr int IDD_FIND = 280;
inline constexpr int IDS_FIND = 281;
inline constexpr int IDS_FIND_COUNT = 282;
inline constexpr int IDS_FIND_NOT_FOUND = 283;
inline constexpr int IDS_FIND_PAST_NUL = 284;
inline constexpr int IDS_FIND_IN_DATAGRAM = 285;
inline constexpr int IDS_FIND_CONTEXT = 286;

// Capture files written: the whole list, and a recording of every datagram.
inline constexpr int IDS_SAVE_CAPTURE_FILE = 200;
inline constexpr int IDS_SAVE_CAPTURE_TITLE = 201;
inline constexpr int IDS_RECORD_TO_FILE = 202;
inline constexpr int IDS_STOP_RECORDING = 203;
inline constexpr int IDS_RECORD_TITLE = 204;
inline constexpr int IDS_PCAPNG_FILE_TYPES = 205;
inline constexpr int IDP_RECORD_FAILED = 206;
inline constexpr int IDP_RECORD_CANNOT_START = 207;
inline constexpr int IDP_RECORD_NOT_RESUMED = 208;
inline constexpr int IDS_REASON_DISK_FULL = 210;
inline constexpr int IDS_REASON_READ_ONLY = 211;
inline constexpr int IDS_REASON_IO_ERROR = 212;
inline constexpr int IDS_REASON_FILE_GONE = 213;
inline constexpr int IDS_REASON_QUOTA = 214;
inline constexpr int IDS_REASON_TOO_LARGE = 215;
inline constexpr int IDS_REASON_NO_RIGHT = 216;
inline constexpr int IDS_STATS_REC_OFF = 220;
inline constexpr int IDS_STATS_REC_WAITING = 221;
inline constexpr int IDS_STATS_REC_ON = 222;
inline constexpr int IDS_STATS_REC_STOPPED = 223;
inline constexpr int IDS_STATS_REC_FAILED = 224;
inline constexpr int IDS_STATS_REC_MISSED = 225;
// The conversations window (连接), its texts and the event list's tooltips.
inline constexpr int IDD_CONVERSATIONS = 240;
inline constexpr int IDS_CONVERSATIONS = 241;
inline constexpr int IDS_EXPORT_CONVERSATIONS_TITLE = 242;
inline constexpr int IDS_CSV_FILE_TYPES = 243;
inline constexpr int IDP_CSV_WRITE_FAILED = 244;
inline constexpr int IDS_CONV_SUMMARY = 245;
inline constexpr int IDS_CONV_DROPPED = 246;
inline constexpr int IDS_CONV_LOST = 247;
inline constexpr int IDS_TIP_PROGRAM = 248;
inline constexpr int IDS_TIP_NO_NAME = 249;
inline constexpr int IDS_TIP_PENDING = 250;
inline constexpr int IDS_TIP_TIMED_OUT = 251;
inline constexpr int IDS_CHART_DATAGRAMS = 252;
inline constexpr int IDS_CHART_BYTES = 253;
inline constexpr int IDS_CHART_IN = 254;
inline constexpr int IDS_CHART_OUT = 255;
inline constexpr int IDS_CHART_MINUTES_AGO = 256;
inline constexpr int IDS_CHART_NOW = 257;
inline constexpr int IDS_CONV_PENDING = 258;
// The headings of the conversations window's columns, in column order.
inline constexpr int IDS_CONV_HEADING_FIRST = 260;

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
inline constexpr int IDC_STATS_IPV6_RECEIVED = 1040;
inline constexpr int IDC_STATS_IPV6_DROPS = 1041;
// The statistics window's recording lines.
inline constexpr int IDC_STATS_REC_STATE = 1100;
inline constexpr int IDC_STATS_REC_FILE = 1101;
inline constexpr int IDC_STATS_REC_DATAGRAMS = 1102;
inline constexpr int IDC_STATS_REC_BYTES = 1103;
inline constexpr int IDC_CONV_CHART = 1120;
inline constexpr int IDC_CONV_FILTER = 1121;
inline constexpr int IDC_CONV_LIST = 1122;
inline constexpr int IDC_CONV_EXPORT = 1123;
inline constexpr int IDC_CONV_SUMMARY = 1124;
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
inline constexpr unsigned IDM_SAVE_CAPTURE_FILE = 0x0040;
inline constexpr unsigned IDM_RECORD_TO_FILE = 0x0050;  // and, while recording, its stop
inline constexpr unsigned IDM_CONVERSATIONS = 0x0060;
inline constexpr unsigned IDM_FIND = 0x0070;
inline constexpr unsigned IDM_USAGE = 0x0200;
inline constexpr unsigned IDM_SETTINGS = 0x0210;

// Saves that leave a file alone: the reason, naming the file.
inline constexpr int IDP_SAVE_SYMLINK = 300;
inline constexpr int IDP_SAVE_NOT_REGULAR = 301;
inline constexpr int IDP_SAVE_OTHER_OWNER = 302;
inline constexpr int IDP_SAVE_LOCKED = 303;
inline constexpr int IDP_SAVE_BEING_RECORDED = 304;

// Why a save failed, naming the file (UTF-8 for the libraries below the windows).
inline constexpr int IDP_SAVE_DISK_FULL = 340;
inline constexpr int IDP_SAVE_IO_ERROR = 341;
inline constexpr int IDP_SAVE_ACCESS_DENIED = 342;
inline constexpr int IDP_SAVE_INVALID_PATH = 343;
inline constexpr int IDP_SAVE_UNKNOWN_ERROR = 344;
inline constexpr int IDP_SAVE_NOT_THE_RECORDING = 345;
// The labels of the event log file's eight lines, in column order (GBK in the file).
inline constexpr int IDS_LOG_LABEL_FIRST = 350;
// The owner of a conversation, as one phrase.
inline constexpr int IDS_OWNER_FOUND = 360;
inline constexpr int IDS_OWNER_OTHER_USER = 361;
inline constexpr int IDS_OWNER_HOLDER_UNKNOWN = 362;
inline constexpr int IDS_OWNER_CLOSED_WAS = 363;
inline constexpr int IDS_OWNER_CLOSED = 364;
inline constexpr int IDS_OWNER_NO_SOCKET = 365;
inline constexpr int IDS_OWNER_NOT_LOCAL = 366;
inline constexpr int IDS_OWNER_NOT_APPLICABLE = 367;
inline constexpr int IDS_OWNER_FROM_FILE = 368;
inline constexpr int IDS_OWNER_UNAVAILABLE = 369;
// Protocol names, and a protocol known only by its number.
inline constexpr int IDS_PROTOCOL_ICMP = 370;
inline constexpr int IDS_PROTOCOL_IGMP = 371;
inline constexpr int IDS_PROTOCOL_TCP = 372;
inline constexpr int IDS_PROTOCOL_UDP = 373;
inline constexpr int IDS_PROTOCOL_NUMBER = 374;
inline constexpr int IDS_PROTOCOL_ICMPV6 = 520;
// Names read from the wire, where each came from, and the application a
// conversation speaks.
inline constexpr int IDS_NAME_FROM_DNS = 530;
inline constexpr int IDS_NAME_FROM_TLS = 531;
inline constexpr int IDS_NAME_FROM_HTTP = 532;
inline constexpr int IDS_NAME_FROM_REVERSE = 533;
inline constexpr int IDS_CONV_HEADING_NAME_SOURCE = 534;
inline constexpr int IDS_CONV_HEADING_APPLICATION = 535;
inline constexpr int IDS_APP_DNS = 536;
inline constexpr int IDS_APP_TLS = 537;
inline constexpr int IDS_APP_QUIC = 538;
inline constexpr int IDS_APP_HTTP = 539;
inline constexpr int IDS_APP_SSH = 540;
inline constexpr int IDS_TIP_NAME_SOURCE = 541;
// Byte counts: bytes, then KB to EB (1 KB = 1024 B).
inline constexpr int IDS_SIZE_BYTES = 380;
inline constexpr int IDS_SIZE_UNIT_FIRST = 381;
// The main window's two fixed messages.
inline constexpr int IDS_SELECT_ADDRESS = 390;
inline constexpr int IDS_CAPTURE_FAILED = 391;
// The event list's eight column headings, in column order.
inline constexpr int IDS_LIST_HEADING_FIRST = 392;
// The usage history's texts.
inline constexpr int IDS_HISTORY_OTHER_HOSTS = 400;
inline constexpr int IDS_HISTORY_MOVED_ASIDE = 401;
inline constexpr int IDS_HISTORY_READ_ONLY = 402;
inline constexpr int IDS_HISTORY_DISK_FULL = 403;
inline constexpr int IDS_HISTORY_WRITE_FAILED = 404;
inline constexpr int IDS_HISTORY_CANNOT_OPEN = 405;
inline constexpr int IDS_HISTORY_NEWER = 406;
// The usage window, the tray icon, the settings and the command line.
inline constexpr int IDS_USAGE = 430;
inline constexpr int IDS_USAGE_TITLE = 431;
inline constexpr int IDS_USAGE_TODAY = 432;
inline constexpr int IDS_USAGE_7_DAYS = 433;
inline constexpr int IDS_USAGE_30_DAYS = 434;
inline constexpr int IDS_USAGE_EXPORT = 435;
inline constexpr int IDS_USAGE_EXPORT_TITLE = 436;
inline constexpr int IDS_USAGE_PROGRAMS = 437;
inline constexpr int IDS_USAGE_HOSTS = 438;
inline constexpr int IDS_USAGE_UNKNOWN = 439;
inline constexpr int IDS_USAGE_OTHER = 440;
inline constexpr int IDS_USAGE_COL_PROGRAM = 441;
inline constexpr int IDS_USAGE_COL_PATH = 442;
inline constexpr int IDS_USAGE_COL_ADDRESS = 443;
inline constexpr int IDS_USAGE_COL_HOSTNAME = 444;
inline constexpr int IDS_USAGE_COL_IN = 445;
inline constexpr int IDS_USAGE_COL_OUT = 446;
inline constexpr int IDS_USAGE_COL_TOTAL = 447;
inline constexpr int IDS_USAGE_HOSTS_OF = 448;
inline constexpr int IDS_USAGE_PROGRAMS_OF = 449;
inline constexpr int IDS_USAGE_PICK = 450;
inline constexpr int IDS_USAGE_LOADING = 451;
inline constexpr int IDS_USAGE_SUMMARY = 452;
inline constexpr int IDS_USAGE_NO_HISTORY = 453;
inline constexpr int IDS_USAGE_CSV_HEADER = 454;
inline constexpr int IDS_USAGE_KIND_PERIOD = 455;
inline constexpr int IDS_TRAY_SHOW = 456;
inline constexpr int IDS_TRAY_USAGE = 457;
inline constexpr int IDS_TRAY_CONVERSATIONS = 458;
inline constexpr int IDS_TRAY_START = 459;
inline constexpr int IDS_TRAY_STOP = 460;
inline constexpr int IDS_TRAY_EXIT = 461;
inline constexpr int IDS_TRAY_TIP_STOPPED = 462;
inline constexpr int IDS_TRAY_TIP_RATE = 463;
inline constexpr int IDS_SETTINGS = 464;
inline constexpr int IDS_SETTINGS_TITLE = 465;
inline constexpr int IDS_SETTINGS_TRAY = 466;
inline constexpr int IDS_SETTINGS_AUTOSTART = 467;
inline constexpr int IDS_SETTINGS_KEEP_DAYS = 468;
inline constexpr int IDS_SETTINGS_KEEP_HOURS = 469;
inline constexpr int IDS_SETTINGS_AUTOSTART_ADDRESS = 470;
inline constexpr int IDS_SETTINGS_NO_ADDRESS = 471;
inline constexpr int IDP_AUTOSTART_FAILED = 472;
inline constexpr int IDP_START_ADDRESS_MISSING = 473;
inline constexpr int IDS_SETTINGS_OK = 474;
inline constexpr int IDS_SETTINGS_CANCEL = 475;
inline constexpr int IDS_USAGE_CLOSE = 476;
inline constexpr int IDS_CMD_START = 477;
inline constexpr int IDS_CMD_MINIMIZED = 478;
inline constexpr int IDS_CMD_ADDRESS = 479;
// Alerts: the 提醒 window, the kinds, their texts and the block list's notices.
inline constexpr int IDD_ALERTS = 480;
inline constexpr int IDS_ALERTS = 481;
inline constexpr int IDS_ALERT_KIND_FIRST = 482;  // six kinds, in AlertKind's order
inline constexpr int IDS_ALERT_NEW_PROGRAM = 488;
inline constexpr int IDS_ALERT_NEW_HOST = 489;
inline constexpr int IDS_ALERT_NEW_NETWORK = 490;
inline constexpr int IDS_ALERT_DAILY = 491;
inline constexpr int IDS_ALERT_BLOCKED = 492;
inline constexpr int IDS_ALERT_MORE = 493;
inline constexpr int IDS_ALERT_FORGOTTEN = 494;
inline constexpr int IDS_BLOCKLIST_BAD_LINES = 495;
inline constexpr int IDS_BLOCKLIST_UNREADABLE = 496;
inline constexpr int IDS_BLOCKLIST_NOT_A_FILE = 497;
inline constexpr int IDS_BLOCKLIST_TOO_LARGE = 498;
inline constexpr int IDS_BLOCKLIST_MISSING = 499;
inline constexpr int IDS_ALERTS_SUMMARY = 500;
inline constexpr int IDS_ALERTS_DROPPED = 501;
inline constexpr int IDS_ALERTS_BLOCKLIST = 502;
inline constexpr int IDS_ALERTS_HEADING_FIRST = 503;  // time, kind, text
// Where an address is: the named ranges, the columns and tooltips of
// country and network, and the message when the database cannot be read.
inline constexpr int IDS_PLACE_PRIVATE = 560;
inline constexpr int IDS_PLACE_LOOPBACK = 561;
inline constexpr int IDS_PLACE_LINK_LOCAL = 562;
inline constexpr int IDS_PLACE_MULTICAST = 563;
inline constexpr int IDS_PLACE_TEST = 564;
inline constexpr int IDS_PLACE_BROADCAST = 565;
inline constexpr int IDS_PLACE_RESERVED = 566;
inline constexpr int IDS_PLACE_COL_COUNTRY = 567;
inline constexpr int IDS_PLACE_COL_NETWORK = 568;
inline constexpr int IDS_PLACE_TIP_COUNTRY = 569;
inline constexpr int IDS_PLACE_TIP_NETWORK = 570;
inline constexpr int IDS_PLACE_NO_DATABASE = 571;
inline constexpr int IDS_PLACE_BAD_FILE = 572;
inline constexpr int IDC_ALERTS_LIST = 1160;
inline constexpr int IDC_ALERTS_SUMMARY = 1161;
inline constexpr unsigned IDM_ALERTS = 0x0480;
// Programs that have ended, named beside what they owned.
inline constexpr int IDS_OWNER_PROGRAM_EXITED = 600;
inline constexpr int IDS_OWNER_FOUND_EXITED = 601;
inline constexpr int IDS_OWNER_CLOSED_WAS_EXITED = 602;
