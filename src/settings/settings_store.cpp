#include "settings/settings_store.h"

#include "forms/runtime_error.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QStringDecoder>

#include <algorithm>
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

// `text` without the spaces and tabs around it, the only white space Qt's reader trims.
QStringView trimmed(QStringView text)
{
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (!text.isEmpty() && blank(text.front()))
        text = text.sliced(1);
    while (!text.isEmpty() && blank(text.back()))
        text.chop(1);
    return text;
}

// Whether `line` (trimmed, not blank) is a comment (";"), a "[section]" header or a
// "key=value" pair whose key's levels hold none of the characters Qt escapes in keys.
bool isStoreLine(QStringView line)
{
    if (line.startsWith(u';'))
        return true;
    // Qt writes "=" and "/" in keys and section names escaped, and "%" only before two hex
    // digits or "U" and four; a first level named "general" is the section "[%General]".
    const auto escapesRight = [](QStringView text) {
        static const QRegularExpression percent(
            QStringLiteral("%(?![0-9A-Fa-f]{2}|U[0-9A-Fa-f]{4})"));
        return !text.contains(percent);
    };
    const auto plain = [&](QStringView text) {
        return !trimmed(text).isEmpty() && !text.contains(u'[') && !text.contains(u']') &&
               !text.contains(u';') && !text.contains(u'"') && !text.contains(u'\\') &&
               !text.contains(u'=') && !text.contains(u'/') && escapesRight(text);
    };
    // An empty level ("a%2F" is "a/") is written back as a backslash before the "=", which
    // Qt's reader then takes as escaping it.
    const auto noEmptyLevel = [](QStringView text) {
        static const QRegularExpression slash(QStringLiteral("%(?:2[Ff]|U002[Ff])|\\\\"));
        return !trimmed(text)
                    .toString()
                    .replace(slash, QStringLiteral("/"))
                    .split(u'/')
                    .contains(QString());
    };
    if (line.startsWith(u'[')) {
        if (line == u"[%General]")
            return true;
        if (!line.endsWith(u']'))
            return false;
        const QStringView section = line.sliced(1, line.size() - 2);
        return plain(section) && noEmptyLevel(section);
    }
    const qsizetype equals = line.indexOf(u'=');
    if (equals <= 0)
        return false;
    // Qt writes a backslash between a key's levels, and its reader also takes one as
    // escaping the character after it ("=", a line end): only one between levels is taken.
    const QStringView key = line.first(equals);
    const QList<QStringView> levels = key.split(u'\\');
    return std::all_of(levels.begin(), levels.end(), plain) && noEmptyLevel(key);
}

// Whether `bytes` can be a store in the form Qt writes: UTF-8 text with no control
// characters below the space but tabs and line ends, every line blank or a store line.
// Qt's own reader takes random bytes without a word, and reports a broken line only to
// the first reader of a file in a run.
bool isStoreText(const QByteArray& bytes)
{
    // Stateless: a sequence cut short at the end is an error, not kept for more bytes.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    if (utf8.hasError())
        return false;
    text.replace(u'\r', u'\n'); // Qt's reader ends a line at either
    for (const QStringView line : QStringView(text).split(u'\n')) {
        for (const QChar c : line) {
            if (c < u' ' && c != u'\t' && c != u'\r')
                return false;
        }
        const QStringView content = trimmed(line);
        if (!content.isEmpty() && !isStoreLine(content))
            return false;
    }
    return true;
}

// Whether the store's file holds something other than a store, read afresh at every
// access. A missing file is an empty store; one that cannot be opened is left to Qt's
// status.
bool isDamaged(const QSettings& settings)
{
#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
    Q_UNUSED(settings); // the registry and property lists are Qt's to check
    return false;
#else
    QFile file(settings.fileName());
    return file.open(QIODevice::ReadOnly) && !isStoreText(file.readAll());
#endif
}

// Stores whose refused saves were reported on standard error since their last good save.
QSet<QString>& refusedStores()
{
    static QSet<QString> stores;
    return stores;
}

} // namespace

QString GetSetting(const QString& application, const QString& section, const QString& key,
                   const QString& defaultValue)
{
    if (trace())
        trace()(QStringLiteral("read"), key, defaultValue);
    const auto settings = open(application);
    if (isDamaged(*settings))
        return defaultValue;
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
    if (isDamaged(*settings) || settings->status() == QSettings::FormatError) {
        const QString file = where(*settings);
        const QString message =
            QCoreApplication::translate("Settings",
                                        "The settings in %1 cannot be parsed, so the setting "
                                        "\"%2\" was not saved. The file is left as it is.")
                .arg(file, key);
        if (!refusedStores().contains(file)) {
            refusedStores().insert(file);
            qWarning().noquote() << message;
        }
        throw Forms::RuntimeError(message);
    }
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
        if (settings->status() == QSettings::NoError)
            refusedStores().remove(where(*settings));
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
