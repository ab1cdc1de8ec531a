// The to-do editor on the offscreen platform: what the window shows, what OK writes
// (always checked by reading the calendar file back), moves, failures, the calendar
// list and the life of the windows.
#include "EditorTestSupport.h"
#include "common/TestEnv.h"

#include "menuextra/editor/QL_ToDoController.h"
#include "platform/Alert.h"
#include "platform/Clock.h"
#include "platform/Workspace.h"
#include "shared/QL_PanePath.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QTest>
#include <QTimeZone>

using namespace editortest;

namespace {

const QDateTime fixedNow(QDate(2026, 12, 7), QTime(15, 30), QTimeZone::systemTimeZone());

QString text(const QL_ToDo::Text& value) {
    return value ? *value : QStringLiteral("<absent>");
}

// The state the fields that OK decides on, as one line.
QString savedState(const QL_ToDo& t) {
    return QStringLiteral("priority=%1 status=%2 completed=%3")
        .arg(t.thePriority() ? QString::number(*t.thePriority()) : QStringLiteral("<absent>"),
             text(t.theStatus()), text(t.theCompletedDate()));
}

// The lines of the component with this UID in a calendar file.
QStringList componentLines(const QString& sourceKey, const QString& uid) {
    const QString file = QString::fromUtf8(fileBytes(dataPath(sourceKey)));
    for (const QString& part : file.split(QStringLiteral("BEGIN:VTODO\r\n"))) {
        const qsizetype end = part.indexOf(QStringLiteral("END:VTODO"));
        if (end < 0 || !part.contains(QStringLiteral("UID:") + uid + QStringLiteral("\r\n")))
            continue;
        return (QStringLiteral("BEGIN:VTODO\r\n") + part.first(end + 9))
            .split(QStringLiteral("\r\n"));
    }
    return {};
}

QStringList listItems(const QComboBox* list) {
    QStringList items;
    const auto* model = qobject_cast<const QStandardItemModel*>(list->model());
    for (int i = 0; i < list->count(); ++i)
        items.append(list->itemText(i) +
                     (model->item(i)->isEnabled() ? QString() : QStringLiteral(" (disabled)")));
    return items;
}

const QString homeKey = QStringLiteral("home");
const QString workKey = QStringLiteral("work");

} // namespace

class TestEditor : public QObject {
    Q_OBJECT

    QList<platform::Alert> m_alerts;

    // Home holds one to-do "t-1" made of the base lines and these; Work is empty.
    void storeWith(const QStringList& extra) {
        QStringList lines{"UID:t-1", "DTSTAMP:20261101T100000Z", "SEQUENCE:1", "SUMMARY:Task"};
        lines += extra;
        QVERIFY(writeStore({{homeKey, QStringLiteral("Home"), {vtodo(lines)}},
                            {workKey, QStringLiteral("Work"), {}}}));
    }

    QL_ToDoController* openHomeToDo() {
        std::shared_ptr<QL_ToDo> toDo = readToDo(homeKey, QStringLiteral("Home"), "t-1");
        return toDo ? QL_ToDoController::initWithToDo(toDo) : nullptr;
    }

    std::shared_ptr<QL_ToDo> readBack(const QString& key = homeKey,
                                      const QString& title = QStringLiteral("Home")) {
        return readToDo(key, title, "t-1");
    }

    static QList<QDialog*> openWindows() {
        QList<QDialog*> windows;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(w); dialog && dialog->isVisible())
                windows.append(dialog);
        return windows;
    }

private slots:
    void initTestCase() {
        QVERIFY(linkPane());
        QVERIFY(!QL_LocalizedString("NEW_TO_DO_LABEL").isEmpty());
        platform::setAlertResponder([this](const platform::Alert& alert) {
            m_alerts.append(alert);
            return platform::AlertFirstButton;
        });
    }

    void init() {
        platform::Clock::setFixedNow(fixedNow);
        QL_Preferences::sharedPreferences().setHideSubscribedCalendars(false);
        m_alerts.clear();
    }

    void cleanup() {
        for (QDialog* window : openWindows())
            window->close();
        QTRY_VERIFY(openWindows().isEmpty());
        platform::Workspace::sharedWorkspace().setRecordsCalls(false);
        platform::Workspace::sharedWorkspace().clearRecordedCalls();
    }

    void prioritiesAndStatuses_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("priorityIndex");
        QTest::addColumn<int>("statusIndex");
        QTest::addColumn<QString>("saved");
        const QString none = "priority=<absent> status=<absent> completed=<absent>";
        // A value the lists do not hold is shown as it is, and kept while untouched.
        QTest::newRow("priority 3 is shown and kept")
            << QStringList{"PRIORITY:3"} << 5 << -1
            << "priority=3 status=<absent> completed=<absent>";
        QTest::newRow("priority 5 stays") << QStringList{"PRIORITY:5"} << 3 << -1
                                          << "priority=5 status=<absent> completed=<absent>";
        QTest::newRow("priority 7 is shown and kept")
            << QStringList{"PRIORITY:7"} << 5 << -1
            << "priority=7 status=<absent> completed=<absent>";
        QTest::newRow("priority 0 is none, and kept")
            << QStringList{"PRIORITY:0"} << 0 << -1
            << "priority=0 status=<absent> completed=<absent>";
        QTest::newRow("priority 12 is shown and kept")
            << QStringList{"PRIORITY:12"} << 5 << -1
            << "priority=12 status=<absent> completed=<absent>";
        QTest::newRow("COMPLETED without a date keeps having none")
            << QStringList{"STATUS:COMPLETED"} << 0 << 2
            << "priority=<absent> status=COMPLETED completed=<absent>";
        QTest::newRow("a completed date shows completed, and both stay")
            << QStringList{"STATUS:NEEDS-ACTION", "COMPLETED:20261101T000000Z"} << 0 << 2
            << "priority=<absent> status=NEEDS-ACTION completed=20261101T000000Z";
        QTest::newRow("status names ignore letter case, and keep it")
            << QStringList{"STATUS:needs-action"} << 0 << 6
            << "priority=<absent> status=needs-action completed=<absent>";
        QTest::newRow("an unknown status is shown and kept")
            << QStringList{"STATUS:IN-PROGRESS"} << 0 << 7
            << "priority=<absent> status=IN-PROGRESS completed=<absent>";
        QTest::newRow("CANCELLED") << QStringList{"STATUS:CANCELLED"} << 0 << 4
                                   << "priority=<absent> status=CANCELLED completed=<absent>";
        QTest::newRow("IN-PROCESS") << QStringList{"STATUS:IN-PROCESS"} << 0 << 5
                                    << "priority=<absent> status=IN-PROCESS completed=<absent>";
        QTest::newRow("no status selects nothing and keeps nothing")
            << QStringList{} << 0 << -1 << none;
    }

    void prioritiesAndStatuses() {
        QFETCH(QStringList, lines);
        QFETCH(int, priorityIndex);
        QFETCH(int, statusIndex);
        QFETCH(QString, saved);
        storeWith(lines);
        QL_ToDoController* c = openHomeToDo();
        QVERIFY(c);
        QCOMPARE(c->priorityPopup()->currentIndex(), priorityIndex);
        QCOMPARE(c->statusPopup()->currentIndex(), statusIndex);
        // The shown entry names the stored value.
        if (priorityIndex == 5)
            QCOMPARE(c->priorityPopup()->currentText(), lines.first().mid(9));
        if (statusIndex == 7)
            QCOMPARE(c->statusPopup()->currentText(), lines.first().mid(7));
        QPointer<QDialog> window = c->theWindow();
        QTest::mouseClick(c->okButton(), Qt::LeftButton);
        QTRY_VERIFY(window.isNull());
        const auto back = readBack();
        QVERIFY(back);
        QCOMPARE(savedState(*back), saved);
        QCOMPARE(back->theSequence(), std::optional<double>(2.0));
        QVERIFY(m_alerts.isEmpty());
    }

    // OK without a change: only the sequence and the revision stamps move; every other
    // line stays where it was.
    void okWithoutChangesOnToDoCompletedLastWeek() {
        QVERIFY(
            writeStore({{homeKey,
                         QStringLiteral("Home"),
                         {vtodo({"UID:t-1", "DTSTAMP:20261101T100000Z", "SEQUENCE:4",
                                 "SUMMARY:Task", "DTSTART;VALUE=DATE:20261101", "STATUS:COMPLETED",
                                 "COMPLETED:20261130T000000Z", "CATEGORIES:Home", "PRIORITY:1",
                                 "DUE;VALUE=DATE:20261201", "DESCRIPTION:Two\\nlines\\, really",
                                 "URL;VALUE=URI:http://example.org/", "BEGIN:VALARM",
                                 "ACTION:DISPLAY", "TRIGGER:-PT15M", "END:VALARM"})}}}));
        QL_ToDoController* c = openHomeToDo();
        QVERIFY(c);
        QCOMPARE(c->notesField()->toPlainText(), QStringLiteral("Two\nlines, really"));
        c->OKButtonPressed();
        const QStringList expected{"BEGIN:VTODO",
                                   "UID:t-1",
                                   "DTSTAMP:20261207T143000Z",
                                   "LAST-MODIFIED:20261207T143000Z",
                                   "SEQUENCE:5",
                                   "SUMMARY:Task",
                                   "DTSTART;VALUE=DATE:20261101",
                                   "STATUS:COMPLETED",
                                   "COMPLETED:20261130T000000Z",
                                   "CATEGORIES:Home",
                                   "PRIORITY:1",
                                   "DUE;VALUE=DATE:20261201",
                                   "DESCRIPTION:Two\\nlines\\, really",
                                   "URL;VALUE=URI:http://example.org/",
                                   "BEGIN:VALARM",
                                   "ACTION:DISPLAY",
                                   "TRIGGER:-PT15M",
                                   "END:VALARM",
                                   "END:VTODO"};
        QCOMPARE(componentLines(homeKey, "t-1"), expected);
    }

    // A calendar another program wrote: a title-only edit changes the title and the
    // revision lines, nothing else (a due time, priorities 2 and 7, an empty note, a
    // long-done completion, a status in lower case all stay).
    void titleOnlyEditChangesOnlyTheTitle() {
        QVERIFY(writeStore({{homeKey, QStringLiteral("Home"), {}}}));
        const QByteArray original = fileBytes(QUILLO_TEST_DATA "/realworld/edit-title-only.ics");
        QVERIFY(storetest::writeFile(dataPath(homeKey), original));
        for (const char* uid :
             {"editor-1@example.com", "editor-2@example.com", "editor-3@example.com"}) {
            QL_ToDoController* c =
                QL_ToDoController::initWithToDo(readToDo(homeKey, QStringLiteral("Home"), uid));
            QVERIFY(c);
            c->summaryField()->setText(c->summaryField()->text() + " (edited)");
            c->OKButtonPressed();
            QVERIFY(m_alerts.isEmpty());
        }
        const QString stamp = QL_ToDoController::newDateStamp();
        QString expected = QString::fromUtf8(original);
        for (const char* title : {"Meeting prep", "Done long ago", "Status in lower case"})
            expected.replace(QStringLiteral("SUMMARY:%1\r\n").arg(title),
                             QStringLiteral("SUMMARY:%1 (edited)\r\n").arg(title));
        expected.replace(QStringLiteral("@example.com\r\nDTSTAMP:20250101T000000Z\r\n"),
                         QStringLiteral("@example.com\r\nSEQUENCE:1\r\nDTSTAMP:%1\r\n"
                                        "LAST-MODIFIED:%1\r\n")
                             .arg(stamp));
        QCOMPARE(QString::fromUtf8(fileBytes(dataPath(homeKey))), expected);
    }

    void typedText_data() {
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("notes");
        QTest::addColumn<QString>("savedSummary");
        QTest::addColumn<QString>("savedURL");
        QTest::addColumn<QString>("savedNotes");
        QTest::newRow("backslashes, commas and semicolons are kept")
            << "C:\\new, a;b \\, c\\\\d"
            << "http://example.org/a,b;c\\d"
            << "Path C:\\new\\table; list a,b \\n"
            << "C:\\new, a;b \\, c\\\\d"
            << "http://example.org/a,b;c\\d"
            << "Path C:\\new\\table; list a,b \\n";
        QTest::newRow("line breaks and emoji") << "Call 😀 mum"
                                               << ""
                                               << "first\nsecond\n\nthird 🎉\u00a0end"
                                               << "Call 😀 mum"
                                               << "<absent>"
                                               << "first\rsecond\r\rthird 🎉\u00a0end";
        QTest::newRow("a long summary is folded and comes back whole")
            << QString("word, ").repeated(30) << ""
            << "" << QString("word, ").repeated(30) << "<absent>"
            << "<absent>";
        QTest::newRow("an empty summary is the new-to-do label")
            << ""
            << ""
            << "" << QL_LocalizedString("NEW_TO_DO_LABEL") << "<absent>"
            << "<absent>";
        QTest::newRow("a URL of spaces is an empty text") << "Task"
                                                          << "   "
                                                          << ""
                                                          << "Task"
                                                          << ""
                                                          << "<absent>";
        QTest::newRow("spaces and tabs around a URL go") << "Task"
                                                         << " \thttp://example.org/a b\t "
                                                         << ""
                                                         << "Task"
                                                         << "http://example.org/a b"
                                                         << "<absent>";
    }

    void typedText() {
        QFETCH(QString, summary);
        QFETCH(QString, url);
        QFETCH(QString, notes);
        QFETCH(QString, savedSummary);
        QFETCH(QString, savedURL);
        QFETCH(QString, savedNotes);
        storeWith({"DESCRIPTION:old notes", "URL;VALUE=URI:http://old.example/"});
        QL_ToDoController* c = openHomeToDo();
        QVERIFY(c);
        c->summaryField()->setText(summary);
        c->urlField()->setText(url);
        c->notesField()->setPlainText(notes);
        c->OKButtonPressed();
        auto back = readBack();
        QVERIFY(back);
        QCOMPARE(text(back->theSummary()), savedSummary);
        QCOMPARE(text(back->theURL()), savedURL);
        QCOMPARE(text(back->theDescription()), savedNotes);

        // Opened again, the window shows what was typed.
        if (summary.isEmpty() || url.trimmed() != url)
            return;
        c = QL_ToDoController::initWithToDo(back);
        QCOMPARE(c->summaryField()->text(), summary);
        QCOMPARE(c->urlField()->text(), url);
        QCOMPARE(c->notesField()->document()->toRawText().replace(QChar::ParagraphSeparator, '\n'),
                 notes);
        // Saving it once more changes nothing but the sequence.
        c->OKButtonPressed();
        auto again = readBack();
        QVERIFY(again);
        back->setSequence(3.0);
        again->setRawData(back->theRawData());
        QCOMPARE(again->description(), back->description());
    }

    void dueDate_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("saved");
        QTest::newRow("kept") << QStringList{"DUE;VALUE=DATE:20261224"} << ""
                              << "20261224";
        QTest::newRow("unchecked removes it") << QStringList{"DUE;VALUE=DATE:20261224"} << "uncheck"
                                              << "<absent>";
        QTest::newRow("checked without a date saves today") << QStringList{} << "check"
                                                            << "20261207";
        QTest::newRow("a new date") << QStringList{"DUE;VALUE=DATE:20261224"} << "20270103"
                                    << "20270103";
        QTest::newRow("none stays none") << QStringList{} << ""
                                         << "<absent>";
    }

    void dueDate() {
        QFETCH(QStringList, lines);
        QFETCH(QString, change);
        QFETCH(QString, saved);
        storeWith(lines);
        QL_ToDoController* c = openHomeToDo();
        QVERIFY(c);
        const bool had = !lines.isEmpty();
        QCOMPARE(c->dueDateCheckbox()->isChecked(), had);
        QCOMPARE(c->dueDateDateField()->isEnabled(), had);
        QCOMPARE(c->dueDateDateField()->date(), had ? QDate(2026, 12, 24) : QDate(2026, 12, 7));
        if (change == "uncheck" || change == "check") {
            QTest::mouseClick(c->dueDateCheckbox(), Qt::LeftButton, {},
                              QPoint(4, c->dueDateCheckbox()->height() / 2));
            QCOMPARE(c->dueDateCheckbox()->isChecked(), change == "check");
            QCOMPARE(c->dueDateDateField()->isEnabled(), change == "check");
        } else if (!change.isEmpty()) {
            c->dueDateDateField()->setDate(QDate::fromString(change, u"yyyyMMdd"));
        }
        c->OKButtonPressed();
        auto back = readBack();
        QVERIFY(back);
        QCOMPARE(text(back->theDueDate()), saved);
    }

    void alarmMarkAndCreationLine_data() {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<bool>("mark");
        QTest::addColumn<QString>("line");
        const QString created = QL_LocalizedString("CREATED_ON_LABEL") + ' ' +
                                QLocale().toString(QDate(2026, 11, 2), QLocale::ShortFormat);
        QTest::newRow("alarm") << QStringList{"DTSTART;VALUE=DATE:20261102", "BEGIN:VALARM",
                                              "ACTION:DISPLAY", "TRIGGER:-PT5M", "END:VALARM"}
                               << true << created;
        QTest::newRow("no alarm") << QStringList{"DTSTART;TZID=Europe/Berlin:20261102T000000"}
                                  << false << created;
        QTest::newRow("no start date") << QStringList{} << false << "";
    }

    void alarmMarkAndCreationLine() {
        QFETCH(QStringList, lines);
        QFETCH(bool, mark);
        QFETCH(QString, line);
        storeWith(lines);
        QL_ToDoController* c = openHomeToDo();
        QVERIFY(c);
        QCOMPARE(c->valarmFlag()->isVisible(), mark);
        QCOMPARE(c->statusField()->geometry(), QRect(mark ? 40 : 20, 22, 131, 14));
        if (mark)
            QCOMPARE(c->valarmFlag()->toolTip(), QL_LocalizedString("VALARM_TOOLTIP"));
        QCOMPARE(c->statusField()->text(), line);
        QCOMPARE(c->theWindow()->windowTitle(), QL_LocalizedString("EDIT_TO_DO_TITLE"));
        QVERIFY(!c->theWindow()->windowTitle().isEmpty());
    }

    void newToDo() {
        // "Alpha" comes first but is a subscription, so Home is the default calendar.
        QVERIFY(writeStore({{"alpha", QStringLiteral("Alpha"), {}, subscribedType},
                            {homeKey, QStringLiteral("Home"), {}},
                            {workKey, QStringLiteral("Work"), {}}}));
        QL_ToDoController* c = QL_ToDoController::initWithNewToDo();
        QVERIFY(c);
        QCOMPARE(c->theWindow()->windowTitle(), QL_LocalizedString("NEW_TO_DO_TITLE"));
        QCOMPARE(c->calendarPopup()->currentText(), QStringLiteral("Home"));
        QCOMPARE(c->summaryField()->text(), QL_LocalizedString("NEW_TO_DO_LABEL"));
        QCOMPARE(c->statusPopup()->currentIndex(), -1);
        QCOMPARE(c->priorityPopup()->currentIndex(), 0);
        QVERIFY(c->okButton()->isEnabled());
        c->summaryField()->setText("Buy bread");
        c->calendarPopup()->setCurrentText("Work");
        c->OKButtonPressed();

        const QStringList homeAfter = QString::fromUtf8(fileBytes(dataPath(homeKey))).split("\r\n");
        QVERIFY(!homeAfter.contains("BEGIN:VTODO"));
        const auto toDos = readToDos(workKey, "Work");
        QCOMPARE(toDos.size(), std::size_t(1));
        const QString uid = text(toDos.front()->theUID());
        QVERIFY(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")
                    .match(uid)
                    .hasMatch());
        // The calendar has no VTIMEZONE for the start's zone: the start is in UTC.
        const QStringList expected{"BEGIN:VTODO",
                                   "DTSTART:20261206T230000Z",
                                   "SUMMARY:Buy bread",
                                   "UID:" + uid,
                                   "SEQUENCE:2",
                                   "DTSTAMP:20261207T143000Z",
                                   "LAST-MODIFIED:20261207T143000Z",
                                   "END:VTODO"};
        QCOMPARE(componentLines(workKey, uid), expected);
    }

    void newToDoTexts_data() {
        QTest::addColumn<QByteArray>("tz");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QString>("creation");
        QTest::addColumn<QString>("header");
        QTest::addColumn<QString>("stamp");
        QTest::newRow("Berlin after midnight, UTC still the day before")
            << QByteArray("Europe/Berlin") << QDateTime(QDate(2026, 12, 8), QTime(0, 30))
            << "20261208T000000"
            << "DTSTART;TZID=Europe/Berlin"
            << "20261207T233000Z";
        QTest::newRow("New York in summer")
            << QByteArray("America/New_York") << QDateTime(QDate(2026, 7, 1), QTime(21, 5, 9))
            << "20260701T000000"
            << "DTSTART;TZID=America/New_York"
            << "20260702T010509Z";
    }

    void newToDoTexts() {
        QFETCH(QByteArray, tz);
        QFETCH(QDateTime, now);
        QFETCH(QString, creation);
        QFETCH(QString, header);
        QFETCH(QString, stamp);
        const QByteArray before = qgetenv("TZ");
        testenv::setTimeZone(tz);
        platform::Clock::setFixedNow(
            QDateTime(now.date(), now.time(), QTimeZone::systemTimeZone()));
        const QString c = QL_ToDoController::newCreationDate();
        const QString h = QL_ToDoController::newCreationDateHeader();
        const QString s = QL_ToDoController::newDateStamp();
        testenv::setTimeZone(before);
        QCOMPARE(c, creation);
        QCOMPARE(h, header);
        QCOMPARE(s, stamp);
        QVERIFY(GetUUID() != GetUUID());
    }

    void calendarList_data() {
        QTest::addColumn<bool>("hideSubscribed");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("subscriptions shown disabled")
            << false << QStringList{"Errands", "Home", "News (disabled)", "Secret"};
        QTest::newRow("subscriptions hidden") << true << QStringList{"Errands", "Home", "Secret"};
    }

    void calendarList() {
        QFETCH(bool, hideSubscribed);
        QFETCH(QStringList, items);
        // Two calendars called Errands: the later one in the node list (in a group) wins.
        QVERIFY(writeStore({{"errands-a", QStringLiteral("Errands"), {}},
                            {homeKey, QStringLiteral("Home"), {vtodo({"UID:t-1", "SUMMARY:x"})}},
                            {"news", QStringLiteral("News"), {}, subscribedType},
                            {"secret", QStringLiteral("Secret"), {}, plainType, {}, true},
                            {"errands-b", QStringLiteral("Errands"), {}, plainType, "Group"}}));
        QL_Preferences::sharedPreferences().setHideSubscribedCalendars(hideSubscribed);
        QL_ToDoController* c = openHomeToDo();
        QVERIFY(c);
        QCOMPARE(listItems(c->calendarPopup()), items);
        QCOMPARE(c->calendarPopup()->currentText(), QStringLiteral("Home"));
        QCOMPARE(c->theCalendars().at("Errands")->sourceKey(), std::optional<QString>("errands-b"));
        QCOMPARE(c->theCalendars().size(), std::size_t(4));
    }

    void calendarWalk() {
        QVERIFY(writeStore({{"a", QStringLiteral("Alpha"), {}},
                            {"nodata", QStringLiteral("No data"), {}},
                            {"untitled", std::nullopt, {}},
                            {"c", QStringLiteral("Gamma"), {}}}));
        QVERIFY(QFile::remove(dataPath("nodata")));
        QVariantList nodes =
            platform::PropertyList::dictionaryFromFile(ql::nodesPath())->value("List").toList();
        nodes.prepend(QVariantMap{{"Type", "CALSourceNode"}, {"SourceKey", "../a"}});
        testenv::LogRecorder log;
        const QL_CalendarMap table = QL_ToDoController::getCalendars(nodes);
        QCOMPARE(table.size(), std::size_t(1));
        QVERIFY(table.count("Alpha"));
        const QStringList lines = log.lines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines.at(0), "Quillo :: getCalendars :: unsafe SourceKey, calendar skipped");
        QVERIFY(
            lines.at(1).startsWith("Quillo :: getCalendars :: tempCalendar is nil, exception:\r"));
        QVERIFY(lines.at(1).contains("Name: (null)"));
    }

    // OK is offered only when it leads to a write.
    void okDisabledWithoutACalendar_data() {
        QTest::addColumn<QString>("store");
        QTest::addColumn<bool>("newToDo");
        QTest::addColumn<bool>("hideSubscribed");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("no node list, existing to-do") << "none" << false << false << false;
        QTest::newRow("no node list, new to-do") << "none" << true << false << false;
        QTest::newRow("only subscriptions, new to-do") << "subscribed" << true << false << false;
        QTest::newRow("only subscriptions hidden, new to-do")
            << "subscribed" << true << true << false;
        QTest::newRow("a to-do of a subscription stays editable in place")
            << "subscribed" << false << false << true;
    }

    void okDisabledWithoutACalendar() {
        QFETCH(QString, store);
        QFETCH(bool, newToDo);
        QFETCH(bool, hideSubscribed);
        QFETCH(bool, enabled);
        QVERIFY(writeStore({{"news",
                             QStringLiteral("News"),
                             {vtodo({"UID:t-1", "SUMMARY:Read"})},
                             subscribedType}}));
        const QByteArray before = fileBytes(dataPath("news"));
        std::shared_ptr<QL_ToDo> toDo = readToDo("news", "News", "t-1");
        if (store == "none")
            QVERIFY(QFile::remove(ql::nodesPath()));
        QL_Preferences::sharedPreferences().setHideSubscribedCalendars(hideSubscribed);
        QL_ToDoController* c =
            newToDo ? QL_ToDoController::initWithNewToDo() : QL_ToDoController::initWithToDo(toDo);
        QVERIFY(c);
        QCOMPARE(c->okButton()->isEnabled(), enabled);
        if (enabled)
            return;
        QPointer<QDialog> window = c->theWindow();
        c->OKButtonPressed();
        QTest::qWait(20);
        QVERIFY(window);
        QVERIFY(window->isVisible());
        QCOMPARE(fileBytes(dataPath("news")), before);
    }

    void moveToAnotherCalendar() {
        storeWith({"CATEGORIES:Errand", "PRIORITY:5"});
        QL_ToDoController* c = openHomeToDo();
        QVERIFY(c);
        QPointer<QDialog> window = c->theWindow();
        c->calendarPopup()->setCurrentText("Work");
        c->summaryField()->setText("Moved");
        c->OKButtonPressed();
        QTRY_VERIFY(window.isNull());
        QVERIFY(!readBack());
        const auto moved = readBack(workKey, "Work");
        QVERIFY(moved);
        QCOMPARE(text(moved->theSummary()), QStringLiteral("Moved"));
        QVERIFY(componentLines(workKey, "t-1").contains("CATEGORIES:Errand"));
        QVERIFY(m_alerts.isEmpty());
    }

    // The new calendar's folder cannot be written: the to-do stays where it was and the
    // window stays open with what was typed.
    void moveWhoseAddFails() {
        storeWith({"PRIORITY:5"});
        const QByteArray before = fileBytes(dataPath(homeKey));
        QL_ToDoController* c = openHomeToDo();
        QVERIFY(c);
        const QString workFolder = QFileInfo(dataPath(workKey)).path();
        if (!makeUnwritable(workFolder))
            QSKIP("the file system cannot make a folder unwritable");
        c->calendarPopup()->setCurrentText("Work");
        c->summaryField()->setText("Typed, not lost");
        c->OKButtonPressed();
        makeWritable(workFolder);
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(fileBytes(dataPath(homeKey)), before);
        QVERIFY(readToDos(workKey, "Work").empty());
        QVERIFY(c->theWindow()->isVisible());
        QCOMPARE(c->summaryField()->text(), QStringLiteral("Typed, not lost"));
        QCOMPARE(text(c->theToDo()->theSummary()), QStringLiteral("Task"));
        QCOMPARE(c->theToDo()->theSequence(), std::optional<double>(1.0));

        // Once the folder can be written, the same window saves.
        c->OKButtonPressed();
        QVERIFY(!readBack());
        QCOMPARE(text(readBack(workKey, "Work")->theSummary()), QStringLiteral("Typed, not lost"));
        QCOMPARE(readBack(workKey, "Work")->theSequence(), std::optional<double>(2.0));
    }

    // The calendar was saved by someone else since the to-do was read: the writer
    // reports it, and the window stays open with what was typed.
    void failedSaveKeepsTheWindow() {
        storeWith({});
        QL_ToDoController* c = openHomeToDo();
        QVERIFY(c);
        QByteArray changed = fileBytes(dataPath(homeKey));
        changed.replace("SUMMARY:Task", "SUMMARY:Changed elsewhere");
        QVERIFY(storetest::writeFile(dataPath(homeKey), changed));
        c->summaryField()->setText("My words");
        c->notesField()->setPlainText("and my notes");
        c->OKButtonPressed();
        QCOMPARE(m_alerts.size(), 1);
        QCOMPARE(fileBytes(dataPath(homeKey)), changed);
        QTest::qWait(20);
        QVERIFY(c->theWindow()->isVisible());
        QCOMPARE(c->summaryField()->text(), QStringLiteral("My words"));
        QCOMPARE(c->notesField()->toPlainText(), QStringLiteral("and my notes"));
    }

    // Windows are independent; each closing way frees its window and writes nothing.
    void manyWindowsAndTheirEnds() {
        storeWith({});
        const QByteArray before = fileBytes(dataPath(homeKey));
        QList<QPointer<QDialog>> windows;
        for (int i = 0; i < 3; ++i)
            windows.append(openHomeToDo()->theWindow());
        windows.append(QL_ToDoController::initWithNewToDo()->theWindow());
        QCOMPARE(openWindows().size(), 4);
        for (const auto& w : windows)
            w->findChild<QLineEdit*>("summaryField")->setText("Not saved");

        QTest::mouseClick(windows[0]->findChild<QPushButton*>("cancelButton"), Qt::LeftButton);
        QTRY_VERIFY(windows[0].isNull());
        QTest::keyClick(windows[1], Qt::Key_Escape);
        QTRY_VERIFY(windows[1].isNull());
        windows[2]->close();
        QTRY_VERIFY(windows[2].isNull());
        QVERIFY(windows[3]);
        QCOMPARE(openWindows().size(), 1);
        QCOMPARE(fileBytes(dataPath(homeKey)), before);
    }

    void openURLButton_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("calls");
        QTest::newRow("a link") << "http://example.org/x?y=1" << 1;
        QTest::newRow("a mail address") << "mailto:someone@example.org" << 1;
        QTest::newRow("nothing") << "" << 0;
        // Only web and mail addresses reach the desktop.
        QTest::newRow("a local file") << "file:///etc/passwd" << 0;
        QTest::newRow("a script") << "javascript:alert(1)" << 0;
        QTest::newRow("a share") << "smb://host/share" << 0;
        QTest::newRow("no host") << "https:relative" << 0;
    }

    void openURLButton() {
        QFETCH(QString, field);
        QFETCH(int, calls);
        storeWith({});
        QL_ToDoController* c = openHomeToDo();
        QVERIFY(c);
        c->urlField()->setText(field);
        auto& workspace = platform::Workspace::sharedWorkspace();
        workspace.clearRecordedCalls();
        workspace.setRecordsCalls(true);
        testenv::LogRecorder log;
        QTest::mouseClick(c->theWindow()->findChild<QPushButton*>("openURLButton"), Qt::LeftButton);
        QCOMPARE(log.contains("Quillo :: openURLButtonPressed :: refusing to open " + field),
                 !field.isEmpty() && calls == 0);
        QList<platform::Workspace::Call> opened;
        for (const auto& call : workspace.recordedCalls())
            if (call.name == "openURL")
                opened.append(call);
        QCOMPARE(opened.size(), calls);
        if (calls)
            QCOMPARE(opened.at(0).arguments, QStringList{field});
    }
};

QUILLO_TEST_MAIN(TestEditor)
#include "tst_editor.moc"
