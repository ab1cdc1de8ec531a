#pragma once

#include "platform/Bundle.h"
#include "platform/Gestalt.h"

#include <QString>

// Putting the menu extra into the menu bar and taking it out, through the menu-bar
// server, and the two checks the settings pane makes when it loads.

// The bundle identifier the loaded menu extra is looked up by, "com.orvane.quillo".
extern const QString kQLMenuExtraIdentifier;

// The system version as the system-version query reported it; 0 until known. A failed
// query leaves it 0, so the next call asks again.
extern platform::SInt32 gSystemVersion;
platform::SInt32 GetSystemVersion();

// Asks the server to load the auxiliary "MenuCracker.menu" and then Quillo.menu, both
// from the pane bundle's resources, every time.
void QL_AddMenuExtra(const platform::Bundle& paneBundle);
// Removes the loaded menu extra; nothing when none is loaded.
void QL_RemoveMenuExtra();
// Whether the server has the menu extra loaded.
bool QL_MenuExtraIsPresent();

// The reinstall alert when no installed pane is found, then the system-version alert
// when the system is older than level 10.4.0 or its version is unknown. Texts come
// from the pane's own bundle. Both only inform.
void QL_CheckInstallation(const platform::Bundle& paneBundle);
