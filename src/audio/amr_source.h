#pragma once

#include "frame_source.h"

#include <QByteArray>

#include <memory>

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

    int nextFrame(AVFrame* frame) override;
    bool seek(qint64 ms) override;
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
};

} // namespace Marlet::Audio
