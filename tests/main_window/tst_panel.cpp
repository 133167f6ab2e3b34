#include "forms/runtime_error_report.h"
#include "main_window/form1.h"
#include "support/silent_engine.h"

#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <memory>

using Marlet::MainWindow::Form1;

namespace {

// Every outer height, in twips, that the window takes on.
class HeightRecorder final : public QObject
{
public:
    QList<int> heights;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize) {
            const int height = static_cast<Form1*>(watched)->outerHeightTwips();
            if (heights.isEmpty() || heights.last() != height)
                heights.append(height);
        }
        return false;
    }
};

// The heights after `from` that "Show" (+1) or "Hide" (-1) goes through: each 20-twip
// step lands on the next 15-twip pixel, up to the first height of 6500 or more, or below
// 3200.
QList<int> steps(int from, int direction)
{
    QList<int> heights;
    for (int height = from; direction > 0 ? height < 6500 : height >= 3200;)
        heights.append(height += direction * 15);
    return heights;
}

} // namespace

class TestPanel : public QObject
{
    Q_OBJECT

    QStringList m_reports;
    Marlet::Forms::RuntimeErrorReportHandler m_previousHandler;
    HeightRecorder m_recorder;
    static inline QtMessageHandler s_previousMessageHandler = nullptr;

    // A shown window at `outerHeight` twips (0: its creation size), recording from then on.
    std::unique_ptr<Form1> makeForm(int outerHeight)
    {
        auto form = std::make_unique<Form1>([](Marlet::Audio::EngineClient*, QString*) {
            return std::make_unique<Marlet::Testing::SilentEngine>();
        });
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            return {};
        // The height written is the outer one, frame included.
        if (outerHeight != 0 &&
            (!form->setOuterHeightTwips(outerHeight) || form->outerHeightTwips() != outerHeight))
            return {};
        QCoreApplication::processEvents();
        form->installEventFilter(&m_recorder);
        return form;
    }

private Q_SLOTS:
    // Every fixed-size change makes the offscreen platform say that it ignores size hints.
    void initTestCase()
    {
        s_previousMessageHandler = qInstallMessageHandler(
            [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
                if (!message.contains(QLatin1String("propagateSizeHints")))
                    s_previousMessageHandler(type, context, message);
            });
    }
    void cleanupTestCase() { qInstallMessageHandler(s_previousMessageHandler); }

    void init()
    {
        m_reports.clear();
        m_recorder.heights.clear();
        m_previousHandler = Marlet::Forms::setRuntimeErrorReportHandler(
            [this](const QString& where, const QString& message) {
                m_reports.append(where + QStringLiteral(": ") + message);
            });
    }
    void cleanup()
    {
        Marlet::Forms::setRuntimeErrorReportHandler(m_previousHandler);
        QCOMPARE(m_reports, QStringList());
    }

    void show_data()
    {
        QTest::addColumn<int>("start");
        QTest::newRow("creation size") << 0;
        QTest::newRow("below the shrink limit") << 3195;
        QTest::newRow("two steps short") << 6480;
        QTest::newRow("one step short") << 6495;
        QTest::newRow("already at the limit") << 6510;
        QTest::newRow("taller than the limit") << 7200;
    }
    void show()
    {
        QFETCH(int, start);
        const auto form = makeForm(start);
        QVERIFY(form);
        const int from = form->outerHeightTwips();
        QSignalSpy ticks(form->tim(), &QTimer::timeout);

        form->Command4()->click();
        QCOMPARE(form->tim()->interval(), 1);
        QVERIFY(form->tim()->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(!form->tim()->isActive(), 30000);

        const QList<int> expected = steps(from, 1);
        QCOMPARE(m_recorder.heights, expected);
        // One tick per step, and the one that finds the window tall enough.
        QCOMPARE(ticks.count(), expected.size() + 1);
        QCOMPARE(form->outerHeightTwips(), expected.isEmpty() ? from : 6510);

        // The playlist shows above the status bar, which follows the bottom edge, and the
        // frame still cannot be dragged.
        const QRect list = form->flist()->geometry();
        QVERIFY(list.bottom() < form->sb()->geometry().top());
        QCOMPARE(form->sb()->geometry(), QRect(0, form->height() - 17, form->width(), 17));
        QCOMPARE(form->minimumSize(), form->size());
        QCOMPARE(form->maximumSize(), form->size());
    }

    void hide_data()
    {
        QTest::addColumn<int>("start");
        QTest::newRow("grown") << 6510;
        QTest::newRow("one step above the limit") << 3210;
        QTest::newRow("just below the limit") << 3195;
        QTest::newRow("creation size") << 0;
    }
    void hide()
    {
        QFETCH(int, start);
        const auto form = makeForm(start);
        QVERIFY(form);
        const int from = form->outerHeightTwips();
        bool eventLoopRan = false;
        QMetaObject::invokeMethod(
            form.get(), [&] { eventLoopRan = true; }, Qt::QueuedConnection);

        form->Command5()->click();

        // All of it before the event loop runs again, and the timer left alone.
        QVERIFY(!eventLoopRan);
        QCOMPARE(m_recorder.heights, steps(from, -1));
        QCOMPARE(form->outerHeightTwips(), from < 3200 ? from : 3195);
        QCOMPARE(form->sb()->geometry(), QRect(0, form->height() - 17, form->width(), 17));
        QVERIFY(!form->tim()->isActive());
        QCOMPARE(form->tim()->interval(), 0);
    }

    void hideWhileShowing()
    {
        const auto form = makeForm(0);
        QVERIFY(form);
        form->Command4()->click();
        QTRY_VERIFY_WITH_TIMEOUT(form->outerHeightTwips() >= 4500, 30000);
        const int from = form->outerHeightTwips();
        m_recorder.heights.clear();

        form->Command5()->click();
        QCOMPARE(m_recorder.heights, steps(from, -1));
        QVERIFY(form->tim()->isActive());

        m_recorder.heights.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!form->tim()->isActive(), 30000);
        QCOMPARE(m_recorder.heights, steps(3195, 1));
        QCOMPARE(form->outerHeightTwips(), 6510);
    }

    // The window system keeps the size of such a window: a step that does not take ends
    // the tick sequence and the loop.
    void refusedHeight_data()
    {
        QTest::addColumn<Qt::WindowState>("state");
        QTest::addColumn<bool>("hide");
        QTest::newRow("Show, minimized") << Qt::WindowMinimized << false;
        QTest::newRow("Hide, minimized") << Qt::WindowMinimized << true;
        QTest::newRow("Hide, maximized") << Qt::WindowMaximized << true;
        QTest::newRow("Hide, full screen") << Qt::WindowFullScreen << true;
    }
    void refusedHeight()
    {
        QFETCH(Qt::WindowState, state);
        QFETCH(bool, hide);
        const auto form = makeForm(4500);
        QVERIFY(form);
        form->setWindowState(state);
        QCoreApplication::processEvents();
        const int from = form->outerHeightTwips();
        QVERIFY(from >= 3200 && (hide || from < 6500));
        m_recorder.heights.clear();
        QSignalSpy ticks(form->tim(), &QTimer::timeout);

        if (hide) {
            form->Command5()->click();
        } else {
            form->Command4()->click();
            QTRY_VERIFY_WITH_TIMEOUT(!form->tim()->isActive(), 30000);
            QCOMPARE(ticks.count(), 1);
        }
        QCOMPARE(m_recorder.heights, QList<int>());
        QCOMPARE(form->outerHeightTwips(), from);

        // Back to normal, the next "Show" grows the window again.
        form->setWindowState(Qt::WindowNoState);
        QCoreApplication::processEvents();
        QVERIFY(form->outerHeightTwips() < 6500);
        form->Command4()->click();
        QTRY_VERIFY_WITH_TIMEOUT(!form->tim()->isActive(), 30000);
        QCOMPARE(form->outerHeightTwips(), 6510);
    }
};

QTEST_MAIN(TestPanel)
#include "tst_panel.moc"
