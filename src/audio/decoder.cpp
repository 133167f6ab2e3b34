#include "decoder.h"

#include "amr_source.h"
#include "ffmpeg_source.h"
#include "files/file_names.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cstring>

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

// Devices give at most two channels; more are mixed down.
int deviceChannelsFor(int channels)
{
    return channels <= 1 ? 1 : 2;
}

} // namespace

Decoder::Decoder(std::unique_ptr<QIODevice> device, std::unique_ptr<FrameSource> source)
    : m_device(std::move(device)), m_source(std::move(source)), m_frame(av_frame_alloc())
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
    const Files::Kind kind = Files::kindOf(path);
    if (kind == Files::Kind::Missing) {
        *error = cannotPlay(name, QStringLiteral("the file does not exist"));
        return {};
    }
    if (kind == Files::Kind::Folder) {
        *error = cannotPlay(name, QStringLiteral("it is a folder, not a file"));
        return {};
    }
    QString reason;
    auto device = Files::openForReading(path, &reason);
    if (!device) {
        *error = cannotPlay(name, withDetail(QStringLiteral("the file cannot be read"), reason));
        return {};
    }
    return open(std::move(device), name, error);
}

std::unique_ptr<Decoder> Decoder::open(std::unique_ptr<QIODevice> device, const QString& name,
                                       QString* error)
{
    silenceFfmpegLog();
    if (device->size() == 0) {
        *error = cannotPlay(name, QStringLiteral("the file is empty"));
        return {};
    }
    const QByteArray head = device->peek(16);
    if (head.isEmpty() && device->size() != 0) {
        *error = cannotPlay(
            name, withDetail(QStringLiteral("the file cannot be read"), device->errorString()));
        return {};
    }

    std::unique_ptr<FrameSource> source;
    AmrSource::Kind kind{};
    if (AmrSource::isMultichannel(head)) {
        *error = cannotPlay(name, QStringLiteral("multichannel AMR files are not supported"));
        return {};
    }
    if (AmrSource::detect(head, &kind)) {
        source = AmrSource::open(device.get(), kind);
        if (!source) {
            *error = cannotPlay(name, QStringLiteral("the AMR file holds no sound"));
            return {};
        }
    } else {
        FfmpegSource::Failure failure = FfmpegSource::Failure::None;
        QString detail;
        source = FfmpegSource::open(device.get(), &failure, &detail);
        if (!source) {
            switch (failure) {
            case FfmpegSource::Failure::Unreadable:
                *error =
                    cannotPlay(name, withDetail(QStringLiteral("the file cannot be read"), detail));
                break;
            case FfmpegSource::Failure::Empty:
                *error = cannotPlay(name, QStringLiteral("the file holds no sound"));
                break;
            case FfmpegSource::Failure::Damaged:
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
    if (!decoder->m_frame) {
        *error = cannotPlay(name, QStringLiteral("out of memory"));
        return {};
    }
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
    m_resampler.setOutput(sampleRate, channels);
}

bool Decoder::refill()
{
    m_pending.clear();
    m_pendingAt = 0;
    while (m_pending.empty() && !m_ended) {
        const int err = m_source->nextFrame(m_frame.get());
        if (err < 0) {
            m_resampler.drain(m_pending);
            m_ended = true;
            break;
        }
        m_resampler.convert(m_frame.get(), m_pending); // an unconvertible frame is skipped
        av_frame_unref(m_frame.get());
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
    return m_source->seek(std::max<qint64>(0, ms));
}

} // namespace Marlet::Audio
