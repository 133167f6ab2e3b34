#include "audio/decoder.h"
#include "support/reference_decode.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QtTest>

#include <cmath>
#include <vector>

using Marlet::Audio::Decoder;

namespace {

using Marlet::Testing::fixture;

// Everything `decoder` gives, at its current output format.
std::vector<float> decodeAll(Decoder& decoder)
{
    std::vector<float> all;
    std::vector<float> chunk(size_t(1000) * size_t(decoder.outputChannels()));
    for (;;) {
        const qint64 frames = decoder.read(chunk.data(), 1000);
        if (frames == 0)
            break;
        all.insert(all.end(), chunk.begin(), chunk.begin() + frames * decoder.outputChannels());
    }
    return all;
}

} // namespace

class TestDecoder final : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void matchesReferenceDecode_data();
    void matchesReferenceDecode();
    void refusesWithReason_data();
    void refusesWithReason();
    void playsDamagedStreamToTheEnd();
    void convertsToAnotherFormat();
    void seeksAndRewinds_data();
    void seeksAndRewinds();
    void decodesFromMemory();
};

void TestDecoder::matchesReferenceDecode_data()
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

void TestDecoder::matchesReferenceDecode()
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
    for (size_t i = 0; i < ours.size(); ++i) {
        if (ours[i] != reference[i])
            QFAIL(qPrintable(QStringLiteral("sample %1 differs: %2 against %3")
                                 .arg(i)
                                 .arg(double(ours[i]))
                                 .arg(double(reference[i]))));
    }
    QVERIFY(decoder->atEnd());
}

void TestDecoder::refusesWithReason_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");

    QTest::newRow("missing") << fixture(QStringLiteral("no such file.mp3"))
                             << QStringLiteral("does not exist");
    QTest::newRow("folder") << QStringLiteral(MARLET_TEST_DATA_DIR)
                            << QStringLiteral("is a folder");
    QTest::newRow("empty") << fixture(QStringLiteral("zero.mp3")) << QStringLiteral("is empty");
    QTest::newRow("wav without samples")
        << fixture(QStringLiteral("wav_no_samples.wav")) << QStringLiteral("holds no sound");
    QTest::newRow("text") << fixture(QStringLiteral("text.mp3"))
                          << QStringLiteral("not a sound file");
    QTest::newRow("corrupt") << fixture(QStringLiteral("corrupt.mp3")) << QStringLiteral("damaged");
    QTest::newRow("source code") << fixture(QStringLiteral("amr_encode.c"))
                                 << QStringLiteral("not a sound file");
    QTest::newRow("no name") << QString() << QStringLiteral("no file was named");
}

void TestDecoder::refusesWithReason()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);

    QString error;
    QVERIFY(!Decoder::open(path, &error));
    QVERIFY2(error.contains(reason), qPrintable(error));
    if (!path.isEmpty())
        QVERIFY2(error.contains(QDir::toNativeSeparators(path)), qPrintable(error));
}

void TestDecoder::playsDamagedStreamToTheEnd()
{
    // Noise inside the stream must neither stop the decode early nor crash the converter.
    QString error;
    auto decoder = Decoder::open(fixture(QStringLiteral("damaged.mp3")), &error);
    QVERIFY2(decoder, qPrintable(error));
    const std::vector<float> samples = decodeAll(*decoder);
    QVERIFY(samples.size() >= size_t(30000) * 2);
    for (float sample : samples)
        QVERIFY(std::isfinite(sample) && std::fabs(sample) <= 1.5f);
}

void TestDecoder::convertsToAnotherFormat()
{
    QString error;
    auto decoder = Decoder::open(fixture(QStringLiteral("wav_u8_mono_8000.wav")), &error);
    QVERIFY2(decoder, qPrintable(error));
    decoder->setOutputFormat(48000, 2);
    const std::vector<float> samples = decodeAll(*decoder);
    // 4000 frames at 8 kHz are 24000 at 48 kHz; resampling may round by a few.
    QVERIFY2(std::abs(qint64(samples.size()) / 2 - 24000) <= 16,
             qPrintable(QString::number(samples.size() / 2)));
    for (size_t i = 0; i < samples.size(); i += 2)
        QCOMPARE(samples[i], samples[i + 1]);
}

void TestDecoder::seeksAndRewinds_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("slack"); // frames a seek may land before its target

    QTest::newRow("wav") << QStringLiteral("wav_s16_stereo_44100.wav") << 4096;
    QTest::newRow("mp3") << QStringLiteral("mp3_mpeg1_cbr_stereo_44100.mp3") << 2 * 1152;
    QTest::newRow("amr") << QStringLiteral("amrnb_122.amr") << 160;
}

void TestDecoder::seeksAndRewinds()
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
        qPrintable(
            QStringLiteral("%1 frames after the seek, %2 expected").arg(restFrames).arg(expected)));
}

void TestDecoder::decodesFromMemory()
{
    QFile file(fixture(QStringLiteral("amrwb_660.amr")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    auto buffer = std::make_unique<QBuffer>();
    buffer->setData(file.readAll());
    QVERIFY(buffer->open(QIODevice::ReadOnly));
    QString error;
    auto decoder = Decoder::open(std::move(buffer), QStringLiteral("memory"), &error);
    QVERIFY2(decoder, qPrintable(error));
    QCOMPARE(decodeAll(*decoder).size(), size_t(8000));
}

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
