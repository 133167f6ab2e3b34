#include "folder_picker/drives.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

#include <algorithm>

namespace Marlet::FolderPicker {

namespace {

std::function<QList<Drive>()>& driveSource()
{
    static std::function<QList<Drive>()> source;
    return source;
}

constexpr Qt::CaseSensitivity pathCase =
#if defined(Q_OS_WIN) || defined(Q_OS_MACOS)
    Qt::CaseInsensitive;
#else
    Qt::CaseSensitive;
#endif

#if !defined(Q_OS_WIN)
// Kernel and virtual file systems: they hold no user files.
bool isPseudoFileSystem(const QByteArray& type)
{
    static const QSet<QByteArray> pseudo = {
        "autofs",          "binfmt_misc", "bpf",      "cgroup",   "cgroup2", "configfs",
        "debugfs",         "devpts",      "devtmpfs", "efivarfs", "fusectl", "hugetlbfs",
        "mqueue",          "nsfs",        "proc",     "pstore",   "ramfs",   "rpc_pipefs",
        "securityfs",      "selinuxfs",   "squashfs", "sysfs",    "tracefs", "devfs",
        "fuse.gvfsd-fuse", "fuse.portal", "nullfs",   "autofs4",  "tmpfs",
    };
    return pseudo.contains(type);
}

bool isUnder(const QString& path, const QString& folder)
{
    return path == folder || path.startsWith(folder + u'/');
}

// Mounts the system keeps for itself.
bool isSystemMount(const QString& path)
{
    if (path.startsWith(u"/run/media/"))
        return false;
    for (const char* folder : {"/proc", "/sys", "/dev", "/run", "/boot", "/snap", "/var/lib",
                               "/var/snap", "/System/Volumes", "/private/var/vm"}) {
        if (isUnder(path, QString::fromLatin1(folder)))
            return true;
    }
    return false;
}

bool isRemovableMount(const QString& path)
{
    return isUnder(path, QStringLiteral("/media")) || isUnder(path, QStringLiteral("/run/media")) ||
           isUnder(path, QStringLiteral("/mnt")) || isUnder(path, QStringLiteral("/Volumes"));
}
#endif

QList<Drive> machineDrives()
{
    QList<Drive> drives;
    QSet<QString> seen;
#if defined(Q_OS_WIN)
    for (const QFileInfo& root : QDir::drives()) {
        const QString path = QDir::toNativeSeparators(root.absoluteFilePath());
        const QString text = path.left(2).toUpper(); // "C:"
        if (!seen.contains(text)) {
            seen.insert(text);
            drives.append({text, text + u'\\'});
        }
    }
#else
    QList<Drive> removable;
    QList<Drive> others;
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString path = QDir::cleanPath(volume.rootPath());
        if (!volume.isValid() || seen.contains(path) || !QFileInfo(path).isDir())
            continue;
        if (path != u"/" && (isPseudoFileSystem(volume.fileSystemType()) || isSystemMount(path)))
            continue;
        seen.insert(path);
        const Drive drive{path, path};
        if (path == u"/")
            drives.append(drive);
        else if (isRemovableMount(path))
            removable.append(drive);
        else
            others.append(drive);
    }
    const auto byPath = [](const Drive& a, const Drive& b) { return a.rootPath < b.rootPath; };
    std::sort(removable.begin(), removable.end(), byPath);
    std::sort(others.begin(), others.end(), byPath);
    if (drives.isEmpty())
        drives.append({QStringLiteral("/"), QStringLiteral("/")});
    drives += removable + others;
#endif
    return drives;
}

} // namespace

QList<Drive> availableDrives()
{
    return driveSource() ? driveSource()() : machineDrives();
}

bool samePath(const QString& a, const QString& b)
{
    return a.compare(b, pathCase) == 0;
}

std::optional<Drive> driveHolding(const QString& path, const QList<Drive>& drives)
{
    const QString native = QDir::toNativeSeparators(path);
    std::optional<Drive> best;
    for (const Drive& drive : drives) {
        const auto holds = [&](const QString& root) {
            if (native.size() < root.size() || !samePath(native.left(root.size()), root))
                return false;
            // A whole folder name must match: "/media/usb" does not hold "/media/usb2".
            return native.size() == root.size() || root.endsWith(QDir::separator()) ||
                   native.at(root.size()) == QDir::separator();
        };
        if ((holds(drive.rootPath) || samePath(native, drive.text)) &&
            (!best || drive.rootPath.size() > best->rootPath.size()))
            best = drive;
    }
    return best;
}

QString joinPath(const QString& folder, const QString& name)
{
    return folder.endsWith(QDir::separator()) ? folder + name : folder + QDir::separator() + name;
}

void setDriveSource(std::function<QList<Drive>()> source)
{
    driveSource() = std::move(source);
}

} // namespace Marlet::FolderPicker
