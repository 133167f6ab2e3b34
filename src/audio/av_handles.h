#pragma once

// Owning handles for FFmpeg and SDL objects. Every raw handle the engine creates is
// wrapped in one of these at the point of creation.

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <QString>

#include <memory>

namespace Marlet::Audio {

template <auto FreeFn>
struct AvDeleter
{
    template <typename T>
    void operator()(T* p) const
    {
        if (p)
            FreeFn(&p);
    }
};

// AVIO contexts own a separately allocated buffer that avio_context_free() leaves behind.
struct AvioDeleter
{
    void operator()(AVIOContext* p) const
    {
        if (!p)
            return;
        av_freep(&p->buffer);
        avio_context_free(&p);
    }
};

// Input contexts are closed, not freed.
struct InputFormatDeleter
{
    void operator()(AVFormatContext* p) const
    {
        if (p)
            avformat_close_input(&p);
    }
};

struct OutputFormatDeleter
{
    void operator()(AVFormatContext* p) const { avformat_free_context(p); }
};

struct AudioFifoDeleter
{
    void operator()(AVAudioFifo* p) const { av_audio_fifo_free(p); }
};

using FramePtr = std::unique_ptr<AVFrame, AvDeleter<av_frame_free>>;
using PacketPtr = std::unique_ptr<AVPacket, AvDeleter<av_packet_free>>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, AvDeleter<avcodec_free_context>>;
using SwrPtr = std::unique_ptr<SwrContext, AvDeleter<swr_free>>;
using AvioPtr = std::unique_ptr<AVIOContext, AvioDeleter>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, AudioFifoDeleter>;

// FFmpeg error code as readable text.
QString avErrorText(int errnum);

// Keeps FFmpeg from printing to stderr: the program reports problems itself. Any thread.
void silenceFfmpegLog();

} // namespace Marlet::Audio
