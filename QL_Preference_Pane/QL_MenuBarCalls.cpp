#include "QL_Preference_Pane/QL_MenuBarCalls.h"

#include "platform/Log.h"

namespace QL_MenuBar {
namespace {

Calls& testCalls() {
    static Calls calls;
    return calls;
}

// No menu-bar server client in this build yet: every request is refused.
constexpr int notAvailable = -1;

void logUnavailable(const char* call) {
    platform::NSLog(
        QStringLiteral("Quillo :: %1 :: no menu-bar server to ask").arg(QLatin1String(call)));
}

} // namespace

int addMenuExtra(const QUrl& location, int* result) {
    if (testCalls().add)
        return testCalls().add(location, result);
    logUnavailable("addMenuExtra");
    if (result)
        *result = notAvailable;
    return notAvailable;
}

int getMenuExtra(const QString& identifier, MenuExtraRef* ref) {
    if (testCalls().get)
        return testCalls().get(identifier, ref);
    return notAvailable;
}

int removeMenuExtra(const MenuExtraRef& ref) {
    if (testCalls().remove)
        return testCalls().remove(ref);
    logUnavailable("removeMenuExtra");
    return notAvailable;
}

void setCallsForTesting(Calls calls) {
    testCalls() = std::move(calls);
}

} // namespace QL_MenuBar
