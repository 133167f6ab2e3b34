#include "ffmpeg_source.h"

#include "qt_avio.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <QIODevice>

namespace Marlet::Audio {

namespace {

// Bounds on what opening may read before it gives up on finding a first frame.
constexpr int kMaxPacketsToFirstFrame = 2000;
constexpr int kMaxProbePackets = 4;
constexpr int kMaxSampleRate = 768000;
constexpr int kMaxChannels = 64;
constexpr int kMaxFrameSamples = 1 << 20;

bool startsWithId3(QIODevice* device)
{
    return device->seek(0) && device->peek(3) == "ID3";
}

} // namespace

FfmpegSource::~FfmpegSource() = default;

bool FfmpegSource::openInput(QIODevice* device, const AVInputFormat* forced, QString* detail)
{
    m_format.reset();
    m_avio.reset();
    if (!device->seek(0)) {
        *detail = device->errorString();
        return false;
    }
    m_avio = makeReadingAvio(device);
    AVFormatContext* ctx = avformat_alloc_context();
    if (!m_avio || !ctx) {
        avformat_free_context(ctx);
        *detail = QStringLiteral("out of memory");
        return false;
    }
    ctx->pb = m_avio.get();
    ctx->flags |= AVFMT_FLAG_CUSTOM_IO;
    // 16-bit PCM WAV samples are probed for compressed audio stored as PCM; a few packets
    // find it, while the default 32 cost tens of ms on every open.
    ctx->max_probe_packets = kMaxProbePackets;
    // No file name: the content alone decides the format, never the extension.
    const int err = avformat_open_input(&ctx, "", forced, nullptr);
    if (err < 0) {
        // avformat_open_input frees the context on failure.
        *detail = avErrorText(err);
        return false;
    }
    m_format.reset(ctx);
    return true;
}

std::unique_ptr<FfmpegSource> FfmpegSource::open(QIODevice* device, Failure* failure,
                                                 QString* detail)
{
    std::unique_ptr<FfmpegSource> source(new FfmpegSource);
    source->m_device = device;
    source->m_openedSize = device->size();
    *failure = Failure::NotAudio;
    if (!source->openInput(device, nullptr, detail)) {
        // An ID3v2 tag bigger than the probe window hides the MPEG frames behind it.
        if (!startsWithId3(device))
            return {};
        if (!source->openInput(device, av_find_input_format("mp3"), detail)) {
            *failure = Failure::Damaged; // tagged as MP3, but no frames follow
            return {};
        }
    }
    AVFormatContext* fmt = source->m_format.get();
    if (const int err = avformat_find_stream_info(fmt, nullptr); err < 0) {
        *failure = Failure::Damaged;
        *detail = avErrorText(err);
        return {};
    }
    const AVCodec* codec = nullptr;
    source->m_stream = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (source->m_stream < 0 || !codec) {
        *detail = source->m_stream == AVERROR_DECODER_NOT_FOUND
                      ? QStringLiteral("no decoder for its audio")
                      : QStringLiteral("no audio stream");
        return {};
    }
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        if (static_cast<int>(i) != source->m_stream)
            fmt->streams[i]->discard = AVDISCARD_ALL;
    }
    AVStream* stream = fmt->streams[source->m_stream];
    source->m_codec.reset(avcodec_alloc_context3(codec));
    source->m_packet.reset(av_packet_alloc());
    source->m_primed.reset(av_frame_alloc());
    if (!source->m_codec || !source->m_packet || !source->m_primed) {
        *failure = Failure::Unreadable;
        *detail = QStringLiteral("out of memory");
        return {};
    }
    AVCodecContext* cc = source->m_codec.get();
    if (const int err = avcodec_parameters_to_context(cc, stream->codecpar); err < 0) {
        *failure = Failure::Damaged;
        *detail = avErrorText(err);
        return {};
    }
    cc->pkt_timebase = stream->time_base;
    cc->thread_count = 1;
    if (const int err = avcodec_open2(cc, codec, nullptr); err < 0) {
        *failure = Failure::Damaged;
        *detail = avErrorText(err);
        return {};
    }

    // Prove that the stream yields sound before calling the file playable.
    const int err = source->decodeFrame(source->m_primed.get());
    if (err < 0) {
        if (err == AVERROR_EOF && source->m_packetsRead == 0) {
            *failure = Failure::Empty;
            return {};
        }
        *failure = err == AVERROR(EIO) ? Failure::Unreadable : Failure::Damaged;
        *detail =
            err == AVERROR_EOF ? QStringLiteral("no sound could be decoded") : avErrorText(err);
        return {};
    }
    source->m_hasPrimed = true;
    *failure = Failure::None;
    return source;
}

bool FfmpegSource::frameIsSane(const AVFrame* frame)
{
    return frame->sample_rate > 0 && frame->sample_rate <= kMaxSampleRate &&
           frame->ch_layout.nb_channels > 0 && frame->ch_layout.nb_channels <= kMaxChannels &&
           frame->nb_samples > 0 && frame->nb_samples <= kMaxFrameSamples;
}

int FfmpegSource::decodeFrame(AVFrame* frame)
{
    AVCodecContext* cc = m_codec.get();
    int packetsWithoutFrame = 0;
    for (;;) {
        int err = avcodec_receive_frame(cc, frame);
        if (err == 0) {
            if (!frameIsSane(frame)) {
                av_frame_unref(frame);
                continue;
            }
            if (m_dropBeforeMs >= 0) {
                const AVStream* stream = m_format->streams[m_stream];
                const int64_t pts = frame->best_effort_timestamp;
                if (pts != AV_NOPTS_VALUE) {
                    const qint64 endMs = av_rescale_q(pts, stream->time_base, AVRational{1, 1000}) +
                                         qint64(frame->nb_samples) * 1000 / frame->sample_rate;
                    if (endMs <= m_dropBeforeMs) {
                        av_frame_unref(frame);
                        continue;
                    }
                }
                m_dropBeforeMs = -1;
            }
            return 0;
        }
        if (err == AVERROR_EOF)
            return AVERROR_EOF;
        if (err != AVERROR(EAGAIN)) {
            // A damaged stretch: the decoder recovers on the next packets.
            avcodec_flush_buffers(cc);
        }
        if (m_flushing)
            return AVERROR_EOF;
        if (!m_hasPrimed && ++packetsWithoutFrame > kMaxPacketsToFirstFrame)
            return AVERROR_INVALIDDATA;

        err = av_read_frame(m_format.get(), m_packet.get());
        if (err < 0) {
            if (err != AVERROR_EOF && m_format->pb && m_format->pb->error == AVERROR(EIO) &&
                !m_hasPrimed)
                return AVERROR(EIO);
            noteReadError(err);
            // End of file or unreadable rest: decode what the codec still holds.
            m_flushing = true;
            avcodec_send_packet(cc, nullptr);
            continue;
        }
        if (m_packet->stream_index == m_stream) {
            ++m_packetsRead;
            avcodec_send_packet(cc, m_packet.get()); // a rejected packet is simply skipped
        }
        av_packet_unref(m_packet.get());
    }
}

void FfmpegSource::noteReadError(int err)
{
    if (!m_hasPrimed || !m_readError.isEmpty())
        return;
    if (err == AVERROR(EIO) || (m_format->pb && m_format->pb->error == AVERROR(EIO)))
        m_readError = QStringLiteral("the file cannot be read");
    else if (m_device->size() < m_openedSize)
        m_readError = QStringLiteral("the file got shorter while it played");
}

int FfmpegSource::nextFrame(AVFrame* frame)
{
    if (m_hasPrimed && m_primed->nb_samples > 0) {
        av_frame_move_ref(frame, m_primed.get());
        return 0;
    }
    return decodeFrame(frame);
}

bool FfmpegSource::seek(qint64 ms)
{
    av_frame_unref(m_primed.get());
    const int64_t target = av_rescale(ms, AV_TIME_BASE, 1000);
    int err = avformat_seek_file(m_format.get(), -1, INT64_MIN, target, target, 0);
    if (err < 0)
        err = av_seek_frame(m_format.get(), -1, target, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(m_codec.get());
    m_flushing = false;
    m_readError.clear();
    m_dropBeforeMs = ms > 0 ? ms : -1;
    return err >= 0;
}

StreamInfo FfmpegSource::info() const
{
    StreamInfo info;
    const AVCodecContext* cc = m_codec.get();
    info.sampleRate = cc->sample_rate;
    info.channels = cc->ch_layout.nb_channels;
    if (m_primed && m_primed->nb_samples > 0) {
        info.sampleRate = m_primed->sample_rate;
        info.channels = m_primed->ch_layout.nb_channels;
    }
    const AVStream* stream = m_format->streams[m_stream];
    if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
        info.durationMs = av_rescale_q(stream->duration, stream->time_base, AVRational{1, 1000});
    else if (m_format->duration != AV_NOPTS_VALUE && m_format->duration > 0)
        info.durationMs = av_rescale(m_format->duration, 1000, AV_TIME_BASE);
    return info;
}

} // namespace Marlet::Audio
