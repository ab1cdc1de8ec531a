#include "store/StoreTestSupport.h"

#include "common/BinaryPlist.h"

#include "menuextra/QLMenuExtra.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "platform/PropertyList.h"
#include "shared/QL_Preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <QScopeGuard>
#include <QTest>
#include <cstdio>

#include <sys/stat.h>
#include <unistd.h>

using platform::PropertyList;
using Text = QL_Calendar::Text;

namespace {

const QString walkPrefix = QStringLiteral("Quillo :: loadiCalCalendarsWithList :: ");
const QString nodesMissing =
    QStringLiteral("Quillo :: loadiCalCalendars :: iCal Nodes file is missing");
const QString unableToParse =
    QStringLiteral("Quillo :: loadiCalCalendars :: Unable to parse through iCal Nodes file");

QStringList titles(const QL_CalendarMap& map) {
    QStringList result;
    for (const auto& [title, calendar] : map)
        result.append(title);
    return result;
}

bool writeNodes(const QVariantList& list, PropertyList::Format format = PropertyList::Format::Xml) {
    const std::optional<QByteArray> bytes =
        PropertyList::toData(QVariantMap{{"List", list}}, format);
    return bytes && storetest::writeFile(ql::nodesPath(), *bytes);
}

bool writeInfo(const QString& key, const QVariantMap& info) {
    const std::optional<QByteArray> bytes = PropertyList::toData(info);
    return bytes && storetest::writeFile(ql::calendarInfoPath(key), *bytes);
}

QVariantMap sourceNode(const QString& key) {
    return {{"Type", "CALSourceNode"}, {"SourceKey", key}, {"ThemeColor", "#112233FF"}};
}

QVariantMap groupNode(const QVariantList& subnodes) {
    return {{"Type", "CALNamedGroupNode"}, {"Subnodes", subnodes}};
}

// A calendar with a description and a data file.
bool addCalendar(const QString& key, const QVariantMap& info) {
    return writeInfo(key, info) &&
           storetest::writeFile(ql::calendarDataPath(key), "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");
}

} // namespace

class TestCalendars : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        QL_Preferences::sharedPreferences().setHideSubscribedCalendars(false);
        storetest::removeStore();
    }

    void sampleStore() {
        QVERIFY(storetest::installStore("sample"));
        QLMenuExtra menuExtra;
        testenv::LogRecorder log;
        QVERIFY(menuExtra.loadiCalCalendars());
        QVERIFY(menuExtra.theCalendars());
        const QL_CalendarMap& map = *menuExtra.theCalendars();

        // Groups flattened; hidden, data-less, unsafe and broken calendars left out;
        // of two calendars titled alike the later one in the walk stays.
        QCOMPARE(titles(map),
                 (QStringList{"Deep", "Errands", "Holidays", "Home", "Latin-1", "Work"}));
        QCOMPARE(map.at("Errands")->sourceKey(), Text("errands-b"));
        QCOMPARE(map.at("Errands")->color(), std::optional<QColor>(ql::neutralCalendarColor()));
        QCOMPARE(map.at("Deep")->color(), std::optional<QColor>(ql::neutralCalendarColor()));
        const std::shared_ptr<QL_Calendar>& home = map.at("Home");
        QCOMPARE(home->key(), Text("K-HOME"));
        QCOMPARE(home->notes(), Text("Things at home"));
        QCOMPARE(home->type(), Text("com.apple.ical.sources.naivereadwrite"));
        QCOMPARE(home->color(),
                 std::optional<QColor>(QColor::fromRgbF(1.0f, 0.0f, 0.0f, 128.0f / 255.0f)));
        QCOMPARE(map.at("Work")->key(), Text("K-WORK")); // from a binary Info.plist
        QCOMPARE(map.at("Holidays")->type(), Text(ql::subscribedCalendarType.toString()));

        // Hidden calendars count; subscriptions and calendars without data do not.
        QCOMPARE(menuExtra.validCalendars(), 7);
        const QString sources = storetest::storeRoot() + "/Sources/";
        QStringList watched;
        for (const char* key :
             {"home", "work", "deep", "errands-a", "errands-b", "hidden", "subscribed", "latin1"})
            watched << sources + key + ".calendar/corestorage.ics";
        QCOMPARE(menuExtra.theWatchedPaths(), watched);

        QCOMPARE(log.lines(), (QStringList{walkPrefix + "unsafe SourceKey, calendar skipped",
                                           walkPrefix + "unsafe SourceKey, calendar skipped",
                                           walkPrefix + "infoDict is nil"}));
    }

    // The menu extra follows the store: each load watches the node list and every data
    // file it found, and a whole-file save of any of them reads the store again.
    void watcherFollowsTheStore() {
        QVERIFY(storetest::installStore("sample"));
        QLMenuExtra menuExtra;
        QVERIFY(menuExtra.theQueue());
        QCOMPARE(menuExtra.theQueue()->watchedPaths(), QStringList{ql::nodesPath()});
        const ZVKQueue* first = menuExtra.theQueue().get();

        QVERIFY(menuExtra.loadiCalCalendars());
        QVERIFY(menuExtra.theQueue().get() != first);
        QCOMPARE(menuExtra.theQueue()->watchedPaths(),
                 QStringList{ql::nodesPath()} + menuExtra.theWatchedPaths());

        // Replace Home's data file the way a saving application does.
        const QString data = menuExtra.theWatchedPaths().constFirst();
        const QString fresh = data + ".new";
        QVERIFY(QFile::copy(data, fresh));
        QCOMPARE(
            ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(data).constData()), 0);
        QTRY_COMPARE_WITH_TIMEOUT(menuExtra.refreshCount(), 1, 10000);
        QVERIFY(menuExtra.theCalendars());
        QVERIFY(!menuExtra.theCalendars()->at("Home")->arrayOfToDos().empty());
        // The refresh watches the new file, so the next save is seen too.
        QVERIFY(QFile::copy(data, fresh));
        QCOMPARE(
            ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(data).constData()), 0);
        QTRY_COMPARE_WITH_TIMEOUT(menuExtra.refreshCount(), 2, 10000);
    }

    void sampleStoreToDos() {
        QVERIFY(storetest::installStore("sample"));
        QLMenuExtra menuExtra;
        QVERIFY(menuExtra.loadiCalCalendars());
        const QL_CalendarMap& map = *menuExtra.theCalendars();

        QL_Calendar& home = *map.at("Home");
        QVERIFY(home.parseForToDos());
        QCOMPARE(home.arrayOfToDos().size(), size_t(2));
        const QL_ToDo& first = *home.arrayOfToDos()[0];
        QCOMPARE(first.theSummary(), Text("Buy milk, eggs"));
        QCOMPARE(first.theDescription(), Text("line one\rline two"));
        QCOMPARE(first.theCalendarName(), Text("Home"));
        QCOMPARE(first.theCalendarColor(), home.color());
        QVERIFY(first.theVAlarm()->contains("First alarm"));
        QVERIFY(!first.theVAlarm()->contains("Second alarm"));
        QCOMPARE(
            home.arrayOfToDos()[1]->theSummary(),
            Text(
                "A long title that the calendar application folded just before a space and again"));

        QL_Calendar& work = *map.at("Work");
        QVERIFY(work.parseForToDos());
        QCOMPARE(work.arrayOfToDos().size(), size_t(1));
        QCOMPARE(work.arrayOfToDos()[0]->theSummary(), Text("Attend:VTODO review"));
        QCOMPARE(work.arrayOfToDos()[0]->theURL(), Text("http://example.org/a\\,b"));
        QCOMPARE(work.arrayOfToDos()[0]->theDueDate(), Text("20070120T090000Z"));

        QL_Calendar& deep = *map.at("Deep");
        QVERIFY(deep.parseForToDos());
        QCOMPARE(deep.arrayOfToDos().size(), size_t(1));
        QCOMPARE(deep.arrayOfToDos()[0]->theCompletedDate(), Text("20070111T100000"));

        testenv::LogRecorder log;
        QVERIFY(!map.at("Latin-1")->parseForToDos());
        QVERIFY(log.contains("Quillo Error :: parseForToDos :: theCalendarContents is nil"));

        QL_Calendar& holidays = *map.at("Holidays");
        QVERIFY(holidays.parseForToDos());
        QCOMPARE(holidays.arrayOfToDos().size(), size_t(1));
        QL_Preferences::sharedPreferences().setHideSubscribedCalendars(true);
        QVERIFY(holidays.parseForToDos());
        QVERIFY(holidays.arrayOfToDos().empty());
    }

    void nodeListFailures() {
        QLMenuExtra menuExtra;
        QVERIFY(!menuExtra.theCalendars());
        QVERIFY(addCalendar("a", {{"Title", "A"}}));
        QVERIFY(writeNodes({sourceNode("a")}));
        QVERIFY(menuExtra.loadiCalCalendars());
        QCOMPARE(titles(*menuExtra.theCalendars()), QStringList{"A"});

        // A missing or malformed node list keeps the calendars of the last good load.
        for (const QByteArray& bytes :
             {QByteArray(), QByteArray("<plist><dict>"),
              QByteArray("<?xml version=\"1.0\"?><plist><array/></plist>")}) {
            if (bytes.isEmpty())
                QVERIFY(QFile::remove(ql::nodesPath()));
            else
                QVERIFY(storetest::writeFile(ql::nodesPath(), bytes));
            testenv::LogRecorder log;
            QVERIFY(!menuExtra.loadiCalCalendars());
            QCOMPARE(log.lines(), QStringList{nodesMissing});
            QVERIFY(menuExtra.theCalendars());
            QCOMPARE(titles(*menuExtra.theCalendars()), QStringList{"A"});
            QCOMPARE(menuExtra.validCalendars(), 0);
        }
    }

    void walkFailures_data() {
        QTest::addColumn<QVariantMap>("info"); // empty: no Info.plist
        QTest::addColumn<QString>("walkLine");
        QTest::newRow("no Info.plist") << QVariantMap() << "infoDict is nil";
        QTest::newRow("no title") << QVariantMap{{"Key", "K"}} << "aCalendar is nil";
        QTest::newRow("title not a string") << QVariantMap{{"Title", 5}} << "aCalendar is nil";
    }

    void walkFailures() {
        QFETCH(QVariantMap, info);
        QFETCH(QString, walkLine);
        QVERIFY(addCalendar("good", {{"Title", "Good"}}));
        QVERIFY(storetest::writeFile(ql::calendarDataPath("bad"), "BEGIN:VCALENDAR\r\n"));
        if (!info.isEmpty())
            QVERIFY(writeInfo("bad", info));

        // Inside a group only the group is lost and the walk goes on.
        QVERIFY(writeNodes({groupNode({sourceNode("bad")}), sourceNode("good")}));
        QLMenuExtra menuExtra;
        testenv::LogRecorder log;
        QVERIFY(menuExtra.loadiCalCalendars());
        QCOMPARE(titles(*menuExtra.theCalendars()), QStringList{"Good"});
        QCOMPARE(log.lines(), QStringList{walkPrefix + walkLine});

        // At the top level the whole load fails and no calendars remain.
        QVERIFY(writeNodes({sourceNode("good"), sourceNode("bad")}));
        log.clear();
        QVERIFY(!menuExtra.loadiCalCalendars());
        QVERIFY(!menuExtra.theCalendars());
        QCOMPARE(log.lines(), (QStringList{walkPrefix + walkLine, unableToParse}));
    }

    // Node lists made to harm the reader end as an unreadable node list (or a skipped
    // calendar), at once and without a crash.
    void hostileNodeLists_data() {
        QTest::addColumn<QByteArray>("nodes");
        QTest::addColumn<QStringList>("titles"); // empty: the node list is unreadable
        QTest::addColumn<QStringList>("log");
        const QByteArray type = "Type", sourceKey = "SourceKey", list = "List";
        {
            // "good" + NUL + "evil": the calendar "good" must not be read in its place.
            testenv::BinaryPlist p;
            const int node =
                p.dictionary({{p.string(type), p.string("CALSourceNode")},
                              {p.string(sourceKey), p.string(QByteArray("good\0evil", 9))}});
            const int other = p.dictionary({{p.string(type), p.string("CALSourceNode")},
                                            {p.string(sourceKey), p.string("other")}});
            const int root = p.dictionary({{p.string(list), p.array({node, other})}});
            QTest::newRow("NUL in a source key")
                << p.build(root) << QStringList{"Other"}
                << QStringList{walkPrefix + "unsafe SourceKey, calendar skipped"};
        }
        {
            testenv::BinaryPlist p;
            int inner = p.array({});
            for (int i = 0; i < 100000; ++i)
                inner = p.array({inner});
            const int root = p.dictionary({{p.string(list), inner}});
            QTest::newRow("100,000 levels deep")
                << p.build(root) << QStringList{} << QStringList{nodesMissing};
        }
        {
            // Each array holds the next one twice: 2^60 nodes once expanded.
            testenv::BinaryPlist p;
            int inner = p.string("x");
            for (int i = 0; i < 60; ++i)
                inner = p.array({inner, inner});
            const int root = p.dictionary({{p.string(list), inner}});
            QTest::newRow("shared references")
                << p.build(root) << QStringList{} << QStringList{nodesMissing};
        }
        {
            // An array that refers to itself.
            testenv::BinaryPlist p;
            const int self = p.reserve();
            const int body = p.array({self});
            p.set(self, body);
            const int root = p.dictionary({{p.string(list), self}});
            QTest::newRow("array holding itself")
                << p.build(root) << QStringList{} << QStringList{nodesMissing};
        }
        QTest::newRow("XML 100,000 levels deep")
            << "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>List</key>" +
                   QByteArray("<array>").repeated(100000) +
                   QByteArray("</array>").repeated(100000) + "</dict></plist>"
            << QStringList{} << QStringList{nodesMissing};
        {
            // A long list is read whole, in order: 300,000 nodes that are no calendars,
            // then one that is.
            testenv::BinaryPlist p;
            QList<int> nodes;
            const int number = p.integer(1);
            for (int i = 0; i < 300000; ++i)
                nodes.append(number);
            nodes.append(p.dictionary({{p.string(type), p.string("CALSourceNode")},
                                       {p.string(sourceKey), p.string("other")}}));
            const int root = p.dictionary({{p.string(list), p.array(nodes)}});
            QTest::newRow("300,000 nodes")
                << p.build(root) << QStringList{"Other"} << QStringList{};
        }
        QTest::newRow("sparse 64 GiB node list")
            << QByteArray("sparse") << QStringList{} << QStringList{nodesMissing};
    }

    void hostileNodeLists() {
        QFETCH(QByteArray, nodes);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, log);
        QVERIFY(addCalendar("good", {{"Title", "Good"}}));
        QVERIFY(addCalendar("other", {{"Title", "Other"}}));
        if (nodes == "sparse") {
            QVERIFY(storetest::writeFile(ql::nodesPath(), ""));
            QCOMPARE(::truncate(QFile::encodeName(ql::nodesPath()).constData(), qint64(64) << 30),
                     0);
        } else {
            QVERIFY(storetest::writeFile(ql::nodesPath(), nodes));
        }
        QLMenuExtra menuExtra;
        testenv::LogRecorder recorder;
        QCOMPARE(menuExtra.loadiCalCalendars(), !titles.isEmpty());
        QCOMPARE(recorder.lines(), log);
        if (!titles.isEmpty())
            QCOMPARE(::titles(*menuExtra.theCalendars()), titles);
        QVERIFY(!menuExtra.theWatchedPaths().contains(ql::calendarDataPath("good")));
    }

    void hugeInfoPlistIsUnreadable() {
        QVERIFY(addCalendar("a", {{"Title", "A"}}));
        QVERIFY(writeNodes({sourceNode("a")}));
        QCOMPARE(
            ::truncate(QFile::encodeName(ql::calendarInfoPath("a")).constData(), qint64(64) << 30),
            0);
        QLMenuExtra menuExtra;
        testenv::LogRecorder log;
        QVERIFY(!menuExtra.loadiCalCalendars());
        QCOMPARE(log.lines(), (QStringList{walkPrefix + "infoDict is nil", unableToParse}));
    }

    // A calendar application that saves by deleting the data file and creating it anew:
    // a load in between misses the calendar, and the store is read again once the file
    // is back.
    void calendarSavedByDeleteThenCreateComesBack() {
        QVERIFY(addCalendar("a", {{"Title", "A"}}));
        QVERIFY(addCalendar("b", {{"Title", "B"}}));
        QVERIFY(writeNodes({sourceNode("a"), sourceNode("b")}));
        QLMenuExtra menuExtra;
        QVERIFY(QFile::remove(ql::calendarDataPath("a")));
        menuExtra.refreshMenu();
        QCOMPARE(titles(*menuExtra.theCalendars()), QStringList{"B"});
        const int refreshes = menuExtra.refreshCount();

        QVERIFY(storetest::writeFile(ql::calendarDataPath("a"),
                                     "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n"));
        QTRY_VERIFY_WITH_TIMEOUT(menuExtra.refreshCount() > refreshes, 10000);
        QCOMPARE(titles(*menuExtra.theCalendars()), (QStringList{"A", "B"}));
        QVERIFY(menuExtra.theWatchedPaths().contains(ql::calendarDataPath("a")));

        // The same when the calendar's whole folder went and comes back.
        QVERIFY(QDir(storetest::storeRoot() + "/Sources/a.calendar").removeRecursively());
        QVERIFY(!menuExtra.loadiCalCalendars());
        QVERIFY(addCalendar("a", {{"Title", "A"}}));
        QTRY_VERIFY_WITH_TIMEOUT(menuExtra.theCalendars() && menuExtra.theCalendars()->size() == 2,
                                 10000);
    }

    // Deleted and created again with no pause between, or after a short one: the
    // calendar is back in the menu, and its new file is watched. The last rows do
    // the other program's step right after the load has looked for the file.
    void dataFileDeletedAndCreatedAgainStaysWatched_data() {
        QTest::addColumn<int>("pauseUs");
        QTest::addColumn<QString>("atTheLook");
        QTest::newRow("no pause") << 0 << "";
        QTest::newRow("1 ms") << 1000 << "";
        QTest::newRow("20 ms") << 20000 << "";
        QTest::newRow("created again right after the look") << 0 << "create";
        QTest::newRow("deleted right after the look") << 0 << "delete";
    }

    void dataFileDeletedAndCreatedAgainStaysWatched() {
        QFETCH(int, pauseUs);
        QFETCH(QString, atTheLook);
        QVERIFY(addCalendar("a", {{"Title", "A"}}));
        QVERIFY(addCalendar("b", {{"Title", "B"}}));
        QVERIFY(writeNodes({sourceNode("a"), sourceNode("b")}));
        const QString data = ql::calendarDataPath("a");
        const QByteArray calendar = "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n";
        QLMenuExtra menuExtra;
        menuExtra.refreshMenu();
        QCOMPARE(titles(*menuExtra.theCalendars()), (QStringList{"A", "B"}));
        bool armed = false;
        QLMenuExtra::setAfterDataFileCheckHook([&](const QString& path) {
            if (!armed || path != data)
                return;
            armed = false;
            if (atTheLook == "create")
                QVERIFY(storetest::writeFile(data, calendar));
            else
                QVERIFY(QFile::remove(data));
        });
        const auto unhook = qScopeGuard([] { QLMenuExtra::setAfterDataFileCheckHook({}); });
        for (int round = 0; round < 3; ++round) {
            const int refreshes = menuExtra.refreshCount();
            if (atTheLook == "create") {
                armed = true;
                QVERIFY(QFile::remove(data));
            } else if (atTheLook == "delete") {
                armed = true;
                menuExtra.refreshMenu(); // finds the file, which goes before the watch
                QVERIFY(!armed);
                QVERIFY(storetest::writeFile(data, calendar));
            } else {
                QVERIFY(QFile::remove(data));
                if (pauseUs)
                    ::usleep(useconds_t(pauseUs));
                QVERIFY(storetest::writeFile(data, calendar));
            }
            QTRY_VERIFY_WITH_TIMEOUT(
                menuExtra.refreshCount() > refreshes + 1 ||
                    (atTheLook.isEmpty() && menuExtra.refreshCount() > refreshes),
                10000);
            // Whatever the refreshes found on the way, the last one shows the calendar.
            QTRY_VERIFY_WITH_TIMEOUT(menuExtra.theCalendars() &&
                                         titles(*menuExtra.theCalendars()) ==
                                             (QStringList{"A", "B"}),
                                     10000);
            QVERIFY(menuExtra.theWatchedPaths().contains(data));
        }
    }

    void nodeShapes() {
        QVERIFY(addCalendar("shown", {{"Title", "Shown"}}));
        QVERIFY(addCalendar("zero", {{"Title", "Zero"}}));
        QVERIFY(addCalendar("false", {{"Title", "False"}}));
        QVERIFY(addCalendar("real", {{"Title", "Real"}}));
        QVERIFY(addCalendar("text", {{"Title", "Text"}}));
        QVERIFY(writeInfo("nodata", {{"Title", "No data"}}));
        QVariantMap zero = sourceNode("zero"), falseNode = sourceNode("false"),
                    real = sourceNode("real"), text = sourceNode("text");
        zero["Selection"] = 0;
        falseNode["Selection"] = false;
        real["Selection"] = 0.0;
        text["Selection"] = "0";
        QVariantMap notAString{{"Type", "CALSourceNode"}, {"SourceKey", 7}};
        QVariantMap groupWithoutList{{"Type", "CALNamedGroupNode"}, {"Subnodes", "nothing"}};
        QVERIFY(writeNodes({sourceNode("shown"), zero, falseNode, real, text, sourceNode("nodata"),
                            notAString, groupWithoutList, groupNode({groupNode({groupNode({})})})},
                           PropertyList::Format::Binary));
        QLMenuExtra menuExtra;
        QVERIFY(menuExtra.loadiCalCalendars());
        QCOMPARE(titles(*menuExtra.theCalendars()), (QStringList{"Shown", "Text"}));
        QCOMPARE(menuExtra.validCalendars(), 5);
    }

    void emptyNodeLists_data() {
        QTest::addColumn<QVariantMap>("root");
        QTest::newRow("empty list") << QVariantMap{{"List", QVariantList{}}};
        QTest::newRow("no list") << QVariantMap{{"Other", 1}};
        QTest::newRow("list not an array") << QVariantMap{{"List", "x"}};
    }

    void emptyNodeLists() {
        QFETCH(QVariantMap, root);
        QVERIFY(storetest::writeFile(ql::nodesPath(), *PropertyList::toData(root)));
        QLMenuExtra menuExtra;
        QVERIFY(menuExtra.loadiCalCalendars());
        QVERIFY(menuExtra.theCalendars());
        QVERIFY(menuExtra.theCalendars()->empty());
        QCOMPARE(menuExtra.validCalendars(), 0);
    }

    void colours_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("red, half alpha")
            << "#FF000080" << QColor::fromRgbF(1.0f, 0.0f, 0.0f, 128.0f / 255.0f);
        QTest::newRow("any leading character")
            << "x00ff00ff" << QColor::fromRgbF(0.0f, 1.0f, 0.0f, 1.0f);
        QTest::newRow("invalid digits read as far as they go")
            << "#G11GZZff" << QColor::fromRgbF(0.0f, 1.0f / 255.0f, 0.0f, 1.0f);
        QTest::newRow("longer text")
            << "#0000FFFFextra" << QColor::fromRgbF(0.0f, 0.0f, 1.0f, 1.0f);
        QTest::newRow("too short") << "#00FF00F" << ql::neutralCalendarColor();
        QTest::newRow("empty") << "" << ql::neutralCalendarColor();
    }

    void colours() {
        QFETCH(QString, text);
        QFETCH(QColor, colour);
        QCOMPARE(QLMenuExtra::colorFromRGBAHex(text), colour);
        QCOMPARE(QLMenuExtra::colorFromRGBAHex("#FF000080").alphaF(), 128.0f / 255.0f);
    }

    void applicationSupportFolderIsTheDataHome() {
        QCOMPARE(QLMenuExtra::applicationSupportFolder(), testenv::dataHome());
        QCOMPARE(QL_Calendar::applicationSupportFolder(), testenv::dataHome());
        QCOMPARE(ql::calendarDataPath("k"),
                 testenv::dataHome() + "/iCal/Sources/k.calendar/corestorage.ics");
    }
};

QUILLO_TEST_MAIN_CORE(TestCalendars)
#include "tst_calendars.moc"
