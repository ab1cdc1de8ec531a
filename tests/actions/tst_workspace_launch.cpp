// The workspace's opening of files and launching of the calendar application: the
// default application found through mimeapps.list files and desktop entries made for
// the test, started for real (a script that writes down its arguments).
#include "common/TestEnv.h"

#include "platform/Workspace.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeText(const QString& path, const QString& text, bool executable = false) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0)
        return false;
    file.close();
    return !executable || file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner);
}

} // namespace

class TestWorkspaceLaunch : public QObject {
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_systemData; // stands in for /usr/share
    QString m_bin;        // the only folder on PATH

    QString applications() const { return testenv::dataHome() + "/applications"; }
    QString outputOf(const QString& name) const { return m_root.filePath(name + ".out"); }

    // A program that writes its arguments, one a line, to <name>.out.
    QString makeProgram(const QString& folder, const QString& name) {
        const QString path = folder + '/' + name;
        const QString out = outputOf(name);
        QFile::remove(out);
        writeText(
            path,
            QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1.tmp' && mv '%1.tmp' '%1'\n")
                .arg(out),
            true);
        return path;
    }

    void writeEntry(const QString& path, const QString& exec, const QString& extra = {}) {
        QVERIFY(writeText(path, "[Desktop Entry]\nType=Application\nName=Cal\nExec=" + exec + "\n" +
                                    extra + "[Desktop Action new]\nExec=wrong\n"));
    }

    QStringList waitForArguments(const QString& name) {
        const QString out = outputOf(name);
        QDeadlineTimer deadline(10000);
        while (!QFile::exists(out) && !deadline.hasExpired())
            QTest::qWait(20);
        QFile file(out);
        if (!file.open(QIODevice::ReadOnly))
            return {QStringLiteral("<not started>")};
        QStringList args = QString::fromUtf8(file.readAll()).split('\n');
        args.removeLast();
        return args;
    }

private slots:
    void initTestCase() {
        QVERIFY(m_root.isValid());
        m_systemData = m_root.filePath("system-share");
        m_bin = m_root.filePath("bin");
        QVERIFY(QDir().mkpath(m_bin));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(m_systemData));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(m_root.filePath("system-config")));
        qputenv("PATH", QFile::encodeName(m_bin) + ":/usr/bin:/bin");
        qunsetenv("XDG_CURRENT_DESKTOP");
    }

    void init() {
        QDir(applications()).removeRecursively();
        QDir(m_systemData).removeRecursively();
        // The system's MIME database, without its applications.
        QVERIFY(QDir().mkpath(m_systemData));
        QVERIFY(QFile::link("/usr/share/mime", m_systemData + "/mime"));
        QFile::remove(testenv::configHome() + "/mimeapps.list");
        auto& workspace = platform::Workspace::sharedWorkspace();
        workspace.setRecordsCalls(false);
        workspace.clearRecordedCalls();
    }

    void calendarApplication_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("the user's default, an entry in a vendor folder")
            << "default" << QStringList{"--flag", "quoted arg $", "%", "Cal"};
        QTest::newRow("an added association when there is no default")
            << "added" << QStringList{"added"};
        QTest::newRow("any installed handler of the system") << "cache" << QStringList{"cache"};
        QTest::newRow("a hidden default is passed over") << "hidden" << QStringList{"cache"};
    }

    void calendarApplication() {
        QFETCH(QString, setup);
        QFETCH(QStringList, arguments);
        const QString program = makeProgram(m_bin, "calendar-app");
        const QString mimeapps = testenv::configHome() + "/mimeapps.list";
        const QString cache = m_systemData + "/applications/mimeinfo.cache";
        writeEntry(m_systemData + "/applications/sys-cal.desktop", program + " cache");
        QVERIFY(writeText(cache, "[MIME Cache]\ntext/calendar=missing.desktop;sys-cal.desktop;\n"));
        if (setup == "default") {
            writeEntry(applications() + "/vendor/cal.desktop",
                       program + R"( --flag %U "quoted arg \\$" %% %c %f)");
            QVERIFY(writeText(mimeapps, "[Added Associations]\ntext/calendar=sys-cal.desktop\n"
                                        "[Default Applications]\ntext/plain=other.desktop\n"
                                        "text/calendar=missing.desktop;vendor-cal.desktop\n"));
        } else if (setup == "added") {
            writeEntry(applications() + "/added.desktop", program + " added");
            QVERIFY(writeText(mimeapps, "[Added Associations]\ntext/calendar=added.desktop;\n"));
        } else if (setup == "hidden") {
            writeEntry(applications() + "/hidden.desktop", program + " hidden", "Hidden=true\n");
            QVERIFY(writeText(mimeapps, "[Default Applications]\ntext/calendar=hidden.desktop\n"));
        }
        QVERIFY(platform::Workspace::sharedWorkspace().launchApplication("iCal"));
        QCOMPARE(waitForArguments("calendar-app"), arguments);
    }

    void noCalendarApplication() {
        testenv::LogRecorder log;
        QVERIFY(!platform::Workspace::sharedWorkspace().launchApplication("iCal"));
        QCOMPARE(log.lines(),
                 QStringList{"Quillo :: launchApplication :: No application for text/calendar"});
    }

    void paneOpensInTheSettingsHost() {
        auto& workspace = platform::Workspace::sharedWorkspace();
        const QString pane = m_root.filePath("Quillo.prefPane");
        QVERIFY(QDir().mkpath(pane));
        {
            testenv::LogRecorder log;
            QVERIFY(!workspace.openFile(pane));
            QCOMPARE(log.lines().size(), 1);
            QVERIFY(log.lines().at(0).startsWith("Quillo :: openFile :: No preferences-host"));
        }
        makeProgram(m_bin, "preferences-host");
        QVERIFY(workspace.openFile(pane + "/"));
        QCOMPARE(waitForArguments("preferences-host"), QStringList{pane});
        QFile::remove(m_bin + "/preferences-host");
    }

    void fileOpensInItsTypesApplication() {
        const QString program = makeProgram(m_bin, "text-app");
        writeEntry(applications() + "/text.desktop", program + " %F");
        QVERIFY(writeText(testenv::configHome() + "/mimeapps.list",
                          "[Default Applications]\ntext/plain=text.desktop\n"));
        const QString file = m_root.filePath("notes with space.txt");
        QVERIFY(writeText(file, "hello\n"));
        QVERIFY(platform::Workspace::sharedWorkspace().openFile(file));
        QCOMPARE(waitForArguments("text-app"), QStringList{file});
    }

    // While tests record, nothing is started.
    void recordingOnlyRecords() {
        auto& workspace = platform::Workspace::sharedWorkspace();
        const QString program = makeProgram(m_bin, "calendar-app");
        writeEntry(applications() + "/cal.desktop", program);
        QVERIFY(writeText(testenv::configHome() + "/mimeapps.list",
                          "[Default Applications]\ntext/calendar=cal.desktop\n"));
        workspace.setRecordsCalls(true);
        QVERIFY(workspace.launchApplication("iCal"));
        QVERIFY(workspace.openFile("/nowhere/Quillo.prefPane"));
        const QList<platform::Workspace::Call> expected{{"launchApplication", {"iCal"}},
                                                        {"openFile", {"/nowhere/Quillo.prefPane"}}};
        QCOMPARE(workspace.recordedCalls(), expected);
        QTest::qWait(200);
        QVERIFY(!QFile::exists(outputOf("calendar-app")));
    }
};

QUILLO_TEST_MAIN(TestWorkspaceLaunch)
#include "tst_workspace_launch.moc"
