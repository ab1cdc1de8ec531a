// A Qt menu exported as com.canonical.dbusmenu on a bus of the test's own, read and
// driven as a desktop's host does: the layout and its properties, a depth limit, the
// choices, and a rebuild that numbers the entries anew.
#include "StatusNotifierPeer.h"
#include "common/TestEnv.h"

#include "platform/DBusMenuExporter.h"

#include <QActionGroup>
#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

using namespace platform;
using traytest::MenuNode;

namespace {

const QString kPath = QStringLiteral("/MenuBar");
const QString kInterface = QStringLiteral("com.canonical.dbusmenu");

QIcon squareIcon() {
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::red);
        icon.addPixmap(pixmap);
    }
    return icon;
}

// The exporter on a connection of its own, as a tray item has it; the test calls it
// over the bus from the default connection.
class Exported {
public:
    explicit Exported(QMenu& menu)
        : m_bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus,
                                              QStringLiteral("tst_dbusmenu"))),
          exporter(menu, m_bus, kPath) {}
    ~Exported() { QDBusConnection::disconnectFromBus(QStringLiteral("tst_dbusmenu")); }

    QDBusMessage call(const QString& method, const QVariantList& args) const {
        QDBusMessage m =
            QDBusMessage::createMethodCall(m_bus.baseService(), kPath, kInterface, method);
        m.setArguments(args);
        return QDBusConnection::sessionBus().call(m, QDBus::BlockWithGui, 5000);
    }
    std::optional<MenuNode> layout(int parent = 0, int depth = -1,
                                   const QStringList& names = {}) const {
        const QDBusMessage reply = call(QStringLiteral("GetLayout"), {parent, depth, names});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
            return std::nullopt;
        MenuNode root;
        traytest::readLayout(reply.arguments().at(1), root);
        revision = reply.arguments().at(0).toUInt();
        return root;
    }
    bool click(int id) const {
        return call(QStringLiteral("Event"),
                    {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u})
                   .type() == QDBusMessage::ReplyMessage;
    }

private:
    QDBusConnection m_bus;

public:
    DBusMenuExporter exporter;
    mutable uint revision = 0;
};

} // namespace

class TestDBusMenu : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(QDBusConnection::sessionBus().isConnected()); }

    // Every kind of entry, as a host reads the whole layout.
    void layout() {
        QMenu menu;
        menu.addAction(QStringLiteral("&Open && close__it"));
        menu.addAction(QStringLiteral("a&b&c"));
        menu.addAction(QStringLiteral("Ends in &"));
        menu.addSeparator();
        menu.addAction(QStringLiteral("Off"))->setEnabled(false);
        menu.addAction(QStringLiteral("Gone"))->setVisible(false);
        QAction* check = menu.addAction(QStringLiteral("Check"));
        check->setCheckable(true);
        check->setChecked(true);
        auto* group = new QActionGroup(&menu);
        QAction* radio = menu.addAction(QStringLiteral("Radio"));
        radio->setCheckable(true);
        group->addAction(radio);
        QMenu* sub = menu.addMenu(squareIcon(), QStringLiteral("Sub"));
        sub->addAction(QStringLiteral("Inside"));

        Exported exported(menu);
        QVERIFY(exported.exporter.isExported());
        exported.exporter.setDevicePixelRatio(2);
        const std::optional<MenuNode> root = exported.layout();
        QVERIFY(root);
        QCOMPARE(root->dump(), QStringLiteral("\"_Open & close__it\"\n"
                                              "\"a_bc\"\n"
                                              "\"Ends in &\"\n"
                                              "----\n"
                                              "\"Off\" disabled\n"
                                              "\"Gone\" disabled\n"
                                              "\"Check\"\n"
                                              "\"Radio\"\n"
                                              "\"Sub\" icon submenu\n"
                                              "    \"Inside\"\n"));
        QCOMPARE(root->properties.value(QStringLiteral("children-display")).toString(),
                 QStringLiteral("submenu"));
        const auto property = [&root](const QString& label, const char* name) {
            return root->find(label)->properties.value(QLatin1String(name));
        };
        QCOMPARE(property(QStringLiteral("Gone"), "visible").toBool(), false);
        QCOMPARE(property(QStringLiteral("Off"), "visible").toBool(), true);
        QCOMPARE(property(QStringLiteral("Check"), "toggle-type").toString(),
                 QStringLiteral("checkmark"));
        QCOMPARE(property(QStringLiteral("Check"), "toggle-state").toInt(), 1);
        QCOMPARE(property(QStringLiteral("Radio"), "toggle-type").toString(),
                 QStringLiteral("radio"));
        QCOMPARE(property(QStringLiteral("Radio"), "toggle-state").toInt(), 0);
        QVERIFY(!property(QStringLiteral("Off"), "toggle-type").isValid());
        // 16 device-independent pixels at the ratio.
        QCOMPARE(root->find(QStringLiteral("Sub"))->icon().size(), QSize(32, 32));
        QCOMPARE(root->find(QStringLiteral("Sub"))->icon().pixelColor(8, 8), QColor(Qt::red));

        // A depth of 1 leaves the sub-menu's entries out; a part of the layout with the
        // properties asked for only.
        const std::optional<MenuNode> top = exported.layout(0, 1);
        QVERIFY(top && top->find(QStringLiteral("Sub")));
        QVERIFY(top->find(QStringLiteral("Sub"))->children.isEmpty());
        const int subId = root->find(QStringLiteral("Sub"))->id;
        const std::optional<MenuNode> part = exported.layout(subId, -1, {QStringLiteral("label")});
        QVERIFY(part && part->children.size() == 1);
        QCOMPARE(part->children.value(0).properties,
                 (QVariantMap{{QStringLiteral("label"), QStringLiteral("Inside")}}));

        const QDBusMessage one = exported.call(QStringLiteral("GetProperty"),
                                               {root->find(QStringLiteral("Off"))->id, "enabled"});
        QCOMPARE(one.arguments().value(0).value<QDBusVariant>().variant().toBool(), false);
        const QDBusMessage group2 = exported.call(
            QStringLiteral("GetGroupProperties"),
            {QVariant::fromValue(QList<int>{subId, 999999}), QStringList{QStringLiteral("label")}});
        QCOMPARE(group2.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(group2.signature(), QStringLiteral("a(ia{sv})"));
    }

    // A choice triggers its action after the answer; a disabled entry, a sub-menu and an
    // entry of a layout built over since do nothing. A rebuild is told to the host with
    // a new revision; AboutToShow says whether the menu was built anew.
    void choicesAndRebuilds() {
        QMenu menu;
        QAction* first = menu.addAction(QStringLiteral("First"));
        QAction* off = menu.addAction(QStringLiteral("Off"));
        off->setEnabled(false);
        QSignalSpy firstChosen(first, &QAction::triggered);
        QSignalSpy offChosen(off, &QAction::triggered);
        Exported exported(menu);
        std::optional<MenuNode> root = exported.layout();
        QVERIFY(root);
        const uint revision = exported.revision;
        QVERIFY(exported.click(root->find(QStringLiteral("First"))->id));
        QVERIFY(exported.click(root->find(QStringLiteral("Off"))->id));
        QTRY_COMPARE(firstChosen.size(), 1);
        QTest::qWait(50);
        QCOMPARE(offChosen.size(), 0);

        // A host that asks before showing: nothing rebuilt, then a rebuild.
        bool rebuild = false;
        connect(&exported.exporter, &DBusMenuExporter::aboutToShow, this, [&] {
            if (rebuild)
                exported.exporter.menuRebuilt();
        });
        QCOMPARE(exported.call(QStringLiteral("AboutToShow"), {0}).arguments().value(0).toBool(),
                 false);
        QSignalSpy updated(&exported.exporter, &DBusMenuExporter::layoutUpdated);
        rebuild = true;
        QCOMPARE(exported.call(QStringLiteral("AboutToShow"), {0}).arguments().value(0).toBool(),
                 true);
        QCOMPARE(updated.size(), 1);
        const int staleId = root->find(QStringLiteral("First"))->id;
        root = exported.layout();
        QVERIFY(root);
        QCOMPARE(exported.revision, revision + 1);
        QVERIFY(root->find(QStringLiteral("First"))->id != staleId);
        QVERIFY(exported.click(staleId));
        QTest::qWait(50);
        QCOMPARE(firstChosen.size(), 1);

        // AboutToShowGroup names the entries it does not know.
        const QDBusMessage group = exported.call(QStringLiteral("AboutToShowGroup"),
                                                 {QVariant::fromValue(QList<int>{0, staleId})});
        QCOMPARE(group.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(qdbus_cast<QList<int>>(group.arguments().value(1)), QList<int>{staleId});
    }
};

QUILLO_TEST_MAIN(TestDBusMenu)
#include "tst_dbusmenu.moc"
