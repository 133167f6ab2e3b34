#include "wav_source.h"

#include <QIODevice>

#include <algorithm>
#include <utility>

namespace Marlet::Audio {

namespace {

constexpr int kMaxChannels = 64;
constexpr sf_count_t kBlockFrames = 4096;

DeviceReader* readerOf(void* user)
{
    return static_cast<DeviceReader*>(user);
}

sf_count_t fileLength(void* user)
{
    return readerOf(user)->device->size();
}

sf_count_t seekFile(sf_count_t offset, int whence, void* user)
{
    return readerOf(user)->seek(offset, whence);
}

sf_count_t readFile(void* into, sf_count_t bytes, void* user)
{
    return std::max<sf_count_t>(0, readerOf(user)->read(into, bytes));
}

sf_count_t writeNothing(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t tellFile(void* user)
{
    return readerOf(user)->device->pos();
}

} // namespace

WavSource::WavSource(QIODevice* device) : m_openedSize(device->size())
{
    m_reader.device = device;
}

WavSource::~WavSource() = default;

WavSource::File WavSource::openFile(DeviceReader* reader, SF_INFO* info, QString* detail)
{
    static SF_VIRTUAL_IO io = {fileLength, seekFile, readFile, writeNothing, tellFile};
    *info = {};
    if (!reader->device->seek(0)) {
        *detail = reader->device->errorString();
        return {};
    }
    File file(sf_open_virtual(&io, SFM_READ, info, reader));
    if (!file)
        *detail = QString::fromUtf8(sf_strerror(nullptr));
    return file;
}

std::unique_ptr<WavSource> WavSource::open(QIODevice* device, Failure* failure, QString* detail)
{
    std::unique_ptr<WavSource> source(new WavSource(device));
    source->m_file = openFile(&source->m_reader, &source->m_info, detail);
    const SF_INFO& info = source->m_info;
    *failure = source->m_reader.failed ? Failure::Unreadable : Failure::Damaged;
    if (!source->m_file)
        return {};
    if (info.channels <= 0 || info.channels > kMaxChannels || info.samplerate <= 0) {
        *detail = QStringLiteral("%1 channels at %2 Hz").arg(info.channels).arg(info.samplerate);
        return {};
    }
    source->m_buffer.resize(size_t(kBlockFrames * info.channels));
    source->m_primedFrames =
        sf_readf_float(source->m_file.get(), source->m_buffer.data(), kBlockFrames);
    if (source->m_primedFrames <= 0) {
        if (source->m_reader.failed)
            *detail = device->errorString();
        else
            *failure = Failure::Empty;
        return {};
    }
    *failure = Failure::None;
    return source;
}

bool WavSource::next(AudioBlock* block)
{
    qint64 frames = std::exchange(m_primedFrames, 0);
    if (frames == 0)
        frames = sf_readf_float(m_file.get(), m_buffer.data(), kBlockFrames);
    if (frames > 0) {
        *block = {m_buffer.data(), frames, m_info.samplerate, m_info.channels};
        return true;
    }
    if (m_readError.isEmpty() && m_reader.failed)
        m_readError = QStringLiteral("the file cannot be read");
    else if (m_readError.isEmpty() && m_reader.device->size() < m_openedSize)
        m_readError = QStringLiteral("the file got shorter while it played");
    return false;
}

bool WavSource::seek(qint64 frame)
{
    m_primedFrames = 0;
    m_readError.clear();
    m_reader.failed = false;
    return sf_seek(m_file.get(), std::min<sf_count_t>(frame, m_info.frames), SEEK_SET) >= 0;
}

StreamInfo WavSource::info() const
{
    StreamInfo info{m_info.samplerate, m_info.channels, -1};
    if (m_info.frames > 0)
        info.durationMs = qint64(m_info.frames) * 1000 / m_info.samplerate;
    return info;
}

} // namespace Marlet::Audio
