// Feeds arbitrary blocks of samples to the WAV and MP3 writers, with checkpoints and an
// early end anywhere, then decodes the file back: a WAV holds exactly what was written,
// an MP3 exactly as many frames when LAME kept the rate (its Info frame, written at the
// end, tells the delay and padding), about as many when it resampled.

#include "audio/decoder.h"
#include "audio/recording_sink.h"
#include "fuzz_require.h"

#include <QTemporaryDir>
#include <QtGlobal>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace Marlet::Audio;

namespace {

constexpr std::array<int, 8> kRates{8000, 11025, 16000, 22050, 32000, 44100, 48000, 37800};
constexpr qint64 kMaxFrames = 1 << 16;
constexpr qint64 kMp3Slack = 2 * 1152;

QTemporaryDir& scratch()
{
    static QTemporaryDir dir;
    return dir;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    REQUIRE(scratch().isValid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const bool mp3 = data[0] & 1;
    const int channels = 1 + ((data[0] >> 1) & 1);
    const int rate = kRates[(data[0] >> 2) & 7];
    const QString path =
        scratch().filePath(mp3 ? QStringLiteral("take.mp3") : QStringLiteral("take.wav"));
    QString error;
    std::unique_ptr<RecordingSink> sink = RecordingSink::create(path, rate, channels, &error);
    REQUIRE(sink != nullptr);

    // Each step: 0-1 writes a block whose samples are the input's bytes, 2 checkpoints,
    // 3 ends the recording there.
    std::vector<qint16> written;
    size_t at = 1;
    while (at < size && (data[at] & 3) != 3) {
        const uint8_t step = data[at++];
        if ((step & 3) == 2) {
            sink->checkpoint();
            continue;
        }
        const qint64 frames =
            std::min<qint64>(step >> 2, kMaxFrames - qint64(written.size()) / channels);
        std::vector<qint16> block(size_t(frames * channels));
        for (qint16& sample : block) {
            sample = qint16(data[at % size] << 8 | data[(at + 1) % size]);
            at += 2;
        }
        REQUIRE(sink->write(block.data(), frames));
        written.insert(written.end(), block.begin(), block.end());
    }
    REQUIRE(sink->finish());
    const qint64 frames = qint64(written.size()) / channels;
    REQUIRE(sink->framesWritten() == frames);
    sink.reset();

    if (frames == 0)
        return 0; // no sound at all: nothing to decode
    std::unique_ptr<Decoder> decoder = Decoder::open(path, &error);
    if (!decoder)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    REQUIRE(decoder != nullptr);
    REQUIRE(decoder->outputChannels() == channels);
    std::vector<float> decoded(size_t(kMaxFrames + 4 * 1152) * 2);
    qint64 total = 0;
    for (;;) {
        const qint64 room = qint64(decoded.size()) / channels - total;
        REQUIRE(room > 0);
        const qint64 got =
            decoder->read(decoded.data() + total * channels, std::min<qint64>(room, 4096));
        if (got <= 0)
            break;
        total += got;
    }
    if (mp3) {
        REQUIRE(std::llabs(total - frames) <= kMp3Slack);
        REQUIRE(total == frames || decoder->outputRate() != rate);
        return 0;
    }
    REQUIRE(decoder->outputRate() == rate && total == frames);
    for (size_t i = 0; i < written.size(); ++i)
        REQUIRE(decoded[i] == float(written[i]) / 32768.0f);
    return 0;
}
