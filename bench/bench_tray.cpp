// Quillo in a real tray under the X server of the environment (run it under xvfb-run):
//   1. from a click on the tray icon to the menu window mapped, with 1,000 to-dos in the
//      menu: median and spread over several clicks;
//   2. the menu-bar server's CPU time over 30 idle seconds with the store watched, and how
//      often its threads woke up;
//   3. the exported menu of the same 1,000 to-dos as a StatusNotifierItem host gets it:
//      the host's AboutToShow (the store read, the menu and the exported menu rebuilt) and
//      its GetLayout answered, and GetLayout alone. "bench_tray --exported" runs only this;
//      BENCH_NO_ICONS=1 turns the items' icons off, to see what their pictures cost.
// The server runs on a session bus of the benchmark's own, trayer is the tray.
#include "StatusNotifierPeer.h"
#include "TrayTestSupport.h"
#include "bench/BenchMemory.h"
#include "common/TestEnv.h"

#include "platform/CoreMenuExtra.h"
#include "platform/PropertyList.h"
#include "shared/QL_Preferences.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int kCalendars = 20;
constexpr int kPerCalendar = 50;

void writeStore(const QString& support) {
    QVariantList nodes;
    int n = 0;
    for (int c = 0; c < kCalendars; ++c) {
        const QString key = QStringLiteral("TRAY-%1").arg(c);
        const QString folder = support + QStringLiteral("/iCal/Sources/") + key + ".calendar";
        QDir().mkpath(folder);
        QString text = QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n");
        for (int i = 0; i < kPerCalendar; ++i, ++n)
            text += QStringLiteral("BEGIN:VTODO\r\nUID:tray-%1\r\nSUMMARY:To-do %1 of the "
                                   "tray benchmark\r\nPRIORITY:%2\r\nDUE;VALUE=DATE:%3\r\n"
                                   "STATUS:NEEDS-ACTION\r\nEND:VTODO\r\n")
                        .arg(n)
                        .arg(n % 10)
                        .arg(QDate::currentDate().addDays(n % 15 - 5).toString("yyyyMMdd"));
        text += QStringLiteral("END:VCALENDAR\r\n");
        QFile data(folder + "/corestorage.ics");
        if (!data.open(QIODevice::WriteOnly) || data.write(text.toUtf8()) < 0)
            qFatal("cannot write %s", qPrintable(data.fileName()));
        QFile info(folder + "/Info.plist");
        if (!info.open(QIODevice::WriteOnly) ||
            info.write(*platform::PropertyList::toData(
                QVariantMap{{"Key", key},
                            {"Title", QStringLiteral("Team %1").arg(c)},
                            {"Type", "com.apple.ical.sources.naivereadwrite"}})) < 0)
            qFatal("cannot write %s", qPrintable(info.fileName()));
        nodes.append(QVariantMap{{"Type", "CALSourceNode"}, {"SourceKey", key}});
    }
    QFile nodesFile(support + "/iCal/nodes.plist");
    if (!nodesFile.open(QIODevice::WriteOnly) ||
        nodesFile.write(*platform::PropertyList::toData(QVariantMap{{"List", nodes}})) < 0)
        qFatal("cannot write the node list");
}

QByteArray wmClassOf(xcb_connection_t* c, xcb_window_t w) {
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 64), nullptr);
    // NUL-separated parts; the value need not end in a NUL.
    const QByteArray value =
        reply ? QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply))
              : QByteArray();
    std::free(reply);
    const qsizetype end = value.indexOf('\0');
    return end == -1 ? value : value.left(end);
}

// Waits for a menu window of the server to map (or, with a window given, for that one
// to unmap: its properties may be gone by then); the window, or none after the time.
xcb_window_t waitForServerWindow(xcb_connection_t* c, std::uint8_t type, int ms = 10000,
                                 xcb_window_t unmapped = XCB_NONE) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        xcb_generic_event_t* e = xcb_poll_for_event(c);
        if (!e) {
            QThread::usleep(100);
            continue;
        }
        const std::uint8_t kind = e->response_type & 0x7f;
        xcb_window_t w = XCB_NONE;
        if (kind == XCB_MAP_NOTIFY && type == XCB_MAP_NOTIFY)
            w = reinterpret_cast<xcb_map_notify_event_t*>(e)->window;
        if (kind == XCB_UNMAP_NOTIFY && type == XCB_UNMAP_NOTIFY)
            w = reinterpret_cast<xcb_unmap_notify_event_t*>(e)->window;
        std::free(e);
        if (w != XCB_NONE && qEnvironmentVariableIsSet("BENCH_TRAY_DEBUG"))
            std::fprintf(stderr, "%s 0x%x %s menu=%d\n", kind == XCB_MAP_NOTIFY ? "map" : "unmap",
                         w, wmClassOf(c, w).constData(), int(traytest::isMenuWindow(c, w)));
        if (w == XCB_NONE)
            continue;
        if (type == XCB_UNMAP_NOTIFY
                ? w == unmapped
                : wmClassOf(c, w) == "menubar-server" && traytest::isMenuWindow(c, w))
            return w;
    }
    return XCB_NONE;
}

void fake(xcb_connection_t* c, std::uint8_t type, std::uint8_t detail, xcb_window_t root,
          QPoint at = {}) {
    xcb_test_fake_input(c, type, detail, XCB_CURRENT_TIME, root, std::int16_t(at.x()),
                        std::int16_t(at.y()), 0);
    xcb_flush(c);
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct CpuSample {
    long ticks = 0;   // user and system time of all threads
    long wakeups = 0; // voluntary context switches of all threads
};

// The peak resident memory of a process, in megabytes.
double peakMegabytes(qint64 pid) {
    return peakMegabytesOf(QStringLiteral("/proc/%1/status").arg(pid));
}

CpuSample sample(qint64 pid) {
    CpuSample s;
    QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid) + "/stat");
        if (stat.open(QIODevice::ReadOnly)) {
            const QByteArray line = stat.readAll();
            const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
            s.ticks += f.value(11).toLong() + f.value(12).toLong(); // utime, stime
        }
        QFile status(tasks.filePath(tid) + "/status");
        if (status.open(QIODevice::ReadOnly))
            for (const QByteArray& l : status.readAll().split('\n'))
                if (l.startsWith("voluntary_ctxt_switches:"))
                    s.wakeups += l.mid(24).trimmed().toLong();
    }
    return s;
}

int countEntries(const traytest::MenuNode& node) {
    int n = 0;
    for (const traytest::MenuNode& child : node.children)
        n += 1 + countEntries(child);
    return n;
}

const QString kQuilloMenu =
    QStringLiteral("/PreferencePanes/Quillo.prefPane/Contents/Resources/Quillo.menu");

// The host's side of the exported menu, with a watcher and host of our own.
void benchExportedMenu(int rounds) {
    traytest::StatusNotifierPeer peer;
    if (!peer.start())
        qFatal("cannot take the StatusNotifierWatcher name");
    traytest::ServerProcess server(QStringLiteral(QUILLO_MENUBAR_SERVER));
    if (!server.start())
        qFatal("cannot start the menu-bar server");
    QDBusMessage add = QDBusMessage::createMethodCall(
        platform::kMenuBarServerService, platform::kMenuBarServerPath,
        platform::kMenuBarServerInterface, QStringLiteral("AddMenuExtra"));
    add << testenv::dataHome() + kQuilloMenu;
    // The server registers its item with our watcher while it answers.
    QDBusConnection::sessionBus().call(add, QDBus::BlockWithGui, 30000);
    for (QElapsedTimer t; !peer.firstItem(); QCoreApplication::processEvents())
        if (!t.isValid())
            t.start();
        else if (t.elapsed() > 10000)
            qFatal("no item registered with the watcher");
    // Timed as the host sees it: from the request to the answer received, without
    // reading the answer's entries (done once, for their count).
    const auto [service, item] = *peer.firstItem();
    const QString menuPath =
        peer.itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
    const auto menuCall = [&, service = service](const QString& method, const QVariantList& args) {
        QDBusMessage m = QDBusMessage::createMethodCall(
            service, menuPath, QStringLiteral("com.canonical.dbusmenu"), method);
        m.setArguments(args);
        const QDBusMessage reply = QDBusConnection::sessionBus().call(m, QDBus::Block, 30000);
        if (reply.type() != QDBusMessage::ReplyMessage)
            qFatal("%s failed", qPrintable(method));
    };
    const QVariantList getLayout{0, -1, QStringList()};
    std::vector<double> full, layoutOnly;
    for (int i = 0; i <= rounds; ++i) {
        QElapsedTimer clock;
        clock.start();
        menuCall(QStringLiteral("AboutToShow"), {0});
        menuCall(QStringLiteral("GetLayout"), getLayout);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        clock.restart();
        menuCall(QStringLiteral("GetLayout"), getLayout);
        const double layoutMs = double(clock.nsecsElapsed()) / 1e6;
        if (i == 0)
            continue; // a warm-up
        full.push_back(ms);
        layoutOnly.push_back(layoutMs);
    }
    const std::optional<traytest::MenuNode> layout = peer.menuLayout(false);
    if (!layout)
        qFatal("no layout");
    const int entries = countEntries(*layout);

    // A change that renames every to-do (the due dates shown or not, set from this
    // process): from the setting written to the first GetLayout answer that shows it,
    // so the notification, the store read, both menus rebuilt and the layout answered.
    std::vector<double> changed;
    QL_Preferences& preferences = QL_Preferences::sharedPreferences();
    for (int i = 0; i < std::max(3, rounds / 3); ++i) {
        const bool show = !preferences.showDueDates();
        QElapsedTimer clock;
        clock.start();
        preferences.setShowDueDates(show);
        for (;;) {
            QDBusMessage m = QDBusMessage::createMethodCall(
                service, menuPath, QStringLiteral("com.canonical.dbusmenu"),
                QStringLiteral("GetLayout"));
            m.setArguments({0, 1, QStringList{QStringLiteral("label")}});
            const QDBusMessage reply = QDBusConnection::sessionBus().call(m, QDBus::Block, 30000);
            // A due date shown puts a triangle into the titles.
            const bool shows = reply.type() == QDBusMessage::ReplyMessage &&
                               QDBusMessage(reply).arguments().size() == 2 && [&] {
                                   traytest::MenuNode top;
                                   traytest::readLayout(reply.arguments().at(1), top);
                                   return top.dump().contains(QChar(0x25B8));
                               }();
            if (shows == show)
                break;
            if (clock.elapsed() > 10000)
                qFatal("the change did not reach the exported menu");
        }
        changed.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(changed.begin(), changed.end());
    std::sort(full.begin(), full.end());
    std::sort(layoutOnly.begin(), layoutOnly.end());
    std::printf("Exported menu (%d to-dos, %d entries with their sub-menus), %d rounds:\n"
                "  AboutToShow (menu rebuilt from the store, nothing changed) + GetLayout: "
                "median %.1f ms, slowest %.1f ms\n"
                "  GetLayout alone: median %.1f ms, slowest %.1f ms\n"
                "  every title changed (a setting): from the change to the new layout "
                "answered, median %.1f ms, slowest %.1f ms\n",
                kCalendars * kPerCalendar, entries, rounds, median(full), full.back(),
                median(layoutOnly), layoutOnly.back(), median(changed), changed.back());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "bench_tray needs an X server: xvfb-run -a bench_tray\n");
        return 2;
    }
    testenv::isolateHome();
    traytest::startPrivateBus(QStringLiteral(QUILLO_MENUBAR_SERVER));
    QCoreApplication app(argc, argv);
    const bool exportedOnly = argc > 1 && QByteArray(argv[argc - 1]) == "--exported";
    const int clicks = argc > 1 && !exportedOnly ? std::max(3, atoi(argv[1])) : 15;

    writeStore(testenv::dataHome());
    QDir().mkpath(testenv::dataHome() + "/PreferencePanes");
    QFile::link(QStringLiteral(QUILLO_BUILD_DIR "/Quillo.prefPane"),
                testenv::dataHome() + "/PreferencePanes/Quillo.prefPane");
    QL_Preferences::sharedPreferences().setCheckForUpdatesOnLaunch(false);
    if (qEnvironmentVariableIsSet("BENCH_NO_ICONS"))
        QL_Preferences::sharedPreferences().setInformationalIcons(0);
    if (exportedOnly) {
        benchExportedMenu(clicks);
        return 0;
    }

    traytest::Tray tray;
    traytest::ServerProcess server(QStringLiteral(QUILLO_MENUBAR_SERVER));
    if (!tray.start() || !server.start())
        qFatal("cannot start trayer or the menu-bar server");
    platform::CoreMenuExtraAddMenuExtra(
        QUrl::fromLocalFile(testenv::dataHome() +
                            "/PreferencePanes/Quillo.prefPane/Contents/Resources/Quillo.menu"),
        0, 0, 0, 0);
    std::optional<QRect> icon;
    for (QElapsedTimer t; !(icon = traytest::trayIconOfServer()); QThread::msleep(20))
        if (!t.isValid())
            t.start();
        else if (t.elapsed() > 10000)
            qFatal("no icon in the tray");
    QThread::msleep(500); // let the tray finish docking before the first click

    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, root, XCB_CW_EVENT_MASK, &mask);
    xcb_key_symbols_t* syms = xcb_key_symbols_alloc(c);
    xcb_keycode_t* esc = xcb_key_symbols_get_keycode(syms, 0xff1b);
    fake(c, XCB_MOTION_NOTIFY, 0, root, icon->center());

    std::vector<double> times;
    int items = 0;
    for (int i = 0; i <= clicks; ++i) {
        // A click lost while the tray settles is repeated; the time is the opening one's.
        double ms = 0;
        xcb_window_t opened = XCB_NONE;
        for (int attempt = 0; attempt < 5 && !opened; ++attempt) {
            QElapsedTimer clock;
            clock.start();
            fake(c, XCB_BUTTON_PRESS, 1, root);
            fake(c, XCB_BUTTON_RELEASE, 1, root);
            opened = waitForServerWindow(c, XCB_MAP_NOTIFY, 3000);
            ms = double(clock.nsecsElapsed()) / 1e6;
        }
        if (!opened)
            qFatal("the menu did not open");
        if (i == 0)
            items = int(traytest::shownMenu().count(QLatin1Char('\n')));
        else // the first click is a warm-up
            times.push_back(ms);
        // The menu takes the keyboard a moment after it maps; an early Escape is lost.
        bool closed = false;
        for (int attempt = 0; attempt < 20 && !closed; ++attempt) {
            fake(c, XCB_KEY_PRESS, *esc, root);
            fake(c, XCB_KEY_RELEASE, *esc, root);
            closed = waitForServerWindow(c, XCB_UNMAP_NOTIFY, 500, opened) != XCB_NONE;
        }
        if (!closed)
            qFatal("the menu did not close");
    }
    std::free(esc);
    xcb_key_symbols_free(syms);
    xcb_disconnect(c);

    const qint64 pid = server.process().processId();
    std::sort(times.begin(), times.end());
    std::printf("Click on the tray icon to the menu window mapped (%d to-dos, %d menu lines), "
                "%d clicks:\n  median %.1f ms, fastest %.1f ms, slowest %.1f ms, "
                "server's peak memory %.0f MB\n",
                kCalendars * kPerCalendar, items, clicks, median(times), times.front(),
                times.back(), peakMegabytes(pid));
    std::fflush(stdout);

    const CpuSample before = sample(pid);
    QThread::sleep(30);
    const CpuSample after = sample(pid);
    const long hz = sysconf(_SC_CLK_TCK);
    std::printf("Menu-bar server idle for 30 s with the store watched (%d files):\n"
                "  CPU time %.0f ms, %ld wake-ups of its threads\n",
                kCalendars + 1, double(after.ticks - before.ticks) * 1000.0 / double(hz),
                after.wakeups - before.wakeups);
    std::fflush(stdout);
    if (!server.quit())
        qFatal("the menu-bar server did not quit");
    tray.stop();
    benchExportedMenu(clicks);
    return 0;
}
