#pragma once
// Read-only rich text: runs of plain text with their own colour, weight and underline.
#include <QRect>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextEdit>
#include <string>
#include <string_view>

#include "framework/cwnd.h"

// Window style bits accepted by Create() besides the ctlstyle:: ones (same values as Windows).
namespace winstyle {
inline constexpr unsigned Child = 0x40000000;         // WS_CHILD
inline constexpr unsigned Visible = 0x10000000;       // WS_VISIBLE
inline constexpr unsigned ClipChildren = 0x02000000;  // WS_CLIPCHILDREN
}  // namespace winstyle

inline constexpr unsigned CFM_BOLD = 0x00000001;
inline constexpr unsigned CFM_ITALIC = 0x00000002;
inline constexpr unsigned CFM_UNDERLINE = 0x00000004;
inline constexpr unsigned CFM_FACE = 0x20000000;
inline constexpr unsigned CFM_COLOR = 0x40000000;
inline constexpr unsigned CFM_SIZE = 0x80000000;
inline constexpr unsigned CFE_BOLD = 0x00000001;
inline constexpr unsigned CFE_ITALIC = 0x00000002;
inline constexpr unsigned CFE_UNDERLINE = 0x00000004;
inline constexpr unsigned CFE_AUTOCOLOR = 0x40000000;

struct CHARFORMAT {
    unsigned dwMask = 0;
    unsigned dwEffects = 0;
    long yHeight = 0;          // twips (1/20 point)
    unsigned crTextColor = 0;  // 0x00BBGGRR
    std::string szFaceName;    // GBK bytes
};

class CRichEditCtrl : public CWnd {
    Q_OBJECT
  public:
    ~CRichEditCtrl() override;

    // style: winstyle:: and ctlstyle:: bits (border, scroll bars, visible, disabled, tab stop,
    // ctlstyle::EsAutoHScroll). A child style needs a parent. Fails when the control
    // exists already or OnCreate() refuses.
    bool Create(unsigned style, const QRect& rect, QWidget* parent, int id);

    int GetTextLength() const;        // in characters, the unit of SetSel positions
    void SetSel(int start, int end);  // end -1: to the end of the text
    void GetSel(int& start, int& end) const;
    // Inserts plain text (never markup) in place of the selection; '\n' starts a line.
    void ReplaceSel(std::string_view gbk, bool canUndo = false);
    bool SetSelectionCharFormat(const CHARFORMAT& format);
    bool SetDefaultCharFormat(const CHARFORMAT& format);
    // Format of the character at index, all mask bits set.
    CHARFORMAT GetCharFormatAt(int index) const;
    // Stops showing the current selection. It stays the control's selection for
    // formatting and copying; the highlight returns with HideSelection(false) or when
    // the operator selects text.
    void HideSelection(bool hide, bool permanent);
    void LineScroll(int lines, int chars = 0);
    void Copy() const;  // the current selection to the clipboard

    void SetWindowText(std::string_view gbk) override;
    std::string GetWindowText() const override;
    QString GetPlainText() const;
    QTextEdit* widget() const { return qobject_cast<QTextEdit*>(m_hWnd.data()); }

  protected:
    // Runs once the widget exists and is attached; returning false makes Create() fail.
    virtual bool OnCreate() { return true; }
    void PreSubclassWindow() override;

  private:
    QTextCursor selection() const;
    void setSelection(const QTextCursor& cursor);

    QTextCursor m_hiddenSel;  // the selection while its highlight is hidden
    bool m_hidden = false;
    bool m_moving = false;  // the cursor is being moved by us, not by the operator
    bool m_created = false;
};
