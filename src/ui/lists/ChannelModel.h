#pragma once

#include "core/Color.h"
#include "core/TkavoChItem.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>

#include <array>
#include <string>
#include <string_view>
#include <vector>

class QPalette;

namespace kavo {

class TkavoCommon;
class RegularExpression;
struct TkavoYpItem;
class TkavoYpList;

// What a list-view column shows, resolved once from its caption.
enum class ColumnKind {
    Diff,
    No,
    ChannelName,
    Description,
    Listener,
    Bitrate,
    Type,
    TimeStamp,
    ContactURL,
    StreamURL,
    DirectStreamURL,
    ChatURL,
    StatisticsURL,
    Hash,
    Description2,
    Playing,
    YpAddr,
    BroadcastTime,
    Unknown,
};

// The column a CP932 caption names; Unknown for a caption without an entry.
ColumnKind ColumnKindOfCaption(const std::string& caption);
// The CP932 text of a channel's cell; "" for Unknown.
std::string CellText(const TkavoChItem& channel, ColumnKind kind);

// A row as a screen reader reads it: its mark, name, genre and listeners.
QString AccessibleRowText(const TkavoChItem& channel);

// A colour of the settings on this desktop: system colour numbers go through the palette.
QColor ToQColor(ColorValue color, const QPalette& palette);

// The rows of one channel list view: references to the records of the retrieval module's list,
// valid until the next Fill, in display order. The model only reads them: the marks the user sets
// go through the list's owner.
class ChannelModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    // common gives the info tips; ypList the order of the YpAddr column. Either may be null.
    explicit ChannelModel(const TkavoCommon* common, const TkavoYpList* ypList, QObject* parent = nullptr);

    // The icons of the change states, shown in the first column and in a "!" column.
    void SetIcons(const std::array<QIcon, TkavoDiffCount>& icons) { m_icons = icons; }
    // Clears the rows and takes the CP932 captions as columns.
    void SetColumns(const std::vector<std::string>& captions);
    const std::string& Caption(int column) const { return m_captions.at(static_cast<std::size_t>(column)); }
    ColumnKind Kind(int column) const { return m_kinds.at(static_cast<std::size_t>(column)); }
    // The first column with exactly this CP932 caption, or -1.
    int FindColumn(const std::string& caption) const;
    int ChannelNameColumn() const { return m_channelNameColumn; }
    int TypeColumn() const { return m_typeColumn; }

    // Rows for the channels of the list, in list order; hidden channels are left out.
    void Fill(const TkavoChList& list);
    const TkavoChItem* Channel(int row) const;
    int Count() const { return static_cast<int>(m_rows.size()); }
    const std::vector<const TkavoChItem*>& Rows() const { return m_rows; }
    // The row of this record, or -1.
    int RowOf(const TkavoChItem* channel) const;
    // The record of the row changed: its cells are drawn again.
    void RowChanged(int row);

    // Sorts the rows by the column; a false flag reverses the comparison. Ties keep their order.
    void SortByColumn(int column, bool ascending);
    int LastSortedColumn() const { return m_lastSorted; }
    // Rows of an earlier run: drawn greyed until the first refresh replaces them.
    void SetGreyed(bool greyed);
    bool Greyed() const { return m_greyed; }
    void SetLastSortedColumn(int column) { m_lastSorted = column; }
    // Moves every "raw" channel (any case) to the end, both groups keeping their order.
    void MoveRawToEnd();
    // Which rows the search pattern finds (found[i] for row i); an empty pattern finds none.
    std::vector<bool> FindRows(std::string_view pattern, RegularExpression& regExp) const;
    // The rows' find marks were set to found: with moveResultsUp the found rows come first, in
    // their order; the rows are drawn again.
    void ShowFound(const std::vector<bool>& found, bool moveResultsUp);
    // Starting at `start` and wrapping around, the first row whose channel has this ID; -1.
    int FindHash(const std::string& hash, int start) const;
    // -1, 0 or 1: row a against row b for the column, ascending.
    int Compare(const TkavoChItem& a, const TkavoChItem& b, int column) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    void permute(const std::vector<int>& order);

    const TkavoCommon* m_common;
    const TkavoYpList* m_ypList;
    std::vector<const TkavoChItem*> m_rows;
    std::vector<std::string> m_captions;
    std::vector<ColumnKind> m_kinds;
    std::vector<QString> m_headers;
    std::array<QIcon, TkavoDiffCount> m_icons;
    int m_channelNameColumn = -1;
    int m_typeColumn = -1;
    int m_lastSorted = -1;
    bool m_greyed = false;
};

} // namespace kavo
