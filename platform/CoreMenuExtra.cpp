#include "platform/CoreMenuExtra.h"

#include <QDBusConnection>
#include <QDBusMessage>

#include <map>
#include <memory>
#include <mutex>

struct platform::OpaqueCoreMenuExtra {
    QString identifier;
};

namespace platform {
namespace {

// The server's status, or kCoreMenuExtraNoServer when the call did not get through.
std::int32_t call(const QString& method, const QString& argument) {
    QDBusMessage message = QDBusMessage::createMethodCall(kMenuBarServerService, kMenuBarServerPath,
                                                          kMenuBarServerInterface, method);
    message << argument;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(message);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1)
        return kCoreMenuExtraNoServer;
    bool ok = false;
    const int status = reply.arguments().at(0).toInt(&ok);
    return ok ? status : kCoreMenuExtraNoServer;
}

CoreMenuExtraRef interned(const QString& identifier) {
    static std::mutex mutex;
    static std::map<QString, std::unique_ptr<OpaqueCoreMenuExtra>> refs;
    std::lock_guard lock(mutex);
    auto& slot = refs[identifier];
    if (!slot)
        slot = std::make_unique<OpaqueCoreMenuExtra>(OpaqueCoreMenuExtra{identifier});
    return slot.get();
}

} // namespace

QString CoreMenuExtraIdentifier(CoreMenuExtraRef ref) {
    return ref ? ref->identifier : QString();
}

std::int32_t CoreMenuExtraAddMenuExtra(const QUrl& location, int, int, int, int,
                                       std::int32_t* outResult) {
    const std::int32_t status = location.isLocalFile()
                                    ? call(QStringLiteral("AddMenuExtra"), location.toLocalFile())
                                    : kCoreMenuExtraInvalid;
    if (outResult)
        *outResult = status;
    return status;
}

std::int32_t CoreMenuExtraGetMenuExtra(const QString& identifier, CoreMenuExtraRef* outRef) {
    const std::int32_t status = call(QStringLiteral("GetMenuExtra"), identifier);
    if (status == kCoreMenuExtraNoErr && outRef)
        *outRef = interned(identifier);
    return status;
}

std::int32_t CoreMenuExtraRemoveMenuExtra(CoreMenuExtraRef ref, int) {
    if (!ref)
        return kCoreMenuExtraNotFound;
    return call(QStringLiteral("RemoveMenuExtra"), ref->identifier);
}

} // namespace platform
