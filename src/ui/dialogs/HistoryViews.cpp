#include "ui/dialogs/HistoryViews.h"

#include "history/HistoryStore.h"
#include "settings/TkavoSetting.h"
#include "ui/Cp932Text.h"
#include "ui/app/DebugLog.h"
#include "ui/dialogs/BroadcastHistoryWindow.h"
#include "ui/dialogs/RegularsWindow.h"
#include "ui/dialogs/YpStatusWindow.h"
#include "ui/window/ActionTable.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QStatusBar>
#include <QToolButton>

namespace kavo {

HistoryViews::HistoryViews(HistoryStore& history, const TkavoSetting& setting, const ActionTable& actions,
                           QStatusBar* statusBar, QWidget* window)
    : QObject(window), m_history(history), m_setting(setting), m_window(window)
{
    actions.Connect(ActionId::MainVisualYpStatus, this, [this] { ShowYpStatus(); });
    actions.Connect(ActionId::MainVisualHistory, this, [this] { ShowBroadcasts(); });
    actions.Connect(ActionId::MainVisualRegulars, this, [this] { ShowRegulars(); });
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

namespace {

// A find pattern that matches the name as it stands: its characters, not a regular expression,
// and its blanks, not a list of alternatives.
QString ExactNamePattern(const std::string& name)
{
    QString pattern;
    for (const QChar c : FromCp932(name)) {
        if (c == QLatin1Char(' '))
            pattern += QStringLiteral("\\x20");
        else if (QStringLiteral("\\^$.|?*+()[]{}").contains(c))
            pattern += QLatin1Char('\\') + c;
        else
            pattern += c;
    }
    return pattern;
}

} // namespace

RegularsWindow* HistoryViews::ShowRegulars()
{
    if (!m_regulars) {
        RegularsWindow::Handlers handlers;
        handlers.Play = [this](const std::string& name) { return m_playRegular && m_playRegular(name); };
        handlers.OpenHistory = [this](const std::string& name) {
            BroadcastHistoryWindow* window = ShowBroadcasts();
            window->SearchBox()->setText(ExactNamePattern(name));
            window->Search();
        };
        m_regulars = new RegularsWindow(m_history, m_setting.History.RegularWeeks, m_setting.History.RegularMinWeeks,
                                        std::move(handlers), m_window);
        m_regulars->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        m_regulars->SetWeeks(m_setting.History.RegularWeeks, m_setting.History.RegularMinWeeks);
    }
    m_regulars->show();
    m_regulars->raise();
    m_regulars->activateWindow();
    return m_regulars;
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
    // Read on the window's own thread: who is on air and late changes with each refresh.
    if (m_regulars)
        m_regulars->SetWeeks(m_setting.History.RegularWeeks, m_setting.History.RegularMinWeeks);
    // The history window keeps its place; it is read again when asked.
}

} // namespace kavo
