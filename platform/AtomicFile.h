#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace platform {

// What tells one version of a file from another: the file itself (device and
// inode, which an atomic replace changes), its size and its modification time.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedSeconds = 0;
    qint64 modifiedNanoseconds = 0;

    friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// The identity of the file at path now; nothing when it does not exist.
std::optional<FileIdentity> fileIdentity(const QString& path);

struct FileSnapshot {
    QByteArray bytes;
    FileIdentity identity; // taken before reading, so a change while reading shows later
    // The file was the same before and after reading, and as long as what was read:
    // nobody wrote to it meanwhile. A file changed within the last 2 s is read twice,
    // a moment apart, and is settled only when both reads agree.
    bool settled = false;
};

// Reads a whole regular file together with its identity; nothing when it is missing,
// unreadable, not a regular file or larger than maxReadableFileSize (TextFile.h).
std::optional<FileSnapshot> readFileSnapshot(const QString& path);
// The same into a snapshot the caller keeps between reads, so that the memory of its
// bytes is reused; false when the file cannot be read.
bool readFileSnapshot(const QString& path, FileSnapshot& snapshot);

enum class AtomicReplaceResult {
    Replaced,         // the new bytes are in place and on disk
    ChangedMeanwhile, // the file is no longer the version given; nothing was written
    Failed,           // a step failed; the old file is untouched
};

// Replaces the file at path by bytes atomically: a temporary file in the same folder,
// written and synced, takes the old file's permissions and then takes the old file's
// place; then the folder is synced. When expected is given, the file must still have
// that identity: it is checked right before the replace, and where the file system
// can exchange two names atomically, the file displaced is checked again and put back
// when it is not the one expected. Temporary files that an earlier, interrupted
// replace of the same file left behind are removed first.
AtomicReplaceResult replaceFileAtomically(const QString& path, const QByteArray& bytes,
                                          const std::optional<FileIdentity>& expected);
// The same with the new content given as pieces, written one after the other: a large
// file changed in one place need not be copied into one buffer first.
AtomicReplaceResult replaceFileAtomically(const QString& path,
                                          const std::vector<QByteArrayView>& pieces,
                                          const std::optional<FileIdentity>& expected);

// Writes all size bytes to fd, going on after a short write or a signal; false on an
// error.
bool writeAll(int fd, const char* data, qint64 size);

// The prefix of the temporary files a replace of path makes beside it.
QString temporaryFilePrefix(const QString& path);

// Tests: called with the path just before the identity check of every replace,
// so a test can change the file between the read and the rename.
using BeforeReplaceHook = std::function<void(const QString& path)>;
void setBeforeReplaceHook(BeforeReplaceHook hook);
// Tests: called with the path right after the identity check, before the replace.
void setAfterCheckHook(BeforeReplaceHook hook);
// Tests: called with the path right after an exchange and the first look at the file
// it displaced.
void setAfterExchangeHook(BeforeReplaceHook hook);
// Tests: called with the path when a displaced save is about to be put back.
void setBeforePutBackHook(BeforeReplaceHook hook);
// Tests: called with the path between the two reads of a recently changed file.
void setBetweenReadsHook(BeforeReplaceHook hook);

} // namespace platform
