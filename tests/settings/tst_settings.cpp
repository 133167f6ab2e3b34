#include "forms/runtime_error.h"
#include "settings/settings_store.h"

#include <QtTest>

#include <csignal>
#include <sys/resource.h>

using namespace Marlet::Settings;
using namespace Qt::StringLiterals;

class TestSettings final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    const QString m_store = QDir::toNativeSeparators(m_home.filePath(u"Quendel/Marlet.conf"_s));
    const QString m_programFolder =
        QDir::toNativeSeparators(QCoreApplication::applicationDirPath());

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
    void init() { QFile::remove(m_store); }

    // Values come back unchanged from the program's store file.
    void roundTrip()
    {
        for (const QString& value :
             {u"/media/usb/My \"Best\" Ñandú – mix"_s, u"C:\\Users\\me\\"_s, QString()}) {
            QCOMPARE(saveFailure(value), QString());
            QCOMPARE(GetProgramSetting(lastDirKey()), value);
        }
    }

    // A save the disk does not take (it is full) fails; reads in this run then return what
    // the disk holds, not the value that was lost. Nothing stored reads as the program folder.
    void saveThatDoesNotReachTheDisk()
    {
        rlimit limit{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit full{0, limit.rlim_max};
        for (const bool stored : {false, true}) { // a value stored before, or nothing
            QFile::remove(m_store);
            if (stored)
                SaveProgramSetting(lastDirKey(), u"/kept"_s);
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &full), 0);
            const QString failure = saveFailure(u"/lost"_s);
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limit), 0);
            QCOMPARE(failure, u"The setting \"Last Dir\" could not be saved in %1."_s.arg(m_store));
            QCOMPARE(GetProgramSetting(lastDirKey()), stored ? u"/kept"_s : m_programFolder);
        }
    }

    // A file that is not a store this program writes reads as empty and is never written
    // over, at every access of the run, also when it was damaged after earlier accesses.
    // A refused save fails, naming the file, and standard error hears of it once.
    void notAStoreIsLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("dir"); // what reading "Last Dir" gives; null: damaged
        QTest::newRow("UTF-8 cut short") << QByteArray("[Settings]\nLast%20Dir=/\xc3") << QString();
        QTest::newRow("broken header") << QByteArray("[Settings\nLast%20Dir=/x\n") << QString();
        // Qt does not take a hash line for a comment.
        QTest::newRow("hash line") << QByteArray("# mine\n[Settings]\n") << QString();
        QTest::newRow("control byte") << QByteArray("[Settings]\nLast%20Dir=\x01") << QString();
        QTest::newRow("a key Qt escapes") << QByteArray("[Settings]\nLast/Dir=/x\n") << QString();
        QTest::newRow("a backslash before =") << QByteArray("[Settings]\nA\\=1\n") << QString();
        QTest::newRow("an empty level") << QByteArray("[Settings]\nA%2f=1\n") << QString();
        QTest::newRow("an empty level, backslash and %2f")
            << QByteArray("[Settings]\nA\\%2fB=1\n") << QString();
        QTest::newRow("an empty level, trimmed") << QByteArray("[A%2f ]\nB=1\n") << QString();
        QTest::newRow("a valid store, CRLF and CR, keys Qt writes in other places")
            << QByteArray("; mine\r\n\r\n[Settings]\rLast%20Dir=/kept\r\nA%2fB=\\x7f\n"
                          "[General]\ngeneral%2fC=y\n")
            << u"/kept"_s;
    }
    void notAStoreIsLeftAlone()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, dir);
        SaveProgramSetting(lastDriveKey(), u"/in use"_s);
        QFile store(m_store);
        QVERIFY(store.open(QIODevice::WriteOnly) && store.write(bytes) == bytes.size());
        store.close();
        if (dir.isNull())
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(QRegularExpression::escape(m_store)));
        QTest::failOnWarning(QRegularExpression(u"."_s));
        for (int access = 0; access < 2; ++access) {
            QCOMPARE(GetProgramSetting(lastDirKey()), dir.isNull() ? m_programFolder : dir);
            const QString failure = saveFailure(dir.isNull() ? u"/lost"_s : (dir += u'+'));
            QCOMPARE(failure.contains(m_store), dir.isNull()); // naming the file
            QFile stored(m_store);
            QCOMPARE(stored.open(QIODevice::ReadOnly) && stored.readAll() == bytes, dir.isNull());
        }
    }
};

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
