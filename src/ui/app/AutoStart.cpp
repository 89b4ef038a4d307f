#include "ui/app/AutoStart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSaveFile>

namespace kavo {
namespace {

// A desktop entry's Exec argument: quoted, with the characters the quotes still give a meaning
// escaped by a backslash.
QString QuotedArgument(const QString& argument)
{
    QString quoted;
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        quoted += c;
    }
    // A literal percent sign is written twice in Exec.
    quoted.replace(QStringLiteral("%"), QStringLiteral("%%"));
    return u'"' + quoted + u'"';
}

} // namespace

QString AutoStart::EntryPath()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    QString name = QGuiApplication::desktopFileName();
    if (name.isEmpty())
        name = QStringLiteral("kavo");
    return config + QStringLiteral("/autostart/") + name + QStringLiteral(".desktop");
}

bool AutoStart::Enabled()
{
    const QString path = EntryPath();
    if (!QFileInfo::exists(path))
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line == QStringLiteral("Hidden=true") || line == QStringLiteral("X-GNOME-Autostart-enabled=false"))
            return false;
    }
    return true;
}

bool AutoStart::Set(bool enabled, const QString& program, bool minimized, QString& error)
{
    const QString path = EntryPath();
    if (!enabled) {
        if (QFileInfo::exists(path) && !QFile::remove(path)) {
            error = QStringLiteral("%1 を削除できません").arg(path);
            return false;
        }
        return true;
    }
    if (!QDir().mkpath(QFileInfo(path).path())) {
        error = QStringLiteral("%1 を作成できません").arg(QFileInfo(path).path());
        return false;
    }
    QString exec = QuotedArgument(program);
    if (minimized)
        exec += QStringLiteral(" --minimized");
    QString icon = QGuiApplication::desktopFileName();
    if (icon.isEmpty())
        icon = QStringLiteral("kavo");
    const QString text = QStringLiteral("[Desktop Entry]\n"
                                        "Type=Application\n"
                                        "Name=kavo\n"
                                        "Comment=PeerCast YP browser\n"
                                        "Exec=%1\n"
                                        "Icon=%2\n"
                                        "Terminal=false\n"
                                        "X-GNOME-Autostart-enabled=true\n")
                             .arg(exec, icon);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0 || !file.commit()) {
        error = QStringLiteral("%1 に書き込めません: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace kavo
