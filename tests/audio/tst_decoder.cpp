#include "audio/decoder.h"
#include "support/reference_decode.h"

#include <QtTest>

#include <algorithm>
#include <cmath>
#include <vector>

using Marlet::Audio::Decoder;
using namespace Qt::StringLiterals;

namespace {

using Marlet::Testing::fixture;

// Everything `decoder` gives, at its current output format.
std::vector<float> decodeAll(Decoder& decoder)
{
    std::vector<float> all, chunk(size_t(1000) * size_t(decoder.outputChannels()));
    while (const qint64 frames = decoder.read(chunk.data(), 1000))
        all.insert(all.end(), chunk.begin(), chunk.begin() + frames * decoder.outputChannels());
    return all;
}

} // namespace

class TestDecoder final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void matchesReferenceDecode_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("frames"); // exact length, -1 when the reference decides
        auto row = [](const char* file, int rate, int channels, int frames) {
            QTest::newRow(file) << QString::fromUtf8(file) << rate << channels << frames;
        };
        // Gapless MP3: the LAME header's delay and padding are not heard.
        row("mp3_mpeg1_cbr_stereo_44100.mp3", 44100, 2, 44100);
        row("mp3_mpeg1_vbr_mono_48000.mp3", 48000, 1, 24000);
        row("mp3_mpeg1_cbr_mono_32000.mp3", 32000, 1, 16000);
        row("mp3_mpeg2_cbr_mono_22050.mp3", 22050, 1, 11025);
        row("mp3_mpeg2_vbr_stereo_24000.mp3", 24000, 2, 12000);
        row("mp3_mpeg2_cbr_stereo_16000.mp3", 16000, 2, 8000);
        row("mp3_mpeg25_cbr_mono_8000.mp3", 8000, 1, 4000);
        row("mp3_mpeg25_vbr_stereo_11025.mp3", 11025, 2, 5512);
        row("mp3_mpeg25_cbr_mono_12000.mp3", 12000, 1, 6000);
        row("mp3_id3v1.mp3", 44100, 2, 22050);
        row("mp3_id3v2.mp3", 44100, 2, 22050);
        row("mp3_id3v2_picture.mp3", 44100, 2, 22050);
        row("mp3_ape.mp3", 44100, 2, 22050);
        row("mp3_no_gapless_header.mp3", 44100, 2, -1);
        row("tone ñandú Ünïcode – space.mp3", 22050, 1, 11025);
        row("wav_named.mp3", 8000, 1, 4000);
        row("wav_u8_mono_8000.wav", 8000, 1, 4000);
        row("wav_s16_mono_22050.wav", 22050, 1, 11025);
        row("wav_s16_stereo_44100.wav", 44100, 2, 22050);
        row("wav_s24_stereo_16000.wav", 16000, 2, 8000);
        row("wav_s32_mono_16000.wav", 16000, 1, 8000);
        row("wav_f32_stereo_8000.wav", 8000, 2, 4000);
        row("wav_f64_mono_8000.wav", 8000, 1, 4000);
        row("wav_adpcm_ima_mono_22050.wav", 22050, 1, -1);
        row("wav_adpcm_ms_stereo_22050.wav", 22050, 2, -1);
        row("wav_alaw_mono_8000.wav", 8000, 1, 4000);
        row("wav_mulaw_mono_8000.wav", 8000, 1, 4000);
        row("wav_truncated.wav", 8000, 1, 1500);
        row("wav_huge_claim.wav", 8000, 1, 800);
        // AMR goes through opencore, as sox's does; DTX files keep their full length.
        row("amrnb_122.amr", 8000, 1, 8000);
        row("amrnb_475.amr", 8000, 1, 4000);
        row("amrnb_sox.amr", 8000, 1, 4000);
        row("amrnb_dtx.amr", 8000, 1, 16000);
        row("amrwb_2385.amr", 16000, 1, 8000);
        row("amrwb_660.amr", 16000, 1, 8000);
    }
    void matchesReferenceDecode()
    {
        QFETCH(QString, file);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, frames);
        QString error;
        auto decoder = Decoder::open(fixture(file), &error);
        QVERIFY2(decoder, qPrintable(error));
        QCOMPARE(decoder->outputRate(), rate);
        QCOMPARE(decoder->outputChannels(), channels);
        const std::vector<float> ours = decodeAll(*decoder);
        const std::vector<float> reference =
            Marlet::Testing::referenceDecode(fixture(file), rate, channels);
        QVERIFY(!reference.empty());
        if (frames >= 0)
            QCOMPARE(qint64(ours.size()), qint64(frames) * channels);
        QCOMPARE(ours.size(), reference.size());
        const auto differs = std::mismatch(ours.begin(), ours.end(), reference.begin()).first;
        QVERIFY2(differs == ours.end(),
                 qPrintable(u"sample %1 differs"_s.arg(differs - ours.begin())));
        QVERIFY(decoder->atEnd());
    }

    void refusesWithReason_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* tag, const QString& path, const char* reason) {
            QTest::newRow(tag) << path << QString::fromLatin1(reason);
        };
        row("missing", fixture(u"no such file.mp3"_s), "does not exist");
        row("folder", QStringLiteral(MARLET_TEST_DATA_DIR), "is a folder");
        row("empty", fixture(u"zero.mp3"_s), "is empty");
        row("wav without samples", fixture(u"wav_no_samples.wav"_s), "holds no sound");
        row("text", fixture(u"text.mp3"_s), "not a sound file");
        row("corrupt", fixture(u"corrupt.mp3"_s), "damaged");
        row("source code", fixture(u"amr_encode.c"_s), "not a sound file");
        row("no name", QString(), "no file was named");
    }
    void refusesWithReason()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QString error;
        QVERIFY(!Decoder::open(path, &error));
        QVERIFY2(error.contains(reason), qPrintable(error));
        if (!path.isEmpty())
            QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
    }

    void playsDamagedStreamToTheEnd()
    {
        // Noise inside the stream must neither stop the decode early nor crash the converter.
        QString error;
        auto decoder = Decoder::open(fixture(u"damaged.mp3"_s), &error);
        QVERIFY2(decoder, qPrintable(error));
        const std::vector<float> samples = decodeAll(*decoder);
        QVERIFY(samples.size() >= size_t(30000) * 2);
        for (float sample : samples)
            QVERIFY(std::isfinite(sample) && std::fabs(sample) <= 1.5f);
    }

    void convertsToAnotherFormat()
    {
        QString error;
        auto decoder = Decoder::open(fixture(u"wav_u8_mono_8000.wav"_s), &error);
        QVERIFY2(decoder, qPrintable(error));
        decoder->setOutputFormat(48000, 2);
        const std::vector<float> samples = decodeAll(*decoder);
        // 4000 frames at 8 kHz are 24000 at 48 kHz; resampling may round by a few.
        QVERIFY2(std::abs(qint64(samples.size()) / 2 - 24000) <= 16,
                 qPrintable(QString::number(samples.size() / 2)));
        for (size_t i = 0; i < samples.size(); i += 2)
            QCOMPARE(samples[i], samples[i + 1]);
    }

    void seeksAndRewinds_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("slack"); // frames a seek may land before its target
        QTest::newRow("wav") << u"wav_s16_stereo_44100.wav"_s << 4096;
        QTest::newRow("mp3") << u"mp3_mpeg1_cbr_stereo_44100.mp3"_s << 2 * 1152;
        QTest::newRow("amr") << u"amrnb_122.amr"_s << 160;
    }
    void seeksAndRewinds()
    {
        QFETCH(QString, file);
        QFETCH(int, slack);
        QString error;
        auto decoder = Decoder::open(fixture(file), &error);
        QVERIFY2(decoder, qPrintable(error));
        const int channels = decoder->outputChannels();
        const std::vector<float> whole = decodeAll(*decoder);

        // Back to the start gives the same sound again, sample for sample.
        QVERIFY(decoder->seek(0));
        QVERIFY(decodeAll(*decoder) == whole);

        // From the middle: the rest of the stream, starting at most `slack` frames early.
        const qint64 totalFrames = qint64(whole.size()) / channels;
        const qint64 middleMs = totalFrames * 1000 / decoder->outputRate() / 2;
        QVERIFY(decoder->seek(middleMs));
        const qint64 restFrames = qint64(decodeAll(*decoder).size()) / channels;
        const qint64 expected = totalFrames - middleMs * decoder->outputRate() / 1000;
        QVERIFY2(
            restFrames >= expected - 2 && restFrames <= expected + slack,
            qPrintable(u"%1 frames after the seek, %2 expected"_s.arg(restFrames).arg(expected)));
    }

    void decodesFromMemory()
    {
        QFile file(fixture(u"amrwb_660.amr"_s));
        QVERIFY(file.open(QIODevice::ReadOnly));
        auto buffer = std::make_unique<QBuffer>();
        buffer->setData(file.readAll());
        QVERIFY(buffer->open(QIODevice::ReadOnly));
        QString error;
        auto decoder = Decoder::open(std::move(buffer), u"memory"_s, &error);
        QVERIFY2(decoder, qPrintable(error));
        QCOMPARE(decodeAll(*decoder).size(), size_t(8000));
    }
};

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
