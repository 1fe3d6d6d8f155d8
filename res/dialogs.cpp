#include "res/dialogs.h"

#include <cstdlib>

#include "framework/dialog.h"
#include "res/resource.h"

namespace {

using K = ControlKind;
namespace s = ctlstyle;
constexpr uint32_t TS = s::TabStop;

constexpr ControlTemplate kMonitor[] = {
    {IDOK, K::PushButton, "退出", 383, 273, 50, 14, TS},
    {IDC_EVENT_LIST, K::ListView, "", 7, 6, 442, 159,
     s::Border | TS | s::LvsShowSelAlways | s::LvsList},
    {IDC_CLEAR, K::PushButton, "清除", 329, 283, 50, 14, TS},
    {IDC_CLOCK, K::Static, "当前时间", 316, 307, 76, 8, s::SsLeft},
    {IDC_START, K::DefPushButton, "开始", 329, 241, 50, 14, TS},
    {IDC_STOP, K::PushButton, "停止", 329, 263, 50, 14, TS},
    {IDC_LOCAL_ADDRESSES, K::ListBox, "", 193, 261, 92, 40,
     s::LbsSort | s::LbsNotify | s::VScroll | s::Border | s::LbsNoIntegralHeight | TS},
    {-1, K::GroupBox, "监控地址", 7, 233, 301, 93, 0},
    {-1, K::GroupBox, "", 325, 230, 112, 73, 0},
    {IDC_FILTER, K::PushButton, "过滤器", 16, 261, 50, 14, TS},
    {-1, K::GroupBox, "监控过滤", 13, 247, 169, 67, 0},
    {IDC_SRC_LABEL, K::Static, "000.000.000.000", 51, 278, 64, 11, s::SsLeft},
    {IDC_DST_LABEL, K::Static, "000.000.000.000", 50, 292, 61, 10, s::SsLeft},
    {-1, K::Static, "源ip:", 23, 278, 21, 8, s::SsLeft},
    {-1, K::GroupBox, "本机地址", 185, 247, 118, 67, 0},
    {-1, K::Static, "监控端口:", 115, 278, 37, 8, s::SsLeft},
    {IDC_MONITORED_LABEL, K::Static, "0", 156, 278, 22, 8, s::SsLeft},
    {-1, K::Static, "目的ip:", 19, 292, 29, 8, s::SsLeft},
    {-1, K::Static, "忽略端口:", 115, 292, 37, 8, s::SsLeft},
    {IDC_IGNORED_LABEL, K::Static, "0", 156, 292, 24, 8, s::SsLeft},
    {IDC_ABOUT, K::PushButton, "关于...", 397, 303, 39, 14, TS},
    {IDC_SAVE, K::PushButton, "保存", 383, 249, 50, 14, TS},
    {IDC_DATA_PANE, K::Edit, "", 7, 173, 442, 47,
     s::EsMultiline | s::VScroll | s::EsAutoVScroll | s::Border | TS},
};

constexpr uint32_t kUpDown = s::UdsAutoBuddy | s::UdsSetBuddyInt | s::UdsArrowKeys;

constexpr ControlTemplate kFilter[] = {
    {IDOK, K::DefPushButton, "确定", 182, 17, 50, 14, TS},
    {IDCANCEL, K::PushButton, "取消", 182, 49, 50, 14, TS},
    {IDC_SRC_ADDRESS, K::IpAddress, "", 60, 24, 100, 15, TS},
    {IDC_DST_ADDRESS, K::IpAddress, "", 61, 49, 100, 15, TS},
    {-1, K::Static, "源ip地址", 20, 28, 31, 8, s::SsLeft},
    {-1, K::Static, "目的ip地址", 17, 52, 39, 8, s::SsLeft},
    {-1, K::GroupBox, "地址过滤", 7, 7, 173, 74, 0},
    {-1, K::Static, "监控端口", 16, 111, 31, 8, s::SsLeft},
    {IDC_MONITORED_EDIT, K::Edit, "", 51, 108, 36, 14,
     s::Border | TS | s::EsNumber | s::EsAutoHScroll},
    {IDC_MONITORED_SPIN, K::UpDown, "", 90, 108, 9, 14, kUpDown},
    {-1, K::Static, "忽略端口", 110, 108, 31, 8, s::SsLeft},
    {IDC_IGNORED_EDIT, K::Edit, "", 144, 106, 36, 14, s::Border | TS | s::EsAutoHScroll},
    {IDC_IGNORED_SPIN, K::UpDown, "", 184, 105, 9, 14, kUpDown},
    {-1, K::GroupBox, "端口设置", 7, 89, 191, 47, 0},
};

constexpr ControlTemplate kDetail[] = {
    {IDOK, K::DefPushButton, "返回", 87, 197, 70, 14, TS},
    {IDC_DETAIL_AREA, K::StaticFrame, "", 7, 7, 224, 181, s::SsWhiteRect},
};

constexpr ControlTemplate kAbout[] = {
    {IDOK, K::DefPushButton, "确定", 270, 91, 38, 14, TS | s::Group},
    {IDB_ABOUT, K::StaticPicture, "136", 7, 7, 32, 32, s::SsBitmap | s::SsRealSizeImage},
    {IDC_ABOUT_PAGE, K::Static, "static", 113, 7, 195, 66, s::SsLeft},
};

// Captions on the left, the figures beside them; refreshed while it is open.
constexpr ControlTemplate kCaptureStats[] = {
    {IDOK, K::DefPushButton, "关闭", 107, 216, 50, 14, TS},
    {-1, K::Static, "状态:", 10, 10, 84, 8, s::SsLeft},
    {IDC_STATS_STATE, K::Static, "", 96, 10, 160, 8, s::SsLeft},
    {-1, K::Static, "来源:", 10, 22, 84, 8, s::SsLeft},
    {IDC_STATS_SOURCE, K::Static, "", 96, 22, 160, 8, s::SsLeft},
    {-1, K::Static, "开始时间:", 10, 34, 84, 8, s::SsLeft},
    {IDC_STATS_STARTED, K::Static, "", 96, 34, 160, 8, s::SsLeft},
    {-1, K::Static, "持续时间:", 10, 46, 84, 8, s::SsLeft},
    {IDC_STATS_DURATION, K::Static, "", 96, 46, 160, 8, s::SsLeft},
    {-1, K::Static, "收到的数据报:", 10, 62, 84, 8, s::SsLeft},
    {IDC_STATS_RECEIVED, K::Static, "", 96, 62, 160, 8, s::SsLeft},
    {-1, K::Static, "内核丢弃的数据报:", 10, 74, 84, 8, s::SsLeft},
    {IDC_STATS_KERNEL_DROPS, K::Static, "", 96, 74, 160, 8, s::SsLeft},
    // IPv6 is read through a handle of its own: its figures apart.
    {-1, K::Static, "IPv6 数据报:", 10, 86, 84, 8, s::SsLeft},
    {IDC_STATS_IPV6_RECEIVED, K::Static, "", 96, 86, 160, 8, s::SsLeft},
    {-1, K::Static, "IPv6 内核丢弃:", 10, 98, 84, 8, s::SsLeft},
    {IDC_STATS_IPV6_DROPS, K::Static, "", 96, 98, 160, 8, s::SsLeft},
    {-1, K::Static, "过滤器拒绝的数据报:", 10, 110, 84, 8, s::SsLeft},
    {IDC_STATS_FILTERED, K::Static, "", 96, 110, 160, 8, s::SsLeft},
    {-1, K::Static, "插入的行:", 10, 122, 84, 8, s::SsLeft},
    {IDC_STATS_ROWS, K::Static, "", 96, 122, 160, 8, s::SsLeft},
    {-1, K::Static, "500 行上限清除的行:", 10, 134, 84, 8, s::SsLeft},
    {IDC_STATS_EMPTIED, K::Static, "", 96, 134, 160, 8, s::SsLeft},
    {-1, K::Static, "文件进度:", 10, 146, 84, 8, s::SsLeft},
    {IDC_STATS_PROGRESS, K::Static, "", 96, 146, 160, 8, s::SsLeft},
    // The recording (记录到文件...): its state, file and what the file holds.
    {-1, K::Static, "记录:", 10, 162, 84, 8, s::SsLeft},
    {IDC_STATS_REC_STATE, K::Static, "", 96, 162, 160, 8, s::SsLeft},
    {-1, K::Static, "记录文件:", 10, 174, 84, 8, s::SsLeft},
    {IDC_STATS_REC_FILE, K::Static, "", 96, 174, 160, 8, s::SsLeft},
    {-1, K::Static, "记录的数据报:", 10, 186, 84, 8, s::SsLeft},
    {IDC_STATS_REC_DATAGRAMS, K::Static, "", 96, 186, 160, 8, s::SsLeft},
    {-1, K::Static, "写入的字节:", 10, 198, 84, 8, s::SsLeft},
    {IDC_STATS_REC_BYTES, K::Static, "", 96, 198, 160, 8, s::SsLeft},
};

// Who is talking: the rates above, the filter box, the conversations below.
// The window may be made larger: the chart and the lines take the room.
constexpr ControlTemplate kConversations[] = {
    {IDC_CONV_CHART, K::StaticFrame, "", 7, 7, 506, 96, s::SsWhiteRect},
    {-1, K::Static, "筛选:", 7, 112, 24, 8, s::SsLeft},
    {IDC_CONV_FILTER, K::Edit, "", 33, 110, 150, 12, s::Border | TS | s::EsAutoHScroll},
    {IDC_CONV_SUMMARY, K::Static, "", 191, 112, 322, 8, s::SsLeft},
    {IDC_CONV_LIST, K::ListView, "", 7, 127, 506, 176, s::Border | TS | s::LvsShowSelAlways},
    {IDC_CONV_EXPORT, K::PushButton, "导出...", 7, 310, 50, 14, TS},
    {IDOK, K::PushButton, "关闭", 463, 310, 50, 14, TS},
};

// The alerts kept, the newest on top; the window may be made larger.
constexpr ControlTemplate kAlerts[] = {
    {IDC_ALERTS_SUMMARY, K::Static, "", 7, 7, 406, 8, s::SsLeft},
    {IDC_ALERTS_LIST, K::ListView, "", 7, 19, 406, 196, s::Border | TS | s::LvsShowSelAlways},
    {IDOK, K::PushButton, "关闭", 363, 222, 50, 14, TS},
};

// The text box first, so that it takes the focus when the window opens.
constexpr ControlTemplate kFind[] = {
    {IDC_FIND_TEXT, K::Edit, "", 46, 7, 144, 14, s::Border | TS | s::EsAutoHScroll},
    {IDC_FIND_NEXT, K::DefPushButton, "下一个", 197, 7, 50, 14, TS},
    {IDC_FIND_PREVIOUS, K::PushButton, "上一个", 197, 25, 50, 14, TS},
    {IDC_FIND_CASE, K::CheckBox, "区分大小写", 46, 26, 66, 12, TS},
    {IDC_FIND_HEX, K::CheckBox, "十六进制", 118, 26, 60, 12, TS},
    {-1, K::Static, "查找内容:", 7, 10, 38, 8, s::SsLeft},
    {IDC_FIND_STATUS, K::Static, "", 7, 44, 240, 8, s::SsLeft},
};

constexpr DialogTemplate kTemplates[] = {
    {IDD_MONITOR_DIALOG, "quorvelanv1.05", 456, 333, "宋体", 9, true, kMonitor},
    {IDD_FILTER_DIALOG, "IDS过滤器", 239, 154, "宋体", 10, false, kFilter},
    {IDD_EVENT_DETAIL, "Dialog", 238, 218, "宋体", 10, false, kDetail},
    {IDD_ABOUTBOX, "关于 quorvelan", 315, 112, "宋体", 9, false, kAbout},
    {IDD_CAPTURE_STATS, "捕获统计", 264, 237, "宋体", 9, false, kCaptureStats},
    {IDD_CONVERSATIONS, "连接", 520, 331, "宋体", 9, true, kConversations},
    {IDD_FIND, "查找", 254, 58, "宋体", 9, false, kFind},
    {IDD_ALERTS, "提醒", 420, 243, "宋体", 9, true, kAlerts},
};

}  // namespace

const DialogTemplate& DialogTemplateById(int id) {
    for (const auto& t : kTemplates) {
        if (t.id == id)
            return t;
    }
    std::abort();  // a resource the program was built without
}
