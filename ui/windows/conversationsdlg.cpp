#include "ui/windows/conversationsdlg.h"

#include <QDateTime>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QShortcut>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <unordered_map>

#include "capture/clock.h"
#include "framework/gbk.h"
#include "framework/textcells.h"
#include "res/dialogs.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/capturefiles/capturefiles.h"

namespace {

// Once a second, a little after the second turns: the chart's newest point
// is then a whole second with its last batch merged (a batch is handed over
// every 100 ms), and people read the counts no faster.
constexpr qint64 kRefreshMs = 1000;
constexpr qint64 kAfterSecondMs = 200;

// Until the next refresh is due, measured from the wall clock as the chart's
// seconds are. Never so soon that a tick that came a little early runs twice.
int NextRefreshIn() {
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    qint64 wait = kRefreshMs - (now - kAfterSecondMs) % kRefreshMs;
    if (wait < kRefreshMs / 4)
        wait += kRefreshMs;
    return static_cast<int>(wait);
}

// Column widths in characters of the window's font.
constexpr int kColumnChars[ConversationModel::kColumns] = {5, 12, 7, 12, 7,  18, 14, 7,  8,
                                                           8, 9,  8, 9,  22, 22, 6,  10, 24};

}  // namespace

CConversationsDlg::CConversationsDlg(ConversationTracker& tracker, const CaptureSession& session,
                                     CWnd* parent, FileDialogs::SaveDialog exportDialog)
    : CDialog(DialogTemplateById(IDD_CONVERSATIONS), parent),
      tracker_(tracker),
      session_(session),
      exportDialog_(std::move(exportDialog)) {}

CConversationsDlg::~CConversationsDlg() = default;

QTableView* CConversationsDlg::Lines() const {
    return qobject_cast<QTableView*>(GetDlgItem(IDC_CONV_LIST));
}

bool CConversationsDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    QDialog* w = window();
    // The lines want room: the window may grow beyond its template. The
    // chart takes a third of the added height, the lines the rest.
    growth_.Take(*this, [](int id, QRect& r, int dw, int dh) {
        const int chartGrows = dh / 3;
        switch (id) {
            case IDC_CONV_CHART:
                r.setSize(r.size() + QSize(dw, chartGrows));
                break;
            case IDC_CONV_SUMMARY:
                r.translate(0, chartGrows);
                r.setWidth(r.width() + dw);
                break;
            case IDC_CONV_LIST:
                r.translate(0, chartGrows);
                r.setSize(r.size() + QSize(dw, dh - chartGrows));
                break;
            case IDC_CONV_EXPORT:
                r.translate(0, dh);
                break;
            case IDOK:
                r.translate(dw, dh);
                break;
            default:  // the filter box and its caption
                r.translate(0, chartGrows);
                break;
        }
    });
    w->installEventFilter(this);

    if (QWidget* frame = GetDlgItem(IDC_CONV_CHART)) {
        auto* layout = new QVBoxLayout(frame);
        layout->setContentsMargins(1, 1, 1, 1);
        chart_ = new RateChart(frame);
        layout->addWidget(chart_);
    }

    model_ = std::make_unique<ConversationModel>(tracker_);
    if (QTableView* view = Lines()) {
        view->setModel(model_.get());
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setWordWrap(false);
        view->setTextElideMode(Qt::ElideRight);
        // Refreshed every second: the stock delegate measures each cell's text
        // before drawing it, at every paint.
        view->setItemDelegate(new TextCells(view));
        view->verticalHeader()->hide();
        view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
        view->horizontalHeader()->setHighlightSections(false);
        const int ch = view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
        for (int c = 0; c < ConversationModel::kColumns; ++c)
            view->setColumnWidth(c, kColumnChars[c] * ch + 10);
        // No order until a heading is clicked: the order in which conversations came.
        view->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
        view->setSortingEnabled(true);

        // Many lines changed at once reach the view as a reset: the selection,
        // the current line and the scrolled place stay with their conversations.
        auto saved = std::make_shared<std::pair<std::vector<uint64_t>, uint64_t>>();
        auto scrolled = std::make_shared<int>(0);
        connect(model_.get(), &QAbstractItemModel::modelAboutToBeReset, this,
                [this, view, saved, scrolled] {
                    saved->first.clear();
                    for (const QModelIndex& i : view->selectionModel()->selectedRows())
                        saved->first.push_back(model_->IdAt(i.row()));
                    saved->second = model_->IdAt(view->currentIndex().row());
                    *scrolled = view->verticalScrollBar()->value();
                });
        connect(model_.get(), &QAbstractItemModel::modelReset, this, [this, view, saved, scrolled] {
            // One pass over the lines, however many are selected.
            std::unordered_map<uint64_t, int> rowOf;
            rowOf.reserve(static_cast<size_t>(model_->rowCount()));
            for (int r = 0; r < model_->rowCount(); ++r)
                rowOf.emplace(model_->IdAt(r), r);
            QItemSelection selection;
            for (const uint64_t id : saved->first) {
                if (const auto it = rowOf.find(id); it != rowOf.end())
                    selection.select(model_->index(it->second, 0),
                                     model_->index(it->second, ConversationModel::kColumns - 1));
            }
            const auto currentRow = rowOf.find(saved->second);
            const int current = currentRow != rowOf.end() ? currentRow->second : -1;
            if (current >= 0)
                view->selectionModel()->setCurrentIndex(model_->index(current, 0),
                                                        QItemSelectionModel::NoUpdate);
            view->selectionModel()->select(selection, QItemSelectionModel::Select);
            view->verticalScrollBar()->setValue(*scrolled);
        });
    }
    if (auto* filter = qobject_cast<QLineEdit*>(GetDlgItem(IDC_CONV_FILTER))) {
        filter->installEventFilter(this);
        connect(filter, &QLineEdit::textChanged, this, [this](const QString& text) {
            model_->SetFilterText(text);
            Refresh();
        });
    }
    auto* save = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), w);
    connect(save, &QShortcut::activated, this, [this] { OnExport(); });

    Refresh();
    auto* clock = new QTimer(w);
    clock->setSingleShot(true);
    clock->setTimerType(Qt::PreciseTimer);
    connect(clock, &QTimer::timeout, this, [this, clock] {
        Refresh();
        clock->start(NextRefreshIn());
    });
    clock->start(NextRefreshIn());
    return true;
}

void CConversationsDlg::OnDestroy() {
    // The view goes with the window; the model must not outlive it unseen.
    if (QTableView* view = Lines())
        view->setModel(nullptr);
    model_.reset();
    chart_ = nullptr;
}

void CConversationsDlg::OnCommand(int id) {
    if (id == IDC_CONV_EXPORT)
        OnExport();
}

void CConversationsDlg::Refresh() {
    if (!IsOpen() || !model_)
        return;
    model_->Refresh();

    const bool running = session_.CaptureThreadRunning() && !session_.CaptureThreadEnded();
    const RateHistory& rates = tracker_.Rates();
    const bool live =
        rates.NewestSecond() == RateHistory::kNone || (!tracker_.FromFile() && running);
    // Live traffic moves on while nothing arrives: the chart ends at the
    // last whole second (so does an empty chart). A capture file, or a
    // capture that ended, ends at its last datagram.
    const int64_t end = live ? static_cast<int64_t>(std::time(nullptr)) - 1 : rates.NewestSecond();
    if (chart_)
        chart_->SetSeries(rates.Series(end), live);

    const ConversationTable& table = tracker_.Table();
    QString summary = FormatString(IDS_CONV_SUMMARY, QString::number(table.Size()),
                                   QString::number(model_->rowCount()));
    if (table.Dropped() > 0)
        summary += FormatString(IDS_CONV_DROPPED, QString::number(table.Capacity()),
                                QString::number(table.Dropped()));
    if (table.LostDatagrams() > 0)
        summary += FormatString(IDS_CONV_LOST, QString::number(table.LostDatagrams()));
    if (auto* label = qobject_cast<QLabel*>(GetDlgItem(IDC_CONV_SUMMARY)))
        label->setText(summary);
}

void CConversationsDlg::OnExport() {
    if (!IsOpen() || !model_)
        return;
    const QString name = QString::fromStdString(LocalTimeText("quorvelan-connections-%d-%H-%M-%S"));
    const std::optional<QString> path = exportDialog_(window(), name);
    if (!path || !model_)
        return;
    // The lines as they stand when writing starts, narrowed and ordered as shown.
    model_->Refresh();
    const SaveResult result =
        WriteWholeFile(QFile::encodeName(*path).toStdString(), ConversationsCsv(model_->Lines()),
                       busyFile_ ? busyFile_() : std::nullopt);
    if (result.kind == SaveResult::kRefused)
        AfxMessageBoxUtf8(SaveRefusalText(result.refusal, *path), MB_ICONSTOP);
    else if (!result.ok())
        AfxMessageBoxUtf8(FormatString(IDP_CSV_WRITE_FAILED, *path,
                                       QString::fromLocal8Bit(std::strerror(result.error))),
                          MB_ICONSTOP);
}

bool CConversationsDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window() && event->type() == QEvent::Resize) {
        growth_.Arrange();
    } else if (event->type() == QEvent::KeyPress && watched == GetDlgItem(IDC_CONV_FILTER)) {
        // Enter in the box only narrows the lines; it does not press a button.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            return true;
    }
    return CDialog::eventFilter(watched, event);
}
