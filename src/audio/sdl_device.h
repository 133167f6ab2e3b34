#pragma once

#include <QString>

#include <SDL.h>

#include <memory>

namespace Marlet::Audio {

// Keeps SDL's audio subsystem up while alive. Create, use and destroy on one thread
// (the engine thread); devices must be closed before it goes.
class SdlAudioSystem
{
public:
    SdlAudioSystem();
    ~SdlAudioSystem();
    SdlAudioSystem(const SdlAudioSystem&) = delete;
    SdlAudioSystem& operator=(const SdlAudioSystem&) = delete;

    bool isUp() const { return m_up; }
    const QString& error() const { return m_error; }
    // Drains SDL's event queue; true when one of the events says `device` went away.
    static bool takeRemovalOf(SDL_AudioDeviceID device);

private:
    bool m_up = false;
    QString m_error;
};

// One opened SDL audio device in queue mode: playback takes pushed samples, capture
// keeps captured samples until they are taken. Closed on destruction. Starts paused.
class SdlDevice
{
public:
    enum class Direction { Playback, Capture };

    // Opens the system's default device of that direction, by its name when the driver
    // tells it, so that the device stays the one opened: a sound server may otherwise move
    // the stream elsewhere when the device goes, and nothing would tell. Playback is 32-bit
    // float, capture 16-bit signed; rate and channels are requests that the device may
    // change (see spec()). Null with `error` set on failure.
    static std::unique_ptr<SdlDevice> open(Direction direction, int sampleRate, int channels,
                                           QString* error);
    ~SdlDevice();
    SdlDevice(const SdlDevice&) = delete;
    SdlDevice& operator=(const SdlDevice&) = delete;

    // The device's name for the user (the driver's name when it does not name its devices).
    const QString& name() const { return m_name; }
    const SDL_AudioSpec& spec() const { return m_spec; }
    int requestedRate() const { return m_requestedRate; }
    int requestedChannels() const { return m_requestedChannels; }
    int bytesPerFrame() const;
    // Device period, in ms.
    int periodMs() const;

    void setPaused(bool paused);
    bool queue(const void* data, quint32 bytes);
    quint32 queuedFrames() const;
    void clearQueue();
    // Capture: moves up to `bytes` of captured audio into `data`; returns bytes moved.
    quint32 dequeue(void* data, quint32 bytes);
    // True once the device has gone away (unplugged, sound server gone).
    bool isLost();

private:
    SdlDevice() = default;

    SDL_AudioDeviceID m_id = 0;
    QString m_name;
    SDL_AudioSpec m_spec{};
    int m_requestedRate = 0;
    int m_requestedChannels = 0;
    bool m_lost = false;
};

} // namespace Marlet::Audio
