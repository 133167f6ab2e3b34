#include "mp3_sink.h"

#include "native_file.h"

#include <lame/lame.h>

#include <QFile>

#include <algorithm>
#include <array>
#include <cstdarg>

namespace Marlet::Audio {

namespace {

constexpr std::array<int, 9> kLameRates = {8000,  11025, 12000, 16000, 22050,
                                           24000, 32000, 44100, 48000};
constexpr int kSliceFrames = 4096; // encoded per call, so that the output buffer stays small

int lameRateFor(int rate)
{
    for (int supported : kLameRates) {
        if (supported == rate)
            return rate;
    }
    return rate > 44100 ? 48000 : 44100;
}

// What LAME would print: the sink reports its failures itself.
void quiet(const char* /*format*/, va_list /*args*/) {}

// The worst case LAME documents for the bytes `frames` input frames may give.
size_t outputRoomFor(int frames)
{
    return size_t(frames) * 5 / 4 + 7200;
}

} // namespace

void Mp3Sink::LameDeleter::operator()(lame_global_struct* lame) const
{
    lame_close(lame);
}

Mp3Sink::Mp3Sink(const QString& path) : m_file(path) {}

Mp3Sink::~Mp3Sink() = default;

std::unique_ptr<Mp3Sink> Mp3Sink::create(const QString& path, int sampleRate, int channels,
                                         QString* error)
{
    std::unique_ptr<Mp3Sink> sink(new Mp3Sink(path));
    if (!openRegularFile(&sink->m_file,
                         QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered, error))
        return {};
    if (!sink->setUp(sampleRate, channels)) {
        *error = sink->m_error;
        return {};
    }
    return sink;
}

bool Mp3Sink::fail(const QString& what)
{
    if (m_error.isEmpty())
        m_error = what.isEmpty() ? QStringLiteral("the disk is full") : what;
    return false;
}

bool Mp3Sink::setUp(int sampleRate, int channels)
{
    m_inRate = sampleRate;
    m_inChannels = channels;
    m_lame.reset(lame_init());
    if (!m_lame)
        return fail(QStringLiteral("out of memory"));
    lame_global_flags* lame = m_lame.get();
    const bool mono = channels <= 1;
    lame_set_errorf(lame, quiet);
    lame_set_debugf(lame, quiet);
    lame_set_msgf(lame, quiet);
    lame_set_in_samplerate(lame, sampleRate);
    lame_set_out_samplerate(lame, lameRateFor(sampleRate));
    lame_set_num_channels(lame, mono ? 1 : 2);
    lame_set_mode(lame, mono ? MONO : JOINT_STEREO);
    lame_set_brate(lame, mono ? 96 : 160);
    lame_set_bWriteVbrTag(lame, 1);
    lame_set_write_id3tag_automatic(lame, 0);
    if (channels <= 0 || sampleRate <= 0 || lame_init_params(lame) < 0)
        return fail(QStringLiteral("the MP3 encoder refused the format"));
    m_out.resize(outputRoomFor(kSliceFrames));
    return true;
}

qint64 Mp3Sink::framesWritten() const
{
    if (m_error.isEmpty())
        return m_framesIn;
    const lame_global_flags* lame = m_lame.get();
    const qint64 outFrames = m_framesOnDisk * lame_get_framesize(lame);
    return std::min(m_framesIn, outFrames * m_inRate / lame_get_out_samplerate(lame));
}

bool Mp3Sink::store(int bytes)
{
    if (bytes < 0)
        return fail(QStringLiteral("the MP3 encoder failed (%1)").arg(bytes));
    // A write cut short by a full disk is tried on, for the error to be told.
    for (qint64 put = 0; put < bytes;) {
        const qint64 n =
            m_file.write(reinterpret_cast<const char*>(m_out.data()) + put, bytes - put);
        if (n <= 0)
            return fail(m_file.errorString());
        put += n;
    }
    m_bytesOnDisk += bytes;
    m_framesOnDisk = lame_get_frameNum(m_lame.get());
    return true;
}

bool Mp3Sink::encode(const qint16* interleaved, int frames)
{
    lame_global_flags* lame = m_lame.get();
    const int size = int(m_out.size());
    if (m_inChannels == 1)
        return store(
            lame_encode_buffer(lame, interleaved, interleaved, frames, m_out.data(), size));
    const qint16* stereo = interleaved;
    if (m_inChannels > 2) {
        // The first two channels, with the rest mixed in half as loud.
        m_mixed.resize(size_t(frames) * 2);
        for (int f = 0; f < frames; ++f) {
            const qint16* in = interleaved + qint64(f) * m_inChannels;
            int sides[2] = {in[0], in[1]};
            for (int c = 2; c < m_inChannels; ++c)
                sides[c % 2] += in[c] / 2;
            for (int s = 0; s < 2; ++s)
                m_mixed[size_t(f) * 2 + size_t(s)] = qint16(std::clamp(sides[s], -32768, 32767));
        }
        stereo = m_mixed.data();
    }
    return store(lame_encode_buffer_interleaved(lame, const_cast<short*>(stereo), frames,
                                                m_out.data(), size));
}

bool Mp3Sink::write(const qint16* interleaved, qint64 frames)
{
    if (!m_error.isEmpty() || m_finished)
        return false;
    for (qint64 done = 0; done < frames;) {
        const int count = int(std::min<qint64>(kSliceFrames, frames - done));
        if (!encode(interleaved + done * m_inChannels, count))
            return false;
        done += count;
        m_framesIn += count;
    }
    return true;
}

void Mp3Sink::checkpoint()
{
    // Every encoded frame is in the file already (it is written unbuffered).
}

bool Mp3Sink::finish()
{
    if (m_finished)
        return m_error.isEmpty();
    m_finished = true;
    lame_global_flags* lame = m_lame.get();
    if (m_error.isEmpty()) {
        const int frameSize = lame_get_framesize(lame);
        if (m_framesIn == 0) {
            // An empty recording gets a frame of silence, so that players open it.
            std::vector<qint16> silence(size_t(frameSize) * size_t(m_inChannels));
            encode(silence.data(), frameSize);
        }
        if (m_error.isEmpty() && store(lame_encode_flush(lame, m_out.data(), int(m_out.size())))) {
            // The Info frame goes over the silent placeholder the encoder began with.
            const size_t tagBytes = lame_get_lametag_frame(lame, m_out.data(), m_out.size());
            if (tagBytes > 0 && tagBytes <= m_out.size() &&
                (!m_file.seek(0) || m_file.write(reinterpret_cast<const char*>(m_out.data()),
                                                 qint64(tagBytes)) != qint64(tagBytes)))
                fail(m_file.errorString());
        }
    } else {
        // Keeps the whole frames on disk; the placeholder stays a silent frame, and
        // decoders count the frames themselves.
        m_file.resize(m_bytesOnDisk);
    }
    m_file.close();
    return m_error.isEmpty();
}

} // namespace Marlet::Audio
