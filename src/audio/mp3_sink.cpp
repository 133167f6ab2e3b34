#include "mp3_sink.h"

#include "native_file.h"
#include "qt_avio.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
}

#include <QFile>

#include <algorithm>
#include <array>
#include <vector>

namespace Marlet::Audio {

namespace {

constexpr std::array<int, 9> kLameRates = {8000,  11025, 12000, 16000, 22050,
                                           24000, 32000, 44100, 48000};

int lameRateFor(int rate)
{
    for (int supported : kLameRates) {
        if (supported == rate)
            return rate;
    }
    return rate > 44100 ? 48000 : 44100;
}

} // namespace

Mp3Sink::Mp3Sink(const QString& path) : m_file(path) {}

Mp3Sink::~Mp3Sink()
{
    // The muxer writes through m_avio: both go before m_file.
    m_muxer.reset();
    m_avio.reset();
}

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

bool Mp3Sink::fail(const QString& what, int err)
{
    if (m_error.isEmpty())
        m_error = err == AVERROR(ENOSPC) ? m_file.errorString()
                                         : QStringLiteral("%1 (%2)").arg(what, avErrorText(err));
    if (m_error.isEmpty())
        m_error = QStringLiteral("the disk is full");
    return false;
}

bool Mp3Sink::setUp(int sampleRate, int channels)
{
    m_inRate = sampleRate;
    m_inChannels = channels;
    const AVCodec* codec = avcodec_find_encoder_by_name("libmp3lame");
    if (!codec)
        return fail(QStringLiteral("this build has no MP3 encoder"), AVERROR_ENCODER_NOT_FOUND);

    const int outChannels = channels <= 1 ? 1 : 2;
    m_encoder.reset(avcodec_alloc_context3(codec));
    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    if (!m_encoder || !m_frame || !m_packet)
        return fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
    AVCodecContext* enc = m_encoder.get();
    enc->sample_rate = lameRateFor(sampleRate);
    enc->sample_fmt = AV_SAMPLE_FMT_S16P;
    av_channel_layout_default(&enc->ch_layout, outChannels);
    enc->bit_rate = outChannels == 1 ? 96000 : 160000;
    enc->time_base = AVRational{1, enc->sample_rate};
    if (const int err = avcodec_open2(enc, codec, nullptr); err < 0)
        return fail(QStringLiteral("the MP3 encoder refused the format"), err);

    AVChannelLayout inLayout{};
    av_channel_layout_default(&inLayout, channels);
    SwrContext* swr = nullptr;
    int err = swr_alloc_set_opts2(&swr, &enc->ch_layout, enc->sample_fmt, enc->sample_rate,
                                  &inLayout, AV_SAMPLE_FMT_S16, sampleRate, 0, nullptr);
    m_swr.reset(swr);
    av_channel_layout_uninit(&inLayout);
    if (err >= 0)
        err = swr_init(swr);
    if (err < 0)
        return fail(QStringLiteral("cannot convert the captured sound"), err);

    m_fifo.reset(av_audio_fifo_alloc(enc->sample_fmt, outChannels, enc->frame_size * 4));
    if (!m_fifo)
        return fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));

    m_avio = makeWritingAvio(&m_file);
    AVFormatContext* muxer = nullptr;
    err = avformat_alloc_output_context2(&muxer, nullptr, "mp3", nullptr);
    m_muxer.reset(muxer);
    if (err < 0 || !m_avio)
        return fail(QStringLiteral("cannot set up the MP3 file"), err < 0 ? err : AVERROR(ENOMEM));
    muxer->pb = m_avio.get();
    muxer->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT | AVFMT_FLAG_FLUSH_PACKETS;
    AVStream* stream = avformat_new_stream(muxer, nullptr);
    if (!stream)
        return fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
    stream->time_base = enc->time_base;
    if ((err = avcodec_parameters_from_context(stream->codecpar, enc)) < 0)
        return fail(QStringLiteral("cannot set up the MP3 file"), err);
    if ((err = avformat_write_header(muxer, nullptr)) < 0)
        return fail(QStringLiteral("cannot write the MP3 file"), err);
    m_headerWritten = true;
    avio_flush(m_avio.get());
    m_bytesOnDisk = avio_tell(m_avio.get());
    QFile back(m_file.fileName());
    if (back.open(QIODevice::ReadOnly)) {
        const QByteArray head = back.read(m_bytesOnDisk);
        m_tagAt = std::max(head.lastIndexOf("Info"), head.lastIndexOf("Xing"));
    }
    return true;
}

qint64 Mp3Sink::framesWritten() const
{
    if (m_error.isEmpty())
        return m_framesIn;
    return std::min(m_framesIn, m_packetsOnDisk * m_encoder->frame_size);
}

bool Mp3Sink::allocateScratch(int samples)
{
    m_frame->nb_samples = samples;
    m_frame->format = m_encoder->sample_fmt;
    m_frame->sample_rate = m_encoder->sample_rate;
    return av_channel_layout_copy(&m_frame->ch_layout, &m_encoder->ch_layout) >= 0 &&
           av_frame_get_buffer(m_frame.get(), 0) >= 0;
}

bool Mp3Sink::convertIntoFifo(const uint8_t* in, int count)
{
    // A null `in` takes what the converter still holds.
    const int room = swr_get_out_samples(m_swr.get(), count);
    if (room <= 0)
        return room == 0;
    if (!allocateScratch(room))
        return fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
    const int made =
        swr_convert(m_swr.get(), m_frame->extended_data, room, in ? &in : nullptr, in ? count : 0);
    const bool stored =
        made <= 0 ||
        av_audio_fifo_write(m_fifo.get(), reinterpret_cast<void**>(m_frame->extended_data), made) ==
            made;
    av_frame_unref(m_frame.get());
    if (made < 0)
        return fail(QStringLiteral("cannot convert the captured sound"), made);
    return stored || fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
}

bool Mp3Sink::write(const qint16* interleaved, qint64 frames)
{
    if (!m_error.isEmpty() || m_finished)
        return false;
    const auto* in = reinterpret_cast<const uint8_t*>(interleaved);
    // Converts in slices so that the FIFO stays small.
    constexpr qint64 kSlice = 4096;
    for (qint64 done = 0; done < frames;) {
        const int count = int(std::min(kSlice, frames - done));
        if (!convertIntoFifo(in + done * m_inChannels * 2, count))
            return false;
        done += count;
        m_framesIn += count;
        if (!encodeFromFifo(false))
            return false;
    }
    return true;
}

bool Mp3Sink::encodeFromFifo(bool final)
{
    AVCodecContext* enc = m_encoder.get();
    while (av_audio_fifo_size(m_fifo.get()) >= enc->frame_size ||
           (final && av_audio_fifo_size(m_fifo.get()) > 0)) {
        const int count = std::min(av_audio_fifo_size(m_fifo.get()), enc->frame_size);
        if (!allocateScratch(count))
            return fail(QStringLiteral("out of memory"), AVERROR(ENOMEM));
        av_audio_fifo_read(m_fifo.get(), reinterpret_cast<void**>(m_frame->extended_data), count);
        m_frame->pts = m_nextPts;
        m_nextPts += count;
        const bool ok = sendFrame(m_frame.get());
        av_frame_unref(m_frame.get());
        if (!ok)
            return false;
    }
    return true;
}

bool Mp3Sink::sendFrame(AVFrame* frame)
{
    AVCodecContext* enc = m_encoder.get();
    int err = avcodec_send_frame(enc, frame);
    if (err < 0 && err != AVERROR_EOF)
        return fail(QStringLiteral("the MP3 encoder failed"), err);
    for (;;) {
        err = avcodec_receive_packet(enc, m_packet.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
            return true;
        if (err < 0)
            return fail(QStringLiteral("the MP3 encoder failed"), err);
        m_packet->stream_index = 0;
        av_packet_rescale_ts(m_packet.get(), enc->time_base, m_muxer->streams[0]->time_base);
        err = av_write_frame(m_muxer.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        if (err < 0 || m_avio->error < 0)
            return fail(QStringLiteral("cannot write the MP3 file"), err < 0 ? err : m_avio->error);
        m_bytesOnDisk = avio_tell(m_avio.get());
        ++m_packetsOnDisk;
    }
}

void Mp3Sink::checkpoint()
{
    if (m_headerWritten && !m_finished && m_error.isEmpty()) {
        avio_flush(m_avio.get());
        if (m_avio->error < 0)
            fail(QStringLiteral("cannot write the MP3 file"), m_avio->error);
    }
}

bool Mp3Sink::finish()
{
    if (m_finished)
        return m_error.isEmpty();
    if (m_headerWritten && m_error.isEmpty()) {
        if (m_nextPts == 0 && av_audio_fifo_size(m_fifo.get()) < m_encoder->frame_size) {
            // A recording shorter than one frame, or empty, is padded with silence to one
            // frame at least (the converter may hold all of it), so that players open it.
            const int frameSize = m_encoder->frame_size;
            std::vector<qint16> silence(size_t(frameSize) * size_t(m_inChannels));
            const qint64 framesIn = m_framesIn;
            write(silence.data(), frameSize);
            m_framesIn = framesIn;
        }
        // The converter keeps its last few samples until told that no more come.
        if (convertIntoFifo(nullptr, 0) && encodeFromFifo(true))
            sendFrame(nullptr);
    }
    m_finished = true;
    if (m_headerWritten && m_error.isEmpty()) {
        // The trailer rewrites the header frame in place; it needs no new space.
        if (const int err = av_write_trailer(m_muxer.get()); err < 0)
            fail(QStringLiteral("cannot complete the MP3 file"), err);
    } else if (m_headerWritten) {
        // Keeps the whole frames on disk and blanks the Info tag, whose counts cannot be
        // brought up to date: decoders then count the frames themselves.
        m_muxer.reset();
        m_avio.reset();
        m_file.resize(m_bytesOnDisk);
        if (m_tagAt >= 0 && m_file.seek(m_tagAt))
            m_file.write("\0\0\0\0", 4);
    }
    m_muxer.reset();
    m_avio.reset();
    m_file.close();
    return m_error.isEmpty();
}

} // namespace Marlet::Audio
