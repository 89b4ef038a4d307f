#include "ui/dialogs/BroadcastHistoryWindow.h"

#include "ui/Cp932Text.h"

#include "core/FindPattern.h"
#include "platform/Cp932.h"
#include "platform/HtmlEntities.h"
#include "platform/RegularExpression.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace kavo {
// ---- Model

BroadcastHistoryModel::BroadcastHistoryModel(HistoryStore& history, QObject* parent)
    : QAbstractTableModel(parent), m_history(history)
{}

void BroadcastHistoryModel::SetPattern(const std::string& pattern)
{
    beginResetModel();
    m_pattern = pattern;
    m_rows.clear();
    m_more = false;
    try {
        BroadcastQuery query;
        query.Pattern = m_pattern;
        query.Limit = PageSize;
        m_rows = m_history.Broadcasts(query);
        m_more = m_rows.size() == PageSize;
    } catch (...) {
        endResetModel();
        throw;
    }
    endResetModel();
}

int BroadcastHistoryModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int BroadcastHistoryModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BroadcastHistoryModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const BroadcastRow& b = Row(index.row());
    if (role == Qt::TextAlignmentRole && index.column() == ColumnListeners)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    if (role == Qt::ToolTipRole && index.column() == ColumnYp)
        return FromCp932(b.YpUrl);
    if (role != Qt::DisplayRole)
        return {};
    switch (index.column()) {
    case ColumnFirstSeen:
        return FromCp932(FormatMonthDayTime(b.FirstSeen));
    case ColumnLastSeen:
        return FromCp932(FormatMonthDayTime(b.LastSeen)) + (b.OnAir ? QString::fromUtf8(" (放送中)") : QString());
    case ColumnListeners:
        return b.MaxListeners;
    case ColumnChannelName:
        return FromCp932(HtmlDecode(b.ChannelName));
    case ColumnYp:
        return FromCp932(b.YpTitle.empty() ? b.YpUrl : b.YpTitle);
    case ColumnGenreDescription:
        return FromCp932(HtmlDecode(GenreDescriptionOf(b.Genre, b.Description)));
    default:
        return {};
    }
}

QVariant BroadcastHistoryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const titles[ColumnCount] = {"開始",         "最終", "最大リスナー",
                                                    "チャンネル名", "YP",   "ジャンル - 詳細"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}

bool BroadcastHistoryModel::canFetchMore(const QModelIndex& parent) const
{
    return !parent.isValid() && m_more;
}

void BroadcastHistoryModel::fetchMore(const QModelIndex& parent)
{
    if (!canFetchMore(parent))
        return;
    BroadcastQuery query;
    query.Pattern = m_pattern;
    query.Limit = PageSize;
    query.AfterFirstSeen = m_rows.back().FirstSeen;
    query.AfterId = m_rows.back().Id;
    std::vector<BroadcastRow> page;
    try {
        page = m_history.Broadcasts(query);
    } catch (...) {
        // The pattern compiled for the first page; nothing else throws here.
    }
    m_more = page.size() == PageSize;
    if (page.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(page.size()) - 1);
    std::move(page.begin(), page.end(), std::back_inserter(m_rows));
    endInsertRows();
}

// ---- Chart

OnAirChart::OnAirChart(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("OnAirChart"));
    setMinimumHeight(Days * 4 + 20);
}

void OnAirChart::SetTimes(std::vector<std::pair<DateTime, DateTime>> times, DateTime now)
{
    m_times = std::move(times);
    m_now = now;
    update();
}

QSize OnAirChart::sizeHint() const
{
    return {480, Days * 6 + 20};
}

void OnAirChart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect area = rect().adjusted(40, 2, -4, -16);
    painter.fillRect(area, palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Mid));
    const double rowHeight = static_cast<double>(area.height()) / Days;
    for (int hour = 0; hour <= 24; hour += 6) {
        const int x = area.left() + area.width() * hour / 24;
        painter.drawLine(x, area.top(), x, area.bottom());
        painter.drawText(QRect(x - 20, area.bottom() + 1, 40, 14), Qt::AlignCenter, QString::number(hour));
    }
    // A DateTime's whole part is its local day: today is the top row.
    const double today = std::floor(m_now);
    painter.setPen(palette().color(QPalette::Text));
    for (int row = 0; row < Days; row += 7) {
        const QRectF label(0, area.top() + row * rowHeight, 36, std::max(rowHeight, 12.0));
        painter.drawText(label, Qt::AlignRight | Qt::AlignTop,
                         QString::fromStdString(FormatMonthDayTime(today - row).substr(0, 5)));
    }
    const QColor bar = palette().color(QPalette::Highlight);
    for (const auto& [first, last] : m_times) {
        for (double day = std::floor(first); day <= std::floor(last); ++day) {
            const int row = static_cast<int>(today - day);
            if (row < 0 || row >= Days)
                continue;
            const double from = std::max(first, day) - day;
            const double to = std::min(last, day + 1) - day;
            const double x = area.left() + from * area.width();
            const double width = std::max(1.0, (to - from) * area.width());
            painter.fillRect(QRectF(x, area.top() + row * rowHeight + 1, width, std::max(1.0, rowHeight - 2)), bar);
        }
    }
}

// ---- Window

BroadcastHistoryWindow::BroadcastHistoryWindow(HistoryStore& history, QWidget* parent)
    : QDialog(parent), m_history(history)
{
    setObjectName(QStringLiteral("BroadcastHistoryWindow"));
    setWindowTitle(QString::fromUtf8("放送履歴"));
    m_search = new QLineEdit(this);
    m_search->setObjectName(QStringLiteral("EditSearch"));
    m_search->setPlaceholderText(QString::fromUtf8("検索 (空白で区切った語のどれか、正規表現)"));
    m_search->setClearButtonEnabled(true);
    m_model = new BroadcastHistoryModel(history, this);
    m_view = new QTreeView(this);
    m_view->setObjectName(QStringLiteral("ListViewHistory"));
    m_view->setRootIsDecorated(false);
    m_view->setUniformRowHeights(true);
    m_view->setAllColumnsShowFocus(true);
    m_view->setModel(m_model);
    m_view->header()->setStretchLastSection(true);
    m_view->setColumnWidth(BroadcastHistoryModel::ColumnFirstSeen, 90);
    m_view->setColumnWidth(BroadcastHistoryModel::ColumnLastSeen, 140);
    m_view->setColumnWidth(BroadcastHistoryModel::ColumnListeners, 80);
    m_view->setColumnWidth(BroadcastHistoryModel::ColumnChannelName, 200);
    m_view->setColumnWidth(BroadcastHistoryModel::ColumnYp, 100);
    m_chartTitle = new QLabel(this);
    m_chart = new OnAirChart(this);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("LabelStatus"));
    auto* close = new QPushButton(QString::fromUtf8("閉じる"), this);
    connect(close, &QPushButton::clicked, this, &QDialog::close);

    auto* top = new QHBoxLayout;
    auto* searchLabel = new QLabel(QString::fromUtf8("検索(&S):"), this);
    searchLabel->setObjectName(QStringLiteral("LabelSearch"));
    searchLabel->setBuddy(m_search); // the label shows its mnemonic, and Alt+S goes to the field
    top->addWidget(searchLabel);
    top->addWidget(m_search, 1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(close);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(m_view, 1);
    layout->addWidget(m_chartTitle);
    layout->addWidget(m_chart);
    layout->addLayout(bottom);
    resize(760, 560);

    m_searchDelay.setSingleShot(true);
    m_searchDelay.setInterval(300);
    connect(&m_searchDelay, &QTimer::timeout, this, &BroadcastHistoryWindow::Search);
    connect(m_search, &QLineEdit::textEdited, this, [this] { m_searchDelay.start(); });
    connect(m_search, &QLineEdit::returnPressed, this, &BroadcastHistoryWindow::Search);
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { showChannel(current); });
    Reload();
}

void BroadcastHistoryWindow::Reload()
{
    Search();
}

void BroadcastHistoryWindow::Search()
{
    m_searchDelay.stop();
    const std::string pattern = FindPatternFromInput(Utf8ToCp932(m_search->text().toStdString()));
    try {
        m_model->SetPattern(pattern);
        m_status->setText(m_model->rowCount() == 0 ? QString::fromUtf8("該当する放送はありません") : QString());
    } catch (const RegularExpressionError&) {
        m_status->setText(QString::fromUtf8("検索の正規表現が正しくありません"));
    }
    showChannel(m_view->currentIndex());
}

void BroadcastHistoryWindow::showChannel(const QModelIndex& index)
{
    if (!index.isValid()) {
        m_chartTitle->setText(QString::fromUtf8("チャンネルを選ぶと過去30日の放送時間を表示します"));
        m_chart->SetTimes({}, Now());
        return;
    }
    const BroadcastRow& row = m_model->Row(index.row());
    const DateTime now = Now();
    m_chartTitle->setText(
        QString::fromUtf8("「%1」の放送 (過去%2日)").arg(FromCp932(HtmlDecode(row.ChannelName))).arg(OnAirChart::Days));
    m_chart->SetTimes(m_history.OnAirTimes(row.ChannelName, std::floor(now) - (OnAirChart::Days - 1)), now);
}

} // namespace kavo
