#include "QL_Preference_Pane/QL_MenuExtraInstall.h"

#include "platform/Alert.h"
#include "platform/CoreMenuExtra.h"
#include "platform/Log.h"
#include "shared/QL_PanePath.h"

#include <QDir>
#include <QUrl>

const QString kQLMenuExtraIdentifier = QStringLiteral("com.orvane.quillo");

platform::SInt32 gSystemVersion = 0;

namespace {

QString text(const platform::Bundle& bundle, const char* key) {
    return bundle.localizedStringForKey(QLatin1String(key), QString(), QStringLiteral("Quillo"));
}

void showAlert(const platform::Bundle& bundle, const char* title, const char* message) {
    platform::Alert alert;
    alert.style = platform::AlertStyle::Warning;
    alert.title = text(bundle, title);
    alert.message = text(bundle, message);
    alert.buttons = {text(bundle, "OK_BUTTON")};
    platform::runModalAlert(alert);
}

} // namespace

platform::SInt32 GetSystemVersion() {
    if (gSystemVersion == 0 &&
        platform::Gestalt(platform::gestaltSystemVersion, &gSystemVersion) != platform::noErr)
        gSystemVersion = 0;
    return gSystemVersion;
}

void QL_AddMenuExtra(const platform::Bundle& paneBundle) {
    // The auxiliary bundle goes first; the server answers for it alone.
    const QString cracker = QDir(paneBundle.resourcePath()).filePath("MenuCracker.menu");
    std::int32_t scratch = 0;
    platform::CoreMenuExtraAddMenuExtra(QUrl::fromLocalFile(cracker), 0, 0, 0, 0, &scratch);

    const std::optional<QString> menuExtra =
        paneBundle.pathForResource(QStringLiteral("Quillo"), QStringLiteral("menu"));
    if (!menuExtra) {
        platform::NSLog(QStringLiteral(
            "Quillo :: addMenuExtra :: Quillo.menu is missing from the settings pane"));
        return;
    }
    platform::CoreMenuExtraAddMenuExtra(QUrl::fromLocalFile(*menuExtra), 0, 0, 0, 0, nullptr);
}

void QL_RemoveMenuExtra() {
    platform::CoreMenuExtraRef ref = nullptr;
    if (platform::CoreMenuExtraGetMenuExtra(kQLMenuExtraIdentifier, &ref) == 0)
        platform::CoreMenuExtraRemoveMenuExtra(ref, 0);
}

bool QL_MenuExtraIsPresent() {
    platform::CoreMenuExtraRef ref = nullptr;
    platform::CoreMenuExtraGetMenuExtra(kQLMenuExtraIdentifier, &ref);
    return ref != nullptr;
}

void QL_CheckInstallation(const platform::Bundle& paneBundle) {
    if (!pathToPreferencePane())
        showAlert(paneBundle, "REINSTALL_NEEDED_TITLE", "REINSTALL_NEEDED_TEXT");
    if (GetSystemVersion() <= 0x103F)
        showAlert(paneBundle, "MAC_OS_X_10_4_REQUIRED_TITLE", "MAC_OS_X_10_4_REQUIRED_TEXT");
}
