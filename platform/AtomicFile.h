#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

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
};

// Reads a whole file together with its identity; nothing when it is missing or unreadable.
std::optional<FileSnapshot> readFileSnapshot(const QString& path);

enum class AtomicReplaceResult {
    Replaced,         // the new bytes are in place and on disk
    ChangedMeanwhile, // the file is no longer the version given; nothing was written
    Failed,           // a step failed; the old file is untouched
};

// Replaces the file at path by bytes atomically: a temporary file in the same
// folder, written, flushed and synced, takes the old file's permissions and is
// renamed over it; then the folder is synced. When expected is given, the file
// must still have that identity just before the rename.
AtomicReplaceResult replaceFileAtomically(const QString& path, const QByteArray& bytes,
                                          const std::optional<FileIdentity>& expected);

// Tests: called with the path just before the identity check of every replace,
// so a test can change the file between the read and the rename.
using BeforeReplaceHook = std::function<void(const QString& path)>;
void setBeforeReplaceHook(BeforeReplaceHook hook);

} // namespace platform
