#pragma once

#include <QString>
#include <QtGlobal>

namespace Marlet::Audio {

// What a decoded stream is, as far as the file tells.
struct StreamInfo
{
    int sampleRate = 0;
    int channels = 0;
    qint64 durationMs = -1; // -1 when unknown
};

// Decoded sound in interleaved 32-bit float, borrowed from the source that made it until
// its next call.
struct AudioBlock
{
    const float* samples = nullptr;
    qint64 frames = 0;
    int sampleRate = 0;
    int channels = 0;
};

// A stream of decoded sound in the file's own rate and channels. Internal to the decoder;
// used on one thread at a time.
class FrameSource
{
public:
    virtual ~FrameSource() = default;

    // Fills `block` with the next stretch of sound (frames > 0). False at the end, or when
    // reading failed for good (readError() then says why).
    virtual bool next(AudioBlock* block) = 0;
    // Moves so that the next block starts exactly at `frame` (at the stream's rate).
    virtual bool seek(qint64 frame) = 0;
    virtual StreamInfo info() const = 0;
    // Why the last next() ended the stream early, when it was not its end.
    virtual QString readError() const { return {}; }
};

} // namespace Marlet::Audio
