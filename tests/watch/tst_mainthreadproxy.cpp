#include "common/TestEnv.h"

#include "menuextra/watch/ZVMainThreadProxy.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

namespace {

class Greeter {
public:
    virtual ~Greeter() = default;
    virtual QString greet(const QString& who, int times, const QStringList& extra) = 0;
};

class Failing {
public:
    virtual ~Failing() = default;
    virtual void fail() = 0;
};

class NeverImplemented {
public:
    virtual ~NeverImplemented() = default;
    virtual void nothing() = 0;
};

class Target : public Greeter, public Failing {
public:
    QString greet(const QString& who, int times, const QStringList& extra) override {
        ++calls;
        ranOnMainThread = QThread::currentThread() == QCoreApplication::instance()->thread();
        if (onCall)
            onCall();
        return who.repeated(times) + extra.join(QLatin1Char(','));
    }
    void fail() override { throw std::runtime_error("failed on purpose"); }

    std::atomic<int> calls{0};
    std::atomic<bool> ranOnMainThread{false};
    std::function<void()> onCall;
};

using Proxy = ZVMainThreadProxy<Greeter>;

// Runs f on a new thread while the main thread keeps its event loop turning.
template <class F> void onBackgroundThread(F f) {
    std::atomic<bool> done{false};
    std::thread thread([&] {
        f();
        done = true;
    });
    QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    thread.join();
}

} // namespace

class TestMainThreadProxy : public QObject {
    Q_OBJECT

private slots:
    void respondsToTheTargetsInterfacesOnly() {
        Target target;
        auto proxy = mainThreadProxy<Greeter>(&target);
        QVERIFY(proxy->respondsTo<Greeter>());
        QVERIFY(proxy->respondsTo<Failing>()); // cross-cast: the target implements it too
        QVERIFY(!proxy->respondsTo<NeverImplemented>());
        QVERIFY(proxy->description().startsWith(QLatin1String("<ZVMainThreadProxy: 0x")));
    }

    void aProxyOfAProxyIsTheProxy() {
        Target target;
        auto proxy = copyMainThreadProxy<Greeter>(&target);
        QCOMPARE(mainThreadProxy(proxy.get()), proxy);
        QCOMPARE(copyMainThreadProxy(proxy.get()), proxy);
        QCOMPARE(proxy->mainThreadProxy(), proxy);
        QVERIFY(mainThreadProxy<Greeter>(&target) != proxy); // a fresh proxy per target request
    }

    void callFromAnotherThreadRunsOnTheMainThreadAndWaits() {
        Target target;
        auto proxy = mainThreadProxy<Greeter>(&target);
        QString result;
        int callsSeenAfterReturn = 0;
        onBackgroundThread([&] {
            result = proxy->call(&Greeter::greet, QStringLiteral("ab"), 2,
                                 QStringList{QStringLiteral("x"), QStringLiteral("y")});
            callsSeenAfterReturn = target.calls;
        });
        QCOMPARE(result, QStringLiteral("ababx,y"));
        QCOMPARE(callsSeenAfterReturn, 1);
        QVERIFY(target.ranOnMainThread);
    }

    void callOnTheMainThreadRunsAtOnce() {
        Target target;
        auto proxy = mainThreadProxy<Greeter>(&target);
        // No event loop turns here: a queued hand-over would never return.
        QCOMPARE(proxy->call(&Greeter::greet, QStringLiteral("a"), 1, QStringList{}),
                 QStringLiteral("a"));
        QCOMPARE(target.calls.load(), 1);
        proxy->perform(&Greeter::greet, QStringLiteral("a"), 1, QStringList{});
        QCOMPARE(target.calls.load(), 2);
    }

    void failuresReachTheSendingThread() {
        Target target;
        auto proxy = mainThreadProxy<Greeter>(&target);
        bool notTaken = false;
        bool targetFailure = false;
        onBackgroundThread([&] {
            try {
                proxy->call(&NeverImplemented::nothing);
            } catch (const std::invalid_argument&) {
                notTaken = true;
            }
            try {
                proxy->call(&Failing::fail);
            } catch (const std::runtime_error& e) {
                targetFailure = QByteArray(e.what()) == "failed on purpose";
            }
        });
        QVERIFY(notTaken);
        QVERIFY(targetFailure);
        QCOMPARE(target.calls.load(), 0);
    }

    void aWithdrawnTargetIsNeverCalled() {
        Target target;
        auto proxy = mainThreadProxy<Greeter>(&target);
        std::atomic<bool> sending{false};
        std::atomic<bool> withdrawnSeen{false};
        std::thread sender([&] {
            sending = true;
            try {
                proxy->call(&Greeter::greet, QStringLiteral("a"), 1, QStringList{});
            } catch (const ZVTargetWithdrawn&) {
                withdrawnSeen = true;
            }
        });
        // The call is on its way (or about to be) while the main thread does not yet
        // run events; withdrawing now must stop it whichever it is.
        while (!sending)
            std::this_thread::yield();
        proxy->withdrawTarget();
        QTRY_VERIFY_WITH_TIMEOUT(withdrawnSeen, 10000);
        sender.join();
        QCOMPARE(target.calls.load(), 0);
        QVERIFY(!proxy->respondsTo<Greeter>());
    }

    void withdrawingWaitsForARunningCall() {
        Target target;
        auto proxy = mainThreadProxy<Greeter>(&target);
        std::atomic<bool> withdrawn{false};
        std::thread withdrawer;
        bool withdrawnWhileRunning = true;
        target.onCall = [&] {
            withdrawer = std::thread([&] {
                proxy->withdrawTarget();
                withdrawn = true;
            });
            // Give a withdrawal that does not wait the chance to finish early.
            QThread::msleep(100);
            withdrawnWhileRunning = withdrawn;
        };
        onBackgroundThread(
            [&] { proxy->call(&Greeter::greet, QStringLiteral("a"), 1, QStringList{}); });
        withdrawer.join();
        QVERIFY(!withdrawnWhileRunning);
        QVERIFY(withdrawn);
    }
};

QUILLO_TEST_MAIN_CORE(TestMainThreadProxy)
#include "tst_mainthreadproxy.moc"
