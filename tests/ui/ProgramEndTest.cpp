// kavo as its own process: told to end by a signal, it ends as a close does and leaves no socket.
#include "ui/app/SingleInstance.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Asks the running program to come to the front, as a second start does; true once it answered,
// which it does from its event loop.
bool Answers(const QString& name)
{
    QLocalSocket socket;
    socket.connectToServer(name);
    if (!socket.waitForConnected(200))
        return false;
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << QStringList{QStringLiteral("kavo")};
    socket.write(message);
    socket.waitForBytesWritten(1000);
    return socket.waitForReadyRead(3000) && socket.readAll() == "ok";
}

// The socket file a program killed outright leaves behind: bound, and nobody listening.
bool LeaveStaleSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    if (fd < 0 || bytes.size() >= static_cast<int>(sizeof address.sun_path))
        return false;
    std::memcpy(address.sun_path, bytes.constData(), static_cast<std::size_t>(bytes.size()));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

} // namespace

class ProgramEndTest : public QObject
{
    Q_OBJECT

private slots:
    void signalsEndTheProgramAsACloseDoes_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }

    // A stale socket of an earlier run does not keep the program from starting; the signal then
    // writes the window's options and takes the socket away.
    void signalsEndTheProgramAsACloseDoes()
    {
        QFETCH(int, signal);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        QFile ini(home.filePath(QStringLiteral("kavo.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Etc]\r\nPeerCast=/nonexistent/peercast\r\n");
        ini.close();
        const QString name = kavo::SingleInstance::ServerName(home.path());
        const QString socketPath = QDir::tempPath() + QLatin1Char('/') + name;
        QVERIFY(LeaveStaleSocket(socketPath));

        QProcess program;
        program.setProgram(QStringLiteral(KAVO_PATH));
        program.setArguments({QStringLiteral("--home"), home.path()});
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start();
        QVERIFY(program.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(Answers(name), 30000);

        QVERIFY(::kill(static_cast<pid_t>(program.processId()), signal) == 0);
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(socketPath));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(ini.readAll().contains("[Window]"));
    }
};

QTEST_MAIN(ProgramEndTest)
#include "ProgramEndTest.moc"
