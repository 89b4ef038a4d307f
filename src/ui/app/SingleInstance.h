#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>
#include <QStringList>

namespace kavo {

// One running program per user and program folder. The first instance listens on a local socket;
// a later one hands its command line over and is told to exit.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // The socket name for a program folder, unique per user.
    static QString ServerName(const QString& programFolder);

    explicit SingleInstance(QString serverName, QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when another instance took the arguments: this one must exit. Otherwise this instance
    // becomes the listening one (a stale socket of a crashed instance is replaced).
    bool HandOver(const QStringList& arguments, int timeoutMs = 2000);

signals:
    // A later start asked to be shown; its arguments are passed but the window ignores them.
    void Activated(const QStringList& arguments);

private:
    void readConnection(class QLocalSocket* socket);

    QString m_name;
    QLocalServer m_server;
};

} // namespace kavo
