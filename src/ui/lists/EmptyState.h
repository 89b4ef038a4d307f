#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QAbstractItemView;
class QAction;
class QLabel;
class QPushButton;

namespace kavo {

// How to get a list now: the refresh button, and F5 when the user has switched it on (or where to
// switch it on).
QString RefreshHint(bool keyF5Refresh);

// What an empty list of channels says instead of nothing, centred over the view: that no YP is
// enabled (with a button that asks for the settings), that the first refresh is under way, or,
// before any refresh of this run, how to start one.
// It shows only while the view has no rows and there is something to say.
class EmptyState : public QWidget
{
    Q_OBJECT

public:
    // hasEnabledYp is asked each time the state is looked at again. The button follows the
    // enabled state of configure.
    EmptyState(QAbstractItemView& view, std::function<bool()> hasEnabledYp, QAction* configure);

    void SetRefreshing(bool refreshing);
    // A refresh has ended in this run: an empty list is then the YPs' answer, not a missing one.
    void SetRefreshed();
    // What the view says before the first refresh, when YPs are enabled.
    void SetIdleHint(const QString& hint);
    // Looks at the view and the settings again.
    void Update();

    QString Text() const;
    QPushButton* Button() const { return m_button; }

signals:
    // The button was pressed while the settings could be opened.
    void ConfigureRequested();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractItemView& m_view;
    std::function<bool()> m_hasEnabledYp;
    QPointer<QAction> m_configure;
    QLabel* m_label;
    QPushButton* m_button;
    bool m_refreshing = false;
    bool m_refreshed = false;
    QString m_idleHint;
};

} // namespace kavo
