#include "engine_loader.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibrary>
#include <QStringList>

namespace Marlet::Transport {

namespace {

// Folders searched for the module, in order: next to the executable, the installed
// library folder, and the build tree this program was built in.
QStringList moduleFolders()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    return {appDir, QDir(appDir).filePath(QStringLiteral(MARLET_MODULE_RELATIVE_DIR)),
            QStringLiteral(MARLET_MODULE_BUILD_DIR)};
}

Audio::CreateEngineFunction resolveModule(QString* error)
{
    static Audio::CreateEngineFunction create = nullptr;
    if (create)
        return create;
    QString reasons;
    for (const QString& folder : moduleFolders()) {
        QLibrary library(QDir(folder).filePath(QStringLiteral("marlet-audio")));
        library.setLoadHints(QLibrary::PreventUnloadHint);
        if (!library.load()) {
            reasons = library.errorString();
            continue;
        }
        create = reinterpret_cast<Audio::CreateEngineFunction>(
            library.resolve(Audio::createEngineSymbol));
        if (create)
            return create;
        reasons = library.errorString();
    }
    *error = QStringLiteral("The sound engine cannot be loaded (%1).").arg(reasons);
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

} // namespace Marlet::Transport
