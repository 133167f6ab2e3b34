// The engine module as the program meets it: the time to load it and resolve its entry
// points (the first "Open File" of every run waits for that), and resident memory with an
// engine made and nothing open. Linux only for the memory figure.

#include "audio/engine_interface.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLibrary>
#include <QTimer>

#include <cstdio>
#include <memory>

using namespace Marlet::Audio;

namespace {

class QuietClient final : public EngineClient
{
public:
    void engineStateChanged(EngineState) override {}
    void engineOpened(CommandId, qint64) override {}
    void engineFailed(CommandId, const QString&) override {}
    void engineFault(const QString&) override {}
    void engineEndOfMedia(CommandId) override {}
    void engineRecordingSaved(CommandId, const QString&, qint64) override {}
};

// Resident set size in MiB, from /proc; -1 elsewhere.
double residentMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QLibrary module(QStringLiteral(MARLET_MODULE_PATH));
    QElapsedTimer timer;
    timer.start();
    const bool loaded = module.load();
    const auto create = reinterpret_cast<CreateEngineFunction>(module.resolve(createEngineSymbol));
    const auto readTags =
        reinterpret_cast<ReadTrackTagsFunction>(module.resolve(readTrackTagsSymbol));
    const double loadMs = double(timer.nsecsElapsed()) / 1e6;
    if (!loaded || !create || !readTags) {
        std::fprintf(stderr, "cannot load the engine module: %s\n",
                     qPrintable(module.errorString()));
        return 1;
    }
    std::printf("engine_module_load_ms: %.2f\n", loadMs);

    QuietClient client;
    const std::unique_ptr<Engine> engine(create(&client));
    QTimer::singleShot(300, &app, &QCoreApplication::quit); // the engine thread settles
    app.exec();
    std::printf("idle_rss_mb: %.1f\n", residentMb());
    std::printf("target: engine_module_load_ms <= 5\ntarget: idle_rss_mb <= 25\n");
    return 0;
}
