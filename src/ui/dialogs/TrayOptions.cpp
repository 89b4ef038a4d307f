#include "ui/dialogs/TrayOptions.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QWidget>

namespace kavo {

TrayOptions::TrayOptions(QGridLayout& layout, QCheckBox& taskTray, QObject* parent)
    : QObject(parent), m_taskTray(taskTray),
      m_closeToTray(new QCheckBox(QString::fromUtf8("閉じるボタンでトレイへ(&Q)"), layout.parentWidget())),
      m_reason(new QLabel(layout.parentWidget()))
{
    m_closeToTray->setObjectName(QStringLiteral("etcCheckBoxCloseToTray"));
    m_reason->setObjectName(QStringLiteral("etcLabelNoTray"));
    // Two lines of their own: a wrapped label gets too little height in the dialog's fixed grid.
    m_reason->setText(QString::fromUtf8("デスクトップにトレイがないため、トレイに入れる設定は使えません。\n"
                                        "最小化と「最小化で起動する」はタスクバーへ、閉じるボタンは終了します。"));
    m_reason->hide();
    const int row = layout.rowCount();
    layout.addWidget(m_closeToTray, row, 0, 1, 2);
    layout.addWidget(m_reason, row + 1, 0, 1, 2);
    // After the task tray's box in the order of the Tab key.
    QWidget::setTabOrder(&m_taskTray, m_closeToTray);
}

void TrayOptions::SetTrayAvailable(bool available)
{
    m_available = available;
    m_taskTray.setEnabled(available);
    m_closeToTray->setEnabled(available);
    m_reason->setVisible(!available);
}

void TrayOptions::Fill(const TkavoSetting::EtcOptions& etc)
{
    m_closeToTray->setChecked(etc.CloseToTray);
}

void TrayOptions::Take(TkavoSetting::EtcOptions& etc) const
{
    if (m_closeToTray->isEnabled())
        etc.CloseToTray = m_closeToTray->isChecked();
}

} // namespace kavo
