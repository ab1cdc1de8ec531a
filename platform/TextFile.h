#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace platform {

// Decodes strict UTF-8: invalid input gives nothing, never replacement characters.
// A byte-order mark is kept as U+FEFF so that a rewrite does not drop it.
std::optional<QString> decodeUtf8(const QByteArray& bytes);

// Reads a whole file as strict UTF-8; nothing when it is missing, unreadable or not UTF-8.
std::optional<QString> readUtf8File(const QString& path);

// The same into buffers the caller keeps between calls: text holds the decoded file,
// bytes its raw content (both reused, so repeated reads need no fresh memory).
// False when the file is missing, unreadable or not UTF-8.
bool readUtf8File(const QString& path, QByteArray& bytes, QString& text);

// Reads a whole file's bytes; nothing when it is missing or unreadable.
std::optional<QByteArray> readFileBytes(const QString& path);

} // namespace platform
