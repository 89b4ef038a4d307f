#include "ui/window/ApplicationTitle.h"

#include "ui/Cp932Text.h"

#include <QGuiApplication>
#include <QWidget>

namespace kavo {

void ApplyApplicationTitle(QWidget& window, const std::string& title)
{
    QString text = FromCp932(title);
    if (text.trimmed().isEmpty())
        text = QStringLiteral("kavo");
    window.setWindowTitle(text);
    // What dialogs and message boxes without a parent's caption take.
    QGuiApplication::setApplicationDisplayName(text);
}

QString ApplicationTitle()
{
    const QString name = QGuiApplication::applicationDisplayName();
    return name.isEmpty() ? QStringLiteral("kavo") : name;
}

} // namespace kavo
