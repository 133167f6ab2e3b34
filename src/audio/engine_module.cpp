// The engine as a loadable module: the decoding libraries and SDL come into the process with it.

#include "audio_engine.h"
#include "engine_interface.h"
#include "track_tags.h"

namespace Marlet::Audio {

namespace {

class ModuleEngine final : public Engine
{
public:
    explicit ModuleEngine(EngineClient* client)
    {
        QObject::connect(&m_engine, &AudioEngine::stateChanged, &m_engine,
                         [client](EngineState state) { client->engineStateChanged(state); });
        QObject::connect(
            &m_engine, &AudioEngine::opened, &m_engine,
            [client](CommandId id, qint64 duration) { client->engineOpened(id, duration); });
        QObject::connect(&m_engine, &AudioEngine::failed, &m_engine,
                         [client](CommandId id, const QString& message) {
                             if (id == 0)
                                 client->engineFault(message);
                             else
                                 client->engineFailed(id, message);
                         });
        QObject::connect(&m_engine, &AudioEngine::endOfMedia, &m_engine,
                         [client](CommandId id) { client->engineEndOfMedia(id); });
        QObject::connect(&m_engine, &AudioEngine::recordingSaved, &m_engine,
                         [client](CommandId id, const QString& path, qint64 duration) {
                             client->engineRecordingSaved(id, path, duration);
                         });
    }

    CommandId open(const QString& path) override { return m_engine.open(path); }
    CommandId openNext(const QString& path) override { return m_engine.openNext(path); }
    CommandId play() override { return m_engine.play(); }
    CommandId pause() override { return m_engine.pause(); }
    CommandId resume() override { return m_engine.resume(); }
    CommandId stop() override { return m_engine.stop(); }
    CommandId seek(qint64 positionMs) override { return m_engine.seek(positionMs); }
    CommandId close() override { return m_engine.close(); }
    CommandId record(const QString& path) override { return m_engine.record(path); }

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

extern "C" Q_DECL_EXPORT void marletReadTrackTags(const QString& path,
                                                  Marlet::Audio::TrackTags* tags)
{
    *tags = Marlet::Audio::readTrackTags(path);
}
