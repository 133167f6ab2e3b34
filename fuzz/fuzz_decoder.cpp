// Feeds arbitrary bytes to Decoder as an in-memory file: open, read to the end, seek to
// the middle and read, change the output format and read. Work per input is bounded.

#include "audio/decoder.h"
#include "fuzz_require.h"

#include <QBuffer>
#include <QByteArray>
#include <QtGlobal>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

using Marlet::Audio::Decoder;

namespace {

constexpr qint64 kChunkFrames = 4096;
constexpr int kMaxOutputChannels = 2;
// Output frames per stage; the whole-stream read stops at the first.
constexpr qint64 kMaxFramesWhole = 10'000'000;
constexpr qint64 kMaxFramesAfterSeek = 1 << 16;
constexpr qint64 kMaxFramesAfterFormatChange = 1 << 18;

std::array<float, kChunkFrames * kMaxOutputChannels> g_chunk;

void readUpTo(Decoder& decoder, qint64 limit)
{
    const int channels = decoder.outputChannels();
    REQUIRE(channels > 0 && channels <= kMaxOutputChannels);
    qint64 total = 0;
    while (total < limit) {
        const qint64 want = std::min(kChunkFrames, limit - total);
        const qint64 got = decoder.read(g_chunk.data(), want);
        REQUIRE(got >= 0 && got <= want);
        if (got == 0) {
            REQUIRE(decoder.atEnd());
            return;
        }
        total += got;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    // Damaged input makes QBuffer complain on every run; printing that would
    // slow the fuzzer down and bury its own report.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Copied, so that the device owns its bytes like a file would.
    auto device = std::make_unique<QBuffer>();
    device->setData(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!device->open(QIODevice::ReadOnly))
        return 0;

    QString error;
    const std::unique_ptr<Decoder> decoder =
        Decoder::open(std::move(device), QStringLiteral("fuzz input"), &error);
    if (!decoder) {
        REQUIRE(!error.isEmpty());
        return 0;
    }

    readUpTo(*decoder, kMaxFramesWhole);

    decoder->seek(decoder->info().durationMs / 2);
    readUpTo(*decoder, kMaxFramesAfterSeek);

    const int rate = decoder->outputRate() == 48000 ? 44100 : 48000;
    const int channels = decoder->outputChannels() == 2 ? 1 : 2;
    decoder->setOutputFormat(rate, channels);
    REQUIRE(decoder->outputRate() == rate && decoder->outputChannels() == channels);
    readUpTo(*decoder, kMaxFramesAfterFormatChange);
    return 0;
}
