#pragma once

#include "device_reader.h"
#include "frame_source.h"

#include <sndfile.h>

#include <memory>
#include <vector>

class QIODevice;

namespace Marlet::Audio {

// WAV in any encoding libsndfile reads (PCM of 8 to 32 bits, float, double, A-law, µ-law,
// IMA and MS ADPCM, WAVE_FORMAT_EXTENSIBLE, any number of channels). Reads through the
// device, which must outlive the source.
class WavSource final : public FrameSource
{
public:
    enum class Failure { None, Empty, Damaged, Unreadable };

    // On failure returns null and sets `failure`, and `detail` for the message.
    static std::unique_ptr<WavSource> open(QIODevice* device, Failure* failure, QString* detail);
    ~WavSource() override;
    WavSource(const WavSource&) = delete;
    WavSource& operator=(const WavSource&) = delete;

    bool next(AudioBlock* block) override;
    bool seek(qint64 frame) override;
    StreamInfo info() const override;
    QString readError() const override { return m_readError; }

    struct FileDeleter
    {
        void operator()(SNDFILE* file) const { sf_close(file); }
    };
    using File = std::unique_ptr<SNDFILE, FileDeleter>;
    // Opens `reader`'s device from its start for reading; `info` is filled in. Null with
    // `detail` set when libsndfile refuses it. `reader` must outlive the file.
    static File openFile(DeviceReader* reader, SF_INFO* info, QString* detail);

private:
    explicit WavSource(QIODevice* device);

    DeviceReader m_reader;
    qint64 m_openedSize; // the file's size when it was opened
    File m_file;
    SF_INFO m_info{};
    std::vector<float> m_buffer;
    qint64 m_primedFrames = 0; // read while opening to prove the stream plays
    QString m_readError;
};

} // namespace Marlet::Audio
