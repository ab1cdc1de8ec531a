#pragma once

// What the tray tests share: a session bus of their own that can start the menu-bar
// server by D-Bus activation, the server and a tray (trayer) as child processes, and a
// look at the X server's windows.

#include <QList>
#include <QPoint>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <cstdint>
#include <memory>

struct xcb_connection_t;
#include <optional>

namespace traytest {

// X key symbols of the modifier keys, for the tables of keys held.
enum Keysym : std::uint32_t {
    ShiftL = 0xffe1,
    ShiftR,
    ControlL,
    ControlR,
    AltL = 0xffe9,
    AltR,
    SuperL,
    SuperR,
};

// Starts a dbus-daemon whose activation folder holds a service file for the server
// binary, and points this process at it. Call after testenv::isolateHome() and before
// the application object exists (the daemon, and so every server it starts, inherits
// the isolated home). The daemon is stopped at exit.
void startPrivateBus(const QString& serverBinary);

// Presses or releases exactly the keys of the X key symbols through the X test
// extension (xdotool would press the left-hand key of a modifier with a right-hand
// one); false when a key is missing or the server refuses.
bool fakeKeys(const QList<std::uint32_t>& symbols, bool press);

// The main of a test that talks to the server on its private bus.
#define QUILLO_TRAY_TEST_MAIN(TestClass, serverBinary)                                             \
    int main(int argc, char** argv) {                                                              \
        testenv::isolateHome();                                                                    \
        traytest::startPrivateBus(serverBinary);                                                   \
        QApplication app(argc, argv);                                                              \
        TestClass tc;                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

// A method call on the server; nothing when it did not answer.
std::optional<QVariant> callServer(const QString& method, const QVariantList& args = {});
// The same, this process answering calls meanwhile (the server may be calling a watcher
// or host the test runs); an invalid value when it did not answer.
QVariant callServerAnswering(const QString& method, const QVariantList& args = {});
bool serverRunning();
// The lines of ListMenuExtras split at the tabs.
QList<QStringList> listMenuExtras();
QString shownMenu();

// The server started directly, with its log lines collected.
class ServerProcess {
public:
    explicit ServerProcess(const QString& binary);
    ~ServerProcess(); // asks it to quit, then waits
    bool start();     // true once it owns its bus name
    bool quit();      // through its Quit method; true once it has exited
    // Quit, and it exited normally with code 0.
    bool quitCleanly();
    QString log(); // standard error so far
    QProcess& process() { return m_process; }

private:
    QString m_binary;
    QProcess m_process;
    QByteArray m_log;
};

// trayer docked at the top right corner of the screen.
class Tray {
public:
    ~Tray();
    bool start();
    void stop();

private:
    QProcess m_process;
};

// Viewable windows of the server: its icon embedded in the tray, and its menus (mapped
// override-redirect windows at the top level). Geometry in root coordinates.
std::optional<QRect> trayIconOfServer();
QList<QRect> menuWindowsOfServer();

// Whether a window is a menu: override-redirect and not a tool tip (which the same
// program also shows as an override-redirect window).
bool isMenuWindow(xcb_connection_t* connection, unsigned window);

bool xdotool(const QStringList& args);
// Moves the pointer to the middle of the rectangle and clicks the button.
bool clickAt(const QRect& rect, int button = 1);

} // namespace traytest
