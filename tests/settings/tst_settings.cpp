#include "forms/runtime_error.h"
#include "settings/settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/resource.h>

using namespace Marlet::Settings;
using namespace Qt::StringLiterals;

class TestSettings final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    const QString m_programFolder =
        QDir::toNativeSeparators(QCoreApplication::applicationDirPath());

    QString storeFile() const { return m_home.filePath(u"Quendel/Marlet.conf"_s); }
    // What the user is told when saving "Last Dir" fails; empty when it is saved.
    static QString saveFailure(const QString& value)
    {
        try {
            SaveProgramSetting(lastDirKey(), value);
            return {};
        } catch (const Marlet::Forms::RuntimeError& error) {
            return error.message();
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path());
        std::signal(SIGXFSZ, SIG_IGN); // a write past the file size limit fails instead
    }
    void init() { QFile::remove(storeFile()); }

    // Values come back unchanged from the program's store file; nothing stored reads as the
    // program folder.
    void roundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("spaces, quotes, non-ASCII") << u"/media/usb/My \"Best\" Ñandú – mix"_s;
        QTest::newRow("backslashes") << u"C:\\Users\\me\\"_s;
        QTest::newRow("empty") << QString();
    }
    void roundTrip()
    {
        QFETCH(QString, value);
        QCOMPARE(GetProgramSetting(lastDirKey()), m_programFolder);
        QCOMPARE(saveFailure(value), QString());
        QCOMPARE(GetProgramSetting(lastDirKey()), value);
        QSettings raw(storeFile(), QSettings::IniFormat);
        QCOMPARE(raw.value(u"Settings/Last Dir"_s).toString(), value);
    }

    // A save the disk does not take (it is full) fails; reads in this run then return what
    // the disk holds, not the value that was lost.
    void saveThatDoesNotReachTheDisk_data()
    {
        QTest::addColumn<QString>("earlier"); // the key stored before, if any
        QTest::newRow("nothing stored yet") << QString();
        QTest::newRow("another value stored") << lastDriveKey();
        QTest::newRow("this value stored") << lastDirKey();
    }
    void saveThatDoesNotReachTheDisk()
    {
        QFETCH(QString, earlier);
        if (!earlier.isNull())
            SaveProgramSetting(earlier, u"/kept"_s);
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit full{0, limit.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &full), 0);
        {
            const auto restore = qScopeGuard([&] { setrlimit(RLIMIT_FSIZE, &limit); });
            QCOMPARE(saveFailure(u"/lost"_s),
                     u"The setting \"Last Dir\" could not be saved in %1."_s.arg(
                         QDir::toNativeSeparators(storeFile())));
        }
        QCOMPARE(GetProgramSetting(lastDirKey()),
                 earlier == lastDirKey() ? u"/kept"_s : m_programFolder);
    }

    // A file that is not a store this program writes reads as empty and is never written
    // over, at every access of the run, also when it was damaged after earlier accesses.
    // A refused save fails, and standard error hears of it once, naming the file.
    void notAStoreIsLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("dir"); // what reading "Last Dir" gives; null: damaged
        QByteArray noise;
        for (quint32 seed = 15; noise.size() < 3000;)
            noise += char((seed = seed * 1664525u + 1013904223u) >> 24);
        QTest::newRow("random bytes") << noise << QString();
        QTest::newRow("broken section header")
            << QByteArray("[Settings\nLast%20Dir=/somewhere\n") << QString();
        QTest::newRow("a hash line, which Qt does not take for a comment")
            << QByteArray("# mine\n[Settings]\n") << QString();
        QTest::newRow("a control character")
            << QByteArray("[Settings]\nLast%20Dir=/\x01\n") << QString();
        QTest::newRow("a valid store, CRLF")
            << QByteArray("; mine\r\n\r\n[Settings]\r\nLast%20Dir=/kept\r\n") << u"/kept"_s;
    }
    void notAStoreIsLeftAlone()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, dir);
        const auto read = [](const QString& key) {
            return GetSetting(programApplication(), programSection(), key, u"default"_s);
        };
        const auto save = [](const QString& key, const QString& value) {
            SaveSetting(programApplication(), programSection(), key, value);
        };
        save(lastDriveKey(), u"/in use"_s);
        QCOMPARE(read(lastDriveKey()), u"/in use"_s);
        QFile store(storeFile());
        QVERIFY(store.open(QIODevice::WriteOnly) && store.write(bytes) == bytes.size());
        store.close();
        const QString file = QDir::toNativeSeparators(storeFile());
        for (int access = 0; access < 2; ++access) {
            QCOMPARE(read(lastDirKey()), dir.isNull() ? u"default"_s : dir);
            if (!dir.isNull()) {
                save(lastDirKey(), dir += u'+');
                continue;
            }
            if (access == 0)
                QTest::ignoreMessage(QtWarningMsg,
                                     QRegularExpression(QRegularExpression::escape(file)));
            else
                QTest::failOnWarning(QRegularExpression(u"."_s));
            QVERIFY_THROWS_EXCEPTION(Marlet::Forms::RuntimeError, save(lastDirKey(), u"/lost"_s));
            QFile stored(storeFile());
            QVERIFY(stored.open(QIODevice::ReadOnly));
            QCOMPARE(stored.readAll(), bytes);
        }
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
