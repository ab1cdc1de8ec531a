// Quillo as a StatusNotifierItem: the menu-bar server (a child process) shows Quillo.menu
// on a copy of the sample store, and a watcher and host of the test's own reads what a
// desktop reads: the item, its exported menu (GetLayout), and the choices made in it
// (Event), which must reach the calendar's file. Then a watcher that arrives late.
#include "QuilloTraySetup.h"
#include "StatusNotifierPeer.h"
#include "TrayTestSupport.h"
#include "common/TestEnv.h"

#include "platform/CoreMenuExtra.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDate>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSaveFile>
#include <QScreen>
#include <QSet>
#include <QTest>
#include <QWidget>

#include <algorithm>

using namespace platform;
using namespace traytest;

namespace {

const QString kServer = QStringLiteral(QUILLO_MENUBAR_SERVER);

QString homeCalendar() {
    return testenv::dataHome() + QStringLiteral("/iCal/Sources/home.calendar/corestorage.ics");
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The VTODO of a summary in a calendar file, empty when there is none.
QByteArray toDoText(const QString& path, const QByteArray& summary) {
    const QByteArray text = readFile(path);
    const qsizetype at = text.indexOf("SUMMARY:" + summary);
    if (at < 0)
        return QByteArray();
    const qsizetype begin = text.lastIndexOf("BEGIN:VTODO", at);
    const qsizetype end = text.indexOf("END:VTODO", at);
    return text.mid(begin, end - begin);
}

// Quillo's menu on the sample store as a host reads it.
#define EXPECTED_LAYOUT                                                                            \
    "\"New To-Do…\"\n"                                                                           \
    "\"Open Calendar\"\n"                                                                          \
    "\"Quick Add…\"\n"                                                                           \
    "----\n"                                                                                       \
    "\"Deep\" disabled\n"                                                                          \
    "\"Deep in two groups\" icon submenu\n"                                                        \
    "    \"Reopen\"\n"                                                                             \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Errands\" disabled\n"                                                                       \
    "\"From top\" icon submenu\n"                                                                  \
    "    \"Complete\"\n"                                                                           \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Holidays\" disabled\n"                                                                      \
    "\"Subscribed\" icon submenu\n"                                                                \
    "    \"Complete\"\n"                                                                           \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Home\" disabled\n"                                                                          \
    "\"A long title that the calendar application folded just before a space and again\" icon "    \
    "submenu\n"                                                                                    \
    "    \"Reopen\"\n"                                                                             \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "\"Buy milk, eggs\" icon submenu\n"                                                            \
    "    \"Complete\"\n"                                                                           \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Work\" disabled\n"                                                                          \
    "\"Attend:VTODO review\" icon submenu\n"                                                       \
    "    \"Complete\"\n"                                                                           \
    "    \"Edit…\"\n"                                                                            \
    "    \"Remove…\"\n"                                                                          \
    "----\n"                                                                                       \
    "\"Quillo Settings…\"\n"

struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes; // ARGB32 in network byte order
    bool holdsItsPixels() const { return bytes.size() == qsizetype(width) * height * 4; }
};

// The pictures of an IconPixmap property, a(iiay).
QList<IconPixmap> iconPixmaps(const QVariant& property) {
    const QDBusArgument argument = property.value<QDBusArgument>();
    QList<IconPixmap> pixmaps;
    argument.beginArray();
    while (!argument.atEnd()) {
        IconPixmap pixmap;
        argument.beginStructure();
        argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
        argument.endStructure();
        pixmaps << pixmap;
    }
    argument.endArray();
    return pixmaps;
}

// The largest picture of an IconPixmap property.
QImage largestIconPixmap(const QVariant& property) {
    QImage largest;
    for (const IconPixmap& pixmap : iconPixmaps(property)) {
        if (pixmap.width <= largest.width() ||
            pixmap.bytes.size() < qsizetype(pixmap.width) * pixmap.height * 4)
            continue;
        QImage image(pixmap.width, pixmap.height, QImage::Format_ARGB32);
        const auto* p = reinterpret_cast<const uchar*>(pixmap.bytes.constData());
        for (int y = 0; y < pixmap.height; ++y)
            for (int x = 0; x < pixmap.width; ++x, p += 4)
                image.setPixel(x, y, qRgba(p[1], p[2], p[3], p[0]));
        largest = image;
    }
    return largest;
}

// The pixel sizes of an IconPixmap property, each checked to hold its pixels (-1 if not).
QList<int> iconPixmapSizes(const QVariant& property) {
    QList<int> sizes;
    for (const IconPixmap& pixmap : iconPixmaps(property))
        sizes << (pixmap.width == pixmap.height && pixmap.holdsItsPixels() ? pixmap.width : -1);
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

// The title of a ToolTip property: (s a(iiay) s s), icon name, pictures, title, text.
QString toolTipTitle(const QVariant& property) {
    const QDBusArgument argument = property.value<QDBusArgument>();
    QString icon, title, text;
    argument.beginStructure();
    argument >> icon;
    argument.beginArray();
    while (!argument.atEnd()) {
        int w = 0, h = 0;
        QByteArray bytes;
        argument.beginStructure();
        argument >> w >> h >> bytes;
        argument.endStructure();
    }
    argument.endArray();
    argument >> title >> text;
    argument.endStructure();
    return title;
}

bool addQuillo() {
    const QVariant status =
        callServerAnswering(QStringLiteral("AddMenuExtra"), {quilloMenuURL().toLocalFile()});
    return status.isValid() && status.toInt() == 0;
}

QString shown() {
    return callServerAnswering(QStringLiteral("ShownMenu")).toString();
}

// The fields of the first line of ListMenuExtras.
QStringList firstExtra() {
    return callServerAnswering(QStringLiteral("ListMenuExtras"))
        .toStringList()
        .value(0)
        .split('\t');
}

} // namespace

class TestStatusNotifier : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QVERIFY(installQuilloWithSampleStore());
        QL_Preferences& preferences = QL_Preferences::sharedPreferences();
        preferences.setColorItemsByCalendarColor(true);
        preferences.setWarnWhenRemovingItems(false);
    }

    // The layout a host reads, the icons, the choices reaching the file, and the
    // rebuilds a host is told about without asking (a watched file, a setting).
    void exportedMenu() {
        StatusNotifierPeer peer;
        QVERIFY(peer.start());
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QVERIFY(addQuillo());
        QTRY_VERIFY_WITH_TIMEOUT(peer.firstItem().has_value(), 10000);
        QCOMPARE(peer.itemProperty(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
        QVERIFY(peer.itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path() !=
                QStringLiteral("/NO_DBUSMENU"));

        std::optional<MenuNode> layout = peer.menuLayout();
        QVERIFY(layout);
        QCOMPARE(layout->dump(), QStringLiteral(EXPECTED_LAYOUT));

        // The icon of an item of a coloured calendar: its priority picture with the
        // calendar's colour as a dot in the lower right corner, in pixels of the scale.
        const MenuNode* milk = layout->find(QStringLiteral("Buy milk, eggs"));
        QVERIFY(milk);
        const QImage icon = milk->icon();
        QVERIFY(icon.width() >= 16 && icon.width() == icon.height());
        const QColor dot = icon.pixelColor(icon.width() * 3 / 4, icon.height() * 3 / 4);
        QVERIFY2(dot.red() > 200 && dot.green() < 80 && dot.blue() < 80, qPrintable(dot.name()));

        // "Complete" through the menu's Event call completes the to-do in its file; the
        // watcher rebuilds the menu and the host is told without asking.
        const MenuNode* complete = milk->find(QStringLiteral("Complete"));
        QVERIFY(complete);
        QVERIFY(peer.clickMenuEntry(complete->id));
        QTRY_VERIFY(toDoText(homeCalendar(), "Buy milk").contains("STATUS:COMPLETED"));
        QVERIFY(toDoText(homeCalendar(), "Buy milk").contains("COMPLETED:"));
        QTRY_VERIFY(peer.menuLayout(false) &&
                    peer.menuLayout(false)->find(QStringLiteral("Buy milk, eggs")) &&
                    peer.menuLayout(false)
                        ->find(QStringLiteral("Buy milk, eggs"))
                        ->find(QStringLiteral("Reopen")));
        // A choice from a layout that has been rebuilt since does nothing.
        QVERIFY(peer.clickMenuEntry(complete->id));
        QTest::qWait(300);
        QVERIFY(toDoText(homeCalendar(), "Buy milk").contains("STATUS:COMPLETED"));

        // A setting from another process rebuilds it too: no section labels.
        QCOMPARE(writeSetting("showLabels", "0"), 0);
        QTRY_VERIFY(peer.menuLayout(false) &&
                    peer.menuLayout(false)->find(QStringLiteral("Buy milk, eggs")) &&
                    !peer.menuLayout(false)->find(QStringLiteral("Home")));

        // "Remove…" (the warning is off) takes the to-do out of its file.
        layout = peer.menuLayout();
        QVERIFY(layout && layout->find(QStringLiteral("Buy milk, eggs")));
        const MenuNode* remove =
            layout->find(QStringLiteral("Buy milk, eggs"))->find(QStringLiteral("Remove…"));
        QVERIFY(remove);
        QVERIFY(peer.clickMenuEntry(remove->id));
        QTRY_VERIFY(toDoText(homeCalendar(), "Buy milk").isEmpty());
        QVERIFY(readFile(homeCalendar()).contains("END:VCALENDAR"));

        // A left click (Activate) shows the rich menu, which takes modifier keys.
        QVERIFY(peer.callItem(QStringLiteral("Activate"), 600, 5));
        QTRY_VERIFY(shown().contains(QStringLiteral(" tag=")));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        QTRY_VERIFY(shown().isEmpty());
        QCOMPARE(writeSetting("showLabels", "1"), 0);
    }

    // The host gives no icon geometry: the rich menu opens next to the panel under the
    // pointer, below a top panel and above a bottom one, never over it.
    void placementByThePanel_data() {
        QTest::addColumn<bool>("top");
        QTest::newRow("top panel") << true;
        QTest::newRow("bottom panel") << false;
    }
    void placementByThePanel() {
        QFETCH(bool, top);
        StatusNotifierPeer peer;
        QVERIFY(peer.start());
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QTRY_VERIFY_WITH_TIMEOUT(peer.firstItem().has_value(), 10000);

        QWidget panel(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        panel.setGeometry(screen.left(), top ? screen.top() : screen.bottom() - 31, screen.width(),
                          32);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        const QPoint click(panel.geometry().right() - 40, panel.geometry().center().y());
        QVERIFY(xdotool(
            {QStringLiteral("mousemove"), QString::number(click.x()), QString::number(click.y())}));
        QTest::qWait(100);
        QVERIFY(peer.callItem(QStringLiteral("Activate"), click.x(), click.y()));
        QTRY_COMPARE(menuWindowsOfServer().size(), 1);
        const QRect menu = menuWindowsOfServer().value(0);
        if (top)
            QVERIFY2(menu.top() > panel.geometry().bottom(),
                     qPrintable(QString::number(menu.top())));
        else
            QVERIFY2(menu.bottom() < panel.geometry().top(),
                     qPrintable(QString::number(menu.bottom())));
        QVERIFY(screen.contains(menu));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Escape")}));
        QTRY_VERIFY(menuWindowsOfServer().isEmpty());
    }

    // At login the panel may come after the server: its icons were XEmbed ones (Qt
    // chose when no watcher was there); a watcher arriving 5 s later gets the item.
    void lateWatcher() {
        ServerProcess server(kServer);
        QVERIFY(server.start());
        const qint64 pid = server.process().processId();
        QVERIFY(addQuillo()); // remembered already when the tests before ran
        QCOMPARE(firstExtra().value(0), QStringLiteral("com.orvane.quillo"));
        StatusNotifierPeer peer;
        QTest::qWait(5000);
        QVERIFY(!server.log().contains(QStringLiteral("restarting")));
        QVERIFY(peer.start());
        QTRY_VERIFY_WITH_TIMEOUT(peer.firstItem().has_value(), 15000);
        const QString moved = QStringLiteral(
            "menubar-server :: tray :: a StatusNotifierItem host appeared; showing the icons "
            "there");
        QVERIFY(server.log().contains(moved));
        QCOMPARE(server.process().processId(), pid);
        QTRY_VERIFY(serverRunning());
        QTRY_COMPARE(firstExtra().value(3), QStringLiteral("yes"));
        std::optional<MenuNode> layout = peer.menuLayout();
        QVERIFY(layout && layout->find(QStringLiteral("Attend:VTODO review")));
        // A watcher that restarts gets the item again; it is not in the tray meanwhile.
        peer.stop();
        QTRY_COMPARE(firstExtra().value(3), QStringLiteral("no"));
        QVERIFY(peer.start());
        QTRY_VERIFY_WITH_TIMEOUT(peer.firstItem().has_value(), 10000);
        QTRY_COMPARE(firstExtra().value(3), QStringLiteral("yes"));
        layout = peer.menuLayout();
        QVERIFY(layout && layout->find(QStringLiteral("Attend:VTODO review")));
        QCOMPARE(server.log().count(moved), 1);
        QVERIFY(!server.log().contains(QStringLiteral("restart")));
    }

    // The icon comes at every size a host may want, and at the screen's device pixel
    // ratio; so do the menu's icons. On X11 a click is the item's (ItemIsMenu false).
    void iconAtEveryScale_data() {
        QTest::addColumn<QByteArray>("scale");
        QTest::addColumn<QList<int>>("sizes");
        QTest::addColumn<int>("menuIcon");
        QTest::newRow("1x") << QByteArray("1") << QList<int>{16, 22, 24, 32, 48, 64, 128} << 16;
        QTest::newRow("2x") << QByteArray("2")
                            << QList<int>{16, 22, 24, 32, 44, 48, 64, 96, 128, 256} << 32;
    }
    void iconAtEveryScale() {
        QFETCH(QByteArray, scale);
        QFETCH(QList<int>, sizes);
        QFETCH(int, menuIcon);
        StatusNotifierPeer peer;
        QVERIFY(peer.start());
        qputenv("QT_SCALE_FACTOR", scale);
        ServerProcess server(kServer);
        const bool started = server.start();
        qunsetenv("QT_SCALE_FACTOR");
        QVERIFY(started);
        QTRY_VERIFY_WITH_TIMEOUT(peer.firstItem().has_value(), 10000);
        QCOMPARE(iconPixmapSizes(peer.itemProperty(QStringLiteral("IconPixmap"))), sizes);
        QCOMPARE(iconPixmapSizes(peer.itemProperty(QStringLiteral("AttentionIconPixmap"))), sizes);
        QCOMPARE(peer.itemProperty(QStringLiteral("ItemIsMenu")).toBool(), false);
        QCOMPARE(peer.itemProperty(QStringLiteral("Category")).toString(),
                 QStringLiteral("ApplicationStatus"));
        QCOMPARE(peer.itemProperty(QStringLiteral("Id")).toString(),
                 QStringLiteral("com.orvane.quillo"));
        QCOMPARE(peer.itemProperty(QStringLiteral("Title")).toString(), QStringLiteral("Quillo"));
        const std::optional<MenuNode> layout = peer.menuLayout();
        QVERIFY(layout && layout->find(QStringLiteral("Attend:VTODO review")));
        QCOMPARE(layout->find(QStringLiteral("Attend:VTODO review"))->icon().size(),
                 QSize(menuIcon, menuIcon));
    }

    // The icon worth a glance: off by default; on, a count of the open to-dos due today
    // or overdue on the icon, and the next due to-do as the tool tip.
    void iconWorthAGlance() {
        QFile file(homeCalendar());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray text = file.readAll();
        file.close();
        const QByteArray today = QDate::currentDate().toString("yyyyMMdd").toLatin1();
        const QByteArray later = QDate::currentDate().addDays(3).toString("yyyyMMdd").toLatin1();
        text.replace("END:VCALENDAR",
                     "BEGIN:VTODO\r\nUID:rent\r\nSUMMARY:Pay the rent\r\nDUE;VALUE=DATE:" + today +
                         "\r\nEND:VTODO\r\nBEGIN:VTODO\r\nUID:plumber\r\nSUMMARY:Call the "
                         "plumber\r\nDUE;VALUE=DATE:" +
                         later + "\r\nEND:VTODO\r\nEND:VCALENDAR");
        QSaveFile replaced(homeCalendar());
        QVERIFY(replaced.open(QIODevice::WriteOnly));
        replaced.write(text);
        QVERIFY(replaced.commit());

        StatusNotifierPeer peer;
        QVERIFY(peer.start());
        ServerProcess server(kServer);
        QVERIFY(server.start());
        QTRY_VERIFY_WITH_TIMEOUT(peer.firstItem().has_value(), 10000);
        const auto badge = [&peer] {
            const QImage icon = largestIconPixmap(peer.itemProperty(QStringLiteral("IconPixmap")));
            if (icon.isNull())
                return QColor();
            // Below the count, inside the badge.
            return icon.pixelColor(icon.width() * 7 / 10, icon.height() * 19 / 20);
        };
        const auto isBadgeRed = [](const QColor& c) {
            return c.red() > 180 && c.green() < 60 && c.blue() < 60;
        };
        QVERIFY(badge().isValid());
        QVERIFY(!isBadgeRed(badge()));
        QCOMPARE(toolTipTitle(peer.itemProperty(QStringLiteral("ToolTip"))),
                 QStringLiteral("com.orvane.quillo"));

        // The review is overdue, yet the item asks for no attention while the count is off.
        const auto status = [&peer] { return peer.itemProperty(QStringLiteral("Status")); };
        QCOMPARE(status().toString(), QStringLiteral("Active"));
        QVERIFY(peer.watchStatus());

        QCOMPARE(writeSetting("showDueCountOnIcon", "1"), 0);
        QTRY_VERIFY2(isBadgeRed(badge()), qPrintable(badge().name()));
        QTRY_COMPARE(status().toString(), QStringLiteral("NeedsAttention"));
        QTRY_COMPARE(peer.statusesSignalled(), QStringList{QStringLiteral("NeedsAttention")});
        QCOMPARE(writeSetting("showNextDueInToolTip", "1"), 0);
        QTRY_VERIFY2(toolTipTitle(peer.itemProperty(QStringLiteral("ToolTip")))
                         .startsWith(QStringLiteral("Next due: Attend:VTODO review (")),
                     qPrintable(toolTipTitle(peer.itemProperty(QStringLiteral("ToolTip")))));

        // Each overdue to-do completed through the menu: the rent, due today, is overdue
        // since the day began (as the menu's overdue section has it); then none is.
        const auto completeThrough = [&peer](const QString& title) {
            const std::optional<MenuNode> layout = peer.menuLayout();
            const MenuNode* toDo = layout ? layout->find(title) : nullptr;
            const MenuNode* complete = toDo ? toDo->find(QStringLiteral("Complete")) : nullptr;
            return complete && peer.clickMenuEntry(complete->id);
        };
        QVERIFY(completeThrough(QStringLiteral("Attend:VTODO review")));
        QTRY_VERIFY(toolTipTitle(peer.itemProperty(QStringLiteral("ToolTip")))
                        .startsWith(QStringLiteral("Next due: Pay the rent (")));
        QCOMPARE(status().toString(), QStringLiteral("NeedsAttention"));
        QVERIFY(completeThrough(QStringLiteral("Pay the rent")));
        QTRY_COMPARE(status().toString(), QStringLiteral("Active"));
        QCOMPARE(peer.statusesSignalled(),
                 (QStringList{QStringLiteral("NeedsAttention"), QStringLiteral("Active")}));
        QTRY_VERIFY(!isBadgeRed(badge()));
        QVERIFY(toolTipTitle(peer.itemProperty(QStringLiteral("ToolTip")))
                    .startsWith(QStringLiteral("Next due: Call the plumber (")));
        QCOMPARE(writeSetting("showDueCountOnIcon", "0"), 0);
        QCOMPARE(writeSetting("showNextDueInToolTip", "0"), 0);
        QTRY_VERIFY(!isBadgeRed(badge()));
        QTRY_COMPARE(toolTipTitle(peer.itemProperty(QStringLiteral("ToolTip"))),
                     QStringLiteral("com.orvane.quillo"));

        // The symbolic form: the picture's shape in the panel's text colour only.
        const auto colours = [&peer] {
            QSet<QRgb> seen;
            const QImage icon = largestIconPixmap(peer.itemProperty(QStringLiteral("IconPixmap")));
            for (int y = 0; y < icon.height(); ++y)
                for (int x = 0; x < icon.width(); ++x)
                    if (qAlpha(icon.pixel(x, y)) > 0)
                        seen.insert(icon.pixel(x, y) | 0xff000000u);
            return seen;
        };
        QVERIFY(colours().size() > 1);
        QCOMPARE(writeSetting("symbolicMenuIcon", "1"), 0);
        const QRgb ink = QGuiApplication::palette().color(QPalette::WindowText).rgb();
        QTRY_COMPARE(colours(), QSet<QRgb>{ink | 0xff000000u});
        QCOMPARE(writeSetting("symbolicMenuIcon", "0"), 0);
        QTRY_VERIFY(colours().size() > 1);
    }
};

QUILLO_TRAY_TEST_MAIN(TestStatusNotifier, kServer)

#include "tst_statusnotifier.moc"
