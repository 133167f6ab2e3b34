#pragma once

#include <QString>

#include <functional>

namespace Marlet::Settings {

// The per-user store of text values, addressed by (application, section, key). The
// application's words, split at backslashes, name the organisation and the program
// ("Quendel\Marlet\" is organisation Quendel, program Marlet), so values live where the
// platform keeps that program's settings: ~/.config/Quendel/Marlet.conf on Linux, the
// current user's registry on Windows. GUI thread only.

// The text stored at the address, or `defaultValue` when nothing is stored there or the
// store cannot be parsed: a store file that is not one Qt writes (UTF-8 lines, each a
// comment, a "[section]" header or a "key=value" pair) counts as such, checked at every
// access. Throws Forms::RuntimeError when the store cannot be read.
QString GetSetting(const QString& application, const QString& section, const QString& key,
                   const QString& defaultValue);

// Stores `value` at the address and writes it to disk before returning. Throws
// Forms::RuntimeError when it did not reach the disk; the stored value is then unchanged.
// A store that cannot be parsed is never written over: the save throws, naming the file,
// and the first such refusal since the store's last good save also goes to standard error.
void SaveSetting(const QString& application, const QString& section, const QString& key,
                 const QString& value);

// Where the program keeps its values, and their keys: the folder picker's last drive
// and folder.
inline QString programApplication()
{
    return QStringLiteral("Quendel\\Marlet\\");
}
inline QString programSection()
{
    return QStringLiteral("Settings");
}
inline QString lastDriveKey()
{
    return QStringLiteral("Last Drive");
}
inline QString lastDirKey()
{
    return QStringLiteral("Last Dir");
}

// The folder that holds the program file, with native separators.
QString programFolder();

// The program's own values: read with the program folder as the default, and saved.
QString GetProgramSetting(const QString& key);
void SaveProgramSetting(const QString& key, const QString& value);

// Called before each read ("read", key, default) and save ("save", key, value) of the
// store. What it throws counts as that access failing. For tests.
using SettingsTrace =
    std::function<void(const QString& operation, const QString& key, const QString& value)>;
void setSettingsTrace(SettingsTrace trace);

} // namespace Marlet::Settings
