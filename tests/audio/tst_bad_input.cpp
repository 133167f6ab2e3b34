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
using Marlet::Audio::Decoder;
using Marlet::Testing::fixture;
using namespace Qt::StringLiterals;

namespace {

// Makes at `path` what `kind` names: a named pipe ("fifo"), a "socket", a link to a
// "device", or an MP3 whose ID3v2 tag claims 256 MB ("huge tag").
bool makeFile(const QString& kind, const QString& path)
{
    QFile mp3(fixture(u"mp3_id3v2.mp3"_s)), out(path);
    if (kind == u"device"_s)
        return QFile::link(u"/dev/null"_s, path);
    if (kind == u"huge tag"_s)
        return mp3.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly) &&
               out.write(mp3.readAll().replace(6, 4, "\x7f\x7f\x7f\x7f")) > 0;
#ifdef Q_OS_UNIX
    const QByteArray name = QFile::encodeName(path);
    if (kind == u"fifo"_s)
        return ::mkfifo(name.constData(), 0600) == 0;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, name.constData(), sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    return ::close(fd) == 0 && bound;
#endif
    return false;
}

} // namespace

class TestBadInput final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("SDL_AUDIODRIVER", "disk");
        qputenv("SDL_DISKAUDIOFILEIN", "/dev/zero"); // silence to record
        qputenv("SDL_DISKAUDIOFILE", QFile::encodeName(m_dir.filePath(u"out.raw"_s)));
    }

    // Refused with the true reason, and the engine plays a good file after it; and it ends
    // at once when destroyed right after the command, as at Exit. (The program itself, run
    // as a child process, would show that at a much greater cost.) A row that hangs fails
    // by the test's time limit.
    void refusedWithTheTrueReason_data()
    {
        QTest::addColumn<QString>("path"); // made as the tag says when it starts with "@"
        QTest::addColumn<bool>("record");  // into it, rather than play it
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* tag, const QString& path, bool record, QString reason) {
            QTest::newRow(tag) << path << record << reason;
        };
        row("folder", QStringLiteral(MARLET_TEST_DATA_DIR), false, u"is a folder"_s);
        row("huge tag", u"@huge.mp3"_s, false, u"its tag says it is larger than the file"_s);
#ifdef Q_OS_UNIX
        row("name too long", fixture(QString(300, u'a') + u".mp3"_s), false,
            u"its name is longer than the system allows"_s);
        row("path too long", fixture(u"x/"_s.repeated(3000) + u"a.mp3"_s), false,
            u"its name is longer than the system allows"_s);
        row("fifo", u"@x.wav"_s, false, u"it is not a regular file (a named pipe)"_s);
        row("socket", u"@y.mp3"_s, false, u"it is not a regular file (a socket)"_s);
        row("device", u"/dev/null"_s, false, u"it is not a regular file (a device)"_s);
        row("fifo, record", u"@z.wav"_s, true, u"it is not a regular file (a named pipe)"_s);
        row("device, record", u"@null.wav"_s, true, u"it is not a regular file (a device)"_s);
#endif
        if (QFileInfo::exists(u"/proc/version"_s)) // says it is empty, and is not
            row("system file", u"/proc/version"_s, false, u"it is not a sound file"_s);
    }
    void refusedWithTheTrueReason()
    {
        QFETCH(QString, path);
        QFETCH(bool, record);
        QFETCH(QString, reason);
        const QString kind = QString::fromLatin1(QTest::currentDataTag()).section(u',', 0, 0);
        if (path.startsWith(u'@'))
            QVERIFY(makeFile(kind, path = m_dir.filePath(path.mid(1))));
        QElapsedTimer exit;
        exit.start();
        record ? AudioEngine().record(path) : AudioEngine().open(path);
        QVERIFY(exit.elapsed() < 2000);
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
        for (const qint64 left : {0, 1, 2, 3, 3999})
            QTest::addRow("mono to stereo, %lld left", left) << mono << 4000 - left << 8000 << 2;
        QTest::newRow("stereo to mono, 1 left") << stereo << qint64(1023) << 44100 << 1;
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
        auto changed = Decoder::open(fixture(file), &error),
             fresh = Decoder::open(fixture(file), &error);
        QVERIFY2(changed && fresh, qPrintable(error));
        const qint64 ownRate = changed->outputRate();
        std::vector<float> rest(1 << 17), whole(1 << 17);
        QCOMPARE(changed->read(rest.data(), read), read);
        changed->setOutputFormat(rate, channels);
        fresh->setOutputFormat(rate, channels);
        const qint64 restFrames = changed->read(rest.data(), 1 << 16);
        const qint64 wholeFrames = fresh->read(whole.data(), 1 << 16);
        QVERIFY(changed->atEnd() && fresh->atEnd());
        const qint64 expected = wholeFrames - read * rate / ownRate;
        QVERIFY(std::abs(restFrames - expected) <= (rate == ownRate ? 0 : 16));
        QVERIFY(rate != ownRate || std::equal(rest.begin(), rest.begin() + restFrames * channels,
                                              whole.begin() + read * channels));
    }

    // The file or its folder goes while it records: said at once, or at the stop, once.
    void recordingWhoseFileGoes_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("how");
        for (const char* name : {"take.wav", "take.mp3"}) {
            for (const char* how : {"removed", "removed, then stop", "moved"})
                QTest::addRow("%s, folder %s", name, how)
                    << QString::fromLatin1(name) << QString::fromLatin1(how);
        }
    }
    void recordingWhoseFileGoes()
    {
        QFETCH(QString, name);
        QFETCH(QString, how);
#ifndef Q_OS_LINUX
        if (how == u"moved"_s)
            QSKIP("where a moved file went is found on Linux only");
#endif
        QTemporaryDir parent;
        QVERIFY(QDir(parent.path()).mkdir(u"takes"_s));
        const QString file = parent.filePath(u"takes/"_s + name);
        const QString now = how == u"moved"_s ? parent.filePath(u"moved/"_s + name) : QString();
        AudioEngine engine;
        QSignalSpy saved(&engine, &AudioEngine::recordingSaved);
        QSignalSpy failed(&engine, &AudioEngine::failed);
        engine.record(file);
        QTRY_VERIFY(engine.positionMs() >= 300);
        QVERIFY(now.isEmpty() ? QDir(parent.filePath(u"takes"_s)).removeRecursively()
                              : QDir(parent.path()).rename(u"takes"_s, u"moved"_s));
        if (how.endsWith(u"stop"_s))
            engine.stop();
        QTRY_VERIFY2(saved.count() == 1 && failed.count() == 1, "the recording ended in silence");
        QTest::qWait(300); // and only one
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toULongLong(), 0ULL);
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
