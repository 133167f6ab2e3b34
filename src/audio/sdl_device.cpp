#include "sdl_device.h"

#include <array>

namespace Marlet::Audio {

namespace {

// Playback periods of 90 to 190 ms keep wake-ups rare; pausing and stopping do not
// wait for them, they act on the device at once. Capture periods stay near 25 to 50 ms:
// the period in flight when capture stops is lost.
Uint16 periodFor(int sampleRate, bool capture)
{
    const int periodsPerSecond = capture ? 20 : 6;
    Uint16 samples = 512;
    while (samples < 8192 && samples * periodsPerSecond < sampleRate)
        samples = static_cast<Uint16>(samples * 2);
    return samples;
}

QString sdlError()
{
    return QString::fromUtf8(SDL_GetError());
}

} // namespace

SdlAudioSystem::SdlAudioSystem()
{
    // SDL must not take SIGINT and SIGTERM from the program.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A monitor of an output can be the default input; it must be found by its name.
    SDL_SetHint(SDL_HINT_AUDIO_INCLUDE_MONITORS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS) != 0) {
        m_error = sdlError();
        return;
    }
    m_up = true;
}

SdlAudioSystem::~SdlAudioSystem()
{
    if (m_up)
        SDL_QuitSubSystem(SDL_INIT_AUDIO | SDL_INIT_EVENTS);
}

bool SdlAudioSystem::takeRemovalOf(SDL_AudioDeviceID device)
{
    bool removed = false;
    std::array<SDL_Event, 16> events{};
    for (;;) {
        const int count = SDL_PeepEvents(events.data(), int(events.size()), SDL_GETEVENT,
                                         SDL_FIRSTEVENT, SDL_LASTEVENT);
        if (count <= 0)
            break;
        for (int i = 0; i < count; ++i) {
            if (events[size_t(i)].type == SDL_AUDIODEVICEREMOVED &&
                events[size_t(i)].adevice.which == device)
                removed = true;
        }
    }
    return removed;
}

std::unique_ptr<SdlDevice> SdlDevice::open(Direction direction, int sampleRate, int channels,
                                           QString* error)
{
    const bool capture = direction == Direction::Capture;
    SDL_AudioSpec want{};
    want.freq = sampleRate;
    want.format = capture ? AUDIO_S16SYS : AUDIO_F32SYS;
    want.channels = static_cast<Uint8>(channels);
    want.samples = periodFor(sampleRate, capture);
    want.callback = nullptr; // queue mode

    std::unique_ptr<SdlDevice> device(new SdlDevice);
    device->m_requestedRate = sampleRate;
    device->m_requestedChannels = channels;
    char* name = nullptr;
    SDL_AudioSpec defaultSpec{};
    const bool named = SDL_GetDefaultAudioInfo(&name, &defaultSpec, capture ? 1 : 0) == 0;
    const std::unique_ptr<char, decltype(&SDL_free)> nameOwner(name, &SDL_free);
    device->m_name = QString::fromUtf8(named ? name : SDL_GetCurrentAudioDriver());
    device->m_id =
        SDL_OpenAudioDevice(named ? name : nullptr, capture ? 1 : 0, &want, &device->m_spec,
                            SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE |
                                SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
    if (device->m_id == 0) {
        *error = capture
                     ? QStringLiteral("No sound input device is available (%1).").arg(sdlError())
                     : QStringLiteral("No sound output device is available (%1).").arg(sdlError());
        return {};
    }
    if (device->m_spec.channels < 1 || device->m_spec.freq < 1) {
        *error = QStringLiteral("The sound device offers no usable format.");
        return {};
    }
    return device;
}

SdlDevice::~SdlDevice()
{
    if (m_id != 0)
        SDL_CloseAudioDevice(m_id);
}

int SdlDevice::bytesPerFrame() const
{
    return int(SDL_AUDIO_BITSIZE(m_spec.format) / 8) * m_spec.channels;
}

int SdlDevice::periodMs() const
{
    return int(qint64(m_spec.samples) * 1000 / m_spec.freq) + 1;
}

void SdlDevice::setPaused(bool paused)
{
    SDL_PauseAudioDevice(m_id, paused ? 1 : 0);
}

bool SdlDevice::queue(const void* data, quint32 bytes)
{
    return SDL_QueueAudio(m_id, data, bytes) == 0;
}

quint32 SdlDevice::queuedFrames() const
{
    return SDL_GetQueuedAudioSize(m_id) / quint32(bytesPerFrame());
}

void SdlDevice::clearQueue()
{
    SDL_ClearQueuedAudio(m_id);
}

quint32 SdlDevice::dequeue(void* data, quint32 bytes)
{
    return SDL_DequeueAudio(m_id, data, bytes);
}

bool SdlDevice::isLost()
{
    if (!m_lost)
        m_lost = SdlAudioSystem::takeRemovalOf(m_id) ||
                 SDL_GetAudioDeviceStatus(m_id) == SDL_AUDIO_STOPPED;
    return m_lost;
}

} // namespace Marlet::Audio
