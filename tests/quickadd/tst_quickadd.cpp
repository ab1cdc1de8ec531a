// The quick-add line: one table of lines, each read at a fixed instant against the same
// calendars, compared as one dump of what was understood; then the window over a real
// store, from typing to the calendar file.
#include "common/TestEnv.h"
#include "editor/EditorTestSupport.h"

#include "menuextra/quickadd/QL_QuickAdd.h"
#include "menuextra/quickadd/QL_QuickAddWindow.h"
#include "platform/Clock.h"
#include "shared/QL_PanePath.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimeZone>

using namespace editortest;

namespace {

const QStringList calendars{"Work", "Home", "Homework", "Family", "family", "Reisen"};

// A Wednesday, the last instant of a year (a Thursday), the first of the next (a
// Friday), and the Monday of the week across the year end.
QDateTime instant(const QString& name) {
    const QTimeZone zone = QTimeZone::systemTimeZone();
    if (name == u"eve")
        return QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59), zone);
    if (name == u"mid")
        return QDateTime(QDate(2027, 1, 1), QTime(0, 0), zone);
    if (name == u"mon")
        return QDateTime(QDate(2026, 12, 28), QTime(0, 0), zone);
    if (name == u"none")
        return QDateTime();
    return QDateTime(QDate(2026, 12, 9), QTime(9, 0), zone);
}

QString dump(const QL_QuickAddResult& r) {
    static const char* const hints[] = {"none", "empty", "unknown", "ambiguous"};
    return QStringLiteral("title=[%1] due=%2 prio=%3 cal=%4 hint=%5")
        .arg(r.title, r.due ? r.due->toString(Qt::ISODate) : QStringLiteral("-"),
             r.priority ? QString::number(*r.priority) : QStringLiteral("-"),
             r.calendar.value_or(QStringLiteral("-")),
             QLatin1String(hints[static_cast<int>(r.hint)]));
}

} // namespace

class TestQuickAdd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void parse_data();
    void parse();
    void hugeLineReturns();
    void windowAddsToTheCalendar();
    void windowKeepsAnUnfinishedLine();
};

void TestQuickAdd::initTestCase() {
    QVERIFY(linkPane());
    platform::Clock::setFixedNow(instant(QStringLiteral("eve")));
}

// A window a failed case left open would serve the next case with its old calendars.
void TestQuickAdd::cleanup() {
    if (QPointer<QL_QuickAddWindow> w = QL_QuickAddWindow::current()) {
        w->close();
        QTRY_VERIFY(w.isNull());
    }
}

void TestQuickAdd::parse_data() {
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected");
    struct Row {
        const char* now;
        const char* line;
        const char* title;
        const char* due;
        const char* prio;
        const char* cal;
        const char* hint;
    };
    static const Row rows[] = {
        // Relative days, both languages.
        {"wed", "Call the bank tomorrow !2 #Work", "Call the bank", "2026-12-10", "2", "Work",
         "none"},
        {"wed", "Buy milk today", "Buy milk", "2026-12-09", "-", "-", "none"},
        {"wed", "Milch kaufen heute", "Milch kaufen", "2026-12-09", "-", "-", "none"},
        {"wed", "Milch kaufen morgen", "Milch kaufen", "2026-12-10", "-", "-", "none"},
        {"wed", "Bank anrufen übermorgen", "Bank anrufen", "2026-12-11", "-", "-", "none"},
        {"wed", "Pay rent day after tomorrow", "Pay rent", "2026-12-11", "-", "-", "none"},
        {"wed", "TOMORROW call", "call", "2026-12-10", "-", "-", "none"},
        {"wed", "Call Bob tomorrow, then email", "Call Bob then email", "2026-12-10", "-", "-",
         "none"},
        // Weekdays: always after today; "next"/"nächsten" and "on"/"am" go with them.
        {"wed", "Report friday", "Report", "2026-12-11", "-", "-", "none"},
        {"wed", "Report Wednesday", "Report", "2026-12-16", "-", "-", "none"},
        {"wed", "Bericht Freitag", "Bericht", "2026-12-11", "-", "-", "none"},
        {"wed", "Report next friday", "Report", "2026-12-11", "-", "-", "none"},
        {"wed", "Bericht nächsten Freitag", "Bericht", "2026-12-11", "-", "-", "none"},
        {"wed", "Bericht am Montag", "Bericht", "2026-12-14", "-", "-", "none"},
        {"wed", "Meet Anna on Sunday", "Meet Anna", "2026-12-13", "-", "-", "none"},
        {"wed", "Next week review", "review", "2026-12-16", "-", "-", "none"},
        {"wed", "Nächste Woche Bericht", "Bericht", "2026-12-16", "-", "-", "none"},
        // In so many days, weeks, months.
        {"wed", "Water plants in 3 days", "Water plants", "2026-12-12", "-", "-", "none"},
        {"wed", "Blumen gießen in 3 Tagen", "Blumen gießen", "2026-12-12", "-", "-", "none"},
        {"wed", "Check in 1 day", "Check", "2026-12-10", "-", "-", "none"},
        {"wed", "Check in 0 days", "Check", "2026-12-09", "-", "-", "none"},
        {"wed", "Dentist in 2 weeks", "Dentist", "2026-12-23", "-", "-", "none"},
        {"wed", "Zahnarzt in 2 Wochen", "Zahnarzt", "2026-12-23", "-", "-", "none"},
        {"wed", "Renew in 1 month", "Renew", "2027-01-09", "-", "-", "none"},
        {"wed", "Verlängern in 2 Monaten", "Verlängern", "2027-02-09", "-", "-", "none"},
        {"wed", "Trip in 9999 days", "Trip", "2054-04-25", "-", "-", "none"},
        {"wed", "Trip in 99999 days", "Trip in 99999 days", "-", "-", "-", "none"},
        {"wed", "Move in 3", "Move in 3", "-", "-", "-", "none"},
        // Written dates: without a year the next such day from today on.
        {"wed", "Taxes 15 Jan", "Taxes", "2027-01-15", "-", "-", "none"},
        {"wed", "Steuer 15. Januar", "Steuer", "2027-01-15", "-", "-", "none"},
        {"wed", "Taxes Jan 15", "Taxes", "2027-01-15", "-", "-", "none"},
        {"wed", "Taxes 15 Jan 2028", "Taxes", "2028-01-15", "-", "-", "none"},
        {"wed", "May 5 report", "report", "2027-05-05", "-", "-", "none"},
        {"wed", "Steuer 15.1.", "Steuer", "2027-01-15", "-", "-", "none"},
        {"wed", "Steuer 15.01.2027", "Steuer", "2027-01-15", "-", "-", "none"},
        {"wed", "Steuer 15.1.27", "Steuer", "2027-01-15", "-", "-", "none"},
        {"wed", "Taxes 2027-01-15", "Taxes", "2027-01-15", "-", "-", "none"},
        {"wed", "Party 9 Dec", "Party", "2026-12-09", "-", "-", "none"},
        {"wed", "Party 8 Dec", "Party", "2027-12-08", "-", "-", "none"},
        {"wed", "Weihnachten 24. Dez", "Weihnachten", "2026-12-24", "-", "-", "none"},
        {"wed", "Fasching 3. März", "Fasching", "2027-03-03", "-", "-", "none"},
        {"wed", "Leap 29 Feb", "Leap", "2028-02-29", "-", "-", "none"},
        // Dates that do not exist stay text.
        {"wed", "Bad 31 Feb", "Bad 31 Feb", "-", "-", "-", "none"},
        {"wed", "Bad 2027-02-30", "Bad 2027-02-30", "-", "-", "-", "none"},
        {"wed", "Bad 32.1.", "Bad 32.1.", "-", "-", "-", "none"},
        // Only the last date counts; earlier ones are part of the title.
        {"wed", "Prepare Monday meeting tomorrow", "Prepare Monday meeting", "2026-12-10", "-", "-",
         "none"},
        // Priorities: words of their own only, the last counts.
        {"wed", "Urgent !!!", "Urgent", "-", "1", "-", "none"},
        {"wed", "Soon !!", "Soon", "-", "5", "-", "none"},
        {"wed", "Later !", "Later", "-", "9", "-", "none"},
        {"wed", "Task !9", "Task", "-", "9", "-", "none"},
        {"wed", "Task !0", "Task !0", "-", "-", "-", "none"},
        {"wed", "Task !10", "Task !10", "-", "-", "-", "none"},
        {"wed", "Task !1 !5", "Task", "-", "5", "-", "none"},
        {"wed", "Wow!! great", "Wow!! great", "-", "-", "-", "none"},
        // Calendars: letter case ignored, a unique prefix, an exact title first.
        {"wed", "Plan #home", "Plan", "-", "-", "Home", "none"},
        {"wed", "Plan #homew", "Plan", "-", "-", "Homework", "none"},
        {"wed", "Plan #ho", "Plan", "-", "-", "-", "ambiguous"},
        {"wed", "Plan #Nope", "Plan", "-", "-", "-", "unknown"},
        {"wed", "Plan #family", "Plan", "-", "-", "family", "none"},
        {"wed", "Plan #FAMILY", "Plan", "-", "-", "-", "ambiguous"},
        {"wed", "Plan #Rei morgen", "Plan", "2026-12-10", "-", "Reisen", "none"},
        {"wed", "Plan #Work #Home", "Plan", "-", "-", "Home", "none"},
        {"wed", "Fix bug #123", "Fix bug #123", "-", "-", "-", "none"},
        {"wed", "Tag #", "Tag #", "-", "-", "-", "none"},
        // Nothing left for a title.
        {"wed", "tomorrow", "", "2026-12-10", "-", "-", "empty"},
        {"wed", "!1 #Work", "", "-", "1", "Work", "empty"},
        {"wed", "", "", "-", "-", "-", "empty"},
        {"wed", "  \t ", "", "-", "-", "-", "empty"},
        {"wed", "Read  many \t spaces", "Read many spaces", "-", "-", "-", "none"},
        // The last instant of a year and the first of the next.
        {"eve", "X today", "X", "2026-12-31", "-", "-", "none"},
        {"eve", "X tomorrow", "X", "2027-01-01", "-", "-", "none"},
        {"eve", "X morgen", "X", "2027-01-01", "-", "-", "none"},
        {"eve", "X friday", "X", "2027-01-01", "-", "-", "none"},
        {"eve", "X Thursday", "X", "2027-01-07", "-", "-", "none"},
        {"eve", "X 31.12.", "X", "2026-12-31", "-", "-", "none"},
        {"eve", "X 1 Jan", "X", "2027-01-01", "-", "-", "none"},
        {"eve", "X in 1 day", "X", "2027-01-01", "-", "-", "none"},
        {"mid", "X today", "X", "2027-01-01", "-", "-", "none"},
        {"mid", "X heute", "X", "2027-01-01", "-", "-", "none"},
        {"mid", "X 31 Dec", "X", "2027-12-31", "-", "-", "none"},
        {"mid", "X friday", "X", "2027-01-08", "-", "-", "none"},
        // The week across the year end, from its Monday.
        {"mon", "X sunday", "X", "2027-01-03", "-", "-", "none"},
        {"mon", "X Sonntag", "X", "2027-01-03", "-", "-", "none"},
        {"mon", "X Samstag", "X", "2027-01-02", "-", "-", "none"},
        {"mon", "X next monday", "X", "2027-01-04", "-", "-", "none"},
        {"mon", "X in 1 week", "X", "2027-01-04", "-", "-", "none"},
        {"mon", "X nächste Woche", "X", "2027-01-04", "-", "-", "none"},
        // Without a valid clock no date is read.
        {"none", "X tomorrow", "X tomorrow", "-", "-", "-", "none"},
    };
    for (const Row& row : rows) {
        const QString expected =
            QStringLiteral("title=[%1] due=%2 prio=%3 cal=%4 hint=%5")
                .arg(QString::fromUtf8(row.title), QLatin1String(row.due), QLatin1String(row.prio),
                     QLatin1String(row.cal), QLatin1String(row.hint));
        QTest::newRow((QByteArray(row.now) + ": " + row.line).constData())
            << QString::fromLatin1(row.now) << QString::fromUtf8(row.line) << expected;
    }
}

void TestQuickAdd::parse() {
    QFETCH(QString, now);
    QFETCH(QString, line);
    QFETCH(QString, expected);
    QCOMPARE(dump(ql::parseQuickAdd(line, instant(now), calendars)), expected);
}

// A pasted page of text is read in one pass, whatever it holds.
void TestQuickAdd::hugeLineReturns() {
    QString line;
    for (int i = 0; i < 20000; ++i)
        line += QStringLiteral("in 3 #x !! 15. next ");
    const QL_QuickAddResult r = ql::parseQuickAdd(line, instant(QStringLiteral("wed")), calendars);
    QCOMPARE(r.hint, QL_QuickAddResult::Hint::UnknownCalendar);
    QCOMPARE(r.priority, std::optional<int>(5));
}

// Typed, shown, Enter: the to-do is in the calendar's file with what the line said, and
// the window is gone. A subscription is never a target.
void TestQuickAdd::windowAddsToTheCalendar() {
    QVERIFY(writeStore({{"news", QStringLiteral("News"), {}, subscribedType},
                        {"home", QStringLiteral("Home"), {}},
                        {"work", QStringLiteral("Work"), {}}}));
    QPointer<QL_QuickAddWindow> w = QL_QuickAddWindow::present();
    QVERIFY(w);
    QCOMPARE(QL_QuickAddWindow::present(), w.data()); // one at a time
    QCOMPARE(w->windowTitle(), QL_LocalizedString("QUICK_ADD_WINDOW_TITLE"));
    QTest::keyClicks(w->lineField(), QStringLiteral("Call the bank tomorrow !2 #wo"));
    QCOMPARE(w->understoodLabel()->text(),
             QStringLiteral("Title: Call the bank\nDue: Friday, 1 January 2027\nPriority: 2\n"
                            "Calendar: Work"));
    QTest::keyClick(w->lineField(), Qt::Key_Return);
    QTRY_VERIFY(w.isNull());
    QVERIFY(readToDos("home", "Home").empty());
    const auto toDos = readToDos("work", "Work");
    QCOMPARE(toDos.size(), std::size_t(1));
    const QL_ToDo& t = *toDos.front();
    QCOMPARE(t.theSummary(), QL_ToDo::Text("Call the bank"));
    QCOMPARE(t.thePriority(), std::optional<int>(2));
    QCOMPARE(t.theDueDate(), QL_ToDo::Text("20270101"));
    QVERIFY(!t.theCompletedDate());

    // Without #name the first calendar that can take a to-do; "#new" is no calendar of
    // the line's, since the subscription is left out.
    w = QL_QuickAddWindow::present();
    QTest::keyClicks(w->lineField(), QStringLiteral("Pay \\ rent #new"));
    QTest::keyClick(w->lineField(), Qt::Key_Return);
    QVERIFY(w);
    QCOMPARE(w->hintLabel()->text(),
             QL_LocalizedString("QUICK_ADD_UNKNOWN_CALENDAR_HINT").arg("new"));
    w->lineField()->setText(QStringLiteral("Pay \\ rent"));
    QCOMPARE(w->hintLabel()->text(), QL_LocalizedString("QUICK_ADD_ENTER_HINT"));
    QTest::keyClick(w->lineField(), Qt::Key_Enter);
    QTRY_VERIFY(w.isNull());
    const auto home = readToDos("home", "Home");
    QCOMPARE(home.size(), std::size_t(1));
    QCOMPARE(home.front()->theSummary(), QL_ToDo::Text("Pay \\ rent"));
    QVERIFY(!home.front()->thePriority());
    QVERIFY(!home.front()->theDueDate());
}

// No title, an ambiguous calendar, a store without a calendar: Enter leaves the window
// open with the hint and writes nothing; Escape closes it.
void TestQuickAdd::windowKeepsAnUnfinishedLine() {
    QVERIFY(
        writeStore({{"home", QStringLiteral("Home"), {}}, {"hw", QStringLiteral("Homework"), {}}}));
    const QByteArray before = fileBytes(dataPath("home"));
    QPointer<QL_QuickAddWindow> w = QL_QuickAddWindow::present();
    struct Case {
        const char* line;
        QString hint;
    };
    const Case cases[] = {
        {"tomorrow !1", QL_LocalizedString("QUICK_ADD_NO_TITLE_HINT")},
        {"Plan #h", QL_LocalizedString("QUICK_ADD_AMBIGUOUS_CALENDAR_HINT").arg("h")},
    };
    for (const Case& c : cases) {
        w->lineField()->setText(QString::fromUtf8(c.line));
        QTest::keyClick(w->lineField(), Qt::Key_Return);
        QVERIFY2(w && w->isVisible(), c.line);
        QCOMPARE(w->hintLabel()->text(), c.hint);
    }
    QCOMPARE(fileBytes(dataPath("home")), before);
    QTest::keyClick(w->lineField(), Qt::Key_Escape);
    QTRY_VERIFY(w.isNull());

    QVERIFY(writeStore({}));
    w = QL_QuickAddWindow::present();
    w->lineField()->setText(QStringLiteral("Anything"));
    QTest::keyClick(w->lineField(), Qt::Key_Return);
    QVERIFY(w);
    QCOMPARE(w->hintLabel()->text(), QL_LocalizedString("QUICK_ADD_NO_CALENDAR_HINT"));
    w->close();
    QTRY_VERIFY(w.isNull());
}

QUILLO_TEST_MAIN(TestQuickAdd)
#include "tst_quickadd.moc"
