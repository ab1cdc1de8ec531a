// Folder calendars: a folder of one-object files, read as one calendar, written file
// by file, and followed as files come and go.
#include "store/StoreTestSupport.h"

#include "common/TestEnv.h"
#include "menuextra/QLMenuExtra.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "platform/Alert.h"
#include "platform/Clock.h"
#include "platform/NewFile.h"
#include "platform/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

using platform::PropertyList;

namespace {

QByteArray item(const QString& uid, const QString& summary, const QByteArray& extra = {}) {
    return QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\nBEGIN:VTODO\r\n"
                          "UID:%1\r\nDTSTAMP:20250101T000000Z\r\nSUMMARY:%2\r\n")
               .arg(uid, summary)
               .toUtf8() +
           extra + "END:VTODO\r\nEND:VCALENDAR\r\n";
}

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A store with one folder calendar "Synced" whose items link leads to folder.
bool makeFolderStore(const QString& folder) {
    storetest::removeStore();
    const std::optional<QByteArray> nodes = PropertyList::toData(
        QVariantMap{{"List", QVariantList{QVariantMap{{"Type", "org.quillo.sources.folder"},
                                                      {"SourceKey", "sync"},
                                                      {"ThemeColor", "#3366CCFF"}}}}});
    const std::optional<QByteArray> info = PropertyList::toData(
        QVariantMap{{"Key", "sync"}, {"Title", "Synced"}, {"Type", "org.quillo.sources.folder"}});
    return nodes && info && storetest::writeFile(ql::nodesPath(), *nodes) &&
           storetest::writeFile(ql::calendarInfoPath("sync"), *info) &&
           QFile::link(folder, ql::calendarItemsPath("sync"));
}

QStringList summaries(const QL_Calendar& calendar) {
    QStringList out;
    for (const auto& toDo : calendar.arrayOfToDos())
        out.append(toDo->theSummary().value_or("?") + " @ " +
                   QFileInfo(toDo->theSourceFile().value_or("?")).fileName());
    return out;
}

} // namespace

class TestFolders : public QObject {
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_folder;

private slots:
    void initTestCase() {
        platform::setAlertResponder([](const platform::Alert& alert) {
            qWarning("alert: %s", qPrintable(alert.title));
            return platform::AlertFirstButton;
        });
        platform::Clock::setFixedNow(QDateTime(QDate(2007, 1, 12), QTime(9, 30)));
    }

    void init() {
        m_folder = m_home.filePath(QStringLiteral("todos-%1").arg(QTest::currentTestFunction()));
        QDir(m_folder).removeRecursively();
        QVERIFY(QDir().mkpath(m_folder));
        QVERIFY(makeFolderStore(m_folder));
    }

    // Only the folder's own, visible, readable .ics files are items; one bad file is
    // left out, not the calendar. A reader that knows only data files sees no calendar.
    void readsTheItemsAndSkipsTheRest() {
        QVERIFY(storetest::writeFile(m_folder + "/b.ics", item("b", "Second")));
        QVERIFY(storetest::writeFile(m_folder + "/a.ics", item("a", "First")));
        QVERIFY(storetest::writeFile(m_folder + "/.hidden.ics", item("h", "Hidden")));
        QVERIFY(storetest::writeFile(m_folder + "/a.ics.tmp", item("t", "Temporary")));
        QVERIFY(storetest::writeFile(m_folder + "/latin1.ics",
                                     "BEGIN:VCALENDAR\r\nX:M\xfcll\r\nEND:VCALENDAR\r\n"));
        QVERIFY(QDir().mkpath(m_folder + "/sub.ics"));
        QVERIFY(::mkfifo(QFile::encodeName(m_folder + "/pipe.ics").constData(), 0600) == 0);
        QVERIFY(storetest::writeFile(m_home.filePath("outside.ics"), item("o", "Outside")));
        QVERIFY(QFile::link(m_home.filePath("outside.ics"), m_folder + "/out.ics"));
        QVERIFY(QFile::link(m_folder + "/a.ics", m_folder + "/inside.ics"));
        // Larger than any calendar may be: never read into memory.
        QFile huge(m_folder + "/huge.ics");
        QVERIFY(huge.open(QIODevice::WriteOnly) && huge.resize(qint64(300) << 20));
        huge.close();

        QLMenuExtra menuExtra;
        QVERIFY(menuExtra.loadiCalCalendars());
        QCOMPARE(menuExtra.validCalendars(), 1);
        QL_Calendar& calendar = *menuExtra.theCalendars()->at("Synced");
        QVERIFY(calendar.isFolder());
        testenv::LogRecorder log;
        QVERIFY(calendar.parseForToDos());
        QCOMPARE(summaries(calendar),
                 (QStringList{"First @ a.ics", "Second @ b.ics", "First @ inside.ics"}));
        QCOMPARE(log.lines(),
                 (QStringList{"Quillo :: parseForToDos :: item out.ics leads out of its folder, "
                              "skipped",
                              "Quillo :: parseForToDos :: item huge.ics could not be read, skipped",
                              "Quillo :: parseForToDos :: item latin1.ics could not be read, "
                              "skipped"}));
        QVERIFY(menuExtra.theWatchedPaths().contains(ql::calendarItemsPath("sync")));
        QVERIFY(!QFileInfo::exists(ql::calendarDataPath("sync")));
    }

    // Replace goes to the to-do's own file; Add makes a new file named after the UID and
    // never overwrites one; Remove takes the file with its last to-do, and only the
    // component from a file that holds more.
    void writesFileByFile() {
        const QByteArray second = item("b", "Second");
        QVERIFY(storetest::writeFile(m_folder + "/a.ics", item("a", "First")));
        QVERIFY(storetest::writeFile(m_folder + "/b.ics", second));
        QL_Calendar calendar("sync", "sync", "Synced", std::nullopt,
                             ql::folderCalendarType.toString(), std::nullopt);
        QVERIFY(calendar.parseForToDos());
        const std::shared_ptr<QL_ToDo> first = calendar.arrayOfToDos().at(0)->copyToDo();
        first->setStatus(QStringLiteral("COMPLETED"));
        QVERIFY(first->writeToCalendar(ql::toDoWritePath(first->theSourceFile(), "sync"),
                                       QLWriteActionReplace));
        QCOMPARE(bytesOf(m_folder + "/a.ics"),
                 item("a", "First")
                     .replace("DTSTAMP:20250101T000000Z\r\n",
                              "DTSTAMP:20070112T083000Z\r\nLAST-MODIFIED:20070112T083000Z\r\n"
                              "STATUS:COMPLETED\r\n"));
        QCOMPARE(bytesOf(m_folder + "/b.ics"), second);

        QL_ToDo added(QStringLiteral("new-1"), QStringLiteral("Added"),
                      QStringLiteral("20070112T083000Z"), QStringLiteral("20070112T000000"),
                      QStringLiteral("DTSTART;TZID=Europe/Berlin"), 0.0, QStringLiteral("sync"),
                      QStringLiteral("Synced"), std::nullopt, std::nullopt);
        QCOMPARE(ql::calendarAddPath("sync"), ql::calendarItemsPath("sync"));
        QVERIFY(added.writeToCalendar(ql::calendarAddPath("sync"), QLWriteActionAdd));
        // One calendar, one to-do, its start in UTC as the file has no time zones.
        QCOMPARE(
            QString::fromUtf8(bytesOf(m_folder + "/new-1.ics")),
            QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane//Quillo//EN\r\n"
                           "BEGIN:VTODO\r\nDTSTART:20070111T230000Z\r\nSUMMARY:Added\r\n"
                           "UID:new-1\r\nSEQUENCE:0\r\nDTSTAMP:20070112T083000Z\r\n"
                           "LAST-MODIFIED:20070112T083000Z\r\nEND:VTODO\r\nEND:VCALENDAR\r\n"));
        const QByteArray created = bytesOf(m_folder + "/new-1.ics");
        QVERIFY(!added.writeToCalendar(ql::calendarAddPath("sync"), QLWriteActionAdd));
        QCOMPARE(bytesOf(m_folder + "/new-1.ics"), created);
        QVERIFY(!platform::createFileExclusively(m_folder + "/b.ics", "other"));
        QCOMPARE(bytesOf(m_folder + "/b.ics"), second);
        QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden).size(), 3);

        QVERIFY(calendar.parseForToDos());
        const std::shared_ptr<QL_ToDo> b = calendar.arrayOfToDos().at(1);
        QCOMPARE(b->theUID(), std::optional<QString>("b"));
        QVERIFY(
            b->writeToCalendar(ql::toDoWritePath(b->theSourceFile(), "sync"), QLWriteActionRemove));
        QVERIFY(!QFileInfo::exists(m_folder + "/b.ics"));

        // Two to-dos in one file (as another program may leave it): only one goes.
        QByteArray two = item("c", "Third");
        two.replace("END:VCALENDAR", "BEGIN:VTODO\r\nUID:d\r\nEND:VTODO\r\nEND:VCALENDAR");
        QVERIFY(storetest::writeFile(m_folder + "/c.ics", two));
        QVERIFY(calendar.parseForToDos());
        const auto c =
            std::find_if(calendar.arrayOfToDos().begin(), calendar.arrayOfToDos().end(),
                         [](const auto& t) { return t->theUID() == QStringLiteral("c"); });
        QVERIFY(c != calendar.arrayOfToDos().end());
        QVERIFY((*c)->writeToCalendar(*(*c)->theSourceFile(), QLWriteActionRemove));
        QVERIFY(bytesOf(m_folder + "/c.ics").contains("UID:d"));
        QVERIFY(!bytesOf(m_folder + "/c.ics").contains("UID:c"));
    }

    // A sync replacing a file while the folder is read: every read sees the old file or
    // the new one, whole.
    void fileReplacedDuringReads() {
        QVERIFY(storetest::writeFile(m_folder + "/a.ics", item("a", "Version 0")));
        QL_Calendar calendar("sync", "sync", "Synced", std::nullopt,
                             ql::folderCalendarType.toString(), std::nullopt);
        std::atomic<bool> done{false};
        std::atomic<int> saved{0};
        std::thread saver([&] {
            for (int n = 1; !done; ++n, ++saved) {
                const QString temp = m_folder + QStringLiteral("/.a-%1.tmp").arg(n);
                storetest::writeFile(temp, item("a", QStringLiteral("Version %1").arg(n)));
                // As sync tools save: the new file takes the old one's name at once.
                ::rename(QFile::encodeName(temp).constData(),
                         QFile::encodeName(m_folder + "/a.ics").constData());
            }
        });
        bool whole = true;
        for (int reads = 0; whole && (reads < 300 || saved < 100) && reads < 100000; ++reads)
            whole = calendar.parseForToDos() && calendar.arrayOfToDos().size() == 1 &&
                    calendar.arrayOfToDos()[0]->theSummary()->startsWith("Version ");
        done = true;
        saver.join();
        QVERIFY(whole);
        QVERIFY(saved >= 100);
        QVERIFY(calendar.parseForToDos());
        QVERIFY(calendar.arrayOfToDos()[0]->theSummary() != QStringLiteral("Version 0"));
    }

    // Files arriving, going and replaced rebuild the menu; a folder that goes leaves its
    // calendar in the list, unreadable, and it reads again once the folder is back.
    void followsTheFolder() {
        QVERIFY(QDir(m_folder).removeRecursively() && QDir().mkpath(m_folder));
        QVERIFY(storetest::writeFile(m_folder + "/a.ics", item("a", "First")));
        QLMenuExtra menuExtra;
        menuExtra.refreshMenu();
        int refreshes = menuExtra.refreshCount();
        QVERIFY(storetest::writeFile(m_folder + "/.tmp-x", item("x", "Arrived")));
        QVERIFY(QFile::rename(m_folder + "/.tmp-x", m_folder + "/x.ics"));
        QTRY_VERIFY_WITH_TIMEOUT(menuExtra.refreshCount() > refreshes, 10000);
        QCOMPARE(menuExtra.theCalendars()->at("Synced")->arrayOfToDos().size(), size_t(2));

        refreshes = menuExtra.refreshCount();
        const QString away = m_folder + ".away";
        QVERIFY(QFile::rename(m_folder, away));
        menuExtra.refreshMenu();
        QVERIFY(menuExtra.theCalendars()->count("Synced"));
        QVERIFY(!menuExtra.theCalendars()->at("Synced")->parseForToDos());

        refreshes = menuExtra.refreshCount();
        QVERIFY(QFile::rename(away, m_folder));
        QTRY_VERIFY_WITH_TIMEOUT(menuExtra.refreshCount() > refreshes, 10000);
        QVERIFY(menuExtra.theCalendars()->at("Synced")->parseForToDos());
        QCOMPARE(menuExtra.theCalendars()->at("Synced")->arrayOfToDos().size(), size_t(2));
    }
};

QUILLO_TEST_MAIN_CORE(TestFolders)
#include "tst_folders.moc"
