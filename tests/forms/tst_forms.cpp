#include "forms/error_policy.h"
#include "forms/runtime_error.h"
#include "forms/runtime_error_report.h"
#include "forms/twips.h"
#include "forms/window_frame.h"

#include <QTest>

#include <stdexcept>

using namespace Marlet::Forms;
using namespace Qt::StringLiterals;

namespace {

// A statement: appends `kind` to `reached`, then 'o' succeeds, 'e' throws a RuntimeError,
// 's' a std::exception and 'x' something else.
void run(QChar kind, QString& reached)
{
    reached.append(kind);
    if (kind == u'e')
        throw RuntimeError(u"device is not ready"_s);
    if (kind == u's')
        throw std::runtime_error("out of memory");
    if (kind == u'x')
        throw 42;
}

} // namespace

class TestForms final : public QObject
{
    Q_OBJECT

    QStringList m_reports; // "where: message"

private Q_SLOTS:
    void init()
    {
        m_reports.clear();
        setRuntimeErrorReportHandler([this](const QString& where, const QString& message) {
            m_reports.append(where + u": "_s + message);
        });
    }

    // Resume-next runs every statement and reports nothing; a reporting handler stops at
    // the first failure and reports it once, under the handler's name.
    void policies()
    {
        // The plan, then what a reporting handler ran and its report.
        const QList<std::pair<QString, QString>> rows = {
            {u"ooo"_s, u"ooo"_s}, // none fails
            {u"oee"_s, u"oe Form_Unload: device is not ready"_s},
            {u"oso"_s, u"os Form_Unload: out of memory"_s}, // a standard exception
            {u"xo"_s, u"x Form_Unload: Unknown error"_s}};  // a foreign one
        for (const auto& [plan, reporting] : rows) {
            QString reached;
            const ResumeNext resume;
            for (const QChar kind : plan)
                resume.run([&] { run(kind, reached); });
            QCOMPARE(reached, plan);
            QVERIFY(m_reports.isEmpty());
            reached.clear();
            const bool completed = runReporting(u"Form_Unload"_s, [&] {
                for (const QChar kind : plan)
                    run(kind, reached);
            });
            QCOMPARE((QStringList{reached} + std::exchange(m_reports, {})).join(u' '), reporting);
            QCOMPARE(completed, reached == plan);
        }
    }

    // The body runs when the condition holds, or fails: it counts as holding.
    void resumeNextWhen()
    {
        for (const QChar condition : u"tfes"_s) { // 't' holds, 'f' does not, else as run()
            QString reached;
            ResumeNext().when([&] { return run(condition, reached), condition == u't'; },
                              [&] { reached += u'!'; });
            QCOMPARE(reached.endsWith(u'!'), condition != u'f');
        }
        QVERIFY(m_reports.isEmpty());
    }

    void twipsRoundToNearestPixel()
    {
        const QList<std::pair<int, int>> rows = {{7, 0}, {8, 1}, {22, 1}, {23, 2}, {-8, -1}};
        for (const auto& [value, pixels] : rows) {
            QCOMPARE(twips(value), pixels);
            QCOMPARE(twipsRect(value, 15, 30, value), QRect(pixels, 1, 2, pixels));
        }
    }

    // A client area 156, 129 px from its screen's corner, moved back onto the part of the
    // screen that panels leave free; when too large, its top-left corner stays on it.
    void placement()
    {
        const QRect second(1920, 0, 1280, 1024), small(0, 0, 480, 300);
        const QList<std::tuple<QRect, QRect, QPoint>> rows{
            {second, second, {2076, 129}},                      // fits, on a second screen
            {small, small, {98, 68}},                           // too narrow and too low
            {{0, 0, 1024, 360}, {0, 0, 1024, 340}, {156, 108}}, // a panel along the bottom
            {{0, 0, 320, 200}, {0, 20, 320, 180}, {0, 20}}};    // smaller than the window
        for (const auto& [screen, available, topLeft] : rows) {
            QCOMPARE(placeClientArea({156, 129}, {382, 232}, screen, available),
                     QRect(topLeft, QSize(382, 232)));
        }
    }
};

QTEST_MAIN(TestForms)
#include "tst_forms.moc"
