#pragma once

#include "frame_source.h"
#include "resampler.h"

#include <QString>

#include <memory>
#include <vector>

class QIODevice;

namespace Marlet::Audio {

// A sound file opened for decoding into interleaved 32-bit float at a chosen rate and
// channel count. The format is found from the content, never from the file name.
// Not thread-safe: one thread uses a decoder at a time.
class Decoder
{
public:
    // Opens the file at `path`. On failure returns null and sets `error` to a message
    // that names the file and says why it cannot be played.
    static std::unique_ptr<Decoder> open(const QString& path, QString* error);
    // Opens an already opened device (read-only, seekable); `name` is used in messages.
    static std::unique_ptr<Decoder> open(std::unique_ptr<QIODevice> device, const QString& name,
                                         QString* error);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The stream's own rate and channel count, and its duration in ms (-1 when unknown).
    StreamInfo info() const;

    // Output format for read(); defaults to the stream's own rate and channels. What was
    // decoded in the previous format and not yet read is converted as well.
    void setOutputFormat(int sampleRate, int channels);
    int outputRate() const { return m_resampler.outputRate(); }
    int outputChannels() const { return m_resampler.outputChannels(); }

    // Writes up to `maxFrames` frames to `out` (maxFrames * outputChannels() floats).
    // Returns the frames written; 0 only at the end of the stream.
    qint64 read(float* out, qint64 maxFrames);
    // Next read() starts at `ms` from the beginning, at the sample it names.
    bool seek(qint64 ms);
    bool atEnd() const { return m_ended && m_pendingAt >= m_pending.size(); }
    // Why reading stopped before the stream's end (the file could not be read on, or got
    // shorter while it was read); empty when it stopped at the end or has not stopped.
    QString readError() const;
    // The name given to open(), for messages.
    const QString& name() const { return m_name; }

private:
    Decoder(std::unique_ptr<QIODevice> device, std::unique_ptr<FrameSource> source);
    bool refill();

    QString m_name;
    std::unique_ptr<QIODevice> m_device;
    std::unique_ptr<FrameSource> m_source;
    Resampler m_resampler;
    std::vector<float> m_pending; // converted samples not yet read
    size_t m_pendingAt = 0;
    bool m_ended = false;
};

} // namespace Marlet::Audio
