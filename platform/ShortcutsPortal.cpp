#include "platform/ShortcutsPortal.h"

#include "platform/HotKeys.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>

namespace {

// One entry of the a(sa{sv}) that BindShortcuts takes.
struct WireShortcut {
    QString id;
    QVariantMap options;
};

} // namespace

Q_DECLARE_METATYPE(WireShortcut)

namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const WireShortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.options;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, WireShortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.options;
    argument.endStructure();
    return argument;
}

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kSessionInterface = QStringLiteral("org.freedesktop.portal.Session");
const QString kLogPrefix = QStringLiteral("Quillo :: RegisterEventHotKey :: ");
const QString kInstead = QStringLiteral("; a keyboard shortcut of the desktop can run "
                                        "\"menubar-server --pop-up IDENTIFIER\" instead");

// An object path in a variant: 'o' as the interface has it, or a text; empty when the
// text is no valid path (a portal's mistake must not become a malformed call).
QString pathIn(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    static const QRegularExpression valid(QStringLiteral("^(/[A-Za-z0-9_]+)+$"));
    const QString text = value.toString();
    return valid.match(text).hasMatch() ? text : QString();
}

} // namespace

namespace platform {

std::optional<QString> portalTriggerForHotKey(std::uint32_t keyCode, std::uint32_t modifiers) {
    const std::optional<std::uint32_t> symbol = keySymbolForVirtualKeyCode(keyCode);
    if (!symbol || (modifiers & ~(cmdKey | shiftKey | optionKey | controlKey)))
        return std::nullopt;
    constexpr std::uint32_t XK_space = 0x0020, XK_F1 = 0xffbe, XK_F12 = XK_F1 + 11;
    QString key;
    if (*symbol == XK_space)
        key = QStringLiteral("space");
    else if (*symbol >= XK_F1 && *symbol <= XK_F12)
        key = QStringLiteral("F%1").arg(*symbol - XK_F1 + 1);
    else
        return std::nullopt;
    QStringList parts;
    if (modifiers & controlKey)
        parts << QStringLiteral("CTRL");
    if (modifiers & optionKey)
        parts << QStringLiteral("ALT");
    if (modifiers & shiftKey)
        parts << QStringLiteral("SHIFT");
    if (modifiers & cmdKey)
        parts << QStringLiteral("LOGO");
    parts << key;
    return parts.join(QLatin1Char('+'));
}

uint ShortcutsPortal::availableVersion() {
    if (!QCoreApplication::instance())
        return 0;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface())
        return 0;
    const QDBusReply<QStringList> activatable =
        bus.interface()->call(QStringLiteral("ListActivatableNames"));
    if (!bus.interface()->isServiceRegistered(kService) &&
        !(activatable.isValid() && activatable.value().contains(kService)))
        return 0;
    QDBusMessage get = QDBusMessage::createMethodCall(
        kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << kInterface << QStringLiteral("version");
    const QDBusMessage reply = bus.call(get, QDBus::Block, 3000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return 0;
    return reply.arguments().first().value<QDBusVariant>().variant().toUInt();
}

ShortcutsPortal::ShortcutsPortal(ActivatedHandler activated, QObject* parent)
    : QObject(parent), m_bus(QDBusConnection::sessionBus()), m_activated(std::move(activated)),
      m_watcher(new QDBusServiceWatcher(kService, m_bus, QDBusServiceWatcher::WatchForOwnerChange,
                                        this)) {
    qDBusRegisterMetaType<WireShortcut>();
    qDBusRegisterMetaType<QList<WireShortcut>>();
    m_bus.connect(kService, kPath, kInterface, QStringLiteral("Activated"), this,
                  SLOT(shortcutActivated(QDBusMessage)));
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString& newOwner) {
                if (!oldOwner.isEmpty())
                    portalVanished();
                // A portal that comes back (restarted) gets the shortcuts again.
                if (!newOwner.isEmpty() && !m_wanted.empty())
                    schedule();
            });
}

void ShortcutsPortal::setShortcuts(std::vector<PortalShortcut> shortcuts) {
    m_wanted = std::move(shortcuts);
    schedule();
}

void ShortcutsPortal::schedule() {
    if (m_scheduled)
        return;
    m_scheduled = true;
    QTimer::singleShot(0, this, [this] {
        m_scheduled = false;
        advance();
    });
}

// One request at a time; each answer comes back here for the next step.
void ShortcutsPortal::advance() {
    if (m_pending != Pending::None)
        return;
    if (m_wanted.empty()) {
        m_refused.reset();
        if (!m_session.isEmpty())
            closeSession();
        return;
    }
    if (m_refused == m_wanted)
        return;
    if (m_session.isEmpty())
        createSession();
    else if (m_bound != m_wanted)
        bindShortcuts();
}

QString ShortcutsPortal::newToken() {
    // An object path element: letters, digits and underscores.
    return QStringLiteral("quillo%1_%2")
        .arg(++m_tokens)
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

QString ShortcutsPortal::senderPathElement() const {
    QString sender = m_bus.baseService();
    if (sender.startsWith(QLatin1Char(':')))
        sender.remove(0, 1);
    return sender.replace(QLatin1Char('.'), QLatin1Char('_'));
}

void ShortcutsPortal::createSession() {
    const QString sessionToken = newToken();
    m_predictedSession =
        kPath + QStringLiteral("/session/") + senderPathElement() + QLatin1Char('/') + sessionToken;
    const QString token = newToken();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("CreateSession"));
    call << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("session_handle_token"), sessionToken}};
    sendRequest(Pending::CreateSession, call, token);
}

void ShortcutsPortal::bindShortcuts() {
    m_binding = m_wanted;
    QList<WireShortcut> list;
    for (const PortalShortcut& s : m_binding) {
        QVariantMap options{{QStringLiteral("description"), s.description}};
        if (!s.preferredTrigger.isEmpty())
            options.insert(QStringLiteral("preferred_trigger"), s.preferredTrigger);
        list.push_back({s.id, options});
    }
    const QString token = newToken();
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface,
                                                       QStringLiteral("BindShortcuts"));
    call << QVariant::fromValue(QDBusObjectPath(m_session)) << QVariant::fromValue(list)
         << QString() << QVariantMap{{QStringLiteral("handle_token"), token}};
    sendRequest(Pending::BindShortcuts, call, token);
}

void ShortcutsPortal::closeSession() {
    m_bus.send(QDBusMessage::createMethodCall(kService, m_session, kSessionInterface,
                                              QStringLiteral("Close")));
    m_session.clear();
    m_bound.reset();
}

void ShortcutsPortal::awaitResponseAt(const QString& requestPath) {
    if (!m_request.isEmpty())
        m_bus.disconnect(kService, m_request, kRequestInterface, QStringLiteral("Response"), this,
                         SLOT(requestResponse(QDBusMessage)));
    m_request = requestPath;
    if (!m_request.isEmpty())
        m_bus.connect(kService, m_request, kRequestInterface, QStringLiteral("Response"), this,
                      SLOT(requestResponse(QDBusMessage)));
}

void ShortcutsPortal::sendRequest(Pending kind, QDBusMessage call, const QString& token) {
    m_pending = kind;
    // Subscribed before the call: the portal may answer before its reply arrives.
    awaitResponseAt(kPath + QStringLiteral("/request/") + senderPathElement() + QLatin1Char('/') +
                    token);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    const QString predicted = m_request;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, predicted](QDBusPendingCallWatcher*) {
                watcher->deleteLater();
                if (m_request != predicted)
                    return; // answered already, or the portal went away
                const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
                if (reply.isError()) {
                    requestFailed(QStringLiteral("failed (%1: %2)")
                                      .arg(reply.error().name(), reply.error().message()));
                    return;
                }
                // A portal older than the path convention names another Request.
                const QString handle = reply.value().path();
                if (!handle.isEmpty() && handle != predicted)
                    awaitResponseAt(handle);
            });
}

void ShortcutsPortal::requestResponse(const QDBusMessage& message) {
    if (message.path() != m_request || m_pending == Pending::None)
        return;
    const QList<QVariant> args = message.arguments();
    const uint code = args.value(0).toUInt();
    QVariantMap results;
    if (args.size() > 1 && args.at(1).canConvert<QDBusArgument>())
        results = qdbus_cast<QVariantMap>(args.at(1));
    if (args.size() < 2 || code != 0) {
        requestFailed(QStringLiteral("refused %1 (response %2)")
                          .arg(m_pending == Pending::CreateSession
                                   ? QStringLiteral("a session")
                                   : QStringLiteral("the shortcuts"))
                          .arg(code));
        return;
    }
    const Pending done = m_pending;
    m_pending = Pending::None;
    awaitResponseAt(QString());
    if (done == Pending::CreateSession) {
        // The handle is a text in the interface's first version, a path in some portals.
        m_session = pathIn(results.value(QStringLiteral("session_handle")));
        if (m_session.isEmpty())
            m_session = m_predictedSession;
        m_bound.reset();
    } else {
        m_bound = m_binding;
    }
    advance();
}

void ShortcutsPortal::requestFailed(const QString& why) {
    NSLog(kLogPrefix + QStringLiteral("the desktop's GlobalShortcuts portal ") + why +
          QStringLiteral(", so no global hot key") + kInstead);
    if (m_pending == Pending::CreateSession)
        m_session.clear();
    m_refused = m_pending == Pending::BindShortcuts ? m_binding : m_wanted;
    m_pending = Pending::None;
    awaitResponseAt(QString());
    advance();
}

void ShortcutsPortal::shortcutActivated(const QDBusMessage& message) {
    const QList<QVariant> args = message.arguments();
    if (m_session.isEmpty() || args.size() < 2 || pathIn(args.at(0)) != m_session)
        return;
    const QString id = args.at(1).toString();
    const auto known = std::any_of(m_wanted.begin(), m_wanted.end(),
                                   [&](const PortalShortcut& s) { return s.id == id; });
    if (known && m_activated)
        m_activated(id);
}

void ShortcutsPortal::portalVanished() {
    if (!m_session.isEmpty() || m_pending != Pending::None)
        NSLog(kLogPrefix +
              QStringLiteral("the desktop's GlobalShortcuts portal went away, so no global hot "
                             "key until it is back") +
              kInstead);
    reset();
}

void ShortcutsPortal::reset() {
    awaitResponseAt(QString());
    m_pending = Pending::None;
    m_session.clear();
    m_bound.reset();
    m_refused.reset();
}

} // namespace platform
