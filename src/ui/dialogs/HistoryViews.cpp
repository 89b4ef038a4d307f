#include "ui/dialogs/HistoryViews.h"

#include "history/HistoryStore.h"
#include "settings/TkavoSetting.h"
#include "ui/app/DebugLog.h"
#include "ui/dialogs/BroadcastHistoryWindow.h"
#include "ui/dialogs/YpStatusWindow.h"
#include "ui/window/ActionTable.h"

#include <QAction>
#include <QApplication>
#include <QStatusBar>
#include <QToolButton>

namespace kavo {

HistoryViews::HistoryViews(HistoryStore& history, const TkavoSetting& setting, const ActionTable& actions,
                           QStatusBar* statusBar, QWidget* window)
    : QObject(window), m_history(history), m_setting(setting), m_window(window)
{
    actions.Connect(ActionId::MainVisualYpStatus, this, [this] { ShowYpStatus(); });
    actions.Connect(ActionId::MainVisualHistory, this, [this] { ShowBroadcasts(); });
    QAction* ypStatus = actions[ActionId::MainVisualYpStatus];
    m_button = new QToolButton(statusBar);
    m_button->setObjectName(QStringLiteral("ButtonYpStatus"));
    m_button->setAutoRaise(true);
    m_button->setToolTip(ypStatus->text().remove(QLatin1Char('&')));
    connect(m_button, &QToolButton::clicked, ypStatus, &QAction::trigger);
    statusBar->addPermanentWidget(m_button);

    // The writer thread reports each refresh written; the window's part runs on the main thread.
    QPointer<HistoryViews> self(this);
    history.SetWrittenHandler([self] {
        QMetaObject::invokeMethod(
            qApp,
            [self] {
                if (self)
                    DebugLog::Guarded("HistoryWritten", [&] { self->Refresh(); });
            },
            Qt::QueuedConnection);
    });
    Refresh();
}

YpStatusWindow* HistoryViews::ShowYpStatus()
{
    if (!m_ypStatus) {
        m_ypStatus = new YpStatusWindow(m_history, m_setting, m_window);
        m_ypStatus->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        m_ypStatus->Reload();
    }
    m_ypStatus->show();
    m_ypStatus->raise();
    m_ypStatus->activateWindow();
    return m_ypStatus;
}

BroadcastHistoryWindow* HistoryViews::ShowBroadcasts()
{
    if (!m_broadcasts) {
        m_broadcasts = new BroadcastHistoryWindow(m_history, m_window);
        m_broadcasts->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_broadcasts->show();
    m_broadcasts->raise();
    m_broadcasts->activateWindow();
    return m_broadcasts;
}

void HistoryViews::Refresh()
{
    std::vector<YpHealth> configured;
    for (const TkavoYpItem& yp : m_setting.YpList)
        if (yp.Enabled)
            configured.push_back(YpHealth::Of(yp.Url, yp.Title, yp.Enabled));
    int failing = 0;
    for (const YpHealth& yp : m_history.YpStatus(configured))
        failing += yp.Failing();
    const bool problem = !m_history.Problem().empty();
    if (failing > 0)
        m_button->setText(QString::fromUtf8("YP: %1件失敗").arg(failing));
    else
        m_button->setText(problem ? QString::fromUtf8("YP: 記録なし") : QStringLiteral("YP"));
    m_button->setStyleSheet(failing > 0 ? QStringLiteral("color: red") : QString());
    if (m_ypStatus)
        m_ypStatus->Reload();
    // The history window keeps its place; it is read again when asked.
}

} // namespace kavo
