// The main window: its controls, stacking, focus and sizing, and what its load and unload
// handlers tell the transport control.

#include "forms/common_dialog.h"
#include "forms/runtime_error.h"
#include "forms/runtime_error_report.h"
#include "main_window/form1.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <memory>

using Marlet::MainWindow::Form1;
using namespace Qt::StringLiterals;

// The layout is written in twips, all whole pixels.
static QRect px(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

class TestMainWindow : public QObject
{
    Q_OBJECT

    std::unique_ptr<Form1> m_form;
    QStringList m_log; // "member=value" for each assignment to mmc, "where: message" reports
    QString m_failAt;  // the assignment that throws

private Q_SLOTS:
    void init()
    {
        m_log.clear();
        m_failAt.clear();
        Marlet::Forms::setRuntimeErrorReportHandler(
            [this](const QString& where, const QString& message) {
                m_log.append(where + u": "_s + message);
            });
        // No engine can be made: nothing here may need one.
        m_form = std::make_unique<Form1>([](Marlet::Audio::EngineClient*, QString* error) {
            *error = u"no engine"_s;
            return nullptr;
        });
        m_form->setTransportTrace([this](const QString& member, const QVariant& value) {
            m_log.append(member + QLatin1Char('=') + value.toString());
            if (m_log.last() == m_failAt)
                throw Marlet::Forms::RuntimeError(u"device is not ready"_s);
        });
    }

    void controlLayout_data()
    {
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");
        const auto row = [](const char* objectName, const char* className, const char* text,
                            QRect geometry) {
            QTest::newRow(objectName)
                << QString::fromUtf8(className) << QString::fromUtf8(text) << geometry;
        };
        row("sb", "QStatusBar", "", px(0, 2460, 5070, 255));
        row("abt", "QPushButton", "*", px(4800, 0, 255, 255));
        row("Command5", "QPushButton", "Hide", px(1440, 2160, 615, 255));
        row("Command4", "QPushButton", "Show", px(840, 2160, 615, 255));
        row("Command3", "QPushButton", "Exit", px(3000, 1680, 1215, 375));
        row("flist", "QListWidget", "", px(120, 2640, 4815, 3180));
        row("Command2", "QPushButton", "Select Folder", px(1680, 1680, 1215, 375));
        row("Command1", "QPushButton", "Open File", px(360, 1680, 1215, 375));
        row("mmc", "Marlet::Transport::TransportControl", "", px(360, 840, 4095, 495));
        row("Label3", "QLabel", "List:", px(240, 2160, 375, 255));
        row("Label1", "QLabel", "MARLET", px(480, 120, 3735, 495));
        row("Label2", "QLabel", "MARLET", px(465, 105, 3735, 495));
    }
    void controlLayout()
    {
        QFETCH(QString, className);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        const auto* control =
            m_form->findChild<QWidget*>(QString::fromUtf8(QTest::currentDataTag()));
        QVERIFY(control && control->parentWidget() == m_form.get() && control->isVisible());
        QVERIFY(control->inherits(qPrintable(className)));
        QCOMPARE(control->geometry(), geometry);
        QCOMPARE(control->property("text").toString(), text);
        if (const auto* button = qobject_cast<const QPushButton*>(control))
            QVERIFY(!button->autoDefault() && !button->isDefault());
    }

    void windowFrame()
    {
        QCOMPARE(m_form->windowTitle(), u"Quendel's Marlet"_s);
        QCOMPARE(m_form->windowType(), Qt::Window);
        const Qt::WindowFlags buttons =
            Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
        QCOMPARE(m_form->windowFlags() & buttons, Qt::WindowFlags(Qt::WindowCloseButtonHint));
        QVERIFY(!m_form->sb()->isSizeGripEnabled());
        QCOMPARE(m_form->cd()->filter(), u"All Supported|*.mp3;*.wav;*.amr"_s);
    }

    void stackingOrder_data()
    {
        QTest::addColumn<QString>("front");
        QTest::addColumn<QPoint>("point");
        QTest::newRow("Hide over Show in their shared column") << u"Command5"_s << QPoint(96, 150);
        QTest::newRow("sb over flist") << u"sb"_s << QPoint(200, 178);
        QTest::newRow("Label1 over Label2") << u"Label1"_s << QPoint(100, 20);
    }
    void stackingOrder()
    {
        QFETCH(QString, front);
        QFETCH(QPoint, point);
        const QWidget* expected = m_form->findChild<QWidget*>(front);
        const QWidget* hit = m_form->childAt(point);
        QVERIFY(expected && hit);
        QVERIFY2(hit == expected || expected->isAncestorOf(hit), qPrintable(hit->objectName()));
    }

    void focus()
    {
        QStringList order; // of the window's own controls that take Tab
        const QWidget* widget = m_form->mmc();
        do {
            if (widget->parentWidget() == m_form.get() && (widget->focusPolicy() & Qt::TabFocus))
                order.append(widget->objectName());
            widget = widget->nextInFocusChain();
        } while (widget != m_form->mmc());
        QCOMPARE(order, (QStringList{u"mmc"_s, u"Command1"_s, u"Command2"_s, u"flist"_s,
                                     u"Command3"_s, u"Command4"_s, u"Command5"_s, u"abt"_s}));
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        const QWidget* focused = QApplication::focusWidget();
        QVERIFY(focused == m_form->mmc() || m_form->mmc()->isAncestorOf(focused));
    }

    void titleFonts()
    {
        const QFont font = m_form->Label1()->font();
        QVERIFY(font.bold() && font.italic());
        QVERIFY(qAbs(font.pointSizeF() - 21.75) < 0.01);
        const bool haveVerdana = QFontDatabase::families().contains(u"Verdana"_s);
        QCOMPARE(font.family(), haveVerdana ? u"Verdana"_s : u"DejaVu Sans"_s);
        QCOMPARE(m_form->Label2()->font(), font);
        QVERIFY(!m_form->Label1()->autoFillBackground() && !m_form->Label2()->autoFillBackground());
        QCOMPARE(m_form->Label1()->palette().color(QPalette::WindowText),
                 m_form->palette().color(QPalette::WindowText));
        QCOMPARE(m_form->Label2()->palette().color(QPalette::WindowText), QColor(Qt::white));
    }

    void statusBarFollowsBottomEdge_data()
    {
        QTest::addColumn<int>("heightTwips");
        QTest::newRow("as created") << 2715;
        QTest::newRow("grown") << 6225;
        QTest::newRow("shrunk") << 1500;
    }
    void statusBarFollowsBottomEdge()
    {
        QFETCH(int, heightTwips);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        m_form->setClientHeightTwips(heightTwips);
        QCoreApplication::processEvents();
        const int height = heightTwips / 15;
        QCOMPARE(m_form->size(), QSize(338, height));
        QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
        QCOMPARE(m_form->sb()->geometry(), QRect(0, height - 17, 338, 17));
        QCOMPARE(m_form->flist()->geometry(), px(120, 2640, 4815, 3180));
        // As created, what lies of the list inside the window is under the opaque status bar.
        QVERIFY(heightTwips != 2715 ||
                m_form->sb()->geometry().contains(m_form->rect() & m_form->flist()->geometry()));
        QVERIFY(m_form->sb()->autoFillBackground());
    }

    void enterAndEscapeOnTheListPressNothing()
    {
        m_form->flist()->addItems({u"a.mp3"_s, u"b.wav"_s});
        m_form->flist()->setCurrentRow(0);
        m_form->show();
        QVERIFY(QTest::qWaitForWindowActive(m_form.get()));
        m_form->flist()->setFocus();
        QStringList pressed;
        for (QAbstractButton* button : m_form->findChildren<QAbstractButton*>())
            connect(button, &QAbstractButton::clicked, this,
                    [&] { pressed << button->objectName(); });
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(m_form->flist(), key);
        QCOMPARE(pressed, QStringList());
        QVERIFY(m_form->isVisible());
        QVERIFY(m_log.isEmpty());
    }

    void formLoad_data()
    {
        QTest::addColumn<QString>("failAt");
        QTest::newRow("nothing fails") << QString();
        QTest::newRow("UpdateInterval fails") << u"UpdateInterval=0"_s;
        QTest::newRow("OPEN fails") << u"Command=OPEN"_s;
    }
    void formLoad()
    {
        QFETCH(QString, failAt);
        m_failAt = failAt;
        m_form->Form_Load();
        const qint16 shareable = m_form->mmc()->shareable();
        QVERIFY(shareable == 0 || shareable == 1);
        QCOMPARE(m_log,
                 QStringList({u"UpdateInterval=0"_s, u"Shareable="_s + QString::number(shareable),
                              u"Command=OPEN"_s}));
    }

    // Closing the window runs Form_Unload, which stops at a failing statement and reports it,
    // then ends the program. Exit ends the event loop at once and leaves nothing to unload.
    void closing_data()
    {
        QTest::addColumn<bool>("exitFirst");
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<int>("reached");
        QTest::newRow("nothing fails") << false << QString() << 5;
        QTest::newRow("FileName fails") << false << u"FileName="_s << 1;
        QTest::newRow("CLOSE fails") << false << u"Command=CLOSE"_s << 3;
        QTest::newRow("after Exit") << true << QString() << 0;
    }
    void closing()
    {
        QFETCH(bool, exitFirst);
        QFETCH(QString, failAt);
        QFETCH(int, reached);
        m_failAt = failAt;
        QWidget other;
        other.show();
        m_form->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
        if (exitFirst) {
            QTimer::singleShot(0, m_form.get(),
                               [this] { QTest::mouseClick(m_form->Command3(), Qt::LeftButton); });
            QCOMPARE(QApplication::exec(), 0);
            QVERIFY(m_form->isVisible());
        }
        QVERIFY(m_form->close());
        const QStringList unload = {u"FileName="_s, u"Command=STOP"_s, u"Command=CLOSE"_s,
                                    u"Command=EXIT"_s, u"Command=END"_s};
        const QStringList report(failAt.isEmpty() ? 0 : 1, u"Form_Unload: device is not ready"_s);
        QCOMPARE(m_log, unload.mid(0, reached) + report);
        QCOMPARE(other.isVisible(), exitFirst);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
