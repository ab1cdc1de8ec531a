#pragma once

// The settings pane's tests run against the real menu-bar server on their private bus
// (started with the tray tests' support), its calls watched with dbus-monitor; the pane
// bundle is a copy of the built one whose Quillo.menu is the tray tests' small menu extra.
#include "common/TestEnv.h"
#include "tray/TrayTestSupport.h"

#include "platform/CoreMenuExtra.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

namespace panetest {

inline QString paneCopy() {
    return testenv::home() + QStringLiteral("/pane/Quillo.prefPane");
}

inline QString installedPanePath() {
    return testenv::dataHome() + QStringLiteral("/PreferencePanes/Quillo.prefPane");
}

inline bool copyTree(const QString& from, const QString& to) {
    const QFileInfo info(from);
    if (info.isDir()) {
        if (!QDir().mkpath(to))
            return false;
        for (const QString& name : QDir(from).entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
            if (!copyTree(from + '/' + name, to + '/' + name))
                return false;
        return true;
    }
    return QFile::copy(from, to);
}

// Copies the built pane and gives it the tests' menu extra as Quillo.menu, with the
// identifier the pane looks for.
inline void makePaneCopy() {
    QVERIFY(QDir(paneCopy()).removeRecursively());
    QVERIFY(copyTree(QStringLiteral(QUILLO_BUILD_DIR "/Quillo.prefPane"), paneCopy()));
    const QString menuExtra = paneCopy() + QStringLiteral("/Contents/Resources/Quillo.menu");
    QVERIFY(QDir(menuExtra).removeRecursively());
    QVERIFY(QDir().mkpath(menuExtra + "/Contents/Linux"));
    QVERIFY(QDir().mkpath(menuExtra + "/Contents/Resources"));
    QVERIFY(QFile::copy(QStringLiteral(QUILLO_TEST_MENUEXTRA),
                        menuExtra + "/Contents/Linux/quillo_test_menuextra.so"));
    QVERIFY(QFile::copy(QStringLiteral(QUILLO_TEST_SOURCE "/tray/plugin/testIcon.svg"),
                        menuExtra + "/Contents/Resources/testIcon.svg"));
    QFile info(menuExtra + "/Contents/Info.plist");
    QVERIFY(info.open(QIODevice::WriteOnly));
    info.write("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>\n"
               "<key>CFBundleIdentifier</key><string>com.orvane.quillo</string>\n"
               "<key>CFBundleExecutable</key><string>quillo_test_menuextra.so</string>\n"
               "<key>NSPrincipalClass</key><string>TestMenuExtra</string>\n"
               "</dict></plist>\n");
}

// One call to the server with a text; its status, or -1 when it did not answer.
inline int callServer(const QString& method, const QString& argument) {
    return traytest::callServer(method, {argument}).value_or(QVariant(-1)).toInt();
}

// Watches the calls made to the menu-bar server: "AddMenuExtra MenuCracker.menu",
// "GetMenuExtra com.orvane.quillo", "RemoveMenuExtra com.orvane.quillo" (paths shown
// by their last part), in the order the bus carried them.
class ServerCallMonitor {
public:
    void start() {
        m_process.start(QStringLiteral("dbus-monitor"),
                        {"--session", "type='method_call',interface='" +
                                          platform::kMenuBarServerInterface + "'"});
        QVERIFY(m_process.waitForStarted());
        // The monitor needs a moment to attach; probe until it reports.
        QDeadlineTimer deadline(20000);
        QString probe;
        do {
            probe = QStringLiteral("probe-%1").arg(++m_probes);
            callServer(QStringLiteral("GetMenuExtra"), probe);
            QTest::qWait(50);
        } while (!read().contains("GetMenuExtra " + probe) && !deadline.hasExpired());
        QVERIFY(read().contains("GetMenuExtra " + probe));
    }
    ~ServerCallMonitor() {
        m_process.kill();
        m_process.waitForFinished();
    }

    // Every call made before this one has been seen.
    void sync() {
        const QString probe = QStringLiteral("probe-%1").arg(++m_probes);
        callServer(QStringLiteral("GetMenuExtra"), probe);
        QTRY_VERIFY_WITH_TIMEOUT(read().contains("GetMenuExtra " + probe), 10000);
    }

    // The calls seen since the last clear, without the probes.
    QStringList calls() {
        sync();
        QStringList out;
        for (const QString& call : read())
            if (!call.contains(QLatin1String(" probe-")))
                out << call;
        return out;
    }
    // The calls that change something: adds and removes.
    QStringList changes() {
        QStringList out;
        for (const QString& call : calls())
            if (!call.startsWith(QLatin1String("GetMenuExtra")))
                out << call;
        return out;
    }
    void clear() {
        sync();
        m_seen.clear();
    }

private:
    QStringList read() {
        m_buffer += QString::fromUtf8(m_process.readAllStandardOutput());
        qsizetype end;
        while ((end = m_buffer.indexOf(QLatin1Char('\n'))) >= 0) {
            const QString line = m_buffer.left(end);
            m_buffer.remove(0, end + 1);
            const qsizetype member = line.indexOf(QLatin1String("member="));
            if (line.startsWith(QLatin1String("method call")) && member >= 0) {
                m_seen << line.mid(member + 7).trimmed();
            } else if (line.trimmed().startsWith(QLatin1String("string \"")) && !m_seen.isEmpty()) {
                const QString value = line.trimmed().mid(8).chopped(1);
                m_seen.last() += QLatin1Char(' ') + QFileInfo(value).fileName();
            }
        }
        return m_seen;
    }

    QProcess m_process;
    QString m_buffer;
    QStringList m_seen;
    int m_probes = 0;
};

} // namespace panetest
