#pragma once

#include "frame_source.h"

#include <QByteArray>

#include <memory>
#include <vector>

class QIODevice;

namespace Marlet::Audio {

// AMR-NB and AMR-WB storage files ("#!AMR\n", "#!AMR-WB\n"), decoded with opencore.
// Silence-descriptor frames give comfort noise and no-data frames are concealed by the
// decoder, so files written with DTX play at their full length.
class AmrSource final : public FrameSource
{
public:
    enum class Kind { Narrowband, Wideband };

    // Recognises the magic at the start of `head`; nullopt-like false when it is not AMR.
    static bool detect(const QByteArray& head, Kind* kind);
    static bool isMultichannel(const QByteArray& head);

    // `device` must outlive the source and be positioned anywhere; it is rewound.
    static std::unique_ptr<AmrSource> open(QIODevice* device, Kind kind);
    ~AmrSource() override;

    bool next(AudioBlock* block) override;
    bool seek(qint64 frame) override;
    StreamInfo info() const override;

    AmrSource(const AmrSource&) = delete;
    AmrSource& operator=(const AmrSource&) = delete;

private:
    AmrSource(QIODevice* device, Kind kind);
    bool rewind();
    // Reads one stored frame (header byte first) into `frame`; false at the end.
    bool readStoredFrame(unsigned char* frame);
    int storedFrameBytes(unsigned char header) const;
    void resetDecoder();

    QIODevice* m_device;
    Kind m_kind;
    void* m_state = nullptr;
    qint64 m_frameCount = 0;
    qint64 m_skip = 0; // samples of the next block to drop, after a seek into a frame
    std::vector<short> m_decoded;
    std::vector<float> m_block;
};

} // namespace Marlet::Audio
