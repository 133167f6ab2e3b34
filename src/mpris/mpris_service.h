#pragma once

#include "audio/engine_interface.h"
#include "transport/transport_control.h"

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QObject>
#include <QThreadPool>
#include <QVariantMap>

#include <functional>
#include <optional>

namespace Marlet::Mpris {

class PlayerAdaptor;

// What the program does for the requests that are not the transport control's.
struct ProgramHooks
{
    std::function<void()> raise;
    std::function<void()> quit; // as closing the main window does
    // Files and folders to append as a drop on the window does.
    std::function<void(const QStringList& names)> append;
};

// The player as desktops see it on the session bus (MPRIS 2): the root and Player
// interfaces at /org/mpris/MediaPlayer2. Every request goes through the transport control
// as the matching button does, and every property reads the control, so the window and the
// bus agree. Times on the bus are in µs. GUI thread only; `control` must outlive it.
class MprisService final : public QObject
{
    Q_OBJECT

public:
    MprisService(Transport::TransportControl* control, ProgramHooks hooks,
                 QObject* parent = nullptr);
    ~MprisService() override;

    // Registers on `bus` as org.mpris.MediaPlayer2.marlet (or, when another player holds
    // that name, as its .instance<pid>). False when `bus` is not connected or refuses.
    bool publish(const QDBusConnection& bus);

    // Root interface
    void raise();
    void quit();

    // Player interface
    QString playbackStatus() const;
    QVariantMap metadata() const;
    qint64 position() const; // µs
    bool canPlay() const;
    bool canPause() const;
    bool canGoNext() const;
    bool canGoPrevious() const;
    bool canSeek() const;
    void play();
    void pause();
    void playPause();
    void stop();
    void next();
    void previous();
    void seek(qint64 offset);                                        // µs
    void setPosition(const QDBusObjectPath& track, qint64 position); // µs
    void openUri(const QString& uri);

private:
    using Button = Transport::TransportControl::Button;

    void stateChanged();
    // Sends PropertiesChanged with what changed since the last call, and Seeked once a
    // seek is over.
    void publishChanges();
    // Reads the tags of `file` on m_tagReader; the metadata follows when they are read.
    void readTagsOf(const QString& file);
    QVariantMap changingProperties() const;
    QDBusObjectPath trackId() const;

    Transport::TransportControl* m_control;
    ProgramHooks m_hooks;
    PlayerAdaptor* m_player = nullptr;
    std::optional<QDBusConnection> m_bus; // set once published
    QString m_name;                       // the name taken on m_bus

    QVariantMap m_published;   // the changing properties as last sent
    QString m_status;          // PlaybackStatus, kept while a seek runs
    bool m_seeking = false;    // a seek started and Seeked is not sent yet
    bool m_publishing = false; // publishChanges() is queued
    QString m_trackFile;       // the open file; a new one is a new track
    quint64 m_trackNumber = 0;
    Audio::TrackTags m_tags; // of m_trackFile, once read
    QThreadPool m_tagReader; // one thread; waited for when the service goes
};

} // namespace Marlet::Mpris
