#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;

namespace Marlet::Launch {

// One running player for each user: the first player listens on a local socket that only
// its own user may open, and a later launch hands its files to it and ends.

// The socket: "marlet-<user>" in the user's runtime folder (a pipe of that name on
// Windows). Empty when the user has no usable runtime folder.
QString instanceServerName();

enum class HandOver {
    Taken,    // the running player has the files
    NoPlayer, // nothing listens there, or only a socket left by a player that was killed
    Failed,   // a player took the connection but not all of the files in the time given
};

// Sends `files` (absolute paths; none only asks the player to show itself) to the player
// listening on `name`. Needs no application object; without a running player it answers
// within a millisecond.
HandOver handOver(const QString& name, const QStringList& files, int timeoutMs = 2000);

// The running player's end of the socket.
class InstanceServer final : public QObject
{
    Q_OBJECT

public:
    enum class Listen {
        Listening,
        OtherPlayer, // a player answers there already: hand the files to it instead
        Failed,      // errorString() says why
    };

    explicit InstanceServer(QObject* parent = nullptr);
    ~InstanceServer() override;

    // Listens on `name`, replacing a socket that a killed player left there.
    Listen listen(const QString& name);
    QString errorString() const;

Q_SIGNALS:
    // A later launch handed over `files`, possibly none.
    void filesHandedOver(const QStringList& files);

private:
    void take(QLocalSocket* socket);

    QLocalServer* m_server;
};

} // namespace Marlet::Launch
