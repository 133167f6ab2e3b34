#include "command_line.h"
#include "quit_on_signal.h"
#include "startup_probe.h"

#include "forms/program_icon.h"
#include "launch/instance_channel.h"
#include "launch/playlist_files.h"
#include "main_window/form1.h"
#include "mpris/mpris_service.h"

#include <marlet/version.h>

#include <QApplication>
#include <QDBusConnection>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <functional>
#include <optional>

namespace {

using Marlet::Launch::HandOver;
using Marlet::Launch::InstanceServer;
using Marlet::MainWindow::Form1;

// The files that the names given add; each name that adds nothing is reported.
QStringList filesNamed(const QStringList& names)
{
    const Marlet::Launch::PlaylistFiles found = Marlet::Launch::expandFileNames(names);
    for (const QString& problem : found.problems)
        std::fprintf(stderr, "marlet: %s\n", qPrintable(problem));
    return found.files;
}

// The exit status once a running player took the files or failed to; none when no player
// runs.
std::optional<int> handOverTo(const QString& server, const QStringList& files)
{
    switch (Marlet::Launch::handOver(server, files)) {
    case HandOver::Taken:
        return 0;
    case HandOver::Failed:
        std::fputs("marlet: the running player does not answer\n", stderr);
        return 1;
    case HandOver::NoPlayer:
        break;
    }
    return std::nullopt;
}

void bringToFront(QWidget& window)
{
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

// Runs an action once its window has been painted on screen the first time.
class AfterFirstPaint final : public QObject
{
public:
    AfterFirstPaint(QWindow* window, std::function<void()> action)
        : QObject(window), m_action(std::move(action))
    {
        if (window->isExposed())
            run();
        else
            window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            run();
        }
        return false;
    }

private:
    // Queued: the paint that answers the exposure comes first.
    void run()
    {
        QTimer::singleShot(0, this, [this] {
            m_action();
            deleteLater();
        });
    }

    std::function<void()> m_action;
};

// Offers the player to the desktop on the session bus; without one, does nothing.
void publishOnSessionBus(Form1& form)
{
    auto* service = new Marlet::Mpris::MprisService(
        form.mmc(),
        {
            [&form] { bringToFront(form); },
            [&form] { form.close(); },
            [&form](const QStringList& names) { form.appendDropped(names); },
        },
        &form);
    if (!service->publish(QDBusConnection::sessionBus()))
        delete service;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication::setOrganizationName(QStringLiteral("Quendel"));
    QApplication::setApplicationName(QString::fromLatin1(Marlet::Version::productName));
    QApplication::setApplicationVersion(QStringLiteral("%1.%2.%3")
                                            .arg(Marlet::Version::major)
                                            .arg(Marlet::Version::minor)
                                            .arg(Marlet::Version::revision));

    // A launch that finds a player running hands its files over and ends before it reaches
    // the display, which takes tens of milliseconds.
    Marlet::CommandLine commandLine;
    const QString server = Marlet::Launch::instanceServerName();
    const bool readEarly = commandLine.readEarly(argc, argv);
    QStringList files;
    if (readEarly) {
        files = filesNamed(commandLine.names());
        if (const std::optional<int> status = handOverTo(server, files))
            return *status;
    }

    QApplication app(argc, argv);
    if (!readEarly) {
        commandLine.read(app);
        files = filesNamed(commandLine.names());
        if (const std::optional<int> status = handOverTo(server, files))
            return *status;
    }
    QApplication::setWindowIcon(Marlet::programIcon());
    Marlet::quitOnTerminationSignals(app);

    InstanceServer instances;
    if (!server.isEmpty()) {
        switch (instances.listen(server)) {
        case InstanceServer::Listen::Listening:
            break;
        case InstanceServer::Listen::OtherPlayer: // it started while this one did
            if (const std::optional<int> status = handOverTo(server, files))
                return *status;
            break;
        case InstanceServer::Listen::Failed:
            std::fprintf(stderr, "marlet: later launches will start players of their own: %s\n",
                         qPrintable(instances.errorString()));
            break;
        }
    }

    Form1 form;
    form.Form_Load();
    Marlet::installStartupProbe(&form);
    QObject::connect(&instances, &InstanceServer::filesHandedOver, &form,
                     [&form](const QStringList& handed) {
                         bringToFront(form);
                         form.appendFiles(handed, Form1::StartPlaying::Now);
                     });
    form.show();
    new AfterFirstPaint(form.windowHandle(), [&form, files] {
        form.appendFiles(files, Form1::StartPlaying::Now);
        publishOnSessionBus(form);
    });
    return app.exec();
}
