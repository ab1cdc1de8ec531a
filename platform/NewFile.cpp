#include "platform/NewFile.h"

#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {

namespace {

void syncFolderOf(const QString& path) {
    const int fd = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                          O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// Moves from to to unless to exists: for file systems without hard links.
bool renameNoReplace(const QByteArray& from, const QByteArray& to) {
#ifdef SYS_renameat2
    return ::syscall(SYS_renameat2, AT_FDCWD, from.constData(), AT_FDCWD, to.constData(),
                     RENAME_NOREPLACE) == 0;
#else
    (void)from;
    (void)to;
    errno = ENOSYS;
    return false;
#endif
}

} // namespace

bool createFileExclusively(const QString& path, QByteArrayView bytes) {
    const QByteArray target = QFile::encodeName(path);
    const QByteArray temporary =
        QFile::encodeName(QFileInfo(path).absolutePath() + QStringLiteral("/.quillo-new-") +
                          QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".tmp"));
    const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const bool written = writeAll(fd, bytes.data(), bytes.size()) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    bool placed = false;
    if (written && closed) {
        if (::link(temporary.constData(), target.constData()) == 0) {
            placed = true;
            ::unlink(temporary.constData());
        } else if (errno != EEXIST && renameNoReplace(temporary, target)) {
            placed = true;
        }
    }
    if (!placed)
        ::unlink(temporary.constData());
    else
        syncFolderOf(path);
    return placed;
}

RemoveResult removeFileIfUnchanged(const QString& path, const FileIdentity& expected) {
    const std::optional<FileIdentity> now = fileIdentity(path);
    if (!now || !(*now == expected))
        return RemoveResult::ChangedMeanwhile;
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return RemoveResult::Failed;
    syncFolderOf(path);
    return RemoveResult::Removed;
}

} // namespace platform
