// The menu model as the exported menu (a plain Qt menu that a desktop draws or Qt draws
// without modifier keys), on the offscreen platform; and where a self-drawn tray menu
// opens beside a panel.
#include "common/TestEnv.h"

#include "platform/ExportedMenu.h"
#include "platform/TrayPlacement.h"

#include <QApplication>
#include <QtTest>

using namespace platform;

namespace {

NSMenuItemPtr item(const QString& title, std::function<void(NSMenuItem*)> call = {},
                   std::optional<QColor> color = {}) {
    auto made =
        std::make_shared<NSMenuItem>(title, NSAction{QStringLiteral("x:"), call}, QString());
    if (color)
        made->setAttributedTitle(
            NSAttributedString(title, {{NSForegroundColorAttributeName, *color}}));
    return made;
}

NSMenuItemPtr label(const QString& title) {
    auto made = std::make_shared<NSMenuItem>(title, NSAction{}, QString());
    made->setEnabled(false);
    return made;
}

QAction* actionNamed(const QMenu& menu, const QString& text) {
    for (QAction* action : menu.actions()) {
        if (action->text() == text)
            return action;
        if (action->menu())
            if (QAction* found = actionNamed(*action->menu(), text))
                return found;
    }
    return nullptr;
}

const QString kPicture = QStringLiteral(QUILLO_RESOURCES "/menu/graphitePriorityImportant.svg");

} // namespace

class TestExportedMenu : public QObject {
    Q_OBJECT

private slots:
    // Every kind of item in one model, and the dump of what it becomes.
    void renderedFromTheModel() {
        QStringList calls;
        const auto record = [&calls](NSMenuItem* sender) { calls << sender->title(); };
        NSMenu model;
        model.addItem(item(QStringLiteral("New"), record));
        auto alternate = item(QStringLiteral("Open calendar"), record);
        alternate->setAlternate(true);
        alternate->setKeyEquivalentModifierMask(NSAlternateKeyMask);
        model.addItem(alternate);
        model.addItem(NSMenuItem::separatorItem());
        model.addItem(label(QStringLiteral("Home")));
        auto toDo = item(QStringLiteral("Fix_the & sink\rtoday"), record, QColor(Qt::red));
        auto choices = std::make_shared<NSMenu>();
        choices->addItem(item(QStringLiteral("Complete"), record));
        choices->addItem(item(QStringLiteral("Remove…"), record));
        toDo->setChoices(choices);
        toDo->setImage(NSImage::imageWithContentsOfFile(kPicture));
        model.addItem(toDo);
        auto disabled = item(QStringLiteral("Gone"), record);
        disabled->setEnabled(false);
        model.addItem(disabled);

        ExportedMenu qt(ExportedMenu::Markup::Qt);
        qt.rebuild(&model);
        QCOMPARE(ExportedMenu::dump(qt.menu()),
                 QStringLiteral("\"New\" enabled\n"
                                "\"Open calendar\" enabled\n"
                                "----\n"
                                "\"Home\" disabled\n"
                                "\"Fix_the && sink today\" enabled icon\n"
                                "    \"Complete\" enabled\n"
                                "    \"Remove…\" enabled\n"
                                "\"Gone\" disabled\n"));
        // The exported markup doubles the underscore that would mark a shortcut letter.
        ExportedMenu dbus(ExportedMenu::Markup::DBusMenu);
        dbus.rebuild(&model);
        QVERIFY(actionNamed(dbus.menu(), QStringLiteral("Fix__the && sink today")));

        // A choice runs its action with the choice once the event has returned, even
        // after the model and the menu have been rebuilt meanwhile.
        QAction* complete = actionNamed(qt.menu(), QStringLiteral("Complete"));
        QVERIFY(complete);
        complete->trigger();
        QVERIFY(calls.isEmpty());
        model.removeAllItems();
        qt.rebuild(&model);
        QTRY_COMPARE(calls, QStringList{QStringLiteral("Complete")});
        QCOMPARE(qt.menu().actions().size(), 0);
        QCOMPARE(qt.rebuildCount(), 2);
        qt.rebuild(nullptr);
        QCOMPARE(qt.menu().actions().size(), 0);
    }

    // A rebuild that changes nothing keeps the menu (the host keeps its layout), and its
    // entries then reach the model's new items; any change builds it anew.
    void unchangedModelKeepsTheMenu() {
        std::vector<const NSMenuItem*> called;
        const auto record = [&called](NSMenuItem* sender) { called.push_back(sender); };
        NSMenu model;
        const auto fillModel = [&](const QString& second) {
            model.removeAllItems();
            model.addItem(item(QStringLiteral("First"), record));
            auto toDo = item(second, record);
            auto choices = std::make_shared<NSMenu>();
            choices->addItem(item(QStringLiteral("Edit…"), record));
            toDo->setChoices(choices);
            model.addItem(toDo);
        };
        fillModel(QStringLiteral("Second"));
        ExportedMenu menu;
        menu.rebuild(&model);
        QAction* edit = actionNamed(menu.menu(), QStringLiteral("Edit…"));
        fillModel(QStringLiteral("Second"));
        menu.rebuild(&model);
        QCOMPARE(menu.rebuildCount(), 1);
        QCOMPARE(actionNamed(menu.menu(), QStringLiteral("Edit…")), edit);
        edit->trigger();
        QTRY_COMPARE(called.size(), std::size_t(1));
        QCOMPARE(called.front(), model.itemAtIndex(1)->choices()->itemAtIndex(0).get());

        fillModel(QStringLiteral("Second, renamed"));
        menu.rebuild(&model);
        QCOMPARE(menu.rebuildCount(), 2);
        QVERIFY(actionNamed(menu.menu(), QStringLiteral("Second, renamed")));
        model.itemAtIndex(0)->setEnabled(false);
        menu.rebuild(&model);
        QCOMPARE(menu.rebuildCount(), 3);
    }

    // The icon: the picture with the colour as a dot in the lower right, or the dot alone,
    // in every pixel size a host may ask for.
    void icons() {
        ExportedMenu menu;
        const auto pixels = [](const QIcon& icon, int size) {
            return icon.pixmap(QSize(size, size)).toImage();
        };
        auto both = item(QStringLiteral("a"), {}, QColor(0, 0, 255, 128));
        both->setImage(NSImage::imageWithContentsOfFile(kPicture));
        const QIcon withPicture = menu.iconForItem(*both);
        for (int size : {16, 32, 64}) {
            const QImage image = pixels(withPicture, size);
            QCOMPARE(image.width(), size);
            const QColor dot = image.pixelColor(size * 3 / 4, size * 3 / 4);
            QVERIFY2(dot.blue() > 200 && dot.red() < 60 && dot.alpha() == 255,
                     qPrintable(dot.name(QColor::HexArgb)));
        }
        const QImage alone = pixels(menu.iconForItem(*item("b", {}, QColor(Qt::green))), 32);
        QVERIFY(alone.pixelColor(16, 16).green() > 200);
        QCOMPARE(alone.pixelColor(1, 1).alpha(), 0);
        QVERIFY(menu.iconForItem(*item(QStringLiteral("c"))).isNull());
    }

    // A very long menu keeps its head and its last section at the first level, the rest
    // in parts named by their first and last titles, each item's choices inside.
    void longMenu() {
        NSMenu model;
        for (int i = 0; i < 25; ++i) {
            auto toDo = item(QStringLiteral("To-do %1").arg(i, 2, 10, QLatin1Char('0')));
            auto choices = std::make_shared<NSMenu>();
            choices->addItem(item(QStringLiteral("Edit…")));
            toDo->setChoices(choices);
            model.addItem(toDo);
        }
        model.addItem(NSMenuItem::separatorItem());
        model.addItem(item(QStringLiteral("Settings")));
        ExportedMenu menu(ExportedMenu::Markup::Qt, 10);
        menu.rebuild(&model);
        QStringList top;
        for (const QAction* action : menu.menu().actions())
            top << action->text();
        QCOMPARE(top.size(), 14);
        QCOMPARE(top.value(10), QStringLiteral("To-do 10 – To-do 19"));
        QCOMPARE(top.value(11), QStringLiteral("To-do 20 – To-do 24"));
        QCOMPARE(top.value(13), QStringLiteral("Settings"));
        QMenu* part = menu.menu().actions().value(11)->menu();
        QVERIFY(part);
        QCOMPARE(part->actions().size(), 5);
        QVERIFY(part->actions().value(0)->menu());
        QCOMPARE(part->actions().value(0)->menu()->actions().value(0)->text(),
                 QStringLiteral("Edit…"));
        // Built again, nothing of the old parts stays.
        menu.rebuild(&model);
        QCOMPARE(menu.menu().findChildren<QMenu*>().size(), 25 + 2);
    }

    void placement_data() {
        QTest::addColumn<QRect>("avoid");
        QTest::addColumn<int>("anchorX");
        QTest::addColumn<QPoint>("expected");
        // A 200 x 300 menu on a 1280 x 1024 screen.
        QTest::newRow("below a top panel") << QRect(0, 0, 1280, 30) << 600 << QPoint(600, 30);
        QTest::newRow("above a bottom panel") << QRect(0, 994, 1280, 30) << 600 << QPoint(600, 694);
        QTest::newRow("kept on screen at the right")
            << QRect(1250, 0, 30, 30) << 1250 << QPoint(1080, 30);
        QTest::newRow("a side panel in the lower half")
            << QRect(0, 600, 40, 400) << 0 << QPoint(0, 300);
        QTest::newRow("never above the screen") << QRect(0, 200, 40, 700) << 10 << QPoint(10, 0);
    }
    void placement() {
        QFETCH(QRect, avoid);
        QFETCH(int, anchorX);
        QFETCH(QPoint, expected);
        QCOMPARE(trayMenuPosition(avoid, anchorX, QSize(200, 300), QRect(0, 0, 1280, 1024)),
                 expected);
    }
};

QUILLO_TEST_MAIN(TestExportedMenu)
#include "tst_exportedmenu.moc"
