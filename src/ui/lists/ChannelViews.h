#pragma once

#include "settings/IniFile.h"
#include "ui/lists/ChannelListView.h"

#include <QObject>

#include <array>
#include <memory>
#include <string>
#include <string_view>

class QLabel;
class QStatusBar;

namespace kavo {

class ActionTable;
class TkavoCommon;
class TkavoNet;
struct FindState;

// The two channel lists, on air and ended, over their models: their columns and widths, filling
// them from the retrieval module's lists, sorting, the find marks and the look of the lists.
// Neither view has a parent yet: the window places them.
class ChannelViews : public QObject
{
    Q_OBJECT

public:
    ChannelViews(const TkavoSetting& setting, TkavoCommon& common, TkavoNet& net, const ActionTable& actions,
                 const FindState& find, QObject* parent = nullptr);

    ChannelListView* ListViewNow() const { return m_now; }
    ChannelListView* ListViewLog() const { return m_log; }

    void SetIcons(const std::array<QIcon, TkavoDiffCount>& icons);
    // The columns of both views as the settings list them.
    void BuildColumns();
    // Widths by column ID from [ColumnSize] and [ColumnSizeLog]; a column without an ID, or
    // without a stored width, takes the theme's width for its caption.
    void ReadColumnWidths(const IniFile& ini);
    void WriteColumnWidths(IniFile& ini) const;
    // The columns built again after the settings changed them; a column kept keeps its width.
    void RebuildColumns();
    // New settings: changed columns are built again and a changed look applied; either way both
    // views are filled again, sorted as they were, each keeping its top row.
    void SettingsChanged(const TkavoSetting& before, const TkavoSetting& after);
    // The ended view takes the on-air view's widths, column by column.
    void CopyWidthsToLog();
    // Colours, grid lines and the text font of both views from the settings.
    void ApplyListLook();

    // The retrieval module's lists as start-up finds them, with the sort columns of a first run
    // shown but not applied.
    void ShowInitialLists();
    // A cycle's lists: both views filled again and sorted; the first list of the run is sorted by
    // listeners and by time. The find marks are applied again when the search says so.
    void ShowLists();
    bool FirstListDone() const { return m_firstListDone; }
    // Both views filled again from the retrieval module's lists and sorted as they were, each
    // keeping its top row.
    void RefillViews();
    // After the columns or the look changed: filled again and sorted by the columns of these
    // captions (the first column when one is gone), each keeping its top row.
    void Refill(const std::array<std::string, 2>& sortedCaptions);
    std::array<std::string, 2> SortedCaptions() const;

    // A click on a column's header: sorts by it, the other way round when it is the column
    // sorted by.
    void ColumnClick(ChannelListView* view, int column);
    void SortView(ChannelListView* view, int column);
    // Marks the view's channels that the pattern finds; moves them up when the search says so.
    void ApplyFind(ChannelListView* view, const std::string& pattern);
    // Clears the find marks of the view's channels.
    void ClearFind(ChannelListView* view);

    // Until the first list of this run, the on-air view shows these channels of an earlier run,
    // greyed, and a label in the status bar their time. They take no part in change marks.
    void ShowPreviousList(std::unique_ptr<TkavoChList> list, QStatusBar& statusBar);
    bool ShowsPreviousList() const { return m_previousList != nullptr; }

    // The rows point into the retrieval module's lists: both views let go of them.
    void Clear();

signals:
    // The on-air view was sorted: its order or its marks may have changed.
    void NowSorted();
    // The find marks of a view changed.
    void FindApplied();

private:
    void buildColumns(ChannelListView* view);
    void fillView(ChannelListView* view, const TkavoChList& list);
    // The find marks go to the owner of the rows' list: the retrieval module, or this object for
    // the list of an earlier run.
    void setFindMarks(ChannelListView* view, std::string_view pattern, bool moveResultsUp);
    void nowSorted();
    void logSorted();

    const TkavoSetting& m_setting;
    TkavoCommon& m_common;
    TkavoNet& m_net;
    const ActionTable& m_actions;
    const FindState& m_find;
    ChannelModel* m_modelNow;
    ChannelModel* m_modelLog;
    ChannelListView* m_now;
    ChannelListView* m_log;
    bool m_firstListDone = false;
    bool m_reapplyFind = false;
    std::unique_ptr<TkavoChList> m_previousList;
    QLabel* m_previousListLabel = nullptr;
    // Column widths by caption, kept while the columns are rebuilt.
    IniFile m_columnWidths;
};

} // namespace kavo
