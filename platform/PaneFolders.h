#pragma once

#include <QString>

#include <functional>
#include <optional>

namespace platform {

// The folder lookup for preference panes. The local domain is the machine-wide
// folder <install prefix>/share/PreferencePanes, the user domain is
// $XDG_DATA_HOME/PreferencePanes (normally ~/.local/share/PreferencePanes).
// A lookup never creates the folder; it fails (nothing) when the folder is missing.
enum class FolderDomain { Local, User };

std::optional<QString> preferencePanesFolder(FolderDomain domain);

// The fixed machine-wide folder that is searched after both lookups,
// "/Library/PreferencePanes".
QString fixedPreferencePanesFolder();

// Tests replace the lookup (an empty function restores the real one) and the
// fixed folder (nothing restores it); both are process-wide.
using PaneFolderLookup = std::function<std::optional<QString>(FolderDomain)>;
void setPreferencePanesFolderLookup(PaneFolderLookup lookup);
void setFixedPreferencePanesFolder(const std::optional<QString>& folder);

} // namespace platform
