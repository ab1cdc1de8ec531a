// Global hot keys and the keyboard state against the test command's X server: keys are
// pressed with xdotool, which goes through the server like a keyboard.
#include "TrayTestSupport.h"
#include "common/TestEnv.h"

#include "platform/HotKeys.h"

#include <QApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

using namespace platform;

namespace {

constexpr EventHotKeyID kID{fourCharCode("gQLk"), 1};
constexpr EventHotKeyID kSentinelID{fourCharCode("test"), 9};
const EventTypeSpec kHotKeyPressed{kEventClassKeyboard, kEventHotKeyPressed};

struct Presses {
    QList<std::uint32_t> ids;
};

OSStatus recordHandler(EventHandlerCallRef, EventRef event, void* userData) {
    if (GetEventClass(event) != kEventClassKeyboard || GetEventKind(event) != kEventHotKeyPressed)
        return eventNotHandledErr;
    static_cast<Presses*>(userData)->ids << GetEventHotKeyID(event)->id;
    return noErr;
}

OSStatus declineHandler(EventHandlerCallRef, EventRef, void* userData) {
    ++*static_cast<int*>(userData);
    return eventNotHandledErr;
}

bool xdotool(const QStringList& args) {
    return QProcess::execute(QStringLiteral("xdotool"), args) == 0;
}

} // namespace

class TestHotKeys : public QObject {
    Q_OBJECT

    Presses m_presses;
    EventHandlerRef m_handler = nullptr;
    EventHotKeyRef m_sentinel = nullptr;

    // Presses a key that must not reach the handler, then the sentinel key; the X server
    // keeps their order, so when the sentinel arrived the first one would have too.
    void expectNoPress(const QString& keys) {
        m_presses.ids.clear();
        QVERIFY(xdotool({QStringLiteral("key"), keys}));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("ctrl+shift+F12")}));
        QTRY_COMPARE(m_presses.ids, QList<std::uint32_t>{kSentinelID.id});
    }

    void expectPress(const QString& keys) {
        m_presses.ids.clear();
        QVERIFY(xdotool({QStringLiteral("key"), keys}));
        QTRY_COMPARE(m_presses.ids, QList<std::uint32_t>{kID.id});
    }

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        QVERIFY2(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("version")}) == 0,
                 "xdotool is needed (scripts/deps.sh)");
        QCOMPARE(InstallEventHandler(GetApplicationEventTarget(), recordHandler, 1, &kHotKeyPressed,
                                     &m_presses, &m_handler),
                 noErr);
        QCOMPARE(RegisterEventHotKey(kVK_F12, controlKey | shiftKey, kSentinelID,
                                     GetApplicationEventTarget(), 0, &m_sentinel),
                 noErr);
    }

    void cleanupTestCase() {
        QCOMPARE(UnregisterEventHotKey(m_sentinel), noErr);
        QCOMPARE(RemoveEventHandler(m_handler), noErr);
        QCOMPARE(RemoveEventHandler(m_handler), paramErr);
    }

    void keySymbols_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("symbol");
        const int f1 = 0xffbe;
        const int codes[] = {122, 120, 99, 118, 96, 97, 98, 100, 101, 109, 103, 111};
        QTest::newRow("Space") << 49 << 0x20;
        for (int i = 0; i < 12; ++i)
            QTest::addRow("F%d", i + 1) << codes[i] << f1 + i;
        QTest::newRow("a letter has none here") << 0 << 0;
        QTest::newRow("a modifier key is no hot key") << 55 << 0;
    }

    void keySymbols() {
        QFETCH(int, code);
        QFETCH(int, symbol);
        QCOMPARE(int(keySymbolForVirtualKeyCode(std::uint32_t(code)).value_or(0)), symbol);
    }

    // The default combination, then with NumLock and CapsLock on, then gone.
    void defaultKeyWithLocks() {
        EventHotKeyRef ref = nullptr;
        QCOMPARE(RegisterEventHotKey(kVK_Space, cmdKey | optionKey | controlKey, kID,
                                     GetApplicationEventTarget(), 0, &ref),
                 noErr);
        QVERIFY(ref);
        expectPress(QStringLiteral("ctrl+alt+super+space"));
        expectNoPress(QStringLiteral("ctrl+alt+space"));             // Command missing
        expectNoPress(QStringLiteral("ctrl+alt+super+shift+space")); // one too many

        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")}));
        expectPress(QStringLiteral("ctrl+alt+super+space"));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Caps_Lock")}));
        expectPress(QStringLiteral("ctrl+alt+super+space"));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Num_Lock")}));
        expectPress(QStringLiteral("ctrl+alt+super+space"));
        QVERIFY(xdotool({QStringLiteral("key"), QStringLiteral("Caps_Lock")}));

        QCOMPARE(registeredHotKeys().size(), size_t(2));
        QCOMPARE(UnregisterEventHotKey(ref), noErr);
        QCOMPARE(UnregisterEventHotKey(ref), paramErr);
        expectNoPress(QStringLiteral("ctrl+alt+super+space"));
    }

    void functionKeyWithShift() {
        EventHotKeyRef ref = nullptr;
        QCOMPARE(RegisterEventHotKey(kVK_F1, shiftKey, kID, GetApplicationEventTarget(), 0, &ref),
                 noErr);
        expectPress(QStringLiteral("shift+F1"));
        expectNoPress(QStringLiteral("F1"));
        QCOMPARE(UnregisterEventHotKey(ref), noErr);
    }

    void invalidCombinations() {
        testenv::LogRecorder log;
        EventHotKeyRef ref = reinterpret_cast<EventHotKeyRef>(&m_presses);
        QCOMPARE(RegisterEventHotKey(0, cmdKey, kID, GetApplicationEventTarget(), 0, &ref),
                 eventHotKeyInvalidErr);
        QVERIFY(!ref);
        QCOMPARE(RegisterEventHotKey(kVK_Space, 0x4000, kID, GetApplicationEventTarget(), 0, &ref),
                 eventHotKeyInvalidErr);
        QCOMPARE(RegisterEventHotKey(kVK_Space, cmdKey, kID, nullptr, 0, &ref),
                 eventHotKeyInvalidErr);
        // Control+Alt+F1 switches consoles: the X server would never hand it over.
        QCOMPARE(RegisterEventHotKey(kVK_F1, cmdKey | optionKey | controlKey, kID,
                                     GetApplicationEventTarget(), 0, &ref),
                 eventHotKeyExistsErr);
        QCOMPARE(registeredHotKeys().size(), size_t(1)); // the sentinel
        QCOMPARE(log.lines().size(), 4);
    }

    // Another program holds the combination: refused, logged once, nothing left grabbed.
    void takenByAnotherProgram() {
        xcb_connection_t* other = xcb_connect(nullptr, nullptr);
        QVERIFY(!xcb_connection_has_error(other));
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
        xcb_key_symbols_t* syms = xcb_key_symbols_alloc(other);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(syms, 0xffc2); // F5
        QVERIFY(codes && *codes);
        const xcb_keycode_t f5 = *codes;
        std::free(codes);
        xcb_key_symbols_free(syms);
        QVERIFY(!xcb_request_check(other,
                                   xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_SHIFT, f5,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
        testenv::LogRecorder log;
        EventHotKeyRef ref = nullptr;
        for (int attempt = 0; attempt < 2; ++attempt)
            QCOMPARE(
                RegisterEventHotKey(kVK_F5, shiftKey, kID, GetApplicationEventTarget(), 0, &ref),
                eventHotKeyExistsErr);
        QVERIFY(!ref);
        QCOMPARE(log.lines(), QStringList{QStringLiteral(
                                  "Quillo :: RegisterEventHotKey :: key 96 with modifiers 0x200 "
                                  "is taken by another program")});
        // Once the other program lets go, the key can be had.
        xcb_disconnect(other);
        QTRY_COMPARE(
            RegisterEventHotKey(kVK_F5, shiftKey, kID, GetApplicationEventTarget(), 0, &ref),
            noErr);
        expectPress(QStringLiteral("shift+F5"));
        QCOMPARE(UnregisterEventHotKey(ref), noErr);
    }

    // The newest handler is asked first; one that declines passes the event on, and an
    // identical installation is not made twice.
    void handlerOrder() {
        int declined = 0;
        EventHandlerRef first = nullptr;
        EventHandlerRef again = nullptr;
        QCOMPARE(InstallEventHandler(GetApplicationEventTarget(), declineHandler, 1,
                                     &kHotKeyPressed, &declined, &first),
                 noErr);
        QCOMPARE(InstallEventHandler(GetApplicationEventTarget(), declineHandler, 1,
                                     &kHotKeyPressed, &declined, &again),
                 noErr);
        QCOMPARE(again, first);
        EventHotKeyRef ref = nullptr;
        QCOMPARE(RegisterEventHotKey(kVK_F3, controlKey, kID, GetApplicationEventTarget(), 0, &ref),
                 noErr);
        expectPress(QStringLiteral("ctrl+F3"));
        QCOMPARE(declined, 1);
        QCOMPARE(RemoveEventHandler(first), noErr);
        QCOMPARE(UnregisterEventHotKey(ref), noErr);
    }

    void keyboardState_data() {
        QTest::addColumn<QList<std::uint32_t>>("held");
        QTest::addColumn<QString>("codes");
        using namespace traytest;
        using Keys = QList<std::uint32_t>;
        QTest::newRow("nothing") << Keys() << "";
        QTest::newRow("left Alt") << Keys{AltL} << "58";
        QTest::newRow("left Alt and Shift") << Keys{AltL, ShiftL} << "56 58";
        QTest::newRow("right Alt only") << Keys{AltR} << "61";
        QTest::newRow("left-hand four") << Keys{SuperL, ShiftL, AltL, ControlL} << "55 56 58 59";
        QTest::newRow("right-hand four") << Keys{SuperR, ShiftR, AltR, ControlR} << "54 60 61 62";
        QTest::newRow("Space and F1") << Keys{0x20, 0xffbe} << "49 122";
    }

    void keyboardState() {
        QFETCH(QList<std::uint32_t>, held);
        QFETCH(QString, codes);
        const auto down = [] {
            KeyMap keys;
            GetKeys(keys);
            QStringList out;
            for (int k = 0; k < 128; ++k)
                if (isKeyDown(keys, std::uint32_t(k)))
                    out << QString::number(k);
            return out.join(QLatin1Char(' '));
        };
        // Let go of the keys whatever the outcome, so the next row starts clean.
        auto release = qScopeGuard([&] { traytest::fakeKeys(held, false); });
        QVERIFY(traytest::fakeKeys(held, true));
        QTRY_COMPARE(down(), codes);
        release.dismiss();
        QVERIFY(traytest::fakeKeys(held, false));
        QTRY_COMPARE(down(), QString());
    }

    void keyboardStateSeam() {
        KeyMap fixed{};
        setKeyDown(fixed, kVK_Option, true);
        setKeyDown(fixed, kVK_RightShift, true);
        setGetKeysSource([fixed] { return fixed; });
        KeyMap keys;
        GetKeys(keys);
        QCOMPARE(keys, fixed);
        QCOMPARE(keys[7], std::uint8_t(0x14)); // 58 and 60 are bits 2 and 4 of byte 7
        setGetKeysSource({});
        GetKeys(keys);
        QCOMPARE(keys, KeyMap{});
    }
};

QUILLO_TEST_MAIN(TestHotKeys)
#include "tst_hotkeys.moc"
