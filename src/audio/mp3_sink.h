#pragma once

#include "av_handles.h"
#include "recording_sink.h"

namespace Marlet::Audio {

// MP3 through LAME, in a file with the LAME/Xing header written at finish() so players
// know its exact length. Between checkpoints the file is a valid stream of frames.
class Mp3Sink final : public RecordingSink
{
public:
    static std::unique_ptr<Mp3Sink> create(const QString& path, int sampleRate, int channels,
                                           QString* error);
    ~Mp3Sink() override;

    bool write(const qint16* interleaved, qint64 frames) override;
    void checkpoint() override;
    bool finish() override;
    qint64 framesWritten() const override;
    QString error() const override { return m_error; }
    const QFile& file() const override { return m_file; }

private:
    explicit Mp3Sink(const QString& path);
    bool setUp(int sampleRate, int channels);
    bool allocateScratch(int samples);
    bool convertIntoFifo(const uint8_t* in, int count);
    bool encodeFromFifo(bool final);
    bool sendFrame(AVFrame* frame);
    bool fail(const QString& what, int err);

    QFile m_file;
    AvioPtr m_avio;
    OutputFormatPtr m_muxer;
    CodecContextPtr m_encoder;
    SwrPtr m_swr;
    AudioFifoPtr m_fifo;
    FramePtr m_frame;
    PacketPtr m_packet;
    int m_inRate = 0;
    int m_inChannels = 0;
    qint64 m_framesIn = 0;
    int64_t m_nextPts = 0;
    bool m_headerWritten = false;
    qint64 m_bytesOnDisk = 0;
    qint64 m_packetsOnDisk = 0;
    qint64 m_tagAt = -1;
    bool m_finished = false;
    QString m_error;
};

} // namespace Marlet::Audio
