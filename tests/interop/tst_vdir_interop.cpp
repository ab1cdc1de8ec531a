// Folder calendars with the real programs of the field: todoman working on the same
// folder, and vdirsyncer syncing it with a CalDAV server on the loopback interface.
// Each program is started by the test; a missing one skips its test with the package
// to install.
#include "common/TestEnv.h"

#include "menuextra/QLMenuExtra.h"
#include "menuextra/editor/QL_ToDoController.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "platform/Alert.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

namespace {

const QString storeTool = QStringLiteral(QUILLO_STORE_TOOL);

using Run = testenv::ProgramRun;

Run run(const QString& program, const QStringList& args, const QByteArray& input = {}) {
    return testenv::runProgram(program, args, input);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// The calendar as the menu reads it, fresh from the store.
std::shared_ptr<QL_Calendar> calendarTitled(QLMenuExtra& menuExtra, const QString& title) {
    if (!menuExtra.loadiCalCalendars() || !menuExtra.theCalendars() ||
        !menuExtra.theCalendars()->count(title))
        return nullptr;
    std::shared_ptr<QL_Calendar> calendar = menuExtra.theCalendars()->at(title);
    return calendar->parseForToDos() ? calendar : nullptr;
}

std::shared_ptr<QL_ToDo> toDoTitled(const QL_Calendar& calendar, const QString& summary) {
    for (const auto& toDo : calendar.arrayOfToDos())
        if (toDo->theSummary() == summary)
            return toDo->copyToDo();
    return nullptr;
}

// As the menu and the editor write: back to the to-do's own file, or a new one.
bool write(const QL_ToDo& toDo, int action) {
    const QString key = toDo.theCalendarID().value_or(QString());
    return toDo.writeToCalendar(action == QLWriteActionAdd
                                    ? ql::calendarAddPath(key)
                                    : ql::toDoWritePath(toDo.theSourceFile(), key),
                                action);
}

bool complete(const QL_ToDo& read) {
    const std::shared_ptr<QL_ToDo> done = read.copyToDo();
    done->setStatus(QStringLiteral("COMPLETED"));
    done->setCompletedDate(QL_ToDoController::completionStamp());
    return write(*done, QLWriteActionReplace);
}

QL_ToDo newToDo(const QL_Calendar& calendar, const QString& summary) {
    return QL_ToDo(GetUUID(), summary, QL_ToDoController::newDateStamp(), std::nullopt,
                   std::nullopt, 0.0, calendar.sourceKey(), calendar.title(), std::nullopt,
                   std::nullopt);
}

// Every item file of the folder holds one calendar with one UID: what a CalDAV server
// takes as a calendar object resource.
void checkOneUidPerFile(const QString& folder) {
    for (const QFileInfo& item : QDir(folder).entryInfoList({"*.ics"}, QDir::Files)) {
        QFile f(item.filePath());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QVERIFY2(bytes.count("\nUID:") == 1, qPrintable(item.fileName()));
        QVERIFY2(bytes.count("BEGIN:VTODO") == 1, qPrintable(item.fileName()));
    }
}

QString program(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

quint16 freePort() {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

} // namespace

class TestVdirInterop : public QObject {
    Q_OBJECT

    QProcess m_server;

    // A todoman list: summary to completed.
    QMap<QString, bool> todomanList() {
        const Run listed = run(program("todoman"), {"--porcelain", "list", "--status", "ANY"});
        QMap<QString, bool> out;
        for (const QJsonValue& v : QJsonDocument::fromJson(listed.out.toUtf8()).array())
            out.insert(v.toObject().value("summary").toString(),
                       v.toObject().value("completed").toBool());
        return out;
    }

    int todomanId(const QString& summary) {
        const Run listed = run(program("todoman"), {"--porcelain", "list", "--status", "ANY"});
        for (const QJsonValue& v : QJsonDocument::fromJson(listed.out.toUtf8()).array())
            if (v.toObject().value("summary").toString() == summary)
                return v.toObject().value("id").toInt();
        return -1;
    }

private slots:
    void initTestCase() {
        platform::setAlertResponder([](const platform::Alert& alert) {
            qWarning("alert: %s", qPrintable(alert.title));
            return platform::AlertFirstButton;
        });
    }

    void cleanupTestCase() {
        if (m_server.state() != QProcess::NotRunning) {
            m_server.terminate();
            if (!m_server.waitForFinished(5000))
                m_server.kill();
        }
    }

    // todoman and Quillo on one folder: each sees what the other did, and todoman keeps
    // working on every file Quillo wrote.
    void todomanAndQuilloShareAFolder() {
        if (program("todoman").isEmpty())
            QSKIP("todoman is not installed (apt-get install todoman)");
        const QString folder = testenv::home() + "/calendars/personal";
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(writeFile(testenv::configHome() + "/todoman/config.py",
                          QStringLiteral("path = \"%1/calendars/*\"\ndate_format = \"%Y-%m-%d\"\n"
                                         "time_format = \"%H:%M\"\ndefault_list = \"personal\"\n")
                              .arg(testenv::home())
                              .toUtf8()));
        for (const char* summary : {"Buy milk", "Call bank", "Water plants"})
            QCOMPARE(run(program("todoman"), {"new", "-l", "personal", summary}).code, 0);
        QCOMPARE(run(storeTool, {"add", folder}).code, 0);

        QLMenuExtra menuExtra;
        std::shared_ptr<QL_Calendar> calendar = calendarTitled(menuExtra, "personal");
        QVERIFY(calendar);
        QCOMPARE(calendar->arrayOfToDos().size(), size_t(3));

        // Complete, edit, remove and add from Quillo.
        QVERIFY(complete(*toDoTitled(*calendar, "Buy milk")));
        const std::shared_ptr<QL_ToDo> edited = toDoTitled(*calendar, "Call bank");
        edited->setSummary(QStringLiteral("Call the bank"));
        edited->setSequence(edited->theSequence().value_or(0) + 1);
        QVERIFY(write(*edited, QLWriteActionReplace));
        QVERIFY(write(*toDoTitled(*calendar, "Water plants"), QLWriteActionRemove));
        QVERIFY(write(newToDo(*calendar, "Added in Quillo"), QLWriteActionAdd));
        checkOneUidPerFile(folder);
        QCOMPARE(QDir(folder).entryList({"*.ics"}, QDir::Files).size(), 3);

        QCOMPARE(todomanList(),
                 (QMap<QString, bool>{
                     {"Buy milk", true}, {"Call the bank", false}, {"Added in Quillo", false}}));
        // todoman works on the file Quillo made, and Quillo reads what it wrote there.
        const int id = todomanId("Added in Quillo");
        QVERIFY(id > 0);
        QCOMPARE(run(program("todoman"), {"done", QString::number(id)}).code, 0);
        calendar = calendarTitled(menuExtra, "personal");
        QVERIFY(calendar);
        QVERIFY(toDoTitled(*calendar, "Added in Quillo")->isComplete());
        // ...and the other way round once more, on a file todoman rewrote.
        const std::shared_ptr<QL_ToDo> reopened = toDoTitled(*calendar, "Added in Quillo");
        reopened->setStatus(std::nullopt);
        reopened->setCompletedDate(std::nullopt);
        QVERIFY(write(*reopened, QLWriteActionReplace));
        QCOMPARE(todomanList().value("Added in Quillo", true), false);
        checkOneUidPerFile(folder);
    }

    // vdirsyncer syncs the folder with a CalDAV server: what Quillo does reaches the
    // server, what the server gets reaches Quillo's menu, and no sync fails or uploads
    // anything but the to-dos.
    void syncsWithACalDavServer() {
        if (program("radicale").isEmpty() || program("vdirsyncer").isEmpty() ||
            program("curl").isEmpty())
            QSKIP("radicale, vdirsyncer or curl is not installed (apt-get install radicale "
                  "vdirsyncer curl)");
        const QString home = testenv::home();
        const quint16 port = freePort();
        const QString base = QStringLiteral("http://127.0.0.1:%1/test/tasks/").arg(port);
        m_server.start(program("radicale"),
                       {"--server-hosts", QStringLiteral("127.0.0.1:%1").arg(port),
                        "--storage-filesystem-folder", home + "/radicale", "--auth-type", "none",
                        "--rights-type", "authenticated"});
        QVERIFY(m_server.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QTcpSocket socket;
                socket.connectToHost(QHostAddress::LocalHost, port);
                return socket.waitForConnected(200);
            }(),
            20000);
        auto curl = [&](const QStringList& args, const QByteArray& body = {}) {
            return run(program("curl"), QStringList{"-s", "-u", "test:x"} + args, body);
        };
        const Run made = curl(
            {"-o", "/dev/null", "-w", "%{http_code}", "-X", "MKCALENDAR", "-H",
             "Content-Type: application/xml", "--data",
             "<?xml version=\"1.0\"?><C:mkcalendar xmlns:D=\"DAV:\" "
             "xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:set><D:prop><C:supported-calendar-"
             "component-set><C:comp name=\"VTODO\"/></C:supported-calendar-component-set></D:prop>"
             "</D:set></C:mkcalendar>",
             base});
        QCOMPARE(made.out, QStringLiteral("201"));
        auto put = [&](const QString& uid, const QString& summary) {
            return curl({"-o", "/dev/null", "-w", "%{http_code}", "-X", "PUT", "-H",
                         "Content-Type: text/calendar", "--data-binary", "@-", base + uid + ".ics"},
                        QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Server//EN\r\n"
                                       "BEGIN:VTODO\r\nUID:%1\r\nDTSTAMP:20250101T000000Z\r\n"
                                       "SUMMARY:%2\r\nEND:VTODO\r\nEND:VCALENDAR\r\n")
                            .arg(uid, summary)
                            .toUtf8())
                .out;
        };
        // What the server holds: its items (hrefs below the collection) and their text.
        auto serverItems = [&] {
            const Run found = curl({"-X", "PROPFIND", "-H", "Depth: 1", base});
            static const QRegularExpression href(QStringLiteral("<[A-Za-z]*:?href>([^<]+)<"));
            int items = 0;
            for (auto it = href.globalMatch(found.out); it.hasNext();)
                if (it.next().captured(1).endsWith(".ics"))
                    ++items;
            return items;
        };
        auto serverText = [&] { return curl({base}).out; };

        const QString folder = home + "/sync/tasks";
        QVERIFY(QDir().mkpath(folder));
        const QString config = home + "/vdirsyncer.conf";
        QVERIFY(writeFile(config, QStringLiteral("[general]\nstatus_path = \"%1/status/\"\n\n"
                                                 "[pair tasks]\na = \"local\"\nb = \"remote\"\n"
                                                 "collections = null\n\n"
                                                 "[storage local]\ntype = \"filesystem\"\n"
                                                 "path = \"%2/\"\nfileext = \".ics\"\n\n"
                                                 "[storage remote]\ntype = \"caldav\"\n"
                                                 "url = \"%3\"\nusername = \"test\"\n"
                                                 "password = \"x\"\n")
                                      .arg(home, folder, base)
                                      .toUtf8()));
        qputenv("VDIRSYNCER_CONFIG", QFile::encodeName(config));
        auto sync = [&] {
            const Run synced = run(program("vdirsyncer"), {"sync"});
            if (synced.code != 0)
                qWarning("vdirsyncer: %s %s", qPrintable(synced.out), qPrintable(synced.err));
            return synced.code;
        };
        QCOMPARE(run(program("vdirsyncer"), {"discover"}).code, 0);

        QCOMPARE(put("srv-1", "From the server"), QStringLiteral("201"));
        QCOMPARE(sync(), 0);
        QCOMPARE(run(storeTool, {"add", folder, "--title", "Synced"}).code, 0);
        QLMenuExtra menuExtra;
        std::shared_ptr<QL_Calendar> calendar = calendarTitled(menuExtra, "Synced");
        QVERIFY(calendar);
        QVERIFY(toDoTitled(*calendar, "From the server"));

        // Added, completed and removed in Quillo: on the server after a sync.
        QVERIFY(write(newToDo(*calendar, "Added in Quillo"), QLWriteActionAdd));
        QVERIFY(complete(*toDoTitled(*calendar, "From the server")));
        QCOMPARE(sync(), 0);
        QCOMPARE(serverItems(), 2);
        QVERIFY(serverText().contains("SUMMARY:Added in Quillo"));
        QVERIFY(serverText().contains("STATUS:COMPLETED"));

        calendar = calendarTitled(menuExtra, "Synced");
        QVERIFY(calendar);
        QVERIFY(write(*toDoTitled(*calendar, "Added in Quillo"), QLWriteActionRemove));
        QCOMPARE(sync(), 0);
        QCOMPARE(serverItems(), 1);
        QVERIFY(!serverText().contains("Added in Quillo"));

        // Added on the server: in Quillo's menu after a sync.
        QCOMPARE(put("srv-2", "Second from the server"), QStringLiteral("201"));
        QCOMPARE(sync(), 0);
        menuExtra.refreshMenu();
        QVERIFY(platform::dumpMenu(menuExtra.theMenu()).contains("Second from the server"));
        QCOMPARE(sync(), 0); // nothing left to do, nothing fails
        QCOMPARE(serverItems(), 2);
        checkOneUidPerFile(folder);
    }
};

QUILLO_TEST_MAIN(TestVdirInterop)
#include "tst_vdir_interop.moc"
