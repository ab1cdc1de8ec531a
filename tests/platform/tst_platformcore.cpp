#include "common/TestEnv.h"

#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/Folders.h"
#include "platform/LocalZone.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/TextFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::PropertyList;

namespace {

bool putBytes(const QString& path, const QByteArray& bytes, QIODevice::OpenMode mode = {}) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | mode) && file.write(bytes) == bytes.size();
}

QByteArray bytesOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Sets the file's modification time, seconds from now.
bool setAge(const QString& path, qint64 seconds) {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const timespec times[2] = {now, {now.tv_sec - time_t(seconds), now.tv_nsec}};
    return ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) == 0;
}

} // namespace

class TestPlatformCore : public QObject {
    Q_OBJECT

private slots:
    void propertyListRoundTrip_data() {
        QTest::addColumn<int>("format");
        QTest::newRow("xml") << int(PropertyList::Format::Xml);
        QTest::newRow("binary") << int(PropertyList::Format::Binary);
    }

    void propertyListRoundTrip() {
        QFETCH(int, format);
        QVariantMap node{
            {"Type", "CALSourceNode"}, {"Selection", 0}, {"Name", QString::fromUtf8("Küche ✓")}};
        const QDateTime stamp(QDate(2007, 1, 10), QTime(12, 0), QTimeZone::utc());
        QVariantMap root{{"List", QVariantList{node, QVariantMap{{"Subnodes", QVariantList{}}}}},
                         {"Flag", true},
                         {"Negative", -42},
                         {"Real", 2.5},
                         {"Data", QByteArray("\x00\x01\xff", 3)},
                         {"When", stamp}};
        const std::optional<QByteArray> bytes =
            PropertyList::toData(root, PropertyList::Format(format));
        QVERIFY(bytes);
        const std::optional<QVariant> back = PropertyList::fromData(*bytes);
        QVERIFY(back);
        const QVariantMap map = back->toMap();
        QCOMPARE(map.value("Flag").typeId(), QMetaType::Bool);
        QCOMPARE(map.value("Flag").toBool(), true);
        QCOMPARE(map.value("Negative").toLongLong(), -42);
        QCOMPARE(map.value("Real").toDouble(), 2.5);
        QCOMPARE(map.value("Data").toByteArray(), QByteArray("\x00\x01\xff", 3));
        QCOMPARE(map.value("When").toDateTime(), stamp);
        const QVariantList list = map.value("List").toList();
        QCOMPARE(list.size(), 2);
        QCOMPARE(list.at(0).toMap().value("Name").toString(), QString::fromUtf8("Küche ✓"));
        QCOMPARE(list.at(0).toMap().value("Selection").toInt(), 0);
    }

    // Binary lists keep dates to the millisecond, before their reference date (2001)
    // as after it.
    void propertyListDatesKeepTheirMilliseconds() {
        for (const QDateTime& when :
             {QDateTime(QDate(2007, 1, 10), QTime(12, 0, 0, 1), QTimeZone::utc()),
              QDateTime(QDate(1999, 7, 3), QTime(10, 20, 30, 250), QTimeZone::utc()),
              QDateTime(QDate(2000, 12, 31), QTime(23, 59, 58, 750), QTimeZone::utc()),
              QDateTime(QDate(1933, 1, 1), QTime(0, 0, 0, 500), QTimeZone::utc())}) {
            const std::optional<QByteArray> bytes =
                PropertyList::toData(QVariantList{when}, PropertyList::Format::Binary);
            QVERIFY(bytes);
            const std::optional<QVariant> back = PropertyList::fromData(*bytes);
            QVERIFY(back);
            QCOMPARE(back->toList().value(0).toDateTime(), when);
        }
    }

    void propertyListRejectsMalformedInput_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("text") << QByteArray("hello, world");
        QTest::newRow("truncated xml") << QByteArray(
            "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>List</key><arr");
        QTest::newRow("truncated binary") << QByteArray("bplist00\xd1\x01\x02", 11);
        QTest::newRow("nul bytes") << QByteArray(64, '\0');
    }

    void propertyListRejectsMalformedInput() {
        QFETCH(QByteArray, bytes);
        QVERIFY(!PropertyList::fromData(bytes));
    }

    void dictionaryFromFileNeedsADictionary() {
        QTemporaryDir dir;
        const QString path = dir.filePath("array.plist");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(*PropertyList::toData(QVariantList{1, 2}));
        f.close();
        QVERIFY(PropertyList::fromFile(path));
        QVERIFY(!PropertyList::dictionaryFromFile(path));
        QVERIFY(!PropertyList::dictionaryFromFile(dir.filePath("missing.plist")));
        QVERIFY(!PropertyList::dictionaryFromFile(dir.path())); // a folder is no file
    }

    void strictUtf8() {
        QCOMPARE(*platform::decodeUtf8("caf\xc3\xa9"), QString::fromUtf8("café"));
        QVERIFY(!platform::decodeUtf8("caf\xe9"));      // Latin-1 byte
        QVERIFY(!platform::decodeUtf8("abc\xe2\x82"));  // cut multi-byte sequence
        QVERIFY(!platform::decodeUtf8("\xed\xa0\x80")); // encoded surrogate
        const std::optional<QString> bom = platform::decodeUtf8("\xef\xbb\xbf"
                                                                "BEGIN");
        QVERIFY(bom);
        QCOMPARE(*bom, QString(QChar(0xFEFF)) + "BEGIN"); // kept, so a rewrite keeps it
        QVERIFY(!platform::readUtf8File("/nonexistent/quillo/file.ics"));
    }

    // A FIFO or a device where a file should be must fail at once, not block or run on.
    void onlyRegularFilesAreRead() {
        QTemporaryDir dir;
        const QByteArray fifo = QFile::encodeName(dir.filePath("fifo.ics"));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        QVERIFY(!platform::readUtf8File(QString::fromLocal8Bit(fifo)));
        QVERIFY(!platform::readFileBytes("/dev/zero"));
        QVERIFY(!PropertyList::fromFile(dir.path()));
    }

    // A save that writes over the file and truncates it last: halfway, the file is the
    // new text followed by the old one's tail. A read of a recently changed file is
    // settled only when a second read a moment later agrees with it; when they differ,
    // the later read is checked in turn.
    void recentlyChangedFilesAreReadTwice_data() {
        QTest::addColumn<QString>("otherProgram");
        QTest::addColumn<qint64>("age");
        QTest::addColumn<bool>("settled");
        QTest::addColumn<QString>("read"); // what the snapshot holds
        QTest::addColumn<int>("laterReads");
        QTest::newRow("truncated last") << "truncate" << qint64(0) << true << "next" << 2;
        // Written within one tick of the file clock: size and time stay as they were.
        QTest::newRow("same size and time") << "same time" << qint64(0) << true << "third" << 2;
        QTest::newRow("nobody") << "" << qint64(0) << true << "halfway" << 1;
        QTest::newRow("changed an hour ago")
            << "truncate" << qint64(3600) << true << "halfway" << 0;
        QTest::newRow("never the same twice") << "always" << qint64(0) << false << "" << 3;
    }

    void recentlyChangedFilesAreReadTwice() {
        QFETCH(QString, otherProgram);
        QFETCH(qint64, age);
        QFETCH(bool, settled);
        QFETCH(QString, read);
        QFETCH(int, laterReads);
        QTemporaryDir dir;
        const QString path = dir.filePath("corestorage.ics");
        const QByteArray next = "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:New\r\nEND:VTODO\r\n"
                                "END:VCALENDAR\r\n";
        const QByteArray old = "BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nSUMMARY:Old one\r\n"
                               "END:VTODO\r\nBEGIN:VTODO\r\nSUMMARY:Second\r\nEND:VTODO\r\n"
                               "END:VCALENDAR\r\n";
        const QByteArray halfway = next + old.mid(next.size());
        const QByteArray third = QByteArray(halfway).replace("Second", "Third!");
        QVERIFY(halfway.endsWith("END:VCALENDAR\r\n"));
        QVERIFY(putBytes(path, halfway));
        QVERIFY(setAge(path, age));
        int calls = 0;
        platform::setBetweenReadsHook([&](const QString& file) {
            ++calls;
            if (otherProgram == "truncate" && calls == 1) {
                QCOMPARE(::truncate(QFile::encodeName(file).constData(), next.size()), 0);
            } else if (otherProgram == "same time" && calls == 1) {
                const std::optional<platform::FileIdentity> before = platform::fileIdentity(file);
                QVERIFY(putBytes(file, third, QIODevice::ExistingOnly));
                const timespec times[2] = {
                    {0, UTIME_OMIT},
                    {time_t(before->modifiedSeconds), long(before->modifiedNanoseconds)}};
                QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
                QCOMPARE(platform::fileIdentity(file), before);
            } else if (otherProgram == "always") {
                QVERIFY(putBytes(file, halfway + QByteArray::number(calls), QIODevice::Truncate));
            }
        });
        const std::optional<platform::FileSnapshot> snapshot = platform::readFileSnapshot(path);
        platform::setBetweenReadsHook({});
        QVERIFY(snapshot);
        QCOMPARE(calls, laterReads);
        QCOMPARE(snapshot->settled, settled);
        if (settled) {
            const QByteArray expected = read == "next" ? next : read == "third" ? third : halfway;
            QCOMPARE(snapshot->bytes, expected);
            QCOMPARE(snapshot->identity, platform::fileIdentity(path));
        }
    }

    // Another program saves twice at once: the first save lands between our check and
    // our exchange, the second while we are about to put the first one back. The
    // second is the newest and must be what stays.
    void displacedSaveGoesBackOnlyOverOurOwnFile_data() {
        QTest::addColumn<QString>("secondSave");
        QTest::newRow("no second save") << "";
        QTest::newRow("second save by rename") << "rename";
        QTest::newRow("second save into our file") << "in place";
        // The first save goes back under its name, which nobody holds now.
        QTest::newRow("our file deleted") << "delete";
    }

    void displacedSaveGoesBackOnlyOverOurOwnFile() {
        QFETCH(QString, secondSave);
        QTemporaryDir dir;
        const QString path = dir.filePath("corestorage.ics");
        QVERIFY(putBytes(path, "read\n"));
        const std::optional<platform::FileIdentity> read = platform::fileIdentity(path);
        auto saveByRename = [&](const QByteArray& bytes) {
            QVERIFY(putBytes(path + ".new", bytes));
            QCOMPARE(::rename(QFile::encodeName(path + ".new").constData(),
                              QFile::encodeName(path).constData()),
                     0);
        };
        platform::setAfterCheckHook([&](const QString&) { saveByRename("first save\n"); });
        platform::setBeforePutBackHook([&](const QString&) {
            if (secondSave == "rename")
                saveByRename("second save\n");
            else if (secondSave == "in place")
                QVERIFY(putBytes(path, "second save, longer\n", QIODevice::Truncate));
            else if (secondSave == "delete")
                QVERIFY(QFile::remove(path));
        });
        const platform::AtomicReplaceResult result =
            platform::replaceFileAtomically(path, QByteArray("ours\n"), read);
        platform::setAfterCheckHook({});
        platform::setBeforePutBackHook({});
        QCOMPARE(result, platform::AtomicReplaceResult::ChangedMeanwhile);
        const QByteArray expected = secondSave == "rename"     ? "second save\n"
                                    : secondSave == "in place" ? "second save, longer\n"
                                                               : "first save\n";
        QCOMPARE(bytesOf(path), expected);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"corestorage.ics"});
    }

    void logCaptureSeesLines() {
        testenv::LogRecorder recorder;
        platform::NSLog("Quillo :: test :: one");
        QCOMPARE(recorder.lines(), QStringList{"Quillo :: test :: one"});
    }

    void applicationSupportFollowsXdg() {
        QCOMPARE(platform::applicationSupportFolder(), testenv::dataHome());
    }

    void clockTodayNoonFollowsTimeZone() {
        testenv::setTimeZone("America/New_York");
        // 03:30 UTC on 11 March 2007 is still 10 March in New York.
        platform::Clock::setFixedNow(QDateTime(QDate(2007, 3, 11), QTime(3, 30), QTimeZone::utc()));
        QCOMPARE(platform::Clock::today(), QDate(2007, 3, 10));
        QCOMPARE(platform::Clock::todayNoon().toUTC(),
                 QDateTime(QDate(2007, 3, 10), QTime(17, 0), QTimeZone::utc()));
        // 11 March 2007 is the spring-forward day: noon is then UTC-4.
        platform::Clock::setFixedNow(QDateTime(QDate(2007, 3, 11), QTime(15, 0), QTimeZone::utc()));
        QCOMPARE(platform::Clock::todayNoon().toUTC(),
                 QDateTime(QDate(2007, 3, 11), QTime(16, 0), QTimeZone::utc()));
        platform::Clock::setFixedNow(std::nullopt);
        testenv::setTimeZone("Europe/Berlin");
        QVERIFY(qAbs(platform::Clock::now().secsTo(QDateTime::currentDateTime())) < 5);
    }
    // The zone held in memory gives the local times libc gives, on ordinary days and on
    // the days of clock changes, in every zone; a zone Qt cannot read falls back.
    void localZoneAgreesWithLibc_data() {
        QTest::addColumn<QByteArray>("tz");
        QTest::addColumn<bool>("held");
        QTest::newRow("Berlin") << QByteArray("Europe/Berlin") << true;
        QTest::newRow("New York, with colon") << QByteArray(":America/New_York") << true;
        QTest::newRow("Lord Howe, half-hour change") << QByteArray("Australia/Lord_Howe") << true;
        QTest::newRow("Sao Paulo, midnight skipped") << QByteArray("America/Sao_Paulo") << true;
        QTest::newRow("Kolkata") << QByteArray("Asia/Kolkata") << true;
        QTest::newRow("UTC") << QByteArray("UTC") << true;
        QTest::newRow("unknown name") << QByteArray("Nowhere/Atlantis") << false;
        QTest::newRow("POSIX rule") << QByteArray("ABC+3DEF,M3.5.0,M10.5.0/3") << true;
    }

    void localZoneAgreesWithLibc() {
        QFETCH(QByteArray, tz);
        QFETCH(bool, held);
        const QByteArray before = qgetenv("TZ");
        testenv::setTimeZone(tz);
        QCOMPARE(platform::LocalZone::zone().has_value(), held);
        // Every day of two years (each clock change among them), and the far future.
        QList<QDate> days;
        for (QDate d(2018, 1, 1); d < QDate(2020, 1, 1); d = d.addDays(1))
            days << d;
        days << QDate(1969, 12, 31) << QDate(2100, 7, 1);
        for (const QDate& day : days) {
            const QDateTime fast = platform::LocalZone::startOfDay(day);
            const QDateTime slow = day.startOfDay(Qt::LocalTime);
            QVERIFY2(fast.toMSecsSinceEpoch() == slow.toMSecsSinceEpoch(),
                     qPrintable(day.toString(Qt::ISODate) + QLatin1Char(' ') +
                                fast.toString(Qt::ISODateWithMs) + QStringLiteral(" vs ") +
                                slow.toString(Qt::ISODateWithMs)));
            const QDateTime noon = platform::LocalZone::localDateTime(day, QTime(12, 0));
            QCOMPARE(noon.toMSecsSinceEpoch(),
                     QDateTime(day, QTime(12, 0), Qt::LocalTime).toMSecsSinceEpoch());
            const QDateTime instant = slow.addSecs(7 * 3600 + 17);
            QCOMPARE(platform::LocalZone::toLocal(instant.toUTC()).date(),
                     instant.toLocalTime().date());
            QCOMPARE(platform::LocalZone::toLocal(instant.toUTC()).time(),
                     instant.toLocalTime().time());
        }
        testenv::setTimeZone(before);
    }

    void localZoneIsReadOncePerChange() {
        testenv::setTimeZone("Europe/Berlin");
        platform::LocalZone::zone();
        const int reads = platform::LocalZone::readCount();
        for (int i = 0; i < 10000; ++i)
            platform::LocalZone::startOfDay(QDate(2020, 1, 1).addDays(i % 400));
        QCOMPARE(platform::LocalZone::readCount(), reads);
        testenv::setTimeZone("Asia/Tokyo");
        QCOMPARE(platform::LocalZone::startOfDay(QDate(2020, 1, 1)).toUTC(),
                 QDateTime(QDate(2019, 12, 31), QTime(15, 0), QTimeZone::utc()));
        QCOMPARE(platform::LocalZone::readCount(), reads + 1);
        // The clock's day follows a change of zone at the same instant.
        platform::Clock::setFixedNow(QDateTime(QDate(2007, 3, 10), QTime(20, 0), QTimeZone::utc()));
        QCOMPARE(platform::Clock::today(), QDate(2007, 3, 11));
        testenv::setTimeZone("Europe/Berlin");
        QCOMPARE(platform::Clock::today(), QDate(2007, 3, 10));
        QCOMPARE(platform::Clock::todayNoon().toUTC(),
                 QDateTime(QDate(2007, 3, 10), QTime(11, 0), QTimeZone::utc()));
        platform::Clock::setFixedNow(std::nullopt);
    }
};

QUILLO_TEST_MAIN_CORE(TestPlatformCore)
#include "tst_platformcore.moc"
