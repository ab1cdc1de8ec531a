#pragma once

// What every test of Quillo in a tray starts from: the settings pane linked into the
// test home, the sample store copied there, no update check. Included by tests that
// define QUILLO_BUILD_DIR, QUILLO_TESTS_DIR and (for writeSetting) QUILLO_SETTINGS_HELPER.
#include "common/TestEnv.h"
#include "shared/QL_Preferences.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QUrl>

namespace traytest {

inline QString paneLink() {
    return testenv::dataHome() + QStringLiteral("/PreferencePanes/Quillo.prefPane");
}

inline QUrl quilloMenuURL() {
    return QUrl::fromLocalFile(paneLink() + QStringLiteral("/Contents/Resources/Quillo.menu"));
}

inline bool installQuilloWithSampleStore() {
    if (!QDir().mkpath(testenv::dataHome() + QStringLiteral("/PreferencePanes")) ||
        !QFile::link(QStringLiteral(QUILLO_BUILD_DIR "/Quillo.prefPane"), paneLink()) ||
        QProcess::execute(QStringLiteral("cp"),
                          {QStringLiteral("-r"),
                           QStringLiteral(QUILLO_TESTS_DIR "/data/store/sample/iCal"),
                           testenv::dataHome()}) != 0)
        return false;
    QL_Preferences::sharedPreferences().setCheckForUpdatesOnLaunch(false);
    return true;
}

#ifdef QUILLO_SETTINGS_HELPER
// A setting written by another process, as the settings window writes it.
inline int writeSetting(const char* key, const char* value) {
    return QProcess::execute(
        QStringLiteral(QUILLO_SETTINGS_HELPER),
        {QStringLiteral("write"), QString::fromLatin1(key), QString::fromLatin1(value)});
}
#endif

} // namespace traytest
