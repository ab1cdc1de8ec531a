// Cost of the settings store and the text lookup as the menu uses them: getters
// (each goes to the preferences service), setters (each writes the file and posts),
// the pane search and a text fetched through it. Prints figures; asserts nothing.
#include "platform/Preferences.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

template <typename F> double microsecondsPerCall(int count, F&& f) {
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        f(i);
    return double(timer.nsecsElapsed()) / 1000.0 / count;
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/.config"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/.local/share"));
    // A private bus is not needed: posts go to the session bus if there is one.
    QCoreApplication app(argc, argv);
    QL_Preferences& prefs = QL_Preferences::sharedPreferences();

    const double setter = microsecondsPerCall(200, [&](int i) { prefs.setSortOrder(i % 5); });
    int sink = 0;
    const double getter = microsecondsPerCall(20000, [&](int) { sink += prefs.sortOrder(); });
    const double sync = microsecondsPerCall(
        500, [&](int) { platform::preferencesAppSynchronize(kQLApplicationID); });

    const QString panes = home.path() + "/.local/share/PreferencePanes";
    QDir().mkpath(panes);
    QFile::link(QStringLiteral(QUILLO_BUILD_DIR "/Quillo.prefPane"), panes + "/Quillo.prefPane");
    const double search =
        microsecondsPerCall(2000, [&](int) { sink += bool(pathToPreferencePane()); });
    const double text = microsecondsPerCall(
        2000, [&](int) { sink += QL_LocalizedString(QStringLiteral("TODAY")).size(); });

    std::printf("setter (set, write file, post):      %8.1f us\n", setter);
    std::printf("getter:                              %8.2f us\n", getter);
    std::printf("synchronise, nothing to write:       %8.1f us\n", sync);
    std::printf("pathToPreferencePane:                %8.1f us\n", search);
    std::printf("QL_LocalizedString (search + table): %8.1f us\n", text);
    return sink == -1;
}
