// The about window: its layout, keys and focus, its load and unload through "*" and "OK",
// its placement, and how it ends with the program.

#include "about/abtw.h"
#include "about/drawn_controls.h"
#include "forms/runtime_error_report.h"
#include "forms/window_frame.h"
#include "main_window/form1.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

using Marlet::About::Abtw;
using Marlet::About::AbtwWindow;
using Marlet::MainWindow::Form1;
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

    static std::unique_ptr<Form1> makeForm1()
    {
        // No engine can be made: nothing here needs one.
        return std::make_unique<Form1>([](Marlet::Audio::EngineClient*, QString* error) {
            *error = u"no engine"_s;
            return nullptr;
        });
    }

    static int aboutWindowsAlive()
    {
        int count = 0;
        for (const QWidget* widget : QApplication::topLevelWidgets())
            count += qobject_cast<const AbtwWindow*>(widget) ? 1 : 0;
        return count;
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
        QVERIFY(!abtw().isLoaded());
        QTRY_COMPARE(aboutWindowsAlive(), 0);
        QCOMPARE(m_reports, QStringList());
        Marlet::Forms::setRuntimeErrorReportHandler({});
    }

    // Geometry in pixels, stacking from the front, tab index (-1: never takes the focus), and
    // for the labels whose text is ours, that text: it fits its box on one line.
    void layout_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<int>("stacking");
        QTest::addColumn<int>("tabIndex");
        QTest::addColumn<QString>("text");
        const auto row = [](const char* name, const char* className, QRect geometry, int stacking,
                            int tabIndex, const QString& text = {}) {
            QTest::newRow(name) << QString::fromLatin1(className) << geometry << stacking
                                << tabIndex << text;
        };
        using Marlet::About::creditText, Marlet::About::noticeText;
        row("picIcon", "QLabel", QRect(16, 24, 48, 48), 0, 1);
        row("cmdOK", "QPushButton", QRect(283, 200, 84, 23), 1, 0);
        row("Label2", "QLabel", QRect(8, 208, 265, 17), 2, -1, noticeText());
        row("Shape3", "Marlet::About::Shape", QRect(7, 15, 353, 65), 3, -1);
        row("Shape2", "Marlet::About::Shape", QRect(8, 16, 353, 65), 4, -1);
        row("Shape1", "Marlet::About::Shape", QRect(72, 144, 249, 33), 5, -1);
        row("Label1", "QLabel", QRect(80, 152, 235, 14), 6, -1, creditText());
        row("Line1_1", "Marlet::About::Line", QRect(6, 187, 371, 1), 7, -1);
        row("lblTitle", "QLabel", QRect(72, 24, 283, 32), 8, -1, u"MARLET"_s);
        row("Line1_0", "Marlet::About::Line", QRect(7, 188, 370, 2), 9, -1);
        row("lblVersion", "QLabel", QRect(272, 64, 83, 15), 10, -1, u"Version 1.0.3"_s);
    }
    void layout()
    {
        QFETCH(QString, className);
        QFETCH(QRect, geometry);
        QFETCH(int, stacking);
        QFETCH(int, tabIndex);
        QFETCH(QString, text);
        AbtwWindow* window = shownWindow();
        QVERIFY(window);
        const QString name = QString::fromLatin1(QTest::currentDataTag());
        const auto* control = window->findChild<QWidget*>(name);
        QVERIFY(control && control->parentWidget() == window && control->isVisible());
        QCOMPARE(QString::fromLatin1(control->metaObject()->className()), className);
        QCOMPARE(control->geometry(), geometry);

        QStringList frontToBack;
        for (const QObject* child : window->children()) {
            if (child->isWidgetType())
                frontToBack.prepend(child->objectName());
        }
        QCOMPARE(frontToBack.size(), 11);
        QCOMPARE(frontToBack.indexOf(name), stacking);

        if (tabIndex < 0)
            QCOMPARE(control->focusPolicy(), Qt::NoFocus);
        else
            QVERIFY(control->focusPolicy() & Qt::TabFocus);
        QVERIFY(tabIndex != 1 || window->cmdOK()->nextInFocusChain() == control);

        if (text.isEmpty())
            return;
        const auto* label = qobject_cast<const QLabel*>(control);
        QCOMPARE(label->text(), text);
        QVERIFY(!text.contains(u'\n'));
        // What is drawn: the line starts at the top-left corner, its baseline one ascent down.
        const QFontMetrics metrics(label->font());
        const QRect ink = metrics.tightBoundingRect(text).translated(0, metrics.ascent());
        QString sizes;
        QDebug(&sizes) << ink << label->contentsRect();
        QVERIFY2(metrics.horizontalAdvance(text) <= label->width() &&
                     label->contentsRect().contains(ink),
                 qPrintable(sizes));
    }

    void windowFrame()
    {
        AbtwWindow* window = shownWindow();
        QVERIFY(window);
        QCOMPARE(window->windowTitle(), u"About Marlet"_s);
        QCOMPARE(window->size(), QSize(382, 232));
        QCOMPARE(window->minimumSize(), window->maximumSize());
        // A tool window, with no owner: no taskbar entry (and see programEnd()).
        QCOMPARE(window->windowType(), Qt::Tool);
        QVERIFY(!window->parentWidget() && !window->windowHandle()->transientParent());
        const Qt::WindowFlags buttons =
            Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
        QCOMPARE(window->windowFlags() & buttons, Qt::WindowFlags(Qt::WindowCloseButtonHint));
        QCOMPARE(window->picIcon()->pixmap().size(), QSize(48, 48));
        // The client area at 2340, 1935 twips from the screen's corner.
        QCOMPARE(window->geometry().topLeft(),
                 window->screen()->geometry().topLeft() + QPoint(156, 129));
        QCOMPARE(QApplication::focusWidget(), window->cmdOK());
    }

    void placement_data()
    {
        QTest::addColumn<QRect>("screen");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("topLeft");
        const QRect second(1920, 0, 1280, 1024), small(0, 0, 480, 300);
        QTest::newRow("fits, second screen") << second << second << QPoint(2076, 129);
        QTest::newRow("too narrow and too low") << small << small << QPoint(98, 68);
        QTest::newRow("panel along the bottom")
            << QRect(0, 0, 1024, 360) << QRect(0, 0, 1024, 340) << QPoint(156, 108);
        QTest::newRow("smaller than the window")
            << QRect(0, 0, 320, 200) << QRect(0, 20, 320, 180) << QPoint(0, 20);
    }
    void placement()
    {
        QFETCH(QRect, screen);
        QFETCH(QRect, available);
        QFETCH(QPoint, topLeft);
        const QSize client(382, 232);
        QCOMPARE(Marlet::Forms::placeClientArea(QPoint(156, 129), client, screen, available),
                 QRect(topLeft, client));
    }

    // What the shapes and lines paint, read back from the rendered window.
    void drawing_data()
    {
        const QColor text = QApplication::palette().color(QPalette::WindowText);
        const QColor white(Qt::white);
        QTest::addColumn<QPoint>("point");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("Shape3 top edge") << QPoint(200, 15) << white;
        QTest::newRow("Shape3 left edge") << QPoint(7, 50) << white;
        QTest::newRow("Shape2 top edge, through Shape3") << QPoint(200, 16) << text;
        QTest::newRow("Shape2 bottom edge") << QPoint(200, 80) << text;
        QTest::newRow("Shape1 top edge") << QPoint(100, 144) << text;
        QTest::newRow("Line1(1)") << QPoint(200, 187) << QColor(128, 128, 128);
        QTest::newRow("Line1(0), first row") << QPoint(200, 188) << white;
        QTest::newRow("Line1(0), second row") << QPoint(200, 189) << white;
    }
    void drawing()
    {
        QFETCH(QPoint, point);
        QFETCH(QColor, colour);
        AbtwWindow* window = shownWindow();
        QVERIFY(window);
        QCOMPARE(window->grab().toImage().pixelColor(point), colour);
    }

    // Enter and Esc press OK whichever control has the focus; OK unloads the window.
    void enterAndEscapePressOk_data()
    {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        for (const char* focus : {"cmdOK", "picIcon"}) {
            QTest::addRow("Return on %s", focus)
                << QString::fromLatin1(focus) << int(Qt::Key_Return);
            QTest::addRow("Enter on %s", focus) << QString::fromLatin1(focus) << int(Qt::Key_Enter);
            QTest::addRow("Esc on %s", focus) << QString::fromLatin1(focus) << int(Qt::Key_Escape);
        }
    }
    void enterAndEscapePressOk()
    {
        QFETCH(QString, focus);
        QFETCH(int, key);
        const QPointer<AbtwWindow> window = shownWindow();
        QVERIFY(window);
        auto* target = window->findChild<QWidget*>(focus);
        target->setFocus();
        QCOMPARE(QApplication::focusWidget(), target);
        QSignalSpy clicked(window->cmdOK(), &QPushButton::clicked);
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(clicked.size(), 1);
        QVERIFY(!abtw().isLoaded());
        QTRY_VERIFY(window.isNull());
    }

    // "*" loads only what is not loaded; every way of closing unloads, and the next "*"
    // loads afresh.
    void starLoadsOnce_data()
    {
        QTest::addColumn<bool>("byOk");
        QTest::newRow("OK") << true;
        QTest::newRow("close button") << false;
    }
    void starLoadsOnce()
    {
        QFETCH(bool, byOk);
        const auto form = makeForm1();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        const int loads = abtw().loadCount();

        QTest::mouseClick(form->abt(), Qt::LeftButton);
        AbtwWindow* const loaded = abtw().window();
        QVERIFY(loaded && loaded->isVisible());
        const QPointer<AbtwWindow> first = loaded;
        QCOMPARE(abtw().loadCount(), loads + 1);
        // Modeless: the main window stays usable.
        QVERIFY(!QApplication::activeModalWidget());
        QVERIFY(form->isEnabled() && form->abt()->isEnabled());

        form->activateWindow();
        QTest::mouseClick(form->abt(), Qt::LeftButton);
        QCOMPARE(abtw().window(), loaded);
        QCOMPARE(abtw().loadCount(), loads + 1);
        QCOMPARE(aboutWindowsAlive(), 1);
        QVERIFY(QTest::qWaitForWindowActive(loaded));

        if (byOk)
            QTest::mouseClick(loaded->cmdOK(), Qt::LeftButton);
        else
            QVERIFY(loaded->close());
        QVERIFY(!abtw().isLoaded());
        QTRY_VERIFY(first.isNull());
        QVERIFY(form->isVisible());

        QTest::mouseClick(form->abt(), Qt::LeftButton);
        QCOMPARE(abtw().loadCount(), loads + 2);
        const AbtwWindow* fresh = abtw().window();
        QVERIFY(fresh && fresh->isVisible());
        QCOMPARE(fresh->lblVersion()->text(), u"Version 1.0.3"_s);
    }

    // However the program ends, an open about window goes with it and does not hold it up,
    // also when it is the last window left.
    void programEnd_data()
    {
        QTest::addColumn<QString>("endBy");
        QTest::newRow("main window closed") << u"close"_s;
        QTest::newRow("Exit") << u"Exit"_s;
        QTest::newRow("last other window closed") << u"other"_s;
    }
    void programEnd()
    {
        QFETCH(QString, endBy);
        const auto form = makeForm1();
        QWidget other;
        QWidget* const main = endBy == u"other"_s ? &other : form.get();
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main));
        const QPointer<AbtwWindow> window = shownWindow();
        QVERIFY(window);

        QTimer::singleShot(0, main, [&] {
            if (endBy == u"Exit"_s)
                QTest::mouseClick(form->Command3(), Qt::LeftButton);
            else
                main->close();
        });
        QTimer watchdog;
        connect(&watchdog, &QTimer::timeout, this, [] { QCoreApplication::exit(1); });
        watchdog.start(10000);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!abtw().isLoaded());
        QVERIFY(window.isNull());
    }
};

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
