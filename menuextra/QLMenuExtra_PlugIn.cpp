// The entry point of the Quillo.menu plug-in: the host creates QLMenuExtra through it.
#include "menuextra/QLMenuExtra.h"
#include "platform/PlugIn.h"

QUILLO_PLUGIN_PRINCIPAL_CLASS(NSMenuExtra, QLMenuExtra);
