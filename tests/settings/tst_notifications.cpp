#include "common/TestEnv.h"

#include "platform/DistributedNotificationCenter.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>
#include <QThread>

using platform::DistributedNotificationCenter;

namespace {

DistributedNotificationCenter& center() {
    return DistributedNotificationCenter::defaultCenter();
}

// Records what one observer receives and on which thread.
struct Recorder {
    QStringList received; // "name object"
    bool allOnMainThread = true;
    Recorder(const std::optional<QString>& name) {
        center().addObserver(this, name, [this](const QString& n, const QString& o) {
            received.append(n + QLatin1Char(' ') + o);
            allOnMainThread = allOnMainThread &&
                              QThread::currentThread() == QCoreApplication::instance()->thread();
        });
    }
    ~Recorder() { center().removeObserver(this); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;
};

QString helperPath() {
    return QStringLiteral(QUILLO_SETTINGS_HELPER);
}

} // namespace

class TestNotifications : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // These tests are about the bus: without one they must fail, not pass.
        QVERIFY2(QDBusConnection::sessionBus().isConnected(),
                 "no session bus: run the tests under dbus-run-session");
    }

    void postingProcessIsToldExactlyOnce() {
        Recorder named(QStringLiteral("Quillo_Failed_Write"));
        Recorder other(QStringLiteral("something.else"));
        Recorder all(std::nullopt);
        center().postNotificationName(QStringLiteral("Quillo_Failed_Write"),
                                      QStringLiteral("com.orvane.quillo"));
        // Posted on the main thread: told before the post returns.
        QCOMPARE(named.received, QStringList{"Quillo_Failed_Write com.orvane.quillo"});
        // The post comes back from the bus too; it must not be delivered again.
        QTest::qWait(300);
        QCOMPARE(named.received, QStringList{"Quillo_Failed_Write com.orvane.quillo"});
        QCOMPARE(all.received, QStringList{"Quillo_Failed_Write com.orvane.quillo"});
        QVERIFY(other.received.isEmpty());
        QVERIFY(named.allOnMainThread);
    }

    void removedObserversHearNothing() {
        int a = 0;
        int b = 0;
        center().addObserver(&a, QStringLiteral("one"),
                             [&](const QString&, const QString&) { ++a; });
        center().addObserver(&a, QStringLiteral("two"),
                             [&](const QString&, const QString&) { ++a; });
        center().addObserver(&b, QStringLiteral("one"),
                             [&](const QString&, const QString&) { ++b; });
        center().addObserver(&b, QStringLiteral("two"),
                             [&](const QString&, const QString&) { ++b; });
        center().removeObserver(&a);
        center().removeObserver(&b, QStringLiteral("one"));
        center().postNotificationName(QStringLiteral("one"), QString());
        center().postNotificationName(QStringLiteral("two"), QString());
        QTest::qWait(100);
        QCOMPARE(a, 0);
        QCOMPARE(b, 1);
        center().removeObserver(&b);
    }

    void observerRemovedDuringDeliveryIsNotCalled() {
        int first = 0;
        int second = 0;
        center().addObserver(&first, QStringLiteral("n"), [&](const QString&, const QString&) {
            ++first;
            center().removeObserver(&second);
        });
        center().addObserver(&second, QStringLiteral("n"),
                             [&](const QString&, const QString&) { ++second; });
        center().postNotificationName(QStringLiteral("n"), QString());
        center().removeObserver(&first);
        QCOMPARE(first, 1);
        QCOMPARE(second, 0);
    }

    void postFromAnotherThreadArrivesOnTheMainThread() {
        Recorder named(QStringLiteral("from.worker"));
        QThread* worker = QThread::create([] {
            center().postNotificationName(QStringLiteral("from.worker"), QStringLiteral("x"));
        });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QTRY_COMPARE(named.received, QStringList{"from.worker x"});
        QTest::qWait(300);
        QCOMPARE(named.received, QStringList{"from.worker x"});
        QVERIFY(named.allOnMainThread);
    }

    void otherProcessIsToldOnItsMainThreadExactlyOnce() {
        QProcess observer;
        observer.start(helperPath(), {QStringLiteral("observe"),
                                      QStringLiteral("Quillo_Failed_Write"), QStringLiteral("2")});
        QVERIFY(observer.waitForReadyRead(10000));
        QCOMPARE(observer.readLine().trimmed(), QByteArray("ready"));
        center().postNotificationName(QStringLiteral("Quillo_Failed_Write"),
                                      QStringLiteral("com.orvane.quillo"));
        center().postNotificationName(QStringLiteral("not.observed"), QStringLiteral("x"));
        QVERIFY(observer.waitForFinished(10000));
        const QByteArray output = observer.readAll();
        QCOMPARE(output, QByteArray("got Quillo_Failed_Write com.orvane.quillo main=1\nseen=1\n"));
    }

    void withoutBusThisProcessIsStillTold() {
        QProcess helper;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QStringLiteral("unix:path=/nonexistent/quillo-no-bus"));
        helper.setProcessEnvironment(env);
        helper.start(helperPath(), {QStringLiteral("nobus")});
        QVERIFY(helper.waitForFinished(20000));
        QCOMPARE(helper.exitStatus(), QProcess::NormalExit);
        QCOMPARE(helper.exitCode(), 0);
        // Two posts (main thread and a worker), each told once to both observers on
        // the main thread; the missing bus logged once.
        QCOMPARE(helper.readAllStandardOutput(), QByteArray("named=2 all=2 main=1 log=1\n"));
    }
};

QUILLO_TEST_MAIN_CORE(TestNotifications)
#include "tst_notifications.moc"
