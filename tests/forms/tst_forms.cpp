#include "forms/error_policy.h"
#include "forms/program_icon.h"
#include "forms/runtime_error.h"
#include "forms/runtime_error_report.h"
#include "forms/twips.h"

#include <QIcon>
#include <QTest>

#include <stdexcept>

using namespace Marlet::Forms;

namespace {

// One statement per letter: 'o' succeeds, 'e' throws a RuntimeError, 's' a std::exception,
// 'x' something else. Each appends its letter to `reached` first.
std::function<void()> statement(QChar kind, QString& reached)
{
    return [kind, &reached] {
        reached.append(kind);
        if (kind == QLatin1Char('e'))
            throw RuntimeError(QStringLiteral("device is not ready"));
        if (kind == QLatin1Char('s'))
            throw std::runtime_error("out of memory");
        if (kind == QLatin1Char('x'))
            throw 42;
    };
}

} // namespace

class TestForms : public QObject
{
    Q_OBJECT

    QStringList m_reports; // "where: message"
    RuntimeErrorReportHandler m_previousHandler;

private Q_SLOTS:
    void init()
    {
        m_reports.clear();
        m_previousHandler =
            setRuntimeErrorReportHandler([this](const QString& where, const QString& message) {
                m_reports.append(where + QStringLiteral(": ") + message);
            });
    }
    void cleanup() { setRuntimeErrorReportHandler(m_previousHandler); }

    void policies_data()
    {
        QTest::addColumn<QString>("plan");
        QTest::addColumn<QString>("reachedReporting");
        QTest::addColumn<QString>("report"); // empty: none
        QTest::newRow("none fails") << "ooo"
                                    << "ooo" << QString();
        QTest::newRow("first fails") << "eoo"
                                     << "e"
                                     << "Form_Unload: device is not ready";
        QTest::newRow("middle fails") << "oee"
                                      << "oe"
                                      << "Form_Unload: device is not ready";
        QTest::newRow("last fails") << "ooe"
                                    << "ooe"
                                    << "Form_Unload: device is not ready";
        QTest::newRow("std exception") << "oso"
                                       << "os"
                                       << "Form_Unload: out of memory";
        QTest::newRow("foreign exception") << "xo"
                                           << "x"
                                           << "Form_Unload: ";
    }
    void policies()
    {
        QFETCH(QString, plan);
        QFETCH(QString, reachedReporting);
        QFETCH(QString, report);

        QString reached;
        const ResumeNext resume;
        for (const QChar kind : plan)
            resume.run(statement(kind, reached));
        QCOMPARE(reached, plan);
        QVERIFY(m_reports.isEmpty());

        reached.clear();
        const bool completed = runReporting(QStringLiteral("Form_Unload"), [&] {
            for (const QChar kind : plan)
                statement(kind, reached)();
        });
        QCOMPARE(reached, reachedReporting);
        QCOMPARE(completed, report.isNull());
        QCOMPARE(m_reports.size(), report.isNull() ? 0 : 1);
        if (!report.isNull())
            QVERIFY2(m_reports.first().startsWith(report), qPrintable(m_reports.first()));
    }

    void resumeNextWhen_data()
    {
        QTest::addColumn<QChar>("condition"); // 't' holds, 'f' does not, else as statement()
        QTest::addColumn<bool>("bodyRuns");
        QTest::newRow("holds") << QChar(u't') << true;
        QTest::newRow("does not hold") << QChar(u'f') << false;
        QTest::newRow("fails") << QChar(u'e') << true;
        QTest::newRow("fails with std exception") << QChar(u's') << true;
    }
    void resumeNextWhen()
    {
        QFETCH(QChar, condition);
        QFETCH(bool, bodyRuns);
        QString reached;
        const ResumeNext resume;
        resume.when(
            [&] {
                statement(condition, reached)();
                return condition == QLatin1Char('t');
            },
            statement(QLatin1Char('e'), reached));
        QCOMPARE(reached.endsWith(QLatin1Char('e')), bodyRuns);
        QVERIFY(m_reports.isEmpty());
    }

    void twipsRoundToNearestPixel_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("pixels");
        const QList<std::pair<int, int>> rows = {{0, 0},  {7, 0},  {8, 1},   {15, 1},    {22, 1},
                                                 {23, 2}, {-7, 0}, {-8, -1}, {5070, 338}};
        for (const auto& [value, pixels] : rows)
            QTest::addRow("%d", value) << value << pixels;
    }
    void twipsRoundToNearestPixel()
    {
        QFETCH(int, value);
        QFETCH(int, pixels);
        QCOMPARE(twips(value), pixels);
        QCOMPARE(twipsRect(value, 15, 30, value), QRect(pixels, 1, 2, pixels));
    }

    void programIconIsBuiltIn()
    {
        QVERIFY(Marlet::programIcon().availableSizes().contains(QSize(48, 48)));
    }
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
