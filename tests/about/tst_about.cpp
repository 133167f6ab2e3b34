// The about window: what it shows, its keys and focus, its load and unload through "*"
// and "OK", and how it ends with the program.

#include "about/abtw.h"
#include "forms/runtime_error_report.h"
#include "main_window/form1.h"
#include "support/silent_engine.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using Marlet::About::Abtw;
using Marlet::About::AbtwWindow;
using namespace Qt::StringLiterals;

class TestAbout final : public QObject
{
    Q_OBJECT

    QStringList m_reports; // "where: message" of each run-time error report

    static Abtw& abtw() { return Abtw::instance(); }

    // The loaded window, shown and active.
    static AbtwWindow* shownWindow()
    {
        abtw().Show();
        AbtwWindow* window = abtw().window();
        return window && QTest::qWaitForWindowActive(window) ? window : nullptr;
    }

private Q_SLOTS:
    void init()
    {
        m_reports.clear();
        Marlet::Forms::setRuntimeErrorReportHandler(
            [this](const QString& where, const QString& message) {
                m_reports.append(where + u": "_s + message);
            });
    }
    void cleanup()
    {
        abtw().Unload();
        QTRY_COMPARE(QApplication::topLevelWidgets(), QWidgetList()); // destroyed, not hidden
        QCOMPARE(m_reports, QStringList());
    }

    // A fixed tool window with no owner and only a close button, 156, 129 px from the
    // screen's corner, OK focused. Every control lies inside it; only OK and then the icon
    // take the focus; each text fits its box on one line; the frames and lines show.
    void window()
    {
        AbtwWindow* window = shownWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), u"About Marlet"_s);
        QVERIFY(window->minimumSize() == window->maximumSize() && window->windowType() == Qt::Tool);
        QVERIFY(!window->parentWidget() && !window->windowHandle()->transientParent());
        const Qt::WindowFlags buttons =
            Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
        QCOMPARE(window->windowFlags() & buttons, Qt::WindowFlags(Qt::WindowCloseButtonHint));
        QCOMPARE(window->geometry().topLeft(),
                 window->screen()->geometry().topLeft() + QPoint(156, 129));
        QCOMPARE(QApplication::focusWidget(), window->cmdOK());
        QCOMPARE(window->cmdOK()->nextInFocusChain(), window->picIcon());
        QCOMPARE(window->picIcon()->pixmap().size(), QSize(48, 48));

        QStringList frontToBack;
        for (QWidget* control : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            frontToBack.prepend(control->objectName());
            QVERIFY(control->isVisible() && window->rect().contains(control->geometry()));
            QCOMPARE(control->focusPolicy() != Qt::NoFocus,
                     control == window->cmdOK() || control == window->picIcon());
        }
        QCOMPARE(frontToBack.join(u' '), u"picIcon cmdOK Label2 Shape3 Shape2 Shape1 Label1 "
                                         u"Line1_1 lblTitle Line1_0 lblVersion"_s);

        const QList<std::pair<QLabel*, QString>> texts{
            {window->lblTitle(), u"MARLET"_s},
            {window->lblVersion(), u"Version 1.0.3"_s},
            {window->Label1(), u"Designed by the Marlet team"_s},
            {window->Label2(), u"© Quendel Corp. All rights reserved."_s}};
        for (const auto& [label, text] : texts) {
            QCOMPARE(label->text(), text);
            // The line starts at the top-left corner, its baseline one ascent down.
            const QFontMetrics metrics(label->font());
            const QRect ink = metrics.tightBoundingRect(text).translated(0, metrics.ascent());
            QVERIFY2(metrics.horizontalAdvance(text) <= label->width() &&
                         label->contentsRect().contains(ink),
                     qPrintable(text));
        }

        // The frames and lines paint white edges one pixel off dark ones: a sunken look.
        const QImage image = window->grab().toImage();
        const QColor dark = QApplication::palette().color(QPalette::WindowText);
        const QColor white(Qt::white);
        const QList<std::pair<QPoint, QColor>> pixels{
            {{200, 15}, white},  {{7, 50}, white},   {{200, 16}, dark},
            {{200, 80}, dark},   {{100, 144}, dark}, {{200, 187}, QColor(128, 128, 128)},
            {{200, 188}, white}, {{200, 189}, white}};
        for (const auto& [point, colour] : pixels)
            QCOMPARE(image.pixelColor(point), colour);
    }

    // Enter and Esc press OK whichever control has the focus; OK unloads the window.
    void enterAndEscapePressOk()
    {
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            for (const char* focus : {"cmdOK", "picIcon"}) {
                AbtwWindow* window = shownWindow();
                QVERIFY(window);
                const QPointer<AbtwWindow> alive = window;
                auto* target = window->findChild<QWidget*>(QLatin1String(focus));
                target->setFocus();
                QSignalSpy clicked(window->cmdOK(), &QPushButton::clicked);
                QTest::keyClick(target, key);
                QCOMPARE(clicked.size(), 1);
                QTRY_VERIFY(alive.isNull());
            }
        }
    }

    // "*" loads only what is not loaded and leaves the main window usable; OK and the
    // close button unload, and "*" then loads afresh.
    void starLoadsOnce()
    {
        Marlet::MainWindow::Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        for (const bool byOk : {true, false}) {
            const int loads = abtw().loadCount();
            QTest::mouseClick(form.abt(), Qt::LeftButton);
            AbtwWindow* const loaded = abtw().window();
            QVERIFY(loaded && loaded->isVisible());
            const QPointer<AbtwWindow> alive = loaded;
            QVERIFY(!QApplication::activeModalWidget() && form.isEnabled());
            form.activateWindow();
            QTest::mouseClick(form.abt(), Qt::LeftButton);
            QCOMPARE(abtw().window(), loaded);
            QCOMPARE(abtw().loadCount(), loads + 1);
            QVERIFY(QTest::qWaitForWindowActive(loaded));
            if (byOk)
                QTest::mouseClick(loaded->cmdOK(), Qt::LeftButton);
            else
                QVERIFY(loaded->close());
            QVERIFY(!abtw().isLoaded());
            QTRY_VERIFY(alive.isNull());
        }
    }

    // However the program ends, an open about window goes with it and does not hold it up,
    // also when it is the last window left.
    void programEnd_data()
    {
        QTest::addColumn<bool>("aboutIsLast");
        QTest::newRow("main window closed") << false;
        QTest::newRow("last other window closed") << true;
    }
    void programEnd()
    {
        QFETCH(bool, aboutIsLast);
        Marlet::MainWindow::Form1 form(
            [](auto*, QString*) { return std::make_unique<Marlet::Testing::SilentEngine>(); });
        QWidget other;
        QWidget* const main = aboutIsLast ? &other : &form;
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        const QPointer<AbtwWindow> window = shownWindow();
        QVERIFY(window);
        QTimer::singleShot(0, main, [main] { main->close(); });
        QTimer watchdog; // the loop must end by itself
        connect(&watchdog, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
        watchdog.start(30000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!abtw().isLoaded() && window.isNull());
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
