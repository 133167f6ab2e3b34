#include "files/file_names.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

// Names as bytes are a Linux and BSD matter: Windows names are UTF-16, and macOS keeps
// them valid UTF-8.
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
#define MARLET_NAMES_ARE_BYTES 1
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#define MARLET_NAMES_ARE_BYTES 0
#endif

namespace Marlet::Files {

namespace {

constexpr char16_t keptByteBase = 0xDC00; // a kept byte b (0x80..0xFF) is U+DC00 + b

// The length of the valid UTF-8 sequence at `i`, or 0 when none starts there.
qsizetype validSequence(const QByteArray& bytes, qsizetype i)
{
    const auto at = [&](qsizetype k) { return k < bytes.size() ? uchar(bytes[k]) : uchar(0); };
    const uchar lead = at(i);
    if (lead < 0x80)
        return 1;
    qsizetype length = 0;
    uchar low = 0x80;  // the second byte's range: no overlong forms, surrogates or
    uchar high = 0xBF; // code points beyond U+10FFFF
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : low;
        high = lead == 0xED ? 0x9F : high;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : low;
        high = lead == 0xF4 ? 0x8F : high;
    } else {
        return 0;
    }
    if (at(i + 1) < low || at(i + 1) > high)
        return 0;
    for (qsizetype k = 2; k < length; ++k) {
        if ((at(i + k) & 0xC0) != 0x80)
            return 0;
    }
    return length;
}

// Whether the code unit at `i` is a kept byte, not half of a surrogate pair.
bool isKeptByte(QStringView path, qsizetype i)
{
    const char16_t unit = path[i].unicode();
    return unit >= keptByteBase + 0x80 && unit <= keptByteBase + 0xFF &&
           (i == 0 || !path[i - 1].isHighSurrogate());
}

// ---- POSIX: paths with kept bytes go to the system as those bytes. ----
#if MARLET_NAMES_ARE_BYTES

bool hasKeptBytes(QStringView path)
{
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (isKeptByte(path, i))
            return true;
    }
    return false;
}

Kind kindOfBytes(const QByteArray& path)
{
    struct stat info = {};
    if (::stat(path.constData(), &info) != 0)
        return Kind::Missing;
    return S_ISDIR(info.st_mode) ? Kind::Folder : Kind::File;
}

std::unique_ptr<QFile> openBytes(const QByteArray& path, QString* error)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = qt_error_string(errno);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = file->errorString();
        return nullptr;
    }
    return file;
}

// Calls `take` with the name of each file (or, with `folders`, each folder) in `folder`,
// links followed, hidden ones left out.
template <typename Take>
void forEachEntry(const QString& folder, bool folders, Take take)
{
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(toNative(folder).constData()),
                                                  ::closedir);
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.') // hidden, or the folder and its parent
            continue;
        bool wanted = entry->d_type == (folders ? DT_DIR : DT_REG);
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat info = {};
            wanted = ::fstatat(::dirfd(dir.get()), entry->d_name, &info, 0) == 0 &&
                     (folders ? S_ISDIR(info.st_mode) : S_ISREG(info.st_mode));
        }
        if (wanted)
            take(fromNative(QByteArray(entry->d_name)));
    }
}

#endif
// ---- end of POSIX ----

} // namespace

QString fromNative(const QByteArray& bytes)
{
    QString text;
    text.reserve(bytes.size());
    qsizetype run = 0; // where the current run of valid UTF-8 began
    for (qsizetype i = 0; i < bytes.size();) {
        if (const qsizetype length = validSequence(bytes, i)) {
            i += length;
            continue;
        }
        text += QString::fromUtf8(bytes.constData() + run, i - run);
        text += QChar(char16_t(keptByteBase + uchar(bytes[i])));
        run = ++i;
    }
    text += QString::fromUtf8(bytes.constData() + run, bytes.size() - run);
    return text;
}

QByteArray toNative(const QString& path)
{
    QByteArray bytes;
    qsizetype run = 0;
    for (qsizetype i = 0; i < path.size(); ++i) {
        if (!isKeptByte(path, i))
            continue;
        bytes += QStringView(path).sliced(run, i - run).toUtf8();
        bytes += char(path[i].unicode() - keptByteBase);
        run = i + 1;
    }
    bytes += QStringView(path).sliced(run).toUtf8();
    return bytes;
}

QString displayName(const QString& path)
{
    QString shown = path;
    for (qsizetype i = 0; i < shown.size(); ++i) {
        if (isKeptByte(path, i))
            shown[i] = QChar::ReplacementCharacter;
    }
    return shown;
}

Kind kindOf(const QString& path)
{
#if MARLET_NAMES_ARE_BYTES
    if (hasKeptBytes(path))
        return kindOfBytes(toNative(path));
#endif
    const QFileInfo info(path);
    return !info.exists() ? Kind::Missing : info.isDir() ? Kind::Folder : Kind::File;
}

std::unique_ptr<QFile> openForReading(const QString& path, QString* error)
{
#if MARLET_NAMES_ARE_BYTES
    if (hasKeptBytes(path))
        return openBytes(toNative(path), error);
#endif
    auto file = std::make_unique<QFile>(path);
    if (!file->open(QIODevice::ReadOnly)) {
        *error = file->errorString();
        return nullptr;
    }
    return file;
}

QStringList fileNames(const QString& folder, const QStringList& patterns)
{
    QList<QRegularExpression> filters;
    for (const QString& pattern : patterns)
        filters.append(QRegularExpression::fromWildcard(pattern, Qt::CaseInsensitive));
    QStringList names;
    const auto take = [&](const QString& name) {
        const QString shown = displayName(name); // the matcher takes valid text only
        if (std::any_of(filters.cbegin(), filters.cend(), [&](const QRegularExpression& filter) {
                return filter.match(shown).hasMatch();
            }))
            names.append(name);
    };
#if MARLET_NAMES_ARE_BYTES
    forEachEntry(folder, false, take);
#else
    QDirIterator it(folder, QDir::Files);
    while (it.hasNext()) {
        it.next();
        take(it.fileName());
    }
#endif
    return names;
}

QStringList folderNames(const QString& folder)
{
    QStringList names;
#if MARLET_NAMES_ARE_BYTES
    forEachEntry(folder, true, [&names](const QString& name) { names.append(name); });
#else
    QDirIterator it(folder, QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        names.append(it.fileName());
    }
#endif
    return names;
}

bool canList(const QString& folder)
{
#if MARLET_NAMES_ARE_BYTES
    if (hasKeptBytes(folder))
        return ::access(toNative(folder).constData(), R_OK | X_OK) == 0;
#endif
    return QDir(folder).isReadable();
}

} // namespace Marlet::Files
