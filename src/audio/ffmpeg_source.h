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

private:
    FfmpegSource() = default;
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
    qint64 m_dropBeforeMs = -1; // after a seek, frames ending before this are dropped
};

} // namespace Marlet::Audio
