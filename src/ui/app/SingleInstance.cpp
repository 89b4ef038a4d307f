#include "ui/app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

#include <unistd.h>

namespace kavo {

QString SingleInstance::ServerName(const QString& programFolder)
{
    const QByteArray folder = QCryptographicHash::hash(programFolder.toUtf8(), QCryptographicHash::Sha1).toHex();
    return QStringLiteral("kavo-%1-%2").arg(getuid()).arg(QString::fromLatin1(folder.left(16)));
}

SingleInstance::SingleInstance(QString serverName, QObject* parent) : QObject(parent), m_name(std::move(serverName))
{
    connect(&m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server.nextPendingConnection())
            readConnection(socket);
    });
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::HandOver(const QStringList& arguments, int timeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(m_name);
    if (socket.waitForConnected(timeoutMs)) {
        QByteArray message;
        QDataStream out(&message, QIODevice::WriteOnly);
        out << arguments;
        socket.write(message);
        socket.waitForBytesWritten(timeoutMs);
        // The running instance answers once it has taken the command line.
        socket.waitForReadyRead(timeoutMs);
        socket.disconnectFromServer();
        return true;
    }
    // Nobody answers: a socket file left by a crashed instance would block listening.
    QLocalServer::removeServer(m_name);
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    m_server.listen(m_name);
    return false;
}

void SingleInstance::readConnection(QLocalSocket* socket)
{
    QPointer<QLocalSocket> guard(socket);
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QLocalSocket::readyRead, this, [this, socket, buffer] {
        buffer->append(socket->readAll());
        QDataStream in(buffer.get(), QIODevice::ReadOnly);
        in.startTransaction();
        QStringList arguments;
        in >> arguments;
        if (!in.commitTransaction())
            return; // more bytes to come
        socket->write("ok");
        socket->flush();
        emit Activated(arguments);
    });
    // A client that sends nothing is dropped after a while.
    QTimer* idle = new QTimer(socket);
    idle->setSingleShot(true);
    connect(idle, &QTimer::timeout, socket, [socket] { socket->abort(); });
    idle->start(5000);
    if (guard && guard->bytesAvailable() > 0)
        emit guard->readyRead();
}

} // namespace kavo
