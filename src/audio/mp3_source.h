#pragma once

#include "frame_source.h"

#include <memory>
#include <vector>

class QIODevice;
struct mpg123_handle_struct;

namespace Marlet::Audio {

struct DeviceReader;

// MPEG audio (layers I to III, MPEG-1, 2 and 2.5) through libmpg123: gapless from the
// LAME/Xing header, sample-exact seeking, junk before the first frame and ID3 and APE tags
// skipped. Reads through the device, which must outlive the source.
class Mp3Source final : public FrameSource
{
public:
    enum class Failure { None, NotAudio, Damaged, Unreadable };

    // On failure returns null and sets `failure`, and `detail` for the message.
    static std::unique_ptr<Mp3Source> open(QIODevice* device, Failure* failure, QString* detail);
    ~Mp3Source() override;
    Mp3Source(const Mp3Source&) = delete;
    Mp3Source& operator=(const Mp3Source&) = delete;

    bool next(AudioBlock* block) override;
    bool seek(qint64 frame) override;
    StreamInfo info() const override { return m_info; }
    QString readError() const override { return m_readError; }

    // A new handle with the settings every use shares: float output, quiet, a resync limit.
    // Null when out of memory. Any thread.
    struct HandleDeleter
    {
        void operator()(mpg123_handle_struct* handle) const;
    };
    using Handle = std::unique_ptr<mpg123_handle_struct, HandleDeleter>;
    static Handle makeHandle();
    // Makes `handle` read through `reader` (which must outlive that) from the start.
    static bool openOn(mpg123_handle_struct* handle, DeviceReader* reader);

private:
    explicit Mp3Source(QIODevice* device);
    bool decode(AudioBlock* block);
    void noteEnd();

    qint64 m_openedSize; // the file's size when it was opened
    std::unique_ptr<DeviceReader> m_reader;
    Handle m_handle;
    int m_rate = 0;
    int m_channels = 0;
    StreamInfo m_info;
    std::vector<unsigned char> m_buffer;
    AudioBlock m_primed; // the first block, decoded while opening to prove the stream plays
    QString m_readError;
    qint64 m_skip = 0; // frames still to drop after a seek near the start
};

} // namespace Marlet::Audio
