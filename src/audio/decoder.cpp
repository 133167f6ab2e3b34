#include "decoder.h"

#include "amr_source.h"
#include "files/file_names.h"
#include "mp3_source.h"
#include "native_file.h"
#include "wav_source.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <utility>

namespace Marlet::Audio {

namespace {

QString cannotPlay(const QString& name, const QString& reason)
{
    return QStringLiteral("Cannot open \"%1\": %2.").arg(name, reason);
}

QString withDetail(const QString& reason, const QString& detail)
{
    return detail.isEmpty() ? reason : QStringLiteral("%1 (%2)").arg(reason, detail);
}

// Where the ID3v2 tag that `head` starts with says it ends, in bytes; 0 without one.
qint64 id3v2End(const QByteArray& head)
{
    if (head.size() < 10 || !head.startsWith("ID3"))
        return 0;
    qint64 size = 0; // four bytes of seven bits each
    for (int i = 6; i < 10; ++i)
        size = (size << 7) | (head[i] & 0x7f);
    return 10 + size;
}

// RIFF (or RF64) with WAVE inside: libsndfile's. Anything else that is not AMR is tried as
// MPEG audio, which may follow junk.
bool isWave(const QByteArray& head)
{
    return head.size() >= 12 && (head.startsWith("RIFF") || head.startsWith("RF64")) &&
           head.mid(8, 4) == "WAVE";
}

// Devices give at most two channels; more are mixed down.
int deviceChannelsFor(int channels)
{
    return channels <= 1 ? 1 : 2;
}

} // namespace

Decoder::Decoder(std::unique_ptr<QIODevice> device, std::unique_ptr<FrameSource> source)
    : m_device(std::move(device)), m_source(std::move(source))
{
    const StreamInfo stream = m_source->info();
    m_resampler.setOutput(stream.sampleRate, deviceChannelsFor(stream.channels));
}

Decoder::~Decoder()
{
    // The source reads through the device: it goes first.
    m_source.reset();
}

std::unique_ptr<Decoder> Decoder::open(const QString& path, QString* error)
{
    const QString name = QDir::toNativeSeparators(Files::displayName(path));
    if (path.isEmpty()) {
        *error = QStringLiteral("Cannot play: no file was named.");
        return {};
    }
    auto device = std::make_unique<QFile>(path);
    if (QString reason; !openRegularFile(device.get(), QIODevice::ReadOnly, &reason)) {
        *error = cannotPlay(name, reason);
        return {};
    }
    return open(std::move(device), name, error);
}

std::unique_ptr<Decoder> Decoder::open(std::unique_ptr<QIODevice> device, const QString& name,
                                       QString* error)
{
    // System files (in /proc) say they are empty and are not: only reading tells.
    const QByteArray head = device->peek(16);
    if (head.isEmpty()) {
        *error = cannotPlay(name, device->size() == 0
                                      ? QStringLiteral("the file is empty")
                                      : withDetail(QStringLiteral("the file cannot be read"),
                                                   device->errorString()));
        return {};
    }
    if (id3v2End(head) > device->size()) {
        *error = cannotPlay(name, QStringLiteral("the file is damaged (its tag says it is larger "
                                                 "than the file)"));
        return {};
    }

    std::unique_ptr<FrameSource> source;
    AmrSource::Kind kind{};
    if (AmrSource::isMultichannel(head)) {
        *error = cannotPlay(name, QStringLiteral("multichannel AMR files are not supported"));
        return {};
    }
    QString detail;
    if (AmrSource::detect(head, &kind)) {
        source = AmrSource::open(device.get(), kind);
        if (!source) {
            *error = cannotPlay(name, QStringLiteral("the AMR file holds no sound"));
            return {};
        }
    } else if (isWave(head)) {
        WavSource::Failure failure = WavSource::Failure::None;
        source = WavSource::open(device.get(), &failure, &detail);
        if (!source && failure == WavSource::Failure::Damaged) {
            // MPEG audio in a WAV wrapper: the frames follow the header.
            Mp3Source::Failure mp3Failure{};
            QString mp3Detail;
            source = Mp3Source::open(device.get(), &mp3Failure, &mp3Detail);
        }
        if (!source) {
            *error =
                cannotPlay(name, failure == WavSource::Failure::Empty
                                     ? QStringLiteral("the file holds no sound")
                                     : withDetail(failure == WavSource::Failure::Unreadable
                                                      ? QStringLiteral("the file cannot be read")
                                                      : QStringLiteral("the file is damaged"),
                                                  detail));
            return {};
        }
    } else {
        Mp3Source::Failure failure = Mp3Source::Failure::None;
        source = Mp3Source::open(device.get(), &failure, &detail);
        if (!source) {
            switch (failure) {
            case Mp3Source::Failure::Unreadable:
                *error =
                    cannotPlay(name, withDetail(QStringLiteral("the file cannot be read"), detail));
                break;
            case Mp3Source::Failure::Damaged:
                *error =
                    cannotPlay(name, withDetail(QStringLiteral("the file is damaged"), detail));
                break;
            default:
                *error = cannotPlay(name, QStringLiteral("it is not a sound file"));
                break;
            }
            return {};
        }
    }
    std::unique_ptr<Decoder> decoder(new Decoder(std::move(device), std::move(source)));
    decoder->m_name = name;
    return decoder;
}

QString Decoder::readError() const
{
    return m_source->readError();
}

StreamInfo Decoder::info() const
{
    return m_source->info();
}

void Decoder::setOutputFormat(int sampleRate, int channels)
{
    const int oldRate = outputRate();
    const int oldChannels = outputChannels();
    if (sampleRate == oldRate && channels == oldChannels)
        return;
    // What was decoded and not yet read, and what the converter still holds, is in the old
    // format: it is converted as well, so that it is neither lost nor read in the wrong
    // layout. The whole chunk is converted, for the converter to see the samples before
    // the first unread one; what was read already is then skipped.
    m_resampler.drain(m_pending);
    m_resampler.setOutput(sampleRate, channels);
    std::vector<float> chunk = std::exchange(m_pending, {});
    const qint64 readFrames = qint64(std::exchange(m_pendingAt, 0)) / oldChannels;
    if (readFrames == qint64(chunk.size()) / oldChannels)
        return;
    Resampler once;
    once.setOutput(sampleRate, channels);
    once.convert({chunk.data(), qint64(chunk.size()) / oldChannels, oldRate, oldChannels},
                 m_pending);
    once.drain(m_pending);
    m_pendingAt = std::min(m_pending.size(), size_t(readFrames * sampleRate / oldRate * channels));
}

bool Decoder::refill()
{
    m_pending.clear();
    m_pendingAt = 0;
    while (m_pending.empty() && !m_ended) {
        AudioBlock block;
        if (!m_source->next(&block)) {
            m_resampler.drain(m_pending);
            m_ended = true;
            break;
        }
        m_resampler.convert(block, m_pending); // an unconvertible block is skipped
    }
    return !m_pending.empty();
}

qint64 Decoder::read(float* out, qint64 maxFrames)
{
    const size_t channels = size_t(outputChannels());
    qint64 written = 0;
    while (written < maxFrames) {
        if (m_pendingAt >= m_pending.size() && !refill())
            break;
        Q_ASSERT((m_pending.size() - m_pendingAt) % channels == 0); // whole frames only
        const size_t available = (m_pending.size() - m_pendingAt) / channels;
        const size_t take = std::min(available, size_t(maxFrames - written));
        std::memcpy(out + size_t(written) * channels, m_pending.data() + m_pendingAt,
                    take * channels * sizeof(float));
        m_pendingAt += take * channels;
        written += qint64(take);
    }
    return written;
}

bool Decoder::seek(qint64 ms)
{
    m_pending.clear();
    m_pendingAt = 0;
    m_ended = false;
    m_resampler.reset();
    return m_source->seek(std::max<qint64>(0, ms) * m_source->info().sampleRate / 1000);
}

} // namespace Marlet::Audio
