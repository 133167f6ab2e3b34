#include "startup_probe.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace Marlet {

namespace {

constexpr int kIdleMs = 3000;

QByteArray residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return QByteArrayLiteral("n/a");
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0);
    }
    return QByteArrayLiteral("n/a");
}

class ExposeWatcher final : public QObject
{
public:
    explicit ExposeWatcher(QWindow* window) : QObject(window) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        auto* window = qobject_cast<QWindow*>(watched);
        if (event->type() == QEvent::Expose && window && window->isExposed()) {
            window->removeEventFilter(this);
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
            QTimer::singleShot(kIdleMs, this, [] {
                std::printf("rss_kb: %s\n", residentKilobytes().constData());
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }
};

} // namespace

void installStartupProbe(QWidget* window)
{
    if (!qEnvironmentVariableIsSet("MARLET_STARTUP_PROBE"))
        return;
    window->winId(); // creates the native window to watch
    QWindow* handle = window->windowHandle();
    handle->installEventFilter(new ExposeWatcher(handle));
}

} // namespace Marlet
