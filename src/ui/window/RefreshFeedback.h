#pragma once

#include <QObject>
#include <QString>

class QAbstractItemView;
class QAction;
class QLabel;
class QStatusBar;

namespace kavo {

class EmptyState;
class TkavoSetting;

// What the window says while the list has little to show: the refresh under way in the status
// bar ("更新中 3/7: YP名"), and the on-air view's empty state (no YP enabled, or the first refresh
// running). It is told when a cycle starts, how far it got and when it ends, and when the settings
// changed.
class RefreshFeedback : public QObject
{
    Q_OBJECT

public:
    // configure: the settings action; the empty state's button opens it on the "YP" page.
    RefreshFeedback(const TkavoSetting& setting, QAbstractItemView& listViewNow, QStatusBar& statusBar,
                    QAction* configure, QObject* parent = nullptr);

    void Started();
    // The retrieval module's turn on the current'th of total YPs.
    void Progress(int current, int total, const QString& title);
    void Finished();
    void SettingsChanged();

    // What the status bar says of the refresh; empty while none runs.
    QString StatusText() const;
    kavo::EmptyState& EmptyState() const { return *m_emptyState; }

signals:
    // What the status bar says of the refresh changed; empty when it ended.
    void StatusChanged(const QString& text);

private:
    void setStatus(const QString& text);

    const TkavoSetting& m_setting;
    QLabel* m_status;
    kavo::EmptyState* m_emptyState;
    bool m_running = false;
};

} // namespace kavo
