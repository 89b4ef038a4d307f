#pragma once

#include "settings/TkavoSetting.h"
#include "ui/lists/ChannelModel.h"

#include <QElapsedTimer>
#include <QStyledItemDelegate>
#include <QTreeView>

namespace kavo {

// Draws a channel cell: bold for found channels, the favorite's colours, link colours for the
// channel-name and type cells, grid lines when the settings ask for them.
class ChannelDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    // The look of one cell as it will be painted; public for the tests.
    QStyleOptionViewItem CellOption(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    // The link colours and grid lines to draw with.
    void SetLook(const TkavoSetting::ColorFontOptions& look) { m_look = look; }
    const TkavoSetting::ColorFontOptions& Look() const { return m_look; }

private:
    TkavoSetting::ColorFontOptions m_look;
};

// One report-style list of channels over its own model.
class ChannelListView : public QTreeView
{
    Q_OBJECT

public:
    explicit ChannelListView(const QString& name, ChannelModel* model, QWidget* parent = nullptr);

    ChannelModel& Model() const { return *m_model; }
    // Colours, grid lines and the text font of the lists; the main window and the settings
    // dialog's preview draw with it alike.
    void ApplyListLook(const TkavoSetting::ColorFontOptions& look, const FontSetting& textFont);
    // The selected row, or -1.
    int SelectedRow() const;
    const TkavoChItem* SelectedChannel() const { return m_model->Channel(SelectedRow()); }
    void SelectRow(int row);
    // The ID of the selected channel, taken when it was selected: it stays readable after the
    // records behind the rows are gone.
    const std::string& SelectedHash() const { return m_selectedHash; }
    // Scrolls the selected row into view; fully: a partly visible row is moved as well.
    void EnsureSelectionVisible(bool fully);

    // The view's sort direction flag, handed to the sort.
    bool SortAscending = false;
    // Sorts by the column with SortAscending and shows the indicator, then raises Sorted.
    void Sort(int column);

    // Widths by column caption; a missing caption takes the fallback.
    void SetColumnWidths(const std::vector<int>& widths);
    std::vector<int> ColumnWidths() const;

    // The link colours and grid lines the view draws with, as ApplyListLook set them.
    const TkavoSetting::ColorFontOptions& Look() const { return m_delegate->Look(); }

    // Type-to-find: the letters typed in a row select the next channel whose name starts with
    // them, else one whose name holds them; the same letter again steps on to the next.
    void keyboardSearch(const QString& search) override;

signals:
    void Sorted();
    // Double click or Enter on a selected row.
    void DoubleClickedRow();
    void EnterPressed();
    // The context-menu key or Shift+F10.
    void MenuKeyReleased();
    void CurrentChannelChanged(const kavo::TkavoChItem* channel);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    ChannelModel* m_model;
    ChannelDelegate* m_delegate;
    std::string m_selectedHash;
    QString m_typed;
    QElapsedTimer m_sinceTyped;
};

} // namespace kavo
