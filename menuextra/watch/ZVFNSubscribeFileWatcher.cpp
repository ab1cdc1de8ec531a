#include "menuextra/watch/ZVFNSubscribeFileWatcher.h"

#include "platform/Log.h"

#include <QFile>

#include <algorithm>
#include <vector>

using namespace platform;

namespace {

FNSubscriptionUPP subscriptionCallback() {
    static const FNSubscriptionUPP upp = NewFNSubscriptionUPP(ZVFileSubscriptionProc);
    return upp;
}

} // namespace

void ZVFileSubscriptionProc(FNMessage message, OptionBits /*flags*/, void* refcon,
                            FNSubscriptionRef subscription) {
    if (message == kFNDirectoryModifiedMessage)
        static_cast<ZVFNSubscribeFileWatcher*>(refcon)->sendDelegateMessage(message, subscription);
    else
        NSLog(QStringLiteral("ZVFileSubscriptionProc: Unknown message %1").arg(message));
}

ZVFNSubscribeFileWatcher::ZVFNSubscribeFileWatcher() = default;

ZVFNSubscribeFileWatcher::~ZVFNSubscribeFileWatcher() {
    std::map<QString, FNSubscriptionRef> subscriptions;
    {
        std::lock_guard lock(m_mutex);
        m_delegate = nullptr;
        subscriptions.swap(m_subscriptions);
    }
    // Outside the lock: ending a subscription waits for a callback that may be waiting
    // for the lock; it then finds nothing and returns.
    for (const auto& [path, subscription] : subscriptions)
        FNUnsubscribe(subscription);
}

void ZVFNSubscribeFileWatcher::addPath(const QString& path) {
    FNSubscriptionRef subscription = nullptr;
    const OSStatus status = FNSubscribeByPath(QFile::encodeName(path).constData(),
                                              subscriptionCallback(), this, 0, &subscription);
    if (status != noErr) {
        NSLog(QStringLiteral("ZVFNSubscribeFileWatcher addPath: %1 failed due to error ID=%2.")
                  .arg(path)
                  .arg(status));
        return;
    }
    FNSubscriptionRef replaced = nullptr;
    {
        std::lock_guard lock(m_mutex);
        auto [it, added] = m_subscriptions.try_emplace(path, subscription);
        if (!added)
            replaced = std::exchange(it->second, subscription);
    }
    // A path added again keeps only its new subscription; the old one would otherwise
    // go on calling back into this watcher after it is gone.
    if (replaced)
        FNUnsubscribe(replaced);
}

void ZVFNSubscribeFileWatcher::removePath(const QString& path) {
    FNSubscriptionRef subscription = nullptr;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_subscriptions.find(path);
        if (it == m_subscriptions.end())
            return;
        subscription = it->second;
        m_subscriptions.erase(it);
    }
    FNUnsubscribe(subscription);
}

ZVFileWatcherDelegate* ZVFNSubscribeFileWatcher::delegate() const {
    std::lock_guard lock(m_mutex);
    return m_delegate;
}

void ZVFNSubscribeFileWatcher::setDelegate(ZVFileWatcherDelegate* delegate) {
    std::lock_guard lock(m_mutex);
    m_delegate = delegate;
}

void ZVFNSubscribeFileWatcher::sendDelegateMessage(FNMessage /*message*/,
                                                   FNSubscriptionRef subscription) {
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                           [&](const auto& entry) { return entry.second == subscription; });
    // Its path was removed or added anew meanwhile: nobody to tell.
    if (it == m_subscriptions.end())
        return;
    const QString path = it->first;
    if (auto* receiver = dynamic_cast<ZVWatcherNotificationDelegate*>(m_delegate))
        receiver->watcherReceivedNotificationForPath(this, ZVKQueueFileWrittenToNotification, path);
    NSLog(QStringLiteral("ZVFNSubscribeFileWatcher noticed change to %1").arg(path));
}
