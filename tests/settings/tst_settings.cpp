#include "forms/runtime_error.h"
#include "settings/settings_store.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using namespace Marlet::Settings;
using namespace Qt::StringLiterals;

class TestSettings : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    QString storeFile() const { return m_home.filePath(u"Quendel/Marlet.conf"_s); }

    static QString read(const QString& key)
    {
        return GetSetting(programApplication(), programSection(), key, u"default"_s);
    }
    static void save(const QString& key, const QString& value)
    {
        SaveSetting(programApplication(), programSection(), key, value);
    }

    void writeBlocker()
    {
        QFile file(m_home.filePath(u"Quendel"_s));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

    void writeStore(const QByteArray& bytes)
    {
        QVERIFY(QDir().mkpath(m_home.filePath(u"Quendel"_s)));
        QFile file(storeFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_home.path());
    }
    void init() { QFile::remove(storeFile()); }

    // Values come back in this run and in a later one (a new store object reads the file).
    void roundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("folder") << u"/home/me/Music"_s;
        QTest::newRow("spaces, quotes, non-ASCII") << u"/media/usb/My \"Best\" Ñandú – mix"_s;
        QTest::newRow("backslashes") << u"C:\\Users\\me\\"_s;
        QTest::newRow("empty") << QString();
    }
    void roundTrip()
    {
        QFETCH(QString, value);
        QCOMPARE(read(lastDirKey()), u"default"_s);
        save(lastDirKey(), value);
        QCOMPARE(read(lastDirKey()), value);
        QCOMPARE(read(lastDriveKey()), u"default"_s);
        QVERIFY(QFile::exists(storeFile()));
        QSettings raw(storeFile(), QSettings::IniFormat);
        QCOMPARE(raw.value(u"Settings/Last Dir"_s).toString(), value);
    }

    // A store that cannot be parsed reads as nothing stored, and is not written over.
    void damagedStore()
    {
        const QByteArray damaged("[Settings\nLast%20Dir=/somewhere\nLast Drive\n");
        writeStore(damaged);
        QCOMPARE(read(lastDirKey()), u"default"_s);
        QFile file(storeFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), damaged);
    }

    // A save that does not reach the disk fails, and the value read afterwards is the
    // one on disk, not the one that was lost. (A file where the store's folder should be
    // stops even a privileged user.)
    void saveThatDoesNotReachTheDisk()
    {
        QVERIFY(QDir(m_home.filePath(u"Quendel"_s)).removeRecursively());
        writeBlocker();
        QVERIFY_THROWS_EXCEPTION(Marlet::Forms::RuntimeError, save(lastDirKey(), u"/lost"_s));
        QCOMPARE(read(lastDirKey()), u"default"_s);
        QVERIFY(QFile::remove(m_home.filePath(u"Quendel"_s)));
        save(lastDirKey(), u"/kept"_s);
        QCOMPARE(read(lastDirKey()), u"/kept"_s);
    }

    void programFolderIsTheExecutablesFolder()
    {
        QCOMPARE(programFolder(), QDir::toNativeSeparators(QCoreApplication::applicationDirPath()));
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
        save(lastDriveKey(), u"/in use"_s);
        QCOMPARE(read(lastDriveKey()), u"/in use"_s);
        writeStore(bytes);
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
