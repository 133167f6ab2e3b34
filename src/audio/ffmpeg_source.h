#pragma once

#include "frame_source.h"

#include <QString>

#include <memory>

class QIODevice;

namespace Marlet::Audio {

// Any container and codec libavformat and libavcodec understand, found by content.
class FfmpegSource final : public FrameSource
{
public:
    enum class Failure { None, NotAudio, Empty, Damaged, Unreadable };

    // `device` must outlive the source. On failure returns null and sets `failure`
    // and a detail text for the message.
    static std::unique_ptr<FfmpegSource> open(QIODevice* device, Failure* failure, QString* detail);
    ~FfmpegSource() override;

    int nextFrame(AVFrame* frame) override;
    bool seek(qint64 ms) override;
    StreamInfo info() const override;

    QString readError() const override { return m_readError; }

private:
    FfmpegSource() = default;
    // Keeps why reading stopped, when the stream did not simply end.
    void noteReadError(int err);
    bool openInput(QIODevice* device, const AVInputFormat* forced, QString* detail);
    int decodeFrame(AVFrame* frame);
    static bool frameIsSane(const AVFrame* frame);

    AvioPtr m_avio;
    InputFormatPtr m_format;
    CodecContextPtr m_codec;
    PacketPtr m_packet;
    FramePtr m_primed; // the first frame, decoded while opening to prove the stream plays
    bool m_hasPrimed = false;
    bool m_flushing = false;
    int m_stream = -1;
    qint64 m_packetsRead = 0;
    QIODevice* m_device = nullptr; // read through m_format; owned by the decoder
    qint64 m_openedSize = 0;       // the file's size when it was opened
    QString m_readError;
    qint64 m_dropBeforeMs = -1; // after a seek, frames ending before this are dropped
};

} // namespace Marlet::Audio
