// The about window: what it shows, its keys and focus, its load and unload through "*"
// and "OK", and how it ends with the program.

#include "about/abtw.h"
#include "forms/runtime_error_report.h"
#include "main_window/form1.h"
#include "support/silent_engine.h"

#include <QtTest>
#include <QtWidgets>

#include <utility>

using Marlet::About::Abtw;
using Marlet::About::AbtwWindow;
using namespace Qt::StringLiterals;

class TestAbout final : public QObject
{
    Q_OBJECT

    QStringList m_reports; // "where: message" of each run-time error report

    static Abtw& abtw() { return Abtw::instance(); }

private Q_SLOTS:
    void initTestCase()
    {
        Marlet::Forms::setRuntimeErrorReportHandler(
            [this](const QString& where, const QString& message) {
                m_reports.append(where + u": "_s + message);
            });
    }
    void cleanup()
    {
        abtw().Unload();
        QTRY_COMPARE(QApplication::topLevelWidgets(), QWidgetList()); // destroyed, not hidden
        QCOMPARE(std::exchange(m_reports, {}), QStringList());
    }

    // A fixed tool window with no owner, OK focused (the frame it asks for and its place on
    // screen are the desktop test's). Every control lies inside it; only OK and then the
    // icon take the focus; each text fits its box on one line.
    // The close button unloads it.
    void window()
    {
        abtw().Show();
        AbtwWindow* window = abtw().window();
        QVERIFY(window && QTest::qWaitForWindowActive(window));
        QVERIFY(window->minimumSize() == window->maximumSize() && window->windowType() == Qt::Tool);
        QVERIFY(!window->parentWidget() && !window->windowHandle()->transientParent());
        QCOMPARE(QApplication::focusWidget(), window->cmdOK());
        QCOMPARE(window->cmdOK()->nextInFocusChain(), window->picIcon());
        for (QWidget* control : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            QVERIFY(control->isVisible() && window->rect().contains(control->geometry()));
            QCOMPARE(control->focusPolicy() != Qt::NoFocus,
                     control == window->cmdOK() || control == window->picIcon());
        }
        QStringList texts;
        for (QLabel* label :
             {window->lblTitle(), window->lblVersion(), window->Label1(), window->Label2()}) {
            // The line starts at the top-left corner, its baseline one ascent down.
            const QFontMetrics metrics(label->font());
            const QString& text = texts.emplace_back(label->text());
            const QRect ink = metrics.tightBoundingRect(text).translated(0, metrics.ascent());
            QVERIFY2(metrics.horizontalAdvance(text) <= label->width() &&
                         label->contentsRect().contains(ink),
                     qPrintable(text));
        }
        QCOMPARE(texts.join(u'|'), u"MARLET|Version 1.0.3|Designed by the Marlet team|"
                                   u"© Quendel Corp. All rights reserved."_s);
        QVERIFY(window->close() && !abtw().isLoaded()); // the close button unloads
    }

    // "*" loads only what is not loaded, brings it forward and leaves the main window
    // usable. Enter and Esc press OK whichever control has the focus; OK unloads, and "*"
    // then loads afresh.
    void starLoadsOnceUntilUnloaded()
    {
        Marlet::MainWindow::Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            const int loads = abtw().loadCount();
            QTest::mouseClick(form.abt(), Qt::LeftButton);
            AbtwWindow* const loaded = abtw().window();
            QVERIFY(loaded && loaded->isVisible());
            QVERIFY(!QApplication::activeModalWidget() && form.isEnabled());
            form.activateWindow();
            QTest::mouseClick(form.abt(), Qt::LeftButton);
            QVERIFY(abtw().window() == loaded && abtw().loadCount() == loads + 1);
            QVERIFY(QTest::qWaitForWindowActive(loaded));
            loaded->picIcon()->setFocus(); // not on OK
            QSignalSpy clicked(loaded->cmdOK(), &QPushButton::clicked);
            QTest::keyClick(loaded->picIcon(), key);
            QVERIFY(clicked.size() == 1 && !abtw().isLoaded());
        }
    }

    // Left as the last window, an open about window does not hold the program up, and goes
    // with it. (Closing the main window closes every window: the main window's test.)
    void programEnd()
    {
        QWidget other;
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        abtw().Show();
        const QPointer<AbtwWindow> window = abtw().window();
        QVERIFY(window && QTest::qWaitForWindowActive(window));
        QTimer::singleShot(0, &other, &QWidget::close);
        QTimer::singleShot(30000, &other, [] { QCoreApplication::exit(1); }); // it must end
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!abtw().isLoaded() && window.isNull());
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
