// The update check end to end: a feed served over loopback HTTP, the pane's version,
// the alerts (answered by the platform's responder) and the addresses opened.
#include "common/TestEnv.h"
#include "common/TestHttpServer.h"

#include "platform/Alert.h"
#include "platform/PropertyList.h"
#include "platform/Workspace.h"
#include "shared/QL_SoftwareUpdate.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QThread>

#include <deque>
#include <memory>

using platform::Alert;
using platform::AlertButton;
using platform::Workspace;
using testenv::TestHttpServer;

namespace {

const QByteArray feedPath = "/quillo/quillo.plist";
const QString productPage = QStringLiteral("http://example.org/quillo/");
const QString downloadPage = QStringLiteral("https://example.org/quillo-1.2.tar.gz");

QVariantMap standardFeed() {
    return {{"newVersionNumber", "1.2"},
            {"newProductURL", productPage},
            {"newDownloadURL", downloadPage}};
}

QVariantMap feedWith(const QString& key, const QVariant& value) {
    QVariantMap feed = standardFeed();
    if (value.isValid())
        feed.insert(key, value);
    else
        feed.remove(key);
    return feed;
}

QByteArray xml(const QVariant& value) {
    return platform::PropertyList::toData(value).value_or(QByteArray());
}

QByteArray binary(const QVariant& value) {
    return platform::PropertyList::toData(value, platform::PropertyList::Format::Binary)
        .value_or(QByteArray());
}

// A feed grown to about `size` bytes by white space after the root, which parses.
QByteArray padded(qsizetype size) {
    QByteArray body = xml(standardFeed());
    body.insert(body.lastIndexOf("</plist>"), QByteArray(size - body.size(), ' '));
    return body;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QString styleName(platform::AlertStyle style) {
    switch (style) {
    case platform::AlertStyle::Informational:
        return "informational";
    case platform::AlertStyle::Critical:
        return "critical";
    case platform::AlertStyle::Warning:
        break;
    }
    return "warning";
}

const QString checkLog = QStringLiteral("Quillo :: checkForUpdatesAndNotify :: ");

} // namespace

class TestUpdate : public QObject {
    Q_OBJECT

    QString paneDir() const { return testenv::dataHome() + "/PreferencePanes/Quillo.prefPane"; }

    // The installed pane: its version, the feed it names, and a table that gives each
    // key as its own text, so an alert reads as the keys it was built from.
    void installPane(const QVariant& version, const QVariant& feedURL) {
        QVariantMap info{{"CFBundleIdentifier", "com.orvane.quillo"}};
        if (version.isValid())
            info.insert("CFBundleVersion", version);
        if (feedURL.isValid())
            info.insert("QLUpdateFeedURL", feedURL);
        QVERIFY(writeFile(paneDir() + "/Contents/Info.plist", xml(info)));
        const QString resources = paneDir() + "/Contents/Resources";
        if (QFileInfo(resources).isSymLink())
            QVERIFY(QFile::remove(resources));
        QVariantMap table;
        for (const char* key :
             {"OK_BUTTON", "SOFTWARE_UP_TO_DATE_TITLE", "SOFTWARE_UP_TO_DATE_TEXT",
              "SOFTWARE_NEW_VERSION_TITLE", "SOFTWARE_NEW_VERSION_DOWNLOAD",
              "SOFTWARE_NEW_VERSION_MORE_INFORMATION", "SOFTWARE_NEW_VERSION_IGNORE",
              "ERROR_UPDATE_TITLE", "ERROR_UPDATE_TEXT"})
            table.insert(key, key);
        table.insert("SOFTWARE_NEW_VERSION_TEXT", "SOFTWARE_NEW_VERSION_TEXT %1");
        QVERIFY(writeFile(resources + "/en.lproj/Quillo.strings", xml(table)));
    }

    void installPane(const QVariant& version) { installPane(version, m_server->url(feedPath)); }

    // What one or more checks did, in a form to compare: the check's log lines, the
    // alerts and the addresses opened.
    QStringList dump() const {
        QStringList out;
        for (const QString& line : m_log->lines())
            if (line.startsWith(checkLog))
                out << "log: " + line.mid(checkLog.size());
        for (const Alert& a : m_alerts)
            out << "alert: " + styleName(a.style) + " | " + a.title + " | " + a.message + " | " +
                       a.buttons.join(", ");
        for (const Workspace::Call& call : Workspace::sharedWorkspace().recordedCalls())
            out << call.name + ": " + call.arguments.join(", ");
        return out;
    }

    void answerWith(std::initializer_list<AlertButton> buttons) { m_answers = buttons; }

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<testenv::LogRecorder> m_log;
    QList<Alert> m_alerts;
    std::deque<AlertButton> m_answers;
    bool m_alertOffMainThread = false;

private slots:
    void initTestCase() {
        // Loopback requests must not go through a proxy of the machine.
        for (const char* name :
             {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            qunsetenv(name);
        platform::setAlertResponder([this](const Alert& alert) {
            if (QThread::currentThread() != QCoreApplication::instance()->thread())
                m_alertOffMainThread = true;
            m_alerts.append(alert);
            if (m_answers.empty())
                return platform::AlertThirdButton;
            const AlertButton next = m_answers.front();
            m_answers.pop_front();
            return next;
        });
        Workspace::sharedWorkspace().setRecordsCalls(true);
    }

    void cleanupTestCase() {
        platform::setAlertResponder({});
        Workspace::sharedWorkspace().setRecordsCalls(false);
    }

    void init() {
        m_server = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->isListening());
        m_log = std::make_unique<testenv::LogRecorder>();
        m_alerts.clear();
        m_answers.clear();
        m_alertOffMainThread = false;
        Workspace::sharedWorkspace().clearRecordedCalls();
    }

    void cleanup() {
        // No check may outlive its test: it would answer into the next one.
        QTRY_COMPARE_WITH_TIMEOUT(QL_SoftwareUpdate::checksInProgress(), 0, 20000);
        QVERIFY(!m_alertOffMainThread);
        m_log.reset();
        m_server.reset();
        QDir(paneDir()).removeRecursively();
    }

    // One check per row, run as the menu extra and the pane run it: on its own thread.
    void check_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("serve");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<bool>("notify");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("expected");

        const QString newVersionAlert =
            "alert: informational | SOFTWARE_NEW_VERSION_TITLE | SOFTWARE_NEW_VERSION_TEXT 1.2 | "
            "SOFTWARE_NEW_VERSION_DOWNLOAD, SOFTWARE_NEW_VERSION_MORE_INFORMATION, "
            "SOFTWARE_NEW_VERSION_IGNORE";
        const QString upToDateAlert = "alert: informational | SOFTWARE_UP_TO_DATE_TITLE | "
                                      "SOFTWARE_UP_TO_DATE_TEXT | OK_BUTTON";
        const QString errorAlert =
            "alert: critical | ERROR_UPDATE_TITLE | ERROR_UPDATE_TEXT | OK_BUTTON";
        const QString newer = "log: Current Version: 1.100000, Latest Version: 1.2";
        const QString failed = "log: Current Version: 1.100000, Latest Version: (null)";
        const QByteArray feed = xml(standardFeed());

        QTest::newRow("newer, reporting, download")
            << feed << ""
            << "1.1.1" << true << 0
            << QStringList{newer, newVersionAlert, "openURL: " + downloadPage};
        QTest::newRow("newer, silent, more information")
            << feed << ""
            << "1.1.1" << false << 1
            << QStringList{newer, newVersionAlert, "openURL: " + productPage};
        QTest::newRow("newer, ignored")
            << feed << ""
            << "1.1.1" << true << 2 << QStringList{newer, newVersionAlert};
        QTest::newRow("equal, reporting")
            << feed << ""
            << "1.2" << true << 0
            << QStringList{"log: Current Version: 1.200000, Latest Version: 1.2", upToDateAlert};
        QTest::newRow("equal, silent")
            << feed << ""
            << "1.2" << false << 0
            << QStringList{"log: Current Version: 1.200000, Latest Version: 1.2"};
        QTest::newRow("lower, reporting")
            << feed << ""
            << "2.0" << true << 0
            << QStringList{"log: Current Version: 2.000000, Latest Version: 1.2", upToDateAlert};
        QTest::newRow("version as a real")
            << xml(feedWith("newVersionNumber", 1.25)) << ""
            << "1.2" << true << 2
            << QStringList{"log: Current Version: 1.200000, Latest Version: 1.25",
                           QString(newVersionAlert).replace("TEXT 1.2", "TEXT 1.25")};
        QTest::newRow("version as an integer")
            << xml(feedWith("newVersionNumber", qint64(2))) << ""
            << "1.1.1" << true << 2
            << QStringList{"log: Current Version: 1.100000, Latest Version: 2",
                           QString(newVersionAlert).replace("TEXT 1.2", "TEXT 2")};
        QTest::newRow("binary feed")
            << binary(standardFeed()) << ""
            << "1.1.1" << true << 0
            << QStringList{newer, newVersionAlert, "openURL: " + downloadPage};

        // A feed that lacks something, or is not a feed: the reporting check says so.
        QTest::newRow("no download address, reporting")
            << xml(feedWith("newDownloadURL", QVariant())) << ""
            << "1.1.1" << true << 0 << QStringList{newer, errorAlert};
        QTest::newRow("no download address, silent")
            << xml(feedWith("newDownloadURL", QVariant())) << ""
            << "1.1.1" << false << 0 << QStringList{newer};
        QTest::newRow("no version") << xml(feedWith("newVersionNumber", QVariant())) << ""
                                    << "1.1.1" << true << 0 << QStringList{failed, errorAlert};
        QTest::newRow("version neither text nor number")
            << xml(feedWith("newVersionNumber", true)) << ""
            << "1.1.1" << true << 0 << QStringList{failed, errorAlert};
        QTest::newRow("version without a number")
            << xml(feedWith("newVersionNumber", "soon")) << ""
            << "1.1.1" << true << 0
            << QStringList{"log: Current Version: 1.100000, Latest Version: soon", errorAlert};
        // Values too long to be a version or an address count as missing.
        QTest::newRow("version of 900 kB")
            << xml(feedWith("newVersionNumber", "1.2" + QString(900 * 1024, u'0'))) << ""
            << "1.1.1" << true << 0 << QStringList{failed, errorAlert};
        QTest::newRow("version of 1 kB")
            << xml(feedWith("newVersionNumber", "1.2" + QString(1021, u' '))) << ""
            << "1.1.1" << true << 2
            << QStringList{
                   newer + QString(1021, u' '),
                   QString(newVersionAlert).replace("TEXT 1.2", "TEXT 1.2" + QString(1021, u' '))};
        QTest::newRow("download address over 2 kB")
            << xml(feedWith("newDownloadURL", downloadPage + "?" + QString(2048, u'a'))) << ""
            << "1.1.1" << true << 0 << QStringList{newer, errorAlert};
        QTest::newRow("address not a text")
            << xml(feedWith("newDownloadURL", QVariantList{downloadPage})) << ""
            << "1.1.1" << true << 0 << QStringList{newer, errorAlert};
        QTest::newRow("not a property list")
            << QByteArray("<html>Not here</html>") << ""
            << "1.1.1" << true << 0 << QStringList{failed, errorAlert};
        QTest::newRow("root not a dictionary")
            << xml(QVariantList{"1.2", productPage, downloadPage}) << ""
            << "1.1.1" << true << 0 << QStringList{failed, errorAlert};

        // Addresses the desktop must not be handed.
        QTest::newRow("file download address")
            << xml(feedWith("newDownloadURL", "file:///etc/passwd")) << ""
            << "1.1.1" << true << 0
            << QStringList{newer, "log: refusing to open file:///etc/passwd", newVersionAlert};
        QTest::newRow("script download address")
            << xml(feedWith("newDownloadURL", "javascript:alert(1)")) << ""
            << "1.1.1" << true << 0
            << QStringList{newer, "log: refusing to open javascript:alert(1)", newVersionAlert};
        QTest::newRow("script product page")
            << xml(feedWith("newProductURL", "javascript:alert(1)")) << ""
            << "1.1.1" << false << 1
            << QStringList{newer, "log: refusing to open javascript:alert(1)", newVersionAlert};
        QTest::newRow("address without a host")
            << xml(feedWith("newDownloadURL", "https:relative")) << ""
            << "1.1.1" << true << 0
            << QStringList{newer, "log: refusing to open https:relative", newVersionAlert};
        QTest::newRow("the refused download leaves the product page openable")
            << xml(feedWith("newDownloadURL", "smb://host/share")) << ""
            << "1.1.1" << true << 1
            << QStringList{newer, newVersionAlert, "openURL: " + productPage};

        // The transfer: status, size, redirects, a slow server.
        QTest::newRow("status 404") << feed << "status 404"
                                    << "1.1.1" << true << 0 << QStringList{failed, errorAlert};
        QTest::newRow("just under 1 MiB")
            << padded(1024 * 1024 - 16) << ""
            << "1.1.1" << true << 2 << QStringList{newer, newVersionAlert};
        QTest::newRow("5 MiB, announced")
            << padded(5 * 1024 * 1024) << ""
            << "1.1.1" << true << 0 << QStringList{failed, errorAlert};
        QTest::newRow("5 MiB, unannounced")
            << padded(5 * 1024 * 1024) << "without length"
            << "1.1.1" << true << 0 << QStringList{failed, errorAlert};
        QTest::newRow("unannounced small feed")
            << feed << "without length"
            << "1.1.1" << true << 2 << QStringList{newer, newVersionAlert};
        QTest::newRow("three redirects")
            << feed << "redirects 3"
            << "1.1.1" << true << 2 << QStringList{newer, newVersionAlert};
        QTest::newRow("four redirects") << feed << "redirects 4"
                                        << "1.1.1" << true << 0 << QStringList{failed, errorAlert};
        QTest::newRow("redirect to a file")
            << feed << "redirect file"
            << "1.1.1" << true << 0 << QStringList{failed, errorAlert};
        QTest::newRow("slow answer within the time-out")
            << feed << "delay 1500"
            << "1.1.1" << true << 2 << QStringList{newer, newVersionAlert};
    }

    void check() {
        QFETCH(QByteArray, body);
        QFETCH(QString, serve);
        QFETCH(QString, installed);
        QFETCH(bool, notify);
        QFETCH(int, answer);
        QFETCH(QStringList, expected);

        TestHttpServer::Response response;
        response.body = body;
        QByteArray first = feedPath;
        const QStringList how = serve.split(' ');
        if (how.value(0) == "status") {
            response.status = how.value(1).toInt();
        } else if (how.value(0) == "without") {
            response.withoutLength = true;
        } else if (how.value(0) == "delay") {
            response.delayMs = how.value(1).toInt();
        } else if (serve == "redirect file") {
            first = "/moved";
            m_server->setResponse(first, TestHttpServer::redirect("file:///etc/passwd"));
        } else if (how.value(0) == "redirects") {
            // /hop1 -> /hop2 -> ... -> the feed
            const int hops = how.value(1).toInt();
            first = "/hop1";
            for (int i = 1; i <= hops; ++i) {
                const QByteArray next = i == hops ? m_server->url(feedPath).toLatin1()
                                                  : "/hop" + QByteArray::number(i + 1);
                m_server->setResponse("/hop" + QByteArray::number(i),
                                      TestHttpServer::redirect(next, i % 2 ? 302 : 301));
            }
        }
        m_server->setResponse(feedPath, response);
        installPane(installed, m_server->url(first));
        answerWith({AlertButton(answer)});

        QL_SoftwareUpdate().checkForUpdatesWithNotification(notify);
        QTRY_COMPARE_WITH_TIMEOUT(QL_SoftwareUpdate::checksInProgress(), 0, 20000);
        QCOMPARE(dump(), expected);

        // Every request of the check was a plain GET that asked caches for a fresh answer.
        const QList<TestHttpServer::Request> requests = m_server->requests();
        QVERIFY(!requests.isEmpty());
        for (const TestHttpServer::Request& r : requests) {
            QCOMPARE(r.method, QByteArray("GET"));
            QCOMPARE(r.headers.value("cache-control"), QByteArray("no-cache"));
        }
    }

    // A server that accepts and never answers: the reporting check gives up after five
    // seconds and says so; the silent one beside it stays silent.
    void serverThatNeverAnswers() {
        TestHttpServer::Response silence;
        silence.neverAnswer = true;
        m_server->setResponse(feedPath, silence);
        installPane("1.1.1");
        QElapsedTimer elapsed;
        elapsed.start();
        QL_SoftwareUpdate().checkForUpdatesWithNotification(false);
        QL_SoftwareUpdate().checkForUpdatesWithNotification(true);
        QTRY_COMPARE_WITH_TIMEOUT(QL_SoftwareUpdate::checksInProgress(), 0, 20000);
        QVERIFY2(elapsed.elapsed() >= 4900, qPrintable(QString::number(elapsed.elapsed())));
        const QString failed = "log: Current Version: 1.100000, Latest Version: (null)";
        QCOMPARE(dump(), (QStringList{failed, failed,
                                      "alert: critical | ERROR_UPDATE_TITLE | ERROR_UPDATE_TEXT "
                                      "| OK_BUTTON"}));
        QCOMPARE(m_server->requests().size(), 2);
    }

    // A start-up check and a button press at the same time: both requests are in flight
    // before either is answered, and each check gives its own answer.
    void twoChecksAtOnce_data() {
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QStringList>("expected");
        const QString newVersionAlert =
            "alert: informational | SOFTWARE_NEW_VERSION_TITLE | SOFTWARE_NEW_VERSION_TEXT 1.2 | "
            "SOFTWARE_NEW_VERSION_DOWNLOAD, SOFTWARE_NEW_VERSION_MORE_INFORMATION, "
            "SOFTWARE_NEW_VERSION_IGNORE";
        const QString log = "log: Current Version: %1, Latest Version: 1.2";
        QTest::newRow("both see the new version")
            << "1.1"
            << QStringList{log.arg("1.100000"), log.arg("1.100000"), newVersionAlert,
                           newVersionAlert};
        QTest::newRow("only the button press speaks")
            << "1.2"
            << QStringList{log.arg("1.200000"), log.arg("1.200000"),
                           "alert: informational | SOFTWARE_UP_TO_DATE_TITLE | "
                           "SOFTWARE_UP_TO_DATE_TEXT | OK_BUTTON"};
    }

    void twoChecksAtOnce() {
        QFETCH(QString, installed);
        QFETCH(QStringList, expected);
        TestHttpServer::Response feed;
        feed.body = xml(standardFeed());
        m_server->setResponse(feedPath, feed);
        installPane(installed);
        answerWith({platform::AlertFirstButton, platform::AlertSecondButton});
        m_server->holdAnswers();
        QL_SoftwareUpdate().checkForUpdatesWithNotification(false);
        QL_SoftwareUpdate().checkForUpdatesWithNotification(true);
        QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 2, 5000);
        QCOMPARE(QL_SoftwareUpdate::checksInProgress(), 2);
        m_server->releaseAnswers();
        QTRY_COMPARE_WITH_TIMEOUT(QL_SoftwareUpdate::checksInProgress(), 0, 20000);

        QStringList seen = dump();
        if (expected.size() == 4) {
            // Which check asked first is up to the threads; each opened its own choice.
            QStringList opened = seen.mid(4);
            QStringList both{"openURL: " + downloadPage, "openURL: " + productPage};
            opened.sort();
            both.sort();
            QCOMPARE(opened, both);
            seen = seen.mid(0, 4);
        }
        QCOMPARE(seen, expected);
    }

    // The caller goes on at once: nothing of the check has happened when the call
    // returns, and the checker object may be gone before the check ends.
    void callerIsNeverBlocked() {
        TestHttpServer::Response feed;
        feed.body = xml(standardFeed());
        m_server->setResponse(feedPath, feed);
        installPane("1.1.1");
        m_server->holdAnswers();

        auto checker = std::make_unique<QL_SoftwareUpdate>();
        checker->checkForUpdatesWithNotification(true);
        checker.reset();
        QCOMPARE(QL_SoftwareUpdate::checksInProgress(), 1);
        QVERIFY(m_alerts.isEmpty());

        QTRY_COMPARE_WITH_TIMEOUT(m_server->requests().size(), 1, 5000);
        QVERIFY(dump().isEmpty());
        m_server->releaseAnswers();
        QTRY_COMPARE_WITH_TIMEOUT(m_alerts.size(), 1, 5000);
        QCOMPARE(m_alerts.first().title, QStringLiteral("SOFTWARE_NEW_VERSION_TITLE"));
    }

    // The texts come from the installed pane's table, the version filled in.
    void alertTextsFromThePane() {
        TestHttpServer::Response feed;
        feed.body = xml(standardFeed());
        m_server->setResponse(feedPath, feed);
        installPane("1.0");
        const QString resources = paneDir() + "/Contents/Resources";
        QVERIFY(QDir(resources).removeRecursively());
        QVERIFY(QFile::link(QStringLiteral(QUILLO_BUILD_DIR "/Quillo.prefPane/Contents/Resources"),
                            resources));
        QL_SoftwareUpdate().checkForUpdatesWithNotification(false);
        QTRY_COMPARE_WITH_TIMEOUT(m_alerts.size(), 1, 10000);
        Alert alert = m_alerts.first();
        QVERIFY(!alert.title.isEmpty());
        QVERIFY2(alert.message.contains("1.2") && !alert.message.contains("%"),
                 qPrintable(alert.message));
        QCOMPARE(alert.buttons.size(), 3);
        for (const QString& b : alert.buttons)
            QVERIFY(!b.isEmpty());
        QCOMPARE(alert.buttons.removeDuplicates(), 0);
    }

    void installedVersionAndFeedAddress_data() {
        QTest::addColumn<bool>("pane");
        QTest::addColumn<QVariant>("version");
        QTest::addColumn<QVariant>("feed");
        QTest::addColumn<double>("expectedVersion");
        QTest::addColumn<QString>("expectedFeed");
        const QString standard = "https://www.orvane.com/quillo/quillo.plist";
        const QString other = "http://updates.example.net/feed.plist";
        QTest::newRow("no pane") << false << QVariant() << QVariant() << 0.0 << standard;
        QTest::newRow("three parts") << true << QVariant("1.1.1") << QVariant() << 1.1 << standard;
        QTest::newRow("whole number") << true << QVariant("2") << QVariant(other) << 2.0 << other;
        QTest::newRow("leading space, suffix")
            << true << QVariant(" 1.5b3") << QVariant() << 1.5 << standard;
        QTest::newRow("no number") << true << QVariant("beta") << QVariant() << 0.0 << standard;
        QTest::newRow("empty") << true << QVariant("") << QVariant("") << 0.0 << standard;
        QTest::newRow("integer") << true << QVariant(qint64(3)) << QVariant() << 3.0 << standard;
        QTest::newRow("real") << true << QVariant(1.25) << QVariant() << 1.25 << standard;
        QTest::newRow("no version, feed not a text")
            << true << QVariant() << QVariant(QVariantList{other}) << 0.0 << standard;
    }

    void installedVersionAndFeedAddress() {
        QFETCH(bool, pane);
        QFETCH(QVariant, version);
        QFETCH(QVariant, feed);
        QFETCH(double, expectedVersion);
        QFETCH(QString, expectedFeed);
        if (pane)
            installPane(version, feed);
        QCOMPARE(QL_SoftwareUpdate::installedVersion(), expectedVersion);
        QCOMPARE(QL_SoftwareUpdate::updateFeedURL().toString(), expectedFeed);
    }

    void fetchWithoutAnAddress() {
        QVERIFY(!QL_SoftwareUpdate::dataFromNSURLConnectionWithURL(QUrl()));
        QVERIFY(!QL_SoftwareUpdate::dictionaryFromNSURLConnectionWithURL(QUrl()));
        QVERIFY(!QL_SoftwareUpdate::dataFromNSURLConnectionWithURL(QUrl("file:///etc/hostname")));
        QVERIFY(m_server->requests().isEmpty());
    }
};

QUILLO_TEST_MAIN(TestUpdate)
#include "tst_update.moc"
