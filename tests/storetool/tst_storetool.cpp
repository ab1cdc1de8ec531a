#include "common/TestEnv.h"

#include "menuextra/QLMenuExtra.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "platform/Alert.h"
#include "platform/AtomicFile.h"
#include "platform/PropertyList.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using platform::PropertyList;

namespace {

const QString tool = QStringLiteral(QUILLO_STORE_TOOL);

using Run = testenv::ProgramRun;

Run runTool(const QStringList& args, const QString& folder = QString()) {
    return testenv::runProgram(tool, args, {}, folder);
}

QString crlf(const QStringList& lines) {
    return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

QString calendarText(const QStringList& header, const QStringList& toDos) {
    QStringList lines{"BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//Test//EN"};
    lines << header;
    for (const QString& uid : toDos)
        lines << "BEGIN:VTODO"
              << "UID:" + uid << "SUMMARY:To-do " + uid << "DTSTAMP:20240101T090000Z"
              << "STATUS:NEEDS-ACTION"
              << "END:VTODO";
    lines << "END:VCALENDAR";
    return crlf(lines);
}

bool writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every entry under a folder, links not followed: path, kind, content digest or link
// target, permissions. Two equal listings mean nothing under the folder changed.
QStringList tree(const QString& root) {
    QStringList lines;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString name = QDir(root).relativeFilePath(info.filePath());
        if (info.isSymLink())
            lines << name + " -> " + info.symLinkTarget();
        else if (info.isDir())
            lines << name + "/";
        else if (!info.isFile()) // a FIFO: opening it would wait for a writer
            lines << name + " (special)";
        else
            lines << QStringLiteral("%1 %2 %3")
                         .arg(name,
                              QCryptographicHash::hash(fileBytes(info.filePath()),
                                                       QCryptographicHash::Sha1)
                                  .toHex(),
                              QString::number(int(info.permissions()), 16));
    }
    lines.sort();
    return lines;
}

QVariantMap nodeList() {
    return PropertyList::dictionaryFromFile(ql::nodesPath()).value_or(QVariantMap());
}

QVariantList nodes() {
    return nodeList().value("List").toList();
}

// A node list written by another program: a group, a hidden calendar with keys of its
// own, and top-level keys this tool does not know.
QVariantMap foreignNodeList() {
    const QVariantMap calendar{
        {"Type", "CALSourceNode"},
        {"SourceKey", "OTHER-1"},
        {"Key", "OTHER-KEY"},
        {"ThemeColor", "#FF0000FF"},
        {"Selection", qint64(0)},
        {"X-Layout", QVariantMap{{"a", QVariantList{qint64(1), 2.5, true}}}}};
    const QVariantMap group{
        {"Type", "CALNamedGroupNode"}, {"Title", "Group"}, {"Subnodes", QVariantList{calendar}}};
    return QVariantMap{
        {"List", QVariantList{group}},
        {"Version", qint64(7)},
        {"Created", QDateTime(QDate(2020, 5, 6), QTime(7, 8, 9), Qt::UTC)},
        {"Blob", QByteArray("\x00\x01\xff", 3)},
    };
}

bool makeForeignStore(PropertyList::Format format) {
    const std::optional<QByteArray> bytes = PropertyList::toData(foreignNodeList(), format);
    const std::optional<QByteArray> info = PropertyList::toData(
        QVariantMap{{"Title", "Other"}, {"Key", "OTHER-KEY"}, {"Type", "com.example.local"}});
    return bytes && info && writeFile(ql::nodesPath(), *bytes) &&
           writeFile(ql::calendarInfoPath("OTHER-1"), *info) &&
           writeFile(ql::calendarDataPath("OTHER-1"), calendarText({}, {"o1"}).toUtf8());
}

QString keyOf(const QVariant& node) {
    return node.toMap().value("SourceKey").toString();
}

} // namespace

class TestStoreTool : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_data; // the application-support folder of one test
    std::unique_ptr<QTemporaryDir> m_user; // the user's own files
    QStringList m_alerts;

    QString user(const QString& name) const { return m_user->path() + QLatin1Char('/') + name; }
    QString store() const { return m_data->path() + QStringLiteral("/iCal"); }

private slots:
    void initTestCase() {
        QVERIFY(QFileInfo(tool).isExecutable());
        platform::setAlertResponder([this](const platform::Alert& alert) {
            m_alerts << alert.title;
            return platform::AlertButton{};
        });
    }

    void init() {
        m_data = std::make_unique<QTemporaryDir>();
        m_user = std::make_unique<QTemporaryDir>();
        QVERIFY(m_data->isValid() && m_user->isValid());
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_data->path()));
        QCOMPARE(ql::applicationSupportFolder(), m_data->path());
        m_alerts.clear();
    }

    // Adopt a file, then complete one to-do and edit another through the writer: the
    // user's file changes, the link stays, its permissions stay, the store stays.
    void adoptCompleteAndEdit() {
        const QString file = user("cal/tasks.ics");
        QVERIFY(writeFile(file, calendarText({"X-WR-CALNAME:Work\\, home"}, {"a", "b"}).toUtf8()));
        QVERIFY(
            QFile::setPermissions(file, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const QFile::Permissions permissions = QFile::permissions(file);

        const Run added = runTool({"add", file, "--color", "#12ab34"});
        QCOMPARE(added.code, 0);
        QCOMPARE(added.err, "");
        // A new store's files have the modes of any new file, as the calendar program's do.
        QCOMPARE(QFile::permissions(ql::nodesPath()),
                 QFile::permissions(user("cal")) &
                     ~(QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther));
        const QVariantList list = nodes();
        QCOMPARE(list.size(), 1);
        const QString key = keyOf(list.at(0));
        QVERIFY(QRegularExpression("^[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}$")
                    .match(key)
                    .hasMatch());
        QCOMPARE(list.at(0).toMap(), (QVariantMap{{"Type", "CALSourceNode"},
                                                  {"SourceKey", key},
                                                  {"Key", key},
                                                  {"Selection", qint64(1)},
                                                  {"ThemeColor", "#12AB34FF"}}));
        QCOMPARE(
            PropertyList::dictionaryFromFile(ql::calendarInfoPath(key)).value_or(QVariantMap()),
            (QVariantMap{{"Key", key},
                         {"Title", "Work, home"},
                         {"Type", "com.apple.ical.sources.naivereadwrite"}}));
        const QFileInfo link(ql::calendarDataPath(key));
        QVERIFY(link.isSymLink());
        QCOMPARE(link.symLinkTarget(), file);
        QVERIFY(added.out.contains(key));

        // The menu extra finds the calendar and reads the user's to-dos through the link.
        QLMenuExtra menuExtra;
        QVERIFY(menuExtra.loadiCalCalendars());
        QCOMPARE(menuExtra.theCalendars()->size(), size_t(1));
        const std::shared_ptr<QL_Calendar> calendar = menuExtra.theCalendars()->at("Work, home");
        QVERIFY(calendar->parseForToDos());
        QCOMPARE(calendar->arrayOfToDos().size(), size_t(2));

        const QStringList storeBefore = tree(store());
        const std::optional<platform::FileIdentity> fileBefore = platform::fileIdentity(file);
        QFile heldOpen(file); // keeps the old inode's number from being reused meanwhile
        QVERIFY(heldOpen.open(QIODevice::ReadOnly));
        const std::shared_ptr<QL_ToDo> first = calendar->arrayOfToDos().at(0);
        first->setStatus(QStringLiteral("COMPLETED"));
        first->setCompletedDate(QStringLiteral("20240302T000000Z"));
        QVERIFY(first->writeToCalendar(ql::calendarDataPath(key), QLWriteActionReplace));
        const std::shared_ptr<QL_ToDo> second = calendar->arrayOfToDos().at(1);
        second->setSummary(QStringLiteral("Call the garage"));
        QVERIFY(second->writeToCalendar(ql::calendarDataPath(key), QLWriteActionReplace));
        QCOMPARE(m_alerts, QStringList());

        const QString text = QString::fromUtf8(fileBytes(file));
        QVERIFY(text.contains("STATUS:COMPLETED\r\n"));
        QVERIFY(text.contains("COMPLETED:20240302T000000Z\r\n"));
        QVERIFY(text.contains("SUMMARY:Call the garage\r\n"));
        QVERIFY(!text.contains("SUMMARY:To-do b\r\n"));
        QVERIFY(QFileInfo(ql::calendarDataPath(key)).isSymLink());
        QCOMPARE(QFileInfo(ql::calendarDataPath(key)).symLinkTarget(), file);
        QCOMPARE(QFile::permissions(file), permissions);
        // Replaced by a new file (a rename), not rewritten in place.
        QVERIFY(fileBefore && platform::fileIdentity(file));
        QVERIFY(platform::fileIdentity(file)->inode != fileBefore->inode);
        QCOMPARE(tree(store()), storeBefore);
        QCOMPARE(
            QDir(user("cal")).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"tasks.ics"});

        const Run listed = runTool({"list"});
        QCOMPARE(listed.code, 0);
        QCOMPARE(listed.out, QStringLiteral("Work, home\n    key:    %1\n    file:   %2\n"
                                            "    to-dos: 2\n    shown:  yes\n")
                                 .arg(key, file));
    }

    void adoptIntoForeignStore_data() {
        QTest::addColumn<PropertyList::Format>("format");
        QTest::newRow("XML node list") << PropertyList::Format::Xml;
        QTest::newRow("binary node list") << PropertyList::Format::Binary;
    }

    // Every node and key another program wrote stays; the new node is appended.
    void adoptIntoForeignStore() {
        QFETCH(PropertyList::Format, format);
        QVERIFY(makeForeignStore(format));
        const QString file = user("mine.ics");
        QVERIFY(writeFile(file, calendarText({}, {"m"}).toUtf8()));
        QCOMPARE(runTool({"add", file}).code, 0);

        QVariantMap after = nodeList();
        QVariantList list = after.value("List").toList();
        QCOMPARE(list.size(), 2);
        const QVariantMap added = list.takeLast().toMap();
        QCOMPARE(added.value("Type"), QVariant("CALSourceNode"));
        after.insert("List", list);
        QCOMPARE(after, foreignNodeList());
        QCOMPARE(fileBytes(ql::nodesPath()).startsWith("bplist"),
                 format == PropertyList::Format::Binary);
        QCOMPARE(
            PropertyList::dictionaryFromFile(ql::calendarInfoPath(keyOf(added)))->value("Title"),
            QVariant("mine"));

        // The other program's calendar keeps its to-dos in the store: never removed here.
        const QStringList before = tree(store());
        const Run refused = runTool({"remove", "Other"});
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains("keeps its to-dos in the store itself"),
                 qPrintable(refused.err));
        QCOMPARE(tree(store()), before);

        const Run listed = runTool({"list"});
        QVERIFY(listed.out.startsWith(
            QStringLiteral(
                "Other\n    key:    OTHER-1\n    file:   %1  (kept in the store)\n    to-dos: 1\n"
                "    shown:  no\nmine\n")
                .arg(ql::calendarDataPath("OTHER-1"))));
    }

    void refusedInputs_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content"); // empty: made by the row's name
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        const QByteArray good = calendarText({}, {"g"}).toUtf8();
        QTest::newRow("missing folder")
            << "nope/tasks.ics" << QByteArray() << QStringList() << "does not exist";
        QTest::newRow("binary file")
            << "picture.ics" << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16) << QStringList()
            << "is a binary file";
        QTest::newRow("not UTF-8") << "latin1.ics"
                                   << QByteArray("BEGIN:VCALENDAR\r\nX-WR-CALNAME:M\xfcll\r\n"
                                                 "END:VCALENDAR\r\n")
                                   << QStringList() << "is not UTF-8 text";
        QTest::newRow("not a calendar") << "notes.ics" << QByteArray("shopping: milk\n")
                                        << QStringList() << "no BEGIN:VCALENDAR";
        // A folder is a folder calendar, but not one inside the store.
        QTest::newRow("a folder inside the store")
            << "@store/Sources/OTHER-1.calendar" << QByteArray() << QStringList()
            << "inside the calendar store";
        // The writer's rule: a calendar it cannot write is not adopted.
        QTest::newRow("calendar line after other text")
            << "late.ics" << QByteArray("X-NOTE:hello\r\nBEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n")
            << QStringList() << "is not a whole iCalendar file";
        QTest::newRow("no calendar end")
            << "cut.ics" << QByteArray("\r\nBEGIN:VCALENDAR\r\nVERSION:2.0\r\n") << QStringList()
            << "is not a whole iCalendar file";
        QTest::newRow("inside the store")
            << "@store/Sources/OTHER-1.calendar/corestorage.ics" << QByteArray() << QStringList()
            << "inside the calendar store";
        QTest::newRow("new file inside the store")
            << "@store/new.ics" << QByteArray() << QStringList() << "inside the calendar store";
        QTest::newRow("link into the store")
            << "link.ics" << QByteArray() << QStringList() << "inside the calendar store";
        QTest::newRow("dangling link")
            << "dangling.ics" << QByteArray() << QStringList() << "a link to nothing";
        QTest::newRow("bad colour")
            << "good.ics" << good << QStringList{"--color", "red"} << "#RRGGBB";
        QTest::newRow("title taken")
            << "good.ics" << good << QStringList{"--title", "Other"} << "exists already";
        QTest::newRow("empty title")
            << "good.ics" << good << QStringList{"--title", " "} << "must not be empty";
        QTest::newRow("control characters in the title")
            << "good.ics" << good << QStringList{"--title", "Red\x1b[31m"}
            << "must not contain control characters";
    }

    // A clear message, exit status 1, and nothing written anywhere.
    void refusedInputs() {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        QVERIFY(makeForeignStore(PropertyList::Format::Xml));
        QString path = name.startsWith('@') ? store() + name.mid(6) : user(name);
        if (!content.isEmpty())
            QVERIFY(writeFile(path, content));
        if (name == "folder.ics")
            QVERIFY(QDir().mkpath(path));
        if (name == "link.ics")
            QVERIFY(QFile::link(ql::calendarDataPath("OTHER-1"), path));
        if (name == "dangling.ics")
            QVERIFY(QFile::link(user("gone.ics"), path));
        const QStringList storeBefore = tree(m_data->path());
        const QStringList userBefore = tree(m_user->path());

        const Run run = runTool(QStringList{"add", path} + options);
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QVERIFY2(run.err.endsWith("; nothing was changed.\n"), qPrintable(run.err));
        QCOMPARE(run.out, "");
        QCOMPARE(tree(m_data->path()), storeBefore);
        QCOMPARE(tree(m_user->path()), userBefore);
    }

    // Without a store a refused file leaves no store behind either.
    void refusedWithoutStore() {
        QVERIFY(writeFile(user("notes.ics"), "plain text\n"));
        QCOMPARE(runTool({"add", user("notes.ics")}).code, 1);
        QVERIFY(!QFileInfo::exists(store()));
    }

    // remove takes the calendar out of the store and never touches the user's file.
    void removeKeepsUserFile() {
        const QByteArray a = calendarText({"X-WR-CALNAME:A"}, {"a1"}).toUtf8();
        const QByteArray b = calendarText({"X-WR-CALNAME:B"}, {"b1", "b2"}).toUtf8();
        QVERIFY(writeFile(user("a.ics"), a));
        QVERIFY(writeFile(user("b.ics"), b));
        QCOMPARE(runTool({"add", user("a.ics")}).code, 0);
        QCOMPARE(runTool({"add", user("b.ics")}).code, 0);
        const Run twice = runTool({"add", user("a.ics"), "--title", "A again"});
        QCOMPARE(twice.code, 1);
        QVERIFY(twice.err.contains("is already in the store as A (key "));
        const QStringList userAfterAdding = tree(m_user->path());
        const QString keyA = keyOf(nodes().at(0));
        const QString keyB = keyOf(nodes().at(1));

        const Run removed = runTool({"remove", "A"});
        QCOMPARE(removed.code, 0);
        QVERIFY(removed.out.contains(user("a.ics") + " is left as it is"));
        QCOMPARE(fileBytes(user("a.ics")), a);
        QVERIFY(!QFileInfo::exists(store() + "/Sources/" + keyA + ".calendar"));
        QCOMPARE(nodes().size(), 1);
        QCOMPARE(keyOf(nodes().at(0)), keyB);

        // By key, in any letter case, even when the file has gone meanwhile. A file someone
        // else put into the calendar's folder keeps the folder.
        QVERIFY(QFile::remove(user("b.ics")));
        const QString folderB = store() + "/Sources/" + keyB + ".calendar";
        QVERIFY(writeFile(folderB + "/notes.txt", "mine"));
        const Run byKey = runTool({"remove", keyB.toLower()});
        QCOMPARE(byKey.code, 0);
        QVERIFY(byKey.err.contains("holds other files and was left in place"));
        QCOMPARE(nodes().size(), 0);
        QCOMPARE(QDir(store() + "/Sources").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{keyB + ".calendar"});
        QCOMPARE(QDir(folderB).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"notes.txt"});
        QCOMPARE(tree(m_user->path()), userAfterAdding.filter("a.ics"));

        const Run unknown = runTool({"remove", "A"});
        QCOMPARE(unknown.code, 1);
        QVERIFY(unknown.err.contains("no calendar has the key or title \"A\""));
    }

    // Only a calendar whose data is a link this tool made is removed: a subscription
    // without a data file, with its title and address, stays whole.
    void removeRefusesWhatItNeverAdopted() {
        QVERIFY(makeForeignStore(PropertyList::Format::Xml));
        const std::optional<QByteArray> info = PropertyList::toData(
            QVariantMap{{"Title", "Holidays"},
                        {"Key", "SUB-1"},
                        {"Type", "com.apple.ical.sources.urlsubscribesource"},
                        {"SubscriptionURL", "https://example.org/holidays.ics"}});
        QVERIFY(info && writeFile(ql::calendarInfoPath("SUB-1"), *info));
        QVariantMap root = foreignNodeList();
        QVariantList list = root.value("List").toList();
        list.append(QVariantMap{{"Type", "CALSourceNode"}, {"SourceKey", "SUB-1"}});
        root.insert("List", list);
        QVERIFY(writeFile(ql::nodesPath(), *PropertyList::toData(root)));
        const QStringList before = tree(store());
        const Run refused = runTool({"remove", "Holidays"});
        QCOMPARE(refused.code, 1);
        QVERIFY2(refused.err.contains("has no file adopted by quillo-store"),
                 qPrintable(refused.err));
        QCOMPARE(refused.out, "");
        QCOMPARE(tree(store()), before);
    }

    // Control characters from a file never reach the store's property lists or the
    // terminal: a calendar name's become spaces, another program's title is escaped.
    void controlCharactersAreNeverWrittenOrPrinted() {
        QVERIFY(makeForeignStore(PropertyList::Format::Xml));
        const std::optional<QByteArray> evil = PropertyList::toData(
            QVariantMap{{"Title", "Other\x1b]0;owned\x07"}, {"Key", "OTHER-KEY"}},
            PropertyList::Format::Binary);
        QVERIFY(evil && writeFile(ql::calendarInfoPath("OTHER-1"), *evil));
        const QString file = user("bell.ics");
        QVERIFY(writeFile(file,
                          calendarText({"X-WR-CALNAME:Ring\x07\x1b[2Jme\\nnow"}, {"b"}).toUtf8()));
        const Run added = runTool({"add", file});
        QCOMPARE(added.code, 0);
        QVERIFY2(added.out.startsWith("Added \"Ring [2Jme now\" (key "), qPrintable(added.out));
        const QString key = keyOf(nodes().last());
        const QByteArray xml = fileBytes(ql::calendarInfoPath(key));
        QVERIFY2(xml.contains("<string>Ring [2Jme now</string>"), xml.constData());
        QVERIFY(PropertyList::dictionaryFromFile(ql::calendarInfoPath(key)));

        const Run listed = runTool({"list"});
        QCOMPARE(listed.code, 0);
        QVERIFY2(listed.out.startsWith("Other\\x1B]0;owned\\x07\n"), qPrintable(listed.out));
        static const QRegularExpression control(QStringLiteral("[\\x00-\\x09\\x0b-\\x1f\\x7f]"));
        QVERIFY(!listed.out.contains(control));
    }

    // File names are bytes: one that is not UTF-8 is refused, never replaced by another
    // name, and none is made.
    void fileNamesThatAreNotUtf8AreRefused() {
        const QByteArray name = QFile::encodeName(m_user->path()) + "/caf\xe9.ics";
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        const QByteArray text = calendarText({}, {"c"}).toUtf8();
        QCOMPARE(::write(fd, text.constData(), size_t(text.size())), ssize_t(text.size()));
        ::close(fd);
        QProcess p;
        // The name goes to the tool as the bytes it is.
        p.start("sh", {"-c", "exec \"$0\" add \"$(printf '%s/caf\\351.ics' \"$1\")\"", tool,
                       m_user->path()});
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), 1);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QVERIFY2(err.contains("caf\\xE9.ics\" is not valid text"), qPrintable(err));
        QVERIFY(!QFileInfo::exists(store()));
        QCOMPARE(::access(name.constData(), F_OK), 0);
        const QByteArray replaced = QFile::encodeName(m_user->path()) + "/caf\xef\xbf\xbd.ics";
        QVERIFY(::access(replaced.constData(), F_OK) != 0);
    }

    // A name that begins with - follows --.
    void namesBeginningWithADash() {
        QVERIFY(writeFile(user("-dash.ics"), calendarText({}, {"d"}).toUtf8()));
        const Run asOption = runTool({"add", "-dash.ics"}, m_user->path());
        QCOMPARE(asOption.code, 2);
        QVERIFY2(asOption.err.contains("put -- before a file name"), qPrintable(asOption.err));
        QVERIFY(asOption.err.contains("[--] FILE.ics"));
        const Run added = runTool({"add", "--title", "-Dash", "--", "-dash.ics"}, m_user->path());
        QCOMPARE(added.code, 0);
        QVERIFY(added.out.contains(user("-dash.ics")));
        QCOMPARE(runTool({"remove", "-Dash"}).code, 2);
        const Run removed = runTool({"remove", "--", "-Dash"});
        QCOMPARE(removed.code, 0);
        QCOMPARE(nodes().size(), 0);
    }

    // A file that does not exist yet becomes an empty calendar that takes new to-dos.
    void newFileBecomesCalendar() {
        const QString file = user("new.ics");
        const Run added = runTool({"add", file});
        QCOMPARE(added.code, 0);
        QVERIFY(added.out.contains("created as an empty calendar"));
        const QString key = keyOf(nodes().at(0));
        QCOMPARE(PropertyList::dictionaryFromFile(ql::calendarInfoPath(key))->value("Title"),
                 QVariant("new"));

        QL_ToDo toDo(QStringLiteral("n-1"), QStringLiteral("Buy bread"),
                     QStringLiteral("20240101T090000Z"), std::nullopt, std::nullopt, 0.0, key,
                     QStringLiteral("new"), std::nullopt, std::nullopt);
        QVERIFY(toDo.writeToCalendar(ql::calendarDataPath(key), QLWriteActionAdd));
        QVERIFY(QString::fromUtf8(fileBytes(file)).contains("SUMMARY:Buy bread\r\n"));
        QVERIFY(QFileInfo(ql::calendarDataPath(key)).isSymLink());
        QVERIFY(runTool({"list"}).out.contains("    to-dos: 1\n"));
    }

    // discover offers the tasks files of calendar programs, changes nothing, and prints
    // commands that work as printed; --adopt adds what is not in the store yet.
    void discoverAndAdopt() {
        QVERIFY(writeFile(m_data->path() + "/evolution/tasks/system/tasks.ics",
                          calendarText({}, {"e1", "e2"}).toUtf8()));
        QVERIFY(writeFile(m_data->path() + "/orage/orage.ics",
                          calendarText({"X-WR-CALNAME:Home tasks"}, {"o1"}).toUtf8()));
        QVERIFY(writeFile(m_data->path() + "/korganizer/std.ics", "BEGIN:VCALENDAR\r\n\xff\r\n"));
        const QStringList before = tree(m_data->path());

        const Run offered = runTool({"discover"});
        QCOMPARE(offered.code, 0);
        QCOMPARE(tree(m_data->path()), before);
        const QString evolution = m_data->path() + "/evolution/tasks/system/tasks.ics";
        const QString command = tool + " add " + evolution + " --title Personal";
        QVERIFY2(offered.out.contains("(2 to-dos) in " + evolution + "\n    " + command + "\n"),
                 qPrintable(offered.out));
        QVERIFY(offered.out.contains(tool + " add " + m_data->path() + "/orage/orage.ics\n"));
        QVERIFY(offered.out.contains("Skipped " + m_data->path() + "/korganizer/std.ics"));

        QCOMPARE(QProcess::execute("sh", {"-c", command}), 0);
        const Run adopted = runTool({"discover", "--adopt"});
        QCOMPARE(adopted.code, 0);
        QVERIFY(adopted.out.contains("Already in the store: " + evolution + " as Personal"));
        QVERIFY(adopted.out.contains("Added \"Home tasks\""));
        const QString listed = runTool({"list"}).out;
        QVERIFY(listed.contains("Personal\n") && listed.contains("Home tasks\n"));
        QCOMPARE(nodes().size(), 2);
    }

    // A folder of one-object files is one calendar: titled and coloured by its own files
    // unless told otherwise, recorded so that readers of data files pass it over, listed,
    // and removed without its folder or files.
    void adoptListAndRemoveFolder() {
        const QString folder = user("calendars/personal");
        QVERIFY(writeFile(folder + "/a.ics", calendarText({}, {"a"}).toUtf8()));
        QVERIFY(writeFile(folder + "/b.ics", calendarText({}, {"b"}).toUtf8()));
        QVERIFY(writeFile(folder + "/displayname", "Personal tasks\n"));
        QVERIFY(writeFile(folder + "/color", "#aa5500\n"));
        const QStringList before = tree(m_user->path());

        const Run added = runTool({"add", folder});
        QCOMPARE(added.err, "");
        QCOMPARE(added.code, 0);
        QVERIFY2(added.out.contains("Added \"Personal tasks\"") && added.out.contains("2 files"),
                 qPrintable(added.out));
        const QVariantList list = nodes();
        QCOMPARE(list.size(), 1);
        const QString key = keyOf(list.at(0));
        QCOMPARE(list.at(0).toMap().value("Type"), QVariant("org.quillo.sources.folder"));
        QCOMPARE(list.at(0).toMap().value("ThemeColor"), QVariant("#AA5500FF"));
        QCOMPARE(PropertyList::dictionaryFromFile(ql::calendarInfoPath(key))
                     .value_or(QVariantMap())
                     .value("Type"),
                 QVariant("org.quillo.sources.folder"));
        QCOMPARE(QFileInfo(ql::calendarItemsPath(key)).symLinkTarget(), folder);
        QVERIFY(!QFileInfo::exists(ql::calendarDataPath(key)));
        QCOMPARE(tree(m_user->path()), before);

        const Run listed = runTool({"list"});
        QVERIFY2(listed.out.contains("Personal tasks\n    key:    " + key +
                                     "\n    folder: " + folder + "  (2 files)\n    to-dos: 2\n"),
                 qPrintable(listed.out));
        const Run again = runTool({"add", folder, "--title", "Other"});
        QCOMPARE(again.code, 1);
        QVERIFY(again.err.contains("already in the store"));

        const Run removed = runTool({"remove", "Personal tasks"});
        QCOMPARE(removed.code, 0);
        QVERIFY(removed.out.contains("its folder " + folder + " is left as it is"));
        QCOMPARE(nodes().size(), 0);
        QVERIFY(!QFileInfo::exists(ql::calendarInfoPath(key)));
        QCOMPARE(tree(m_user->path()), before);
    }

    // Neither a file nor a folder, or a pattern the shell did not expand: refused, and
    // nothing is created.
    void refusedPaths_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("a quoted glob") << "todos/*.ics" << QStringList() << "looks like a pattern";
        QTest::newRow("a FIFO") << "pipe.ics" << QStringList()
                                << "neither a regular file nor a folder";
        QTest::newRow("extension for a file")
            << "file.ics" << QStringList{"--extension", ".ics"} << "is not a folder";
        QTest::newRow("an odd extension")
            << "todos" << QStringList{"--extension", "../x"} << "is not of the form .ics";
    }

    void refusedPaths() {
        QFETCH(QString, name);
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        QVERIFY(QDir().mkpath(user("todos")));
        QVERIFY(writeFile(user("file.ics"), calendarText({}, {"f"}).toUtf8()));
        QVERIFY(::mkfifo(QFile::encodeName(user("pipe.ics")).constData(), 0600) == 0);
        const QStringList before = tree(m_user->path());
        const Run run = runTool(QStringList{"add", user(name)} + options);
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(tree(m_user->path()), before);
        QVERIFY(!QFileInfo::exists(ql::nodesPath()));
    }

    // The folders that vdirsyncer's filesystem storages and todoman are set up with,
    // each with the exact command that adopts it.
    void discoverConfiguredFolders() {
        const QString config = user("config");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config));
        const auto unset = qScopeGuard([] { qunsetenv("XDG_CONFIG_HOME"); });
        QVERIFY(writeFile(config + "/vdirsyncer/config",
                          QStringLiteral("[general]\nstatus_path = \"~/.vdirsyncer/status/\"\n"
                                         "[storage local]\ntype = \"filesystem\"\npath = \"%1\"\n"
                                         "fileext = \".vcs\"\n[storage remote]\ntype = \"caldav\"\n"
                                         "url = \"http://127.0.0.1:1/\"\npath = \"%2\"\n")
                              .arg(user("synced"), user("not-this"))
                              .toUtf8()));
        QVERIFY(writeFile(user("synced/work/w.vcs"), calendarText({}, {"w"}).toUtf8()));
        QVERIFY(writeFile(user("not-this/x/x.ics"), calendarText({}, {"x"}).toUtf8()));
        QVERIFY(writeFile(config + "/todoman/config.py",
                          QStringLiteral("path = \"%1/*\"\n").arg(user("todoman")).toUtf8()));
        QVERIFY(writeFile(user("todoman/home/h.ics"), calendarText({}, {"h1", "h2"}).toUtf8()));

        const Run offered = runTool({"discover"});
        QCOMPARE(offered.code, 0);
        QVERIFY2(offered.out.contains("a calendar folder of vdirsyncer (1 to-do) in " +
                                      user("synced/work") + "\n    " + tool + " add " +
                                      user("synced/work") + " --extension .vcs\n"),
                 qPrintable(offered.out));
        QVERIFY(offered.out.contains("a calendar folder of todoman (2 to-dos) in " +
                                     user("todoman/home") + "\n    " + tool + " add " +
                                     user("todoman/home") + "\n"));
        QVERIFY(!offered.out.contains("not-this"));
        QVERIFY(!QFileInfo::exists(ql::nodesPath()));

        QCOMPARE(runTool({"discover", "--adopt"}).code, 0);
        QCOMPARE(nodes().size(), 2);
        QVERIFY(
            runTool({"discover"}).out.contains("Already in the store: " + user("todoman/home")));
    }

    // Programs adding at the same moment, the store not there yet: every node arrives.
    void concurrentAdds() {
        constexpr int count = 6;
        std::vector<std::unique_ptr<QProcess>> processes;
        for (int i = 0; i < count; ++i) {
            const QString file = user(QStringLiteral("c%1.ics").arg(i));
            QVERIFY(writeFile(file, calendarText({}, {"x"}).toUtf8()));
            processes.push_back(std::make_unique<QProcess>());
            processes.back()->start(tool, {"add", file});
        }
        for (const auto& p : processes) {
            QVERIFY(p->waitForFinished(60000));
            QCOMPARE(p->exitCode(), 0);
        }
        QStringList titles;
        for (const QVariant& node : nodes())
            titles << PropertyList::dictionaryFromFile(ql::calendarInfoPath(keyOf(node)))
                          ->value("Title")
                          .toString();
        titles.sort();
        QCOMPARE(titles, QStringList({"c0", "c1", "c2", "c3", "c4", "c5"}));
    }

    void wrongUse_data() {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("nothing") << QStringList();
        QTest::newRow("add without file") << QStringList{"add"};
        QTest::newRow("title without value") << QStringList{"add", "x.ics", "--title"};
        QTest::newRow("two files") << QStringList{"add", "x.ics", "y.ics"};
        QTest::newRow("unknown") << QStringList{"frobnicate"};
        QTest::newRow("discover option") << QStringList{"discover", "--all"};
    }

    void wrongUse() {
        QFETCH(QStringList, args);
        const Run run = runTool(args);
        QCOMPARE(run.code, 2);
        QVERIFY(run.err.contains("Usage:"));
        QVERIFY(!QFileInfo::exists(store()));
    }
};

QUILLO_TEST_MAIN(TestStoreTool)
#include "tst_storetool.moc"
