// Decoding: every format comes out as an independent decoder on the same library gives it
// (and MP3 as FFmpeg's does, but for rounding), or is refused with a reason the user can read.

#include "audio/decoder.h"
#include "audio/track_tags.h"
#include "support/reference_decode.h"

#include <QtTest>

using namespace Marlet::Audio;
using namespace Marlet::Testing;
using namespace Qt::StringLiterals;

class TestDecoder final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    // The tag names the fixture. A converted row asks for `rate` and `channels` instead of
    // the file's own.
    void matchesReferenceDecode_data()
    {
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        QTest::addColumn<int>("frames"); // exact length, -1 when the reference decides
        // Gapless MP3: the LAME header's delay and padding are not heard.
        QTest::newRow("mp3_mpeg1_cbr_stereo_44100.mp3") << 44100 << 2 << 44100;
        QTest::newRow("mp3_mpeg2_vbr_stereo_24000.mp3") << 24000 << 2 << 12000;
        QTest::newRow("mp3_id3v2_picture.mp3") << 44100 << 2 << 22050;
        QTest::newRow("mp3_ape.mp3") << 44100 << 2 << 22050;
        QTest::newRow("mp3_no_gapless_header.mp3") << 44100 << 2 << 24192;
        QTest::newRow("damaged.mp3") << 44100 << 2 << -1;
        QTest::newRow("tone ñandú Ünïcode – space.mp3") << 22050 << 1 << 11025;
        // WAV gives the file's own samples, whatever their encoding.
        QTest::newRow("wav_named.mp3") << 8000 << 1 << 4000;
        QTest::newRow("wav_u8_mono_8000.wav") << 8000 << 1 << 4000;
        QTest::newRow("wav_s16_stereo_44100.wav") << 44100 << 2 << 22050;
        QTest::newRow("wav_s24_stereo_16000.wav") << 16000 << 2 << 8000;
        QTest::newRow("wav_s32_mono_16000.wav") << 16000 << 1 << 8000;
        QTest::newRow("wav_alaw_mono_8000.wav") << 8000 << 1 << 4000;
        QTest::newRow("wav_adpcm_ima_mono_22050.wav") << 22050 << 1 << -1;
        QTest::newRow("wav_truncated.wav") << 8000 << 1 << 1500;
        QTest::newRow("wav_huge_claim.wav") << 8000 << 1 << 800;
        // AMR goes through opencore, as sox's does; DTX files keep their full length.
        QTest::newRow("amrnb_dtx.amr") << 8000 << 1 << 16000;
        QTest::newRow("amrwb_2385.amr") << 16000 << 1 << 8000;
        // Converted to another rate, and from mono to stereo.
        QTest::newRow("wav_u8_mono_8000.wav as 48000 Hz stereo") << 48000 << 2 << 24000;
    }
    void matchesReferenceDecode()
    {
        QFETCH(int, rate);
        QFETCH(int, channels);
        QFETCH(int, frames);
        const QString tag = QString::fromUtf8(QTest::currentDataTag());
        const QString file = fixture(tag.section(u" as "_s, 0, 0));
        const bool convert = tag.contains(u" as "_s);
        const auto decoder = Decoder::open(file, nullptr);
        QVERIFY(decoder);
        if (convert)
            decoder->setOutputFormat(rate, channels);
        QVERIFY(decoder->outputRate() == rate && decoder->outputChannels() == channels);
        const auto decodeAll = [&] { // from where the decoder is
            std::vector<float> all, chunk(size_t(1000 * channels));
            while (const qint64 got = decoder->read(chunk.data(), 1000))
                all.insert(all.end(), chunk.begin(), chunk.begin() + got * channels);
            return all;
        };
        const std::vector<float> ours = decodeAll();
        const std::vector<float> reference = referenceDecode(file, rate, channels);
        QVERIFY(!reference.empty() && decoder->atEnd());
        const qint64 length = qint64(ours.size()) / channels, middleMs = length * 500 / rate;
        QCOMPARE(length, frames < 0 ? qint64(reference.size()) / channels : frames);
        // Converted by another resampler than the reference's: as good.
        QVERIFY(convert ? snrDb(ours, reference) >= 60 : ours == reference);
        // Back to the start gives the same sound again, and from the middle of a file the
        // rest of it, from the very sample asked for.
        QVERIFY(decoder->seek(0) && decodeAll() == ours);
        QVERIFY(decoder->seek(middleMs));
        const std::vector<float> rest = decodeAll();
        const qint64 skipped = middleMs * rate / 1000;
        QCOMPARE(qint64(rest.size()) / channels, length - skipped);
        if (!file.endsWith(u".amr"_s) && !convert) // opencore and soxr start afresh
            QVERIFY(std::equal(rest.begin(), rest.end(), ours.begin() + skipped * channels));
    }
    // Samples decoded but not yet read when the format changes come out in the new format,
    // as if it had been chosen from the start. The short WAVs are one packet each.
    void formatChangeConvertsWhatWaits_data()
    {
        QTest::addColumn<qint64>("read"); // frames read in the stream's own format
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        // To mono with 1000 frames left, and to 48 kHz stereo with 3.
        QTest::newRow("wav_s16_stereo_44100.wav") << qint64(24) << 44100 << 1;
        QTest::newRow("wav_u8_mono_8000.wav") << qint64(3997) << 48000 << 2;
    }
    void formatChangeConvertsWhatWaits()
    {
        QFETCH(qint64, read);
        QFETCH(int, rate);
        QFETCH(int, channels);
        const QString file = fixture(QString::fromUtf8(QTest::currentDataTag()));
        const auto decoder = Decoder::open(file, nullptr);
        QVERIFY(decoder);
        const bool sameRate = decoder->outputRate() == rate;
        const auto whole = referenceDecode(file, rate, channels);
        const auto tail = qint64(whole.size()) - read * rate / decoder->outputRate() * channels;
        std::vector<float> rest(1 << 17);
        QCOMPARE(decoder->read(rest.data(), read), read);
        decoder->setOutputFormat(rate, channels);
        rest.resize(size_t(decoder->read(rest.data(), 1 << 16) * channels));
        QVERIFY(decoder->atEnd());
        QVERIFY(sameRate ? std::equal(rest.begin(), rest.end(), whole.end() - tail, whole.end())
                         : std::abs(qint64(rest.size()) - tail) <= 16 * channels);
    }

    void refusesWithReason_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << fixture(u"no such file.mp3"_s) << u"does not exist"_s;
        QTest::newRow("folder") << fixture({}) << u"is a folder"_s;
        QTest::newRow("empty") << fixture(u"zero.mp3"_s) << u"is empty"_s;
        QTest::newRow("no samples") << fixture(u"wav_no_samples.wav"_s) << u"holds no sound"_s;
        QTest::newRow("text") << fixture(u"text.mp3"_s) << u"not a sound file"_s;
        QTest::newRow("corrupt") << fixture(u"corrupt.mp3"_s) << u"damaged"_s;
        QTest::newRow("no name") << QString() << u"no file was named"_s;
        // A tag that ends just where the file does is no damage.
        QFile tagOnly(m_dir.filePath(u"tag only.mp3"_s));
        QVERIFY(tagOnly.open(QIODevice::WriteOnly) &&
                tagOnly.write(QByteArray("ID3\4\0\0\0\0\0\x10", 10) + QByteArray(16, '\0')) == 26);
        QTest::newRow("only a tag") << tagOnly.fileName() << u"no sound could be decoded"_s;
    }
    void refusesWithReason()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QString error;
        QVERIFY(!Decoder::open(path, &error));
        QVERIFY2(error.contains(reason) && error.contains(QDir::toNativeSeparators(path)),
                 qPrintable(error));
    }

    void readsTags_data()
    {
        QTest::addColumn<QString>("tags"); // "title|artist|album|length in ms"
        QTest::newRow("mp3_id3v1.mp3") << u"Tone Title|Tone Artist|Tone Album|500"_s;
        QTest::newRow("mp3_id3v2_picture.mp3") << u"Tone With Cover|||500"_s;
        QTest::newRow("mp3_ape.mp3") << u"Tone APE ñandú|Tone Artist|Tone Album|500"_s;
        QTest::newRow("mp3_mpeg2_vbr_stereo_24000.mp3") << u"|||500"_s;
        QTest::newRow("amrnb_dtx.amr") << u"|||2000"_s;
        QTest::newRow("text.mp3") << u"|||-1"_s;
    }
    void readsTags()
    {
        QFETCH(QString, tags);
        const auto read = readTrackTags(fixture(QString::fromUtf8(QTest::currentDataTag())));
        const QString length = QString::number(read.durationMs);
        QCOMPARE(QStringList({read.title, read.artist, read.album, length}).join(u'|'), tags);
    }
};

QTEST_GUILESS_MAIN(TestDecoder)
#include "tst_decoder.moc"
