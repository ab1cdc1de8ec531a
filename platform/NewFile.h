#pragma once

#include "platform/AtomicFile.h"

#include <QByteArrayView>
#include <QString>

namespace platform {

// Creates the file at path with bytes: written and synced under a hidden temporary
// name in the same folder, then linked into place, so that a file already there is
// never overwritten. False when path exists already or a step failed; nothing is left
// behind then.
bool createFileExclusively(const QString& path, QByteArrayView bytes);

enum class RemoveResult {
    Removed,          // the file is gone, and the folder synced
    ChangedMeanwhile, // the file is no longer the version given; it stays
    Failed,
};

// Removes the file at path when it still has the identity given.
RemoveResult removeFileIfUnchanged(const QString& path, const FileIdentity& expected);

} // namespace platform
