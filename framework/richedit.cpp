#include "framework/richedit.h"

#include <QApplication>
#include <QClipboard>
#include <QFontDatabase>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <vector>

#include "framework/dlgtemplate.h"
#include "framework/gbk.h"

namespace {

QColor FromColorRef(unsigned c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

unsigned ToColorRef(const QColor& c) {
    return static_cast<unsigned>(c.red()) | (static_cast<unsigned>(c.green()) << 8) |
           (static_cast<unsigned>(c.blue()) << 16);
}

// A face that is not installed would leave the choice to the font matcher; take the
// system's general font instead so the result is predictable.
QString InstalledFace(const QString& face) {
    for (const QString& family : QFontDatabase::families()) {
        if (family.compare(face, Qt::CaseInsensitive) == 0) {
            return family;
        }
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

void ClearForeground(QTextCursor& c) {
    if (!c.hasSelection()) {
        QTextCharFormat at = c.charFormat();
        at.clearForeground();
        c.setCharFormat(at);
        return;
    }
    const int from = c.selectionStart();
    const int to = c.selectionEnd();
    // Collected first: rewriting a run merges and splits fragments under an iterator.
    struct Run {
        int start, end;
        QTextCharFormat format;
    };
    std::vector<Run> runs;
    for (QTextBlock b = c.document()->findBlock(from); b.isValid() && b.position() < to;
         b = b.next()) {
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextFragment frag = it.fragment();
            const int s = std::max(from, frag.position());
            const int e = std::min(to, frag.position() + frag.length());
            if (s < e) {
                runs.push_back({s, e, frag.charFormat()});
            }
        }
    }
    QTextCursor run(c.document());
    for (Run& r : runs) {
        r.format.clearForeground();
        run.setPosition(r.start);
        run.setPosition(r.end, QTextCursor::KeepAnchor);
        run.setCharFormat(r.format);
    }
}

// Windows line ends count as one line break here.
QString NormalizeBreaks(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

}  // namespace

CRichEditCtrl::~CRichEditCtrl() {
    if (m_created && m_hWnd) {
        delete m_hWnd.data();
    }
}

bool CRichEditCtrl::Create(unsigned style, const QRect& rect, QWidget* parent, int id) {
    if (m_hWnd || ((style & winstyle::Child) && !parent)) {
        return false;
    }
    auto* edit = new QTextEdit(parent);
    edit->setReadOnly(true);
    edit->setAcceptRichText(false);
    edit->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    edit->setFrameShape((style & ctlstyle::Border) ? QFrame::StyledPanel : QFrame::NoFrame);
    edit->setVerticalScrollBarPolicy((style & ctlstyle::VScroll) ? Qt::ScrollBarAsNeeded
                                                                 : Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy((style & ctlstyle::HScroll) ? Qt::ScrollBarAsNeeded
                                                                   : Qt::ScrollBarAlwaysOff);
    // A horizontal scroll bar means long lines run on instead of wrapping.
    edit->setLineWrapMode((style & (ctlstyle::HScroll | ctlstyle::EsAutoHScroll))
                              ? QTextEdit::NoWrap
                              : QTextEdit::WidgetWidth);
    edit->setGeometry(rect);
    edit->setProperty(kCtlIdProperty, id);
    edit->setEnabled(!(style & ctlstyle::Disabled));
    // Without the tab-stop style Tab passes it by; a click still gives it the focus.
    edit->setFocusPolicy((style & ctlstyle::TabStop) ? Qt::StrongFocus : Qt::ClickFocus);
    Attach(edit);
    m_created = true;
    if (!OnCreate()) {
        Detach();
        m_created = false;
        delete edit;
        return false;
    }
    if (style & winstyle::Visible) {
        edit->show();
    }
    return true;
}

void CRichEditCtrl::PreSubclassWindow() {
    QTextEdit* edit = widget();
    if (!edit) {
        return;
    }
    m_hidden = false;
    m_hiddenSel = QTextCursor();
    auto operatorMoved = [this] {
        if (!m_moving && m_hidden) {
            m_hidden = false;
            m_hiddenSel = QTextCursor();
        }
    };
    connect(edit, &QTextEdit::cursorPositionChanged, this, operatorMoved);
    connect(edit, &QTextEdit::selectionChanged, this, operatorMoved);
}

QTextCursor CRichEditCtrl::selection() const {
    if (m_hidden && !m_hiddenSel.isNull()) {
        return m_hiddenSel;
    }
    QTextEdit* edit = widget();
    return edit ? edit->textCursor() : QTextCursor();
}

void CRichEditCtrl::setSelection(const QTextCursor& cursor) {
    QTextEdit* edit = widget();
    if (!edit) {
        return;
    }
    m_moving = true;
    if (m_hidden) {
        m_hiddenSel = cursor;
        QTextCursor caret(cursor);
        caret.clearSelection();
        edit->setTextCursor(caret);
    } else {
        edit->setTextCursor(cursor);
    }
    m_moving = false;
}

int CRichEditCtrl::GetTextLength() const {
    QTextEdit* edit = widget();
    // characterCount() includes the separator after the last block.
    return edit ? edit->document()->characterCount() - 1 : 0;
}

void CRichEditCtrl::SetSel(int start, int end) {
    QTextEdit* edit = widget();
    if (!edit) {
        return;
    }
    const int length = GetTextLength();
    if (start < 0) {
        // Windows: a negative start removes the selection and leaves the caret at its end.
        QTextCursor c = selection();
        c.clearSelection();
        setSelection(c);
        return;
    }
    if (end < 0 || end > length) {
        end = length;
    }
    start = std::min(start, length);
    QTextCursor c(edit->document());
    c.setPosition(start);
    c.setPosition(end, QTextCursor::KeepAnchor);
    setSelection(c);
}

void CRichEditCtrl::GetSel(int& start, int& end) const {
    const QTextCursor c = selection();
    start = c.isNull() ? 0 : c.selectionStart();
    end = c.isNull() ? 0 : c.selectionEnd();
}

void CRichEditCtrl::ReplaceSel(std::string_view gbk, bool canUndo) {
    QTextEdit* edit = widget();
    if (!edit) {
        return;
    }
    QTextDocument* doc = edit->document();
    const bool undo = doc->isUndoRedoEnabled();
    if (!canUndo) {
        doc->setUndoRedoEnabled(false);
    }
    QTextCursor c = selection();
    // insertText() takes the text as it is: no markup is parsed.
    c.insertText(NormalizeBreaks(FromGbk(gbk)));
    setSelection(c);
    if (!canUndo) {
        doc->setUndoRedoEnabled(undo);
    }
}

bool CRichEditCtrl::SetSelectionCharFormat(const CHARFORMAT& cf) {
    QTextEdit* edit = widget();
    if (!edit) {
        return false;
    }
    QTextCharFormat f;
    if (cf.dwMask & CFM_BOLD) {
        f.setFontWeight((cf.dwEffects & CFE_BOLD) ? QFont::Bold : QFont::Normal);
    }
    if (cf.dwMask & CFM_ITALIC) {
        f.setFontItalic(cf.dwEffects & CFE_ITALIC);
    }
    if (cf.dwMask & CFM_UNDERLINE) {
        f.setFontUnderline(cf.dwEffects & CFE_UNDERLINE);
    }
    if ((cf.dwMask & CFM_FACE) && !cf.szFaceName.empty()) {
        f.setFontFamilies({InstalledFace(FromGbk(cf.szFaceName))});
    }
    if ((cf.dwMask & CFM_SIZE) && cf.yHeight > 0) {
        f.setFontPointSize(static_cast<qreal>(cf.yHeight) / 20.0);
    }
    QTextCursor c = selection();
    if ((cf.dwMask & CFM_COLOR) && !(cf.dwEffects & CFE_AUTOCOLOR)) {
        f.setForeground(FromColorRef(cf.crTextColor));
    }
    c.mergeCharFormat(f);
    if ((cf.dwMask & CFM_COLOR) && (cf.dwEffects & CFE_AUTOCOLOR)) {
        // The automatic colour is the absence of a colour of its own; a merge cannot
        // remove a property, so each run of the selection is rewritten without it.
        ClearForeground(c);
    }
    setSelection(c);
    return true;
}

bool CRichEditCtrl::SetDefaultCharFormat(const CHARFORMAT& cf) {
    QTextEdit* edit = widget();
    if (!edit) {
        return false;
    }
    QFont font = edit->document()->defaultFont();
    if ((cf.dwMask & CFM_FACE) && !cf.szFaceName.empty()) {
        font.setFamilies({InstalledFace(FromGbk(cf.szFaceName))});
    }
    if ((cf.dwMask & CFM_SIZE) && cf.yHeight > 0) {
        font.setPointSizeF(static_cast<qreal>(cf.yHeight) / 20.0);
    }
    if (cf.dwMask & CFM_BOLD) {
        font.setBold(cf.dwEffects & CFE_BOLD);
    }
    if (cf.dwMask & CFM_ITALIC) {
        font.setItalic(cf.dwEffects & CFE_ITALIC);
    }
    if (cf.dwMask & CFM_UNDERLINE) {
        font.setUnderline(cf.dwEffects & CFE_UNDERLINE);
    }
    // Set on the widget as well: a font of the widget's own is not replaced when the
    // dialog's font reaches its children, and it becomes the document's default.
    edit->setFont(font);
    edit->document()->setDefaultFont(font);
    if (cf.dwMask & CFM_COLOR) {
        QPalette pal = edit->palette();
        pal.setColor(QPalette::Text, (cf.dwEffects & CFE_AUTOCOLOR)
                                         ? QApplication::palette().color(QPalette::Text)
                                         : FromColorRef(cf.crTextColor));
        edit->setPalette(pal);
    }
    return true;
}

CHARFORMAT CRichEditCtrl::GetCharFormatAt(int index) const {
    CHARFORMAT cf;
    QTextEdit* edit = widget();
    if (!edit || index < 0 || index >= GetTextLength()) {
        return cf;
    }
    QTextDocument* doc = edit->document();
    const QTextBlock block = doc->findBlock(index);
    QTextCharFormat f;
    if (index == block.position() + block.length() - 1 && block.next().isValid()) {
        // A line break: its format is kept as the next block's character format.
        f = block.next().charFormat();
    } else {
        QTextCursor c(doc);
        c.setPosition(index + 1);  // charFormat() is that of the character before the cursor
        f = c.charFormat();
    }
    const QFont font = f.font();
    cf.dwMask = CFM_BOLD | CFM_ITALIC | CFM_UNDERLINE | CFM_COLOR | CFM_FACE | CFM_SIZE;
    cf.dwEffects = (font.bold() ? CFE_BOLD : 0u) | (font.italic() ? CFE_ITALIC : 0u) |
                   (font.underline() ? CFE_UNDERLINE : 0u);
    if (f.hasProperty(QTextFormat::ForegroundBrush) && f.foreground().style() != Qt::NoBrush) {
        cf.crTextColor = ToColorRef(f.foreground().color());
    } else {
        cf.dwEffects |= CFE_AUTOCOLOR;
        cf.crTextColor = ToColorRef(edit->palette().color(QPalette::Text));
    }
    cf.yHeight = static_cast<long>(font.pointSizeF() * 20.0 + 0.5);
    cf.szFaceName = ToGbk(font.family());
    return cf;
}

void CRichEditCtrl::HideSelection(bool hide, bool /*permanent*/) {
    // There is no focus-dependent selection display to change, so permanent adds nothing.
    QTextEdit* edit = widget();
    if (!edit || hide == m_hidden) {
        return;
    }
    const QTextCursor current = selection();
    m_hidden = hide;
    m_hiddenSel = QTextCursor();
    setSelection(current);
}

void CRichEditCtrl::LineScroll(int lines, int chars) {
    QTextEdit* edit = widget();
    if (!edit) {
        return;
    }
    const QFontMetrics metrics(edit->document()->defaultFont());
    if (lines != 0) {
        QScrollBar* bar = edit->verticalScrollBar();
        bar->setValue(bar->value() + lines * metrics.lineSpacing());
    }
    if (chars != 0) {
        QScrollBar* bar = edit->horizontalScrollBar();
        bar->setValue(bar->value() + chars * metrics.averageCharWidth());
    }
}

void CRichEditCtrl::Copy() const {
    const QTextCursor c = selection();
    if (c.isNull() || !c.hasSelection()) {
        return;
    }
    // selectedText() marks line breaks with U+2029; the clipboard wants '\n'.
    QString text = c.selectedText();
    text.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    text.replace(QChar::LineSeparator, QLatin1Char('\n'));
    QApplication::clipboard()->setText(text);
}

void CRichEditCtrl::SetWindowText(std::string_view gbk) {
    if (QTextEdit* edit = widget()) {
        m_hiddenSel = QTextCursor();
        m_moving = true;
        edit->setPlainText(NormalizeBreaks(FromGbk(gbk)));
        m_moving = false;
    }
}

std::string CRichEditCtrl::GetWindowText() const {
    return ToGbk(GetPlainText());
}

QString CRichEditCtrl::GetPlainText() const {
    QTextEdit* edit = widget();
    return edit ? edit->toPlainText() : QString();
}
