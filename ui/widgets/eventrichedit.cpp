#include "ui/widgets/eventrichedit.h"

namespace {
constexpr unsigned kEffectsAllButColorBoldUnderline = 0xBFFFFFFA;
}

bool CEventRichEdit::OnCreate() {
    CHARFORMAT cf;
    cf.dwMask = CFM_FACE | CFM_SIZE;
    cf.szFaceName = "MS Sans Serif";  // falls back to an installed face
    cf.yHeight = 180;                 // 9 points
    SetDefaultCharFormat(cf);
    return true;
}

void CEventRichEdit::AppendColoredText(std::string_view text, unsigned color) {
    AppendStyledText(text, color, 0, 0);
}

void CEventRichEdit::AppendStyledText(std::string_view text, unsigned color, int underline,
                                      int bold) {
    if (!GetSafeHwnd()) {
        return;  // the control could not be made: appends do nothing
    }
    const int start = GetTextLength();
    SetSel(start, start);
    ReplaceSel(text, false);
    SetSel(start, GetTextLength());
    CHARFORMAT cf;
    cf.dwMask = CFM_COLOR | CFM_BOLD | CFM_UNDERLINE;
    cf.dwEffects = kEffectsAllButColorBoldUnderline;
    if (underline)
        cf.dwEffects |= CFE_UNDERLINE;
    if (bold)
        cf.dwEffects |= CFE_BOLD;
    cf.crTextColor = color;
    SetSelectionCharFormat(cf);
    HideSelection(true, false);
    LineScroll(1, 0);
}
