#pragma once

#include <QDialog>

class QLabel;
class QTreeWidget;

namespace kavo {

class HistoryStore;
class TkavoSetting;

// "YPの状態": one row per configured YP with its last result, channels, time since the last
// success and failures in a row, as the history recorded them; a failing YP in red, and a tip with
// its last ten turns. Not modal; Reload reads the history again.
class YpStatusWindow : public QDialog
{
    Q_OBJECT

public:
    enum Column {
        ColumnYp,
        ColumnResult,
        ColumnChannels,
        ColumnLastSuccess,
        ColumnFailures,
        ColumnCount
    };

    // Both must outlive the window; the YPs are read from the settings at every reload.
    YpStatusWindow(HistoryStore& history, const TkavoSetting& setting, QWidget* parent = nullptr);

    void Reload();
    QTreeWidget* List() const { return m_list; }

private:
    HistoryStore& m_history;
    const TkavoSetting& m_setting;
    QTreeWidget* m_list = nullptr;
    QLabel* m_problem = nullptr;
};

} // namespace kavo
