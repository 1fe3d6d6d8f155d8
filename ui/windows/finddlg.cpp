#include "ui/windows/finddlg.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QTableView>
#include <QToolTip>

#include "capture/row_batch.h"
#include "framework/gbk.h"
#include "res/dialogs.h"
#include "res/resource.h"
#include "res/strings.h"

namespace {

QLineEdit* LineEdit(const CWnd& w) {
    return qobject_cast<QLineEdit*>(w.GetSafeHwnd());
}

// The tooltip of a match the data column cannot show: its offset, then the
// text around it with the match in bold. Plain text made safe for the rich
// text a tooltip reads.
QString ContextTip(std::span<const uint8_t> payload, size_t offset, size_t length,
                   NeedleEncoding encoding) {
    const MatchContext c = PayloadContext(payload, offset, length, encoding);
    return QStringLiteral("<p style='white-space:pre-wrap'>") +
           FormatString(IDS_FIND_CONTEXT, QString::number(offset)).toHtmlEscaped() +
           QStringLiteral("<br>") + c.text.left(c.matchStart).toHtmlEscaped() +
           QStringLiteral("<b>") + c.text.mid(c.matchStart, c.matchLength).toHtmlEscaped() +
           QStringLiteral("</b>") + c.text.mid(c.matchStart + c.matchLength).toHtmlEscaped() +
           QStringLiteral("</p>");
}

}  // namespace

CFindDlg::CFindDlg(CListCtrl& list, CWnd& dataPane, std::function<void()> showSelectedRow,
                   CWnd* parent)
    : CDialog(DialogTemplateById(IDD_FIND), parent),
      list_(list),
      pane_(dataPane),
      showSelectedRow_(std::move(showSelectedRow)),
      finder_(list) {
    connect(&finder_, &ListFinder::rowsChanged, this, [this] { ScheduleRefresh(); });
    // A click or a key in the list puts another row's data in the pane: the
    // tip of the match shown before no longer belongs to it.
    connect(&list_, &CListCtrl::itemClicked, this, [this] { SetPaneTip({}); });
    connect(&list_, &CListCtrl::keyDown, this, [this] { SetPaneTip({}); });
}

void CFindDlg::DoDataExchange() {
    DDX_Control(IDC_FIND_TEXT, m_text);
    DDX_Control(IDC_FIND_NEXT, m_next);
    DDX_Control(IDC_FIND_PREVIOUS, m_previous);
    DDX_Control(IDC_FIND_CASE, m_case);
    DDX_Control(IDC_FIND_HEX, m_hex);
    DDX_Control(IDC_FIND_STATUS, m_status);
}

bool CFindDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    // What was typed before the window was last closed.
    m_case.SetCheck(finder_.Options().caseSensitive);
    m_hex.SetCheck(finder_.Options().hex);
    if (QLineEdit* edit = LineEdit(m_text)) {
        edit->setText(finder_.Text());
        edit->selectAll();
        connect(edit, &QLineEdit::textChanged, this, [this] { QueryChanged(); });
    }
    window()->installEventFilter(this);
    Place();
    // The pane's tooltip is wanted while this window has the keys; Qt shows
    // tooltips only in the active window unless told otherwise.
    if (QWidget* owner = window()->parentWidget()) {
        owner->setAttribute(Qt::WA_AlwaysShowToolTips, true);
    }
    if (QTableView* v = list_.view()) {
        connect(v->selectionModel(), &QItemSelectionModel::selectionChanged, window(),
                [this] { ScheduleRefresh(); });
    }
    RefreshStatus();
    return true;
}

void CFindDlg::OnDestroy() {
    if (QWidget* owner = window()->parentWidget()) {
        owner->setAttribute(Qt::WA_AlwaysShowToolTips, false);
    }
}

void CFindDlg::Place() {
    QWidget* owner = window()->parentWidget();
    QWidget* pane = pane_.GetSafeHwnd();
    if (!owner || !pane) {
        return;
    }
    // Just under the main window, lined up with the list and the pane, where
    // it covers nothing; on a screen without room there, over the lower band
    // just under the pane, so that the list and the pane stay in sight. The
    // main window's controls keep their places either way.
    const QRect frame = owner->frameGeometry();
    const int frameExtra = frame.height() - owner->height();
    const QPoint below(pane->mapToGlobal(QPoint(0, 0)).x() - (owner->geometry().x() - frame.x()),
                       frame.bottom() + 1);
    const QScreen* screen = owner->screen();
    const bool fits = screen && below.y() + window()->height() + frameExtra <=
                                    screen->availableGeometry().bottom() + 1;
    window()->move(fits ? below : pane->mapToGlobal(QPoint(0, pane->height() + 4)));
}

void CFindDlg::Open() {
    if (IsOpen()) {
        window()->raise();
    } else {
        Create();
    }
    window()->activateWindow();
    if (QLineEdit* edit = LineEdit(m_text)) {
        edit->setFocus(Qt::ShortcutFocusReason);
        edit->selectAll();
    }
}

void CFindDlg::OnCancel() {
    DestroyWindow();
    if (QTableView* v = list_.view()) {
        v->window()->activateWindow();
        v->setFocus(Qt::OtherFocusReason);
    }
}

void CFindDlg::OnCommand(int id) {
    switch (id) {
        case IDC_FIND_NEXT:
            FindNext(true);
            break;
        case IDC_FIND_PREVIOUS:
            FindNext(false);
            break;
        case IDC_FIND_CASE:
        case IDC_FIND_HEX:
            QueryChanged();
            break;
        default:
            break;
    }
}

bool CFindDlg::eventFilter(QObject* watched, QEvent* event) {
    // Keys that the focused control leaves alone reach the window: Return
    // from the text box and the check boxes (a focused button takes its own),
    // F3 from anywhere in it.
    if (watched == window() && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool shift = key->modifiers() & Qt::ShiftModifier;
        switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter:
            case Qt::Key_F3:
                FindNext(!shift);
                return true;
            case Qt::Key_F:
                if (key->modifiers() & Qt::ControlModifier) {
                    Open();
                    return true;
                }
                break;
            default:
                break;
        }
    }
    return CDialog::eventFilter(watched, event);
}

void CFindDlg::QueryChanged() {
    if (!IsOpen()) {
        return;
    }
    const QLineEdit* edit = LineEdit(m_text);
    SearchOptions options;
    options.caseSensitive = m_case.GetCheck() != 0;
    options.hex = m_hex.GetCheck() != 0;
    finder_.SetQuery(edit ? edit->text() : QString(), options);
    RefreshStatus();
}

bool CFindDlg::FindNext(bool forward) {
    const int row = finder_.Find(list_.GetFirstSelectedItem(), forward);
    if (row >= 0) {
        ShowRow(row);
    }
    RefreshStatus();
    return row >= 0;
}

void CFindDlg::ShowRow(int row) {
    const RowMatch match = finder_.MatchOf(row);
    if (QTableView* v = list_.view()) {
        v->selectionModel()->setCurrentIndex(
            list_.store().index(row, 0),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        v->scrollTo(
            list_.store().index(row, match.place == MatchPlace::kCell ? match.cell : kColData));
    }
    // The pane is filled by the very handler a click on the row runs.
    showSelectedRow_();

    QString tip;
    const std::span<const uint8_t> datagram =
        ReadRowAttachment(list_.GetItemAttachment(row)).datagram;
    const PayloadSpan payload = FindPayload(datagram);
    const std::span<const uint8_t> bytes = datagram.subspan(payload.offset, payload.size);
    if (match.place == MatchPlace::kPayload && match.pastNul) {
        tip = ContextTip(bytes, match.offset, match.length, match.encoding);
    } else if (match.place == MatchPlace::kDatagram && match.offset >= payload.offset &&
               payload.size > 0 && match.offset - payload.offset + match.length > FirstNul(bytes)) {
        // Hex bytes in the payload where the data column stops short of them.
        tip = ContextTip(bytes, match.offset - payload.offset, match.length, NeedleEncoding::kGbk);
    }
    SetPaneTip(tip);
}

void CFindDlg::SetPaneTip(const QString& tip) {
    QWidget* pane = pane_.GetSafeHwnd();
    if (!pane || pane->toolTip() == tip) {
        return;
    }
    pane->setToolTip(tip);
    // A tip on screen would go on showing the text of the row before.
    if (QToolTip::isVisible()) {
        QToolTip::hideText();
    }
}

void CFindDlg::ScheduleRefresh() {
    if (refreshQueued_ || !IsOpen()) {
        return;
    }
    refreshQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshQueued_ = false;
            RefreshStatus();
        },
        Qt::QueuedConnection);
}

void CFindDlg::RefreshStatus() {
    if (!IsOpen()) {
        return;
    }
    const SearchQuery& query = finder_.Query();
    QString text;
    if (!query.ready()) {
        text = QueryErrorText(query.status());  // nothing for an empty text
    } else if (const int count = finder_.Count(); count == 0) {
        text = FromGbk(LoadStringGbk(IDS_FIND_NOT_FOUND));
    } else {
        const int row = list_.GetFirstSelectedItem();
        const int place = finder_.Ordinal(row);
        text =
            FormatString(IDS_FIND_COUNT, place > 0 ? QString::number(place) : QStringLiteral("-"),
                         QString::number(count));
        const RowMatch match = place > 0 ? finder_.MatchOf(row) : RowMatch{};
        if (match.place == MatchPlace::kPayload && match.pastNul) {
            text = FormatString(IDS_FIND_PAST_NUL, text, QString::number(match.offset));
        } else if (match.place == MatchPlace::kDatagram) {
            text = FormatString(IDS_FIND_IN_DATAGRAM, text, QString::number(match.offset));
        }
    }
    m_status.SetWindowText(ToGbk(text));
}
