// The to-do menu of the menu extra: every shape and grouping as dumps compared with
// the expected ones in tests/data/menu/expected, over the stores of
// tests/data/menu/stores with the clock fixed; the sort orders, trimming, icons, tags,
// and the menu drawn on the offscreen platform.
//
// QUILLO_UPDATE_EXPECTED=1 writes the dumps instead of comparing them (then read them).
#include "common/TestEnv.h"
#include "store/StoreTestSupport.h"

#include "menuextra/QLMenuExtra.h"
#include "platform/Clock.h"
#include "platform/MenuWidget.h"
#include "platform/Preferences.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QFile>
#include <QtTest>

using namespace platform;

namespace {

const QString dataDir = QStringLiteral(QUILLO_TEST_DATA "/menu");
const QString paneBuilt = QStringLiteral(QUILLO_BUILD_DIR "/Quillo.prefPane");
const QString menuBundlePath = paneBuilt + QStringLiteral("/Contents/Resources/Quillo.menu");

// The settings the menu reads, at their defaults; each case changes some.
const QVariantMap menuDefaults = {
    {"useSmallFontSize", false},
    {"sortOrder", 0},
    {"showDueDates", false},
    {"showLabels", true},
    {"showTooltips", true},
    {"informationalIcons", 1},
    {"highlightOverdueItems", false},
    {"colorItemsByCalendarColor", false},
    {"hideToDoItemsAfterCompletion", false},
    {"numberOfDaysAfterCompletion", 7},
    {"showToDoItemsDue", false},
    {"numberOfDaysBeforeDue", 7},
    {"menuIconImage", 0},
    {"trimLongTitles", false},
    {"trimLongTitlesLength", 40},
    {"hideSubscribedCalendars", false},
    {"dueDateOnRight", true},
};

// "sortOrder=1 showDueDates=1" over the defaults, each stored with its setting's type.
void applySettings(const QString& changes) {
    QVariantMap values = menuDefaults;
    for (const QString& change : changes.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = change.section(QLatin1Char('='), 0, 0);
        const int value = change.section(QLatin1Char('='), 1).toInt();
        QVERIFY2(values.contains(key), qPrintable(key));
        values[key] =
            values[key].typeId() == QMetaType::Bool ? QVariant(value != 0) : QVariant(value);
    }
    // Set in this process only: the menu reads the settings without synchronising.
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        platform::preferencesSetAppValue(it.key(), it.value(), kQLApplicationID);
}

bool installMenuStore(const QString& name) {
    if (name == QLatin1String("missing")) {
        storetest::removeStore();
        return true;
    }
    return storetest::installStore(QStringLiteral("../menu/stores/") + name);
}

void linkPane(bool present) {
    const QString link = testenv::dataHome() + QStringLiteral("/PreferencePanes/Quillo.prefPane");
    QFile::remove(link);
    if (present) {
        QDir().mkpath(QFileInfo(link).path());
        QFile::link(paneBuilt, link);
    }
}

std::unique_ptr<QLMenuExtra> makeMenuExtra() {
    auto extra = std::make_unique<QLMenuExtra>(Bundle::bundleWithPath(menuBundlePath));
    extra->loadMenuIcons();
    return extra;
}

// Compares line by line so that a failure names the first line that differs.
void compareWithExpected(const QString& dump, const QString& name) {
    const QString path = dataDir + QStringLiteral("/expected/") + name + QStringLiteral(".txt");
    if (qEnvironmentVariableIsSet("QUILLO_UPDATE_EXPECTED")) {
        QDir().mkpath(QFileInfo(path).path());
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(dump.toUtf8());
        return;
    }
    QFile in(path);
    QVERIFY2(in.open(QIODevice::ReadOnly), qPrintable(path));
    const QStringList expected = QString::fromUtf8(in.readAll()).split(QLatin1Char('\n'));
    const QStringList actual = dump.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < std::max(expected.size(), actual.size()); ++i) {
        const QString want = expected.value(i, QStringLiteral("<end>"));
        const QString got = actual.value(i, QStringLiteral("<end>"));
        if (want != got)
            QFAIL(qPrintable(QStringLiteral("%1, line %2:\n  expected: %3\n  actual:   %4\n%5")
                                 .arg(name)
                                 .arg(i + 1)
                                 .arg(want, got, dump)));
    }
}

std::shared_ptr<QL_ToDo> record(const char* summary, std::optional<int> priority = {},
                                const char* due = nullptr, const char* completed = nullptr) {
    auto toDo = std::make_shared<QL_ToDo>();
    if (summary)
        toDo->setSummary(QString::fromUtf8(summary));
    toDo->setPriority(priority);
    if (due)
        toDo->setDueDate(QString::fromLatin1(due));
    if (completed)
        toDo->setCompletedDate(QString::fromLatin1(completed));
    return toDo;
}

const QString finalText = QStringLiteral("Final");

} // namespace

class TestMenuExtra : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void menuDumps_data();
    void menuDumps();
    void valuesOutOfRangeReadAsTheirDefault_data();
    void valuesOutOfRangeReadAsTheirDefault();
    void unreadableCalendarHidesOnlyItsOwnToDos_data();
    void unreadableCalendarHidesOnlyItsOwnToDos();
    void comparisons_data();
    void comparisons();
    void sortIsStable();
    void titleOrderFoldsCaseLikeTheComparison();
    void trimming_data();
    void trimming();
    void menuBarIconPerSetting_data();
    void menuBarIconPerSetting();
    void tagsKeyTheRepository();
    void errorStatesAskForARefresh();
    void withoutThePaneKeysStandInForTexts();
    void renderedMenu();
};

void TestMenuExtra::initTestCase() {
    platform::Clock::setFixedNow(QDateTime(QDate(2007, 1, 15), QTime(10, 0), Qt::LocalTime));
    QVERIFY(QFileInfo::exists(menuBundlePath + QStringLiteral("/Contents/Info.plist")));
}

void TestMenuExtra::init() {
    linkPane(true);
    applySettings(QString());
}

void TestMenuExtra::menuDumps_data() {
    QTest::addColumn<QString>("store");
    QTest::addColumn<QString>("settings");
    // The five shapes of the menu.
    QTest::newRow("shape-store-missing") << "missing"
                                         << "";
    QTest::newRow("shape-no-calendars") << "empty"
                                        << "";
    QTest::newRow("shape-no-data-files") << "nodata"
                                         << "";
    QTest::newRow("shape-no-visible-calendars") << "hidden"
                                                << "";
    QTest::newRow("shape-nothing-to-list") << "events"
                                           << "";
    QTest::newRow("shape-subscriptions-hidden") << "subscribed"
                                                << "hideSubscribedCalendars=1";
    QTest::newRow("shape-subscriptions-shown") << "subscribed"
                                               << "";
    QTest::newRow("shape-all-filtered") << "done"
                                        << "hideToDoItemsAfterCompletion=1 "
                                           "numberOfDaysAfterCompletion=0";
    // The groupings, each with other item settings.
    QTest::newRow("by-calendar") << "mixed"
                                 << "";
    QTest::newRow("by-calendar-coloured-small")
        << "mixed"
        << "colorItemsByCalendarColor=1 useSmallFontSize=1 showTooltips=0";
    QTest::newRow("by-due-date")
        << "mixed"
        << "sortOrder=1 showDueDates=1 dueDateOnRight=0 informationalIcons=2";
    QTest::newRow("by-due-date-no-labels") << "mixed"
                                           << "sortOrder=1 showLabels=0";
    QTest::newRow("by-priority") << "mixed"
                                 << "sortOrder=2 highlightOverdueItems=1 showTooltips=0";
    QTest::newRow("by-status") << "mixed"
                               << "sortOrder=3 informationalIcons=0 showDueDates=1";
    QTest::newRow("by-title-trimmed")
        << "mixed"
        << "sortOrder=4 trimLongTitles=1 trimLongTitlesLength=8 informationalIcons=0";
    // The filters at their limits.
    QTest::newRow("filter-due-within-3-days")
        << "mixed"
        << "sortOrder=1 showToDoItemsDue=1 numberOfDaysBeforeDue=3 showTooltips=0";
    QTest::newRow("filter-completed-at-once")
        << "mixed"
        << "sortOrder=3 hideToDoItemsAfterCompletion=1 numberOfDaysAfterCompletion=0 "
           "showTooltips=0";
    QTest::newRow("filter-completed-within-14-days")
        << "mixed"
        << "sortOrder=3 hideToDoItemsAfterCompletion=1 numberOfDaysAfterCompletion=15 "
           "showTooltips=0";
}

void TestMenuExtra::menuDumps() {
    QFETCH(QString, store);
    QFETCH(QString, settings);
    QVERIFY(installMenuStore(store));
    applySettings(settings);
    auto extra = makeMenuExtra();
    extra->refreshMenu();
    const QString dump = dumpMenu(extra->theMenu());
    compareWithExpected(dump, QString::fromLatin1(QTest::currentDataTag()));
    // A second rebuild of an unchanged store gives the same menu.
    QCOMPARE(dumpMenu(*extra->menu()), dump);
}

// A stored value outside its setting's range reads as the default, and a negative day
// count as 0: the menu is the one those values give.
void TestMenuExtra::valuesOutOfRangeReadAsTheirDefault_data() {
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("inEffect");
    QTest::newRow("sortOrder 7") << "sortOrder=7"
                                 << "sortOrder=0";
    QTest::newRow("sortOrder -1") << "sortOrder=-1 showDueDates=1"
                                  << "showDueDates=1";
    QTest::newRow("informationalIcons 3") << "sortOrder=4 informationalIcons=3"
                                          << "sortOrder=4 informationalIcons=1";
    QTest::newRow("negative days after completion")
        << "sortOrder=3 hideToDoItemsAfterCompletion=1 numberOfDaysAfterCompletion=-1"
        << "sortOrder=3 hideToDoItemsAfterCompletion=1 numberOfDaysAfterCompletion=0";
    QTest::newRow("days before due -999999")
        << "sortOrder=1 showToDoItemsDue=1 numberOfDaysBeforeDue=-999999"
        << "sortOrder=1 showToDoItemsDue=1 numberOfDaysBeforeDue=0";
}

void TestMenuExtra::valuesOutOfRangeReadAsTheirDefault() {
    QFETCH(QString, settings);
    QFETCH(QString, inEffect);
    QVERIFY(installMenuStore(QStringLiteral("mixed")));
    applySettings(inEffect);
    auto extra = makeMenuExtra();
    extra->refreshMenu();
    const QString expected = dumpMenu(extra->theMenu());
    QVERIFY(!expected.contains(QStringLiteral("\"No To-Dos\"")));
    applySettings(settings);
    extra->refreshMenu();
    QCOMPARE(dumpMenu(extra->theMenu()), expected);
}

void TestMenuExtra::unreadableCalendarHidesOnlyItsOwnToDos_data() {
    QTest::addColumn<int>("sortOrder");
    for (int order = 0; order <= 4; ++order)
        QTest::addRow("sortOrder %d", order) << order;
}

void TestMenuExtra::unreadableCalendarHidesOnlyItsOwnToDos() {
    QFETCH(int, sortOrder);
    QVERIFY(installMenuStore(QStringLiteral("unreadable")));
    applySettings(QStringLiteral("showTooltips=0 sortOrder=") + QString::number(sortOrder));
    testenv::LogRecorder log;
    auto extra = makeMenuExtra();
    extra->refreshMenu();
    const QString withBroken = dumpMenu(extra->theMenu());
    QVERIFY(log.contains(QStringLiteral(
        "Quillo :: refreshMenu :: calendar Garage could not be read, its to-dos are not shown")));

    // The same menu as a store without that calendar.
    QVERIFY(installMenuStore(QStringLiteral("mixed")));
    extra->refreshMenu();
    QCOMPARE(withBroken, dumpMenu(extra->theMenu()));
    QCOMPARE(extra->theToDoRepository().size(), std::size_t(12));
}

void TestMenuExtra::comparisons_data() {
    QTest::addColumn<std::shared_ptr<QL_ToDo>>("first");
    QTest::addColumn<std::shared_ptr<QL_ToDo>>("second");
    QTest::addColumn<int>("title");
    QTest::addColumn<int>("priority");
    QTest::addColumn<int>("priorityWithContext");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("dueDate");

    QTest::newRow("banana, Apple, same priority")
        << record("banana", 3) << record("Apple", 3) << 1 << 1 << 0 << 0 << 1;
    QTest::newRow("same title other case")
        << record("apple") << record("APPLE") << 0 << 0 << 0 << 0 << 0;
    QTest::newRow("no summary before any")
        << record(nullptr) << record("a") << -1 << -1 << 0 << 0 << -1;
    QTest::newRow("no priority after 9")
        << record("a") << record("b", 9) << -1 << 1 << 1 << 0 << -1;
    QTest::newRow("priority 0 like none") << record("b", 0) << record("a") << 1 << 1 << 0 << 0 << 1;
    QTest::newRow("negative first") << record("z", -3) << record("a", 1) << 1 << -1 << -1 << 0 << 1;
    QTest::newRow("12 after none") << record("a", 12) << record("b") << -1 << 1 << 1 << 0 << -1;
    QTest::newRow("overdue before open")
        << record("z", {}, "20070101") << record("a") << 1 << 1 << 0 << -1 << -1;
    QTest::newRow("open before completed")
        << record("z") << record("a", {}, nullptr, "20070101T000000Z") << 1 << 1 << 0 << -1 << 1;
    QTest::newRow("completed past due is not overdue")
        << record("a", {}, "20070101", "20070102T000000Z") << record("b", {}, "20070102") << -1
        << -1 << 0 << 1 << -1;
    QTest::newRow("earlier due first")
        << record("z", {}, "20070120") << record("a", {}, "20070121") << 1 << 1 << 0 << 0 << -1;
    QTest::newRow("due date before none")
        << record("z", {}, "20991231") << record("a") << 1 << 1 << 0 << 0 << -1;
    QTest::newRow("unreadable due like none")
        << record("b", {}, "garbage") << record("a") << 1 << 1 << 0 << 0 << 1;
    QTest::newRow("same day, other time") << record("b", {}, "20070120T090000Z")
                                          << record("a", {}, "20070120") << 1 << 1 << 0 << 0 << 1;
}

void TestMenuExtra::comparisons() {
    QFETCH(std::shared_ptr<QL_ToDo>, first);
    QFETCH(std::shared_ptr<QL_ToDo>, second);
    QFETCH(int, title);
    QFETCH(int, priority);
    QFETCH(int, priorityWithContext);
    QFETCH(int, status);
    QFETCH(int, dueDate);
    QCOMPARE(titleSort(*first, *second, nullptr), title);
    QCOMPARE(titleSort(*second, *first, &finalText), -title);
    QCOMPARE(prioritySort(*first, *second, nullptr), priority);
    QCOMPARE(prioritySort(*second, *first, nullptr), -priority);
    QCOMPARE(prioritySort(*first, *second, &finalText), priorityWithContext);
    // Equal keys with a context are the same; without one they go by title.
    QCOMPARE(statusSort(*first, *second, &finalText), status);
    QCOMPARE(statusSort(*first, *second, nullptr), status != 0 ? status : title);
    QCOMPARE(dueDateSort(*first, *second, &finalText), dueDate);
    QCOMPARE(dueDateSort(*second, *first, nullptr), -dueDate);
}

void TestMenuExtra::sortIsStable() {
    // Two to-dos equal in every key keep the order of the store: the calendar grouping
    // lists "Apple" (h2) before "apple"-like twins in file order.
    QVERIFY(installMenuStore(QStringLiteral("mixed")));
    const QString ics =
        storetest::storeRoot() + QStringLiteral("/Sources/home.calendar/corestorage.ics");
    QFile file(ics);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    text.replace("SUMMARY:banana", "SUMMARY:APPLE");
    QVERIFY(storetest::writeFile(ics, text));
    applySettings(QStringLiteral("sortOrder=2 showTooltips=0"));
    auto extra = makeMenuExtra();
    extra->refreshMenu();
    QStringList titles;
    for (const auto& item : extra->theMenu().itemArray())
        titles << item->title();
    // Both priority 3: "APPLE" (first in the file) stays before "Apple".
    QCOMPARE(titles.mid(titles.indexOf("APPLE"), 2), QStringList({"APPLE", "Apple"}));
}

void TestMenuExtra::titleOrderFoldsCaseLikeTheComparison() {
    // Titles whose case folding is not plain ASCII: the title grouping orders them as a
    // case-insensitive comparison does, letters outside the first plane included.
    QVERIFY(installMenuStore(QStringLiteral("mixed")));
    const QString ics =
        storetest::storeRoot() + QStringLiteral("/Sources/home.calendar/corestorage.ics");
    QFile file(ics);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QByteArray text = file.readAll();
    file.close();
    text.replace("SUMMARY:banana", "SUMMARY:\xc3\x9f\xc3\xa4 \xce\xa3");      // "ßä Σ"
    text.replace("SUMMARY:Apple", "SUMMARY:\xc2\xb5 \xf0\x90\x90\x80");       // "µ 𐐀"
    text.replace("SUMMARY:Call bank", "SUMMARY:\xce\xbc \xf0\x90\x90\xa8");   // "μ 𐐨"
    text.replace("SUMMARY:Meeting", "SUMMARY:\xe1\xba\x9e\xc3\x84 \xcf\x82"); // "ẞÄ ς"
    QVERIFY(storetest::writeFile(ics, text));
    applySettings(QStringLiteral("sortOrder=4 showTooltips=0 showLabels=0"));
    auto extra = makeMenuExtra();
    extra->refreshMenu();
    QStringList titles;
    for (const auto& item : extra->theMenu().itemArray())
        if (item->action().selector == QLatin1String("toDoMenuItemSelected:"))
            titles << item->title();
    QVERIFY(titles.contains(QString::fromUtf8("\xc2\xb5 \xf0\x90\x90\x80")));
    for (qsizetype i = 1; i < titles.size(); ++i)
        QVERIFY2(QString::compare(titles[i - 1], titles[i], Qt::CaseInsensitive) <= 0,
                 qPrintable(titles[i - 1] + QStringLiteral(" before ") + titles[i]));
}

void TestMenuExtra::trimming_data() {
    QTest::addColumn<QString>("summary");
    QTest::addColumn<bool>("trim");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("title");
    const QString ten = QStringLiteral("0123456789");
    const QChar e(0x2026);
    QTest::newRow("10 of 10 whole") << ten << true << 10 << ten;
    QTest::newRow("11 of 10 cut") << ten + "A" << true << 10 << ten + e;
    QTest::newRow("off") << ten + "A" << false << 10 << ten + "A";
    QTest::newRow("negative never trims") << ten + "A" << true << -1 << ten + "A";
    QTest::newRow("zero") << ten << true << 0 << QString(e);
    QTest::newRow("empty") << QString() << true << 0 << QString();
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("pair kept whole") << "abc" + smile + "d" << true << 5 << "abc" + smile + e;
    QTest::newRow("pair never split")
        << "abc" + smile + "d" << true << 4 << QStringLiteral("abc") + e;
    QTest::newRow("cut before pair")
        << "abc" + smile + "d" << true << 3 << QStringLiteral("abc") + e;
}

void TestMenuExtra::trimming() {
    QFETCH(QString, summary);
    QFETCH(bool, trim);
    QFETCH(int, length);
    QFETCH(QString, title);
    QCOMPARE(QLMenuExtra::trimmedTitle(summary, trim, length), title);
}

void TestMenuExtra::menuBarIconPerSetting_data() {
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("design");
    QTest::addColumn<QString>("image");
    QTest::addColumn<QString>("alternate");
    QTest::newRow("0") << 0 << 0 << "graphiteToDoMenuIcon"
                       << "graphiteToDoMenuIcon_Alt";
    QTest::newRow("1") << 0 << 1 << "graphiteToDoMenuIconAlternative"
                       << "graphiteToDoMenuIconAlternative_Alt";
    QTest::newRow("2") << 0 << 2 << "graphiteToDoMenuIconCalendar"
                       << "graphiteToDoMenuIconCalendar_Alt";
    QTest::newRow("3") << 0 << 3 << "blueToDoMenuIcon"
                       << "graphiteToDoMenuIcon_Alt";
    QTest::newRow("4") << 0 << 4 << "blueToDoMenuIconAlternative"
                       << "graphiteToDoMenuIconAlternative_Alt";
    QTest::newRow("5") << 0 << 5 << "blueToDoMenuIconCalendar"
                       << "graphiteToDoMenuIconCalendar_Alt";
    // Outside the six designs: the default design, as the pane shows it.
    QTest::newRow("9 after 1 is the default") << 1 << 9 << "graphiteToDoMenuIcon"
                                              << "graphiteToDoMenuIcon_Alt";
    QTest::newRow("-1 after 5 is the default") << 5 << -1 << "graphiteToDoMenuIcon"
                                               << "graphiteToDoMenuIcon_Alt";
}

void TestMenuExtra::menuBarIconPerSetting() {
    QFETCH(int, before);
    QFETCH(int, design);
    QFETCH(QString, image);
    QFETCH(QString, alternate);
    struct Host : NSMenuExtraHost {
        void menuExtraImagesChanged(NSMenuExtra*) override { ++changes; }
        void menuExtraPopUpMenu(NSMenuExtra*, NSMenu*) override {}
        int changes = 0;
    } host;
    auto extra = makeMenuExtra();
    extra->setHost(&host);
    applySettings(QStringLiteral("menuIconImage=") + QString::number(before));
    extra->setMenuIcon();
    applySettings(QStringLiteral("menuIconImage=") + QString::number(design));
    extra->setMenuIcon();
    QVERIFY(extra->image());
    QCOMPARE(extra->image()->name(), image);
    QCOMPARE(extra->alternateImage()->name(), alternate);
    QCOMPARE(extra->theMenuImage(), extra->image());
    QCOMPARE(extra->theMenuImageAlternative(), extra->alternateImage());
    QVERIFY(host.changes >= 2);
    extra->setHost(nullptr);

    // Every picture the designs and items name is in the bundle and can be drawn.
    QVERIFY(extra->imagePriorityNone() && extra->imagePriorityNotImportant() &&
            extra->imagePriorityImportant() && extra->imagePriorityVeryImportant() &&
            extra->imageExpiredToDo() && extra->imageCheckedToDo() && extra->imageUnCheckedToDo());
    QCOMPARE(QIcon(extra->image()->path()).pixmap(QSize(22, 22), 2.0).size(), QSize(44, 44));
}

void TestMenuExtra::tagsKeyTheRepository() {
    QVERIFY(installMenuStore(QStringLiteral("mixed")));
    applySettings(QStringLiteral("sortOrder=1"));
    auto extra = makeMenuExtra();
    extra->refreshMenu();
    QStringList expectedKeys;
    int next = 0;
    std::shared_ptr<NSMenuItem> firstToDoItem;
    for (const auto& item : extra->theMenu().itemArray()) {
        if (item->action().selector != QLatin1String("toDoMenuItemSelected:")) {
            QCOMPARE(item->tag(), 0);
            QVERIFY(!extra->toDoForMenuItem(item.get()));
            continue;
        }
        QCOMPARE(item->tag(), next);
        QCOMPARE(item->target(), static_cast<const void*>(extra.get()));
        const auto record = extra->toDoForMenuItem(item.get());
        QVERIFY(record);
        QVERIFY(item->title().startsWith(record->theSummary().value_or(QString())));
        QCOMPARE(extra->theToDoRepository().at(QString::number(next)), record);
        if (!firstToDoItem)
            firstToDoItem = item;
        ++next;
    }
    QCOMPARE(next, 12);
    QCOMPARE(extra->theToDoTagCounter(), 12);
    QCOMPARE(extra->theToDoRepository().size(), std::size_t(12));

    // After a rebuild an item of the old menu reaches no record, although a new item
    // carries its tag.
    extra->refreshMenu();
    QVERIFY(!extra->toDoForMenuItem(firstToDoItem.get()));
    QCOMPARE(extra->theToDoTagCounter(), 12);
}

void TestMenuExtra::errorStatesAskForARefresh() {
    QVERIFY(installMenuStore(QStringLiteral("missing")));
    testenv::LogRecorder log;
    auto extra = makeMenuExtra();
    NSMenu* const menu = &extra->theMenu();
    extra->refreshMenu();
    QVERIFY(extra->needsRefresh());
    QVERIFY(log.contains(QStringLiteral("Quillo :: refreshMenu :: loadiCalCalendars failed")));
    QVERIFY(log.contains(
        QStringLiteral("Possible reasons include iCal files are being written to or missing.\r")));
    QVERIFY(!extra->theMenu().autoenablesItems());
    // The menu object stays the one a host may be showing.
    QCOMPARE(&extra->theMenu(), menu);

    // Refresh, under Option, rebuilds from the store that has come back.
    const NSMenuItemPtr refresh = extra->theMenu().itemAtIndex(1);
    QCOMPARE(refresh->action().selector, QStringLiteral("refreshMenu"));
    QVERIFY(refresh->isAlternate());
    QCOMPARE(refresh->keyEquivalentModifierMask(), unsigned(NSAlternateKeyMask));
    QVERIFY(installMenuStore(QStringLiteral("mixed")));
    const int before = extra->refreshCount();
    refresh->action().call(refresh.get());
    QCOMPARE(extra->refreshCount(), before + 1);
    QCOMPARE(extra->theToDoRepository().size(), std::size_t(12));
    QVERIFY(extra->needsRefresh()); // only the host's request clears it
    extra->menu();
    QVERIFY(!extra->needsRefresh());
}

void TestMenuExtra::withoutThePaneKeysStandInForTexts() {
    linkPane(false);
    QVERIFY(installMenuStore(QStringLiteral("mixed")));
    applySettings(QStringLiteral("sortOrder=3"));
    auto extra = makeMenuExtra();
    QVERIFY(!extra->theBundle());
    extra->refreshMenu();
    compareWithExpected(dumpMenu(extra->theMenu()), QStringLiteral("no-pane-by-status"));
}

void TestMenuExtra::renderedMenu() {
    QVERIFY(installMenuStore(QStringLiteral("mixed")));
    applySettings(QStringLiteral("sortOrder=4 colorItemsByCalendarColor=1 informationalIcons=2"));
    auto extra = makeMenuExtra();
    MenuWidget menu(*extra->menu());
    menu.popup(QPoint(10, 10));
    QVERIFY(QTest::qWaitForWindowExposed(&menu));
    const QImage image = menu.grab().toImage().convertToFormat(QImage::Format_RGB32);

    const auto itemTitled = [&](const QString& title) -> NSMenuItem* {
        for (const auto& item : extra->theMenu().itemArray())
            if (item->title() == title)
                return item.get();
        return nullptr;
    };
    const auto pixels = [&](NSMenuItem* item, const std::function<bool(QColor)>& test) {
        const QRect rect = menu.actionGeometry(menu.actionForItem(item)).intersected(image.rect());
        int count = 0;
        for (int y = rect.top(); y <= rect.bottom(); ++y)
            for (int x = rect.left(); x <= rect.right(); ++x)
                count += test(QColor(image.pixel(x, y))) ? 1 : 0;
        return count;
    };
    // "Quarterly report" is a Work to-do: its text in Work's blue (#1F6FD6).
    NSMenuItem* work = itemTitled(QStringLiteral("Quarterly report"));
    QVERIFY(work);
    const auto workBlue = [](QColor c) {
        return c.blue() > 150 && c.red() < 90 && c.green() > 70 && c.green() < 150;
    };
    QVERIFY(pixels(work, workBlue) > 20);
    // "Call bank" (Home, red) shows no blue text, and its open-status picture is drawn.
    NSMenuItem* home = itemTitled(QStringLiteral("Call bank"));
    QVERIFY(home);
    QCOMPARE(pixels(home, workBlue), 0);
    QVERIFY(pixels(home, [](QColor c) { return c.red() > 150 && c.green() < 90; }) > 20);
    // The completed to-do's green check picture.
    QVERIFY(pixels(itemTitled(QStringLiteral("Finished today")), [](QColor c) {
                return c.green() > 120 && c.red() < 90 && c.blue() < 120;
            }) > 30);

    // Alt shows "Open Calendar" where "New To-Do…" stood.
    NSMenuItem* newToDo = extra->theMenu().itemAtIndex(0).get();
    NSMenuItem* openCalendar = extra->theMenu().itemAtIndex(1).get();
    QCOMPARE(openCalendar->action().selector, QStringLiteral("openiCal:"));
    const QRect place = menu.actionGeometry(menu.actionForItem(newToDo));
    QKeyEvent altDown(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
    QApplication::sendEvent(&menu, &altDown);
    QVERIFY(menu.actionForItem(openCalendar)->isVisible());
    QVERIFY(!menu.actionForItem(newToDo)->isVisible());
    QTRY_COMPARE(menu.actionGeometry(menu.actionForItem(openCalendar)).topLeft(), place.topLeft());
    QKeyEvent altUp(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
    QApplication::sendEvent(&menu, &altUp);
    QVERIFY(menu.actionForItem(newToDo)->isVisible());
    menu.hide();

    // The small font is smaller than the standard one in the drawn menu.
    applySettings(QStringLiteral("sortOrder=4 useSmallFontSize=1"));
    MenuWidget small(*extra->menu());
    QVERIFY(small.actionForItem(extra->theMenu().itemAtIndex(0).get())->font().pointSizeF() <
            menu.actionForItem(newToDo)->font().pointSizeF());
    QVERIFY(small.sizeHint().height() < menu.sizeHint().height());
}

int main(int argc, char** argv) {
    testenv::isolateHome();
    // Dates in the dumps in a common English form, whatever the machine's locale.
    qputenv("LC_ALL", "en_US.UTF-8");
    qputenv("LANG", "en_US.UTF-8");
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestMenuExtra tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_menuextra.moc"
