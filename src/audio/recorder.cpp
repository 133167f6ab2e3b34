#include "recorder.h"

#include "native_file.h"

#include <QDir>

#include <algorithm>

namespace Marlet::Audio {

namespace {

constexpr int kCaptureRate = 44100;
constexpr int kCaptureChannels = 2;
constexpr size_t kBufferSamples = 32 * 1024;

} // namespace

Recorder::Recorder(QString path, std::unique_ptr<SdlDevice> device,
                   std::unique_ptr<RecordingSink> sink)
    : m_path(std::move(path)), m_savedPath(m_path), m_deviceName(device->name()),
      m_device(std::move(device)), m_sink(std::move(sink)), m_rate(m_device->spec().freq),
      m_buffer(kBufferSamples)
{
}

Recorder::~Recorder()
{
    finish();
}

std::unique_ptr<Recorder> Recorder::start(const QString& path, QString* error)
{
    // Checks the name before touching the device, so a wrong name says so.
    if (!RecordingSink::acceptsName(path, error))
        return {};
    auto device =
        SdlDevice::open(SdlDevice::Direction::Capture, kCaptureRate, kCaptureChannels, error);
    if (!device)
        return {};
    const SDL_AudioSpec& spec = device->spec();
    auto sink = RecordingSink::create(path, spec.freq, spec.channels, error);
    if (!sink)
        return {};
    std::unique_ptr<Recorder> recorder(new Recorder(path, std::move(device), std::move(sink)));
    recorder->m_device->setPaused(false);
    return recorder;
}

bool Recorder::pump()
{
    if (m_finished)
        return false;
    const int channels = m_device->spec().channels;
    const quint32 chunkBytes =
        quint32(m_buffer.size() / size_t(channels) * size_t(channels) * sizeof(qint16));
    for (;;) {
        const quint32 got = m_device->dequeue(m_buffer.data(), chunkBytes);
        const qint64 frames = qint64(got / sizeof(qint16)) / channels;
        if (frames > 0 && !m_sink->write(m_buffer.data(), frames))
            return false;
        m_sinceCheckpoint += frames;
        if (got < chunkBytes)
            break;
    }
    if (m_sinceCheckpoint >= m_device->spec().freq) {
        m_sink->checkpoint();
        m_sinceCheckpoint = 0;
        if (!fileIsInPlace())
            return false;
    }
    return m_sink->error().isEmpty();
}

bool Recorder::fileIsInPlace()
{
    m_savedPath = whereIsOpenFile(m_sink->file(), m_path);
    return m_savedPath == m_path;
}

QString Recorder::error() const
{
    const QString name = QDir::toNativeSeparators(m_path);
    if (m_savedPath.isEmpty())
        return QStringLiteral("\"%1\" or its folder was deleted").arg(name);
    if (m_savedPath != m_path)
        return QStringLiteral("\"%1\" or its folder was moved").arg(name);
    return m_sink->error();
}

void Recorder::keepCapturedRest()
{
    const int channels = m_device->spec().channels;
    std::vector<qint16> rest;
    for (;;) {
        const quint32 got = m_device->dequeue(m_buffer.data(), quint32(m_buffer.size() * 2));
        rest.insert(rest.end(), m_buffer.begin(), m_buffer.begin() + got / 2);
        if (got < m_buffer.size() * 2)
            break;
    }
    const auto lastSound =
        std::find_if(rest.rbegin(), rest.rend(), [](qint16 sample) { return sample != 0; });
    const qint64 frames = (qint64(rest.rend() - lastSound) + channels - 1) / channels;
    if (frames > 0)
        m_sink->write(rest.data(), frames);
}

void Recorder::setPaused(bool paused)
{
    m_device->setPaused(paused);
}

bool Recorder::finish()
{
    if (m_finished)
        return error().isEmpty();
    m_device->setPaused(true);
    if (m_device->isLost())
        keepCapturedRest();
    else
        pump();
    m_finished = true;
    m_device.reset();
    const bool inPlace = fileIsInPlace();
    return m_sink->finish() && inPlace;
}

qint64 Recorder::recordedMs() const
{
    return m_sink->framesWritten() * 1000 / m_rate;
}

} // namespace Marlet::Audio
