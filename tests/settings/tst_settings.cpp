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
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
