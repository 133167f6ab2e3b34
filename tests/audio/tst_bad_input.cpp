// Input that is no playable file, or a file that goes away: the engine says so in true
// words, never waits for ever, and never loses a recording without a word.

#include "audio/audio_engine.h"
#include "audio/decoder.h"
#include "support/reference_decode.h"

#include <QtTest>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

using Marlet::Audio::AudioEngine;
using Marlet::Testing::fixture;
using namespace Qt::StringLiterals;

class TestBadInput final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // Makes at `path` what `kind` names: a named pipe ("fifo"), a "socket", or an MP3 whose
    // ID3v2 tag claims 256 MB ("huge tag").
    static bool makeFile(const QString& kind, const QString& path)
    {
        QFile mp3(fixture(u"mp3_id3v2.mp3"_s)), out(path);
        if (kind == u"huge tag"_s)
            return mp3.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly) &&
                   out.write(mp3.readAll().replace(6, 4, "\x7f\x7f\x7f\x7f")) > 0;
#ifdef Q_OS_UNIX
        const QByteArray name = QFile::encodeName(path);
        if (kind == u"fifo"_s)
            return ::mkfifo(name.constData(), 0600) == 0;
        sockaddr_un address{AF_UNIX, {}};
        std::strncpy(address.sun_path, name.constData(), sizeof address.sun_path - 1);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        return ::close(fd) == 0 && bound;
#endif
        return false;
    }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILEIN", "/dev/zero"); // silence to record
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath(u"out.raw"_s)));
    }

    // Refused with the true reason, and the engine plays a good file after it; and it ends
    // at once when destroyed right after the command, as at Exit. A row that hangs fails
    // by the test's time limit. A tag ending in "record" records into the path.
    void refusedWithTheTrueReason_data()
    {
        QTest::addColumn<QString>("path"); // made as the tag says when it starts with "@"
        QTest::addColumn<QString>("reason");
        QTest::newRow("huge tag") << u"@huge.mp3"_s << u"tag says it is larger than the file"_s;
        if (QFileInfo::exists(u"/proc/version"_s)) // says it is empty, and is not
            QTest::newRow("system file") << u"/proc/version"_s << u"it is not a sound file"_s;
#ifdef Q_OS_UNIX
        QTest::newRow("name too long")
            << fixture(QString(300, u'a') + u".mp3"_s) << u"longer than the system allows"_s;
        QTest::newRow("fifo") << u"@x.wav"_s << u"not a regular file (a named pipe)"_s;
        QTest::newRow("socket") << u"@y.mp3"_s << u"not a regular file (a socket)"_s;
        QTest::newRow("device") << u"/dev/null"_s << u"not a regular file (a device)"_s;
        QTest::newRow("fifo, record") << u"@z.wav"_s << u"not a regular file (a named pipe)"_s;
#endif
    }
    void refusedWithTheTrueReason()
    {
        QFETCH(QString, path);
        QFETCH(QString, reason);
        const QString tag = QString::fromLatin1(QTest::currentDataTag());
        const bool record = tag.endsWith(u"record"_s);
        if (path.startsWith(u'@'))
            QVERIFY(makeFile(tag.section(u',', 0, 0), path = m_dir.filePath(path.mid(1))));
        const QDeadlineTimer soon(2000);
        record ? AudioEngine().record(path) : AudioEngine().open(path);
        QVERIFY(!soon.hasExpired());
        AudioEngine engine;
        QSignalSpy failed(&engine, &AudioEngine::failed);
        QSignalSpy ended(&engine, &AudioEngine::endOfMedia);
        const auto id = record ? engine.record(path) : engine.open(path);
        QTRY_COMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toULongLong(), id);
        const QString message = failed.at(0).at(1).toString();
        QVERIFY2(message.contains(reason) && message.contains(QDir::toNativeSeparators(path)),
                 qPrintable(message));
        engine.open(fixture(u"wav_u8_mono_8000.wav"_s));
        engine.play();
        QTRY_COMPARE(ended.count(), 1);
        QCOMPARE(failed.count(), 1);
    }

    // Samples decoded but not yet read when the format changes come out in the new format,
    // as if it had been chosen from the start. The short WAVs are one packet each.
    void formatChangeConvertsWhatWaits_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<qint64>("read"); // frames read in the stream's own format
        QTest::addColumn<int>("rate");
        QTest::addColumn<int>("channels");
        const QString mono = u"wav_u8_mono_8000.wav"_s, stereo = u"wav_s16_stereo_44100.wav"_s;
        for (const qint64 left : {1, 3999})
            QTest::addRow("mono to stereo, %lld left", left) << mono << 4000 - left << 8000 << 2;
        QTest::newRow("stereo to mono, 1000 left") << stereo << qint64(24) << 44100 << 1;
        QTest::newRow("mono, 8 to 48 kHz, 1000 left") << mono << qint64(3000) << 48000 << 1;
        QTest::newRow("mono to 48 kHz stereo, 3 left") << mono << qint64(3997) << 48000 << 2;
    }
    void formatChangeConvertsWhatWaits()
    {
        QFETCH(QString, file);
        QFETCH(qint64, read);
        QFETCH(int, rate);
        QFETCH(int, channels);
        QString error;
        const auto decoder = Marlet::Audio::Decoder::open(fixture(file), &error);
        QVERIFY2(decoder, qPrintable(error));
        const bool sameRate = decoder->outputRate() == rate;
        const auto whole = Marlet::Testing::referenceDecode(fixture(file), rate, channels);
        const auto tail = qint64(whole.size()) - read * rate / decoder->outputRate() * channels;
        std::vector<float> rest(1 << 17);
        QCOMPARE(decoder->read(rest.data(), read), read);
        decoder->setOutputFormat(rate, channels);
        rest.resize(size_t(decoder->read(rest.data(), 1 << 16) * channels));
        QVERIFY(decoder->atEnd());
        QVERIFY(sameRate ? std::equal(rest.begin(), rest.end(), whole.end() - tail, whole.end())
                         : std::abs(qint64(rest.size()) - tail) <= 16 * channels);
    }

    // The folder of the file goes while it records: said at once, or at the stop, once.
    // The sinks take turns.
    void recordingWhoseFolderGoes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("removed") << u"take.wav"_s;
        QTest::newRow("removed, then stop") << u"take.mp3"_s;
#ifdef Q_OS_LINUX // where a moved file went is found on Linux only
        QTest::newRow("moved") << u"take.mp3"_s;
#endif
    }
    void recordingWhoseFolderGoes()
    {
        QFETCH(QString, name);
        const QString how = QString::fromLatin1(QTest::currentDataTag());
        const QString folder = m_dir.filePath(how), file = folder + u'/' + name;
        const QString now = how == u"moved"_s ? folder + u" moved/"_s + name : QString();
        QVERIFY(QDir().mkdir(folder));
        AudioEngine engine;
        QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
        QSignalSpy failed(&engine, &AudioEngine::failed);
        engine.record(file);
        QTRY_VERIFY(engine.positionMs() >= 300);
        QVERIFY(now.isEmpty() ? QDir(folder).removeRecursively()
                              : QDir().rename(folder, folder + u" moved"_s));
        if (how.endsWith(u"stop"_s))
            engine.stop();
        QTRY_VERIFY2(saved.count() == 1 && failed.count() == 1, "the recording ended in silence");
        QTest::qWait(300); // and only one
        QVERIFY(failed.count() == 1 && failed.at(0).at(0).toULongLong() == 0);
        const QString message = failed.at(0).at(1).toString();
        QVERIFY2(message.contains(QDir::toNativeSeparators(file)) &&
                     message.contains(now.isEmpty() ? u"is lost"_s : QDir::toNativeSeparators(now)),
                 qPrintable(message));
        QCOMPARE(saved.at(0).at(1).toString(), now);
        QVERIFY(now.isEmpty() || QFileInfo(now).size() > 0);
    }
};

QTEST_GUILESS_MAIN(TestBadInput)
#include "tst_bad_input.moc"
