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

// Reads a whole file's bytes; nothing when it is missing or unreadable.
std::optional<QByteArray> readFileBytes(const QString& path);

} // namespace platform
