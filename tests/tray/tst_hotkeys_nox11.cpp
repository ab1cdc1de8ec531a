// Without X11 (here the offscreen platform) a hot key is refused quietly, logged once,
// and no key reads as held.
#include "common/TestEnv.h"

#include "platform/HotKeys.h"

#include <QApplication>
#include <QTest>

using namespace platform;

class TestHotKeysWithoutX11 : public QObject {
    Q_OBJECT
private slots:
    void refusedQuietly() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("offscreen"));
        testenv::LogRecorder log;
        EventHotKeyRef ref = nullptr;
        for (int attempt = 0; attempt < 3; ++attempt)
            QCOMPARE(RegisterEventHotKey(kVK_Space, cmdKey | optionKey | controlKey,
                                         {fourCharCode("gQLk"), 1}, GetApplicationEventTarget(), 0,
                                         &ref),
                     eventHotKeyExistsErr);
        QVERIFY(!ref);
        QCOMPARE(log.lines().size(), 1);
        // The test's bus has no portal that offers global shortcuts.
        QCOMPARE(log.lines().first(),
                 QStringLiteral("Quillo :: RegisterEventHotKey :: no X11 display and no "
                                "GlobalShortcuts portal, so no global hot key; a keyboard "
                                "shortcut of the desktop can run \"menubar-server --pop-up "
                                "IDENTIFIER\" instead"));
        QVERIFY(registeredHotKeys().empty());
        KeyMap keys;
        keys.fill(0xff);
        GetKeys(keys);
        QCOMPARE(keys, KeyMap{});
    }
};

QUILLO_TEST_MAIN(TestHotKeysWithoutX11)
#include "tst_hotkeys_nox11.moc"
