#include "wav_sink.h"

#include "native_file.h"

#include <QtEndian>

#include <array>
#include <cstring>

namespace Marlet::Audio {

namespace {

constexpr qint64 kHeaderBytes = 44;
// The RIFF size field is 32 bits wide.
constexpr qint64 kMaxDataBytes = 0xFFFFFFFFLL - (kHeaderBytes - 8);

template <typename T>
void put(std::array<char, kHeaderBytes>& header, size_t at, T value)
{
    const T little = qToLittleEndian(value);
    std::memcpy(header.data() + at, &little, sizeof little);
}

} // namespace

WavSink::WavSink(const QString& path, int sampleRate, int channels)
    : m_file(path), m_sampleRate(sampleRate), m_channels(channels),
      m_frameBytes(qint64(channels) * 2)
{
}

std::unique_ptr<WavSink> WavSink::create(const QString& path, int sampleRate, int channels,
                                         QString* error)
{
    std::unique_ptr<WavSink> sink(new WavSink(path, sampleRate, channels));
    if (!openRegularFile(&sink->m_file,
                         QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered, error))
        return {};
    if (!sink->writeHeader()) {
        *error = sink->m_file.errorString();
        return {};
    }
    return sink;
}

bool WavSink::writeHeader()
{
    std::array<char, kHeaderBytes> header{};
    std::memcpy(header.data(), "RIFF", 4);
    put<quint32>(header, 4, quint32(m_dataBytes + kHeaderBytes - 8));
    std::memcpy(header.data() + 8, "WAVEfmt ", 8);
    put<quint32>(header, 16, 16);
    put<quint16>(header, 20, 1); // PCM
    put<quint16>(header, 22, quint16(m_channels));
    put<quint32>(header, 24, quint32(m_sampleRate));
    put<quint32>(header, 28, quint32(m_sampleRate * m_frameBytes));
    put<quint16>(header, 32, quint16(m_frameBytes));
    put<quint16>(header, 34, 16);
    std::memcpy(header.data() + 36, "data", 4);
    put<quint32>(header, 40, quint32(m_dataBytes));

    const qint64 end = kHeaderBytes + m_dataBytes;
    if (!m_file.seek(0) || m_file.write(header.data(), kHeaderBytes) != kHeaderBytes)
        return false;
    return m_file.seek(end);
}

bool WavSink::write(const qint16* interleaved, qint64 frames)
{
    if (!m_error.isEmpty())
        return false;
    qint64 bytes = frames * m_frameBytes;
    if (m_dataBytes + bytes > kMaxDataBytes) {
        bytes = (kMaxDataBytes - m_dataBytes) / m_frameBytes * m_frameBytes;
        m_error = QStringLiteral("the WAV file has reached its size limit of 4 GB");
    }
    QByteArray little;
    const char* data = reinterpret_cast<const char*>(interleaved);
    if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN) {
        little.resize(bytes);
        qToLittleEndian<qint16>(interleaved, bytes / 2, little.data());
        data = little.constData();
    }
    qint64 put = 0;
    while (put < bytes) {
        const qint64 n = m_file.write(data + put, bytes - put);
        if (n <= 0)
            break;
        put += n;
    }
    if (put != bytes) {
        // Keep whole frames only; the header is then made to match the data on disk.
        const qint64 kept = put > 0 ? put / m_frameBytes * m_frameBytes : 0;
        m_dataBytes += kept;
        m_error = m_file.errorString();
        m_file.flush();
        m_file.resize(kHeaderBytes + m_dataBytes);
        writeHeader();
        return false;
    }
    m_dataBytes += bytes;
    return m_error.isEmpty();
}

void WavSink::checkpoint()
{
    if (m_file.isOpen() && writeHeader())
        m_file.flush();
}

bool WavSink::finish()
{
    const bool ok = writeHeader() && m_file.flush();
    if (!ok && m_error.isEmpty())
        m_error = m_file.errorString();
    m_file.close();
    return ok && m_error.isEmpty();
}

} // namespace Marlet::Audio
