#include "ui/dialogs/RegularsWindow.h"

#include "ui/Cp932Text.h"

#include "history/HistoryStore.h"
#include "platform/HtmlEntities.h"

#include <QBrush>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

namespace kavo {

// ---- Model

void RegularsModel::SetReport(RegularsReport report)
{
    beginResetModel();
    m_report = std::move(report);
    endResetModel();
}

int RegularsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_report.Rows.size());
}

int RegularsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant RegularsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Regular& r = Row(index.row());
    if (role == Qt::ForegroundRole && index.column() == ColumnState && r.Late)
        return QBrush(Qt::red);
    if (role == Qt::TextAlignmentRole && index.column() == ColumnWeeks)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ColumnWeeks:
        return QStringLiteral("%1/%2").arg(r.Weeks).arg(m_report.Weeks);
    case ColumnStart:
        return FromCp932(ClockText(r.UsualStart));
    case ColumnLength:
        return FromCp932(LengthText(r.UsualLength));
    case ColumnState:
        return FromCp932(RegularStateText(r));
    case ColumnChannelName:
        return FromCp932(HtmlDecode(r.ChannelName));
    case ColumnGenre:
        return FromCp932(HtmlDecode(r.Genre));
    default:
        return {};
    }
}

QVariant RegularsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const captions[ColumnCount] = {"週", "開始", "長さ", "状態", "チャンネル名", "ジャンル"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(captions[section]) : QVariant();
}

// ---- Window

RegularsWindow::RegularsWindow(HistoryStore& history, int weeks, int minWeeks, Handlers handlers, QWidget* parent)
    : QDialog(parent), m_history(history), m_handlers(std::move(handlers)), m_weeks(weeks), m_minWeeks(minWeeks)
{
    setObjectName(QStringLiteral("RegularsWindow"));
    setWindowTitle(QString::fromUtf8("いつもの配信"));
    m_pool.setMaxThreadCount(1);

    m_day = new QComboBox(this);
    m_day->setObjectName(QStringLiteral("ComboBoxDay"));
    for (int d = 0; d < 7; ++d)
        m_day->addItem(FromCp932(WeekdayName(d)) + QString::fromUtf8("曜"));
    m_hour = new QComboBox(this);
    m_hour->setObjectName(QStringLiteral("ComboBoxHour"));
    for (int h = 0; h < 24; ++h)
        m_hour->addItem(QString::fromUtf8("%1時").arg(h));
    m_now = new QPushButton(QString::fromUtf8("今(&N)"), this);
    m_now->setObjectName(QStringLiteral("ButtonNow"));
    m_model = new RegularsModel(this);
    m_view = new QTreeView(this);
    m_view->setObjectName(QStringLiteral("ListViewRegulars"));
    m_view->setRootIsDecorated(false);
    m_view->setUniformRowHeights(true);
    m_view->setAllColumnsShowFocus(true);
    m_view->setModel(m_model);
    m_view->header()->setStretchLastSection(true);
    m_view->setColumnWidth(RegularsModel::ColumnWeeks, 50);
    m_view->setColumnWidth(RegularsModel::ColumnStart, 60);
    m_view->setColumnWidth(RegularsModel::ColumnLength, 60);
    m_view->setColumnWidth(RegularsModel::ColumnState, 70);
    m_view->setColumnWidth(RegularsModel::ColumnChannelName, 220);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("LabelStatus"));
    auto* close = new QPushButton(QString::fromUtf8("閉じる"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* top = new QHBoxLayout;
    auto* dayLabel = new QLabel(QString::fromUtf8("曜日(&D):"), this);
    dayLabel->setBuddy(m_day);
    auto* hourLabel = new QLabel(QString::fromUtf8("時刻(&T):"), this);
    hourLabel->setBuddy(m_hour);
    top->addWidget(dayLabel);
    top->addWidget(m_day);
    top->addWidget(hourLabel);
    top->addWidget(m_hour);
    top->addWidget(m_now);
    top->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_view, 1);
    layout->addLayout(bottom);
    resize(640, 420);

    connect(m_day, &QComboBox::currentIndexChanged, this, [this] { pickerChanged(); });
    connect(m_hour, &QComboBox::currentIndexChanged, this, [this] { pickerChanged(); });
    connect(m_now, &QPushButton::clicked, this, [this] { SetAt(std::nullopt); });
    connect(m_view, &QTreeView::activated, this, [this](const QModelIndex& index) { activate(index); });
    // Who is late changes with the clock, so "now" is read again every minute.
    auto* minute = new QTimer(this);
    minute->setInterval(60 * 1000);
    connect(minute, &QTimer::timeout, this, [this] {
        if (!m_at && isVisible())
            Reload();
    });
    minute->start();
    Reload();
}

RegularsWindow::~RegularsWindow()
{
    // A reading under way posts its report to this window: it must not outlive it.
    m_pool.waitForDone();
}

void RegularsWindow::SetAt(std::optional<WeekTime> at)
{
    m_at = at;
    Reload();
}

void RegularsWindow::SetWeeks(int weeks, int minWeeks)
{
    m_weeks = weeks;
    m_minWeeks = minWeeks;
    Reload();
}

void RegularsWindow::pickerChanged()
{
    if (m_settingPicker)
        return;
    m_at = WeekTime{m_day->currentIndex(), m_hour->currentIndex() * 60};
    Reload();
}

void RegularsWindow::Reload()
{
    RegularsRequest request;
    request.Now = Now();
    request.At = m_at;
    request.Weeks = m_weeks;
    request.MinWeeks = m_minWeeks;
    // The pickers show the hour asked about.
    const WeekTime shown = m_at.value_or(WeekTimeOf(request.Now));
    m_settingPicker = true;
    m_day->setCurrentIndex(shown.Weekday);
    m_hour->setCurrentIndex(shown.Minute / 60);
    m_settingPicker = false;
    m_status->setText(QString::fromUtf8("読み込み中..."));

    const unsigned generation = ++m_generation;
    ++m_pending;
    HistoryStore* history = &m_history;
    m_pool.start([this, history, request, generation] {
        RegularsReport report = history->Regulars(request);
        QMetaObject::invokeMethod(
            this,
            [this, report = std::move(report), generation]() mutable { showReport(std::move(report), generation); },
            Qt::QueuedConnection);
    });
}

void RegularsWindow::showReport(RegularsReport report, unsigned generation)
{
    --m_pending;
    // An older reading that a newer question overtook.
    if (generation != m_generation)
        return;
    const int rows = static_cast<int>(report.Rows.size());
    QString status = FromCp932(RegularsTitle(report)) + QString::fromUtf8(": %1件").arg(rows);
    m_model->SetReport(std::move(report));
    m_status->setText(status);
    emit Loaded();
}

void RegularsWindow::activate(const QModelIndex& index)
{
    if (!index.isValid())
        return;
    const Regular& r = m_model->Row(index.row());
    const std::string name = r.ChannelName;
    if (r.OnAir && m_handlers.Play && m_handlers.Play(name))
        return;
    if (m_handlers.OpenHistory)
        m_handlers.OpenHistory(name);
}

} // namespace kavo
