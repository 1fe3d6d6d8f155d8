#pragma once
// Dialog templates as data: each control with its id, kind, text, rectangle in
// dialog units and style bits. The data itself lives in res/.
#include <cstdint>
#include <span>
#include <string_view>

enum class ControlKind {
    PushButton,
    DefPushButton,  // the dialog's default button
    CheckBox,       // a box the person ticks; each click is a command like a button's
    GroupBox,
    Static,         // static text; style bits say alignment
    StaticPicture,  // static control showing a bitmap resource (text = resource id as decimal)
    StaticFrame,    // plain rectangle (e.g. white placeholder frame)
    Edit,
    ListBox,
    ListView,
    IpAddress,
    UpDown,
};

// Style bits that the framework honours (a subset of the Windows ones, same values).
namespace ctlstyle {
inline constexpr uint32_t TabStop = 0x00010000;   // WS_TABSTOP
inline constexpr uint32_t Group = 0x00020000;     // WS_GROUP
inline constexpr uint32_t Disabled = 0x08000000;  // WS_DISABLED
inline constexpr uint32_t Border = 0x00800000;    // WS_BORDER
inline constexpr uint32_t VScroll = 0x00200000;   // WS_VSCROLL
inline constexpr uint32_t HScroll = 0x00100000;   // WS_HSCROLL
// edit
inline constexpr uint32_t EsMultiline = 0x0004;
inline constexpr uint32_t EsAutoVScroll = 0x0040;
inline constexpr uint32_t EsAutoHScroll = 0x0080;
inline constexpr uint32_t EsReadOnly = 0x0800;
inline constexpr uint32_t EsNumber = 0x2000;
inline constexpr uint32_t EsWantReturn = 0x1000;
// list box
inline constexpr uint32_t LbsNotify = 0x0001;
inline constexpr uint32_t LbsSort = 0x0002;
inline constexpr uint32_t LbsNoIntegralHeight = 0x0100;
// list view
inline constexpr uint32_t LvsList = 0x0003;
inline constexpr uint32_t LvsShowSelAlways = 0x0008;
inline constexpr uint32_t LvsSingleSel = 0x0004;
// static
inline constexpr uint32_t SsLeft = 0x0000;
inline constexpr uint32_t SsWhiteRect = 0x0006;
inline constexpr uint32_t SsBitmap = 0x000E;
inline constexpr uint32_t SsRealSizeImage = 0x0800;
// up-down
inline constexpr uint32_t UdsSetBuddyInt = 0x0002;
inline constexpr uint32_t UdsAlignRight = 0x0004;
inline constexpr uint32_t UdsAutoBuddy = 0x0010;
inline constexpr uint32_t UdsArrowKeys = 0x0020;
inline constexpr uint32_t UdsNoThousands = 0x0080;
inline constexpr uint32_t UdsWrap = 0x0001;
}  // namespace ctlstyle

struct ControlTemplate {
    int id;  // -1 for controls without an identifier of their own
    ControlKind kind;
    std::string_view text;  // UTF-8 in the source; the framework shows it as is
    int x, y, cx, cy;       // dialog units
    uint32_t style;
};

struct DialogTemplate {
    int id;
    std::string_view caption;   // UTF-8
    int cx, cy;                 // dialog units
    std::string_view fontFace;  // UTF-8, e.g. "宋体"
    int fontPoints;
    bool minimizeBox;
    std::span<const ControlTemplate> controls;  // template order = tab order
};
