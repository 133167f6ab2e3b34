#include "launch/instance_channel.h"

#include <QDeadlineTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <optional>

#ifdef Q_OS_UNIX
#include <pwd.h>
#include <unistd.h>
#endif

namespace Marlet::Launch {

namespace {

// A launch's message: this line, then each path, every one ended by a NUL byte (which no
// path holds). Anything else that arrives is left alone.
const QByteArray greeting = QByteArrayLiteral("marlet-launch-1");

QByteArray encode(const QStringList& files)
{
    QByteArray message = greeting + '\0';
    for (const QString& file : files)
        message += file.toUtf8() + '\0';
    return message;
}

std::optional<QStringList> decode(const QByteArray& message)
{
    QList<QByteArray> parts = message.split('\0');
    // A whole message ends with a NUL, so its last part is empty.
    if (parts.size() < 2 || parts.first() != greeting || !parts.last().isEmpty())
        return std::nullopt;
    QStringList files;
    for (qsizetype i = 1; i < parts.size() - 1; ++i)
        files.append(QString::fromUtf8(parts[i]));
    return files;
}

QString userName()
{
#ifdef Q_OS_UNIX
    const uid_t uid = geteuid();
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
#else
    return qEnvironmentVariable("USERNAME");
#endif
}

// Without XDG_RUNTIME_DIR, Qt warns on every look-up and uses a private folder of its own,
// which serves as well; the application object gives that warning once already.
QtMessageHandler g_forward = nullptr;

void dropRuntimeFolderWarning(QtMsgType type, const QMessageLogContext& context,
                              const QString& message)
{
    if (g_forward && !message.startsWith(QStringLiteral("QStandardPaths: XDG_RUNTIME_DIR not set")))
        g_forward(type, context, message);
}

QString runtimeFolder()
{
    g_forward = qInstallMessageHandler(dropRuntimeFolderWarning);
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    qInstallMessageHandler(g_forward);
    return folder;
}

} // namespace

QString instanceServerName()
{
    const QString name = QStringLiteral("marlet-") + userName();
#ifdef Q_OS_WIN
    return name;
#else
    const QString folder = runtimeFolder();
    return folder.isEmpty() ? QString() : folder + u'/' + name;
#endif
}

HandOver handOver(const QString& name, const QStringList& files, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    // A refused or missing socket fails at once; a player too busy to accept keeps the
    // connection pending.
    socket.connectToServer(name, QIODevice::WriteOnly);
    if (socket.state() == QLocalSocket::UnconnectedState)
        return HandOver::NoPlayer;
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return HandOver::Failed;
    socket.write(encode(files));
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(int(deadline.remainingTime())))
            return HandOver::Failed;
    }
    socket.disconnectFromServer();
    return HandOver::Taken;
}

InstanceServer::InstanceServer(QObject* parent) : QObject(parent), m_server(new QLocalServer(this))
{
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            // The launch writes everything and goes: what it sent is whole once it has gone.
            connect(socket, &QLocalSocket::disconnected, this, [this, socket] { take(socket); });
        }
    });
}

InstanceServer::~InstanceServer() = default;

InstanceServer::Listen InstanceServer::listen(const QString& name)
{
    // With access options, QLocalServer moves its socket into place over whatever is there,
    // a live player's socket too: see who answers first.
    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.state() != QLocalSocket::UnconnectedState)
        return Listen::OtherPlayer;
    QLocalServer::removeServer(name);
    return m_server->listen(name) ? Listen::Listening : Listen::Failed;
}

QString InstanceServer::errorString() const
{
    return m_server->errorString();
}

void InstanceServer::take(QLocalSocket* socket)
{
    socket->deleteLater();
    if (const std::optional<QStringList> files = decode(socket->readAll()))
        Q_EMIT filesHandedOver(*files);
}

} // namespace Marlet::Launch
