#include "platform/AtomicFile.h"

#include "platform/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::mutex hookMutex;
BeforeReplaceHook hookSlot;

FileIdentity identityOf(const struct stat& st) {
    FileIdentity id;
    id.device = quint64(st.st_dev);
    id.inode = quint64(st.st_ino);
    id.size = qint64(st.st_size);
    id.modifiedSeconds = qint64(st.st_mtim.tv_sec);
    id.modifiedNanoseconds = qint64(st.st_mtim.tv_nsec);
    return id;
}

void runHook(const QString& path) {
    BeforeReplaceHook hook;
    {
        std::lock_guard lock(hookMutex);
        hook = hookSlot;
    }
    if (hook)
        hook(path);
}

// The rename is only durable once the folder entry is on disk.
// Gives 0 or the error number.
int syncFolder(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

} // namespace

std::optional<FileIdentity> fileIdentity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return identityOf(st);
}

std::optional<FileSnapshot> readFileSnapshot(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    struct stat st {};
    if (::fstat(file.handle(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    FileSnapshot snapshot;
    snapshot.identity = identityOf(st);
    snapshot.bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    return snapshot;
}

AtomicReplaceResult replaceFileAtomically(const QString& path, const QByteArray& bytes,
                                          const std::optional<FileIdentity>& expected) {
    // Write through a symbolic link to its target, as an in-place save would.
    const QFileInfo info(path);
    const QString target = info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath();
    if (target.isEmpty())
        return AtomicReplaceResult::Failed;
    const std::optional<QFileDevice::Permissions> permissions =
        info.exists() ? std::optional(QFile::permissions(target)) : std::nullopt;

    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return AtomicReplaceResult::Failed;
    if (file.write(bytes) != bytes.size() || !file.flush())
        return AtomicReplaceResult::Failed;
    if (permissions && !file.setPermissions(*permissions))
        return AtomicReplaceResult::Failed;
    if (::fsync(file.handle()) != 0)
        return AtomicReplaceResult::Failed;

    runHook(path);
    if (expected && fileIdentity(target) != expected)
        return AtomicReplaceResult::ChangedMeanwhile; // the save file discards itself

    if (!file.commit())
        return AtomicReplaceResult::Failed;
    // The new content is in place already; a folder that cannot be synced is noted,
    // not reported as a failed write.
    if (const int error = syncFolder(QFileInfo(target).absolutePath()))
        NSLog(QStringLiteral("replaceFileAtomically: Couldn't sync folder of %1 (%2)")
                  .arg(target, QString::fromLocal8Bit(std::strerror(error))));
    return AtomicReplaceResult::Replaced;
}

void setBeforeReplaceHook(BeforeReplaceHook hook) {
    std::lock_guard lock(hookMutex);
    hookSlot = std::move(hook);
}

} // namespace platform
