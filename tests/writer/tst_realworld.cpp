// Calendars as other programs write them (tests/data/realworld): each is read as its
// README says is right, and a complete or a reopen changes nothing but what it is
// about, byte for byte, line ends included.
#include "WriterTestSupport.h"
#include "common/TestEnv.h"

#include "menuextra/editor/QL_ToDoController.h"
#include "menuextra/store/QL_ToDo.h"
#include "platform/Alert.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QTest>

using namespace writertest;

namespace {

const QString realworld = QStringLiteral(QUILLO_TEST_DATA "/realworld/");

ToDos readFile(const QString& path) {
    ToDos out;
    const QString text = ql::normalizeLineEndings(QString::fromUtf8(fileBytes(path)));
    ql::appendToDos(text, {QStringLiteral("key"), QStringLiteral("Title"), std::nullopt}, out);
    return out;
}

// What the menu shows of a to-do.
QString shown(const QL_ToDo& t) {
    const std::optional<QDateTime> due = t.theDueDateAsDate();
    return QStringLiteral("%1 | due %2 | completed %3 | %4")
        .arg(t.theSummary().value_or(QStringLiteral("<no title>")),
             due ? due->date().toString(Qt::ISODate) : QStringLiteral("none"),
             t.theCompletedDate().value_or(QStringLiteral("none")),
             t.isComplete() ? QStringLiteral("done")
                            : (t.isExpired() ? QStringLiteral("overdue") : QStringLiteral("open")));
}

// The menu's toggle: a completed to-do is reopened, any other completed today.
void toggle(QL_ToDo& t) {
    if (!t.theCompletedDate()) {
        t.setStatus(QStringLiteral("COMPLETED"));
        t.setCompletedDate(QL_ToDoController::completionStamp());
    } else {
        t.setStatus(std::nullopt);
        t.setCompletedDate(std::nullopt);
    }
}

} // namespace

class TestRealWorld : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void initTestCase() {
        QVERIFY(m_dir.isValid());
        platform::setAlertResponder([](const platform::Alert& alert) {
            qWarning("unexpected alert: %s", qPrintable(alert.title));
            return platform::AlertFirstButton;
        });
        platform::Clock::setFixedNow(QDateTime(QDate(2007, 1, 12), QTime(9, 30)));
    }

    void reading_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("due with TZID and VALUE")
            << "read-due-with-tzid.ics"
            << QStringList{"Due with a time zone | due 2018-04-17 | completed none | open",
                           "Due with a time zone and VALUE | due 2016-01-02 | completed none | "
                           "open"};
        QTest::newRow("completed with VALUE")
            << "read-completed-with-value-parameter.ics"
            << QStringList{"Done in todoman | due none | completed 20250102T101500Z | done"};
        QTest::newRow("summary with LANGUAGE")
            << "write-summary-with-parameter.ics"
            << QStringList{u"Steuererklärung abgeben | due none | completed none | open"_qs};
        QTest::newRow("URL keeps its backslash-free commas")
            << "write-url-with-comma.ics"
            << QStringList{"Look at the map | due none | completed none | open"};
        QTest::newRow("leading blank line")
            << "write-leading-blank-line.ics"
            << QStringList{"Shown but never writable | due none | completed none | open"};
        // The clock stands in 2007; in 2026 both would be overdue.
        QTest::newRow("UTC due time is its local day")
            << "edit-title-only.ics"
            << QStringList{"Meeting prep | due 2025-01-10 | completed none | open",
                           "Done long ago | due none | completed 20200304T050607Z | done",
                           "Status in lower case | due none | completed none | open"};
    }

    void reading() {
        QFETCH(QString, file);
        QFETCH(QStringList, expected);
        QStringList got;
        for (const auto& toDo : readFile(realworld + file))
            got.append(shown(*toDo));
        QCOMPARE(got, expected);
        if (file == "write-url-with-comma.ics")
            QCOMPARE(readFile(realworld + file).front()->theURL(),
                     std::optional<QString>("https://maps.example.com/?q=52.52,13.40;z=12"));
    }

    // Each operation on a copy of the file gives the expected bytes; the to-do is the
    // first of the file, and "complete, reopen" toggles twice, the second from the file
    // the first wrote.
    void writing_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<int>("toggles");
        QTest::addColumn<QString>("expected");
        QTest::newRow("summary with LANGUAGE keeps its title")
            << "write-summary-with-parameter.ics" << 1
            << "write-summary-with-parameter.complete.ics";
        QTest::newRow("URL gets no backslashes")
            << "write-url-with-comma.ics" << 1 << "write-url-with-comma.complete.ics";
        QTest::newRow("no summary is added")
            << "write-no-summary.ics" << 1 << "write-no-summary.complete.ics";
        QTest::newRow("leading blank line is written")
            << "write-leading-blank-line.ics" << 1 << "write-leading-blank-line.complete.ics";
        QTest::newRow("LF line ends stay LF")
            << "write-lf-line-ends.ics" << 1 << "write-lf-line-ends.complete.ics";
        QTest::newRow("completing stamps and finishes")
            << "write-stale-stamps-and-percent.ics" << 1
            << "write-stale-stamps-and-percent.complete.ics";
        QTest::newRow("reopening stamps and starts again")
            << "write-stale-stamps-and-percent.ics" << 2
            << "write-stale-stamps-and-percent.reopen.ics";
        QTest::newRow("completed with VALUE is reopened, not completed again")
            << "read-completed-with-value-parameter.ics" << 1
            << "read-completed-with-value-parameter.toggle.ics";
        QTest::newRow("zoned due dates stay")
            << "read-due-with-tzid.ics" << 1 << "read-due-with-tzid.complete.ics";
    }

    void writing() {
        QFETCH(QString, file);
        QFETCH(int, toggles);
        QFETCH(QString, expected);
        const QString path = m_dir.filePath(file);
        QVERIFY(putFile(path, fileBytes(realworld + file)));
        for (int i = 0; i < toggles; ++i) {
            const ToDos toDos = readFile(path);
            QVERIFY(!toDos.empty());
            const std::shared_ptr<QL_ToDo> changed = toDos.front()->copyToDo();
            toggle(*changed);
            QVERIFY(changed->writeToCalendar(path, QLWriteActionReplace));
        }
        QCOMPARE(QString::fromUtf8(fileBytes(path)),
                 QString::fromUtf8(fileBytes(realworld + "expected/" + expected)));
    }
};

QUILLO_TEST_MAIN_CORE(TestRealWorld)
#include "tst_realworld.moc"
