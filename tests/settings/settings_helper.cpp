// A second process for the cross-process tests of the settings store and the
// notification centre. Modes:
//   write KEY VALUE        set an integer setting through QL_Preferences and exit
//   writemany PREFIX COUNT set PREFIX0..PREFIX<COUNT-1> one by one, each written at once
//   rewrite KEY COUNT      set KEY to 1000, 1001, ... (same length each time), each written
//                          at once
//   nobus                  post twice with observers in this process; print what arrived
//   observe NAME SECONDS   print every notification of NAME arriving within SECONDS
#include "platform/DistributedNotificationCenter.h"
#include "platform/Log.h"
#include "platform/Preferences.h"
#include "shared/QL_Preferences.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QThread>
#include <QTimer>

#include <cstdio>

using platform::DistributedNotificationCenter;

namespace {

// A blocking round trip on the bus: the signals posted before it have left this
// process when it returns.
void flushBus() {
    if (QDBusConnection::sessionBus().isConnected())
        QDBusConnection::sessionBus().interface()->isServiceRegistered(
            QStringLiteral("org.freedesktop.DBus"));
}

void out(const QString& line) {
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);

    if (mode == QLatin1String("write") && args.size() == 3) {
        QL_Preferences::sharedPreferences().setObject(args.at(2).toInt(), args.at(1));
        flushBus();
        return 0;
    }
    if (mode == QLatin1String("writemany") && args.size() == 3) {
        const int count = args.at(2).toInt();
        for (int i = 0; i < count; ++i) {
            platform::preferencesSetAppValue(args.at(1) + QString::number(i), i, kQLApplicationID);
            if (!platform::preferencesAppSynchronize(kQLApplicationID))
                return 2;
        }
        return 0;
    }
    if (mode == QLatin1String("rewrite") && args.size() == 3) {
        const int count = args.at(2).toInt();
        for (int i = 0; i < count; ++i) {
            platform::preferencesSetAppValue(args.at(1), 1000 + i, kQLApplicationID);
            if (!platform::preferencesAppSynchronize(kQLApplicationID))
                return 2;
        }
        return 0;
    }
    if (mode == QLatin1String("nobus")) {
        int logLines = 0;
        platform::setLogCapture([&](const QString&) { ++logLines; });
        int named = 0;
        int all = 0;
        bool onMain = true;
        auto& center = DistributedNotificationCenter::defaultCenter();
        center.addObserver(&named, QStringLiteral("N"), [&](const QString&, const QString&) {
            ++named;
            onMain = onMain && QThread::currentThread() == app.thread();
        });
        center.addObserver(&all, std::nullopt, [&](const QString&, const QString&) { ++all; });
        center.postNotificationName(QStringLiteral("N"), QStringLiteral("o"));
        QThread* poster = QThread::create(
            [&] { center.postNotificationName(QStringLiteral("N"), QStringLiteral("o")); });
        poster->start();
        poster->wait();
        delete poster;
        QTimer::singleShot(200, &app, &QCoreApplication::quit);
        app.exec();
        out(QStringLiteral("named=%1 all=%2 main=%3 log=%4")
                .arg(named)
                .arg(all)
                .arg(onMain ? 1 : 0)
                .arg(logLines));
        return 0;
    }
    if (mode == QLatin1String("observe") && args.size() == 3) {
        int seen = 0;
        DistributedNotificationCenter::defaultCenter().addObserver(
            &seen, args.at(1), [&](const QString& name, const QString& object) {
                ++seen;
                out(QStringLiteral("got %1 %2 main=%3")
                        .arg(name, object)
                        .arg(QThread::currentThread() == app.thread() ? 1 : 0));
            });
        flushBus();
        out(QStringLiteral("ready"));
        QTimer::singleShot(args.at(2).toInt() * 1000, &app, &QCoreApplication::quit);
        app.exec();
        out(QStringLiteral("seen=%1").arg(seen));
        return 0;
    }
    std::fprintf(stderr, "usage: settings_helper write|writemany|nobus|observe ...\n");
    return 64;
}
