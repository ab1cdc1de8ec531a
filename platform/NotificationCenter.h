#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace platform {

// An in-process notification centre: (name, object) pairs handed to the observers of
// this process only, synchronously, on the thread that posts.
//
// Removal is a barrier: once removeObserver returns, none of the observer's handlers
// runs any more and none is still running on another thread (a handler may remove
// itself). Because removal waits for a running handler, a handler must never wait for
// a thread that might be removing it.
class NotificationCenter {
public:
    using Handler = std::function<void(const QString& name, const QString& object)>;

    NotificationCenter();
    ~NotificationCenter();
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    // Registers a handler for one name, or for every name when name is nothing. The
    // observer is only an identity for removal; it is not retained.
    void addObserver(const void* observer, const std::optional<QString>& name, Handler handler);
    // Removes every registration of the observer.
    void removeObserver(const void* observer);

    // Tells every matching observer, in the order they registered, before returning.
    void postNotification(const QString& name, const QString& object);

    struct Private;

private:
    std::unique_ptr<Private> d;
};

} // namespace platform
