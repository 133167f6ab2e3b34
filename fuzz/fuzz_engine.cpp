// Random sequences of commands to the engine, on a few good and bad files: no crash, no
// hang, and every open answered (opened or failed) before a last open of a good file is.

#include "audio/audio_engine.h"
#include "fuzz_require.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTemporaryDir>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

using namespace Marlet::Audio;

namespace {

struct Rig
{
    QTemporaryDir scratch;
    std::unique_ptr<AudioEngine> engine;
    std::set<CommandId> unanswered;
    std::array<QString, 8> files;
};
Rig* g_rig = nullptr;

QString fixture(const char* name)
{
    return QStringLiteral(MARLET_TEST_DATA_DIR "/") + QLatin1String(name);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    qputenv("SDL_AUDIODRIVER", "dummy");
    new QCoreApplication(*argc, *argv); // lives as long as the process
    g_rig = new Rig;
    g_rig->files = {fixture("wav_s16_stereo_44100.wav"),
                    fixture("mp3_mpeg1_cbr_stereo_44100.mp3"),
                    fixture("amrnb_122.amr"),
                    fixture("damaged.mp3"),
                    fixture("text.mp3"),
                    fixture("missing.wav"),
                    QStringLiteral(MARLET_TEST_DATA_DIR),
                    fixture("mp3_mpeg2_cbr_mono_22050.mp3")};
    g_rig->engine = std::make_unique<AudioEngine>();
    const auto answer = [](CommandId id) { g_rig->unanswered.erase(id); };
    QObject::connect(g_rig->engine.get(), &AudioEngine::opened, g_rig->engine.get(),
                     [answer](CommandId id, qint64) { answer(id); });
    QObject::connect(g_rig->engine.get(), &AudioEngine::failed, g_rig->engine.get(),
                     [answer](CommandId id, const QString& message) {
                         REQUIRE(!message.isEmpty());
                         answer(id);
                     });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    AudioEngine& engine = *g_rig->engine;
    constexpr size_t kMaxCommands = 24;
    for (size_t i = 0; i < size && i < kMaxCommands; ++i) {
        const uint8_t byte = data[i];
        const QString& file = g_rig->files[(byte >> 3) % g_rig->files.size()];
        switch (byte & 7) {
        case 0:
            g_rig->unanswered.insert(engine.open(file));
            break;
        case 1:
            g_rig->unanswered.insert(engine.openNext(file));
            break;
        case 2:
            engine.play();
            break;
        case 3:
            (byte & 8) ? engine.pause() : engine.resume();
            break;
        case 4:
            engine.stop();
            break;
        case 5:
            engine.seek(qint64(byte >> 3) * 100);
            break;
        case 6:
            engine.record(g_rig->scratch.filePath((byte & 8) ? QStringLiteral("take.mp3")
                                                             : QStringLiteral("take.wav")));
            break;
        default:
            engine.close();
            break;
        }
        if (byte & 0x80)
            QCoreApplication::processEvents();
    }
    // Commands run in order, so once this one is answered every earlier one is.
    const CommandId last = engine.open(g_rig->files[0]);
    g_rig->unanswered.insert(last);
    const QDeadlineTimer deadline(20000);
    while (g_rig->unanswered.count(last)) {
        REQUIRE(!deadline.hasExpired());
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    REQUIRE(g_rig->unanswered.empty());
    engine.close();
    return 0;
}
