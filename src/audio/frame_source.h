#pragma once

#include "av_handles.h"

#include <QString>
#include <QtGlobal>

namespace Marlet::Audio {

// What a decoded stream is, as far as the container tells.
struct StreamInfo
{
    int sampleRate = 0;
    int channels = 0;
    qint64 durationMs = -1; // -1 when unknown
};

// A stream of decoded audio frames in the codec's own format. Internal to the decoder;
// used on one thread at a time.
class FrameSource
{
public:
    virtual ~FrameSource() = default;

    // Fills `frame` (unreferenced by the caller beforehand). Returns 0 for a frame,
    // AVERROR_EOF at the end, another negative code when reading failed for good.
    virtual int nextFrame(AVFrame* frame) = 0;
    // Moves so that the next frame starts at, or just before, `ms`.
    virtual bool seek(qint64 ms) = 0;
    virtual StreamInfo info() const = 0;
    // Why the last nextFrame() ended the stream early, when it was not its end.
    virtual QString readError() const { return {}; }
};

} // namespace Marlet::Audio
