#include "ui/windows/alertsdlg.h"

#include <QEvent>
#include <QHeaderView>
#include <QLabel>
#include <QTableView>

#include "framework/gbk.h"
#include "res/dialogs.h"
#include "res/resource.h"
#include "res/strings.h"

namespace {

// Column widths in characters of the window's font.
constexpr int kColumnChars[AlertModel::kColumns] = {20, 9, 60};

}  // namespace

CAlertsDlg::CAlertsDlg(AlertCenter& alerts, CWnd* parent)
    : CDialog(DialogTemplateById(IDD_ALERTS), parent), alerts_(alerts) {}

CAlertsDlg::~CAlertsDlg() {
    QObject::disconnect(added_);
}

QTableView* CAlertsDlg::Lines() const {
    return qobject_cast<QTableView*>(GetDlgItem(IDC_ALERTS_LIST));
}

bool CAlertsDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    QDialog* w = window();
    // The lines take the room beyond the template size.
    growth_.Take(*this, [](int id, QRect& r, int dw, int dh) {
        if (id == IDC_ALERTS_LIST)
            r.setSize(r.size() + QSize(dw, dh));
        else if (id == IDC_ALERTS_SUMMARY)
            r.setWidth(r.width() + dw);
        else if (id == IDOK)
            r.translate(dw, dh);
    });
    w->installEventFilter(this);

    model_ = std::make_unique<AlertModel>(alerts_.Log());
    if (QTableView* view = Lines()) {
        view->setModel(model_.get());
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setWordWrap(false);
        view->setTextElideMode(Qt::ElideRight);
        view->verticalHeader()->hide();
        view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
        view->horizontalHeader()->setHighlightSections(false);
        view->horizontalHeader()->setStretchLastSection(true);
        const int ch = view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
        for (int c = 0; c < AlertModel::kColumns; ++c)
            view->setColumnWidth(c, kColumnChars[c] * ch + 10);
    }
    added_ = connect(&alerts_, &AlertCenter::alertsAdded, this, [this] { Refresh(); });
    Refresh();
    return true;
}

void CAlertsDlg::OnDestroy() {
    QObject::disconnect(added_);
    if (QTableView* view = Lines())
        view->setModel(nullptr);
    model_.reset();
}

void CAlertsDlg::Refresh() {
    if (!IsOpen() || !model_)
        return;
    model_->Refresh();
    const AlertLog& log = alerts_.Log();
    QString summary = FormatString(IDS_ALERTS_SUMMARY, QString::number(log.Size()));
    if (log.Dropped() > 0)
        summary += FormatString(IDS_ALERTS_DROPPED, QString::number(log.Dropped()));
    if (const BlocklistFile* file = alerts_.Blocklist())
        summary +=
            FormatString(IDS_ALERTS_BLOCKLIST, QString::number(file->List()->Ranges().size()));
    if (auto* label = qobject_cast<QLabel*>(GetDlgItem(IDC_ALERTS_SUMMARY)))
        label->setText(summary);
}

bool CAlertsDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window() && event->type() == QEvent::Resize)
        growth_.Arrange();
    return CDialog::eventFilter(watched, event);
}
