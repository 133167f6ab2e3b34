#include "recording_sink.h"

#include "mp3_sink.h"
#include "wav_sink.h"

#include <QDir>
#include <QFileInfo>

namespace Marlet::Audio {

namespace {

QString cannotRecord(const QString& path, const QString& reason)
{
    return QStringLiteral("Cannot record into \"%1\": %2.")
        .arg(QDir::toNativeSeparators(path), reason);
}

} // namespace

bool RecordingSink::acceptsName(const QString& path, QString* error)
{
    if (path.isEmpty()) {
        *error = QStringLiteral("Cannot record: no file was named.");
        return false;
    }
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("wav") || suffix == QLatin1String("mp3"))
        return true;
    *error = cannotRecord(path, QStringLiteral("recordings are saved as .mp3 or .wav files"));
    return false;
}

std::unique_ptr<RecordingSink> RecordingSink::create(const QString& path, int sampleRate,
                                                     int channels, QString* error)
{
    if (!acceptsName(path, error))
        return {};
    QString reason;
    std::unique_ptr<RecordingSink> sink;
    if (QFileInfo(path).suffix().toLower() == QLatin1String("wav"))
        sink = WavSink::create(path, sampleRate, channels, &reason);
    else
        sink = Mp3Sink::create(path, sampleRate, channels, &reason);
    if (!sink)
        *error = cannotRecord(path, reason);
    return sink;
}

} // namespace Marlet::Audio
