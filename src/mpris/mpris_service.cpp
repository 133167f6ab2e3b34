#include "mpris/mpris_service.h"

#include "files/file_names.h"
#include "mpris/mpris_adaptors.h"
#include "transport/engine_loader.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace Marlet::Mpris {

using Transport::TransportControl;

namespace {

const QString objectPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString serviceName = QStringLiteral("org.mpris.MediaPlayer2.marlet");
const QString playerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");

constexpr qint64 usPerMs = 1000;

} // namespace

QStringList RootAdaptor::mimeTypes()
{
    return QString::fromLatin1(MARLET_MIME_TYPES).split(u' ');
}

MprisService::MprisService(TransportControl* control, ProgramHooks hooks, QObject* parent)
    : QObject(parent), m_control(control), m_hooks(std::move(hooks))
{
    m_tagReader.setMaxThreadCount(1);
    new RootAdaptor(this);
    m_player = new PlayerAdaptor(this);
    connect(m_control, &TransportControl::stateChanged, this, &MprisService::stateChanged);
    stateChanged();
    m_status = playbackStatus();
    m_published = changingProperties();
}

MprisService::~MprisService()
{
    if (m_bus) {
        m_bus->unregisterObject(objectPath);
        m_bus->unregisterService(m_name);
    }
}

bool MprisService::publish(const QDBusConnection& bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    QDBusConnection connection(bus);
    if (!connection.registerObject(objectPath, this, QDBusConnection::ExportAdaptors))
        return false;
    // Another player of this user's may hold the name (one that could not take the later
    // launches): this one then takes a name of its own, as MPRIS asks.
    const QString instance =
        serviceName + QStringLiteral(".instance%1").arg(QCoreApplication::applicationPid());
    for (const QString& name : {serviceName, instance}) {
        if (connection.registerService(name)) {
            m_bus = connection;
            m_name = name;
            return true;
        }
    }
    connection.unregisterObject(objectPath);
    return false;
}

// Requests

void MprisService::raise()
{
    if (m_hooks.raise)
        m_hooks.raise();
}

void MprisService::quit()
{
    // After this request's reply.
    QTimer::singleShot(0, this, [this] {
        if (m_hooks.quit)
            m_hooks.quit();
    });
}

void MprisService::play()
{
    // A paused file resumes, as the Pause button resumes it.
    m_control->press(m_control->Mode() == Transport::ModePaused ? Button::Pause : Button::Play);
}

void MprisService::pause()
{
    if (playbackStatus() == QLatin1String("Playing"))
        m_control->press(Button::Pause);
}

void MprisService::playPause()
{
    if (playbackStatus() == QLatin1String("Stopped"))
        m_control->press(Button::Play);
    else
        m_control->press(Button::Pause);
}

void MprisService::stop()
{
    m_control->press(Button::Stop);
}

void MprisService::next()
{
    m_control->press(Button::Next);
}

void MprisService::previous()
{
    m_control->press(Button::Prev);
}

void MprisService::seek(qint64 offset)
{
    if (!canSeek())
        return;
    const qint64 target = m_control->position() + offset / usPerMs;
    if (m_control->length() > 0 && target > m_control->length())
        next();
    else
        m_control->seekTo(qMax<qint64>(0, target));
}

void MprisService::setPosition(const QDBusObjectPath& track, qint64 position)
{
    const qint64 length = m_control->length(); // 0 when unknown
    if (!canSeek() || track != trackId() || position < 0 ||
        (length > 0 && position / usPerMs > length))
        return; // a stale track, or a place outside it
    m_control->seekTo(position / usPerMs);
}

void MprisService::openUri(const QString& uri)
{
    const QUrl url(uri);
    if (url.isLocalFile() && m_hooks.append)
        m_hooks.append({url.toLocalFile()});
}

// Properties

QString MprisService::playbackStatus() const
{
    switch (m_control->Mode()) {
    case Transport::ModePlaying:
        return QStringLiteral("Playing");
    case Transport::ModePaused:
        return QStringLiteral("Paused");
    case Transport::ModeSeeking:
        return m_status; // as before the seek
    default:
        return QStringLiteral("Stopped");
    }
}

QVariantMap MprisService::metadata() const
{
    if (m_trackFile.isEmpty())
        return {};
    QVariantMap map{
        {QStringLiteral("mpris:trackid"), QVariant::fromValue(trackId())},
        // The path's own bytes, also where they are not UTF-8.
        {QStringLiteral("xesam:url"),
         QString::fromLatin1(
             "file://" +
             Files::toNative(QFileInfo(m_trackFile).absoluteFilePath()).toPercentEncoding("/"))},
        {QStringLiteral("xesam:title"),
         m_tags.title.isEmpty() ? Files::displayName(QFileInfo(m_trackFile).completeBaseName())
                                : m_tags.title},
    };
    // What the tags do not say is left out, not sent empty.
    if (!m_tags.artist.isEmpty())
        map.insert(QStringLiteral("xesam:artist"), QStringList{m_tags.artist});
    if (!m_tags.album.isEmpty())
        map.insert(QStringLiteral("xesam:album"), m_tags.album);
    if (const qint64 length = m_control->length(); length > 0)
        map.insert(QStringLiteral("mpris:length"), length * usPerMs);
    return map;
}

qint64 MprisService::position() const
{
    return m_control->position() * usPerMs;
}

bool MprisService::canPlay() const
{
    return m_control->canPress(Button::Play) || playbackStatus() != QLatin1String("Stopped");
}

bool MprisService::canPause() const
{
    return m_control->canPress(Button::Pause);
}

bool MprisService::canGoNext() const
{
    return m_control->canPress(Button::Next);
}

bool MprisService::canGoPrevious() const
{
    return m_control->canPress(Button::Prev);
}

bool MprisService::canSeek() const
{
    return m_control->canPress(Button::Step);
}

QDBusObjectPath MprisService::trackId() const
{
    return QDBusObjectPath(QStringLiteral("/org/marlet/track/%1").arg(m_trackNumber));
}

// Changes

void MprisService::stateChanged()
{
    if (const QString file = m_control->openFile(); file != m_trackFile) {
        m_trackFile = file;
        ++m_trackNumber;
        m_tags = {};
        if (!file.isEmpty())
            readTagsOf(file);
    }
    if (m_control->Mode() == Transport::ModeSeeking)
        m_seeking = true;
    // One report for the changes that come together, such as a stop, an open and a play.
    if (!std::exchange(m_publishing, true))
        QTimer::singleShot(0, this, &MprisService::publishChanges);
}

void MprisService::readTagsOf(const QString& file)
{
    // The answer is dropped if the service has gone by then (`self` is its context).
    const QPointer<MprisService> self(this);
    m_tagReader.start([this, self, file] {
        const Audio::TrackTags tags = Transport::readTrackTags(file);
        QMetaObject::invokeMethod(
            self,
            [this, file, tags] {
                if (m_trackFile != file)
                    return;
                m_tags = tags;
                if (!std::exchange(m_publishing, true))
                    QTimer::singleShot(0, this, &MprisService::publishChanges);
            },
            Qt::QueuedConnection);
    });
}

QVariantMap MprisService::changingProperties() const
{
    return {
        {QStringLiteral("PlaybackStatus"), playbackStatus()},
        {QStringLiteral("Metadata"), metadata()},
        {QStringLiteral("CanPlay"), canPlay()},
        {QStringLiteral("CanPause"), canPause()},
        {QStringLiteral("CanGoNext"), canGoNext()},
        {QStringLiteral("CanGoPrevious"), canGoPrevious()},
        {QStringLiteral("CanSeek"), canSeek()},
    };
}

void MprisService::publishChanges()
{
    m_publishing = false;
    if (m_control->Mode() == Transport::ModeSeeking)
        return; // what a seek changes for its while is told once it is over
    m_status = playbackStatus();
    const QVariantMap now = changingProperties();
    QVariantMap changed;
    for (auto it = now.cbegin(); it != now.cend(); ++it) {
        if (m_published.value(it.key()) != it.value())
            changed.insert(it.key(), it.value());
    }
    m_published = now;
    if (m_bus && !changed.isEmpty()) {
        QDBusMessage signal = QDBusMessage::createSignal(
            objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
            QStringLiteral("PropertiesChanged"));
        signal << playerInterface << changed << QStringList();
        m_bus->send(signal);
    }
    if (std::exchange(m_seeking, false))
        Q_EMIT m_player->Seeked(position());
}

} // namespace Marlet::Mpris
