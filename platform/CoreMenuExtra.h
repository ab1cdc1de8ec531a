#pragma once

// The menu-bar server's calls: load a menu-extra bundle by location, find a loaded one
// by its bundle identifier, remove one. They are D-Bus methods of menubar-server on the
// session bus; a call starts the server through D-Bus activation when it is not
// running. Each call waits for the server's answer; main thread.

#include <QString>
#include <QUrl>

#include <cstdint>

namespace platform {

// Where menubar-server is reached.
inline const QString kMenuBarServerService = QStringLiteral("org.quillo.MenuBarServer");
inline const QString kMenuBarServerPath = QStringLiteral("/org/quillo/MenuBarServer");
inline const QString kMenuBarServerInterface = QStringLiteral("org.quillo.MenuBarServer");

// Posted by the server after it loaded or removed a menu extra; the object is the
// bundle identifier.
inline const QString kMenuExtraAddedNotification = QStringLiteral("com.apple.menuextra.added");
inline const QString kMenuExtraRemovedNotification = QStringLiteral("com.apple.menuextra.removed");

// The answers of the server.
enum : std::int32_t {
    kCoreMenuExtraNoErr = 0,
    kCoreMenuExtraNotFound = 1,  // no menu extra with that identifier is loaded
    kCoreMenuExtraInvalid = 2,   // the location is not a menu-extra bundle
    kCoreMenuExtraNoServer = -1, // the server could not be reached or started
};

struct OpaqueCoreMenuExtra;
// A loaded menu extra as the server knows it. Valid for the life of the process (one
// per identifier).
using CoreMenuExtraRef = const OpaqueCoreMenuExtra*;
QString CoreMenuExtraIdentifier(CoreMenuExtraRef ref);

// Asks the server to load the menu-extra bundle at the location (a file URL). The four
// numbers are accepted and unused. The server's answer goes to *outResult when given and
// is returned.
std::int32_t CoreMenuExtraAddMenuExtra(const QUrl& location, int position, int flags, int reserved1,
                                       int reserved2, std::int32_t* outResult = nullptr);

// kCoreMenuExtraNoErr and *outRef set when a menu extra with that bundle identifier is
// loaded; *outRef is left as it was otherwise.
std::int32_t CoreMenuExtraGetMenuExtra(const QString& identifier, CoreMenuExtraRef* outRef);

// Removes the menu extra. The number is accepted and unused.
std::int32_t CoreMenuExtraRemoveMenuExtra(CoreMenuExtraRef ref, int flags);

} // namespace platform
