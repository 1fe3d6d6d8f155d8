#include "ui/windows/usagewindow.h"

#include <QButtonGroup>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <cstring>

#include "capture/clock.h"
#include "framework/dialog.h"
#include "res/resource.h"
#include "res/strings.h"
#include "talk/texts.h"
#include "ui/capturefiles/capturefiles.h"
#include "ui/models/usagetotalsmodel.h"
#include "ui/text/plaintext.h"
#include "ui/widgets/usagechart.h"

namespace {

constexpr size_t kDetailLimit = 200;

QTableView* MakeTable(UsageTotalsModel* model, QWidget* parent) {
    auto* view = new QTableView(parent);
    view->setModel(model);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setWordWrap(false);
    view->setTextElideMode(Qt::ElideRight);
    view->verticalHeader()->hide();
    view->verticalHeader()->setDefaultSectionSize(view->fontMetrics().height() + 4);
    view->horizontalHeader()->setHighlightSections(false);
    view->horizontalHeader()->setStretchLastSection(true);
    const int ch = view->fontMetrics().horizontalAdvance(QLatin1Char('0'));
    const int widths[UsageTotalsModel::kColumns] = {16, 22, 9, 9, 9, 10, 24};
    // Again after each reset: the place columns come and go with the kind.
    const auto size = [view, ch, widths] {
        for (int c = 0; c < UsageTotalsModel::kColumns; ++c)
            view->setColumnWidth(c, widths[c] * ch + 10);
    };
    size();
    QObject::connect(model, &QAbstractItemModel::modelReset, view, size);
    return view;
}

QString SelectedKey(QTableView* view) {
    const QModelIndexList rows = view->selectionModel()->selectedRows();
    if (rows.isEmpty())
        return {};
    return rows.first().data(UsageTotalsModel::kKeyRole).toString();
}

std::string BucketTimeText(int64_t start) {
    return QDateTime::fromSecsSinceEpoch(start)
        .toString(QStringLiteral("yyyy-MM-dd HH:mm"))
        .toStdString();
}

}  // namespace

UsageWindow::UsageWindow(Options options, QWidget* parent)
    : QDialog(parent), options_(std::move(options)) {
    if (!options_.now)
        options_.now = [] { return QDateTime::currentDateTime(); };
    if (!options_.exportDialog)
        options_.exportDialog = AskForUsageFile;
    pool_.setMaxThreadCount(1);
    setWindowTitle(LoadStringText(IDS_USAGE_TITLE));
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);

    auto* top = new QHBoxLayout;
    ranges_ = new QButtonGroup(this);
    const int rangeTexts[] = {IDS_USAGE_TODAY, IDS_USAGE_7_DAYS, IDS_USAGE_30_DAYS};
    for (int r = kToday; r <= kLast30Days; ++r) {
        auto* button = new QRadioButton(LoadStringText(rangeTexts[r]), this);
        ranges_->addButton(button, r);
        top->addWidget(button);
    }
    ranges_->button(kToday)->setChecked(true);
    connect(ranges_, &QButtonGroup::idClicked, this,
            [this](int id) { SetRange(static_cast<Range>(id)); });
    top->addStretch(1);
    summary_ = new QLabel(this);
    summary_->setTextFormat(Qt::PlainText);
    top->addWidget(summary_);
    export_ = new QPushButton(LoadStringText(IDS_USAGE_EXPORT), this);
    export_->setAutoDefault(false);
    connect(export_, &QPushButton::clicked, this, [this] { OnExport(); });
    top->addWidget(export_);

    chart_ = new UsageChart(this);

    programModel_ = new UsageTotalsModel(UsageTotalsModel::kPrograms, this);
    hostModel_ = new UsageTotalsModel(UsageTotalsModel::kHosts, this);
    detailModel_ = new UsageTotalsModel(UsageTotalsModel::kHosts, this);
    auto* split = new QSplitter(Qt::Horizontal, this);
    auto* programBox = new QWidget(split);
    auto* programLayout = new QVBoxLayout(programBox);
    programLayout->setContentsMargins(0, 0, 0, 0);
    programLayout->addWidget(new QLabel(LoadStringText(IDS_USAGE_PROGRAMS), programBox));
    programs_ = MakeTable(programModel_, programBox);
    programLayout->addWidget(programs_);
    auto* hostBox = new QWidget(split);
    auto* hostLayout = new QVBoxLayout(hostBox);
    hostLayout->setContentsMargins(0, 0, 0, 0);
    hostLayout->addWidget(new QLabel(LoadStringText(IDS_USAGE_HOSTS), hostBox));
    hosts_ = MakeTable(hostModel_, hostBox);
    hostLayout->addWidget(hosts_);
    split->addWidget(programBox);
    split->addWidget(hostBox);

    detailsCaption_ = new QLabel(LoadStringText(IDS_USAGE_PICK), this);
    // It names a program or host: text from outside, never markup.
    detailsCaption_->setTextFormat(Qt::PlainText);
    details_ = MakeTable(detailModel_, this);

    auto* close = new QPushButton(LoadStringText(IDS_USAGE_CLOSE), this);
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(close);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(chart_, 3);
    layout->addWidget(split, 4);
    layout->addWidget(detailsCaption_);
    layout->addWidget(details_, 3);
    layout->addLayout(bottom);
    resize(820, 680);

    connect(programs_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { ProgramChosen(); });
    connect(hosts_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { HostChosen(); });
    auto* save = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
    connect(save, &QShortcut::activated, this, [this] { OnExport(); });
}

UsageWindow::~UsageWindow() {
    // A read under way posts back to this window: it ends first.
    pool_.waitForDone();
}

QRadioButton* UsageWindow::RangeButton(Range range) const {
    return qobject_cast<QRadioButton*>(ranges_->button(range));
}

void UsageWindow::SetRange(Range range) {
    range_ = range;
    if (QAbstractButton* b = ranges_->button(range); b && !b->isChecked())
        b->setChecked(true);
    Reload();
}

void UsageWindow::Read(std::function<void(const UsageQuery&)> work) {
    ++pendingReads_;
    const std::string path = options_.path;
    pool_.start([this, path, work = std::move(work)] {
        if (!query_)
            query_ = std::make_unique<UsageQuery>(path);
        work(*query_);
    });
}

void UsageWindow::Reload() {
    // Local midnights: a day of the history begins at one.
    const QDate today = options_.now().date();
    const int days = range_ == kToday ? 1 : range_ == kLast7Days ? 7 : 30;
    const QDate first = today.addDays(1 - days);
    const int64_t from = QDateTime(first, QTime(0, 0)).toSecsSinceEpoch();
    const int64_t to = QDateTime(today.addDays(1), QTime(0, 0)).toSecsSinceEpoch();
    const Granularity g = range_ == kToday ? Granularity::kHour : Granularity::kDay;
    const uint64_t generation = ++generation_;
    summary_->setText(LoadStringText(IDS_USAGE_LOADING));
    const QString path = QFile::decodeName(options_.path.c_str());
    Read([this, generation, from, to, g, path](const UsageQuery& query) {
        auto report = std::make_shared<UsageReport>();
        if (QFileInfo::exists(path)) {
            *report = ReadUsageReport(query, from, to, g);
        } else {
            report->from = from;
            report->to = to;
            report->granularity = g;
            report->noHistory = true;
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, report] {
                --pendingReads_;
                if (generation == generation_)
                    ShowReport(std::move(*report));
                Q_EMIT answered();
            },
            Qt::QueuedConnection);
    });
}

void UsageWindow::ShowReport(UsageReport report) {
    report_ = std::move(report);
    std::vector<int64_t> starts;
    if (report_.granularity == Granularity::kHour) {
        for (int64_t t = report_.from; t < report_.to; t += 3600)
            starts.push_back(t);
    } else {
        const QDate first = QDateTime::fromSecsSinceEpoch(report_.from).date();
        for (QDate d = first; QDateTime(d, QTime(0, 0)).toSecsSinceEpoch() < report_.to;
             d = d.addDays(1))
            starts.push_back(QDateTime(d, QTime(0, 0)).toSecsSinceEpoch());
    }
    chart_->SetData(std::move(starts), report_.buckets, report_.granularity == Granularity::kHour);
    programModel_->SetTotals(report_.programs);
    hostModel_->SetTotals(report_.hosts, report_.hostPlaces);
    detailModel_->SetTotals({});
    detailsCaption_->setText(LoadStringText(IDS_USAGE_PICK));
    UsageCounts all;
    for (const UsageTotal& t : report_.programs)
        all += t.counts;
    summary_->setText(report_.noHistory
                          ? LoadStringText(IDS_USAGE_NO_HISTORY)
                          : FormatString(IDS_USAGE_SUMMARY,
                                         QString::fromStdString(FormatBytes(all.bytesIn)),
                                         QString::fromStdString(FormatBytes(all.bytesOut))));
}

void UsageWindow::ProgramChosen() {
    if (!programs_->selectionModel()->hasSelection())
        return;
    hosts_->selectionModel()->clearSelection();
    const QString program = SelectedKey(programs_);
    const uint64_t generation = generation_;
    const int64_t from = report_.from, to = report_.to;
    Read([this, generation, from, to, program](const UsageQuery& query) {
        auto totals = std::make_shared<std::vector<UsageTotal>>(
            query.HostsOfProgram(from, to, program.toStdString(), kDetailLimit));
        auto places = std::make_shared<std::vector<Place>>(PlacesOfHosts(*totals));
        QMetaObject::invokeMethod(
            this,
            [this, generation, totals, places, program] {
                --pendingReads_;
                if (generation == generation_ && SelectedKey(programs_) == program)
                    ShowDetails(std::move(*totals), true, program, std::move(*places));
                Q_EMIT answered();
            },
            Qt::QueuedConnection);
    });
}

void UsageWindow::HostChosen() {
    if (!hosts_->selectionModel()->hasSelection())
        return;
    programs_->selectionModel()->clearSelection();
    const QString host = SelectedKey(hosts_);
    const uint64_t generation = generation_;
    const int64_t from = report_.from, to = report_.to;
    Read([this, generation, from, to, host](const UsageQuery& query) {
        auto totals = std::make_shared<std::vector<UsageTotal>>(
            query.ProgramsOfHost(from, to, host.toStdString(), kDetailLimit));
        QMetaObject::invokeMethod(
            this,
            [this, generation, totals, host] {
                --pendingReads_;
                if (generation == generation_ && SelectedKey(hosts_) == host)
                    ShowDetails(std::move(*totals), false, host);
                Q_EMIT answered();
            },
            Qt::QueuedConnection);
    });
}

void UsageWindow::ShowDetails(std::vector<UsageTotal> totals, bool ofProgram, const QString& key,
                              std::vector<Place> places) {
    detailModel_->SetKind(ofProgram ? UsageTotalsModel::kHosts : UsageTotalsModel::kPrograms);
    detailModel_->SetTotals(std::move(totals), std::move(places));
    QString name = key;
    if (ofProgram && key.isEmpty())
        name = LoadStringText(IDS_USAGE_UNKNOWN);
    else if (!ofProgram && key.toStdString() == kOtherHosts)
        name = LoadStringText(IDS_USAGE_OTHER);
    else
        name = DisplayableText(key);
    detailsCaption_->setText(
        FormatString(ofProgram ? IDS_USAGE_HOSTS_OF : IDS_USAGE_PROGRAMS_OF, name));
}

void UsageWindow::OnExport() {
    const QString name = QString::fromStdString(LocalTimeText("quorvelan-usage-%Y-%m-%d-%H-%M-%S"));
    const std::optional<QString> path = options_.exportDialog(this, name);
    if (!path)
        return;
    const SaveResult result =
        WriteWholeFile(QFile::encodeName(*path).toStdString(), UsageCsv(report_, BucketTimeText),
                       options_.busyFile ? options_.busyFile() : std::nullopt);
    if (result.kind == SaveResult::kRefused)
        AfxMessageBoxUtf8(SaveRefusalText(result.refusal, *path), MB_ICONSTOP);
    else if (!result.ok())
        AfxMessageBoxUtf8(FormatString(IDP_CSV_WRITE_FAILED, *path,
                                       QString::fromLocal8Bit(std::strerror(result.error))),
                          MB_ICONSTOP);
}
