// The engine as a loadable module: FFmpeg and SDL come into the process with it.

#include "audio_engine.h"
#include "engine_interface.h"

namespace Marlet::Audio {

namespace {

class ModuleEngine final : public Engine
{
public:
    explicit ModuleEngine(EngineClient* client)
    {
        QObject::connect(&m_engine, &AudioEngine::stateChanged, &m_engine,
                         [client](EngineState state) { client->engineStateChanged(state); });
        QObject::connect(&m_engine, &AudioEngine::opened, &m_engine,
                         [client](qint64 duration) { client->engineOpened(duration); });
        QObject::connect(&m_engine, &AudioEngine::failed, &m_engine,
                         [client](const QString& message) { client->engineFailed(message); });
        QObject::connect(&m_engine, &AudioEngine::endOfMedia, &m_engine,
                         [client] { client->engineEndOfMedia(); });
        QObject::connect(&m_engine, &AudioEngine::recordingSaved, &m_engine,
                         [client](const QString& path, qint64 duration) {
                             client->engineRecordingSaved(path, duration);
                         });
    }

    void open(const QString& path) override { m_engine.open(path); }
    void openNext(const QString& path) override { m_engine.openNext(path); }
    void play() override { m_engine.play(); }
    void pause() override { m_engine.pause(); }
    void resume() override { m_engine.resume(); }
    void stop() override { m_engine.stop(); }
    void seek(qint64 positionMs) override { m_engine.seek(positionMs); }
    void close() override { m_engine.close(); }
    void record(const QString& path) override { m_engine.record(path); }

    EngineState state() const override { return m_engine.state(); }
    QString fileName() const override { return m_engine.fileName(); }
    qint64 durationMs() const override { return m_engine.durationMs(); }
    qint64 positionMs() const override { return m_engine.positionMs(); }
    qint64 firstSampleSteadyNs() const override { return m_engine.firstSampleSteadyNs(); }

private:
    AudioEngine m_engine;
};

} // namespace

} // namespace Marlet::Audio

extern "C" Q_DECL_EXPORT Marlet::Audio::Engine*
marletCreateEngine(Marlet::Audio::EngineClient* client)
{
    return new Marlet::Audio::ModuleEngine(client);
}
