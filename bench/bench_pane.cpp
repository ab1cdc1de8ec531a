// The settings pane's refresh: how long one updateUI takes (every control set from the
// settings, the 208-entry hot-key popup rebuilt, the menu-bar server asked), and the
// popup's entries alone. Run it on a session bus with or without a menu-bar server.
#include "QL_Preference_Pane/QL_HotKeyMenu.h"
#include "QL_Preference_Pane/QL_Preference_PanePref.h"
#include "platform/Preferences.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_DATA_HOME", (home.path() + "/data").toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::setPersistentDomain({{"firstRun", false}}, kQLApplicationID);
    platform::preferencesAppSynchronize(kQLApplicationID);

    QL_Preference_PanePref pane(
        platform::Bundle::bundleWithPath(QStringLiteral(QUILLO_BUILD_DIR "/Quillo.prefPane")));
    pane.loadMainView();

    constexpr int rounds = 200;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < rounds; ++i)
        pane.updateUI();
    std::printf("updateUI: %.3f ms each (%d rounds)\n", timer.nsecsElapsed() / 1e6 / rounds,
                rounds);

    timer.restart();
    std::size_t entries = 0;
    for (int i = 0; i < rounds; ++i)
        entries += QL_HotKeyMenuEntries().size();
    std::printf("hot-key entries: %.3f ms per list of %zu\n", timer.nsecsElapsed() / 1e6 / rounds,
                entries / rounds);
    return 0;
}
