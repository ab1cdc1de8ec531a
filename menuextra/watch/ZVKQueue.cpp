#include "menuextra/watch/ZVKQueue.h"

#include "platform/Log.h"
#include "platform/Workspace.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

std::atomic<int> s_runningThreads{0};

// The change names with their flags, in the order in which they are tested.
struct ChangeName {
    std::uint32_t flag;
    const QString& name;
};
const ChangeName kChangeNames[] = {
    {ZVKQueue::NOTE_RENAME, ZVKQueueFileRenamedNotification},
    {ZVKQueue::NOTE_WRITE, ZVKQueueFileWrittenToNotification},
    {ZVKQueue::NOTE_DELETE, ZVKQueueFileDeletedNotification},
    {ZVKQueue::NOTE_ATTRIB, ZVKQueueFileAttributesChangedNotification},
    {ZVKQueue::NOTE_EXTEND, ZVKQueueFileSizeIncreasedNotification},
    {ZVKQueue::NOTE_LINK, ZVKQueueFileLinkCountChangedNotification},
    {ZVKQueue::NOTE_REVOKE, ZVKQueueFileAccessRevocationNotification},
};

// What inotify has to watch for a registration's flags. IN_MASK_ADD keeps what other
// registrations of the same file asked for.
std::uint32_t inotifyMaskFor(std::uint32_t mask) {
    std::uint32_t result = 0;
    if (mask & ZVKQueue::NOTE_RENAME)
        result |= IN_MOVE_SELF;
    if (mask & (ZVKQueue::NOTE_WRITE | ZVKQueue::NOTE_EXTEND))
        result |= IN_MODIFY;
    if (mask & ZVKQueue::NOTE_DELETE)
        result |= IN_DELETE_SELF;
    if (mask & (ZVKQueue::NOTE_ATTRIB | ZVKQueue::NOTE_LINK))
        result |= IN_ATTRIB;
    // A watch needs some event; unmounts (access revocation) come unasked.
    if (!result)
        result = IN_DELETE_SELF;
    return result | IN_MASK_ADD;
}

QString arrayDescription(const QStringList& items) {
    QString text = QStringLiteral("(\n");
    for (qsizetype i = 0; i < items.size(); ++i) {
        QString item = items[i];
        item.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
        item.replace(QLatin1Char('"'), QLatin1String("\\\""));
        text += QStringLiteral("    \"") + item + QLatin1Char('"');
        text += i + 1 < items.size() ? QStringLiteral(",\n") : QStringLiteral("\n");
    }
    return text + QLatin1Char(')');
}

} // namespace

ZVKQueue::ZVKQueue(int queueFD, int wakeFD) : m_queueFD(queueFD), m_wakeFD(wakeFD) {}

ZVKQueue::~ZVKQueue() = default;

ZVKQueue::Pointer ZVKQueue::create() {
    const int queueFD = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (queueFD == -1)
        return nullptr;
    const int wakeFD = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFD == -1) {
        ::close(queueFD);
        return nullptr;
    }
    auto* queue = new ZVKQueue(queueFD, wakeFD);
    ++s_runningThreads;
    try {
        std::thread([queue] { queue->watcherThread(); }).detach();
    } catch (const std::system_error&) {
        --s_runningThreads;
        ::close(queueFD);
        ::close(wakeFD);
        delete queue;
        return nullptr;
    }
    // The owners share this pointer; the last one to let go stops the thread, which
    // then destroys the queue.
    return Pointer(queue, [](ZVKQueue* q) { q->release(); });
}

ZVKQueue::Pointer ZVKQueue::sharedQueue() {
    static std::mutex mutex;
    static Pointer* shared = new Pointer; // kept for the life of the process
    std::lock_guard lock(mutex);
    if (!*shared)
        *shared = create();
    return *shared;
}

int ZVKQueue::runningWatcherThreads() {
    return s_runningThreads.load();
}

void ZVKQueue::release() {
    setDelegate(nullptr);
    // Under the lock: the thread takes it before it closes anything and destroys the
    // queue, so the queue and its wake descriptor outlive this call.
    std::lock_guard lock(m_mutex);
    m_keepThreadRunning.store(false);
    const std::uint64_t one = 1;
    // Wakes the thread now rather than at the end of its wait.
    [[maybe_unused]] const ssize_t written = ::write(m_wakeFD, &one, sizeof one);
}

void ZVKQueue::addPath(const QString& path) {
    addPathToQueue(path, defaultMask);
}

void ZVKQueue::addPathToQueue(const QString& path) {
    addPathToQueue(path, defaultMask);
}

void ZVKQueue::addPathToQueue(const QString& path, std::uint32_t mask) {
    const QByteArray native = QFile::encodeName(path);
    const FileState state = stateOf(path);
    std::lock_guard lock(m_mutex);
    // Under the lock, so that a watch number and the registrations using it always agree.
    const int wd = inotify_add_watch(m_queueFD, native.constData(), inotifyMaskFor(mask));
    if (wd == -1)
        return;
    m_registrations.push_back(Registration{path, wd, mask, true});
    FileState& known = m_fileStates[wd];
    if (!known.known || known.inode != state.inode || known.device != state.device)
        known = state;
}

void ZVKQueue::removePath(const QString& path) {
    removePathFromQueue(path);
}

void ZVKQueue::removePathFromQueue(const QString& path) {
    int failure = 0;
    {
        std::lock_guard lock(m_mutex);
        auto it = std::find_if(m_registrations.begin(), m_registrations.end(),
                               [&](const Registration& r) { return r.path == path; });
        if (it == m_registrations.end())
            return;
        const Registration gone = *it;
        m_registrations.erase(it);
        const bool shared =
            std::any_of(m_registrations.begin(), m_registrations.end(),
                        [&](const Registration& r) { return r.live && r.wd == gone.wd; });
        // The watch ends with the file's last registration. EINVAL: the kernel already
        // ended it because the file went away.
        if (gone.live && !shared) {
            m_fileStates.erase(gone.wd);
            if (inotify_rm_watch(m_queueFD, gone.wd) == -1 && errno != EINVAL)
                failure = errno;
        }
    }
    if (failure)
        platform::NSLog(QStringLiteral("removePathFromQueue: Couldn't close file descriptor (%1)")
                            .arg(failure));
}

void ZVKQueue::removeAllPathsFromQueue() {
    std::lock_guard lock(m_mutex);
    for (const auto& [wd, state] : m_fileStates)
        inotify_rm_watch(m_queueFD, wd);
    m_fileStates.clear();
    m_registrations.clear();
}

ZVFileWatcherDelegate* ZVKQueue::delegate() const {
    std::lock_guard lock(m_mutex);
    return m_delegate;
}

void ZVKQueue::setDelegate(ZVFileWatcherDelegate* delegate) {
    std::shared_ptr<DelegateProxy> proxy = delegate ? copyMainThreadProxy(delegate) : nullptr;
    std::shared_ptr<DelegateProxy> previous;
    {
        std::lock_guard lock(m_mutex);
        m_delegate = delegate;
        previous = std::exchange(m_delegateProxy, std::move(proxy));
    }
    // Outside the lock: this waits for a call to the old delegate that is running on
    // another thread, and that call may use the queue.
    if (previous)
        previous->withdrawTarget();
}

bool ZVKQueue::alwaysNotify() const {
    std::lock_guard lock(m_mutex);
    return m_alwaysNotify;
}

void ZVKQueue::setAlwaysNotify(bool alwaysNotify) {
    std::lock_guard lock(m_mutex);
    m_alwaysNotify = alwaysNotify;
}

QStringList ZVKQueue::watchedPaths() const {
    std::lock_guard lock(m_mutex);
    QStringList paths;
    for (const Registration& r : m_registrations)
        paths.append(r.path);
    return paths;
}

QString ZVKQueue::description() const {
    return QStringLiteral("%1 { watchedPaths = %2, alwaysNotify = %3 }")
        .arg(QStringLiteral("ZVKQueue"), arrayDescription(watchedPaths()),
             alwaysNotify() ? QStringLiteral("YES") : QStringLiteral("NO"));
}

ZVKQueue::FileState ZVKQueue::stateOf(const QString& path) {
    struct stat info {};
    FileState state;
    if (::stat(QFile::encodeName(path).constData(), &info) == 0) {
        state.device = info.st_dev;
        state.inode = info.st_ino;
        state.size = info.st_size;
        state.links = info.st_nlink;
        state.known = true;
    }
    return state;
}

void ZVKQueue::watcherThread() {
    const int queueFD = m_queueFD;
    constexpr int timeoutMs = 5000;
    alignas(inotify_event) char buffer[16 * 1024];
    while (m_keepThreadRunning.load()) {
        try {
            pollfd fds[2] = {{queueFD, POLLIN, 0}, {m_wakeFD, POLLIN, 0}};
            // A time-out or a failed wait (an interruption) just goes round again.
            if (::poll(fds, 2, timeoutMs) > 0 && (fds[0].revents & POLLIN)) {
                const ssize_t length = ::read(queueFD, buffer, sizeof buffer);
                if (length > 0)
                    handleEvents(buffer, length);
            }
        } catch (const std::exception& e) {
            platform::NSLog(QStringLiteral("Error in ZVKQueue watcherThread: %1")
                                .arg(QString::fromLocal8Bit(e.what())));
        } catch (...) {
            platform::NSLog(QStringLiteral("Error in ZVKQueue watcherThread: %1")
                                .arg(QStringLiteral("unknown exception")));
        }
    }
    closeWatchesAtEnd(); // takes the lock: waits for release() to be done with the queue
    if (::close(queueFD) == -1)
        platform::NSLog(QStringLiteral("release: Couldn't close main kqueue (%1)").arg(errno));
    ::close(m_wakeFD);
    delete this;
    --s_runningThreads;
}

void ZVKQueue::closeWatchesAtEnd() {
    std::vector<int> failures;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [wd, state] : m_fileStates) {
            const bool live =
                std::any_of(m_registrations.begin(), m_registrations.end(),
                            [&](const Registration& r) { return r.live && r.wd == wd; });
            if (live && inotify_rm_watch(m_queueFD, wd) == -1 && errno != EINVAL)
                failures.push_back(errno);
        }
        m_fileStates.clear();
        m_registrations.clear();
    }
    for (int failure : failures)
        platform::NSLog(
            QStringLiteral("dealloc: Couldn't close file descriptor (%1)").arg(failure));
}

void ZVKQueue::handleEvents(const char* buffer, long length) {
    // All events of one read that belong to one watch are merged into one set of flags,
    // the way a kernel queue gathers a file's changes until they are collected; watches
    // keep the order in which they first appear.
    struct Pending {
        int wd;
        std::uint32_t mask;
        bool dropped;
    };
    std::vector<Pending> pending;
    for (long offset = 0; offset + long(sizeof(inotify_event)) <= length;) {
        inotify_event event;
        std::memcpy(&event, buffer + offset, sizeof event);
        offset += long(sizeof(inotify_event)) + long(event.len);
        if (event.wd < 0) // the kernel's queue overflowed; nothing to attribute
            continue;
        auto last = std::find_if(pending.rbegin(), pending.rend(),
                                 [&](const Pending& p) { return p.wd == event.wd; });
        auto it = last == pending.rend() ? pending.end() : std::prev(last.base());
        // A deletion is reported after what happened to the file before it, never
        // merged with it.
        if (it == pending.end() || ((event.mask & IN_DELETE_SELF) && it->mask))
            it = pending.insert(pending.end(), Pending{event.wd, 0, false});
        it->mask |= event.mask;
        if (event.mask & IN_IGNORED)
            it->dropped = true;
    }

    for (const Pending& p : pending) {
        for (const Delivery& delivery : takeDeliveries(p.wd, p.mask, p.dropped)) {
            platform::Workspace::sharedWorkspace().noteFileSystemChanged(delivery.path);
            for (const ChangeName& change : kChangeNames)
                if (delivery.flags & change.flag)
                    postNotification(change.name, delivery.path);
        }
    }
}

std::vector<ZVKQueue::Delivery> ZVKQueue::takeDeliveries(int wd, std::uint32_t inotifyMask,
                                                         bool dropped) {
    std::vector<Delivery> deliveries;
    std::lock_guard lock(m_mutex);
    // Paths are looked up here, under the lock, and copied: a path removed meanwhile is
    // simply not found, and the event dropped.
    std::uint32_t flags = 0;
    if (inotifyMask & IN_MOVE_SELF)
        flags |= NOTE_RENAME;
    if (inotifyMask & IN_MODIFY)
        flags |= NOTE_WRITE;
    if (inotifyMask & IN_DELETE_SELF)
        flags |= NOTE_DELETE;
    if (inotifyMask & IN_ATTRIB)
        flags |= NOTE_ATTRIB;
    if (inotifyMask & IN_UNMOUNT)
        flags |= NOTE_REVOKE;

    bool first = true;
    for (Registration& r : m_registrations) {
        if (!r.live || r.wd != wd)
            continue;
        if (first && (inotifyMask & (IN_MODIFY | IN_ATTRIB))) {
            // Growth and link counts need the file's previous state; the path is only
            // trusted while it still names the watched file.
            first = false;
            auto state = m_fileStates.find(wd);
            const FileState now = stateOf(r.path);
            if (state != m_fileStates.end() && now.known && state->second.known &&
                now.inode == state->second.inode && now.device == state->second.device) {
                if ((inotifyMask & IN_MODIFY) && now.size > state->second.size)
                    flags |= NOTE_EXTEND;
                if ((inotifyMask & IN_ATTRIB) && now.links != state->second.links)
                    flags |= NOTE_LINK;
                state->second = now;
            }
        }
        if (flags & r.mask)
            deliveries.push_back(Delivery{r.path, flags & r.mask});
    }
    if (dropped) {
        for (Registration& r : m_registrations)
            if (r.wd == wd)
                r.live = false;
        m_fileStates.erase(wd);
    }
    return deliveries;
}

void ZVKQueue::postNotification(const QString& name, const QString& path) {
    std::shared_ptr<DelegateProxy> proxy;
    {
        std::lock_guard lock(m_mutex);
        proxy = m_delegateProxy;
    }
    if (proxy) {
        try {
            if (proxy->respondsTo<ZVWatcherNotificationDelegate>())
                proxy->perform(&ZVWatcherNotificationDelegate::watcherReceivedNotificationForPath,
                               static_cast<ZVFileWatcher*>(this), name, path);
            else
                proxy->perform(&ZVKQueueNotificationDelegate::kqueueReceivedNotificationForFile,
                               this, name, path);
        } catch (const ZVTargetWithdrawn&) {
            // The delegate was replaced or cleared on the way: it is not told.
        }
        std::lock_guard lock(m_mutex);
        if (m_delegateProxy && !m_alwaysNotify)
            return;
    }
    platform::Workspace::sharedWorkspace().notificationCenter().postNotification(name, path);
}
