#include "common/TestEnv.h"

#include "platform/DistributedNotificationCenter.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"
#include "shared/QL_Preferences.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QThread>

#include <functional>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using platform::DistributedNotificationCenter;

namespace {

using Getter = std::function<QVariant()>;
using Setter = std::function<void(const QVariant&)>;

struct Setting {
    const char* key;
    bool isBool;
    int defaultValue;
    Getter get;
    Setter set;
};

#define QL_BOOL(name, setter, def)                                                                 \
    Setting {                                                                                      \
#name, true, def, [] { return QVariant(QL_Preferences::sharedPreferences().name()); },     \
            [](const QVariant& v) { QL_Preferences::sharedPreferences().setter(v.toBool()); }       \
    }
#define QL_INT(name, setter, def)                                                                  \
    Setting {                                                                                      \
#name, false, def, [] { return QVariant(QL_Preferences::sharedPreferences().name()); },    \
            [](const QVariant& v) { QL_Preferences::sharedPreferences().setter(v.toInt()); }       \
    }

const QList<Setting>& allSettings() {
    static const QList<Setting> settings{
        QL_BOOL(useSmallFontSize, setUseSmallFontSize, 0),
        QL_INT(sortOrder, setSortOrder, 0),
        QL_BOOL(showDueDates, setShowDueDates, 0),
        QL_BOOL(showLabels, setShowLabels, 1),
        QL_BOOL(showTooltips, setShowTooltips, 1),
        QL_INT(informationalIcons, setInformationalIcons, 1),
        QL_BOOL(highlightOverdueItems, setHighlightOverdueItems, 0),
        QL_BOOL(colorItemsByCalendarColor, setColorItemsByCalendarColor, 0),
        QL_BOOL(warnWhenRemovingItems, setWarnWhenRemovingItems, 1),
        QL_BOOL(hideToDoItemsAfterCompletion, setHideToDoItemsAfterCompletion, 0),
        QL_INT(numberOfDaysAfterCompletion, setNumberOfDaysAfterCompletion, 7),
        QL_BOOL(showToDoItemsDue, setShowToDoItemsDue, 0),
        QL_INT(numberOfDaysBeforeDue, setNumberOfDaysBeforeDue, 7),
        QL_INT(menuIconImage, setMenuIconImage, 0),
        QL_BOOL(checkForUpdatesOnLaunch, setCheckForUpdatesOnLaunch, 1),
        QL_BOOL(useOpenMenuKey, setUseOpenMenuKey, 0),
        QL_INT(openMenuKey, setOpenMenuKey, 49),
        QL_INT(openMenuModifiers, setOpenMenuModifiers, 6400),
        QL_BOOL(useQuickAddKey, setUseQuickAddKey, 0),
        QL_INT(quickAddKey, setQuickAddKey, 49),
        QL_INT(quickAddModifiers, setQuickAddModifiers, 6912),
        QL_BOOL(showReminders, setShowReminders, 0),
        QL_INT(toggleStatusModifier, setToggleStatusModifier, 2),
        QL_INT(removeToDoModifier, setRemoveToDoModifier, 1),
        QL_BOOL(trimLongTitles, setTrimLongTitles, 0),
        QL_INT(trimLongTitlesLength, setTrimLongTitlesLength, 40),
        QL_BOOL(hideSubscribedCalendars, setHideSubscribedCalendars, 0),
        QL_BOOL(dueDateOnRight, setDueDateOnRight, 1),
        QL_INT(internalBuildNumber, setInternalBuildNumber, 1),
        QL_BOOL(firstRun, setFirstRun, 1),
    };
    return settings;
}

const Setting& setting(const QString& key) {
    for (const Setting& s : allSettings())
        if (key == QLatin1String(s.key))
            return s;
    qFatal("no such setting");
}

QString plistPath() {
    return platform::preferencesFilePath(kQLApplicationID);
}

std::optional<QVariantMap> fileContents() {
    return platform::PropertyList::dictionaryFromFile(plistPath());
}

// Counts the change notifications this process receives.
struct ChangeCounter {
    QStringList objects;
    bool allOnMainThread = true;
    ChangeCounter() {
        DistributedNotificationCenter::defaultCenter().addObserver(
            this, QLPreferencesDidChangeNotification, [this](const QString&, const QString& o) {
                objects.append(o);
                allOnMainThread = allOnMainThread && QThread::currentThread() ==
                                                         QCoreApplication::instance()->thread();
            });
    }
    ~ChangeCounter() { DistributedNotificationCenter::defaultCenter().removeObserver(this); }
    ChangeCounter(const ChangeCounter&) = delete;
    ChangeCounter& operator=(const ChangeCounter&) = delete;
};

void emptyDomain() {
    QVERIFY(platform::setPersistentDomain({}, kQLApplicationID));
}

QString helperPath() {
    return QStringLiteral(QUILLO_SETTINGS_HELPER);
}

} // namespace

class TestPreferences : public QObject {
    Q_OBJECT

private slots:
    void init() { emptyDomain(); }

    void emptyDomainGivesEveryDefault() {
        QCOMPARE(allSettings().size(), 30);
        for (const Setting& s : allSettings()) {
            const QVariant v = s.get();
            if (s.isBool)
                QCOMPARE(v.typeId(), QMetaType::Bool);
            QVERIFY2(v.toInt() == s.defaultValue, s.key);
        }
        // Reading writes nothing.
        QCOMPARE(fileContents().value_or(QVariantMap()), QVariantMap());
    }

    void storedValuesBeatDefaultsAndRemovalRestoresThem() {
        for (const Setting& s : allSettings()) {
            // Another value within the setting's range.
            const QVariant other = s.isBool ? QVariant(!s.defaultValue)
                                   : s.key == QLatin1String("openMenuKey")       ? QVariant(122)
                                   : s.key == QLatin1String("openMenuModifiers") ? QVariant(0x200)
                                   : s.key == QLatin1String("quickAddKey")       ? QVariant(120)
                                   : s.key == QLatin1String("quickAddModifiers") ? QVariant(0x800)
                                   : s.key == QLatin1String("informationalIcons")
                                       ? QVariant(2)
                                       : QVariant(s.defaultValue + 3);
            s.set(other);
            QVERIFY2(s.get().toInt() == other.toInt(), s.key);
            platform::preferencesSetAppValue(QString::fromLatin1(s.key), std::nullopt,
                                             kQLApplicationID);
            QVERIFY2(s.get().toInt() == s.defaultValue, s.key);
        }
        QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
        QCOMPARE(fileContents().value_or(QVariantMap{{"x", 1}}), QVariantMap());
    }

    void valuesAreStoredWithTheirPropertyListType() {
        QL_Preferences::sharedPreferences().setUseSmallFontSize(true);
        QL_Preferences::sharedPreferences().setShowLabels(false);
        QL_Preferences::sharedPreferences().setSortOrder(9);
        QL_Preferences::sharedPreferences().setOpenMenuModifiers(-5);
        QFile file(plistPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray xml = file.readAll();
        QVERIFY(xml.contains("<key>useSmallFontSize</key>\n\t<true/>"));
        QVERIFY(xml.contains("<key>showLabels</key>\n\t<false/>"));
        QVERIFY(xml.contains("<key>sortOrder</key>\n\t<integer>9</integer>"));
        QVERIFY(xml.contains("<key>openMenuModifiers</key>\n\t<integer>-5</integer>"));
        // Stored as given; read as the default, being outside their settings' ranges.
        QCOMPARE(QL_Preferences::sharedPreferences().sortOrder(), 0);
        QCOMPARE(QL_Preferences::sharedPreferences().openMenuModifiers(), 0x1900);
    }

    void otherKindsOfValuesAreCoerced_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("expected");
        QTest::newRow("integer 0 under a Boolean key") << "showLabels" << QVariant(0) << 0;
        QTest::newRow("integer 5 under a Boolean key") << "useSmallFontSize" << QVariant(5) << 1;
        QTest::newRow("Boolean YES under an integer key") << "sortOrder" << QVariant(true) << 1;
        QTest::newRow("Boolean NO under an integer key") << "menuIconImage" << QVariant(false) << 0;
        QTest::newRow("real under an integer key")
            << "trimLongTitlesLength" << QVariant(12.9) << 12;
        QTest::newRow("fraction under a Boolean key") << "firstRun" << QVariant(0.25) << 1;
        QTest::newRow("text under a Boolean key reads as the default")
            << "warnWhenRemovingItems" << QVariant(QStringLiteral("NO")) << 1;
        QTest::newRow("text under an integer key reads as the default")
            << "openMenuKey" << QVariant(QStringLiteral("12")) << 49;
        QTest::newRow("integer too large for 32 bits reads as the default")
            << "numberOfDaysBeforeDue" << QVariant(qint64(1) << 40) << 7;
        QTest::newRow("dictionary reads as the default")
            << "informationalIcons" << QVariant(QVariantMap{{"a", 1}}) << 1;
    }

    // What lies outside a setting's range reads as its default; a negative day count
    // reads as 0.
    void valuesOutsideTheirRangeReadAsTheDefault_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("expected");
        const struct {
            const char* key;
            int stored;
            int expected;
        } rows[] = {
            {"sortOrder", 4, 4},
            {"sortOrder", 5, 0},
            {"sortOrder", -1, 0},
            {"informationalIcons", 2, 2},
            {"informationalIcons", 3, 1},
            {"menuIconImage", 5, 5},
            {"menuIconImage", 6, 0},
            {"menuIconImage", -1, 0},
            {"toggleStatusModifier", 15, 15},
            {"toggleStatusModifier", 16, 2},
            {"removeToDoModifier", -1, 1},
            {"openMenuKey", 111, 111},
            {"openMenuKey", 0, 49},
            {"openMenuKey", 50, 49},
            {"openMenuModifiers", 0x1A00, 0x1A00},
            {"openMenuModifiers", 0, 0},
            {"openMenuModifiers", 0x1901, 0x1900},
            {"openMenuModifiers", -5, 0x1900},
            {"quickAddKey", 122, 122},
            {"quickAddKey", 48, 49},
            {"quickAddModifiers", 0x1100, 0x1100},
            {"quickAddModifiers", 0x1B01, 0x1B00},
            {"numberOfDaysAfterCompletion", -1, 0},
            {"numberOfDaysAfterCompletion", 99999, 99999},
            {"numberOfDaysBeforeDue", -999999, 0},
            {"trimLongTitlesLength", -3, -3},
        };
        for (const auto& row : rows)
            QTest::addRow("%s %d", row.key, row.stored) << row.key << row.stored << row.expected;
    }

    void valuesOutsideTheirRangeReadAsTheDefault() {
        QFETCH(QString, key);
        QFETCH(int, stored);
        QFETCH(int, expected);
        QVERIFY(platform::setPersistentDomain({{key, stored}}, kQLApplicationID));
        QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
        QCOMPARE(setting(key).get().toInt(), expected);
    }

    void otherKindsOfValuesAreCoerced() {
        QFETCH(QString, key);
        QFETCH(QVariant, stored);
        QFETCH(int, expected);
        // Written straight into the file, as another program might.
        QVERIFY(platform::setPersistentDomain({{key, stored}}, kQLApplicationID));
        QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
        QCOMPARE(setting(key).get().toInt(), expected);
    }

    void everySetterPostsExactlyOneNotification() {
        for (const Setting& s : allSettings()) {
            ChangeCounter counter;
            const QVariant value = s.isBool ? QVariant(bool(s.defaultValue)) : s.defaultValue;
            s.set(value);
            s.set(value); // unchanged: still written and posted
            QCoreApplication::processEvents();
            QTest::qWait(20);
            QVERIFY2(counter.objects == QStringList({QStringLiteral("com.orvane.quillo"),
                                                     QStringLiteral("com.orvane.quillo")}),
                     qPrintable(QStringLiteral("%1: %2").arg(s.key, counter.objects.join(','))));
            QVERIFY(counter.allOnMainThread);
            // On disk before the observers were told.
            QVERIFY(fileContents().value_or(QVariantMap()).contains(QString::fromLatin1(s.key)));
        }
    }

    void failedWriteIsLoggedAndStillPosted() {
        // A configuration folder that cannot exist: its parent is a regular file.
        const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
        const QString blocker = testenv::home() + QStringLiteral("/not-a-folder");
        QFile f(blocker);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(blocker + QStringLiteral("/config")));
        testenv::LogRecorder log;
        ChangeCounter counter;
        QL_Preferences::sharedPreferences().setSortOrder(3);
        qputenv("XDG_CONFIG_HOME", saved);
        QVERIFY2(log.contains(QStringLiteral("Quillo :: setObject :: Could not save the setting "
                                             "sortOrder")),
                 qPrintable(log.lines().join('\n')));
        QCOMPARE(counter.objects.size(), 1);
    }

    void unreadableFileIsKeptAside() {
        QFile file(plistPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("this is not a property list");
        file.close();
        QVERIFY(!platform::preferencesAppSynchronize(kQLApplicationID));
        QCOMPARE(QL_Preferences::sharedPreferences().openMenuKey(), 49);
        testenv::LogRecorder log;
        QL_Preferences::sharedPreferences().setOpenMenuKey(100);
        QFile kept(plistPath() + QStringLiteral(".unreadable"));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("this is not a property list"));
        QCOMPARE(fileContents().value_or(QVariantMap()).value("openMenuKey").toInt(), 100);
        QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
        QFile::remove(kept.fileName());
    }

    // What stands in place of the domain file and is no file to read (a FIFO would block
    // every call, a link to an endless device would be read until memory runs out)
    // reads as nothing and is moved aside by the next write, without hanging.
    void domainFileThatIsNoFile_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("link to /dev/zero") << "zero";
        QTest::newRow("sparse 64 GiB file") << "sparse";
    }

    void domainFileThatIsNoFile() {
        QFETCH(QString, kind);
        QL_Preferences::sharedPreferences().setOpenMenuKey(100);
        const QByteArray path = QFile::encodeName(plistPath());
        QVERIFY(QFile::remove(plistPath()));
        if (kind == "fifo")
            QCOMPARE(::mkfifo(path.constData(), 0600), 0);
        else if (kind == "zero")
            QCOMPARE(::symlink("/dev/zero", path.constData()), 0);
        else
            QVERIFY(QFile(plistPath()).open(QIODevice::WriteOnly) &&
                    ::truncate(path.constData(), qint64(64) << 30) == 0);

        QVERIFY(!platform::preferencesAppSynchronize(kQLApplicationID));
        (void)QL_Preferences::sharedPreferences().openMenuKey();
        (void)platform::persistentDomainForName(kQLApplicationID);

        QL_Preferences::sharedPreferences().setOpenMenuKey(122);
        QCOMPARE(fileContents().value_or(QVariantMap()).value("openMenuKey").toInt(), 122);
        QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
        QCOMPARE(QL_Preferences::sharedPreferences().openMenuKey(), 122);
        QVERIFY(!QFile::exists(plistPath() + QStringLiteral(".lock")));
        // The odd entry itself is kept aside, untouched.
        const QByteArray kept = path + ".unreadable";
        struct stat status {};
        QCOMPARE(::lstat(kept.constData(), &status), 0);
        QCOMPARE(kind == "fifo"   ? S_ISFIFO(status.st_mode)
                 : kind == "zero" ? S_ISLNK(status.st_mode)
                                  : S_ISREG(status.st_mode),
                 true);
        QCOMPARE(::unlink(kept.constData()), 0);
    }

    void persistentDomainIsReplacedWhole() {
        QL_Preferences::sharedPreferences().setSortOrder(2);
        const QVariantMap domain{{"com.orvane.quillo.prefspanel.recentpage", "3"},
                                 {"showLabels", false}};
        QVERIFY(platform::setPersistentDomain(domain, kQLApplicationID));
        QCOMPARE(platform::persistentDomainForName(kQLApplicationID).value_or(QVariantMap()),
                 domain);
        QCOMPARE(fileContents().value_or(QVariantMap()), domain);
        QCOMPARE(QL_Preferences::sharedPreferences().sortOrder(), 0);
        QVERIFY(!platform::persistentDomainForName(QStringLiteral("../escape")));
    }

    void valuesSetOnAnotherThreadAreSeenHere() {
        QThread* worker = QThread::create([] {
            platform::preferencesSetAppValue(QStringLiteral("menuIconImage"), 4, kQLApplicationID);
            platform::preferencesSetAppValue(QStringLiteral("trimLongTitles"), true,
                                             kQLApplicationID);
        });
        worker->start();
        QVERIFY(worker->wait(10000));
        delete worker;
        QCOMPARE(QL_Preferences::sharedPreferences().menuIconImage(), 4);
        QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
        QCOMPARE(fileContents().value_or(QVariantMap()).value("menuIconImage").toInt(), 4);
        QCOMPARE(fileContents().value_or(QVariantMap()).value("trimLongTitles").toBool(), true);
    }

    void threadsWritingAtOnceLoseNothing() {
        constexpr int perThread = 60;
        auto writer = [](const QString& prefix) {
            return QThread::create([prefix] {
                for (int i = 0; i < perThread; ++i) {
                    platform::preferencesSetAppValue(prefix + QString::number(i), i,
                                                     kQLApplicationID);
                    platform::preferencesAppSynchronize(kQLApplicationID);
                }
            });
        };
        QThread* a = writer(QStringLiteral("a"));
        QThread* b = writer(QStringLiteral("b"));
        a->start();
        b->start();
        QVERIFY(a->wait(60000));
        QVERIFY(b->wait(60000));
        delete a;
        delete b;
        const QVariantMap onDisk = fileContents().value_or(QVariantMap());
        QCOMPARE(onDisk.size(), 2 * perThread);
    }

    // Another process's write that leaves the file's size and time stamp as they were
    // (a quick write within one tick of the file system's clock) must still survive
    // this process's next write.
    void unnoticedWriteOfAnotherProcessSurvives() {
        platform::preferencesSetAppValue(QStringLiteral("sortOrder"), 1, kQLApplicationID);
        platform::preferencesSetAppValue(QStringLiteral("menuIconImage"), 1, kQLApplicationID);
        QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
        const QByteArray path = QFile::encodeName(plistPath());
        struct stat before {};
        QCOMPARE(::stat(path.constData(), &before), 0);
        QFile file(plistPath());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QByteArray xml = file.readAll();
        file.close();
        const QByteArray old = "<key>sortOrder</key>\n\t<integer>1</integer>";
        QVERIFY(xml.contains(old));
        xml.replace(old, "<key>sortOrder</key>\n\t<integer>4</integer>");
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(xml);
        file.close();
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);

        QL_Preferences::sharedPreferences().setMenuIconImage(2);
        const QVariantMap onDisk = fileContents().value_or(QVariantMap());
        QCOMPARE(onDisk.value("sortOrder").toInt(), 4);
        QCOMPARE(onDisk.value("menuIconImage").toInt(), 2);
    }

    // Processes notice a new version by its size and modification time (in
    // milliseconds), and the file system's clock may be coarse: a new version is
    // stamped later than the one it replaces even when the clock says otherwise.
    void everyVersionIsNewerThanTheLast() {
        QL_Preferences::sharedPreferences().setOpenMenuKey(100);
        const QByteArray path = QFile::encodeName(plistPath());
        struct stat st {};
        QCOMPARE(::stat(path.constData(), &st), 0);
        st.st_mtim.tv_sec += 60;
        const struct timespec times[2] = {st.st_atim, st.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);
        QDateTime last = QFileInfo(plistPath()).lastModified();
        for (int i = 0; i < 5; ++i) {
            QL_Preferences::sharedPreferences().setOpenMenuKey(101 + i % 2);
            const QDateTime modified = QFileInfo(plistPath()).lastModified();
            QVERIFY2(modified > last, qPrintable(QString::number(i)));
            last = modified;
        }
    }

    // ---- across processes, on the session bus the test command starts

    void changeInAnotherProcessIsAnnouncedAndReadAfterSynchronising() {
        QCOMPARE(QL_Preferences::sharedPreferences().sortOrder(), 0);
        ChangeCounter counter;
        QCOMPARE(
            QProcess::execute(helperPath(), {QStringLiteral("write"), QStringLiteral("sortOrder"),
                                             QStringLiteral("3")}),
            0);
        QTRY_COMPARE_WITH_TIMEOUT(counter.objects.size(), 1, 10000);
        QCOMPARE(counter.objects.first(), QStringLiteral("com.orvane.quillo"));
        QVERIFY(counter.allOnMainThread);
        QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
        QCOMPARE(QL_Preferences::sharedPreferences().sortOrder(), 3);
        // Exactly once.
        QTest::qWait(300);
        QCOMPARE(counter.objects.size(), 1);
    }

    // Rewriting one key each with values of one length keeps the file's size, and the
    // file system's time stamps are coarse: each process must still see the other's
    // latest write before it writes its own.
    void twoProcessesRewritingAtOnceKeepTheLatestValues() {
        constexpr int count = 150;
        QProcess a;
        QProcess b;
        a.start(helperPath(),
                {QStringLiteral("rewrite"), QStringLiteral("keyA"), QString::number(count)});
        b.start(helperPath(),
                {QStringLiteral("rewrite"), QStringLiteral("keyB"), QString::number(count)});
        QVERIFY(a.waitForFinished(120000));
        QVERIFY(b.waitForFinished(120000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        const QVariantMap onDisk = fileContents().value_or(QVariantMap());
        QCOMPARE(onDisk.value("keyA").toInt(), 1000 + count - 1);
        QCOMPARE(onDisk.value("keyB").toInt(), 1000 + count - 1);
    }

    void keyAddedByAnotherProcessCanBeRemoved() {
        QCOMPARE(QProcess::execute(helperPath(),
                                   {QStringLiteral("write"), QStringLiteral("informationalIcons"),
                                    QStringLiteral("2")}),
                 0);
        // Not synchronised: this process has not seen the key yet.
        platform::preferencesSetAppValue(QStringLiteral("informationalIcons"), std::nullopt,
                                         kQLApplicationID);
        QVERIFY(platform::preferencesAppSynchronize(kQLApplicationID));
        QVERIFY(!fileContents().value_or(QVariantMap()).contains("informationalIcons"));
        QCOMPARE(QL_Preferences::sharedPreferences().informationalIcons(), 1);
    }

    void twoProcessesWritingAtOnceLoseNothing() {
        constexpr int count = 150;
        // This process also has a view of the file that goes stale meanwhile.
        QL_Preferences::sharedPreferences().setSortOrder(1);
        QProcess a;
        QProcess b;
        a.start(helperPath(),
                {QStringLiteral("writemany"), QStringLiteral("procA_"), QString::number(count)});
        b.start(helperPath(),
                {QStringLiteral("writemany"), QStringLiteral("procB_"), QString::number(count)});
        QVERIFY(a.waitForFinished(120000));
        QVERIFY(b.waitForFinished(120000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        QL_Preferences::sharedPreferences().setMenuIconImage(5);
        const QVariantMap onDisk = fileContents().value_or(QVariantMap());
        for (int i = 0; i < count; ++i) {
            QVERIFY2(onDisk.value(QStringLiteral("procA_%1").arg(i)) == i,
                     qPrintable(QString::number(i)));
            QVERIFY2(onDisk.value(QStringLiteral("procB_%1").arg(i)) == i,
                     qPrintable(QString::number(i)));
        }
        QCOMPARE(onDisk.value("sortOrder").toInt(), 1);
        QCOMPARE(onDisk.value("menuIconImage").toInt(), 5);
        QCOMPARE(onDisk.size(), 2 * count + 2);
    }
};

QUILLO_TEST_MAIN_CORE(TestPreferences)
#include "tst_preferences.moc"
