#pragma once

#include <QString>

class ZVFileWatcher;
class ZVKQueue;

// The names the watchers report, one per kind of change, in the order in which a
// queue tests for them. They serve as the delegate's change name and as the
// notification name alike.
inline const QString ZVKQueueFileRenamedNotification =
    QStringLiteral("ZVKQueueFileRenamedNotification");
inline const QString ZVKQueueFileWrittenToNotification =
    QStringLiteral("ZVKQueueFileWrittenToNotification");
inline const QString ZVKQueueFileDeletedNotification =
    QStringLiteral("ZVKQueueFileDeletedNotification");
inline const QString ZVKQueueFileAttributesChangedNotification =
    QStringLiteral("ZVKQueueFileAttributesChangedNotification");
inline const QString ZVKQueueFileSizeIncreasedNotification =
    QStringLiteral("ZVKQueueFileSizeIncreasedNotification");
inline const QString ZVKQueueFileLinkCountChangedNotification =
    QStringLiteral("ZVKQueueFileLinkCountChangedNotification");
inline const QString ZVKQueueFileAccessRevocationNotification =
    QStringLiteral("ZVKQueueFileAccessRevocationNotification");

// Anything that can be a watcher's delegate. A delegate takes the watchers' messages by
// also implementing one of the two interfaces below; a watcher checks which one.
class ZVFileWatcherDelegate {
public:
    virtual ~ZVFileWatcherDelegate() = default;
};

// The message every watcher sends, and the one a delegate should implement.
class ZVWatcherNotificationDelegate : public virtual ZVFileWatcherDelegate {
public:
    virtual void watcherReceivedNotificationForPath(ZVFileWatcher* watcher, const QString& name,
                                                    const QString& path) = 0;
};

// The older message a queue falls back to for delegates without the one above.
class ZVKQueueNotificationDelegate : public virtual ZVFileWatcherDelegate {
public:
    virtual void kqueueReceivedNotificationForFile(ZVKQueue* queue, const QString& name,
                                                   const QString& path) = 0;
};

// What every file watcher offers. Delegates are not owned: see each watcher for how it
// guarantees that nothing reaches a delegate after it was replaced or cleared.
class ZVFileWatcher {
public:
    virtual ~ZVFileWatcher() = default;
    virtual void addPath(const QString& path) = 0;
    virtual void removePath(const QString& path) = 0;
    virtual ZVFileWatcherDelegate* delegate() const = 0;
    virtual void setDelegate(ZVFileWatcherDelegate* delegate) = 0;
};
