#include "menuextra/store/QL_CalendarStore.h"

#include "shared/QL_Preferences.h"

namespace ql {

bool hidesSubscribedCalendars() {
    return QL_Preferences::sharedPreferences().hideSubscribedCalendars();
}

} // namespace ql
