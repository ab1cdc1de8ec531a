#pragma once

#include "menuextra/watch/ZVFileWatcher.h"
#include "menuextra/watch/ZVMainThreadProxy.h"

#include <QStringList>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

// Watches files through one inotify instance and one watcher thread of its own, and
// reports each change by name to its delegate on the main thread, or as a notification
// of the workspace's notification centre (posted on the watcher thread).
//
// Ownership: create() hands out the queue as a std::shared_ptr; owners copy it freely.
// When the last owner lets go (the "release"), the delegate is withdrawn at once, the
// thread is woken and ends without waiting out its 5-second poll, removes every watch,
// closes the inotify descriptor and destroys the queue on its own thread.
//
// Delegate lifetime: setDelegate() (and the release) withdraw the previous delegate's
// proxy before returning, and wait for a delegate call running on another thread to
// finish. So once setDelegate(nullptr) or the last reset() has returned, the old
// delegate may be destroyed. The delegate's methods run on the main thread while the
// watcher thread waits; they must never wait for the watcher thread, and may call
// setDelegate() or drop the queue themselves.
class ZVKQueue final : public ZVFileWatcher {
public:
    // The change flags a path can be watched for.
    enum : std::uint32_t {
        NOTE_DELETE = 0x01,
        NOTE_WRITE = 0x02,
        NOTE_EXTEND = 0x04,
        NOTE_ATTRIB = 0x08,
        NOTE_LINK = 0x10,
        NOTE_RENAME = 0x20,
        NOTE_REVOKE = 0x40,
    };
    // Deleted, written, attributes changed, renamed.
    static constexpr std::uint32_t defaultMask = 0x2B;

    using Pointer = std::shared_ptr<ZVKQueue>;

    // A new queue whose watcher thread runs; null when no inotify instance can be made.
    static Pointer create();
    // One process-wide queue, made on first use and kept for the life of the process.
    static Pointer sharedQueue();

    int queueFD() const { return m_queueFD; }

    void addPath(const QString& path) override;
    void addPathToQueue(const QString& path);
    void addPathToQueue(const QString& path, std::uint32_t mask);
    void removePath(const QString& path) override;
    // Ends the first registration of the path.
    void removePathFromQueue(const QString& path);
    void removeAllPathsFromQueue();

    ZVFileWatcherDelegate* delegate() const override;
    void setDelegate(ZVFileWatcherDelegate* delegate) override;
    bool alwaysNotify() const;
    void setAlwaysNotify(bool alwaysNotify);

    // The watched paths, in the order they were added; a path added twice is listed twice.
    QStringList watchedPaths() const;
    QString description() const;

    // Tests: how many watcher threads have not yet ended.
    static int runningWatcherThreads();

    ZVKQueue(const ZVKQueue&) = delete;
    ZVKQueue& operator=(const ZVKQueue&) = delete;

private:
    using DelegateProxy = ZVMainThreadProxy<ZVFileWatcherDelegate>;

    struct Registration {
        QString path;
        int wd;             // the inotify watch; one file has one watch for all its paths
        std::uint32_t mask; // what this registration reports
        bool live;          // false once the kernel dropped the watch (the file is gone)
    };
    struct FileState {
        unsigned long long device = 0;
        unsigned long long inode = 0;
        long long size = 0;
        unsigned long long links = 0;
        bool known = false;
    };
    struct Delivery {
        QString path;
        std::uint32_t flags;
    };

    ZVKQueue(int queueFD, int wakeFD);
    ~ZVKQueue();

    void release();
    void watcherThread();
    void handleEvents(const char* buffer, long length);
    std::vector<Delivery> takeDeliveries(int wd, std::uint32_t inotifyMask, bool dropped);
    void postNotification(const QString& name, const QString& path);
    void closeWatchesAtEnd();
    static FileState stateOf(const QString& path);

    const int m_queueFD;
    const int m_wakeFD;
    std::atomic<bool> m_keepThreadRunning{true};

    mutable std::mutex m_mutex; // guards everything below
    std::vector<Registration> m_registrations;
    std::map<int, FileState> m_fileStates; // by watch, for the size and link-count flags
    ZVFileWatcherDelegate* m_delegate = nullptr;
    std::shared_ptr<DelegateProxy> m_delegateProxy;
    bool m_alwaysNotify = false;
};
