#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

struct stat;

namespace platform {

// Files larger than this are refused as unreadable: nothing Quillo reads is near it,
// and a sparse or endless file would otherwise take all memory.
inline constexpr qint64 maxReadableFileSize = qint64(256) * 1024 * 1024;

// Opens a regular file of at most maxReadableFileSize for reading. The type is checked
// before the file is opened (a FIFO would block the open, a device never end), and
// again on the open descriptor. Gives the descriptor and fills status, or -1.
int openRegularFile(const QString& path, struct stat& status);

// Reads what is left of an open file into bytes (reused); false on a read error or
// when it grows beyond maxReadableFileSize.
bool readOpenFile(int fd, qint64 sizeHint, QByteArray& bytes);

// Decodes strict UTF-8: invalid input gives nothing, never replacement characters.
// A byte-order mark is kept as U+FEFF so that a rewrite does not drop it.
std::optional<QString> decodeUtf8(const QByteArray& bytes);
// The same into a text the caller keeps between calls, so that its memory is reused.
bool decodeUtf8(const QByteArray& bytes, QString& text);

// Reads a whole file as strict UTF-8; nothing when it is missing, unreadable or not UTF-8.
std::optional<QString> readUtf8File(const QString& path);

// The same into buffers the caller keeps between calls: text holds the decoded file,
// bytes its raw content (both reused, so repeated reads need no fresh memory).
// False when the file is missing, unreadable or not UTF-8.
bool readUtf8File(const QString& path, QByteArray& bytes, QString& text);

// Reads a whole file's bytes; nothing when it is missing or unreadable.
std::optional<QByteArray> readFileBytes(const QString& path);

} // namespace platform
