#include "platform/NotificationCenter.h"

#include <mutex>
#include <vector>

namespace platform {

namespace {

struct Registration {
    const void* observer;
    std::optional<QString> name;
    NotificationCenter::Handler handler;
    // Held while the handler runs; removal takes it to wait for a running handler.
    std::recursive_mutex running;
    bool removed = false; // guarded by running
};

} // namespace

struct NotificationCenter::Private {
    std::mutex mutex;
    std::vector<std::shared_ptr<Registration>> registrations;
};

NotificationCenter::NotificationCenter() : d(std::make_unique<Private>()) {}

NotificationCenter::~NotificationCenter() = default;

void NotificationCenter::addObserver(const void* observer, const std::optional<QString>& name,
                                     Handler handler) {
    auto registration = std::make_shared<Registration>();
    registration->observer = observer;
    registration->name = name;
    registration->handler = std::move(handler);
    std::lock_guard lock(d->mutex);
    d->registrations.push_back(std::move(registration));
}

void NotificationCenter::removeObserver(const void* observer) {
    std::vector<std::shared_ptr<Registration>> gone;
    {
        std::lock_guard lock(d->mutex);
        std::erase_if(d->registrations, [&](const std::shared_ptr<Registration>& r) {
            if (r->observer != observer)
                return false;
            gone.push_back(r);
            return true;
        });
    }
    for (const auto& r : gone) {
        std::lock_guard wait(r->running);
        r->removed = true;
    }
}

void NotificationCenter::postNotification(const QString& name, const QString& object) {
    std::vector<std::shared_ptr<Registration>> targets;
    {
        std::lock_guard lock(d->mutex);
        for (const auto& r : d->registrations)
            if (!r->name || *r->name == name)
                targets.push_back(r);
    }
    for (const auto& r : targets) {
        std::lock_guard running(r->running);
        if (!r->removed)
            r->handler(name, object);
    }
}

} // namespace platform
