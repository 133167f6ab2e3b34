#include "track_tags.h"

#include "amr_source.h"
#include "device_reader.h"
#include "mp3_source.h"
#include "native_file.h"
#include "wav_source.h"

#include <mpg123.h>

#include <QFile>
#include <QtEndian>

namespace Marlet::Audio {

namespace {

constexpr qint64 kId3v1Bytes = 128;
constexpr qint64 kApeFooterBytes = 32;
constexpr quint32 kMaxApeBytes = 1 << 20;

QString text(const mpg123_string* string)
{
    return string && string->fill > 0 ? QString::fromUtf8(string->p, qsizetype(string->fill - 1))
                                      : QString();
}

QString latin1Field(const char* field, int bytes)
{
    return QString::fromLatin1(field, qstrnlen(field, uint(bytes))).trimmed();
}

// Fills what is still empty in `tags` from an APEv2 tag ending `end` bytes into `file`.
void readApe(QFile& file, qint64 end, TrackTags* tags)
{
    if (end < kApeFooterBytes || !file.seek(end - kApeFooterBytes))
        return;
    const QByteArray footer = file.read(kApeFooterBytes);
    if (footer.size() != kApeFooterBytes || !footer.startsWith("APETAGEX"))
        return;
    const quint32 size = qFromLittleEndian<quint32>(footer.constData() + 12);
    const quint32 count = qFromLittleEndian<quint32>(footer.constData() + 16);
    if (size < kApeFooterBytes || size > kMaxApeBytes || size > end || !file.seek(end - size))
        return;
    const QByteArray items = file.read(size - kApeFooterBytes);
    qsizetype at = 0;
    for (quint32 i = 0; i < count && at + 8 < items.size(); ++i) {
        const quint32 length = qFromLittleEndian<quint32>(items.constData() + at);
        const qsizetype keyEnd = items.indexOf('\0', at + 8);
        if (keyEnd < 0 || length > quint32(items.size() - keyEnd - 1))
            return;
        const QByteArray key = items.mid(at + 8, keyEnd - at - 8).toLower();
        const QString value = QString::fromUtf8(items.mid(keyEnd + 1, length));
        QString* field = key == "title"    ? &tags->title
                         : key == "artist" ? &tags->artist
                         : key == "album"  ? &tags->album
                                           : nullptr;
        if (field && field->isEmpty())
            *field = value;
        at = keyEnd + 1 + qsizetype(length);
    }
}

void readMp3(QFile& file, TrackTags* tags)
{
    Mp3Source::Handle handle = Mp3Source::makeHandle();
    DeviceReader reader{&file};
    if (!handle)
        return;
    mpg123_handle* h = handle.get();
    mpg123_param(h, MPG123_REMOVE_FLAGS, MPG123_SKIP_ID3V2, 0);
    long rate = 0;
    int channels = 0, encoding = 0;
    if (Mp3Source::openOn(h, &reader) &&
        mpg123_getformat(h, &rate, &channels, &encoding) == MPG123_OK && rate > 0) {
        if (const off_t length = mpg123_length(h); length > 0)
            tags->durationMs = qint64(length) * 1000 / rate;
        mpg123_id3v1* v1 = nullptr;
        mpg123_id3v2* v2 = nullptr;
        if (mpg123_id3(h, &v1, &v2) == MPG123_OK && v2) {
            tags->title = text(v2->title);
            tags->artist = text(v2->artist);
            tags->album = text(v2->album);
        }
    }
    handle.reset();
    // APEv2 and ID3v1 at the end; the APE tag comes before an ID3v1 tag.
    const qint64 size = file.size();
    QByteArray v1;
    if (size >= kId3v1Bytes && file.seek(size - kId3v1Bytes))
        v1 = file.read(kId3v1Bytes);
    const bool hasV1 = v1.size() == kId3v1Bytes && v1.startsWith("TAG");
    readApe(file, hasV1 ? size - kId3v1Bytes : size, tags);
    if (!hasV1)
        return;
    if (tags->title.isEmpty())
        tags->title = latin1Field(v1.constData() + 3, 30);
    if (tags->artist.isEmpty())
        tags->artist = latin1Field(v1.constData() + 33, 30);
    if (tags->album.isEmpty())
        tags->album = latin1Field(v1.constData() + 63, 30);
}

void readWav(QFile& file, TrackTags* tags)
{
    DeviceReader reader{&file};
    SF_INFO info{};
    QString detail;
    const WavSource::File wav = WavSource::openFile(&reader, &info, &detail);
    if (!wav)
        return;
    if (info.samplerate > 0 && info.frames > 0)
        tags->durationMs = qint64(info.frames) * 1000 / info.samplerate;
    const auto string = [&](int which) {
        const char* value = sf_get_string(wav.get(), which);
        return value ? QString::fromUtf8(value).trimmed() : QString();
    };
    tags->title = string(SF_STR_TITLE);
    tags->artist = string(SF_STR_ARTIST);
    tags->album = string(SF_STR_ALBUM);
}

} // namespace

TrackTags readTrackTags(const QString& path)
{
    TrackTags tags;
    QFile file(path);
    if (QString reason; !openRegularFile(&file, QIODevice::ReadOnly, &reason))
        return tags;
    const QByteArray head = file.peek(16);
    AmrSource::Kind kind{};
    if (AmrSource::detect(head, &kind)) {
        if (const auto amr = AmrSource::open(&file, kind))
            tags.durationMs = amr->info().durationMs;
    } else if (head.size() >= 12 && (head.startsWith("RIFF") || head.startsWith("RF64")) &&
               head.mid(8, 4) == "WAVE") {
        readWav(file, &tags);
    } else {
        readMp3(file, &tags);
    }
    return tags;
}

} // namespace Marlet::Audio
