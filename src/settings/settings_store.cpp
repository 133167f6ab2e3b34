#include "settings/settings_store.h"

#include "forms/runtime_error.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>

#include <memory>

namespace Marlet::Settings {

namespace {

SettingsTrace& trace()
{
    static SettingsTrace instance;
    return instance;
}

// The platform's store for `application`: its first word is the organisation, its
// second the program.
std::unique_ptr<QSettings> open(const QString& application)
{
    const QStringList words = application.split(u'\\', Qt::SkipEmptyParts);
    const QString organisation = words.value(0);
    const QString program = words.size() > 1 ? words.mid(1).join(u' ') : organisation;
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, organisation,
                                       program);
}

QString where(const QSettings& settings)
{
    return QDir::toNativeSeparators(settings.fileName());
}

} // namespace

QString GetSetting(const QString& application, const QString& section, const QString& key,
                   const QString& defaultValue)
{
    if (trace())
        trace()(QStringLiteral("read"), key, defaultValue);
    const auto settings = open(application);
    switch (settings->status()) {
    case QSettings::NoError:
        break;
    case QSettings::FormatError: // a damaged store holds nothing we can use
        return defaultValue;
    case QSettings::AccessError:
        throw Forms::RuntimeError(
            QCoreApplication::translate("Settings", "The settings in %1 cannot be read.")
                .arg(where(*settings)));
    }
    settings->beginGroup(section);
    const QVariant value = settings->value(key);
    return value.isValid() ? value.toString() : defaultValue;
}

void SaveSetting(const QString& application, const QString& section, const QString& key,
                 const QString& value)
{
    if (trace())
        trace()(QStringLiteral("save"), key, value);
    const auto settings = open(application);
    // A store that cannot be parsed is never written over: what it holds may still be
    // the user's.
    if (settings->status() == QSettings::NoError) {
        settings->beginGroup(section);
        const QVariant before = settings->value(key);
        settings->setValue(key, value);
        settings->sync();
        // Later reads in this run share the in-memory copy: it must not hold what the
        // disk did not take.
        if (settings->status() != QSettings::NoError) {
            if (before.isValid())
                settings->setValue(key, before);
            else
                settings->remove(key);
        }
        settings->endGroup();
    }
    if (settings->status() != QSettings::NoError) {
        throw Forms::RuntimeError(
            QCoreApplication::translate("Settings", "The setting \"%1\" could not be saved in %2.")
                .arg(key, where(*settings)));
    }
}

QString programFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString GetProgramSetting(const QString& key)
{
    return GetSetting(programApplication(), programSection(), key, programFolder());
}

void SaveProgramSetting(const QString& key, const QString& value)
{
    SaveSetting(programApplication(), programSection(), key, value);
}

void setSettingsTrace(SettingsTrace trace_)
{
    trace() = std::move(trace_);
}

} // namespace Marlet::Settings
