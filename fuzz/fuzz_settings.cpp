// Any bytes as the program's settings file: reading never crashes, and a save either
// takes (and reads back) or is refused with the file left exactly as it was.

#include "forms/runtime_error.h"
#include "fuzz_require.h"
#include "settings/settings_store.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSettings>
#include <QTemporaryDir>
#include <QtGlobal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace Marlet::Settings;

namespace {

QTemporaryDir& home()
{
    static QTemporaryDir dir;
    return dir;
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/)
{
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    REQUIRE(home().isValid());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A store of its own for each input: Qt keeps what it read of a file, and many inputs
    // a millisecond give one name files of one size and time stamp that it cannot tell apart.
    static int input = 0;
    const QString config = home().filePath(QString::number(++input));
    const auto cleanUp = qScopeGuard([&] { QDir(config).removeRecursively(); });
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config);
    const QString folder = config + QStringLiteral("/Quendel");
    const QString path = folder + QStringLiteral("/Marlet.conf");
    REQUIRE(QDir().mkpath(folder));
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(path);
        REQUIRE(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                file.write(bytes) == bytes.size());
    }
    const QString value = QStringLiteral("/fuzz/%1").arg(size);
    try {
        GetProgramSetting(lastDirKey());
        SaveProgramSetting(lastDirKey(), value);
    } catch (const Marlet::Forms::RuntimeError&) {
        REQUIRE(contents(path) == bytes); // refused: never written over
        return 0;
    }
    REQUIRE(GetProgramSetting(lastDirKey()) == value);
    return 0;
}
