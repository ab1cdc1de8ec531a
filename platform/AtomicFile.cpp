#include "platform/AtomicFile.h"

#include "platform/Log.h"
#include "platform/TextFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

std::mutex hookMutex;
BeforeReplaceHook beforeReplaceSlot;
BeforeReplaceHook afterCheckSlot;
BeforeReplaceHook afterExchangeSlot;
BeforeReplaceHook beforePutBackSlot;
BeforeReplaceHook betweenReadsSlot;

FileIdentity identityOf(const struct stat& st) {
    FileIdentity id;
    id.device = quint64(st.st_dev);
    id.inode = quint64(st.st_ino);
    id.size = qint64(st.st_size);
    id.modifiedSeconds = qint64(st.st_mtim.tv_sec);
    id.modifiedNanoseconds = qint64(st.st_mtim.tv_nsec);
    return id;
}

void runHook(const BeforeReplaceHook& slot, const QString& path) {
    BeforeReplaceHook hook;
    {
        std::lock_guard lock(hookMutex);
        hook = slot;
    }
    if (hook)
        hook(path);
}

// The rename is only durable once the folder entry is on disk.
// Gives 0 or the error number.
int syncFolder(const QByteArray& folder) {
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const int error = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    return error;
}

// Temporary files are named after the file and the process that made them:
// ".<name>.quillo-<pid>-XXXXXX", hidden, and never taken for a calendar.
QByteArray temporaryPrefixOf(const QByteArray& folder, const QByteArray& name) {
    return folder + "/." + name + ".quillo-";
}

// Removes the temporary files that an earlier replace of this file left behind: those
// of this process (it replaces one file at a time) and those of processes that are
// gone. A replace that was killed before its rename leaves a full copy otherwise.
void removeStaleTemporaries(const QByteArray& folder, const QByteArray& name) {
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return;
    const QByteArray prefix = "." + name + ".quillo-";
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray entryName(entry->d_name);
        if (!entryName.startsWith(prefix))
            continue;
        const QByteArray rest = entryName.mid(prefix.size());
        const qsizetype dash = rest.indexOf('-');
        bool isNumber = false;
        const long pid = dash > 0 ? rest.left(dash).toLong(&isNumber) : 0;
        if (!isNumber || pid <= 0)
            continue;
        const bool gone = ::kill(pid_t(pid), 0) != 0 && errno == ESRCH;
        if (pid_t(pid) == self || gone)
            ::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

struct TemporaryFile {
    QByteArray path;
    int fd = -1;
    ~TemporaryFile() {
        if (fd >= 0)
            ::close(fd);
        if (!path.isEmpty())
            ::unlink(path.constData());
    }
    void keep() { path.clear(); }
};

bool createTemporary(const QByteArray& prefix, TemporaryFile& temporary) {
    QByteArray pattern = prefix + QByteArray::number(qint64(::getpid())) + "-XXXXXX";
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    temporary.fd = fd;
    temporary.path = pattern;
    return true;
}

// Swaps two names in one step; false with errno when the file system cannot.
bool exchangeNames(const QByteArray& a, const QByteArray& b) {
#ifdef RENAME_EXCHANGE
    return ::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_EXCHANGE) == 0;
#else
    errno = EINVAL;
    return false;
#endif
}

// Renames a to b only when b does not exist; false with errno (EEXIST when it does).
bool moveWithoutReplacing(const QByteArray& a, const QByteArray& b) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, a.constData(), AT_FDCWD, b.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL)
        return false;
#endif
    // Without the flag: a hard link fails when the name exists, and then a's name goes.
    if (::link(a.constData(), b.constData()) != 0)
        return false;
    ::unlink(a.constData());
    return true;
}

std::optional<FileIdentity> identityAt(const QByteArray& path) {
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return std::nullopt;
    return identityOf(st);
}

} // namespace

bool writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(std::min<qint64>(size, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

std::optional<FileIdentity> fileIdentity(const QString& path) {
    return identityAt(QFile::encodeName(path));
}

namespace {

bool readSnapshotOnce(const QString& path, FileSnapshot& snapshot) {
    struct stat before {};
    const int fd = openRegularFile(path, before);
    if (fd < 0)
        return false;
    snapshot.identity = identityOf(before);
    const bool read = readOpenFile(fd, qint64(before.st_size), snapshot.bytes);
    struct stat after {};
    const bool statted = ::fstat(fd, &after) == 0;
    ::close(fd);
    if (!read || !statted)
        return false;
    // An in-place save that ran while we read shows as a change of size or time.
    snapshot.settled =
        identityOf(after) == snapshot.identity && qint64(after.st_size) == snapshot.bytes.size();
    return true;
}

qint64 nanosecondsOf(const timespec& t) {
    return qint64(t.tv_sec) * 1000000000 + qint64(t.tv_nsec);
}

qint64 modifiedNanoseconds(const FileIdentity& identity) {
    return identity.modifiedSeconds * 1000000000 + identity.modifiedNanoseconds;
}

// A file changed this recently may still be in the middle of a save.
constexpr qint64 recentChangeNs = qint64(2000) * 1000000;
// Between the two reads of such a file: time for a save that writes over the file
// and truncates it last to finish.
constexpr qint64 secondReadPauseNs = qint64(10) * 1000000;
// How often a recently changed file that differs from one read to the next is read
// again before it counts as not settled.
constexpr int recentReadRounds = 3;
// The longest wait for the file system's clock to pass the file's time.
constexpr qint64 clockWaitLimitNs = qint64(50) * 1000000;

void sleepNs(qint64 ns) {
    const timespec pause{time_t(ns / 1000000000), long(ns % 1000000000)};
    ::nanosleep(&pause, nullptr);
}

// File times come from a coarse clock: writes within one of its ticks leave the time
// as it was. Once that clock has passed the time read, any later write shows.
void waitForTheFileClock(qint64 modified) {
    qint64 waited = 0;
    for (;;) {
        timespec coarse{};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &coarse);
        if (nanosecondsOf(coarse) > modified || waited >= clockWaitLimitNs)
            return;
        sleepNs(1000000);
        waited += 1000000;
    }
}

} // namespace

bool readFileSnapshot(const QString& path, FileSnapshot& snapshot) {
    if (!readSnapshotOnce(path, snapshot))
        return false;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    qint64 modified = modifiedNanoseconds(snapshot.identity);
    const qint64 age = nanosecondsOf(now) - modified;
    if (!snapshot.settled || age >= recentChangeNs)
        return true;
    // A save that writes over the file from its start and truncates it last leaves,
    // halfway, the new text followed by the old one's tail: a whole calendar to look
    // at, of the same size and, within a clock tick, the same time. Such a file is
    // read again a moment later, and only two reads that agree count as settled. When
    // they differ, the later one is checked the same way, a few times at most.
    thread_local FileSnapshot next;
    for (int round = 0; round < recentReadRounds; ++round) {
        sleepNs(secondReadPauseNs);
        if (age >= 0)
            waitForTheFileClock(modified);
        runHook(betweenReadsSlot, path);
        if (!readSnapshotOnce(path, next) || !next.settled)
            break;
        if (next.identity == snapshot.identity && next.bytes == snapshot.bytes)
            return true;
        std::swap(snapshot.bytes, next.bytes);
        snapshot.identity = next.identity;
        modified = modifiedNanoseconds(snapshot.identity);
    }
    snapshot.settled = false;
    return true;
}

std::optional<FileSnapshot> readFileSnapshot(const QString& path) {
    FileSnapshot snapshot;
    if (!readFileSnapshot(path, snapshot))
        return std::nullopt;
    return snapshot;
}

QString temporaryFilePrefix(const QString& path) {
    const QFileInfo info(path);
    return QFile::decodeName(temporaryPrefixOf(QFile::encodeName(info.absolutePath()),
                                               QFile::encodeName(info.fileName())));
}

AtomicReplaceResult replaceFileAtomically(const QString& path, const QByteArray& bytes,
                                          const std::optional<FileIdentity>& expected) {
    return replaceFileAtomically(path, std::vector<QByteArrayView>{QByteArrayView(bytes)},
                                 expected);
}

AtomicReplaceResult replaceFileAtomically(const QString& path,
                                          const std::vector<QByteArrayView>& pieces,
                                          const std::optional<FileIdentity>& expected) {
    // Write through a symbolic link to its target, as an in-place save would.
    const QFileInfo info(path);
    const QString targetPath =
        info.isSymLink() ? info.canonicalFilePath() : info.absoluteFilePath();
    if (targetPath.isEmpty())
        return AtomicReplaceResult::Failed;
    const QFileInfo targetInfo(targetPath);
    const QByteArray target = QFile::encodeName(targetPath);
    const QByteArray folder = QFile::encodeName(targetInfo.absolutePath());
    const QByteArray name = QFile::encodeName(targetInfo.fileName());

    struct stat old {};
    const bool exists = ::stat(target.constData(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode))
        return AtomicReplaceResult::Failed;

    removeStaleTemporaries(folder, name);
    TemporaryFile temporary;
    if (!createTemporary(temporaryPrefixOf(folder, name), temporary))
        return AtomicReplaceResult::Failed;
    for (const QByteArrayView piece : pieces) {
        if (!writeAll(temporary.fd, piece.data(), piece.size()))
            return AtomicReplaceResult::Failed;
    }
    const mode_t mode = exists ? (old.st_mode & 07777) : mode_t(0666 & ~[] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return mask;
    }());
    if (::fchmod(temporary.fd, mode) != 0)
        return AtomicReplaceResult::Failed;
    // Synced before the check, so that nothing slow stands between the check and the
    // replace.
    if (::fsync(temporary.fd) != 0 || ::close(temporary.fd) != 0) {
        temporary.fd = -1;
        return AtomicReplaceResult::Failed;
    }
    temporary.fd = -1;
    // Our own file, as written: after the exchange the target must still be this one
    // for a put-back to be safe.
    const std::optional<FileIdentity> ours = identityAt(temporary.path);
    if (!ours)
        return AtomicReplaceResult::Failed;

    runHook(beforeReplaceSlot, path);
    if (expected && identityAt(target) != expected)
        return AtomicReplaceResult::ChangedMeanwhile;
    runHook(afterCheckSlot, path);

    // After an exchange, the name of the temporary file holds what was displaced: it
    // must be the version we read. A save that landed between the check and the
    // exchange is put back in place.
    const bool exchanged = exists && exchangeNames(temporary.path, target);
    auto displacedChanged = [&] { return expected && identityAt(temporary.path) != expected; };
    auto putBack = [&] {
        runHook(beforePutBackSlot, path);
        // A second save that replaced or wrote into our file since the exchange is newer
        // than the one displaced: it stays where it is, and the caller starts again from
        // it. The displaced save, which it followed, goes with our temporary name.
        const std::optional<FileIdentity> now = identityAt(target);
        if (!now) {
            // Deleted meanwhile: the displaced save goes back under its name, unless a
            // newer file has taken the name since.
            if (moveWithoutReplacing(temporary.path, target)) {
                temporary.keep();
            } else if (errno != EEXIST) {
                temporary.keep(); // never delete what someone else saved
                return AtomicReplaceResult::Failed;
            }
            syncFolder(folder);
            return AtomicReplaceResult::ChangedMeanwhile;
        }
        if (now != ours)
            return AtomicReplaceResult::ChangedMeanwhile;
        if (!exchangeNames(temporary.path, target)) {
            NSLog(QStringLiteral("replaceFileAtomically: Couldn't put back %1 (%2)")
                      .arg(targetPath, QString::fromLocal8Bit(std::strerror(errno))));
            temporary.keep(); // never delete what someone else saved
            return AtomicReplaceResult::Failed;
        }
        // Such a save landing between that look and the put-back is now under our
        // temporary name: it goes back in its place, and what it displaced (the older
        // save) is deleted with our name.
        if (identityAt(temporary.path) != ours && !exchangeNames(temporary.path, target)) {
            temporary.keep();
            return AtomicReplaceResult::Failed;
        }
        syncFolder(folder);
        return AtomicReplaceResult::ChangedMeanwhile;
    };
    if (exchanged) {
        if (displacedChanged())
            return putBack();
        runHook(afterExchangeSlot, path);
    } else if (::rename(temporary.path.constData(), target.constData()) != 0) {
        return AtomicReplaceResult::Failed;
    } else {
        temporary.keep();
    }
    // The new content is in place already; a folder that cannot be synced is noted,
    // not reported as a failed write.
    if (const int error = syncFolder(folder))
        NSLog(QStringLiteral("replaceFileAtomically: Couldn't sync folder of %1 (%2)")
                  .arg(targetPath, QString::fromLocal8Bit(std::strerror(error))));
    // A program whose open found the old file just before the exchange writes into it
    // after the first look: a second look, right before that file is deleted, puts
    // such a save back too.
    if (exchanged && displacedChanged())
        return putBack();
    return AtomicReplaceResult::Replaced;
}

void setBeforeReplaceHook(BeforeReplaceHook hook) {
    std::lock_guard lock(hookMutex);
    beforeReplaceSlot = std::move(hook);
}

void setAfterCheckHook(BeforeReplaceHook hook) {
    std::lock_guard lock(hookMutex);
    afterCheckSlot = std::move(hook);
}

void setAfterExchangeHook(BeforeReplaceHook hook) {
    std::lock_guard lock(hookMutex);
    afterExchangeSlot = std::move(hook);
}

void setBeforePutBackHook(BeforeReplaceHook hook) {
    std::lock_guard lock(hookMutex);
    beforePutBackSlot = std::move(hook);
}

void setBetweenReadsHook(BeforeReplaceHook hook) {
    std::lock_guard lock(hookMutex);
    betweenReadsSlot = std::move(hook);
}

} // namespace platform
