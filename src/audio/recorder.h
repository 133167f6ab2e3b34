#pragma once

#include "recording_sink.h"
#include "sdl_device.h"

#include <memory>
#include <vector>

namespace Marlet::Audio {

// Captures from the default input device into a RecordingSink. Engine thread only;
// pump() must be called regularly (SDL keeps the captured audio until then).
class Recorder
{
public:
    static std::unique_ptr<Recorder> start(const QString& path, QString* error);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Moves captured audio into the file, and about once a second makes sure that the
    // file is still where it was made. False once writing has failed or the file has gone;
    // the recording must then be finished.
    bool pump();
    void setPaused(bool paused);
    // True once the input device has gone away; finish() still saves what came before.
    bool deviceLost() { return m_device && m_device->isLost(); }
    // Stops capturing, writes what is left and completes the file. Returns false when
    // the file could not be written in full, or is no longer where it was made; what was
    // written stays valid.
    bool finish();

    const QString& path() const { return m_path; }
    // Where the file is now: path(), a new path when its folder was moved, or empty once
    // it has been deleted. Checked by pump() and finish().
    const QString& savedPath() const { return m_savedPath; }
    // The input device's name for the user.
    const QString& deviceName() const { return m_deviceName; }
    qint64 recordedMs() const;
    QString error() const;

private:
    // Once the input has gone, SDL goes on delivering digital silence in its place, which
    // was never captured: what is left is written up to its last sound only (true silence
    // just before the loss cannot be told from it, and goes too).
    void keepCapturedRest();

    Recorder(QString path, std::unique_ptr<SdlDevice> device, std::unique_ptr<RecordingSink> sink);
    bool fileIsInPlace();

    QString m_path;
    QString m_savedPath;
    QString m_deviceName;
    std::unique_ptr<SdlDevice> m_device;
    std::unique_ptr<RecordingSink> m_sink;
    int m_rate;
    std::vector<qint16> m_buffer;
    qint64 m_sinceCheckpoint = 0; // frames
    bool m_finished = false;
};

} // namespace Marlet::Audio
