#pragma once

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

namespace kavo::test {

// A D-Bus session bus of the test's own (dbus-daemon), that starts no services: the test puts
// the stand-ins it wants on it. Stand-ins live on a thread of their own, so that a blocking call
// of the code under test can be answered.
class PrivateBus
{
public:
    PrivateBus()
    {
        const QString config = m_folder.filePath(QStringLiteral("bus.conf"));
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly))
            return;
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig><type>session</type><listen>unix:dir=" +
                   m_folder.path().toUtf8() +
                   "</listen><auth>EXTERNAL</auth>"
                   "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                   "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        file.close();
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
        if (!m_daemon.waitForStarted(5000))
            return;
        for (int i = 0; i < 50 && !m_daemon.canReadLine(); ++i)
            m_daemon.waitForReadyRead(100);
        m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
        m_services.start();
    }
    ~PrivateBus()
    {
        m_services.quit();
        m_services.wait();
        for (const QString& name : m_connections)
            QDBusConnection::disconnectFromBus(name);
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool Running() const { return !m_address.isEmpty(); }
    QString Address() const { return m_address; }
    // A connection of its own to the bus.
    QDBusConnection Connect(const QString& name)
    {
        m_connections.append(name);
        return QDBusConnection::connectToBus(m_address, name);
    }
    // Puts a stand-in on the services' thread, under the service name and path, on a connection of
    // its own; the stand-in belongs to the caller, who unregisters it by Remove.
    void Serve(QObject* standIn, const QString& service, const QString& path)
    {
        QDBusConnection connection = Connect(service);
        standIn->moveToThread(&m_services);
        connection.registerObject(path, standIn,
                                  QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties |
                                      QDBusConnection::ExportAllSignals);
        connection.registerService(service);
    }
    void Remove(const QString& service)
    {
        QDBusConnection connection(service);
        connection.unregisterService(service);
        QDBusConnection::disconnectFromBus(service);
        m_connections.removeAll(service);
    }

private:
    QTemporaryDir m_folder;
    QProcess m_daemon;
    QString m_address;
    QThread m_services;
    QStringList m_connections;
};

} // namespace kavo::test
