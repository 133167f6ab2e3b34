#pragma once

#include "recording_sink.h"

namespace Marlet::Audio {

// 16-bit PCM WAV with the canonical 44-byte header. The header is brought up to date
// at every checkpoint, so the file is valid between them too.
class WavSink final : public RecordingSink
{
public:
    static std::unique_ptr<WavSink> create(const QString& path, int sampleRate, int channels,
                                           QString* error);
    bool write(const qint16* interleaved, qint64 frames) override;
    void checkpoint() override;
    bool finish() override;
    qint64 framesWritten() const override { return m_dataBytes / m_frameBytes; }
    QString error() const override { return m_error; }
    const QFile& file() const override { return m_file; }

private:
    WavSink(const QString& path, int sampleRate, int channels);
    bool writeHeader();

    QFile m_file;
    int m_sampleRate;
    int m_channels;
    qint64 m_frameBytes;
    qint64 m_dataBytes = 0;
    QString m_error;
};

} // namespace Marlet::Audio
