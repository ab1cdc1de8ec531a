#include "common/TestEnv.h"

#include "WatchTestSupport.h"

#include "menuextra/watch/ZVKQueue.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <mutex>
#include <set>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using platform::Workspace;
using watchtest::appendTo;

namespace {

constexpr int kWait = 10000; // generous: these suites also run under sanitizers

bool onMainThread() {
    return QThread::currentThread() == QCoreApplication::instance()->thread();
}

// Every report in arrival order, as "route name path"; filled on the main thread
// (delegates) and on the watcher threads (notifications).
class Journal {
public:
    void add(const QString& route, const QString& name, const QString& path) {
        std::lock_guard lock(m_mutex);
        m_entries.append({route, name, path});
    }
    // The "route name" pairs for one path, in order.
    QStringList forPath(const QString& path) const {
        std::lock_guard lock(m_mutex);
        QStringList result;
        for (const Entry& e : m_entries)
            if (e.path == path)
                result.append(e.route + QLatin1Char(' ') + e.name);
        return result;
    }
    int count(const QString& path) const { return int(forPath(path).size()); }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_entries.clear();
    }

private:
    struct Entry {
        QString route, name, path;
    };
    mutable std::mutex m_mutex;
    QList<Entry> m_entries;
};

class WatcherDelegate : public ZVWatcherNotificationDelegate {
public:
    explicit WatcherDelegate(Journal& journal) : m_journal(journal) {}
    void watcherReceivedNotificationForPath(ZVFileWatcher* watcher, const QString& name,
                                            const QString& path) override {
        allOnMainThread = allOnMainThread && onMainThread();
        lastWatcher = watcher;
        m_journal.add(QStringLiteral("delegate"), name, path);
        if (hook)
            hook(path);
    }
    bool allOnMainThread = true;
    ZVFileWatcher* lastWatcher = nullptr;
    std::function<void(const QString&)> hook;

private:
    Journal& m_journal;
};

class KQueueDelegate : public ZVKQueueNotificationDelegate {
public:
    explicit KQueueDelegate(Journal& journal) : m_journal(journal) {}
    void kqueueReceivedNotificationForFile(ZVKQueue*, const QString& name,
                                           const QString& path) override {
        m_journal.add(QStringLiteral("kqueue"), name, path);
    }

private:
    Journal& m_journal;
};

class BothDelegate : public WatcherDelegate, public KQueueDelegate {
public:
    explicit BothDelegate(Journal& journal) : WatcherDelegate(journal), KQueueDelegate(journal) {}
};

class MuteDelegate : public ZVFileWatcherDelegate {};

enum Action { Append, AppendThenChmod, Chmod, HardLink, RenameAway };

} // namespace

class TestKQueue : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    Journal m_journal;
    QString m_sentinel;
    int m_baseThreads = 0;

    QString file(const QString& name) {
        const QString path = m_dir.filePath(name);
        if (!QFileInfo::exists(path))
            appendTo(path, "start\n");
        return path;
    }

    ZVKQueue::Pointer newQueue() {
        ZVKQueue::Pointer queue = ZVKQueue::create();
        if (queue)
            queue->addPath(m_sentinel);
        return queue;
    }

    // Changes the sentinel and waits for its report: the queue has then reported
    // everything that happened before.
    bool settle() {
        const int before = m_journal.count(m_sentinel);
        appendTo(m_sentinel);
        return QTest::qWaitFor([&] { return m_journal.count(m_sentinel) > before; }, kWait);
    }

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        // The process-wide queue lives on; make it before counting threads.
        QVERIFY(ZVKQueue::sharedQueue());
        QCOMPARE(ZVKQueue::sharedQueue(), ZVKQueue::sharedQueue());
        m_baseThreads = ZVKQueue::runningWatcherThreads();
        Workspace::sharedWorkspace().notificationCenter().addObserver(
            this, std::nullopt, [this](const QString& name, const QString& object) {
                m_journal.add(onMainThread() ? QStringLiteral("main-thread-notification")
                                             : QStringLiteral("notification"),
                              name, object);
            });
    }

    void init() {
        m_journal.clear();
        m_sentinel = file(QStringLiteral("sentinel"));
    }

    void cleanup() {
        // No queue of a test outlives it.
        QTRY_COMPARE_WITH_TIMEOUT(ZVKQueue::runningWatcherThreads(), m_baseThreads, kWait);
    }

    void reports_data() {
        QTest::addColumn<uint>("mask");
        QTest::addColumn<int>("action");
        QTest::addColumn<QStringList>("expected");
        const QString n = QStringLiteral("notification ");
        QTest::newRow("write") << uint(ZVKQueue::defaultMask) << int(Append)
                               << QStringList{n + ZVKQueueFileWrittenToNotification};
        QTest::newRow("append, growth asked for")
            << uint(ZVKQueue::defaultMask | ZVKQueue::NOTE_EXTEND) << int(Append)
            << QStringList{n + ZVKQueueFileWrittenToNotification,
                           n + ZVKQueueFileSizeIncreasedNotification};
        QTest::newRow("write and attributes together")
            << uint(ZVKQueue::defaultMask) << int(AppendThenChmod)
            << QStringList{n + ZVKQueueFileWrittenToNotification,
                           n + ZVKQueueFileAttributesChangedNotification};
        QTest::newRow("attributes") << uint(ZVKQueue::defaultMask) << int(Chmod)
                                    << QStringList{n + ZVKQueueFileAttributesChangedNotification};
        QTest::newRow("link, default mask")
            << uint(ZVKQueue::defaultMask) << int(HardLink)
            << QStringList{n + ZVKQueueFileAttributesChangedNotification};
        QTest::newRow("link, link count asked for")
            << uint(ZVKQueue::NOTE_ATTRIB | ZVKQueue::NOTE_LINK) << int(HardLink)
            << QStringList{n + ZVKQueueFileAttributesChangedNotification,
                           n + ZVKQueueFileLinkCountChangedNotification};
        QTest::newRow("link count only, on a write")
            << uint(ZVKQueue::NOTE_LINK) << int(Append) << QStringList{};
        QTest::newRow("renamed") << uint(ZVKQueue::defaultMask) << int(RenameAway)
                                 << QStringList{n + ZVKQueueFileRenamedNotification};
    }

    void reports() {
        QFETCH(uint, mask);
        QFETCH(int, action);
        QFETCH(QStringList, expected);
        const QString path = file(QString::fromLatin1(QTest::currentDataTag()));
        ZVKQueue::Pointer queue = newQueue();
        QVERIFY(queue);
        queue->addPathToQueue(path, mask);
        const QByteArray native = QFile::encodeName(path);
        switch (Action(action)) {
        case Append:
            appendTo(path);
            break;
        case AppendThenChmod:
            appendTo(path);
            QCOMPARE(::chmod(native.constData(), 0600), 0);
            break;
        case Chmod:
            QCOMPARE(::chmod(native.constData(), 0600), 0);
            break;
        case HardLink:
            QCOMPARE(::link(native.constData(), (native + ".link").constData()), 0);
            break;
        case RenameAway:
            QCOMPARE(::rename(native.constData(), (native + ".moved").constData()), 0);
            break;
        }
        QVERIFY(settle());
        QCOMPARE(m_journal.forPath(path), expected);
    }

    void replacedFileReportsDeletionThenNothing() {
        const QString path = file(QStringLiteral("replaced.ics"));
        const QString other = file(QStringLiteral("replacement.ics"));
        ZVKQueue::Pointer queue = newQueue();
        queue->addPath(path);
        QVERIFY(QFile::rename(other, path) || ::rename(QFile::encodeName(other).constData(),
                                                       QFile::encodeName(path).constData()) == 0);
        QVERIFY(settle());
        QStringList seen = m_journal.forPath(path);
        const QString deleted = QStringLiteral("notification ") + ZVKQueueFileDeletedNotification;
        QVERIFY2(!seen.isEmpty() && seen.last() == deleted, qPrintable(seen.join(u'|')));
        for (const QString& before : seen.mid(0, seen.size() - 1))
            QCOMPARE(before,
                     QStringLiteral("notification ") + ZVKQueueFileAttributesChangedNotification);
        QCOMPARE(queue->watchedPaths().count(path), 1); // still listed

        // The new file at the path is not watched until the path is added again.
        m_journal.clear();
        appendTo(path);
        QVERIFY(settle());
        QCOMPARE(m_journal.count(path), 0);
        queue->addPath(path);
        appendTo(path);
        QVERIFY(settle());
        QCOMPARE(m_journal.forPath(path),
                 QStringList{QStringLiteral("notification ") + ZVKQueueFileWrittenToNotification});
        queue->removePath(path); // the dead registration goes first, without a log line
        QCOMPARE(queue->watchedPaths().count(path), 1);
    }

    void missingPathsAndDescription() {
        testenv::LogRecorder log;
        ZVKQueue::Pointer queue = ZVKQueue::create();
        QVERIFY(queue);
        QVERIFY(queue->queueFD() >= 0);
        QCOMPARE(queue->description(),
                 QStringLiteral("ZVKQueue { watchedPaths = (\n), alwaysNotify = NO }"));
        queue->addPath(m_dir.filePath(QStringLiteral("does-not-exist")));
        queue->removePath(m_dir.filePath(QStringLiteral("never-added")));
        QVERIFY(queue->watchedPaths().isEmpty());
        const QString path = file(QStringLiteral("described"));
        queue->addPath(path);
        queue->addPath(path);
        queue->setAlwaysNotify(true);
        QCOMPARE(queue->description(),
                 QStringLiteral("ZVKQueue { watchedPaths = (\n    \"%1\",\n    \"%1\"\n), "
                                "alwaysNotify = YES }")
                     .arg(path));
        queue.reset();
        QTRY_COMPARE_WITH_TIMEOUT(ZVKQueue::runningWatcherThreads(), m_baseThreads, kWait);
        QCOMPARE(log.lines(), QStringList{});
    }

    void addedTwiceReportsTwiceUntilRemoved() {
        const QString path = file(QStringLiteral("twice"));
        ZVKQueue::Pointer queue = newQueue();
        queue->addPath(path);
        queue->addPath(path);
        for (int expected : {2, 1, 0}) {
            m_journal.clear();
            appendTo(path);
            QVERIFY(settle());
            QCOMPARE(m_journal.count(path), expected);
            QCOMPARE(queue->watchedPaths().count(path), expected);
            queue->removePath(path);
        }
        // Removing everything ends every watch, the sentinel's included.
        queue->addPath(path);
        queue->removeAllPathsFromQueue();
        QVERIFY(queue->watchedPaths().isEmpty());
        queue->addPath(m_sentinel);
        appendTo(path);
        QVERIFY(settle());
        QCOMPARE(m_journal.count(path), 0);
    }

    void noQueueWithoutAnInotifyInstance() {
        rlimit limits{};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limits), 0);
        const rlimit saved = limits;
        limits.rlim_cur = 0; // no new descriptor can be opened
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &limits), 0);
        const bool made = bool(ZVKQueue::create());
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);
        QVERIFY(!made);
    }

    void deliveryRoutes_data() {
        QTest::addColumn<bool>("withDelegate");
        QTest::addColumn<bool>("alwaysNotify");
        QTest::addColumn<QStringList>("routes");
        QTest::newRow("no delegate") << false << false << QStringList{"notification"};
        QTest::newRow("delegate") << true << false << QStringList{"delegate"};
        QTest::newRow("delegate, always notify")
            << true << true << QStringList{"delegate", "notification"};
        QTest::newRow("no delegate, always notify") << false << true << QStringList{"notification"};
    }

    void deliveryRoutes() {
        QFETCH(bool, withDelegate);
        QFETCH(bool, alwaysNotify);
        QFETCH(QStringList, routes);
        const QString path = file(QStringLiteral("routes"));
        WatcherDelegate delegate(m_journal);
        bool watcherWaited = true;
        // With both routes the notification follows the delegate's return, so a watcher
        // thread that did not wait would have posted it by now.
        delegate.hook = [&](const QString& changed) {
            if (changed != path)
                return;
            QThread::msleep(50);
            watcherWaited = watcherWaited && m_journal.count(path) == 1;
        };
        ZVKQueue::Pointer queue = newQueue();
        queue->setAlwaysNotify(alwaysNotify);
        if (withDelegate)
            queue->setDelegate(&delegate);
        QCOMPARE(queue->delegate(), withDelegate ? &delegate : nullptr);
        Workspace::sharedWorkspace().clearRecordedCalls();
        Workspace::sharedWorkspace().setRecordsCalls(true);
        queue->addPath(path);
        appendTo(path);
        QVERIFY(settle());
        Workspace::sharedWorkspace().setRecordsCalls(false);

        QStringList expected;
        for (const QString& route : routes)
            expected.append(route + QLatin1Char(' ') + ZVKQueueFileWrittenToNotification);
        QCOMPARE(m_journal.forPath(path), expected);
        QVERIFY(delegate.allOnMainThread);
        QVERIFY(watcherWaited);
        if (withDelegate)
            QCOMPARE(delegate.lastWatcher, static_cast<ZVFileWatcher*>(queue.get()));
        QVERIFY(Workspace::sharedWorkspace().recordedCalls().contains(
            Workspace::Call{QStringLiteral("noteFileSystemChanged"), {path}}));
        queue->setDelegate(nullptr);
    }

    void delegateMessageFollowsWhatTheDelegateImplements_data() {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("route");
        QTest::newRow("watcher message") << 0 << "delegate";
        QTest::newRow("fallback message") << 1 << "kqueue";
        QTest::newRow("both: the watcher message") << 2 << "delegate";
    }

    void delegateMessageFollowsWhatTheDelegateImplements() {
        QFETCH(int, kind);
        QFETCH(QString, route);
        WatcherDelegate watcherOnly(m_journal);
        KQueueDelegate kqueueOnly(m_journal);
        BothDelegate both(m_journal);
        ZVFileWatcherDelegate* delegates[] = {&watcherOnly, &kqueueOnly, &both};
        const QString path = file(QStringLiteral("message"));
        ZVKQueue::Pointer queue = newQueue();
        queue->setDelegate(delegates[kind]);
        queue->addPath(path);
        appendTo(path);
        QVERIFY(settle());
        QCOMPARE(m_journal.forPath(path),
                 QStringList{route + QLatin1Char(' ') + ZVKQueueFileWrittenToNotification});
    }

    void delegateTakingNeitherMessageIsLogged() {
        testenv::LogRecorder log;
        MuteDelegate mute;
        ZVKQueue::Pointer queue = newQueue();
        queue->setDelegate(&mute);
        appendTo(m_sentinel);
        QTRY_VERIFY_WITH_TIMEOUT(!log.lines().isEmpty(), kWait);
        QVERIFY2(log.lines().first().startsWith(QLatin1String("Error in ZVKQueue watcherThread: ")),
                 qPrintable(log.lines().first()));
        // The thread goes on: the next change still arrives.
        queue->setDelegate(nullptr);
        QVERIFY(settle());
    }

    void replacedOrClearedDelegateIsNotTold() {
        const QString path = file(QStringLiteral("cleared"));
        Journal first, second;
        WatcherDelegate a(first), b(second);
        ZVKQueue::Pointer queue = newQueue();
        queue->addPath(path);
        queue->setDelegate(&a);
        queue->setDelegate(&b);
        appendTo(path);
        appendTo(m_sentinel); // reaches b once the first change is fully delivered
        QTRY_COMPARE_WITH_TIMEOUT(second.count(m_sentinel), 1, kWait);
        QCOMPARE(second.count(path), 1);
        QCOMPARE(m_journal.count(path), 0);
        queue->setDelegate(nullptr);
        appendTo(path);
        QVERIFY(settle()); // arrives as a notification now
        QCOMPARE(m_journal.forPath(path),
                 QStringList{QStringLiteral("notification ") + ZVKQueueFileWrittenToNotification});
        QCOMPARE(first.count(path), 0);
        QCOMPARE(second.count(path), 1);
    }

    void lastOwnerStopsTheThreadAndClosesEverything() {
        const int inotifyBefore = watchtest::openDescriptors("inotify");
        const int eventfdBefore = watchtest::openDescriptors("eventfd");
        ZVKQueue::Pointer queue = newQueue();
        ZVKQueue::Pointer secondOwner = queue;
        auto delegate = std::make_unique<WatcherDelegate>(m_journal);
        queue->setDelegate(delegate.get());
        queue->addPath(file(QStringLiteral("stop-a")));
        queue->addPath(file(QStringLiteral("stop-b")));
        QCOMPARE(watchtest::openDescriptors("inotify"), inotifyBefore + 1);
        QCOMPARE(ZVKQueue::runningWatcherThreads(), m_baseThreads + 1);

        queue.reset(); // another owner remains: nothing stops
        appendTo(m_sentinel);
        QTRY_COMPARE_WITH_TIMEOUT(m_journal.count(m_sentinel), 1, kWait);

        // The last owner lets go while a report is on its way to the main thread; the
        // delegate goes at once and must never be called.
        appendTo(m_sentinel);
        QTest::qWait(0);
        secondOwner.reset();
        delegate.reset();
        QTRY_VERIFY_WITH_TIMEOUT(ZVKQueue::runningWatcherThreads() == m_baseThreads &&
                                     watchtest::openDescriptors("inotify") == inotifyBefore &&
                                     watchtest::openDescriptors("eventfd") == eventfdBefore,
                                 6000);
    }

    void delegateMayLetGoOfTheQueue() {
        ZVKQueue::Pointer queue = newQueue();
        WatcherDelegate delegate(m_journal);
        delegate.hook = [&](const QString&) { queue.reset(); };
        queue->setDelegate(&delegate);
        appendTo(m_sentinel);
        QTRY_VERIFY_WITH_TIMEOUT(!queue, kWait);
        QTRY_COMPARE_WITH_TIMEOUT(ZVKQueue::runningWatcherThreads(), m_baseThreads, 6000);
    }

    void manyQueuesComeAndGoWhileFilesChange() {
        const QString appended = file(QStringLiteral("stress-appended"));
        const QString replaced = file(QStringLiteral("stress-replaced"));
        std::atomic<bool> stop{false};
        std::thread writer([&] {
            const QString temp = replaced + QStringLiteral(".new");
            while (!stop) {
                appendTo(appended);
                appendTo(temp, "replacement\n");
                ::rename(QFile::encodeName(temp).constData(),
                         QFile::encodeName(replaced).constData());
                QThread::usleep(200); // paces the writer; nothing depends on it
            }
        });

        // Delegates check in here; a call to one that left would be caught.
        std::set<const void*> alive;
        int violations = 0;
        int delivered = 0;
        class Counting : public ZVWatcherNotificationDelegate {
        public:
            Counting(std::set<const void*>& alive, int& violations, int& delivered)
                : m_alive(alive), m_violations(violations), m_delivered(delivered) {
                m_alive.insert(this);
            }
            ~Counting() override { m_alive.erase(this); }
            void watcherReceivedNotificationForPath(ZVFileWatcher*, const QString&,
                                                    const QString&) override {
                if (!m_alive.count(this) || !onMainThread())
                    ++m_violations;
                ++m_delivered;
            }

        private:
            std::set<const void*>& m_alive;
            int& m_violations;
            int& m_delivered;
        };

        for (int i = 0; i < 300; ++i) {
            ZVKQueue::Pointer queue = ZVKQueue::create();
            QVERIFY2(queue, "no inotify instance left");
            auto delegate = std::make_unique<Counting>(alive, violations, delivered);
            queue->setDelegate(delegate.get());
            queue->setAlwaysNotify(i % 5 == 0);
            queue->addPath(appended);
            queue->addPath(replaced);
            if (i % 3 == 0) {
                const int before = delivered;
                QTRY_VERIFY_WITH_TIMEOUT(delivered > before, kWait);
            } else if (i % 3 == 1) {
                QCoreApplication::processEvents();
            }
            queue.reset();
            delegate.reset();
            // Keep the number of live inotify instances well below the per-user limit.
            QTRY_VERIFY_WITH_TIMEOUT(ZVKQueue::runningWatcherThreads() < m_baseThreads + 8, kWait);
        }
        stop = true;
        writer.join();
        QTRY_COMPARE_WITH_TIMEOUT(ZVKQueue::runningWatcherThreads(), m_baseThreads, kWait);
        QCoreApplication::processEvents(); // runs any hand-over still queued: all dropped
        QCOMPARE(violations, 0);
        QVERIFY(delivered >= 100);
        QVERIFY(alive.empty());
    }

    void notificationCentreObservers() {
        platform::NotificationCenter centre;
        QStringList seen;
        int byName = 0;
        centre.addObserver(&seen, std::nullopt, [&](const QString& name, const QString& object) {
            seen.append(name + QLatin1Char('=') + object);
        });
        centre.addObserver(&byName, QStringLiteral("one"),
                           [&](const QString&, const QString&) { ++byName; });
        // An observer may remove itself while it is being told.
        centre.addObserver(&centre, std::nullopt,
                           [&](const QString&, const QString&) { centre.removeObserver(&centre); });
        centre.postNotification(QStringLiteral("one"), QStringLiteral("a"));
        centre.postNotification(QStringLiteral("two"), QStringLiteral("b"));
        centre.removeObserver(&seen);
        centre.postNotification(QStringLiteral("one"), QStringLiteral("c"));
        QCOMPARE(seen, (QStringList{"one=a", "two=b"}));
        QCOMPARE(byName, 2);
    }

    void cleanupTestCase() {
        Workspace::sharedWorkspace().notificationCenter().removeObserver(this);
    }
};

QUILLO_TEST_MAIN_CORE(TestKQueue)
#include "tst_kqueue.moc"
