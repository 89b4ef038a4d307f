#include "ui/lists/ChannelViews.h"

#include "ui/Cp932Text.h"

#include "common/ukavoCommon.h"
#include "core/ChannelSearch.h"
#include "net/ukavoNet.h"
#include "platform/DateTime.h"
#include "ui/app/DebugLog.h"
#include "ui/dialogs/ukavoFind.h"
#include "ui/lists/EmptyState.h"
#include "ui/window/ActionTable.h"

#include <QHeaderView>
#include <QLabel>
#include <QStatusBar>
#include <QStyle>

#include <algorithm>
#include <tuple>
#include <utility>

namespace kavo {

using DebugLog::Guarded;

namespace {

// What the lists look like: their colours and fonts, and the window's font they may inherit.
bool SameLook(const TkavoSetting& a, const TkavoSetting& b)
{
    const auto look = [](const TkavoSetting& s) {
        const auto& c = s.ColorFont;
        return std::tie(c.TextFontColor, c.TextLinkColor, c.BackColor, c.GridLine, c.TextLinkSelColor, c.TextVisitColor,
                        c.Visit, s.TextFont, s.AllFont);
    };
    return look(a) == look(b);
}

} // namespace

ChannelViews::ChannelViews(const TkavoSetting& setting, TkavoCommon& common, TkavoNet& net, const ActionTable& actions,
                           const FindState& find, QObject* parent)
    : QObject(parent), m_setting(setting), m_common(common), m_net(net), m_actions(actions), m_find(find),
      m_modelNow(new ChannelModel(&common, &setting.YpList, this)),
      m_modelLog(new ChannelModel(&common, &setting.YpList, this)),
      m_now(new ChannelListView(QStringLiteral("ListViewNow"), m_modelNow)),
      m_log(new ChannelListView(QStringLiteral("ListViewLog"), m_modelLog))
{
    m_log->setToolTip(QString());
    for (ChannelListView* view : {m_now, m_log})
        connect(view->header(), &QHeaderView::sectionClicked, this,
                [this, view](int column) { Guarded("ColumnClick", [&] { ColumnClick(view, column); }); });
    connect(m_now, &ChannelListView::Sorted, this, [this] { Guarded("ListViewNowSorted", [this] { nowSorted(); }); });
    connect(m_log, &ChannelListView::Sorted, this, [this] { Guarded("ListViewLogSorted", [this] { logSorted(); }); });
}

void ChannelViews::SetIcons(const std::array<QIcon, TkavoDiffCount>& icons)
{
    m_modelNow->SetIcons(icons);
    m_modelLog->SetIcons(icons);
}

void ChannelViews::BuildColumns()
{
    buildColumns(m_now);
    buildColumns(m_log);
}

void ChannelViews::buildColumns(ChannelListView* view)
{
    std::vector<std::string> captions = m_setting.Columns;
    if (captions.empty())
        captions = DefaultColumnCaptions();
    view->Model().SetColumns(captions);
}

namespace {

// What a column typically shows, for its width before the user chose one.
const char* TypicalContent(const std::string& id)
{
    static const std::pair<const char*, const char*> samples[] = {
        {"No", "9999"},
        {"Listener", "9999 / 999"},
        {"Bitrate", "9999 kb/s"},
        {"Type", "FLV"},
        {"TimeStamp", "12/31 23:59"},
        {"BroadcastTime", "999:59"},
        {"YpAddr", "http://yp.example.org/"},
    };
    for (const auto& [column, sample] : samples)
        if (id == column)
            return sample;
    return "";
}

// The theme's width, or more when the caption or the typical content would be cut.
int DefaultColumnWidth(const QTreeView& view, const std::string& caption, const std::string& id, int themeWidth)
{
    const int padding = 2 * view.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &view) + 6;
    const int header = view.header()->fontMetrics().horizontalAdvance(FromCp932(caption)) + padding +
                       view.style()->pixelMetric(QStyle::PM_HeaderMarkSize, nullptr, &view);
    const int content = view.fontMetrics().horizontalAdvance(QString::fromLatin1(TypicalContent(id))) + padding;
    return std::max({themeWidth, header, content});
}

} // namespace

void ChannelViews::ReadColumnWidths(const IniFile& ini)
{
    for (auto [view, section] : {std::pair{m_now, "ColumnSize"}, std::pair{m_log, "ColumnSizeLog"}}) {
        const ChannelModel& model = view->Model();
        for (int i = 0; i < model.columnCount(); ++i) {
            const std::string& caption = model.Caption(i);
            const int theme = ParseIniInteger(m_common.ColumnWidthByCaption.Value(caption)).value_or(50);
            const std::string& id = ColumnIdByCaption(caption);
            const int fallback = DefaultColumnWidth(*view, caption, id, theme);
            view->setColumnWidth(i, id.empty() ? fallback : ini.ReadInteger(section, id, fallback));
        }
    }
}

void ChannelViews::WriteColumnWidths(IniFile& ini) const
{
    for (auto [view, section] : {std::pair{m_now, "ColumnSize"}, std::pair{m_log, "ColumnSizeLog"}}) {
        const ChannelModel& model = view->Model();
        for (int i = 0; i < model.columnCount(); ++i)
            if (const std::string& id = ColumnIdByCaption(model.Caption(i)); !id.empty())
                ini.WriteInteger(section, id, view->columnWidth(i));
    }
}

void ChannelViews::RebuildColumns()
{
    WriteColumnWidths(m_columnWidths);
    BuildColumns();
    ReadColumnWidths(m_columnWidths);
}

void ChannelViews::SettingsChanged(const TkavoSetting& before, const TkavoSetting& after)
{
    const bool columns = before.Columns != after.Columns;
    const bool look = !SameLook(before, after);
    if (!columns && !look)
        return;
    const std::array<std::string, 2> sortedCaptions = SortedCaptions();
    if (columns)
        RebuildColumns();
    if (look)
        ApplyListLook();
    Refill(sortedCaptions);
}

void ChannelViews::CopyWidthsToLog()
{
    for (int i = 0; i < m_modelNow->columnCount() && i < m_modelLog->columnCount(); ++i)
        m_log->setColumnWidth(i, m_now->columnWidth(i));
}

void ChannelViews::ApplyListLook()
{
    for (ChannelListView* view : {m_now, m_log})
        view->ApplyListLook(m_setting.ColorFont, m_setting.TextFont);
}

void ChannelViews::ShowInitialLists()
{
    fillView(m_now, m_net.ChList());
    fillView(m_log, m_net.ChListLog());
    m_modelNow->SetLastSortedColumn(m_modelNow->FindColumn(ColumnCaptionById("Listener")));
    m_modelLog->SetLastSortedColumn(m_modelLog->FindColumn(ColumnCaptionById("TimeStamp")));
    m_now->header()->setSortIndicator(m_modelNow->LastSortedColumn(), Qt::DescendingOrder);
    m_log->header()->setSortIndicator(m_modelLog->LastSortedColumn(), Qt::DescendingOrder);
}

void ChannelViews::ShowLists()
{
    if (m_find.KeepFind)
        m_reapplyFind = true;
    fillView(m_now, m_net.ChList());
    fillView(m_log, m_net.ChListLog());
    if (m_previousList) {
        m_modelNow->SetGreyed(false);
        m_previousListLabel->hide();
        m_previousList.reset();
    }
    if (!m_firstListDone) {
        m_firstListDone = true;
        ApplyListLook();
        m_now->SortAscending = true;
        m_log->SortAscending = false;
        SortView(m_now, m_modelNow->FindColumn(ColumnCaptionById("Listener")));
        SortView(m_log, m_modelLog->FindColumn(ColumnCaptionById("TimeStamp")));
        m_now->viewport()->update();
        m_log->viewport()->update();
    } else {
        SortView(m_now, m_modelNow->LastSortedColumn());
        SortView(m_log, m_modelLog->LastSortedColumn());
    }
}

void ChannelViews::RefillViews()
{
    m_reapplyFind = m_find.KeepFind;
    for (ChannelListView* view : {m_now, m_log}) {
        const int top = view->indexAt(QPoint(0, 0)).row();
        const int column = view->Model().LastSortedColumn();
        fillView(view, view == m_now ? m_net.ChList() : m_net.ChListLog());
        SortView(view, column);
        if (top >= 0 && top < view->Model().rowCount())
            view->scrollTo(view->Model().index(top, 0), QAbstractItemView::PositionAtTop);
    }
    m_reapplyFind = false;
}

std::array<std::string, 2> ChannelViews::SortedCaptions() const
{
    return {m_modelNow->Caption(m_modelNow->LastSortedColumn()), m_modelLog->Caption(m_modelLog->LastSortedColumn())};
}

void ChannelViews::Refill(const std::array<std::string, 2>& sortedCaptions)
{
    for (std::size_t i = 0; i < 2; ++i) {
        ChannelListView* view = i == 0 ? m_now : m_log;
        const int top = view->indexAt(QPoint(0, 0)).row();
        fillView(view, i == 0 ? m_net.ChList() : m_net.ChListLog());
        const int column = view->Model().FindColumn(sortedCaptions[i]);
        view->Model().SetLastSortedColumn(column >= 0 ? column : 0);
        SortView(view, view->Model().LastSortedColumn());
        if (top >= 0 && top < view->Model().rowCount())
            view->scrollTo(view->Model().index(top, 0), QAbstractItemView::PositionAtTop);
    }
}

void ChannelViews::fillView(ChannelListView* view, const TkavoChList& list)
{
    ChannelModel& model = view->Model();
    // The rows may already point at freed records here: the retrieval module has replaced its lists.
    const std::string hash = model.FindColumn(ColumnCaptionById("Hash")) > 0 ? view->SelectedHash() : std::string();
    model.Fill(list);
    // The all-zero ID is shared by every channel without one: it names no channel to go back to.
    if (hash.empty() || hash == NoHash)
        return;
    if (const int row = model.FindHash(hash, 1); row >= 0) {
        view->SelectRow(row);
        view->scrollTo(model.index(row, 0));
    }
}

void ChannelViews::SortView(ChannelListView* view, int column)
{
    view->Sort(column);
}

void ChannelViews::ColumnClick(ChannelListView* view, int column)
{
    if (column == view->Model().LastSortedColumn())
        view->SortAscending = !view->SortAscending;
    else
        view->SortAscending = true;
    SortView(view, column);
}

void ChannelViews::ApplyFind(ChannelListView* view, const std::string& pattern)
{
    emit FindApplied();
    setFindMarks(view, pattern, m_find.MoveResultsUp);
}

void ChannelViews::ClearFind(ChannelListView* view)
{
    setFindMarks(view, {}, false);
}

void ChannelViews::setFindMarks(ChannelListView* view, std::string_view pattern, bool moveResultsUp)
{
    ChannelModel& model = view->Model();
    const std::vector<bool> found = model.FindRows(pattern, m_common.RegExp);
    m_net.SetFindMarks(model.Rows(), found);
    if (m_previousList)
        MarkFound(*m_previousList, model.Rows(), found);
    model.ShowFound(found, moveResultsUp);
}

void ChannelViews::nowSorted()
{
    if (m_reapplyFind) {
        m_reapplyFind = false;
        ApplyFind(m_now, m_find.FindValue);
    }
    m_modelNow->MoveRawToEnd();
    if (m_actions[ActionId::MainVisualEnableEnsureVisible]->isChecked())
        m_now->EnsureSelectionVisible(true);
    emit NowSorted();
}

void ChannelViews::logSorted()
{
    if (m_actions[ActionId::MainVisualEnableEnsureVisible]->isChecked())
        m_log->EnsureSelectionVisible(false);
}

void ChannelViews::ShowPreviousList(std::unique_ptr<TkavoChList> list, QStatusBar& statusBar)
{
    if (!list || m_firstListDone)
        return;
    if (!m_previousListLabel) {
        m_previousListLabel = new QLabel(&statusBar);
        m_previousListLabel->setObjectName(QStringLiteral("LabelPreviousList"));
        statusBar.addPermanentWidget(m_previousListLabel);
    }
    m_previousListLabel->setText(
        QString::fromUtf8("前回 %1 の一覧。%2")
            .arg(FromCp932(FormatMonthDayTime(list->LastUpdate)), RefreshHint(m_setting.Operation.KeyF5Refresh)));
    m_previousListLabel->show();
    m_modelNow->SetGreyed(true);
    fillView(m_now, *list);
    m_previousList = std::move(list);
    m_now->SortAscending = true;
    SortView(m_now, m_modelNow->FindColumn(ColumnCaptionById("Listener")));
}

const TkavoChList& ChannelViews::NowList() const
{
    return m_previousList ? *m_previousList : m_net.ChList();
}

void ChannelViews::Clear()
{
    const TkavoChList empty;
    m_modelNow->Fill(empty);
    m_modelLog->Fill(empty);
}

} // namespace kavo
