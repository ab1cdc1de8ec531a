#pragma once

// Global shortcuts through the desktop portal's GlobalShortcuts interface, for sessions
// where no key can be grabbed on an X11 root window (Wayland). One portal session holds
// every shortcut of the process; a change of the set binds the whole set again, and an
// empty set closes the session. The hot keys (HotKeys.h) drive it. Main thread only.

#include <QDBusConnection>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

class QDBusMessage;
class QDBusServiceWatcher;

namespace platform {

// A hot key as the portal's shortcuts trigger text ("CTRL+ALT+space"): the modifiers in
// the order CTRL, ALT, SHIFT, LOGO, then the key's X key symbol name. Nothing for a key
// code without a key symbol here or modifier bits other than the four.
std::optional<QString> portalTriggerForHotKey(std::uint32_t keyCode, std::uint32_t modifiers);

struct PortalShortcut {
    QString id;
    QString description;
    QString preferredTrigger;
    friend bool operator==(const PortalShortcut&, const PortalShortcut&) = default;
};

class ShortcutsPortal : public QObject {
    Q_OBJECT
public:
    using ActivatedHandler = std::function<void(const QString& shortcutId)>;

    // The GlobalShortcuts version of the portal on the session bus (started by D-Bus
    // activation when it is not running); 0 when there is none. Blocks up to 3 s.
    static uint availableVersion();

    ShortcutsPortal(ActivatedHandler activated, QObject* parent);

    // The shortcuts wanted from now on. They are sent on the next turn of the event loop,
    // so that taking several keys away and adding them again binds once; a set the
    // portal holds already is not sent again.
    void setShortcuts(std::vector<PortalShortcut> shortcuts);

private slots:
    void requestResponse(const QDBusMessage& message);
    void shortcutActivated(const QDBusMessage& message);

private:
    enum class Pending { None, CreateSession, BindShortcuts };

    void schedule();
    void advance();
    void createSession();
    void bindShortcuts();
    void closeSession();
    // Sends a call that answers with a Request; its Response goes to requestResponse.
    void sendRequest(Pending kind, QDBusMessage call, const QString& token);
    void awaitResponseAt(const QString& requestPath);
    void requestFailed(const QString& why);
    void portalVanished();
    void reset();
    QString newToken();
    QString senderPathElement() const;

    QDBusConnection m_bus;
    ActivatedHandler m_activated;
    QDBusServiceWatcher* m_watcher;
    std::vector<PortalShortcut> m_wanted;
    std::optional<std::vector<PortalShortcut>> m_bound;   // what the portal accepted last
    std::optional<std::vector<PortalShortcut>> m_refused; // not asked for again
    std::vector<PortalShortcut> m_binding;                // the set of the bind under way
    QString m_session;                                    // empty: no session
    QString m_predictedSession;
    QString m_request; // the Request awaited; empty when none
    Pending m_pending = Pending::None;
    bool m_scheduled = false;
    unsigned m_tokens = 0;
};

} // namespace platform
