#pragma once

// The two MPRIS 2 interfaces, as D-Bus sees them; each forwards to the service.

#include "mpris/mpris_service.h"

#include <QDBusAbstractAdaptor>
#include <QStringList>

namespace Marlet::Mpris {

class RootAdaptor final : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
    Q_PROPERTY(bool CanQuit READ yes CONSTANT)
    Q_PROPERTY(bool CanRaise READ yes CONSTANT)
    Q_PROPERTY(bool HasTrackList READ no CONSTANT)
    Q_PROPERTY(QString Identity READ identity CONSTANT)
    Q_PROPERTY(QString DesktopEntry READ desktopEntry CONSTANT)
    Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes CONSTANT)
    Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes CONSTANT)

public:
    explicit RootAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), m_s(service) {}

    static bool yes() { return true; }
    static bool no() { return false; }
    static QString identity() { return QStringLiteral("Marlet"); }
    static QString desktopEntry() { return QStringLiteral("marlet"); }
    static QStringList uriSchemes() { return {QStringLiteral("file")}; }
    static QStringList mimeTypes();

public Q_SLOTS:
    void Raise() { m_s->raise(); }
    void Quit() { m_s->quit(); }

private:
    MprisService* m_s;
};

class PlayerAdaptor final : public QDBusAbstractAdaptor
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
    Q_PROPERTY(QString PlaybackStatus READ playbackStatus)
    Q_PROPERTY(QVariantMap Metadata READ metadata)
    Q_PROPERTY(qlonglong Position READ position)
    Q_PROPERTY(double Volume READ one CONSTANT)
    Q_PROPERTY(double Rate READ one CONSTANT)
    Q_PROPERTY(double MinimumRate READ one CONSTANT)
    Q_PROPERTY(double MaximumRate READ one CONSTANT)
    Q_PROPERTY(bool CanPlay READ canPlay)
    Q_PROPERTY(bool CanPause READ canPause)
    Q_PROPERTY(bool CanGoNext READ canGoNext)
    Q_PROPERTY(bool CanGoPrevious READ canGoPrevious)
    Q_PROPERTY(bool CanSeek READ canSeek)
    Q_PROPERTY(bool CanControl READ canControl CONSTANT)

public:
    explicit PlayerAdaptor(MprisService* service) : QDBusAbstractAdaptor(service), m_s(service) {}

    QString playbackStatus() const { return m_s->playbackStatus(); }
    QVariantMap metadata() const { return m_s->metadata(); }
    qlonglong position() const { return m_s->position(); }
    static double one() { return 1.0; }
    bool canPlay() const { return m_s->canPlay(); }
    bool canPause() const { return m_s->canPause(); }
    bool canGoNext() const { return m_s->canGoNext(); }
    bool canGoPrevious() const { return m_s->canGoPrevious(); }
    bool canSeek() const { return m_s->canSeek(); }
    static bool canControl() { return true; }

public Q_SLOTS:
    void Play() { m_s->play(); }
    void Pause() { m_s->pause(); }
    void PlayPause() { m_s->playPause(); }
    void Stop() { m_s->stop(); }
    void Next() { m_s->next(); }
    void Previous() { m_s->previous(); }
    void Seek(qlonglong Offset) { m_s->seek(Offset); }
    void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position)
    {
        m_s->setPosition(TrackId, Position);
    }
    void OpenUri(const QString& Uri) { m_s->openUri(Uri); }

Q_SIGNALS:
    void Seeked(qlonglong Position); // µs

private:
    MprisService* m_s;
};

} // namespace Marlet::Mpris
