#include "ui/lists/ChannelListView.h"

#include "platform/Cp932.h"
#include "ui/lists/ReadableColors.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

namespace kavo {

QStyleOptionViewItem ChannelDelegate::CellOption(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem o(option);
    initStyleOption(&o, index);
    const auto* model = qobject_cast<const ChannelModel*>(index.model());
    const TkavoChItem* channel = model ? model->Channel(index.row()) : nullptr;
    if (!channel)
        return o;
    const auto& look = m_look;
    const QPalette& palette = o.widget ? o.widget->palette() : QApplication::palette();
    if (channel->Find)
        o.font.setBold(true);
    if (channel->ColorEnabled)
        o.backgroundBrush = ToQColor(channel->Color, palette);
    QColor text = o.palette.color(QPalette::Text);
    if (channel->ColorTextEnabled)
        text = ToQColor(channel->ColorText, palette);

    bool link = false;
    if (index.column() == model->ChannelNameColumn()) {
        if (channel->ContactIsBbs)
            o.font.setUnderline(true);
        if (!channel->ContactURL.empty()) {
            link = true;
            text = ToQColor(channel->Visited ? look.TextVisitColor : look.TextLinkColor, palette);
        }
    } else if (index.column() == model->TypeColumn() && !channel->DirectStreamURL.empty()) {
        link = true;
        text = ToQColor(look.TextLinkColor, palette);
    }
    // Under a dark desktop scheme, colours chosen for a light list (favourites' and links' alike)
    // are kept readable; on a light list they show as chosen.
    const bool darkList = IsDark(o.palette.color(QPalette::Base));
    const QColor background =
        channel->ColorEnabled ? ToQColor(channel->Color, palette) : o.palette.color(QPalette::Base);
    if (model->Greyed())
        text = palette.color(QPalette::Disabled, QPalette::Text);
    else if (darkList)
        text = Readable(text, background);
    o.palette.setColor(QPalette::Text, text);
    const bool selected = o.state & QStyle::State_Selected;
    const bool focused = o.widget && o.widget->hasFocus();
    if (link && selected) {
        // On the highlight of the focused view a link colour would vanish: it takes its own colour.
        QColor highlighted = focused ? ToQColor(look.TextLinkSelColor, palette) : text;
        if (darkList)
            highlighted = Readable(highlighted, o.palette.color(QPalette::Highlight), 3);
        o.palette.setColor(QPalette::HighlightedText, highlighted);
    }
    return o;
}

void ChannelDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem o;
    try {
        o = CellOption(option, index);
    } catch (...) {
        o = option;
        initStyleOption(&o, index);
    }
    const QWidget* widget = o.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &o, painter, widget);
    if (m_look.GridLine) {
        painter->save();
        painter->setPen(o.palette.color(QPalette::Mid));
        painter->drawLine(o.rect.topRight(), o.rect.bottomRight());
        painter->drawLine(o.rect.bottomLeft(), o.rect.bottomRight());
        painter->restore();
    }
}

void ChannelListView::ApplyListLook(const TkavoSetting::ColorFontOptions& look, const FontSetting& textFont)
{
    setUpdatesEnabled(false);
    m_delegate->SetLook(look);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, ToQColor(look.BackColor, QApplication::palette()));
    palette.setColor(QPalette::Text, ToQColor(look.TextFontColor, QApplication::palette()));
    setPalette(palette);
    QFont font = this->font();
    if (!textFont.Name.empty())
        font.setFamily(QString::fromStdString(Cp932ToUtf8(textFont.Name)));
    if (textFont.Size > 0)
        font.setPointSize(textFont.Size);
    // Setting the font it already has would still re-resolve it for every child.
    if (font != this->font())
        setFont(font);
    setUpdatesEnabled(true);
    viewport()->update();
}

ChannelListView::ChannelListView(const QString& name, ChannelModel* model, QWidget* parent)
    : QTreeView(parent), m_model(model), m_delegate(new ChannelDelegate(this))
{
    setObjectName(name);
    setModel(model);
    setItemDelegate(m_delegate);
    setRootIsDecorated(false);
    setUniformRowHeights(true); // keeps a refill of thousands of rows cheap
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setItemsExpandable(false);
    setExpandsOnDoubleClick(false);
    setContextMenuPolicy(Qt::CustomContextMenu);
    setIconSize(QSize(16, 16));
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    // The last column takes what the others leave, so no blank strip stays at the right.
    header()->setStretchLastSection(true);
    header()->setSortIndicatorShown(true);
    header()->setSortIndicator(-1, Qt::DescendingOrder);
    QFont font(QStringLiteral("Noto Sans CJK JP"));
    font.setPixelSize(12);
    setFont(font);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const TkavoChItem* channel = SelectedChannel();
        m_selectedHash = channel ? channel->Hash : std::string();
        emit CurrentChannelChanged(SelectedChannel());
    });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
        m_selectedHash.clear();
        emit CurrentChannelChanged(SelectedChannel());
    });
}

int ChannelListView::SelectedRow() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ChannelListView::SelectRow(int row)
{
    if (row < 0 || row >= m_model->Count()) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex index = m_model->index(row, 0);
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ChannelListView::EnsureSelectionVisible(bool fully)
{
    const int row = SelectedRow();
    if (row < 0)
        return;
    const QModelIndex index = m_model->index(row, 0);
    if (!fully && viewport()->rect().intersects(visualRect(index)))
        return;
    scrollTo(index, QAbstractItemView::EnsureVisible);
}

void ChannelListView::Sort(int column)
{
    m_model->SortByColumn(column, SortAscending);
    // The indicator follows the flag: the listener column's "ascending" puts the most first.
    header()->setSortIndicator(m_model->LastSortedColumn(), SortAscending ? Qt::AscendingOrder : Qt::DescendingOrder);
    emit Sorted();
}

void ChannelListView::SetColumnWidths(const std::vector<int>& widths)
{
    for (std::size_t i = 0; i < widths.size() && static_cast<int>(i) < m_model->columnCount(); ++i)
        setColumnWidth(static_cast<int>(i), widths[i]);
}

std::vector<int> ChannelListView::ColumnWidths() const
{
    std::vector<int> widths;
    for (int i = 0; i < m_model->columnCount(); ++i)
        widths.push_back(columnWidth(i));
    return widths;
}

void ChannelListView::keyboardSearch(const QString& search)
{
    const int column = m_model->ChannelNameColumn();
    const int count = m_model->Count();
    if (column < 0 || count == 0 || search.isEmpty())
        return;
    const bool goingOn = m_sinceTyped.isValid() && m_sinceTyped.elapsed() < QApplication::keyboardInputInterval();
    m_sinceTyped.start();
    m_typed = goingOn ? m_typed + search : search;
    QString wanted = m_typed;
    // "aaa" steps through the channels starting with "a".
    const bool repeated = wanted.size() > 1 && wanted.count(wanted.front()) == wanted.size();
    if (repeated)
        wanted = wanted.left(1);
    const int current = std::max(SelectedRow(), 0);
    const int start = goingOn && !repeated ? current : current + 1;
    const auto name = [this, column](int row) {
        return m_model->data(m_model->index(row, column), Qt::DisplayRole).toString();
    };
    for (const bool prefix : {true, false}) {
        for (int i = 0; i < count; ++i) {
            const int row = (start + i) % count;
            const QString text = name(row);
            if (prefix ? text.startsWith(wanted, Qt::CaseInsensitive) : text.contains(wanted, Qt::CaseInsensitive)) {
                SelectRow(row);
                scrollTo(m_model->index(row, 0));
                return;
            }
        }
    }
}

void ChannelListView::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        emit MenuKeyReleased();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (SelectedRow() >= 0)
            emit EnterPressed();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void ChannelListView::keyReleaseEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Menu && !event->isAutoRepeat()) {
        emit MenuKeyReleased();
        event->accept();
        return;
    }
    QTreeView::keyReleaseEvent(event);
}

void ChannelListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeView::mouseDoubleClickEvent(event);
    if (SelectedRow() >= 0)
        emit DoubleClickedRow();
}

// The link cells of the selected row change colour with the focus.
void ChannelListView::focusInEvent(QFocusEvent* event)
{
    QTreeView::focusInEvent(event);
    viewport()->update();
}

void ChannelListView::focusOutEvent(QFocusEvent* event)
{
    QTreeView::focusOutEvent(event);
    viewport()->update();
}

} // namespace kavo
