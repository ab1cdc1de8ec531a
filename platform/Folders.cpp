#include "platform/Folders.h"

#include <QDir>
#include <QStandardPaths>

namespace platform {

QString applicationSupportFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (folder.isEmpty())
        folder = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(folder);
}

} // namespace platform
