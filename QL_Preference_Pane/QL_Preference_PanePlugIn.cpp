// The entry point of the Quillo.prefPane plug-in: the preferences host asks it for the
// principal class as an NSPreferencePane.
#include "QL_Preference_Pane/QL_Preference_PanePref.h"
#include "platform/PlugIn.h"

using platform::NSPreferencePane;

QUILLO_PLUGIN_PRINCIPAL_CLASS(NSPreferencePane, QL_Preference_PanePref);
