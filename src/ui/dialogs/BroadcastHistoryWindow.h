#pragma once

#include "history/HistoryStore.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QTimer>

#include <utility>
#include <vector>

class QLabel;
class QLineEdit;
class QTreeView;

namespace kavo {

// The broadcasts of the history, newest first, a page at a time as the view scrolls.
class BroadcastHistoryModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        ColumnFirstSeen,
        ColumnLastSeen,
        ColumnListeners,
        ColumnChannelName,
        ColumnYp,
        ColumnGenreDescription,
        ColumnCount
    };
    static constexpr std::size_t PageSize = 200;

    explicit BroadcastHistoryModel(HistoryStore& history, QObject* parent = nullptr);

    // Starts again with this find pattern ("" for every broadcast) and reads the first page.
    // Throws RegularExpressionError for an invalid pattern and then shows nothing.
    void SetPattern(const std::string& pattern);
    const BroadcastRow& Row(int row) const { return m_rows.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;

private:
    HistoryStore& m_history;
    std::string m_pattern;
    std::vector<BroadcastRow> m_rows;
    bool m_more = false;
};

// When one channel was on air over the last days: a strip of 24 hours per day, newest day on top.
class OnAirChart : public QWidget
{
    Q_OBJECT

public:
    static constexpr int Days = 30;

    explicit OnAirChart(QWidget* parent = nullptr);
    void SetTimes(std::vector<std::pair<DateTime, DateTime>> times, DateTime now);
    const std::vector<std::pair<DateTime, DateTime>>& Times() const { return m_times; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<std::pair<DateTime, DateTime>> m_times;
    DateTime m_now = 0;
};

// "放送履歴": the broadcasts with a search box that matches as the find dialog does, and, for the
// selected channel's name, when it was on air over the last 30 days.
class BroadcastHistoryWindow : public QDialog
{
    Q_OBJECT

public:
    explicit BroadcastHistoryWindow(HistoryStore& history, QWidget* parent = nullptr);

    // Reads the history again, keeping the search.
    void Reload();
    QLineEdit* SearchBox() const { return m_search; }
    QTreeView* View() const { return m_view; }
    BroadcastHistoryModel& Model() const { return *m_model; }
    OnAirChart* Chart() const { return m_chart; }
    // Runs the search typed so far at once.
    void Search();

private:
    void showChannel(const QModelIndex& index);

    HistoryStore& m_history;
    BroadcastHistoryModel* m_model = nullptr;
    QLineEdit* m_search = nullptr;
    QTreeView* m_view = nullptr;
    QLabel* m_chartTitle = nullptr;
    OnAirChart* m_chart = nullptr;
    QLabel* m_status = nullptr;
    QTimer m_searchDelay;
};

} // namespace kavo
