#pragma once

#include "menuextra/watch/ZVFileWatcher.h"
#include "platform/FNSubscribe.h"

#include <map>
#include <mutex>

// Watches directories through the platform's change subscriptions: any entry created,
// deleted or renamed in a watched directory is reported to the delegate as
// "ZVKQueueFileWrittenToNotification" with the directory's path. The delegate is called
// directly, on the subscription service's thread.
//
// Lifetimes: the delegate is called while the watcher's lock is held, and setDelegate()
// takes that lock, so once setDelegate() has returned the old delegate is not told
// anything more. Destruction ends every subscription, and ending one waits for its
// callback, so no callback reaches a destroyed watcher. A delegate's method must not wait
// for a thread that is changing the delegate or destroying the watcher, and must not
// destroy the watcher itself.
class ZVFNSubscribeFileWatcher final : public ZVFileWatcher {
public:
    ZVFNSubscribeFileWatcher();
    ~ZVFNSubscribeFileWatcher() override;
    ZVFNSubscribeFileWatcher(const ZVFNSubscribeFileWatcher&) = delete;
    ZVFNSubscribeFileWatcher& operator=(const ZVFNSubscribeFileWatcher&) = delete;

    void addPath(const QString& path) override;
    void removePath(const QString& path) override;
    ZVFileWatcherDelegate* delegate() const override;
    void setDelegate(ZVFileWatcherDelegate* delegate) override;

    // Called by the subscription callback for a directory-modified message.
    void sendDelegateMessage(platform::FNMessage message, platform::FNSubscriptionRef subscription);

private:
    mutable std::recursive_mutex m_mutex; // guards both fields; held while telling the delegate
    ZVFileWatcherDelegate* m_delegate = nullptr;
    std::map<QString, platform::FNSubscriptionRef> m_subscriptions;
};

// The subscription callback; refcon is the watcher that subscribed.
void ZVFileSubscriptionProc(platform::FNMessage message, platform::OptionBits flags, void* refcon,
                            platform::FNSubscriptionRef subscription);
