// Times the to-do menu: the rebuild from the store alone, and the whole way from the
// user's click to a painted menu (rebuild, the Qt menu made from it, its first paint on
// the offscreen platform), and the process's peak memory while a row is measured. Three
// stores: 20 calendars with 1,000 shown to-dos, and 30,000 and 100,000 to-dos written by
// the store benchmark (bench_store_reader).
//
// Usage: bench_menu [runs [small]]
#include "bench/BenchMemory.h"
#include "menuextra/QLMenuExtra.h"
#include "platform/MenuWidget.h"
#include "platform/Preferences.h"
#include "platform/PropertyList.h"
#include "shared/QL_Preferences.h"

#include <QApplication>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <ctime>
#include <functional>
#include <vector>

namespace {

// A store like a busy user's: 20 calendars of 50 to-dos, due around today, some
// completed, some with notes, a link and an alarm.
void writeSmallStore(const QString& support) {
    const QDate today = QDate::currentDate();
    QVariantList nodes;
    int n = 0;
    for (int c = 0; c < 20; ++c) {
        const QString key = QStringLiteral("MENU-%1").arg(c);
        const QString folder = support + QStringLiteral("/iCal/Sources/") + key + ".calendar";
        QDir().mkpath(folder);
        QString text =
            QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Quillo Bench//EN\r\n");
        for (int i = 0; i < 50; ++i, ++n) {
            text += QStringLiteral("BEGIN:VTODO\r\nDTSTAMP:20070110T120000Z\r\nUID:menu-%1\r\n"
                                   "SEQUENCE:1\r\nSUMMARY:%2 the quarterly figures for team %1\r\n"
                                   "PRIORITY:%3\r\n")
                        .arg(n)
                        .arg(n % 2 ? QStringLiteral("check") : QStringLiteral("Send"))
                        .arg(n % 10);
            if (n % 5 != 0)
                text += QStringLiteral("DUE;VALUE=DATE:") +
                        today.addDays(n % 21 - 7).toString(QStringLiteral("yyyyMMdd")) +
                        QStringLiteral("\r\n");
            if (n % 4 == 0)
                text += QStringLiteral("STATUS:COMPLETED\r\nCOMPLETED:") +
                        today.addDays(-(n % 9)).toString(QStringLiteral("yyyyMMdd")) +
                        QStringLiteral("T000000Z\r\n");
            else
                text += QStringLiteral("STATUS:NEEDS-ACTION\r\n");
            if (n % 3 == 0)
                text += QStringLiteral("DESCRIPTION:Ask Anna\\, then Bob\\nboth before noon\r\n"
                                       "URL;VALUE=URI:http://example.org/figures\r\n"
                                       "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\n"
                                       "END:VALARM\r\n");
            text += QStringLiteral("END:VTODO\r\n");
        }
        text += QStringLiteral("END:VCALENDAR\r\n");
        QFile data(folder + "/corestorage.ics");
        if (!data.open(QIODevice::WriteOnly) || data.write(text.toUtf8()) < 0)
            qFatal("cannot write %s", qPrintable(data.fileName()));
        QFile info(folder + "/Info.plist");
        const QVariantMap infoMap{{"Key", key},
                                  {"Title", QStringLiteral("Team %1").arg(c)},
                                  {"Type", "com.apple.ical.sources.naivereadwrite"}};
        if (!info.open(QIODevice::WriteOnly) ||
            info.write(*platform::PropertyList::toData(infoMap)) < 0)
            qFatal("cannot write %s", qPrintable(info.fileName()));
        nodes.append(QVariantMap{{"Type", "CALSourceNode"},
                                 {"SourceKey", key},
                                 {"ThemeColor", c % 2 ? "#1BADF8FF" : "#CC2200FF"}});
    }
    QFile nodesFile(support + "/iCal/nodes.plist");
    if (!nodesFile.open(QIODevice::WriteOnly) ||
        nodesFile.write(*platform::PropertyList::toData(QVariantMap{{"List", nodes}})) < 0)
        qFatal("cannot write the node list");
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Wall-clock and processor time of one run. On a machine shared with other work the
// processor time is the steadier figure.
struct Time {
    double wall;
    double cpu;
};

Time timeMs(const std::function<void()>& work) {
    QElapsedTimer timer;
    const double cpuStart = cpuMs();
    timer.start();
    work();
    return {double(timer.nsecsElapsed()) / 1e6, cpuMs() - cpuStart};
}

struct Row {
    Time refresh;
    Time clickToPaint;
    std::size_t items;
    double peakMegabytes;
};

// The peak resident memory starts again from what is resident now.
void resetPeakMemory() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

// The peak resident memory since the last reset, in megabytes.
double peakMemoryMegabytes() {
    return peakMegabytesOf(QStringLiteral("/proc/self/status"));
}

Time median(const std::vector<Time>& times) {
    std::vector<double> wall, cpu;
    for (const Time& t : times) {
        wall.push_back(t.wall);
        cpu.push_back(t.cpu);
    }
    return {median(wall), median(cpu)};
}

Row measure(int runs) {
    resetPeakMemory();
    QLMenuExtra extra(platform::Bundle::bundleWithPath(QStringLiteral(QUILLO_MENU_BUNDLE_DIR)));
    extra.loadMenuIcons();
    extra.refreshMenu(); // warm: fonts, pictures, texts
    std::vector<Time> refresh, clickToPaint;
    for (int r = 0; r < runs; ++r)
        refresh.push_back(timeMs([&] { extra.refreshMenu(); }));
    for (int r = 0; r < runs; ++r) {
        std::unique_ptr<platform::MenuWidget> widget;
        clickToPaint.push_back(timeMs([&] {
            widget = std::make_unique<platform::MenuWidget>(*extra.menu());
            widget->popup(QPoint(0, 0));
            const QPixmap painted = widget->grab();
            if (painted.isNull())
                qFatal("nothing painted");
        }));
        widget->hide();
        widget.reset();
        QCoreApplication::processEvents();
    }
    return {median(refresh), median(clickToPaint), extra.theToDoRepository().size(),
            peakMemoryMegabytes()};
}

void setSetting(const char* key, const QVariant& value) {
    platform::preferencesSetAppValue(QString::fromLatin1(key), value, kQLApplicationID);
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    // The store, the settings and the installed pane, all in a folder of their own.
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path() + "/data"));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + "/config"));
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QDir().mkpath(home.path() + "/data/PreferencePanes");
    QFile::link(QStringLiteral(QUILLO_PREFPANE_BUNDLE_DIR),
                home.path() + "/data/PreferencePanes/Quillo.prefPane");
    QApplication app(argc, argv);
    const int runs = argc >= 2 ? std::max(1, QString::fromLatin1(argv[1]).toInt()) : 9;

    QTextStream out(stdout);
    out << "Median of " << runs << " runs; tool tips and priority icons on.\n";
    out << QStringLiteral("%1 %2 %3 %4 %5\n")
               .arg("", -44)
               .arg("", 7)
               .arg("refreshMenu ms", 20)
               .arg("click to painted menu ms", 26)
               .arg("peak", 8);
    out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
               .arg("store and grouping", -44)
               .arg("items", 7)
               .arg("wall", 10)
               .arg("cpu", 9)
               .arg("wall", 14)
               .arg("cpu", 11)
               .arg("MB", 8);
    out.flush();
    const auto report = [&](const QString& label, int sortOrder, int rowRuns) {
        setSetting("sortOrder", sortOrder);
        const Row row = measure(rowRuns);
        out << QStringLiteral("%1 %2 %3 %4 %5 %6 %7\n")
                   .arg(label, -44)
                   .arg(row.items, 7)
                   .arg(row.refresh.wall, 10, 'f', 1)
                   .arg(row.refresh.cpu, 9, 'f', 1)
                   .arg(row.clickToPaint.wall, 14, 'f', 1)
                   .arg(row.clickToPaint.cpu, 11, 'f', 1)
                   .arg(row.peakMegabytes, 8, 'f', 0);
        out.flush();
    };

    writeSmallStore(home.path() + "/data");
    report(QStringLiteral("20 calendars, 1,000 to-dos, by calendar"), 0, runs);
    report(QStringLiteral("20 calendars, 1,000 to-dos, by due date"), 1, runs);
    setSetting("colorItemsByCalendarColor", true);
    setSetting("showDueDates", true);
    report(QStringLiteral("  the same, coloured, with due dates"), 1, runs);
    setSetting("colorItemsByCalendarColor", false);
    setSetting("showDueDates", false);

    // "bench_menu RUNS small" stops here (for profiling).
    if (argc >= 3 && QString::fromLatin1(argv[2]) == QLatin1String("small"))
        return 0;
    const auto generate = [&](int toDos) {
        QDir(home.path() + "/data/iCal").removeRecursively();
        QProcess generator;
        generator.start(
            QStringLiteral(QUILLO_STORE_BENCH),
            {QStringLiteral("--generate"), home.path() + "/data", QString::number(toDos)});
        if (!generator.waitForFinished(-1) || generator.exitCode() != 0)
            qFatal("the store benchmark could not write its store");
    };
    generate(30000);
    report(QStringLiteral("20 calendars, 30,000 to-dos, by calendar"), 0, runs);
    report(QStringLiteral("20 calendars, 30,000 to-dos, by due date"), 1, runs);
    // The largest store: fewer runs, each takes long.
    generate(100000);
    report(QStringLiteral("20 calendars, 100,000 to-dos, by due date"), 1, std::min(runs, 5));
    return 0;
}
