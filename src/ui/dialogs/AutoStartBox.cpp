#include "ui/dialogs/AutoStartBox.h"

#include "ui/app/AutoStart.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>

namespace kavo {

AutoStartBox::AutoStartBox(QWidget* parent) : QCheckBox(QStringLiteral("ログイン時に起動"), parent)
{
    setObjectName(QStringLiteral("etcCheckBoxAutoStart"));
    m_shown = AutoStart::Enabled();
    setChecked(m_shown);
}

std::optional<QString> AutoStartBox::Apply()
{
    if (isChecked() == m_shown)
        return std::nullopt;
    QString error;
    if (!AutoStart::Set(isChecked(), QCoreApplication::applicationFilePath(), QSystemTrayIcon::isSystemTrayAvailable(),
                        error))
        return error;
    m_shown = isChecked();
    return std::nullopt;
}

} // namespace kavo
