#pragma once

#include <QString>

#include <optional>

// The installed Quillo.prefPane, the source of every localised text. Searched anew
// on each call, in this order; the first that exists wins:
//   1. the local domain's preference-panes folder, <install prefix>/share/PreferencePanes;
//   2. the user domain's, $XDG_DATA_HOME/PreferencePanes (normally
//      ~/.local/share/PreferencePanes);
//   3. /Library/PreferencePanes/Quillo.prefPane;
//   4. ~/Library/PreferencePanes/Quillo.prefPane.
// Nothing when none holds it.
//
// Tests make the pane findable by creating $XDG_DATA_HOME/PreferencePanes/Quillo.prefPane
// as a symbolic link to ${CMAKE_BINARY_DIR}/Quillo.prefPane (the bundle the build lays
// out): the link is followed, so step 2 finds it as long as no pane is installed in the
// local domain of the machine.
std::optional<QString> pathToPreferencePane();

// The text for a key from the table "Quillo" of the pane found by
// pathToPreferencePane(), in the user's language; empty when the pane or the key is
// missing.
QString QL_LocalizedString(const QString& key);

// The same from the pane at a path already found (callers that keep the path);
// empty when the path is nothing.
QString QL_LocalizedString(const QString& key, const std::optional<QString>& panePath);
