#include "shared/QL_PanePath.h"

#include "platform/Bundle.h"
#include "platform/PaneFolders.h"

#include <QDir>
#include <QFileInfo>

namespace {

const QString paneName = QStringLiteral("Quillo.prefPane");

} // namespace

std::optional<QString> pathToPreferencePane() {
    QString candidate;
    if (const std::optional<QString> local =
            platform::preferencePanesFolder(platform::FolderDomain::Local)) {
        candidate = *local + QLatin1Char('/') + paneName;
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    if (const std::optional<QString> user =
            platform::preferencePanesFolder(platform::FolderDomain::User)) {
        candidate = *user + QLatin1Char('/') + paneName;
        if (QFileInfo::exists(candidate))
            return candidate;
    }
    const QString fixed = platform::fixedPreferencePanesFolder() + QLatin1Char('/') + paneName;
    if (QFileInfo::exists(fixed))
        return fixed;
    const QString inHome =
        QDir::homePath() + QStringLiteral("/Library/PreferencePanes/") + paneName;
    if (QFileInfo::exists(inHome))
        return inHome;
    return std::nullopt;
}

QString QL_LocalizedString(const QString& key) {
    return QL_LocalizedString(key, pathToPreferencePane());
}

QString QL_LocalizedString(const QString& key, const std::optional<QString>& panePath) {
    if (!panePath)
        return QString();
    const std::shared_ptr<const platform::Bundle> pane =
        platform::Bundle::bundleWithPath(*panePath);
    if (!pane)
        return QString();
    return pane->localizedStringForKey(key, QString(), QStringLiteral("Quillo"));
}
