#pragma once

// The menu-bar server's three calls, as the settings pane makes them. The pane reaches
// the server only through this file.

#include <QString>
#include <QUrl>

#include <functional>

namespace QL_MenuBar {

// A loaded menu extra as the server names it; empty for none.
using MenuExtraRef = QString;

// Asks the server to load the menu-extra bundle at the file URL; the server's answer
// goes to result when given.
int addMenuExtra(const QUrl& location, int* result);
// 0 with ref set when a menu extra with the bundle identifier is loaded; any other
// value when none is.
int getMenuExtra(const QString& identifier, MenuExtraRef* ref);
// Takes the menu extra out of the menu bar.
int removeMenuExtra(const MenuExtraRef& ref);

// Tests stand in for the server. An empty member restores the real call.
struct Calls {
    std::function<int(const QUrl&, int*)> add;
    std::function<int(const QString&, MenuExtraRef*)> get;
    std::function<int(const MenuExtraRef&)> remove;
};
void setCallsForTesting(Calls calls);

} // namespace QL_MenuBar
