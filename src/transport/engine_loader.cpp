#include "transport/engine_loader.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

namespace Marlet::Transport {

namespace {

// Where the module is looked for, relative to the executable only: next to it (the build
// tree, and Windows), then the library folder of an installed program.
QStringList moduleFolders()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    return {appDir,
            QDir::cleanPath(QDir(appDir).filePath(QStringLiteral(MARLET_MODULE_RELATIVE_DIR)))};
}

// The module's entry points; loads it on first use. Any thread.
Audio::CreateEngineFunction resolveModule(QString* error,
                                          Audio::ReadTrackTagsFunction* readTags = nullptr)
{
    static QMutex mutex;
    static Audio::CreateEngineFunction create = nullptr;
    static Audio::ReadTrackTagsFunction readTrackTags = nullptr;
    const QMutexLocker lock(&mutex);
    if (readTags)
        *readTags = readTrackTags;
    if (create)
        return create;
    QStringList tried;
    for (const QString& folder : moduleFolders()) {
        QLibrary library(QDir(folder).filePath(QStringLiteral("marlet-audio")));
        library.setLoadHints(QLibrary::PreventUnloadHint);
        if (library.load()) {
            create = reinterpret_cast<Audio::CreateEngineFunction>(
                library.resolve(Audio::createEngineSymbol));
            readTrackTags = reinterpret_cast<Audio::ReadTrackTagsFunction>(
                library.resolve(Audio::readTrackTagsSymbol));
            if (readTags)
                *readTags = readTrackTags;
            if (create)
                return create;
        }
        tried << QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(folder),
                                              library.errorString());
    }
    *error = QStringLiteral("The sound engine cannot be loaded, so there is no sound. Looked "
                            "in:\n%1")
                 .arg(tried.join(QLatin1Char('\n')));
    return nullptr;
}

} // namespace

std::unique_ptr<Audio::Engine> loadEngine(Audio::EngineClient* client, QString* error)
{
    const Audio::CreateEngineFunction create = resolveModule(error);
    if (!create)
        return {};
    return std::unique_ptr<Audio::Engine>(create(client));
}

Audio::TrackTags readTrackTags(const QString& path)
{
    QString error;
    Audio::ReadTrackTagsFunction read = nullptr;
    resolveModule(&error, &read);
    Audio::TrackTags tags;
    if (read)
        read(path, &tags);
    return tags;
}

} // namespace Marlet::Transport
