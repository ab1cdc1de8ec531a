#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

// Notifications between processes of the user's session: a signal on the D-Bus
// session bus carrying (name, object).
//
// Delivery: every observer registered for the name (or for all names) is told once
// per post, on the main thread of its process; the posting process included. A
// post made on the main thread reaches this process's observers before
// postNotificationName returns; a post from another thread reaches them through the
// main thread's event loop. Other processes are told through their event loop.
// Without a reachable session bus the observers of this process are still told,
// and the missing bus is logged once.
class DistributedNotificationCenter {
public:
    using Handler = std::function<void(const QString& name, const QString& object)>;

    static DistributedNotificationCenter& defaultCenter();

    // Registers a handler for one name, or for every name when name is nothing,
    // whatever the object. The observer is only an identity for removal; it is not
    // retained and must be removed before it goes away. One observer may register
    // several times.
    void addObserver(const void* observer, const std::optional<QString>& name, Handler handler);

    // Removes every registration of the observer (all names)...
    void removeObserver(const void* observer);
    // ...or only those for one name.
    void removeObserver(const void* observer, const QString& name);

    // Posts to every observer of every process, with immediate delivery.
    void postNotificationName(const QString& name, const QString& object);

    DistributedNotificationCenter(const DistributedNotificationCenter&) = delete;
    DistributedNotificationCenter& operator=(const DistributedNotificationCenter&) = delete;

    struct Private;

private:
    DistributedNotificationCenter();
    ~DistributedNotificationCenter();
    std::unique_ptr<Private> d;
};

} // namespace platform
