#pragma once

#include <QFile>
#include <QString>

#include <memory>

namespace Marlet::Audio {

// Where captured 16-bit interleaved PCM goes. Used on the engine thread only.
// A sink that fails to write keeps what it wrote so far as a valid file.
class RecordingSink
{
public:
    virtual ~RecordingSink() = default;

    // False once writing has failed (the disk is full, the file is gone); the sink then
    // refuses further writes and the caller should finish() it.
    virtual bool write(const qint16* interleaved, qint64 frames) = 0;
    // Makes what was written durable and valid without ending the file (called now and
    // then so that a crash loses little).
    virtual void checkpoint() = 0;
    // Completes the file; false when that failed. Call once.
    virtual bool finish() = 0;
    // Frames kept in the file so far.
    virtual qint64 framesWritten() const = 0;
    // Why writing failed, empty while it has not.
    virtual QString error() const = 0;
    // The file written, open until finish().
    virtual const QFile& file() const = 0;

    // True when `path` names a file a sink can be made for; otherwise sets `error`.
    static bool acceptsName(const QString& path, QString* error);
    // A sink for `path` by its extension (.wav or .mp3, any case). Null with `error` set
    // when the extension is not one of those or the file cannot be created.
    static std::unique_ptr<RecordingSink> create(const QString& path, int sampleRate, int channels,
                                                 QString* error);
};

} // namespace Marlet::Audio
