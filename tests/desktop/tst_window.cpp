// The real player under a window manager, driven from outside: frames, focus, keys, and
// the window's growing and shrinking, also on a busy machine.

#include "desktop/desktop_rig.h"

#include <thread>
#include <vector>

using namespace Desktop;

namespace {

// The window's outer height in pixels once it reaches [atLeast, atMost] and holds still for
// half a second; -1 if it does not. The frame the manager added counts.
int settledHeight(qulonglong window, int atLeast, int atMost)
{
    const auto outer = [window] {
        const QStringList frame =
            prop(window, u"_NET_FRAME_EXTENTS"_s).section(u'=', 1).split(u',');
        return frame.size() != 4
                   ? -1
                   : clientSize(window).height() + frame[2].toInt() + frame[3].toInt();
    };
    int height = -1;
    waitUntil([&] { return (height = outer()) >= atLeast && height <= atMost; }, 20000);
    QThread::msleep(500);
    return outer() == height ? height : -1;
}

void clickAt(qulonglong window, QPoint client)
{
    xdotool({u"mousemove"_s, u"--window"_s, QString::number(window), QString::number(client.x()),
             QString::number(client.y()), u"click"_s, u"1"_s});
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // "Show" stops at the first outer height of at least 6,500 twips (434 px), "Hide" at the
    // first below 3,200 (213 px), however late the manager applies each step.
    void showAndHideReachTheirLimits()
    {
        Player player;
        const qulonglong window = Desktop::window(mainTitle);
        std::vector<std::jthread> hog; // busy on every core until it goes
        while (int(hog.size()) < QThread::idealThreadCount())
            hog.emplace_back([](std::stop_token stop) {
                while (!stop.stop_requested()) {
                }
            });
        for (int run = 0; run < 5; ++run) {
            clickAt(window, {76, 152}); // Show
            QCOMPARE(settledHeight(window, 434, 500), 434);
            clickAt(window, {116, 152}); // Hide
            QCOMPARE(settledHeight(window, 0, 213), 213);
        }
    }

    // Every window asks for a fixed frame: moving and closing, no resizing, minimizing or
    // maximizing; only the main window asks for a taskbar entry.
    void framesAskForAFixedSize_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QPoint>("opener");
        QTest::newRow("main") << mainTitle << QPoint();
        QTest::newRow("about") << u"About Marlet"_s << QPoint(328, 8);
        QTest::newRow("folder picker") << u"Select Folder..."_s << QPoint(152, 124);
    }
    void framesAskForAFixedSize()
    {
        QFETCH(QString, title);
        QFETCH(QPoint, opener);
        Player player;
        const qulonglong main = window(mainTitle);
        if (!opener.isNull())
            clickAt(main, opener);
        const qulonglong shown = window(title);
        QVERIFY(shown);
        // Moving and closing, with a border, a title and a menu: no minimize button (a
        // manager such as openbox still offers minimizing from its own menu).
        QCOMPARE(prop(shown, u"_MOTIF_WM_HINTS"_s).section(u'=', 1).trimmed(),
                 u"0x3, 0x24, 0x1a, 0x0, 0x0"_s);
        // The same size asked for as the least and the most.
        const QRegularExpression fixed(u"minimum size: (\\d+ by \\d+)\\n.*maximum size: \\1\\b"_s,
                                       QRegularExpression::DotMatchesEverythingOption);
        QVERIFY(fixed.match(prop(shown, u"WM_NORMAL_HINTS"_s)).hasMatch());
        // What a manager that honours the requests allows.
        const QString allowed = prop(shown, u"_NET_WM_ALLOWED_ACTIONS"_s);
        QVERIFY2(allowed.contains(u"_NET_WM_ACTION_CLOSE"_s) && !allowed.contains(u"RESIZE"_s) &&
                     !allowed.contains(u"MAXIMIZE"_s),
                 qPrintable(allowed));
        QCOMPARE(prop(shown, u"_NET_WM_STATE"_s).contains(u"SKIP_TASKBAR"_s), !opener.isNull());
    }

    // Enter presses the focused button; the window it opens takes the keyboard, where Esc
    // and Enter act. The about window sits where it was placed.
    void keysActWhereTheFocusIs()
    {
        Player player;
        const qulonglong main = window(mainTitle);
        QVERIFY(main && waitUntil([&] { return activeWindow() == main; }));
        xdotool({u"key"_s, u"shift+Tab"_s, u"Return"_s}); // from the transport bar back to "*"
        const qulonglong about = window(u"About Marlet"_s);
        QVERIFY(about && waitUntil([&] { return activeWindow() == about; }));
        const QString info = tool(u"xwininfo"_s, {u"-id"_s, QString::number(about)});
        QVERIFY2(info.contains(u"Absolute upper-left X:  156\n  Absolute upper-left Y:  129"_s),
                 qPrintable(info));
        xdotool({u"key"_s, u"Escape"_s});
        QVERIFY(waitUntil([&] { return !prop(about, u"WM_STATE"_s).contains(u"Normal"_s); }));
        QVERIFY(waitUntil([&] { return activeWindow() == main; }));

        clickAt(main, {152, 124}); // Select Folder
        const qulonglong picker = window(u"Select Folder..."_s);
        QVERIFY(picker && waitUntil([&] { return activeWindow() == picker; }));
        xdotool({u"key"_s, u"Escape"_s}); // the picker has no cancel: it stays
        QThread::msleep(300);
        QCOMPARE(activeWindow(), picker);
    }
};

QTEST_GUILESS_MAIN(TestWindow)
#include "tst_window.moc"
