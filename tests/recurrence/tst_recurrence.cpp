// The next occurrence of a recurring to-do, for the rules of RFC 5545's own examples
// (section 3.8.5.3), each asked at one of its instances; and what is never advanced.
#include "common/TestEnv.h"

#include "menuextra/recurrence/QL_Recurrence.h"
#include "platform/PropertyList.h"

#include <QTest>

namespace {

QString dump(const QL_RecurrenceStep& s) {
    switch (s.kind) {
    case QL_RecurrenceStep::Kind::Next:
        return s.start ? QStringLiteral("due=%1 start=%2").arg(s.due, *s.start)
                       : QStringLiteral("due=%1").arg(s.due);
    case QL_RecurrenceStep::Kind::Ended:
        return QStringLiteral("ended");
    case QL_RecurrenceStep::Kind::Unsupported:
        return QStringLiteral("unsupported");
    }
    return {};
}

} // namespace

class TestRecurrence : public QObject {
    Q_OBJECT

private slots:
    void next_data();
    void next();
    void linesOfAComponent();
    void ruleInWords_data();
    void ruleInWords();
};

void TestRecurrence::next_data() {
    QTest::addColumn<QString>("rrule");
    QTest::addColumn<QString>("start"); // empty: no DTSTART
    QTest::addColumn<QString>("due");
    QTest::addColumn<QStringList>("exdates");
    QTest::addColumn<QString>("expected");
    struct Row {
        const char* name;
        const char* rrule;
        const char* start;
        const char* due;
        const char* exdates; // comma-separated
        const char* expected;
    };
    // A to-do as it stands: start and due at one instance (completing moves both on),
    // unless the row says otherwise; "due=X" alone when there is no DTSTART.
    static const Row rows[] = {
        {"daily, 10 times", "FREQ=DAILY;COUNT=10", "19970902T090000", "19970902T090000", "",
         "due=19970903T090000 start=19970903T090000"},
        {"one time only", "FREQ=DAILY;COUNT=1", "19970902T090000", "19970902T090000", "", "ended"},
        {"daily until 24 Dec", "FREQ=DAILY;UNTIL=19971224T000000Z", "19971223T090000",
         "19971223T090000", "", "ended"},
        {"daily until 24 Dec, before", "FREQ=DAILY;UNTIL=19971224T000000Z", "19971222T090000",
         "19971222T090000", "", "due=19971223T090000 start=19971223T090000"},
        {"every other day", "FREQ=DAILY;INTERVAL=2", "19970902T090000", "19970902T090000", "",
         "due=19970904T090000 start=19970904T090000"},
        {"every 10 days, 5 times", "FREQ=DAILY;INTERVAL=10;COUNT=5", "19970912T090000",
         "19970912T090000", "", "due=19970922T090000 start=19970922T090000"},
        {"every day in January",
         "FREQ=YEARLY;UNTIL=20000131T140000Z;BYMONTH=1;BYDAY=SU,MO,TU,WE,TH,FR,SA",
         "19980131T090000", "19980131T090000", "", "due=19990101T090000 start=19990101T090000"},
        {"weekly, 10 times", "FREQ=WEEKLY;COUNT=10", "19970902T090000", "19970902T090000", "",
         "due=19970909T090000 start=19970909T090000"},
        {"every other week", "FREQ=WEEKLY;INTERVAL=2;WKST=SU", "19970902T090000", "19970902T090000",
         "", "due=19970916T090000 start=19970916T090000"},
        {"weekly on Tuesday and Thursday", "FREQ=WEEKLY;UNTIL=19971007T000000Z;WKST=SU;BYDAY=TU,TH",
         "19970902T090000", "19970902T090000", "", "due=19970904T090000 start=19970904T090000"},
        {"every other week on Mon, Wed, Fri",
         "FREQ=WEEKLY;INTERVAL=2;UNTIL=19971224T000000Z;WKST=SU;BYDAY=MO,WE,FR", "19970905T090000",
         "19970905T090000", "", "due=19970915T090000 start=19970915T090000"},
        {"monthly on the first Friday", "FREQ=MONTHLY;COUNT=10;BYDAY=1FR", "19970905T090000",
         "19970905T090000", "", "due=19971003T090000 start=19971003T090000"},
        {"monthly on the first and last Sunday", "FREQ=MONTHLY;INTERVAL=2;COUNT=10;BYDAY=1SU,-1SU",
         "19970907T090000", "19970907T090000", "", "due=19970928T090000 start=19970928T090000"},
        {"monthly on the second-to-last Monday", "FREQ=MONTHLY;COUNT=6;BYDAY=-2MO",
         "19970922T090000", "19970922T090000", "", "due=19971020T090000 start=19971020T090000"},
        {"monthly on the third-to-last day", "FREQ=MONTHLY;BYMONTHDAY=-3", "19970928T090000",
         "19970928T090000", "", "due=19971029T090000 start=19971029T090000"},
        {"monthly on the 2nd and 15th", "FREQ=MONTHLY;COUNT=10;BYMONTHDAY=2,15", "19970902T090000",
         "19970902T090000", "", "due=19970915T090000 start=19970915T090000"},
        {"every 18 months on the 10th to 15th",
         "FREQ=MONTHLY;INTERVAL=18;COUNT=10;BYMONTHDAY=10,11,12,13,14,15", "19970915T090000",
         "19970915T090000", "", "due=19990310T090000 start=19990310T090000"},
        {"yearly in June and July", "FREQ=YEARLY;COUNT=10;BYMONTH=6,7", "19970710T090000",
         "19970710T090000", "", "due=19980610T090000 start=19980610T090000"},
        {"every Friday the 13th", "FREQ=MONTHLY;BYDAY=FR;BYMONTHDAY=13", "19970902T090000",
         "19970902T090000", "19970902T090000", "due=19980213T090000 start=19980213T090000"},
        {"excluded occurrence is skipped", "FREQ=DAILY;COUNT=10", "19970902T090000",
         "19970902T090000", "19970903T090000,19970904T090000",
         "due=19970905T090000 start=19970905T090000"},
        {"all dates, weekly", "FREQ=WEEKLY", "20261230", "20261230", "",
         "due=20270106 start=20270106"},
        {"excluded date", "FREQ=WEEKLY", "20261230", "20261230", "20270106",
         "due=20270113 start=20270113"},
        {"no start: the series starts at the due date", "FREQ=MONTHLY;BYMONTHDAY=31", "",
         "20270131", "", "due=20270331"},
        {"due keeps its distance from the start", "FREQ=DAILY", "20270101T090000",
         "20270101T170000", "", "due=20270102T170000 start=20270102T090000"},
        {"UTC stays UTC", "FREQ=DAILY", "20270101T080000Z", "20270101T080000Z", "",
         "due=20270102T080000Z start=20270102T080000Z"},
        // Shown, never advanced.
        {"weekly by week number", "FREQ=YEARLY;BYWEEKNO=20;BYDAY=MO", "19970512T090000",
         "19970512T090000", "", "unsupported"},
        {"by set position", "FREQ=MONTHLY;COUNT=3;BYDAY=TU,WE,TH;BYSETPOS=3", "19970904T090000",
         "19970904T090000", "", "unsupported"},
        {"hourly", "FREQ=HOURLY;INTERVAL=3", "19970902T090000", "19970902T090000", "",
         "unsupported"},
        {"yearly ordinal weekday", "FREQ=YEARLY;BYDAY=20MO", "19970519T090000", "19970519T090000",
         "", "unsupported"},
        {"no frequency", "COUNT=3", "19970902T090000", "19970902T090000", "", "unsupported"},
        {"garbage", "FREQ=DAILY;;=;x", "19970902T090000", "19970902T090000", "", "unsupported"},
        {"bad due", "FREQ=DAILY", "19970902T090000", "tomorrow", "", "unsupported"},
        {"date start, time due", "FREQ=DAILY", "19970902", "19970902T090000", "", "unsupported"},
    };
    for (const Row& r : rows)
        QTest::newRow(r.name) << QString::fromLatin1(r.rrule) << QString::fromLatin1(r.start)
                              << QString::fromLatin1(r.due)
                              << QString::fromLatin1(r.exdates).split(u',', Qt::SkipEmptyParts)
                              << QString::fromLatin1(r.expected);
}

void TestRecurrence::next() {
    QFETCH(QString, rrule);
    QFETCH(QString, start);
    QFETCH(QString, due);
    QFETCH(QStringList, exdates);
    QFETCH(QString, expected);
    const std::optional<QString> dtstart = start.isEmpty() ? std::nullopt : std::optional(start);
    QCOMPARE(dump(ql::nextOccurrence(rrule, due, dtstart, exdates)), expected);
}

// Folded lines, parameters, several EXDATE lines.
void TestRecurrence::linesOfAComponent() {
    const QString component =
        QStringLiteral("BEGIN:VTODO\r\nUID:x\r\nRRULE:FREQ=WEEKLY;\r\n BYDAY=MO,WE\r\n"
                       "EXDATE;TZID=Europe/Berlin:20270104T090000,20270106T090000\r\n"
                       "EXDATE;VALUE=DATE-TIME:20270111T090000\r\nSUMMARY:a:b\r\nEND:VTODO");
    const ql::QL_RecurrenceLines lines = ql::recurrenceLines(component);
    QCOMPARE(lines.rrule, QStringLiteral("FREQ=WEEKLY;BYDAY=MO,WE"));
    QCOMPARE(lines.exdates, (QStringList{"20270104T090000", "20270106T090000", "20270111T090000"}));
    QVERIFY(ql::recurrenceLines(QStringLiteral("BEGIN:VTODO\r\nEND:VTODO")).rrule.isEmpty());
}

void TestRecurrence::ruleInWords_data() {
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("rrule");
    QTest::addColumn<QString>("expected");
    struct Row {
        const char* language;
        const char* rrule;
        const char* expected;
    };
    static const Row rows[] = {
        {"en", "FREQ=WEEKLY;BYDAY=MO", "every week on Monday"},
        {"en", "FREQ=DAILY", "every day"},
        {"en", "FREQ=DAILY;INTERVAL=2;COUNT=5", "every 2 days, 5 times"},
        {"en", "FREQ=WEEKLY;INTERVAL=2;BYDAY=MO,WE,FR;UNTIL=19971224T000000Z",
         "every 2 weeks on Monday, Wednesday, Friday, until Wednesday, 24 December 1997"},
        {"en", "FREQ=MONTHLY;BYDAY=1FR,-1SU", "every month on the first Friday, the last Sunday"},
        {"en", "FREQ=MONTHLY;BYMONTHDAY=2,15", "every month on day 2, 15"},
        {"en", "FREQ=YEARLY;BYMONTH=6,7", "every year in June, July"},
        {"en", "FREQ=MONTHLY;BYDAY=-2MO", "FREQ=MONTHLY;BYDAY=-2MO"},
        {"en", "FREQ=YEARLY;BYWEEKNO=20", "FREQ=YEARLY;BYWEEKNO=20"},
        {"de", "FREQ=WEEKLY;BYDAY=MO", "jede Woche am Monday"},
        {"de", "FREQ=MONTHLY;INTERVAL=3;BYDAY=1FR;COUNT=4",
         "alle 3 Monate am ersten Friday, 4-mal"},
    };
    for (const Row& r : rows)
        QTest::newRow((QByteArray(r.language) + " " + r.rrule).constData())
            << QString::fromLatin1(r.language) << QString::fromLatin1(r.rrule)
            << QString::fromUtf8(r.expected);
}

// With the table's own texts; day and month names come from the locale (C here).
void TestRecurrence::ruleInWords() {
    QFETCH(QString, language);
    QFETCH(QString, rrule);
    QFETCH(QString, expected);
    const std::optional<QVariantMap> table = platform::PropertyList::dictionaryFromFile(
        QStringLiteral(QUILLO_RESOURCES "/%1.lproj/Quillo.strings").arg(language));
    QVERIFY(table);
    const auto text = [&](const QString& key) { return table->value(key).toString(); };
    QCOMPARE(ql::describeRule(rrule, text, QLocale::c()), expected);
}

QUILLO_TEST_MAIN_CORE(TestRecurrence)
#include "tst_recurrence.moc"
