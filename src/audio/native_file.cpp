#include "native_file.h"

#include "files/file_names.h"

#include <QFileInfo>

#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace Marlet::Audio {

#ifdef Q_OS_UNIX // POSIX: file types, descriptors and the errors of open()

namespace {

QString notRegular(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("it is a folder, not a file");
    const char* kind = S_ISFIFO(mode)                   ? "a named pipe"
                       : S_ISSOCK(mode)                 ? "a socket"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
                                                        : "a special file";
    return QStringLiteral("it is not a regular file (%1)").arg(QLatin1String(kind));
}

QString reasonFor(int error, bool writing)
{
    switch (error) {
    case ENOENT:
        return writing ? QStringLiteral("its folder does not exist")
                       : QStringLiteral("the file does not exist");
    case ENAMETOOLONG:
        return QStringLiteral("its name is longer than the system allows");
    case ENOTDIR:
        return QStringLiteral("a part of its path is not a folder");
    case EACCES:
        return QStringLiteral("permission is denied");
    default:
        return QStringLiteral("the file cannot be %1 (%2)")
            .arg(QLatin1String(writing ? "written" : "read"), qt_error_string(error));
    }
}

// Closes the descriptor it holds unless it was released.
struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release() { return std::exchange(fd, -1); }
};

bool sameFile(const struct stat& a, const QString& path)
{
    struct stat b = {};
    return ::stat(QFile::encodeName(path).constData(), &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

} // namespace

bool openRegularFile(QFile* file, QIODevice::OpenMode mode, QString* reason)
{
    const QByteArray name = Files::toNative(file->fileName());
    const bool writing = mode.testFlag(QIODevice::WriteOnly);
    // What the name is comes first: a socket or a device is never opened at all.
    struct stat status = {};
    if (::stat(name.constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
        *reason = notRegular(status.st_mode);
        return false;
    }
    // Without waiting, should the name have become a named pipe since.
    const int flags = writing ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY;
    Descriptor opened{::open(name.constData(), flags | O_NONBLOCK | O_CLOEXEC, 0666)};
    if (opened.fd < 0 || ::fstat(opened.fd, &status) != 0) {
        *reason = reasonFor(errno, writing);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        *reason = notRegular(status.st_mode);
        return false;
    }
    ::fcntl(opened.fd, F_SETFL, ::fcntl(opened.fd, F_GETFL) & ~O_NONBLOCK);
    if (!file->open(opened.fd, mode, QFileDevice::AutoCloseHandle)) {
        *reason = file->errorString();
        return false;
    }
    opened.release();
    return true;
}

QString whereIsOpenFile(const QFile& file, const QString& path)
{
    struct stat opened = {};
    if (::fstat(file.handle(), &opened) != 0 || opened.st_nlink == 0)
        return {};
    if (sameFile(opened, path))
        return path;
#ifdef Q_OS_LINUX
    const QString now =
        QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(file.handle())).symLinkTarget();
    if (!now.isEmpty() && sameFile(opened, now))
        return now;
#endif
    return {};
}

#else // Qt alone: no special files to tell apart, and no way to follow a moved file

bool openRegularFile(QFile* file, QIODevice::OpenMode mode, QString* reason)
{
    const QFileInfo info(file->fileName());
    if (info.isDir())
        *reason = QStringLiteral("it is a folder, not a file");
    else if (info.exists() && !info.isFile())
        *reason = QStringLiteral("it is not a regular file");
    else if (!file->open(mode))
        *reason = info.exists() || mode.testFlag(QIODevice::WriteOnly)
                      ? file->errorString()
                      : QStringLiteral("the file does not exist");
    else
        return true;
    return false;
}

QString whereIsOpenFile(const QFile& /*file*/, const QString& path)
{
    return QFileInfo::exists(path) ? path : QString();
}

#endif

} // namespace Marlet::Audio
