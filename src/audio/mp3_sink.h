#pragma once

#include "recording_sink.h"

#include <memory>
#include <vector>

struct lame_global_struct;

namespace Marlet::Audio {

// MP3 through LAME. The first frame is a silent placeholder until finish() writes the
// LAME/Info frame over it, so that decoders know the exact length and trim the encoder's
// delay and padding. Between checkpoints the file is a valid stream of frames.
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
    struct LameDeleter
    {
        void operator()(lame_global_struct* lame) const;
    };
    explicit Mp3Sink(const QString& path);
    bool setUp(int sampleRate, int channels);
    bool encode(const qint16* interleaved, int frames);
    bool store(int bytes);
    bool fail(const QString& what);

    QFile m_file;
    std::unique_ptr<lame_global_struct, LameDeleter> m_lame;
    std::vector<unsigned char> m_out; // encoded bytes on their way to the file
    std::vector<qint16> m_mixed;      // stereo mix of more channels than two
    int m_inRate = 0;
    int m_inChannels = 0;
    qint64 m_framesIn = 0;
    qint64 m_framesOnDisk = 0; // MP3 frames wholly in the file
    qint64 m_bytesOnDisk = 0;
    bool m_finished = false;
    QString m_error;
};

} // namespace Marlet::Audio
