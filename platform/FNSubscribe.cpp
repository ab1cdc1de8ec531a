#include "platform/FNSubscribe.h"

#include "platform/HandOver.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QThread>

#include <map>
#include <memory>
#include <mutex>

namespace platform {

namespace {

struct Subscription {
    QString path;
    FNSubscriptionUPP callback;
    void* refcon;
};

// Everything below lives on the service thread; every call is carried there.
class SubscriptionService {
public:
    SubscriptionService() : handOver(&thread) {
        thread.setObjectName(QStringLiteral("FNSubscribe"));
        thread.start();
    }

    // Runs f on the service thread and waits; false when the service has stopped.
    template <class F> bool run(F&& f) { return handOver.runAndWait(f); }

    OSStatus subscribe(const QString& path, FNSubscriptionUPP callback, void* refcon,
                       FNSubscriptionRef* result) {
        const QFileInfo info(path);
        if (!info.exists())
            return fnfErr;
        if (!info.isDir())
            return dirNFErr;
        const QString key = QDir::cleanPath(info.absoluteFilePath());
        if (!watcher) {
            // Made here so that it belongs to the service thread from the start.
            watcher = std::make_unique<QFileSystemWatcher>();
            QObject::connect(watcher.get(), &QFileSystemWatcher::directoryChanged, watcher.get(),
                             [this](const QString& path) { directoryChanged(path); });
        }
        if (watchers[key] == 0 && !watcher->addPath(key)) {
            watchers.erase(key);
            return ioErr;
        }
        ++watchers[key];
        auto ref = reinterpret_cast<FNSubscriptionRef>(++lastHandle);
        subscriptions[ref] = Subscription{key, callback, refcon};
        *result = ref;
        return noErr;
    }

    OSStatus unsubscribe(FNSubscriptionRef ref) {
        auto it = subscriptions.find(ref);
        if (it == subscriptions.end())
            return paramErr;
        const QString key = it->second.path;
        subscriptions.erase(it);
        if (--watchers[key] == 0) {
            watchers.erase(key);
            watcher->removePath(key);
        }
        return noErr;
    }

    void directoryChanged(const QString& path) {
        std::vector<FNSubscriptionRef> refs;
        for (const auto& [ref, subscription] : subscriptions)
            if (subscription.path == path)
                refs.push_back(ref);
        for (FNSubscriptionRef ref : refs) {
            // An earlier callback may have ended this subscription.
            auto it = subscriptions.find(ref);
            if (it == subscriptions.end())
                continue;
            const Subscription s = it->second;
            s.callback(kFNDirectoryModifiedMessage, 0, s.refcon, ref);
        }
    }

    void stop() {
        handOver.close();
        thread.quit();
        thread.wait();
    }

    QThread thread;
    HandOverQueue handOver; // lives on the service thread and runs the calls there
    std::unique_ptr<QFileSystemWatcher> watcher;
    std::map<FNSubscriptionRef, Subscription> subscriptions;
    std::map<QString, int> watchers; // subscriptions per watched directory
    quintptr lastHandle = 0;
};

std::mutex s_serviceMutex;
SubscriptionService* s_service = nullptr;
bool s_stopped = false;

// The service for the running application, made on first use; null without one.
SubscriptionService* service() {
    std::lock_guard lock(s_serviceMutex);
    if (!s_service && !s_stopped && QCoreApplication::instance()) {
        s_service = new SubscriptionService;
        qAddPostRoutine([] {
            SubscriptionService* gone = nullptr;
            {
                std::lock_guard lock(s_serviceMutex);
                gone = std::exchange(s_service, nullptr);
                s_stopped = true;
            }
            if (gone) {
                gone->run([gone] { gone->watcher.reset(); });
                gone->stop();
                delete gone;
            }
        });
    }
    return s_service;
}

} // namespace

FNSubscriptionUPP NewFNSubscriptionUPP(FNSubscriptionProcPtr proc) {
    return proc;
}

OSStatus FNSubscribeByPath(const char* directoryPath, FNSubscriptionUPP callback, void* refcon,
                           OptionBits /*flags*/, FNSubscriptionRef* subscription) {
    if (!directoryPath || !callback || !subscription)
        return paramErr;
    SubscriptionService* s = service();
    if (!s)
        return ioErr;
    const QString path = QString::fromUtf8(directoryPath);
    OSStatus status = ioErr;
    if (!s->run([&] { status = s->subscribe(path, callback, refcon, subscription); }))
        return ioErr;
    return status;
}

OSStatus FNUnsubscribe(FNSubscriptionRef subscription) {
    SubscriptionService* s = service();
    if (!s)
        return paramErr;
    OSStatus status = paramErr;
    if (!s->run([&] { status = s->unsubscribe(subscription); }))
        return paramErr;
    return status;
}

} // namespace platform
