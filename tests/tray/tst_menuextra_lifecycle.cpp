// The menu extra's life cycle and events, in this process against the test command's X
// server: creation, the settings notification (from this process and from another), the
// hot key pressed with xdotool, failed writes, the watcher's messages, the held-keys test
// on real keys, the silent update check at creation, and destruction.
#include "TrayTestSupport.h"
#include "common/TestEnv.h"
#include "common/TestHttpServer.h"

#include "menuextra/QLMenuExtra.h"
#include "menuextra/quickadd/QL_QuickAddWindow.h"
#include "menuextra/watch/ZVFileWatcher.h"
#include "platform/DistributedNotificationCenter.h"
#include "platform/PropertyList.h"
#include "shared/QL_Preferences.h"
#include "shared/QL_SoftwareUpdate.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

using namespace platform;

namespace {

const QString kBuildPane = QStringLiteral(QUILLO_BUILD_DIR "/Quillo.prefPane");

// Records what the menu extra asks of its host.
struct RecordingHost : NSMenuExtraHost {
    QList<NSMenu*> popUps;
    int imageChanges = 0;
    void menuExtraImagesChanged(NSMenuExtra*) override { ++imageChanges; }
    void menuExtraPopUpMenu(NSMenuExtra*, NSMenu* menu) override { popUps << menu; }
};

std::shared_ptr<const Bundle> menuBundle() {
    return Bundle::bundleWithPath(kBuildPane + QStringLiteral("/Contents/Resources/Quillo.menu"));
}

} // namespace

class TestMenuExtraLifecycle : public QObject {
    Q_OBJECT

    std::unique_ptr<QLMenuExtra> m_extra;
    RecordingHost m_host;

    void create() {
        m_extra = QLMenuExtra::initWithBundle(menuBundle());
        QVERIFY(m_extra);
        m_extra->setHost(&m_host);
        m_host.popUps.clear();
    }

private slots:
    void initTestCase() {
        // The pane is installed (a link to the one the build laid out), with its feed
        // pointing nowhere real until a test sets it; the store is the sample.
        QVERIFY(QDir().mkpath(testenv::dataHome() + QStringLiteral("/PreferencePanes")));
        QVERIFY(QFile::link(kBuildPane, testenv::dataHome() +
                                            QStringLiteral("/PreferencePanes/Quillo.prefPane")));
        QVERIFY(QProcess::execute(QStringLiteral("cp"),
                                  {QStringLiteral("-r"),
                                   QStringLiteral(QUILLO_TESTS_DIR "/data/store/sample/iCal"),
                                   testenv::dataHome()}) == 0);
        QL_Preferences::sharedPreferences().setCheckForUpdatesOnLaunch(false);
        QL_Preferences::sharedPreferences().setUseOpenMenuKey(false);
    }

    void cleanup() { m_extra.reset(); }

    void creation() {
        QVERIFY(!QLMenuExtra::initWithBundle(nullptr));
        create();
        QCOMPARE(m_extra->refreshCount(), 1); // the first menu
        QVERIFY(m_extra->theMenu().numberOfItems() > 3);
        QCOMPARE(m_extra->theMenu().itemAtIndex(0)->title(), QStringLiteral("New To-Do\u2026"));
        QVERIFY(m_extra->image() && m_extra->alternateImage());
        QVERIFY(m_extra->imageCheckedToDo());
        QVERIFY(!m_extra->gMyHotKeyRef());
        QCOMPARE(QL_SoftwareUpdate::checksInProgress(), 0);
    }

    // On and off through the settings, a new key, a change from another process, and the
    // menu popped up as it is, without a rebuild.
    void hotKeyFollowsTheSettings() {
        create();
        QL_Preferences& prefs = QL_Preferences::sharedPreferences();
        prefs.setUseOpenMenuKey(true);
        QVERIFY(m_extra->gMyHotKeyRef());
        QCOMPARE(registeredHotKeys().size(), size_t(1));
        QCOMPARE(registeredHotKeys()[0].keyCode, 49u);
        QCOMPARE(registeredHotKeys()[0].modifiers, 0x1900u);
        QCOMPARE(registeredHotKeys()[0].id.signature, 0x67514C6Bu);

        const int rebuilds = m_extra->refreshCount();
        QVERIFY(traytest::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+super+space")}));
        QTRY_COMPARE(m_host.popUps.size(), 1);
        QCOMPARE(m_host.popUps[0], &m_extra->theMenu());
        QCOMPARE(m_extra->refreshCount(), rebuilds);

        // F1 replaces Space: Space no longer pops up; the F1 press is the one counted.
        // (Command+Control: with Control+Option the X server keeps F1 for itself.)
        prefs.setOpenMenuModifiers(0x1100);
        prefs.setOpenMenuKey(122);
        QCOMPARE(registeredHotKeys().size(), size_t(1));
        QCOMPARE(registeredHotKeys()[0].keyCode, 122u);
        m_host.popUps.clear();
        QVERIFY(traytest::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+super+space")}));
        QVERIFY(traytest::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+super+F1")}));
        QTRY_COMPARE(m_host.popUps.size(), 1);
        QTest::qWait(100);
        QCOMPARE(m_host.popUps.size(), 1);

        // Another process changes the key to F2 with Shift alone.
        for (const auto& [key, value] :
             {std::pair{"openMenuKey", "120"}, std::pair{"openMenuModifiers", "512"}})
            QCOMPARE(QProcess::execute(QStringLiteral(QUILLO_SETTINGS_HELPER),
                                       {QStringLiteral("write"), QString::fromLatin1(key),
                                        QString::fromLatin1(value)}),
                     0);
        QTRY_COMPARE(registeredHotKeys().size() == 1 ? registeredHotKeys()[0].modifiers : 0u,
                     0x200u);
        QCOMPARE(registeredHotKeys()[0].keyCode, 120u);
        m_host.popUps.clear();
        QVERIFY(traytest::xdotool({QStringLiteral("key"), QStringLiteral("shift+F2")}));
        QTRY_COMPARE(m_host.popUps.size(), 1);

        // Off: nothing registered any more.
        prefs.setUseOpenMenuKey(false);
        QVERIFY(!m_extra->gMyHotKeyRef());
        QVERIFY(registeredHotKeys().empty());
        prefs.setOpenMenuKey(49);
        prefs.setOpenMenuModifiers(0x1900);
    }

    // The quick-add key: off by default, beside the menu's key with an identifier of its
    // own; its press opens the quick-add window and pops no menu up.
    void quickAddKeyOpensTheWindow() {
        create();
        QVERIFY(!m_extra->quickAddHotKeyRef());
        QL_Preferences& prefs = QL_Preferences::sharedPreferences();
        prefs.setUseOpenMenuKey(true);
        prefs.setUseQuickAddKey(true);
        QVERIFY(m_extra->gMyHotKeyRef() && m_extra->quickAddHotKeyRef());
        QCOMPARE(registeredHotKeys().size(), size_t(2));
        const RegisteredHotKey quick = registeredHotKeys()[1];
        QCOMPARE(quick.keyCode, 49u);
        QCOMPARE(quick.modifiers, 0x1B00u);
        QCOMPARE(quick.id.id, 2u);
        m_host.popUps.clear();
        QVERIFY(!QL_QuickAddWindow::current());
        QVERIFY(traytest::xdotool(
            {QStringLiteral("key"), QStringLiteral("ctrl+alt+super+shift+space")}));
        QTRY_VERIFY(QL_QuickAddWindow::current());
        QVERIFY(m_host.popUps.empty());
        QL_QuickAddWindow::current()->close();
        QTRY_VERIFY(!QL_QuickAddWindow::current());

        // The same combination as the menu's: the menu keeps it.
        prefs.setQuickAddModifiers(0x1900);
        QCOMPARE(registeredHotKeys().size(), size_t(1));
        QCOMPARE(registeredHotKeys()[0].id.id, 1u);
        QVERIFY(!m_extra->quickAddHotKeyRef());
        prefs.setQuickAddModifiers(0x1B00);

        // The menu's key off leaves quick add's; both off leave nothing.
        prefs.setUseOpenMenuKey(false);
        QVERIFY(!m_extra->gMyHotKeyRef());
        QCOMPARE(registeredHotKeys().size(), size_t(1));
        QCOMPARE(registeredHotKeys()[0].id.id, 2u);
        prefs.setUseQuickAddKey(false);
        QVERIFY(!m_extra->quickAddHotKeyRef());
        QVERIFY(registeredHotKeys().empty());
    }

    // Destroyed: its key and its handler go, notifications no longer reach it.
    void destructionLeavesNothing() {
        QL_Preferences::sharedPreferences().setUseOpenMenuKey(true);
        create();
        QVERIFY(m_extra->gMyHotKeyRef());
        m_extra.reset();
        QVERIFY(registeredHotKeys().empty());
        // A key registered by someone else finds no handler of the dead extra.
        int handled = 0;
        const EventTypeSpec type{kEventClassKeyboard, kEventHotKeyPressed};
        EventHandlerRef handler = nullptr;
        InstallEventHandler(
            GetApplicationEventTarget(),
            [](EventHandlerCallRef, EventRef, void* count) -> OSStatus {
                ++*static_cast<int*>(count);
                return eventNotHandledErr;
            },
            1, &type, &handled, &handler);
        EventHotKeyRef key = nullptr;
        QCOMPARE(
            RegisterEventHotKey(kVK_F9, controlKey, {1, 1}, GetApplicationEventTarget(), 0, &key),
            noErr);
        QVERIFY(traytest::xdotool({QStringLiteral("key"), QStringLiteral("ctrl+F9")}));
        QTRY_COMPARE(handled, 1);
        UnregisterEventHotKey(key);
        RemoveEventHandler(handler);
        QL_Preferences::sharedPreferences().setUseOpenMenuKey(false); // would crash if observed
        DistributedNotificationCenter::defaultCenter().postNotificationName(
            QStringLiteral("Quillo_Failed_Write"), QString());
    }

    void storeEventsAndClicks() {
        create();
        const int start = m_extra->refreshCount();
        m_extra->watcherReceivedNotificationForPath(nullptr, ZVKQueueFileWrittenToNotification,
                                                    QStringLiteral("/x"));
        QCOMPARE(m_extra->refreshCount(), start);
        m_extra->watcherReceivedNotificationForPath(nullptr, ZVKQueueFileDeletedNotification,
                                                    QStringLiteral("/x"));
        QCOMPARE(m_extra->refreshCount(), start + 1);

        DistributedNotificationCenter::defaultCenter().postNotificationName(
            QStringLiteral("Quillo_Failed_Write"), QString());
        QVERIFY(m_extra->needsRefresh());
        QCOMPARE(m_extra->refreshCount(), start + 1); // only marked

        // Two clicks: two rebuilds, the same menu.
        const QString first = dumpMenu(*m_extra->menu());
        QVERIFY(!m_extra->needsRefresh());
        const QString second = dumpMenu(*m_extra->menu());
        QCOMPARE(m_extra->refreshCount(), start + 3);
        QCOMPARE(second, first);

        // A changed setting rebuilds the menu and hands the host the icon.
        m_host.imageChanges = 0;
        QL_Preferences::sharedPreferences().setMenuIconImage(2);
        QCOMPARE(m_extra->refreshCount(), start + 4);
        QCOMPARE(m_extra->image()->name(), QStringLiteral("graphiteToDoMenuIconCalendar"));
        QVERIFY(m_host.imageChanges > 0);
        QL_Preferences::sharedPreferences().setMenuIconImage(0);
    }

    void allKeysPressed_data() {
        QTest::addColumn<int>("set");
        QTest::addColumn<QList<std::uint32_t>>("held");
        QTest::addColumn<bool>("expected");
        using namespace traytest;
        using Keys = QList<std::uint32_t>;
        QTest::newRow("Option alone") << 2 << Keys{AltL} << true;
        QTest::newRow("Option and Shift") << 2 << Keys{AltL, ShiftL} << false;
        QTest::newRow("right-hand Option only") << 2 << Keys{AltR} << false;
        QTest::newRow("0, nothing held") << 0 << Keys() << true;
        QTest::newRow("0, right-hand keys do not count")
            << 0 << Keys{AltR, ShiftR, ControlR} << true;
        QTest::newRow("Control alone wanted, Option held") << 1 << Keys{AltL} << false;
        QTest::newRow("all four") << 15 << Keys{ControlL, AltL, ShiftL, SuperL} << true;
        QTest::newRow("bits above 3 play no part") << 16 + 4 << Keys{ShiftL} << true;
        QTest::newRow("Command wanted, right-hand Command held") << 8 << Keys{SuperR} << false;
    }

    void allKeysPressed() {
        QFETCH(int, set);
        QFETCH(QList<std::uint32_t>, held);
        QFETCH(bool, expected);
        create();
        testenv::LogRecorder log;
        auto release = qScopeGuard([&] { traytest::fakeKeys(held, false); });
        QVERIFY(traytest::fakeKeys(held, true));
        QTRY_COMPARE(m_extra->allKeysPressed(set), expected);
        QVERIFY(log.contains(QStringLiteral("Intel version of allKeysPressed.")));
    }

    // With the setting on, creation starts one silent check of the pane's feed.
    void silentUpdateCheckAtCreation() {
        testenv::TestHttpServer feed;
        QVERIFY(feed.isListening());
        testenv::TestHttpServer::Response same;
        same.body = *PropertyList::toData(QVariantMap{{QStringLiteral("version"), 0.1}});
        feed.setResponse("/quillo.plist", same);
        // A pane of our own: the build's with a feed on the loopback interface.
        const QString pane =
            testenv::dataHome() + QStringLiteral("/PreferencePanes/Quillo.prefPane");
        QVERIFY(QFile::remove(pane));
        QVERIFY(QDir().mkpath(pane + QStringLiteral("/Contents")));
        QVERIFY(QFile::link(kBuildPane + QStringLiteral("/Contents/Resources"),
                            pane + QStringLiteral("/Contents/Resources")));
        QVariantMap info =
            *PropertyList::dictionaryFromFile(kBuildPane + QStringLiteral("/Contents/Info.plist"));
        info.insert(QStringLiteral("QLUpdateFeedURL"), feed.url("/quillo.plist"));
        QFile infoFile(pane + QStringLiteral("/Contents/Info.plist"));
        QVERIFY(infoFile.open(QIODevice::WriteOnly));
        infoFile.write(*PropertyList::toData(info));
        infoFile.close();

        QL_Preferences::sharedPreferences().setCheckForUpdatesOnLaunch(true);
        create();
        QTRY_COMPARE(feed.requests().size(), 1);
        QTRY_COMPARE(QL_SoftwareUpdate::checksInProgress(), 0);
        QL_Preferences::sharedPreferences().setCheckForUpdatesOnLaunch(false);
        m_extra.reset();
        create();
        QCOMPARE(QL_SoftwareUpdate::checksInProgress(), 0);
        QCOMPARE(feed.requests().size(), 1);
    }
};

QUILLO_TEST_MAIN(TestMenuExtraLifecycle)
#include "tst_menuextra_lifecycle.moc"
