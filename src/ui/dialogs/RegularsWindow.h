#pragma once

#include "history/Regulars.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QThreadPool>

#include <functional>
#include <optional>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;
class QTreeView;

namespace kavo {

class HistoryStore;

// The regulars of one report, a row a channel.
class RegularsModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        ColumnWeeks,
        ColumnStart,
        ColumnLength,
        ColumnState,
        ColumnChannelName,
        ColumnGenre,
        ColumnCount
    };

    using QAbstractTableModel::QAbstractTableModel;

    void SetReport(RegularsReport report);
    const RegularsReport& Report() const { return m_report; }
    const Regular& Row(int row) const { return m_report.Rows.at(static_cast<std::size_t>(row)); }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    RegularsReport m_report;
};

// "いつもの配信": who usually broadcasts at a weekday and hour (now, unless another is picked),
// read from the history on a thread of its own so that the window never waits for the file.
class RegularsWindow : public QDialog
{
    Q_OBJECT

public:
    // What a double click does with a regular's name (CP932): play it when it is on the list on
    // air (true), or otherwise open its history.
    struct Handlers
    {
        std::function<bool(const std::string&)> Play;
        std::function<void(const std::string&)> OpenHistory;
    };

    RegularsWindow(HistoryStore& history, int weeks, int minWeeks, Handlers handlers, QWidget* parent = nullptr);
    ~RegularsWindow() override;

    // Reads the report again for the hour shown; the model changes when the reading is done.
    void Reload();
    // Asks about this weekday and hour; nullopt: now.
    void SetAt(std::optional<WeekTime> at);
    void SetWeeks(int weeks, int minWeeks);
    std::optional<WeekTime> At() const { return m_at; }
    // Whether a reading is under way.
    bool Busy() const { return m_pending > 0; }

    RegularsModel& Model() const { return *m_model; }
    QTreeView* View() const { return m_view; }
    QComboBox* DayBox() const { return m_day; }
    QComboBox* HourBox() const { return m_hour; }

signals:
    // A reading was taken into the model.
    void Loaded();

private:
    void pickerChanged();
    void activate(const QModelIndex& index);
    void showReport(RegularsReport report, unsigned generation);

    HistoryStore& m_history;
    Handlers m_handlers;
    int m_weeks;
    int m_minWeeks;
    std::optional<WeekTime> m_at;
    RegularsModel* m_model = nullptr;
    QTreeView* m_view = nullptr;
    QComboBox* m_day = nullptr;
    QComboBox* m_hour = nullptr;
    QPushButton* m_now = nullptr;
    QLabel* m_status = nullptr;
    unsigned m_generation = 0;
    int m_pending = 0;
    bool m_settingPicker = false;
    // One reader at a time; its destructor waits for the reading under way.
    QThreadPool m_pool;
};

} // namespace kavo
