#include "mp3_source.h"

#include "device_reader.h"

#include <mpg123.h>

#include <QIODevice>

#include <algorithm>
#include <mutex>
#include <utility>

namespace Marlet::Audio {

namespace {

// How far past junk (a damaged stretch, bytes before the first frame) a frame is sought.
constexpr long kResyncLimitBytes = 64 * 1024;
constexpr size_t kBufferBytes = 4 * 1152 * 2 * sizeof(float); // four frames of stereo
constexpr int kMaxEmptyReads = 64;
// Frames decoded before the one a seek lands in: the bit reservoir of small low-rate
// frames spans ten of them, and the synthesis filter needs more to come out as it would
// have without the seek (a fraction of a millisecond of work).
constexpr long kSeekPrerollFrames = 32;

ssize_t readDevice(void* handle, void* into, size_t bytes)
{
    return ssize_t(static_cast<DeviceReader*>(handle)->read(into, qint64(bytes)));
}

off_t seekDevice(void* handle, off_t offset, int whence)
{
    return off_t(static_cast<DeviceReader*>(handle)->seek(qint64(offset), whence));
}

} // namespace

void Mp3Source::HandleDeleter::operator()(mpg123_handle_struct* handle) const
{
    mpg123_delete(handle);
}

Mp3Source::Handle Mp3Source::makeHandle()
{
    static std::once_flag once;
    std::call_once(once, [] { mpg123_init(); });
    Handle handle(mpg123_new(nullptr, nullptr));
    if (!handle)
        return {};
    mpg123_handle* h = handle.get();
    mpg123_param(h, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET | MPG123_SKIP_ID3V2, 0);
    mpg123_param(h, MPG123_RESYNC_LIMIT, kResyncLimitBytes, 0);
    mpg123_param(h, MPG123_PREFRAMES, kSeekPrerollFrames, 0);
    mpg123_format_none(h);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i)
        mpg123_format(h, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_FLOAT_32);
    return handle;
}

bool Mp3Source::openOn(mpg123_handle_struct* handle, DeviceReader* reader)
{
    return reader->device->seek(0) &&
           mpg123_replace_reader_handle(handle, readDevice, seekDevice, nullptr) == MPG123_OK &&
           mpg123_open_handle(handle, reader) == MPG123_OK;
}

Mp3Source::Mp3Source(QIODevice* device)
    : m_openedSize(device->size()), m_reader(std::make_unique<DeviceReader>())
{
    m_reader->device = device;
}

Mp3Source::~Mp3Source()
{
    // The handle reads through m_reader: it goes first.
    m_handle.reset();
}

std::unique_ptr<Mp3Source> Mp3Source::open(QIODevice* device, Failure* failure, QString* detail)
{
    std::unique_ptr<Mp3Source> source(new Mp3Source(device));
    const bool tagged = device->peek(3) == "ID3";
    *failure = Failure::Unreadable;
    source->m_handle = makeHandle();
    if (!source->m_handle) {
        *detail = QStringLiteral("out of memory");
        return {};
    }
    mpg123_handle* h = source->m_handle.get();
    source->m_buffer.resize(kBufferBytes);
    // No mpg123_scan(): seeking back after it leaves the decoder in another state than a
    // fresh start, so the first frames would differ from every other decoder's. The length
    // is exact from the LAME/Xing header, estimated without one; seeking is exact anyway.
    if (!openOn(h, source->m_reader.get())) {
        *failure = source->m_reader->failed ? Failure::Unreadable : Failure::Damaged;
        *detail = source->m_reader->failed ? device->errorString() : QString();
        return {};
    }
    // Prove that the stream yields sound before calling the file playable.
    if (!source->decode(&source->m_primed)) {
        if (source->m_reader->failed) {
            *detail = device->errorString();
        } else {
            *failure = tagged ? Failure::Damaged : Failure::NotAudio;
            if (tagged)
                *detail = QStringLiteral("no sound could be decoded");
        }
        return {};
    }
    StreamInfo& info = source->m_info;
    info.sampleRate = source->m_primed.sampleRate;
    info.channels = source->m_primed.channels;
    if (const off_t length = mpg123_length(h); length > 0)
        info.durationMs = qint64(length) * 1000 / info.sampleRate;
    *failure = Failure::None;
    return source;
}

bool Mp3Source::decode(AudioBlock* block)
{
    mpg123_handle* h = m_handle.get();
    for (int tries = 0; tries < kMaxEmptyReads; ++tries) {
        size_t done = 0;
        const int err = mpg123_read(h, m_buffer.data(), m_buffer.size(), &done);
        if (err == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(h, &rate, &channels, &encoding);
            m_rate = int(rate);
            m_channels = channels;
        }
        if (done > 0 && m_rate > 0 && m_channels > 0) {
            *block = {reinterpret_cast<const float*>(m_buffer.data()),
                      qint64(done / sizeof(float)) / m_channels, m_rate, m_channels};
            return true;
        }
        if (err != MPG123_OK && err != MPG123_NEW_FORMAT)
            break;
    }
    return false;
}

void Mp3Source::noteEnd()
{
    if (!m_readError.isEmpty())
        return;
    if (m_reader->failed)
        m_readError = QStringLiteral("the file cannot be read");
    else if (m_reader->device->size() < m_openedSize)
        m_readError = QStringLiteral("the file got shorter while it played");
}

bool Mp3Source::next(AudioBlock* block)
{
    if (m_primed.frames > 0) {
        *block = std::exchange(m_primed, {});
        return true;
    }
    while (decode(block)) {
        const qint64 skip = std::min(m_skip, block->frames);
        m_skip -= skip;
        block->samples += skip * block->channels;
        block->frames -= skip;
        if (block->frames > 0)
            return true;
    }
    noteEnd();
    return false;
}

bool Mp3Source::seek(qint64 frame)
{
    m_primed = {};
    m_readError.clear();
    m_reader->failed = false;
    m_skip = 0;
    // Near the start, the file is opened afresh and decoded up to the frame: a seek whose
    // run-up reaches the first frame leaves the decoder in another state than a fresh
    // start (the low-rate MPEG versions then sound apart).
    const qint64 runUp = (kSeekPrerollFrames + 2) * qint64(mpg123_spf(m_handle.get()));
    if (frame < runUp) {
        mpg123_close(m_handle.get());
        m_skip = std::max<qint64>(0, frame);
        return openOn(m_handle.get(), m_reader.get());
    }
    return mpg123_seek(m_handle.get(), off_t(frame), SEEK_SET) >= 0;
}

} // namespace Marlet::Audio
