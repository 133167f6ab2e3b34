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
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <memory>

using Marlet::MainWindow::Form1;

namespace {

// A device that does nothing, so that no test needs the audio stack.
class NullEngine final : public Marlet::Audio::Engine
{
public:
    void open(const QString&) override {}
    void play() override {}
    void pause() override {}
    void resume() override {}
    void stop() override {}
    void seek(qint64) override {}
    void close() override {}
    void record(const QString&) override {}
    Marlet::Audio::EngineState state() const override
    {
        return Marlet::Audio::EngineState::NotOpen;
    }
    QString fileName() const override { return {}; }
    qint64 durationMs() const override { return -1; }
    qint64 positionMs() const override { return 0; }
};

// The layout is written in twips, all whole pixels.
QRect px(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

QString s(const char* text)
{
    return QString::fromUtf8(text);
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

    QStringList m_reports; // "where: message"
    QStringList m_trace;   // "member=value", each assignment to mmc
    QString m_failAt;      // the traced assignment that throws
    Marlet::Forms::RuntimeErrorReportHandler m_previousHandler;

    std::unique_ptr<Form1> makeForm()
    {
        auto form = std::make_unique<Form1>(
            [](Marlet::Audio::EngineClient*, QString*) { return std::make_unique<NullEngine>(); });
        form->setTransportTrace([this](const QString& member, const QVariant& value) {
            m_trace.append(member + QLatin1Char('=') + value.toString());
            if (m_trace.last() == m_failAt)
                throw Marlet::Forms::RuntimeError(s("device is not ready"));
        });
        return form;
    }

private Q_SLOTS:
    void init()
    {
        m_reports.clear();
        m_trace.clear();
        m_failAt.clear();
        m_previousHandler = Marlet::Forms::setRuntimeErrorReportHandler(
            [this](const QString& where, const QString& message) {
                m_reports.append(where + s(": ") + message);
            });
    }
    void cleanup() { Marlet::Forms::setRuntimeErrorReportHandler(m_previousHandler); }

    void controlLayout_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("className");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QRect>("geometry");
        const auto row = [](const char* name, const char* className, const char* text,
                            QRect geometry) {
            QTest::newRow(name) << s(name) << s(className) << s(text) << geometry;
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
        QFETCH(QString, name);
        QFETCH(QString, className);
        QFETCH(QString, text);
        QFETCH(QRect, geometry);
        const auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        const auto* control = form->findChild<QWidget*>(name);
        QVERIFY(control);
        QCOMPARE(control->parentWidget(), form.get());
        QVERIFY(control->inherits(qPrintable(className)));
        QVERIFY(control->isVisible());
        QCOMPARE(control->geometry(), geometry);
        if (!text.isEmpty())
            QCOMPARE(control->property("text").toString(), text);
        if (const auto* button = qobject_cast<const QPushButton*>(control))
            QVERIFY(!button->autoDefault() && !button->isDefault());
    }

    void windowFrame()
    {
        const auto form = makeForm();
        QCOMPARE(form->windowTitle(), s("Quendel's Marlet"));
        QCOMPARE(form->size(), QSize(338, 181));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QCOMPARE(form->windowType(), Qt::Window);
        const Qt::WindowFlags flags = form->windowFlags();
        QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
        QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
        QVERIFY(form->autoFillBackground());
        QCOMPARE(form->palette().color(QPalette::Window),
                 QApplication::palette().color(QPalette::Button));
        QVERIFY(!form->sb()->isSizeGripEnabled());

        const auto* tim = form->findChild<QTimer*>(s("tim"));
        QVERIFY(tim && tim->interval() == 0 && !tim->isActive());
        const auto* cd = form->findChild<Marlet::Forms::CommonDialog*>(s("cd"));
        QVERIFY(cd);
        QCOMPARE(cd->filter(), s("All Supported|*.mp3;*.wav;*.amr"));
    }

    void stackingOrder_data()
    {
        QTest::addColumn<QString>("front");
        QTest::addColumn<QPoint>("point");
        QTest::newRow("Hide over Show in their shared column") << s("Command5") << QPoint(96, 150);
        QTest::newRow("Show left of it") << s("Command4") << QPoint(95, 150);
        QTest::newRow("sb over flist") << s("sb") << QPoint(200, 178);
        QTest::newRow("Label1 over Label2") << s("Label1") << QPoint(100, 20);
        QTest::newRow("Label2's edge") << s("Label2") << QPoint(31, 7);
    }
    void stackingOrder()
    {
        QFETCH(QString, front);
        QFETCH(QPoint, point);
        const auto form = makeForm();
        const QWidget* expected = form->findChild<QWidget*>(front);
        const QWidget* hit = form->childAt(point);
        QVERIFY(expected && hit);
        QVERIFY2(hit == expected || expected->isAncestorOf(hit), qPrintable(hit->objectName()));
    }

    void focus()
    {
        const auto form = makeForm();
        const QStringList stops = {s("mmc"),      s("Command1"), s("Command2"), s("flist"),
                                   s("Command3"), s("Command4"), s("Command5"), s("abt")};
        QStringList order;
        const QWidget* widget = form->mmc();
        do {
            if (stops.contains(widget->objectName()) && !order.contains(widget->objectName()))
                order.append(widget->objectName());
            widget = widget->nextInFocusChain();
        } while (widget != form->mmc());
        QCOMPARE(order, stops);
        for (const char* name : {"Label1", "Label2", "Label3", "sb"})
            QCOMPARE(form->findChild<QWidget*>(s(name))->focusPolicy(), Qt::NoFocus);

        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        const QWidget* focused = QApplication::focusWidget();
        QVERIFY(focused == form->mmc() || form->mmc()->isAncestorOf(focused));
    }

    void titleFont_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("white");
        QTest::newRow("Label1") << s("Label1") << false;
        QTest::newRow("Label2") << s("Label2") << true;
    }
    void titleFont()
    {
        QFETCH(QString, name);
        QFETCH(bool, white);
        const auto form = makeForm();
        const auto* label = form->findChild<QLabel*>(name);
        const QFont font = label->font();
        QVERIFY(font.bold() && font.italic());
        QVERIFY(qAbs(font.pointSizeF() - 21.75) < 0.01);
        const bool haveVerdana = QFontDatabase::families().contains(s("Verdana"));
        QCOMPARE(font.family(), haveVerdana ? s("Verdana") : s("DejaVu Sans"));
        QVERIFY(!label->autoFillBackground());
        QCOMPARE(label->palette().color(QPalette::WindowText),
                 white ? QColor(Qt::white) : form->palette().color(QPalette::WindowText));
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
        const auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->setClientHeightTwips(heightTwips);
        QCoreApplication::processEvents();

        const int height = heightTwips / 15;
        QCOMPARE(form->size(), QSize(338, height));
        QCOMPARE(form->minimumSize(), form->maximumSize());
        QCOMPARE(form->sb()->geometry(), QRect(0, height - 17, 338, 17));
        QCOMPARE(form->flist()->geometry(), px(120, 2640, 4815, 3180));
        // What lies of the list inside the window is under the (opaque) status bar.
        if (heightTwips == 2715) {
            QVERIFY(form->sb()->geometry().contains(form->rect() & form->flist()->geometry()));
            QVERIFY(form->sb()->autoFillBackground());
        }
    }

    void enterAndEscapeOnTheListPressNothing()
    {
        const auto form = makeForm();
        form->flist()->addItems({s("a.mp3"), s("b.wav")});
        form->flist()->setCurrentRow(0);
        form->show();
        QVERIFY(QTest::qWaitForWindowActive(form.get()));
        form->flist()->setFocus();

        const QList<QAbstractButton*> buttons = form->findChildren<QAbstractButton*>();
        QVERIFY(buttons.size() >= 6);
        std::vector<std::unique_ptr<QSignalSpy>> spies;
        for (QAbstractButton* button : buttons)
            spies.push_back(std::make_unique<QSignalSpy>(button, &QAbstractButton::clicked));
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
            QTest::keyClick(form->flist(), key);
        for (qsizetype i = 0; i < buttons.size(); ++i)
            QVERIFY2(spies.at(i)->isEmpty(), qPrintable(buttons.at(i)->objectName()));
        QVERIFY(form->isVisible());
        QVERIFY(m_trace.isEmpty());
    }

    void formLoad_data()
    {
        QTest::addColumn<QString>("failAt");
        QTest::newRow("nothing fails") << QString();
        QTest::newRow("UpdateInterval fails") << s("UpdateInterval=0");
        QTest::newRow("OPEN fails") << s("Command=OPEN");
    }
    void formLoad()
    {
        QFETCH(QString, failAt);
        m_failAt = failAt;
        const auto form = makeForm();
        form->Form_Load();

        const qint16 shareable = form->mmc()->shareable();
        QVERIFY(shareable == 0 || shareable == 1);
        QCOMPARE(m_trace,
                 QStringList({s("UpdateInterval=0"), s("Shareable=") + QString::number(shareable),
                              s("Command=OPEN")}));
        QVERIFY(m_reports.isEmpty());
    }

    void closingUnloads_data()
    {
        QTest::addColumn<QString>("failAt");
        QTest::addColumn<int>("reached");
        QTest::newRow("nothing fails") << QString() << 5;
        QTest::newRow("FileName fails") << s("FileName=") << 1;
        QTest::newRow("CLOSE fails") << s("Command=CLOSE") << 3;
        QTest::newRow("END fails") << s("Command=END") << 5;
    }
    void closingUnloads()
    {
        QFETCH(QString, failAt);
        QFETCH(int, reached);
        m_failAt = failAt;
        const auto form = makeForm();
        QWidget other;
        other.show();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));

        QVERIFY(form->close());
        const QStringList unload = {s("FileName="), s("Command=STOP"), s("Command=CLOSE"),
                                    s("Command=EXIT"), s("Command=END")};
        QCOMPARE(m_trace, unload.mid(0, reached));
        QCOMPARE(m_reports, failAt.isEmpty() ? QStringList()
                                             : QStringList{s("Form_Unload: device is not ready")});
        QVERIFY(!form->isVisible());
        QVERIFY(!other.isVisible());
    }

    void exitEndsTheEventLoopWithoutUnloading()
    {
        const auto form = makeForm();
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        QTimer::singleShot(0, form.get(),
                           [&form] { QTest::mouseClick(form->Command3(), Qt::LeftButton); });
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(form->isVisible());
        form->close();
        QVERIFY(m_trace.isEmpty());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_main_window.moc"
