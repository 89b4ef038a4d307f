#include "ui/window/RefreshFeedback.h"

#include "settings/TkavoSetting.h"
#include "ui/dialogs/ukavoConfig.h"
#include "ui/lists/EmptyState.h"

#include <QAction>
#include <QLabel>
#include <QStatusBar>

namespace kavo {

RefreshFeedback::RefreshFeedback(const TkavoSetting& setting, QAbstractItemView& listViewNow, QStatusBar& statusBar,
                                 QAction* configure, QObject* parent)
    : QObject(parent), m_setting(setting), m_status(new QLabel(&statusBar)),
      m_emptyState(new kavo::EmptyState(
          listViewNow,
          [&setting] {
              for (const TkavoYpItem& yp : setting.YpList)
                  if (yp.Enabled)
                      return true;
              return false;
          },
          configure))
{
    m_status->setObjectName(QStringLiteral("LabelRefreshProgress"));
    statusBar.addPermanentWidget(m_status);
    m_status->hide();
    connect(m_emptyState, &EmptyState::ConfigureRequested, this, [configure] {
        TkavoConfig::LastPageIndex = 0; // the "YP" page
        if (configure)
            configure->trigger();
    });
}

void RefreshFeedback::Started()
{
    m_running = true;
    setStatus(QString::fromUtf8("更新中…"));
    m_emptyState->SetRefreshing(true);
}

void RefreshFeedback::Progress(int current, int total, const QString& title)
{
    // A turn that arrives after the finish step belongs to no running refresh.
    if (!m_running)
        return;
    setStatus(QString::fromUtf8("更新中 %1/%2: %3").arg(current).arg(total).arg(title));
}

void RefreshFeedback::Finished()
{
    m_running = false;
    setStatus(QString());
    m_emptyState->SetRefreshing(false);
    m_emptyState->SetRefreshed();
}

void RefreshFeedback::SettingsChanged()
{
    m_emptyState->SetIdleHint(RefreshHint(m_setting.Operation.KeyF5Refresh));
}

void RefreshFeedback::setStatus(const QString& text)
{
    m_status->setText(text);
    m_status->setVisible(!text.isEmpty());
    emit StatusChanged(text);
}

QString RefreshFeedback::StatusText() const
{
    return m_status->isHidden() ? QString() : m_status->text();
}

} // namespace kavo
