#include "common/TestEnv.h"

#include "WatchTestSupport.h"

#include "menuextra/watch/ZVFNSubscribeFileWatcher.h"
#include "platform/FNSubscribe.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

#include <mutex>

using namespace platform;

namespace {

constexpr int kWait = 10000;

// Delegate messages and log lines in one sequence, so their order can be checked.
class Journal {
public:
    Journal() {
        setLogCapture([this](const QString& line) { add(QStringLiteral("log ") + line); });
    }
    ~Journal() { setLogCapture({}); }
    void add(const QString& entry) {
        std::lock_guard lock(m_mutex);
        m_entries.append(entry);
    }
    QStringList entries() const {
        std::lock_guard lock(m_mutex);
        return m_entries;
    }
    bool contains(const QString& entry) const { return entries().contains(entry); }
    void clear() {
        std::lock_guard lock(m_mutex);
        m_entries.clear();
    }

private:
    mutable std::mutex m_mutex;
    QStringList m_entries;
};

class Delegate : public ZVWatcherNotificationDelegate {
public:
    explicit Delegate(Journal& journal) : m_journal(journal) {}
    void watcherReceivedNotificationForPath(ZVFileWatcher* watcher, const QString& name,
                                            const QString& path) override {
        m_journal.add(QStringLiteral("delegate %1 %2%3")
                          .arg(name, path, watcher ? QString() : QStringLiteral(" (no watcher)")));
    }

private:
    Journal& m_journal;
};

QString told(const QString& path) {
    return QStringLiteral("delegate ZVKQueueFileWrittenToNotification ") + path;
}

QString noticed(const QString& path) {
    return QStringLiteral("log ZVFNSubscribeFileWatcher noticed change to ") + path;
}

void ignore(FNMessage, OptionBits, void*, FNSubscriptionRef) {}

} // namespace

class TestFNSubscribe : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    int m_folders = 0;

    QString newFolder() {
        const QString path = m_root.filePath(QStringLiteral("folder%1").arg(++m_folders));
        QDir().mkpath(path);
        return path;
    }

private slots:
    void changesInsideAFolderAreReported_data() {
        QTest::addColumn<QString>("change");
        QTest::newRow("create") << "create";
        QTest::newRow("delete") << "delete";
        QTest::newRow("rename") << "rename";
    }

    void changesInsideAFolderAreReported() {
        QFETCH(QString, change);
        const QString folder = newFolder();
        const QString entry = folder + QStringLiteral("/entry.ics");
        if (change != QLatin1String("create"))
            watchtest::appendTo(entry);
        Journal journal;
        Delegate delegate(journal);
        ZVFNSubscribeFileWatcher watcher;
        watcher.setDelegate(&delegate);
        watcher.addPath(folder);
        if (change == QLatin1String("create"))
            watchtest::appendTo(entry);
        else if (change == QLatin1String("delete"))
            QVERIFY(QFile::remove(entry));
        else
            QVERIFY(QFile::rename(entry, folder + QStringLiteral("/renamed.ics")));
        QTRY_VERIFY_WITH_TIMEOUT(journal.contains(noticed(folder)), kWait);
        const QStringList entries = journal.entries();
        QCOMPARE(entries.first(), told(folder));
        QCOMPARE(entries.at(1), noticed(folder));
    }

    void removedFolderIsQuietAndOthersGoOn() {
        const QString removed = newFolder();
        const QString kept = newFolder();
        Journal journal;
        Delegate delegate(journal);
        ZVFNSubscribeFileWatcher watcher;
        watcher.setDelegate(&delegate);
        watcher.addPath(removed);
        watcher.addPath(kept);
        watcher.removePath(removed);
        watcher.removePath(m_root.filePath(QStringLiteral("never-added"))); // no effect
        watchtest::appendTo(removed + QStringLiteral("/a"));
        watchtest::appendTo(kept + QStringLiteral("/a"));
        QTRY_VERIFY_WITH_TIMEOUT(journal.contains(noticed(kept)), kWait);
        QVERIFY(!journal.contains(told(removed)));
        QVERIFY(!journal.contains(noticed(removed)));
    }

    void aFolderAddedAgainIsReportedOnce() {
        const QString folder = newFolder();
        Journal journal;
        Delegate delegate(journal);
        ZVFNSubscribeFileWatcher watcher;
        watcher.setDelegate(&delegate);
        watcher.addPath(folder);
        watcher.addPath(folder);
        watchtest::appendTo(folder + QStringLiteral("/a"));
        QTRY_VERIFY_WITH_TIMEOUT(journal.contains(noticed(folder)), kWait);
        // One more change, to give a second (leftover) subscription time to report too.
        const QString other = newFolder();
        watcher.addPath(other);
        watchtest::appendTo(other + QStringLiteral("/a"));
        QTRY_VERIFY_WITH_TIMEOUT(journal.contains(noticed(other)), kWait);
        QCOMPARE(journal.entries().count(told(folder)), 1);
    }

    void destroyedWatcherEndsItsSubscriptions() {
        const QString folder = newFolder();
        const QString sentinel = newFolder();
        Journal journal;
        Delegate delegate(journal);
        auto watcher = std::make_unique<ZVFNSubscribeFileWatcher>();
        watcher->setDelegate(&delegate);
        watcher->addPath(folder);
        watcher.reset();
        ZVFNSubscribeFileWatcher other;
        other.setDelegate(&delegate);
        other.addPath(sentinel);
        watchtest::appendTo(folder + QStringLiteral("/a"));
        watchtest::appendTo(sentinel + QStringLiteral("/a"));
        QTRY_VERIFY_WITH_TIMEOUT(journal.contains(noticed(sentinel)), kWait);
        QVERIFY(!journal.contains(told(folder)));
    }

    void failuresAndStrayCallbacks() {
        Journal journal;
        Delegate delegate(journal);
        ZVFNSubscribeFileWatcher watcher;
        watcher.setDelegate(&delegate);
        const QString missing = m_root.filePath(QStringLiteral("missing"));
        watcher.addPath(missing);
        const QString file = m_root.filePath(QStringLiteral("plain-file"));
        watchtest::appendTo(file);
        watcher.addPath(file);
        // A message the watcher does not know, and one for a subscription it does not hold.
        ZVFileSubscriptionProc(7, 0, &watcher, nullptr);
        ZVFileSubscriptionProc(kFNDirectoryModifiedMessage, 0, &watcher,
                               reinterpret_cast<FNSubscriptionRef>(quintptr(0xdead)));
        QCOMPARE(journal.entries(),
                 (QStringList{
                     QStringLiteral("log ZVFNSubscribeFileWatcher addPath: %1 failed due to "
                                    "error ID=-43.")
                         .arg(missing),
                     QStringLiteral("log ZVFNSubscribeFileWatcher addPath: %1 failed due to "
                                    "error ID=-120.")
                         .arg(file),
                     QStringLiteral("log ZVFileSubscriptionProc: Unknown message 7"),
                 }));
    }

    void subscriptionService() {
        const QString folder = newFolder();
        FNSubscriptionRef first = nullptr;
        FNSubscriptionRef second = nullptr;
        QCOMPARE(FNSubscribeByPath(nullptr, ignore, nullptr, 0, &first), paramErr);
        QCOMPARE(
            FNSubscribeByPath(QFile::encodeName(folder).constData(), ignore, nullptr, 0, &first),
            noErr);
        QCOMPARE(
            FNSubscribeByPath(QFile::encodeName(folder).constData(), ignore, nullptr, 0, &second),
            noErr);
        QVERIFY(first != second);
        QCOMPARE(FNUnsubscribe(first), noErr);
        QCOMPARE(FNUnsubscribe(first), paramErr); // ended once only
        QCOMPARE(FNUnsubscribe(second), noErr);
    }
};

QUILLO_TEST_MAIN_CORE(TestFNSubscribe)
#include "tst_fnsubscribe.moc"
