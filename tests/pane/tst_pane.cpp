// The settings pane on the offscreen platform: its form, every control against the
// settings store, the hot-key popup, the side bar, the menu-extra requests and the
// installation checks.
#include "common/TestEnv.h"
#include "pane/PaneTestSupport.h"

#include "QL_Preference_Pane/QL_HotKeyMenu.h"
#include "QL_Preference_Pane/QL_MenuExtraInstall.h"
#include "QL_Preference_Pane/QL_Preference_PanePref.h"
#include "platform/Alert.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/Gestalt.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"
#include "shared/QL_Preferences.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <functional>
#include <memory>

using platform::DistributedNotificationCenter;

namespace {

// The domain as stored on disk.
QVariantMap storedDomain() {
    return platform::persistentDomainForName(kQLApplicationID).value_or(QVariantMap());
}

// What changed between two states of the domain: "key=value" for each changed key.
QStringList domainChanges(const QVariantMap& before, const QVariantMap& after) {
    QStringList changes;
    for (auto it = after.begin(); it != after.end(); ++it)
        if (!before.contains(it.key()) || before.value(it.key()) != it.value())
            changes << it.key() + QLatin1Char('=') + it.value().toString();
    for (auto it = before.begin(); it != before.end(); ++it)
        if (!after.contains(it.key()))
            changes << it.key() + QStringLiteral("=<removed>");
    changes.sort();
    return changes;
}

// Counts the change notifications this process sees.
struct NotificationCounter {
    int count = 0;
    NotificationCounter() {
        DistributedNotificationCenter::defaultCenter().addObserver(
            this, QLPreferencesDidChangeNotification,
            [this](const QString&, const QString& object) {
                if (object == kQLApplicationID)
                    ++count;
            });
    }
    ~NotificationCounter() { DistributedNotificationCenter::defaultCenter().removeObserver(this); }
    NotificationCounter(const NotificationCounter&) = delete;
    NotificationCounter& operator=(const NotificationCounter&) = delete;
};

void setDomain(const QVariantMap& domain) {
    QVERIFY(platform::setPersistentDomain(domain, kQLApplicationID));
    QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
}

// Lets the pane's queued updates run.
void settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

void typeInto(QLineEdit* field, const QString& text) {
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, text);
    QTest::keyClick(field, Qt::Key_Return);
}

// The user picks an entry of a popup from the keyboard: open it, move, confirm.
void choose(QComboBox* popup, int index) {
    popup->setCurrentIndex(index);
    emit popup->activated(index);
}

using Action = std::function<void(QL_Preference_PanePref&)>;

} // namespace

Q_DECLARE_METATYPE(Action)

class PaneTest : public QObject {
    Q_OBJECT

    traytest::ServerProcess m_server{QStringLiteral(QUILLO_MENUBAR_SERVER)};
    panetest::ServerCallMonitor m_monitor;
    QList<platform::Alert> m_alerts;

    std::unique_ptr<QL_Preference_PanePref> makePane() {
        auto pane = std::make_unique<QL_Preference_PanePref>(
            platform::Bundle::bundleWithPath(panetest::paneCopy()));
        pane->loadMainView();
        settle();
        return pane;
    }

private slots:
    void initTestCase() {
        QVERIFY(QDir().mkpath(testenv::dataHome() + "/PreferencePanes"));
        panetest::makePaneCopy();
        QVERIFY(m_server.start());
        m_monitor.start();
        platform::setAlertResponder([this](const platform::Alert& alert) {
            m_alerts << alert;
            return platform::AlertFirstButton;
        });
    }

    void init() {
        QFile::remove(panetest::installedPanePath());
        QVERIFY(QFile::link(panetest::paneCopy(), panetest::installedPanePath()));
        panetest::callServer("RemoveMenuExtra", kQLMenuExtraIdentifier);
        m_monitor.clear();
        m_alerts.clear();
        gSystemVersion = 0;
        platform::setGestaltSystemVersionOverride(std::nullopt);
        setDomain({{"firstRun", false}});
    }

    void hotKeyMenu() {
        QFile expected(QStringLiteral(QUILLO_TEST_SOURCE "/pane/hotkeymenu.txt"));
        QVERIFY(expected.open(QIODevice::ReadOnly));
        QStringList dump;
        for (const QL_HotKeyEntry& e : QL_HotKeyMenuEntries())
            dump << (e.separator ? QStringLiteral("---")
                                 : QStringLiteral("%1 | %2 | 0x%3 | 0x%4 | %5")
                                       .arg(e.title)
                                       .arg(e.keyIndex)
                                       .arg(QString::number(e.mask, 16).toUpper())
                                       .arg(QString::number(e.tag, 16).toUpper())
                                       .arg(e.alternate ? "alternate" : "-"));
        QCOMPARE(dump.join('\n') + '\n', QString::fromUtf8(expected.readAll()));

        // The popup shows the same entries, the alternates like the others.
        auto pane = makePane();
        QComboBox* popup = pane->modifierKeyPopup;
        QCOMPARE(popup->count(), 208);
        for (int i = 0; i < 208; ++i) {
            const QStringList fields = dump.at(i).split(QStringLiteral(" | "));
            if (fields.size() == 1) {
                QVERIFY(!popup->itemData(i, QL_Preference_PanePref::TagRole).isValid());
                continue;
            }
            QCOMPARE(popup->itemText(i), fields.at(0));
            QCOMPARE(popup->itemData(i, QL_Preference_PanePref::RepresentedObjectRole).toInt(),
                     fields.at(1).toInt());
            QCOMPARE(popup->itemData(i, QL_Preference_PanePref::TagRole).toInt(),
                     fields.at(3).toInt(nullptr, 16));
            QCOMPARE(popup->itemData(i, QL_Preference_PanePref::AlternateRole).toBool(),
                     fields.at(4) == QLatin1String("alternate"));
        }
    }

    void keyConversions_data() {
        QTest::addColumn<int>("keyIndex");
        QTest::addColumn<int>("keyCode");
        const int codes[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};
        QTest::newRow("Space") << 49 << 49;
        for (int n = 1; n <= 12; ++n)
            QTest::addRow("F%d", n) << n << codes[n - 1];
    }
    void keyConversions() {
        QFETCH(int, keyIndex);
        QFETCH(int, keyCode);
        QCOMPARE(QL_KeyCodeForKeyIndex(keyIndex), keyCode);
        QCOMPARE(QL_KeyIndexForKeyCode(keyCode), keyIndex);
    }

    void unknownKeysAndModifiers() {
        QCOMPARE(QL_KeyIndexForKeyCode(0), 49); // "a"
        QCOMPARE(QL_KeyIndexForKeyCode(-1), 49);
        QCOMPARE(QL_PopupMaskForModifiers(0x1900), 0x1C0000u);
        QCOMPARE(QL_ModifiersForPopupMask(0x1C0000), 0x1900);
        QCOMPARE(QL_PopupMaskForModifiers(0x200 | 0x1 | 0x400), 0x20000u); // others dropped
        QCOMPARE(QL_ModifiersForPopupMask(0x20000 | 0x1 | 0x200000), 0x200);
        QCOMPARE(QL_HotKeyTag(111, 0), 0x180);
        QCOMPARE(QL_HotKeyTag(49, 6400), 0x1C0620);
    }

    // The fresh domain: the first showing stores firstRun NO, adds the menu extra and
    // shows every default.
    void firstRun() {
        setDomain({});
        NotificationCounter posts;
        auto pane = makePane();
        QCOMPARE(storedDomain(), (QVariantMap{{"firstRun", false}}));
        QCOMPARE(posts.count, 1);
        QCOMPARE(m_monitor.changes(),
                 (QStringList{"AddMenuExtra MenuCracker.menu", "AddMenuExtra Quillo.menu"}));
        QVERIFY(pane->showQuilloCheckbox->isChecked());
        QCOMPARE(pane->modifierKeyPopup->currentIndex(), 4);
        QCOMPARE(pane->modifierKeyPopup->currentData(QL_Preference_PanePref::TagRole).toInt(),
                 0x1C0620);
        QCOMPARE(pane->modifierKeyPopup->currentText(), QString::fromUtf8("⌘ ⌥ ⌃ Space"));
        QCOMPARE(pane->versionField->text(), QStringLiteral("Version " QUILLO_VERSION));
        QCOMPARE(pane->versionField->textFormat(), Qt::PlainText); // the bundle's text
        QCOMPARE(pane->sortToDoPopup->currentIndex(), 0);
        QVERIFY(pane->showLabelsCheckbox->isChecked());
        QVERIFY(!pane->doNotWarnCheckbox->isChecked());
        QCOMPARE(pane->hideToDoField->text(), QStringLiteral("7"));
        QVERIFY(!pane->hideToDoField->isEnabled());
        QVERIFY(!pane->modifierKeyPopup->isEnabled());
        QCOMPARE(QL_Preference_PanePref::selectedCellTag(pane->showInformationalIconsMatrix), 1);
        QVERIFY(QL_Preference_PanePref::cellWithTag(pane->modifierStatusMatrix, 1)->isChecked());
        QVERIFY(QL_Preference_PanePref::cellWithTag(pane->modifierDeleteMatrix, 0)->isChecked());
        QVERIFY(m_alerts.isEmpty());

        // The next showing leaves the menu bar alone.
        m_monitor.clear();
        pane = makePane();
        QCOMPARE(m_monitor.changes(), QStringList());
        QCOMPARE(storedDomain(), (QVariantMap{{"firstRun", false}}));
    }

    // Every setting control stores its key once and posts once; the update that
    // follows stores and posts nothing more.
    void valueDidChange_data() {
        QTest::addColumn<Action>("action");
        QTest::addColumn<QStringList>("changes");
        using P = QL_Preference_PanePref;
        auto cell = [](QGroupBox* matrix, int tag) { return P::cellWithTag(matrix, tag); };
        QTest::newRow("sortToDoPopup")
            << Action([](P& p) { choose(p.sortToDoPopup, 3); }) << QStringList{"sortOrder=3"};
        QTest::newRow("showDueDatesCheckbox")
            << Action([](P& p) { p.showDueDatesCheckbox->click(); })
            << QStringList{"showDueDates=true"};
        QTest::newRow("showLabelsCheckbox") << Action([](P& p) { p.showLabelsCheckbox->click(); })
                                            << QStringList{"showLabels=false"};
        QTest::newRow("showTooltipsCheckbox")
            << Action([](P& p) { p.showTooltipsCheckbox->click(); })
            << QStringList{"showTooltips=false"};
        QTest::newRow("showInformationalIconsMatrix")
            << Action([cell](P& p) { cell(p.showInformationalIconsMatrix, 2)->click(); })
            << QStringList{"informationalIcons=2"};
        QTest::newRow("highlighOverdueItemsCheckbox")
            << Action([](P& p) { p.highlighOverdueItemsCheckbox->click(); })
            << QStringList{"highlightOverdueItems=true"};
        QTest::newRow("showDueCountOnIconCheckbox")
            << Action([](P& p) { p.showDueCountOnIconCheckbox->click(); })
            << QStringList{"showDueCountOnIcon=true"};
        QTest::newRow("showNextDueInToolTipCheckbox")
            << Action([](P& p) { p.showNextDueInToolTipCheckbox->click(); })
            << QStringList{"showNextDueInToolTip=true"};
        QTest::newRow("symbolicMenuIconCheckbox")
            << Action([](P& p) { p.symbolicMenuIconCheckbox->click(); })
            << QStringList{"symbolicMenuIcon=true"};
        QTest::newRow("colorItemsCheckbox") << Action([](P& p) { p.colorItemsCheckbox->click(); })
                                            << QStringList{"colorItemsByCalendarColor=true"};
        QTest::newRow("doNotWarnCheckbox") << Action([](P& p) { p.doNotWarnCheckbox->click(); })
                                           << QStringList{"warnWhenRemovingItems=false"};
        QTest::newRow("hideToDoCheckbox") << Action([](P& p) { p.hideToDoCheckbox->click(); })
                                          << QStringList{"hideToDoItemsAfterCompletion=true"};
        QTest::newRow("hideToDoField") << Action([](P& p) {
            p.tabView->setCurrentIndex(1);
            p.hideToDoField->setEnabled(true);
            typeInto(p.hideToDoField, "0");
        }) << QStringList{"numberOfDaysAfterCompletion=0"};
        QTest::newRow("hideSubscribedCalendarsCheckbox")
            << Action([](P& p) { p.hideSubscribedCalendarsCheckbox->click(); })
            << QStringList{"hideSubscribedCalendars=true"};
        QTest::newRow("showToDoCheckbox") << Action([](P& p) { p.showToDoCheckbox->click(); })
                                          << QStringList{"showToDoItemsDue=true"};
        QTest::newRow("showToDoField") << Action([](P& p) {
            p.tabView->setCurrentIndex(1);
            p.showToDoField->setEnabled(true);
            typeInto(p.showToDoField, "-3");
        }) << QStringList{"numberOfDaysBeforeDue=-3"};
        QTest::newRow("useSmallFontSizeCheckbox")
            << Action([](P& p) { p.useSmallFontSizeCheckbox->click(); })
            << QStringList{"useSmallFontSize=true"};
        QTest::newRow("menuBarImageMatrix")
            << Action([cell](P& p) { cell(p.menuBarImageMatrix, 5)->click(); })
            << QStringList{"menuIconImage=5"};
        QTest::newRow("checkForUpdatesCheckbox")
            << Action([](P& p) { p.checkForUpdatesCheckbox->click(); })
            << QStringList{"checkForUpdatesOnLaunch=false"};
        QTest::newRow("modifierKeyCheckbox") << Action([](P& p) { p.modifierKeyCheckbox->click(); })
                                             << QStringList{"useOpenMenuKey=true"};
        QTest::newRow("quickAddKeyCheckbox") << Action([](P& p) { p.quickAddKeyCheckbox->click(); })
                                             << QStringList{"useQuickAddKey=true"};
        QTest::newRow("showRemindersCheckbox")
            << Action([](P& p) { p.showRemindersCheckbox->click(); })
            << QStringList{"showReminders=true"};
        // Option and Command held: Option was already on by default, Command is added.
        QTest::newRow("modifierStatusMatrix")
            << Action([cell](P& p) { cell(p.modifierStatusMatrix, 3)->click(); })
            << QStringList{"toggleStatusModifier=10"};
        QTest::newRow("modifierDeleteMatrix")
            << Action([cell](P& p) { cell(p.modifierDeleteMatrix, 0)->click(); })
            << QStringList{"removeToDoModifier=0"};
    }
    void valueDidChange() {
        QFETCH(Action, action);
        QFETCH(QStringList, changes);
        auto pane = makePane();
        pane->mainView()->show();
        QVERIFY(QTest::qWaitForWindowActive(pane->mainView()));
        const QVariantMap before = storedDomain();
        NotificationCounter posts;
        action(*pane);
        QCOMPARE(domainChanges(before, storedDomain()), changes);
        QCOMPARE(posts.count, 1);
        settle();
        QCOMPARE(posts.count, 1);
        QCOMPARE(domainChanges(before, storedDomain()), changes);
        QCOMPARE(m_monitor.changes(), QStringList());
    }

    void hotKeyChoices() {
        auto pane = makePane();
        QComboBox* popup = pane->modifierKeyPopup;
        // Shift F5: the last combination of F5.
        const int shiftF5 = 15 + 1 + 4 * 16 + 15;
        QCOMPARE(popup->itemText(shiftF5), QString::fromUtf8("⇧ F5"));
        NotificationCounter posts;
        const QVariantMap before = storedDomain();
        choose(popup, shiftF5);
        QCOMPARE(domainChanges(before, storedDomain()),
                 (QStringList{"openMenuKey=96", "openMenuModifiers=512"}));
        QCOMPARE(posts.count, 2);
        settle();
        QCOMPARE(popup->currentIndex(), shiftF5);

        // The separator stores nothing.
        choose(popup, 15);
        QCOMPARE(posts.count, 2);

        // Quick add's popup stores quick add's key and leaves the menu's as it is.
        pane->quickAddKeyCheckbox->click();
        QVERIFY(pane->quickAddKeyPopup->isEnabled());
        const QVariantMap beforeQuickAdd = storedDomain();
        choose(pane->quickAddKeyPopup, shiftF5);
        QCOMPARE(domainChanges(beforeQuickAdd, storedDomain()),
                 (QStringList{"quickAddKey=96", "quickAddModifiers=512"}));
        settle();
        QCOMPARE(pane->quickAddKeyPopup->currentIndex(), shiftF5);
        QCOMPARE(popup->currentIndex(), shiftF5);
    }

    void hotKeySelection_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("index"); // -1: no entry selected
        QTest::newRow("F12 alone") << 111 << 0 << 15 + 1 + 11 * 16;
        QTest::newRow("Command Option Control Space") << 49 << 0x1900 << 4;
        // An invalid key or modifier set is not what the menu extra registers: it uses
        // the default, and so does the popup.
        QTest::newRow("unknown key is the default Space") << 0 << 0x100 << 0;
        QTest::newRow("invalid modifiers are the default")
            << 96 << (0x200 | 0x1) << 15 + 1 + 4 * 16 + 1 + 4;
        QTest::newRow("negative modifiers are the default") << 111 << -1 << 15 + 1 + 11 * 16 + 5;
        QTest::newRow("Space alone has no entry") << 49 << 0 << -1;
    }
    void hotKeySelection() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, index);
        setDomain({{"firstRun", false}, {"openMenuKey", key}, {"openMenuModifiers", modifiers}});
        auto pane = makePane();
        QCOMPARE(pane->modifierKeyPopup->currentIndex(), index);
        if (key == 111 && modifiers == 0)
            QCOMPARE(pane->modifierKeyPopup->currentData(QL_Preference_PanePref::TagRole).toInt(),
                     0x180);
    }

    // The day fields take whole numbers only; anything else is never stored.
    void dayFields_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("changes");
        QTest::addColumn<QString>("shown"); // after the field loses the focus
        QTest::newRow("zero") << "0" << QStringList{"numberOfDaysAfterCompletion=0"} << "0";
        // Stored as typed, shown as the 0 it reads as.
        QTest::newRow("negative") << "-12" << QStringList{"numberOfDaysAfterCompletion=-12"} << "0";
        QTest::newRow("letters") << "abc" << QStringList() << "7";
        QTest::newRow("minus only") << "-" << QStringList() << "7";
        QTest::newRow("empty") << "" << QStringList() << "7";
        QTest::newRow("too large") << "99999999999" << QStringList() << "7";
        QTest::newRow("fraction") << "2.5" << QStringList{"numberOfDaysAfterCompletion=25"} << "25";
    }
    void dayFields() {
        QFETCH(QString, typed);
        QFETCH(QStringList, changes);
        QFETCH(QString, shown);
        auto pane = makePane();
        pane->mainView()->show();
        QVERIFY(QTest::qWaitForWindowActive(pane->mainView()));
        pane->tabView->setCurrentWidget(pane->tabView->widget(1));
        pane->hideToDoCheckbox->click();
        QVERIFY(pane->hideToDoField->isEnabled());
        const QVariantMap before = storedDomain();
        NotificationCounter posts;
        typeInto(pane->hideToDoField, typed);
        pane->hideSubscribedCalendarsCheckbox->setFocus();
        settle();
        QCOMPARE(domainChanges(before, storedDomain()), changes);
        QCOMPARE(posts.count, changes.size());
        QCOMPARE(pane->hideToDoField->text(), shown);
    }

    // Values outside their settings' ranges show the defaults in effect, and are kept as
    // they are until a control is used.
    void valuesWithoutControl() {
        setDomain({{"firstRun", false},
                   {"sortOrder", 7},
                   {"informationalIcons", 9},
                   {"menuIconImage", -1},
                   {"toggleStatusModifier", 0x1F}});
        auto pane = makePane();
        QCOMPARE(pane->sortToDoPopup->currentIndex(), 0);
        QCOMPARE(QL_Preference_PanePref::selectedCellTag(pane->showInformationalIconsMatrix), 1);
        QCOMPARE(QL_Preference_PanePref::selectedCellTag(pane->menuBarImageMatrix), 0);
        for (int tag = 0; tag < 4; ++tag)
            QCOMPARE(
                QL_Preference_PanePref::cellWithTag(pane->modifierStatusMatrix, tag)->isChecked(),
                tag == 1);
        const QVariantMap before = storedDomain();
        settle();
        QCOMPARE(storedDomain(), before);
    }

    // updateUI only ever enables the fields and the popup; their checkboxes disable them.
    void enabledStates() {
        setDomain({{"firstRun", false},
                   {"hideToDoItemsAfterCompletion", true},
                   {"showToDoItemsDue", true},
                   {"useOpenMenuKey", true}});
        auto pane = makePane();
        QVERIFY(pane->hideToDoField->isEnabled());
        QVERIFY(pane->showToDoField->isEnabled());
        QVERIFY(pane->modifierKeyPopup->isEnabled());
        setDomain({{"firstRun", false}});
        pane->updateUI();
        QVERIFY(!pane->hideToDoCheckbox->isChecked());
        QVERIFY(pane->hideToDoField->isEnabled());
        pane->hideToDoCheckbox->click();
        pane->hideToDoCheckbox->click();
        QVERIFY(!pane->hideToDoField->isEnabled());
        pane->modifierKeyCheckbox->click();
        pane->modifierKeyCheckbox->click();
        QVERIFY(!pane->modifierKeyPopup->isEnabled());
    }

    // A setting written by another process reaches its control.
    void otherProcessWrites() {
        auto pane = makePane();
        QVERIFY(pane->showLabelsCheckbox->isChecked());
        QCOMPARE(pane->sortToDoPopup->currentIndex(), 0);
        for (const auto& [key, value] : {std::pair{"showLabels", "0"}, {"sortOrder", "4"}}) {
            QProcess helper;
            helper.start(QStringLiteral(QUILLO_SETTINGS_HELPER), {"write", key, value});
            QVERIFY(helper.waitForFinished(10000));
            QCOMPARE(helper.exitCode(), 0);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!pane->showLabelsCheckbox->isChecked(), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(pane->sortToDoPopup->currentIndex(), 4, 10000);
    }

    void menuBarCheckbox() {
        auto pane = makePane();
        QVERIFY(!pane->showQuilloCheckbox->isChecked());

        // Off while not loaded: nothing to remove.
        pane->showQuilloCheckbox->setChecked(true);
        pane->showQuilloCheckbox->click();
        QCOMPARE(m_monitor.changes(), QStringList());

        // On, twice: both requests each time, the auxiliary bundle first.
        pane->showQuilloCheckbox->click();
        settle();
        QVERIFY(pane->showQuilloCheckbox->isChecked());
        pane->showQuilloCheckbox->setChecked(false);
        pane->showQuilloCheckbox->click();
        QCOMPARE(m_monitor.changes(),
                 (QStringList{"AddMenuExtra MenuCracker.menu", "AddMenuExtra Quillo.menu",
                              "AddMenuExtra MenuCracker.menu", "AddMenuExtra Quillo.menu"}));
        QCOMPARE(storedDomain(), (QVariantMap{{"firstRun", false}}));

        // Removed and added by another client of the server: its notifications move the
        // box.
        QCOMPARE(panetest::callServer("RemoveMenuExtra", kQLMenuExtraIdentifier), 0);
        QTRY_VERIFY(!pane->showQuilloCheckbox->isChecked());
        QCOMPARE(panetest::callServer("AddMenuExtra",
                                      panetest::paneCopy() + "/Contents/Resources/Quillo.menu"),
                 0);
        QTRY_VERIFY(pane->showQuilloCheckbox->isChecked());

        m_monitor.clear();
        pane->showQuilloCheckbox->click();
        QCOMPARE(m_monitor.changes(), QStringList{"RemoveMenuExtra com.orvane.quillo"});
        settle();
        QVERIFY(!pane->showQuilloCheckbox->isChecked());
    }

    void systemVersion_data() {
        QTest::addColumn<QString>("gestalt"); // "fails", "real" or the level reported
        QTest::addColumn<bool>("alert");
        QTest::addColumn<int>("cached");
        QTest::newRow("10.3.9") << "0x1039" << true << 0x1039;
        QTest::newRow("10.3.15") << "0x103F" << true << 0x103F;
        QTest::newRow("10.4.0") << "0x1040" << false << 0x1040;
        QTest::newRow("this platform") << "real" << false << 0x1040;
        QTest::newRow("query fails") << "fails" << true << 0;
    }
    void systemVersion() {
        QFETCH(QString, gestalt);
        QFETCH(bool, alert);
        QFETCH(int, cached);
        if (gestalt == QLatin1String("fails"))
            platform::setGestaltSystemVersionOverride(std::optional<platform::SInt32>());
        else if (gestalt != QLatin1String("real"))
            platform::setGestaltSystemVersionOverride(
                std::optional<platform::SInt32>(gestalt.toInt(nullptr, 16)));
        auto pane = makePane();
        QCOMPARE(m_alerts.size(), alert ? 1 : 0);
        if (alert) {
            QCOMPARE(m_alerts.first().title, QStringLiteral("Newer Desktop Required"));
            QCOMPARE(m_alerts.first().buttons, QStringList{"OK"});
        }
        QCOMPARE(gSystemVersion, cached);
        // A failed query is asked again; a known version is not.
        platform::setGestaltSystemVersionOverride(std::optional<platform::SInt32>(0x1050));
        QCOMPARE(GetSystemVersion(), cached ? cached : 0x1050);
    }

    void reinstallNeeded() {
        QVERIFY(QFile::remove(panetest::installedPanePath()));
        auto pane = makePane();
        QCOMPARE(pane->versionField->text(), QStringLiteral("Error: Reinstall Required"));
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(m_alerts.first().title, QStringLiteral("Reinstall Required"));
        // Later updates do not ask again.
        pane->showLabelsCheckbox->click();
        settle();
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(pane->versionField->text(), QStringLiteral("Error: Reinstall Required"));
    }

    void sideBar() {
        auto pane = makePane();
        QCOMPARE(pane->sideBarView->parentWidget(), pane->genView);
        pane->tabView->setCurrentIndex(1);
        QCOMPARE(pane->sideBarView->parentWidget(), pane->advView);
        pane->tabView->setCurrentIndex(2);
        QCOMPARE(pane->sideBarView->parentWidget(), pane->modView);
        pane->tabView->setCurrentIndex(0);
        QCOMPARE(pane->sideBarView->parentWidget(), pane->genView);
        // A tab whose identifier names no view leaves the side bar on no tab.
        QWidget* stray = new QWidget;
        stray->setObjectName("extraTabItem");
        pane->tabView->addTab(stray, "extra");
        pane->tabView->setCurrentWidget(stray);
        QCOMPARE(pane->sideBarView->parentWidget(), nullptr);
        QVERIFY(!pane->sideBarView->isVisible());
        pane->tabView->setCurrentIndex(1);
        QCOMPARE(pane->sideBarView->parentWidget(), pane->advView);
    }

    // Every control has a name for the screen reader, takes the focus from the
    // keyboard, and the Tab key walks each tab's controls in order; every text of the
    // form is found in both languages.
    void keyboardAndTexts_data() {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("generalTab");
        QTest::newRow("en") << "en"
                            << "General";
        QTest::newRow("de") << "de"
                            << "Allgemein";
    }
    void keyboardAndTexts() {
        QFETCH(QString, language);
        QFETCH(QString, generalTab);
        QLocale::setDefault(QLocale(language));
        auto pane = makePane();
        QLocale::setDefault(QLocale::c());
        QWidget* view = pane->mainView();
        for (QWidget* w : view->findChildren<QWidget*>()) {
            if (qobject_cast<QTabBar*>(w->parentWidget())) // its scroll arrows
                continue;
            if (auto* b = qobject_cast<QAbstractButton*>(w))
                QVERIFY2(!b->text().isEmpty(), qPrintable(w->objectName()));
            if (auto* l = qobject_cast<QLabel*>(w); l && l != pane->versionField)
                QVERIFY2(!l->text().isEmpty(), qPrintable(w->objectName()));
            if (auto* g = qobject_cast<QGroupBox*>(w))
                QVERIFY2(!g->title().isEmpty(), qPrintable(w->objectName()));
            const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                                 qobject_cast<QLineEdit*>(w);
            if (control) {
                QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
                QVERIFY2(w->focusPolicy() & Qt::TabFocus, qPrintable(w->objectName()));
            }
        }
        QCOMPARE(pane->tabView->tabText(0), generalTab);
        for (int i = 0; i < pane->tabView->count(); ++i)
            QVERIFY(!pane->tabView->tabText(i).isEmpty());
        for (int i = 0; i < pane->sortToDoPopup->count(); ++i)
            QVERIFY(!pane->sortToDoPopup->itemText(i).isEmpty());

        // Tab walks each tab's controls top to bottom, then the side bar's buttons.
        const QStringList order{"sortToDoPopup",
                                "showDueDatesCheckbox",
                                "showLabelsCheckbox",
                                "showTooltipsCheckbox",
                                "informationalIconsNoneCell",
                                "informationalIconsPriorityCell",
                                "informationalIconsStatusCell",
                                "highlighOverdueItemsCheckbox",
                                "showQuilloCheckbox",
                                "showDueCountOnIconCheckbox",
                                "showNextDueInToolTipCheckbox",
                                "symbolicMenuIconCheckbox",
                                "colorItemsCheckbox",
                                "doNotWarnCheckbox",
                                "hideToDoCheckbox",
                                "hideToDoField",
                                "hideSubscribedCalendarsCheckbox",
                                "showToDoCheckbox",
                                "showToDoField",
                                "useSmallFontSizeCheckbox",
                                "menuIcon0Cell",
                                "menuIcon1Cell",
                                "menuIcon2Cell",
                                "menuIcon3Cell",
                                "menuIcon4Cell",
                                "menuIcon5Cell",
                                "checkForUpdatesCheckbox",
                                "checkNowButton",
                                "quickAddKeyCheckbox",
                                "quickAddKeyPopup",
                                "showRemindersCheckbox",
                                "modifierStatusControlCell",
                                "modifierStatusOptionCell",
                                "modifierStatusShiftCell",
                                "modifierStatusCommandCell",
                                "modifierDeleteControlCell",
                                "modifierDeleteOptionCell",
                                "modifierDeleteShiftCell",
                                "modifierDeleteCommandCell",
                                "modifierKeyCheckbox",
                                "modifierKeyPopup",
                                "webSiteButton",
                                "supportButton",
                                "emailButton"};
        QStringList chain;
        QWidget* w = pane->sortToDoPopup;
        for (int i = 0; i < order.size(); ++i, w = w->nextInFocusChain()) {
            while (!(w->focusPolicy() & Qt::TabFocus))
                w = w->nextInFocusChain();
            chain << w->objectName();
        }
        QCOMPARE(chain, order);
    }

    void cleanupTestCase() {
        QVERIFY(m_server.quit());
        platform::setAlertResponder({});
    }
};

QUILLO_TEST_MAIN(PaneTest)

#include "tst_pane.moc"
