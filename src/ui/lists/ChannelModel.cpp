#include "ui/lists/ChannelModel.h"

#include "common/ukavoCommon.h"
#include "core/ChannelSearch.h"
#include "core/TkavoYpItem.h"
#include "platform/Cp932.h"
#include "platform/DateTime.h"
#include "platform/HtmlEntities.h"
#include "settings/TkavoSetting.h"

#include <QCollator>
#include <QFont>
#include <QPalette>
#include <QStringList>

#include <algorithm>
#include <numeric>

namespace kavo {
namespace {

QString ToQString(const std::string& cp932)
{
    return QString::fromStdString(Cp932ToUtf8(cp932));
}

// Blanks and control characters off both ends, as the list always showed them.
std::string Trimmed(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= ' ')
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= ' ')
        --end;
    return text.substr(begin, end - begin);
}

std::string WithoutPlayingPrefix(std::string text)
{
    static const std::string prefix = "Playing: ";
    for (std::size_t at = text.find(prefix); at != std::string::npos; at = text.find(prefix, at))
        text.erase(at, prefix.size());
    return text;
}

template <class T>
int Order(const T& a, const T& b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

bool IsNumericKind(ColumnKind kind)
{
    switch (kind) {
    case ColumnKind::Diff:
    case ColumnKind::No:
    case ColumnKind::Listener:
    case ColumnKind::Bitrate:
    case ColumnKind::BroadcastTime:
    case ColumnKind::YpAddr:
        return true;
    default:
        return false;
    }
}

} // namespace

ColumnKind ColumnKindOfCaption(const std::string& caption)
{
    static const std::vector<std::pair<std::string, ColumnKind>> kinds = [] {
        static constexpr std::array<std::pair<const char*, ColumnKind>, 18> ids = {{
            {"Diff", ColumnKind::Diff},
            {"No", ColumnKind::No},
            {"ChannelName", ColumnKind::ChannelName},
            {"Description", ColumnKind::Description},
            {"Listener", ColumnKind::Listener},
            {"Bitrate", ColumnKind::Bitrate},
            {"Type", ColumnKind::Type},
            {"TimeStamp", ColumnKind::TimeStamp},
            {"ContactURL", ColumnKind::ContactURL},
            {"StreamURL", ColumnKind::StreamURL},
            {"DirectStreamURL", ColumnKind::DirectStreamURL},
            {"ChatURL", ColumnKind::ChatURL},
            {"StatisticsURL", ColumnKind::StatisticsURL},
            {"Hash", ColumnKind::Hash},
            {"Description2", ColumnKind::Description2},
            {"Playing", ColumnKind::Playing},
            {"YpAddr", ColumnKind::YpAddr},
            {"BroadcastTime", ColumnKind::BroadcastTime},
        }};
        std::vector<std::pair<std::string, ColumnKind>> table;
        table.reserve(ids.size());
        for (const auto& [id, kind] : ids)
            table.emplace_back(ColumnCaptionById(id), kind);
        return table;
    }();
    for (const auto& [text, kind] : kinds)
        if (text == caption)
            return kind;
    return ColumnKind::Unknown;
}

std::string CellText(const TkavoChItem& c, ColumnKind kind)
{
    switch (kind) {
    case ColumnKind::Diff:
        return std::to_string(static_cast<int>(c.Diff));
    case ColumnKind::No:
        return std::to_string(c.No);
    case ColumnKind::ChannelName:
        return HtmlDecode(c.ChannelName);
    case ColumnKind::Description:
        return Trimmed(HtmlDecode(c.GenreDescription() + " " + c.Playing + " " + c.Comment));
    case ColumnKind::Listener:
        return std::to_string(c.Listeners) + " / " + std::to_string(c.Relays);
    case ColumnKind::Bitrate:
        return c.Bitrate;
    case ColumnKind::Type:
        return c.Type;
    case ColumnKind::TimeStamp:
        return FormatMonthDayTime(c.TimeStamp);
    case ColumnKind::ContactURL:
        return c.ContactURL;
    case ColumnKind::StreamURL:
        return c.StreamURL;
    case ColumnKind::DirectStreamURL:
        return c.DirectStreamURL;
    case ColumnKind::ChatURL:
        return c.ChatURL;
    case ColumnKind::StatisticsURL:
        return c.StatisticsURL;
    case ColumnKind::Hash:
        return c.Hash;
    case ColumnKind::Description2:
        return HtmlDecode(c.GenreDescription());
    case ColumnKind::Playing:
        return HtmlDecode(WithoutPlayingPrefix(c.Playing)) + " " + c.Comment;
    case ColumnKind::YpAddr:
        return c.YpAddr;
    case ColumnKind::BroadcastTime:
        return c.BroadcastTime;
    case ColumnKind::Unknown:
        break;
    }
    return {};
}

QColor ToQColor(ColorValue color, const QPalette& palette)
{
    if (!IsSystemColor(color)) {
        const auto bgr = static_cast<std::uint32_t>(color);
        return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF),
                      static_cast<int>((bgr >> 16) & 0xFF));
    }
    switch (static_cast<std::uint32_t>(color) & 0xFF) {
    case 1: // desktop
    case 4: // menu
    case 10:
    case 11:
        return palette.color(QPalette::Window);
    case 2: // active caption
    case 13:
        return palette.color(QPalette::Highlight);
    case 5:
        return palette.color(QPalette::Base);
    case 6: // window frame
    case 12:
    case 16:
        return palette.color(QPalette::Dark);
    case 7: // menu text
        return palette.color(QPalette::WindowText);
    case 9: // caption text
    case 14:
        return palette.color(QPalette::HighlightedText);
    case 15:
        return palette.color(QPalette::Button);
    case 17:
        return palette.color(QPalette::Disabled, QPalette::Text);
    case 18:
        return palette.color(QPalette::ButtonText);
    case 20:
        return palette.color(QPalette::Light);
    case 21:
        return palette.color(QPalette::Shadow);
    case 22:
        return palette.color(QPalette::Midlight);
    case 23:
        return palette.color(QPalette::ToolTipText);
    case 24:
        return palette.color(QPalette::ToolTipBase);
    case 26:
        return palette.color(QPalette::Link);
    default:
        return palette.color(QPalette::Text);
    }
}

ChannelModel::ChannelModel(const TkavoCommon* common, const TkavoYpList* ypList, QObject* parent)
    : QAbstractTableModel(parent), m_common(common), m_ypList(ypList)
{}

void ChannelModel::SetColumns(const std::vector<std::string>& captions)
{
    beginResetModel();
    m_rows.clear();
    m_captions = captions;
    m_kinds.clear();
    m_headers.clear();
    for (const std::string& caption : m_captions) {
        m_kinds.push_back(ColumnKindOfCaption(caption));
        m_headers.push_back(ToQString(caption));
    }
    m_channelNameColumn = FindColumn(ColumnCaptionById("ChannelName"));
    m_typeColumn = FindColumn(ColumnCaptionById("Type"));
    if (m_lastSorted >= static_cast<int>(m_captions.size()))
        m_lastSorted = -1;
    endResetModel();
}

int ChannelModel::FindColumn(const std::string& caption) const
{
    const auto found = std::find(m_captions.begin(), m_captions.end(), caption);
    return found == m_captions.end() ? -1 : static_cast<int>(found - m_captions.begin());
}

int ChannelModel::RowOf(const TkavoChItem* channel) const
{
    const auto found = std::find(m_rows.begin(), m_rows.end(), channel);
    return channel && found != m_rows.end() ? static_cast<int>(found - m_rows.begin()) : -1;
}

void ChannelModel::RowChanged(int row)
{
    if (row >= 0 && row < Count() && columnCount() > 0)
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void ChannelModel::Fill(const TkavoChList& list)
{
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(static_cast<std::size_t>(list.Count()));
    for (const TkavoChItem& channel : list)
        if (!channel.ListDisable)
            m_rows.push_back(&channel);
    endResetModel();
}

const TkavoChItem* ChannelModel::Channel(int row) const
{
    return row >= 0 && row < Count() ? m_rows[static_cast<std::size_t>(row)] : nullptr;
}

int ChannelModel::Compare(const TkavoChItem& a, const TkavoChItem& b, int column) const
{
    switch (Kind(column)) {
    case ColumnKind::No:
        return Order(a.No, b.No);
    case ColumnKind::Diff:
        if (const int byState = Order(static_cast<int>(a.Diff), static_cast<int>(b.Diff)))
            return byState;
        return Order(a.Listeners, b.Listeners);
    case ColumnKind::Listener:
        return Order(b.Listeners, a.Listeners);
    case ColumnKind::Bitrate:
        return Order(a.BitrateValue, b.BitrateValue);
    case ColumnKind::BroadcastTime:
        return Order(a.BroadcastDuration(), b.BroadcastDuration());
    case ColumnKind::YpAddr:
        if (m_ypList)
            return Order(m_ypList->IndexOfUrl(a.YpAddr), m_ypList->IndexOfUrl(b.YpAddr));
        break;
    default:
        break;
    }
    QCollator collator;
    collator.setCaseSensitivity(Qt::CaseSensitive);
    const int order = collator.compare(ToQString(CellText(a, Kind(column))), ToQString(CellText(b, Kind(column))));
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

void ChannelModel::SortByColumn(int column, bool ascending)
{
    if (column < 0 || column >= columnCount())
        return;
    m_lastSorted = column;
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    const auto sign = ascending ? 1 : -1;
    const ColumnKind kind = Kind(column);
    if (IsNumericKind(kind) && (kind != ColumnKind::YpAddr || m_ypList)) {
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return sign * Compare(*m_rows[static_cast<std::size_t>(a)], *m_rows[static_cast<std::size_t>(b)], column) <
                   0;
        });
    } else {
        // Collation keys once per row: a locale comparison per pair would dominate a large list.
        QCollator collator;
        collator.setCaseSensitivity(Qt::CaseSensitive);
        std::vector<QCollatorSortKey> keys;
        keys.reserve(m_rows.size());
        for (const TkavoChItem* channel : m_rows)
            keys.push_back(collator.sortKey(ToQString(CellText(*channel, kind))));
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return sign * keys[static_cast<std::size_t>(a)].compare(keys[static_cast<std::size_t>(b)]) < 0;
        });
    }
    permute(order);
}

void ChannelModel::MoveRawToEnd()
{
    std::vector<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    const auto raw = [&](int row) { return Cp932AsciiLower(m_rows[static_cast<std::size_t>(row)]->Type) == "raw"; };
    const auto firstRaw = std::stable_partition(order.begin(), order.end(), [&](int row) { return !raw(row); });
    if (firstRaw != order.end())
        permute(order);
}

void ChannelModel::permute(const std::vector<int>& order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(order.size());
    std::vector<const TkavoChItem*> rows(order.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        rows[i] = m_rows[static_cast<std::size_t>(order[i])];
        newRowOf[static_cast<std::size_t>(order[i])] = static_cast<int>(i);
    }
    m_rows.swap(rows);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& index : before)
        after.append(index.isValid() ? createIndex(newRowOf[static_cast<std::size_t>(index.row())], index.column())
                                     : QModelIndex());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

std::vector<bool> ChannelModel::FindRows(std::string_view pattern, RegularExpression& regExp) const
{
    return SearchRows(m_rows, pattern, regExp);
}

void ChannelModel::ShowFound(const std::vector<bool>& found, bool moveResultsUp)
{
    const std::vector<int> order =
        moveResultsUp && found.size() == m_rows.size() ? FoundFirstOrder(found) : std::vector<int>();
    if (!std::is_sorted(order.begin(), order.end()))
        permute(order);
    else if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(Count() - 1, columnCount() - 1), {Qt::FontRole});
}

int ChannelModel::FindHash(const std::string& hash, int start) const
{
    const int count = Count();
    if (count == 0 || hash.empty())
        return -1;
    start = std::clamp(start, 0, count - 1);
    for (int i = 0; i < count; ++i) {
        const int row = (start + i) % count;
        if (m_rows[static_cast<std::size_t>(row)]->Hash == hash)
            return row;
    }
    return -1;
}

void ChannelModel::SetGreyed(bool greyed)
{
    if (m_greyed == greyed)
        return;
    m_greyed = greyed;
    if (!m_rows.empty())
        emit dataChanged(index(0, 0), index(Count() - 1, columnCount() - 1));
}

int ChannelModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : Count();
}

int ChannelModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_captions.size());
}

QString AccessibleRowText(const TkavoChItem& channel)
{
    static const std::array<const char*, TkavoDiffCount> marks = {
        "変化なし", "ランクアップ", "ランクダウン", "新着(前回)", "新着", "変更", "待機", "リレー中", "再生中",
    };
    const auto diff = static_cast<std::size_t>(channel.Diff);
    QStringList parts;
    parts << QString::fromUtf8(diff < marks.size() ? marks[diff] : "") << ToQString(channel.ChannelName);
    if (!channel.Genre.empty())
        parts << ToQString(channel.Genre);
    parts << QString::fromUtf8("リスナー %1").arg(channel.Listeners);
    return parts.join(QString::fromUtf8("、"));
}

QVariant ChannelModel::data(const QModelIndex& index, int role) const
{
    const TkavoChItem* channel = Channel(index.row());
    if (!channel || index.column() < 0 || index.column() >= columnCount())
        return {};
    const ColumnKind kind = Kind(index.column());
    switch (role) {
    case Qt::DisplayRole:
        // A channel that will probably not play is marked by its name; the tip says why.
        if (kind == ColumnKind::ChannelName && m_common && m_common->ChannelPlayHint(*channel) != PlayHint::None)
            return QString::fromUtf8("※") + ToQString(CellText(*channel, kind));
        return ToQString(CellText(*channel, kind));
    case Qt::DecorationRole:
        // The state icon leads every row, whatever the first column's caption.
        if (index.column() == 0 || kind == ColumnKind::Diff)
            return m_icons[static_cast<std::size_t>(channel->Diff) % m_icons.size()];
        return {};
    case Qt::ToolTipRole:
        if (!m_common)
            return {};
        try {
            QString tip = ToQString(m_common->RenderPopupText(*channel));
            if (const PlayHint hint = m_common->ChannelPlayHint(*channel); hint != PlayHint::None)
                tip = QString::fromUtf8("※") + ToQString(PlayHintTip(hint)) +
                      (tip.isEmpty() ? QString() : QStringLiteral("\n") + tip);
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        } catch (...) {
            return {};
        }
    case Qt::AccessibleTextRole:
        // What a screen reader says of the row as the focus reaches it: the first cell holds the
        // mark alone as an icon.
        if (index.column() == 0)
            return AccessibleRowText(*channel);
        return {};
    default:
        return {};
    }
}

QVariant ChannelModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < columnCount())
        return m_headers[static_cast<std::size_t>(section)];
    return {};
}

Qt::ItemFlags ChannelModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren : Qt::NoItemFlags;
}

} // namespace kavo
