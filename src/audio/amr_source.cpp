#include "amr_source.h"

extern "C" {
#include <opencore-amrnb/interf_dec.h>
#include <opencore-amrwb/dec_if.h>
}

#include <QIODevice>

#include <algorithm>
#include <array>
#include <utility>

namespace Marlet::Audio {

namespace {

constexpr char kMagicNb[] = "#!AMR\n";
constexpr char kMagicWb[] = "#!AMR-WB\n";
constexpr qsizetype kMagicNbBytes = sizeof kMagicNb - 1;
constexpr qsizetype kMagicWbBytes = sizeof kMagicWb - 1;

// Bytes of one stored frame, header included, by frame type.
constexpr std::array<int, 16> kNbFrameBytes = {13, 14, 16, 18, 20, 21, 27, 32,
                                               6,  1,  1,  1,  1,  1,  1,  1};
constexpr std::array<int, 16> kWbFrameBytes = {18, 24, 33, 37, 41, 47, 51, 59,
                                               61, 6,  1,  1,  1,  1,  1,  1};
constexpr int kMaxFrameBytes = 61;

// Frame types the decoders understand; anything above goes in as "no data".
constexpr int kNbLastKnownType = 8; // SID
constexpr int kWbLastKnownType = 9; // SID
constexpr unsigned char kNoDataHeader = (15 << 3) | 0x04;

constexpr int kFrameMs = 20;
constexpr int kFramesPerChunk = 25; // 0.5 s of audio per block

int rateOf(AmrSource::Kind kind)
{
    return kind == AmrSource::Kind::Narrowband ? 8000 : 16000;
}

int samplesPerFrame(AmrSource::Kind kind)
{
    return rateOf(kind) / 1000 * kFrameMs;
}

} // namespace

bool AmrSource::detect(const QByteArray& head, Kind* kind)
{
    if (head.startsWith(QByteArrayView(kMagicWb, kMagicWbBytes))) {
        *kind = Kind::Wideband;
        return true;
    }
    if (head.startsWith(QByteArrayView(kMagicNb, kMagicNbBytes))) {
        *kind = Kind::Narrowband;
        return true;
    }
    return false;
}

bool AmrSource::isMultichannel(const QByteArray& head)
{
    return head.startsWith("#!AMR_MC1.0\n") || head.startsWith("#!AMR-WB_MC1.0\n");
}

AmrSource::AmrSource(QIODevice* device, Kind kind) : m_device(device), m_kind(kind) {}

AmrSource::~AmrSource()
{
    if (!m_state)
        return;
    if (m_kind == Kind::Narrowband)
        Decoder_Interface_exit(m_state);
    else
        D_IF_exit(m_state);
}

std::unique_ptr<AmrSource> AmrSource::open(QIODevice* device, Kind kind)
{
    std::unique_ptr<AmrSource> source(new AmrSource(device, kind));
    // Count the frames once for the duration; the headers alone tell each frame's size.
    if (!source->rewind())
        return {};
    std::array<unsigned char, kMaxFrameBytes> frame{};
    qint64 frames = 0;
    while (source->readStoredFrame(frame.data()))
        ++frames;
    source->m_frameCount = frames;
    if (frames == 0 || !source->rewind())
        return {};
    return source;
}

void AmrSource::resetDecoder()
{
    if (m_state) {
        if (m_kind == Kind::Narrowband)
            Decoder_Interface_exit(m_state);
        else
            D_IF_exit(m_state);
    }
    m_state = m_kind == Kind::Narrowband ? Decoder_Interface_init() : D_IF_init();
}

bool AmrSource::rewind()
{
    const qint64 magic = m_kind == Kind::Narrowband ? kMagicNbBytes : kMagicWbBytes;
    if (!m_device->seek(magic))
        return false;
    resetDecoder();
    return m_state != nullptr;
}

int AmrSource::storedFrameBytes(unsigned char header) const
{
    const int type = (header >> 3) & 0x0F;
    return m_kind == Kind::Narrowband ? kNbFrameBytes[type] : kWbFrameBytes[type];
}

bool AmrSource::readStoredFrame(unsigned char* frame)
{
    char header = 0;
    if (!m_device->getChar(&header))
        return false;
    frame[0] = static_cast<unsigned char>(header);
    const int rest = storedFrameBytes(frame[0]) - 1;
    if (rest > 0 && m_device->read(reinterpret_cast<char*>(frame + 1), rest) != rest)
        return false; // a cut-off last frame is dropped
    const int type = (frame[0] >> 3) & 0x0F;
    const int lastKnown = m_kind == Kind::Narrowband ? kNbLastKnownType : kWbLastKnownType;
    if (type > lastKnown && type < 14)
        frame[0] = kNoDataHeader;
    return true;
}

bool AmrSource::next(AudioBlock* block)
{
    const int perFrame = samplesPerFrame(m_kind);
    m_decoded.resize(size_t(perFrame) * kFramesPerChunk);
    std::array<unsigned char, kMaxFrameBytes> stored{};
    int decoded = 0;
    while (decoded < kFramesPerChunk && readStoredFrame(stored.data())) {
        short* out = m_decoded.data() + decoded * perFrame;
        if (m_kind == Kind::Narrowband)
            Decoder_Interface_Decode(m_state, stored.data(), out, 0);
        else
            D_IF_decode(m_state, stored.data(), out, _good_frame);
        ++decoded;
    }
    const qint64 skip = std::min<qint64>(std::exchange(m_skip, 0), qint64(decoded) * perFrame);
    m_block.resize(size_t(decoded * perFrame - skip));
    for (size_t i = 0; i < m_block.size(); ++i)
        m_block[i] = float(m_decoded[size_t(skip) + i]) / 32768.0f;
    *block = {m_block.data(), qint64(m_block.size()), rateOf(m_kind), 1};
    return !m_block.empty();
}

bool AmrSource::seek(qint64 frame)
{
    if (!rewind())
        return false;
    const int perFrame = samplesPerFrame(m_kind);
    const qint64 skip = qBound<qint64>(0, frame / perFrame, m_frameCount);
    std::array<unsigned char, kMaxFrameBytes> stored{};
    for (qint64 i = 0; i < skip && readStoredFrame(stored.data()); ++i) {
    }
    m_skip = skip < m_frameCount ? frame - skip * perFrame : 0;
    return true;
}

StreamInfo AmrSource::info() const
{
    return {rateOf(m_kind), 1, m_frameCount * kFrameMs};
}

} // namespace Marlet::Audio
