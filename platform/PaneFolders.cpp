#include "platform/PaneFolders.h"

#include "platform/Folders.h"

#include <QDir>
#include <QFileInfo>

#include <mutex>

#ifndef QUILLO_INSTALL_PREFIX
#define QUILLO_INSTALL_PREFIX "/usr/local"
#endif

namespace platform {
namespace {

struct Overrides {
    std::mutex mutex;
    PaneFolderLookup lookup;
    std::optional<QString> fixedFolder;
};

Overrides& overrides() {
    static Overrides o;
    return o;
}

std::optional<QString> realLookup(FolderDomain domain) {
    const QString folder =
        domain == FolderDomain::Local
            ? QDir::cleanPath(QStringLiteral(QUILLO_INSTALL_PREFIX "/share/PreferencePanes"))
            : applicationSupportFolder() + QStringLiteral("/PreferencePanes");
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    return folder;
}

} // namespace

std::optional<QString> preferencePanesFolder(FolderDomain domain) {
    PaneFolderLookup lookup;
    {
        std::lock_guard lock(overrides().mutex);
        lookup = overrides().lookup;
    }
    return lookup ? lookup(domain) : realLookup(domain);
}

QString fixedPreferencePanesFolder() {
    std::lock_guard lock(overrides().mutex);
    return overrides().fixedFolder.value_or(QStringLiteral("/Library/PreferencePanes"));
}

void setPreferencePanesFolderLookup(PaneFolderLookup lookup) {
    std::lock_guard lock(overrides().mutex);
    overrides().lookup = std::move(lookup);
}

void setFixedPreferencePanesFolder(const std::optional<QString>& folder) {
    std::lock_guard lock(overrides().mutex);
    overrides().fixedFolder = folder;
}

} // namespace platform
