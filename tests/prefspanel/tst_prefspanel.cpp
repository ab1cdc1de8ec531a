#include "common/TestEnv.h"

#include "menuextra/prefspanel/ZVPrefsPanel.h"
#include "platform/Bundle.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QMainWindow>
#include <QMenu>
#include <QProcess>
#include <QTabBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

using platform::Bundle;

namespace {

const QByteArray picture = "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"32\" height=\"32\">"
                           "<rect width=\"32\" height=\"32\" fill=\"#3070c0\"/></svg>";

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The settings domain as it is on disk now.
QVariantMap domainOnDisk() {
    return platform::PropertyList::dictionaryFromFile(
               platform::preferencesFilePath(kQLApplicationID))
        .value_or(QVariantMap());
}

// A preferences window as an interface file would make it: a tab view with hidden tabs,
// pages named by their identifiers.
template <typename Window> struct PrefsWindow {
    std::unique_ptr<Window> window = std::make_unique<Window>();
    QTabWidget* tabs = new QTabWidget;

    explicit PrefsWindow(const std::optional<QString>& autosaveName,
                         const QStringList& pages = {"general:General", "calendars:Calendars",
                                                     "about:About"}) {
        window->setWindowTitle(QStringLiteral("Quillo"));
        if (autosaveName)
            window->setProperty("frameAutosaveName", *autosaveName);
        tabs->tabBar()->hide();
        for (const QString& page : pages) {
            auto* widget = new QWidget;
            widget->setObjectName(page.section(QLatin1Char(':'), 0, 0));
            tabs->addTab(widget, page.section(QLatin1Char(':'), 1));
        }
        if constexpr (std::is_same_v<Window, QMainWindow>) {
            window->setCentralWidget(tabs);
        } else {
            auto* layout = new QVBoxLayout(window.get());
            layout->addWidget(tabs);
        }
    }

    ZVToolbar* toolbar() const {
        return window->template findChild<ZVToolbar*>(QString(), Qt::FindDirectChildrenOnly);
    }
};

// One line per toolbar entry: identifier, label, palette label, tool tip, tag,
// checkable, checked, whether it has a picture.
QStringList dumpToolbar(const ZVToolbar& toolbar) {
    QStringList lines;
    for (const QString& identifier : toolbar.itemIdentifiers()) {
        const ZVToolbarItem* item = toolbar.itemWithIdentifier(identifier);
        if (!item) {
            lines << identifier;
            continue;
        }
        const bool image = !item->icon().pixmap(32, 32).isNull();
        lines << QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8")
                     .arg(identifier, item->label(), item->paletteLabel(), item->toolTip())
                     .arg(item->tag())
                     .arg(item->isCheckable() ? "checkable" : "plain",
                          item->isChecked() ? "on" : "off", image ? "image" : "no image");
    }
    return lines;
}

void clickItem(ZVToolbar& toolbar, const QString& identifier) {
    ZVToolbarItem* item = toolbar.itemWithIdentifier(identifier);
    QVERIFY(item);
    QWidget* button = toolbar.widgetForAction(item);
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton);
}

} // namespace

class TestPrefsPanel : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    std::shared_ptr<const Bundle> m_images;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        const QString bundle = m_dir.path() + QStringLiteral("/Quillo.menu");
        QVERIFY(writeFile(bundle + "/Contents/Resources/general.svg", picture));
        QVERIFY(writeFile(bundle + "/Contents/Resources/about.png", "not a picture"));
        m_images = Bundle::bundleWithPath(bundle);
        QVERIFY(m_images);
    }

    // The whole toolbar of a fresh window, item by item.
    void toolbarFromTabs() {
        PrefsWindow<QMainWindow> w(QStringLiteral("test.map"));
        QVERIFY(!w.toolbar());
        ZVPrefsPanel panel(m_images);
        panel.setTabView(w.tabs);
        QCOMPARE(panel.autosaveName(), "com.zelvarin");
        panel.awakeFromNib();

        QCOMPARE(panel.autosaveName(), "test.map");
        QCOMPARE(panel.baseWindowName(), "Quillo : ");
        ZVToolbar* toolbar = w.toolbar();
        QVERIFY(toolbar);
        QCOMPARE(toolbar->identifier(), "test.map.prefspanel.toolbar");
        QCOMPARE(w.window->toolBarArea(toolbar), Qt::TopToolBarArea);
        QCOMPARE(toolbar->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QVERIFY(toolbar->allowsUserCustomization());
        QVERIFY(toolbar->autosavesConfiguration());
        QCOMPARE(toolbar->delegate(), &panel);
        const QStringList expected{
            "general|General|General|General|0|checkable|on|image",
            "calendars|Calendars|Calendars|Calendars|1|checkable|off|no image",
            NSToolbarFlexibleSpaceItemIdentifier,
            "about|About|About|About|2|checkable|off|no image",
        };
        QCOMPARE(dumpToolbar(*toolbar), expected);
        QCOMPARE(w.tabs->currentIndex(), 0);
        QCOMPARE(panel.itemsList(),
                 (QMap<QString, QString>{
                     {"general", "General"}, {"calendars", "Calendars"}, {"about", "About"}}));
        QCOMPARE(panel.toolbarAllowedItemIdentifiers(toolbar),
                 QStringList({"general", "calendars", "about", NSToolbarSeparatorItemIdentifier,
                              NSToolbarSpaceItemIdentifier, NSToolbarFlexibleSpaceItemIdentifier,
                              NSToolbarCustomizeToolbarItemIdentifier}));

        // Mapping again refreshes the same toolbar with the tabs as they are now.
        w.tabs->setTabText(1, QStringLiteral("Stores"));
        panel.mapTabsToToolbar();
        QCOMPARE(w.window->findChildren<ZVToolbar*>().size(), 1);
        QCOMPARE(toolbar->itemWithIdentifier("calendars")->label(), "Stores");
    }

    void aboutTabsFollowFlexibleSpace() {
        PrefsWindow<QMainWindow> w(QStringLiteral("test.about"),
                                   {"about:About", "a:A", "b:About", "c:Aboutness"});
        ZVPrefsPanel panel(m_images);
        panel.setTabView(w.tabs);
        panel.awakeFromNib();
        const QString flex = NSToolbarFlexibleSpaceItemIdentifier;
        QCOMPARE(panel.toolbarDefaultItemIdentifiers(w.toolbar()),
                 QStringList({flex, "about", "a", flex, "b", "c"}));
    }

    // Choosing the third button selects the third tab and stores "2"; a new panel on a
    // new window opens there.
    void recentPageRemembered() {
        {
            PrefsWindow<QMainWindow> w(QStringLiteral("test.recent"));
            ZVPrefsPanel panel(m_images);
            panel.setTabView(w.tabs);
            panel.awakeFromNib();
            w.window->show();
            clickItem(*w.toolbar(), QStringLiteral("about"));
            QCOMPARE(w.tabs->currentIndex(), 2);
            QCOMPARE(w.toolbar()->selectedItemIdentifier(), "about");
            QCOMPARE(domainOnDisk().value("test.recent.prefspanel.recentpage"), QVariant("2"));
        }
        PrefsWindow<QMainWindow> again(QStringLiteral("test.recent"));
        ZVPrefsPanel panel(m_images);
        panel.setTabView(again.tabs);
        panel.awakeFromNib();
        QCOMPARE(again.tabs->currentIndex(), 2);
        QCOMPARE(again.toolbar()->selectedItemIdentifier(), "about");
    }

    // No frame autosave name: the derived names begin with the dot. Also a window that is
    // not a main window gets the toolbar at the top of its layout.
    void emptyAutosaveName() {
        PrefsWindow<QDialog> w(std::nullopt);
        ZVPrefsPanel panel(m_images);
        panel.setTabView(w.tabs);
        panel.awakeFromNib();
        QCOMPARE(panel.autosaveName(), "");
        QCOMPARE(panel.toolbarIdentifier(), ".prefspanel.toolbar");
        QCOMPARE(panel.recentPageKey(), ".prefspanel.recentpage");
        QVERIFY(w.toolbar());
        QCOMPARE(w.toolbar()->identifier(), ".prefspanel.toolbar");
        QCOMPARE(w.window->layout()->menuBar(), w.toolbar());
        w.window->show();
        clickItem(*w.toolbar(), QStringLiteral("calendars"));
        QCOMPARE(w.tabs->currentIndex(), 1);
        QCOMPARE(domainOnDisk().value(".prefspanel.recentpage"), QVariant("1"));
    }

    void storedPage_data() {
        QTest::addColumn<std::optional<QVariant>>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("missing") << std::optional<QVariant>() << 0;
        QTest::newRow("decimal text") << std::optional<QVariant>("1") << 1;
        QTest::newRow("spaces around") << std::optional<QVariant>(" 2 ") << 2;
        QTest::newRow("an integer") << std::optional<QVariant>(2) << 2;
        QTest::newRow("not numeric") << std::optional<QVariant>("about") << 0;
        QTest::newRow("digits then text") << std::optional<QVariant>("2nd") << 0;
        QTest::newRow("empty") << std::optional<QVariant>("") << 0;
        QTest::newRow("past the last tab") << std::optional<QVariant>("3") << 0;
        QTest::newRow("negative") << std::optional<QVariant>("-1") << 0;
        QTest::newRow("a list") << std::optional<QVariant>(QVariantList{1}) << 0;
    }

    void storedPage() {
        QFETCH(std::optional<QVariant>, stored);
        QFETCH(int, expected);
        platform::preferencesSetAppValue("test.stored.prefspanel.recentpage", stored,
                                         kQLApplicationID);
        QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
        PrefsWindow<QMainWindow> w(QStringLiteral("test.stored"));
        w.tabs->setCurrentIndex(1);
        ZVPrefsPanel panel(m_images);
        panel.setTabView(w.tabs);
        panel.awakeFromNib();
        QCOMPARE(w.tabs->currentIndex(), expected);
        QCOMPARE(w.toolbar()->selectedItemIdentifier(),
                 QStringList({"general", "calendars", "about"}).at(expected));
    }

    void identifierWithoutLabelGivesNoItem() {
        PrefsWindow<QMainWindow> w(QStringLiteral("test.nolabel"));
        ZVPrefsPanel panel(m_images);
        panel.setTabView(w.tabs);
        panel.awakeFromNib();
        QVERIFY(!panel.toolbarItemForItemIdentifierWillBeInsertedIntoToolbar(w.toolbar(), "gone",
                                                                             true));
        QVERIFY(panel.toolbarItemForItemIdentifierWillBeInsertedIntoToolbar(w.toolbar(), "about",
                                                                            true));
        // A saved arrangement naming a tab that no longer exists just leaves it out.
        QL_Preferences::sharedPreferences().setObject(
            QVariantList{"gone", "about", NSToolbarSeparatorItemIdentifier, "general"},
            QStringLiteral("test.nolabel.prefspanel.toolbar"));
        PrefsWindow<QMainWindow> again(QStringLiteral("test.nolabel"));
        ZVPrefsPanel second(m_images);
        second.setTabView(again.tabs);
        second.awakeFromNib();
        QCOMPARE(again.toolbar()->itemIdentifiers(),
                 QStringList({"about", NSToolbarSeparatorItemIdentifier, "general"}));
    }

    // The Part's way (copy the domain, write it all back) would lose a setting another
    // process writes between two page changes; the panel writes only its key.
    void otherProcessSettingSurvives() {
        PrefsWindow<QMainWindow> w(QStringLiteral("test.merge"));
        ZVPrefsPanel panel(m_images);
        panel.setTabView(w.tabs);
        panel.awakeFromNib();
        w.window->show();
        clickItem(*w.toolbar(), QStringLiteral("about"));
        QCOMPARE(
            QProcess::execute(QStringLiteral(QUILLO_SETTINGS_HELPER), {"write", "sortOrder", "3"}),
            0);
        clickItem(*w.toolbar(), QStringLiteral("calendars"));
        const QVariantMap domain = domainOnDisk();
        QCOMPARE(domain.value("sortOrder"), QVariant(3));
        QCOMPARE(domain.value("test.merge.prefspanel.recentpage"), QVariant("1"));
    }

    // The user hides an item and adds a separator from the context menu; the arrangement
    // is saved under the toolbar's identifier and comes back in the next window.
    void customisationSaved() {
        PrefsWindow<QMainWindow> w(QStringLiteral("test.custom"));
        ZVPrefsPanel panel(m_images);
        panel.setTabView(w.tabs);
        panel.awakeFromNib();
        ZVToolbar* toolbar = w.toolbar();
        auto trigger = [toolbar](const QString& name, QAction* under = nullptr) {
            std::unique_ptr<QMenu> menu = toolbar->customizationMenu(under);
            QVERIFY(menu);
            auto* action = menu->findChild<QAction*>(name);
            QVERIFY2(action, qPrintable(name));
            action->trigger();
        };
        trigger(QStringLiteral("calendars"));
        trigger(QStringLiteral("TOOLBAR_ADD_SEPARATOR"));
        const QString flex = NSToolbarFlexibleSpaceItemIdentifier;
        const QString separator = NSToolbarSeparatorItemIdentifier;
        const QStringList arranged{"general", flex, "about", separator};
        QCOMPARE(toolbar->itemIdentifiers(), arranged);
        QCOMPARE(domainOnDisk().value("test.custom.prefspanel.toolbar").toStringList(), arranged);

        PrefsWindow<QMainWindow> again(QStringLiteral("test.custom"));
        ZVPrefsPanel second(m_images);
        second.setTabView(again.tabs);
        second.awakeFromNib();
        QCOMPARE(again.toolbar()->itemIdentifiers(), arranged);

        // Removing the flexible space by the entry under the pointer, then the default set.
        QAction* flexAction = nullptr;
        for (QAction* action : toolbar->actions()) {
            if (!qobject_cast<ZVToolbarItem*>(action) && !action->isSeparator())
                flexAction = action;
        }
        QVERIFY(flexAction);
        trigger(QStringLiteral("TOOLBAR_REMOVE_ITEM"), flexAction);
        QCOMPARE(toolbar->itemIdentifiers(), QStringList({"general", "about", separator}));
        trigger(QStringLiteral("TOOLBAR_RESTORE_DEFAULT"));
        QCOMPARE(toolbar->itemIdentifiers(), QStringList({"general", "calendars", flex, "about"}));
        QCOMPARE(domainOnDisk().value("test.custom.prefspanel.toolbar").toStringList(),
                 toolbar->itemIdentifiers());
    }

    // By default the pictures come from Quillo.menu inside the installed pane.
    void picturesFromTheMenuExtra() {
        const QString pane = testenv::dataHome() + "/PreferencePanes/Quillo.prefPane";
        QVERIFY(writeFile(pane + "/Contents/Resources/Quillo.menu/Contents/Resources/about.svg",
                          picture));
        PrefsWindow<QMainWindow> w(QStringLiteral("test.default"));
        ZVPrefsPanel panel;
        panel.setTabView(w.tabs);
        panel.awakeFromNib();
        QVERIFY(!w.toolbar()->itemWithIdentifier("about")->icon().pixmap(32, 32).isNull());
        QVERIFY(w.toolbar()->itemWithIdentifier("general")->icon().isNull());
        QVERIFY(QDir(pane).removeRecursively());
        QVERIFY(!ZVPrefsPanel::menuExtraBundle());
    }

    // The panel may go before its window; the toolbar then no longer calls it.
    void panelGoesFirst() {
        PrefsWindow<QMainWindow> w(QStringLiteral("test.order"));
        {
            ZVPrefsPanel panel(m_images);
            panel.setTabView(w.tabs);
            panel.awakeFromNib();
        }
        QVERIFY(!w.toolbar()->delegate());
        QVERIFY(!w.toolbar()->customizationMenu());
        w.toolbar()->itemWithIdentifier("about")->trigger();
        QCOMPARE(w.tabs->currentIndex(), 0);
        // And a panel whose tab view went first does nothing.
        ZVPrefsPanel panel(m_images);
        {
            PrefsWindow<QMainWindow> gone(QStringLiteral("test.order"));
            panel.setTabView(gone.tabs);
        }
        QVERIFY(!panel.tabView());
        panel.awakeFromNib();
        panel.mapTabsToToolbar();
        panel.orderFrontPrefsPanel();
    }
};

QUILLO_TEST_MAIN(TestPrefsPanel)
#include "tst_prefspanel.moc"
