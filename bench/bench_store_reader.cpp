// Times the store reader on a large generated store: loadiCalCalendars plus
// parseForToDos of every calendar. Each measurement runs in a child process of its
// own so that its peak resident memory is its own. Compared with the floor of reading
// and decoding the same bytes and, when built with it, with a general iCalendar parser.
//
// Usage: bench_store_reader [runs] | --generate FOLDER [TO-DOS]
#include "menuextra/QLMenuExtra.h"
#include "menuextra/store/QL_CalendarStore.h"
#include "platform/PropertyList.h"
#include "platform/TextFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <vector>

#include <sys/resource.h>

#ifdef QUILLO_BENCH_HAVE_LIBICAL
#include <libical/ical.h>
#endif

namespace {

constexpr int calendarCount = 20;
constexpr int toDoCount = 30000;
constexpr int eventCount = 10000;

QString uid(int n) {
    return QStringLiteral("6A1F0C2E-93B4-4D5A-8E7F-%1").arg(n, 12, 10, QLatin1Char('0'));
}

// A to-do as the calendar application writes one: a title long enough to be folded,
// notes with escapes, and an alarm on every other one.
void appendToDo(QString& out, int n) {
    const QString title =
        QStringLiteral("Task %1: call the garage about the winter tyres, then the bank about the "
                       "standing order")
            .arg(n);
    const QString summaryLine = QStringLiteral("SUMMARY:") + title;
    // Time stamps differ from one to-do to the next, as they do in real stores.
    const QString stamp = QStringLiteral("200701%1T%2%3%4Z")
                              .arg(n % 28 + 1, 2, 10, QLatin1Char('0'))
                              .arg(n / 3600 % 24, 2, 10, QLatin1Char('0'))
                              .arg(n / 60 % 60, 2, 10, QLatin1Char('0'))
                              .arg(n % 60, 2, 10, QLatin1Char('0'));
    out += QStringLiteral("BEGIN:VTODO\r\nDTSTAMP:") + stamp + QStringLiteral("\r\nUID:") + uid(n) +
           QStringLiteral("\r\nSEQUENCE:3\r\n");
    out += summaryLine.left(75) + QStringLiteral("\r\n ") + summaryLine.mid(75) +
           QStringLiteral("\r\n");
    out += QStringLiteral("DTSTART;VALUE=DATE:20070110\r\nPRIORITY:%1\r\n").arg(n % 10);
    if (n % 3 == 0)
        out += QStringLiteral("STATUS:COMPLETED\r\nCOMPLETED:") + stamp + QStringLiteral("\r\n");
    else
        out += QStringLiteral("STATUS:NEEDS-ACTION\r\n");
    out += QStringLiteral("DUE;VALUE=DATE:200702%1\r\n").arg(n % 28 + 1, 2, 10, QLatin1Char('0'));
    out += QStringLiteral("DESCRIPTION:Bring the papers\\nand the key\\, please\r\n");
    if (n % 2 == 0)
        out += QStringLiteral("BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\n"
                              "DESCRIPTION:Reminder\r\nEND:VALARM\r\n");
    out += QStringLiteral("END:VTODO\r\n");
}

void appendEvent(QString& out, int n, int toDos) {
    out += QStringLiteral("BEGIN:VEVENT\r\nDTSTAMP:20070110T120000Z\r\nUID:") + uid(toDos + n) +
           QStringLiteral("\r\nSEQUENCE:1\r\nDTSTART;TZID=Europe/Berlin:20070112T090000\r\n"
                          "DTEND;TZID=Europe/Berlin:20070112T100000\r\n"
                          "SUMMARY:Meeting %1\r\n"
                          "LOCATION:Room 4\r\nEND:VEVENT\r\n")
               .arg(n);
}

// Writes the store under support/iCal; returns the size of the calendar text.
qint64 generateStore(const QString& support, int toDos = toDoCount) {
    QVariantList nodes;
    qint64 bytes = 0;
    for (int c = 0; c < calendarCount; ++c) {
        const QString key = QStringLiteral("CAL-%1").arg(c);
        const QString folder = support + QStringLiteral("/iCal/Sources/") + key + ".calendar";
        QDir().mkpath(folder);
        QString text = QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Quillo "
                                      "Bench//EN\r\nCALSCALE:GREGORIAN\r\n");
        for (int n = c; n < toDos; n += calendarCount)
            appendToDo(text, n);
        for (int n = c; n < eventCount; n += calendarCount)
            appendEvent(text, n, toDos);
        text += QStringLiteral("END:VCALENDAR\r\n");
        QFile data(folder + "/corestorage.ics");
        const QByteArray utf8 = text.toUtf8();
        if (!data.open(QIODevice::WriteOnly) || data.write(utf8) != utf8.size())
            qFatal("cannot write %s", qPrintable(data.fileName()));
        bytes += utf8.size();
        const QVariantMap info{{"Key", key},
                               {"Title", QStringLiteral("Calendar %1").arg(c)},
                               {"Type", "com.apple.ical.sources.naivereadwrite"}};
        QFile infoFile(folder + "/Info.plist");
        if (!infoFile.open(QIODevice::WriteOnly) ||
            infoFile.write(*platform::PropertyList::toData(info)) < 0)
            qFatal("cannot write %s", qPrintable(infoFile.fileName()));
        nodes.append(QVariantMap{
            {"Type", "CALSourceNode"}, {"SourceKey", key}, {"ThemeColor", "#1BADF8FF"}});
    }
    QFile nodesFile(support + "/iCal/nodes.plist");
    if (!nodesFile.open(QIODevice::WriteOnly) ||
        nodesFile.write(*platform::PropertyList::toData(QVariantMap{{"List", nodes}})) < 0)
        qFatal("cannot write the node list");
    return bytes;
}

QStringList dataFiles() {
    QStringList files;
    for (int c = 0; c < calendarCount; ++c)
        files << ql::calendarDataPath(QStringLiteral("CAL-%1").arg(c));
    return files;
}

// One pass of a mode; returns the number of to-dos found (or bytes decoded).
qint64 runReader() {
    QLMenuExtra menuExtra;
    if (!menuExtra.loadiCalCalendars())
        qFatal("load failed");
    qint64 found = 0;
    for (const auto& [title, calendar] : *menuExtra.theCalendars()) {
        if (!calendar->parseForToDos())
            qFatal("parse failed");
        found += qint64(calendar->arrayOfToDos().size());
    }
    return found;
}

qint64 runFloor() {
    qint64 chars = 0;
    for (const QString& path : dataFiles()) {
        const std::optional<QString> text = platform::readUtf8File(path);
        if (!text)
            qFatal("read failed");
        chars += text->size();
    }
    return chars;
}

#ifdef QUILLO_BENCH_HAVE_LIBICAL
qint64 runGeneralParser() {
    std::vector<icalcomponent*> calendars;
    qint64 found = 0;
    for (const QString& path : dataFiles()) {
        std::optional<QByteArray> bytes = platform::readFileBytes(path);
        if (!bytes)
            qFatal("read failed");
        icalcomponent* calendar = icalparser_parse_string(bytes->constData());
        if (!calendar)
            qFatal("general parser failed");
        found += icalcomponent_count_components(calendar, ICAL_VTODO_COMPONENT);
        calendars.push_back(calendar);
    }
    for (icalcomponent* calendar : calendars)
        icalcomponent_free(calendar);
    return found;
}
#endif

long peakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Child: runs one mode several times and prints "median_ms result peak_kib".
int child(const QString& mode, int runs) {
    std::vector<double> times;
    qint64 result = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        if (mode == "reader")
            result = runReader();
        else if (mode == "floor")
            result = runFloor();
#ifdef QUILLO_BENCH_HAVE_LIBICAL
        else if (mode == "general")
            result = runGeneralParser();
#endif
        else if (mode != "idle")
            return 2;
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("%.3f %lld %ld\n", times[times.size() / 2], static_cast<long long>(result),
                peakRssKiB());
    return 0;
}

struct Figures {
    double medianMs = 0;
    qint64 result = 0;
    double peakMiB = 0;
};

std::optional<Figures> measure(const QString& mode, int runs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("--child"), mode, QString::number(runs)});
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        return std::nullopt;
    const QStringList parts = QString::fromLatin1(process.readAllStandardOutput()).split(' ');
    if (parts.size() != 3)
        return std::nullopt;
    return Figures{parts[0].toDouble(), parts[1].toLongLong(), parts[2].toDouble() / 1024.0};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 4 && args[1] == "--child")
        return child(args[2], args[3].toInt());
    // For profiling: write the store into a folder and run a child there by hand
    // (XDG_DATA_HOME=FOLDER bench_store_reader --child reader 20).
    if (args.size() >= 3 && args[1] == "--generate")
        return generateStore(args[2], args.size() >= 4 ? std::max(1, args[3].toInt()) : toDoCount) >
                       0
                   ? 0
                   : 1;

    const int runs = args.size() >= 2 ? std::max(1, args[1].toInt()) : 7;
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    // The children find the store through the application-support folder.
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    const qint64 bytes = generateStore(home.path());
    const double megabytes = double(bytes) / 1e6;

    QTextStream out(stdout);
    out << "Store: " << calendarCount << " calendars, " << toDoCount << " to-dos, " << eventCount
        << " events, " << QString::number(megabytes, 'f', 1) << " MB of calendar text; median of "
        << runs << " runs\n";
    out << QStringLiteral("%1 %2 %3 %4 %5\n")
               .arg("mode", -34)
               .arg("median ms", 10)
               .arg("MB/s", 9)
               .arg("peak RSS MiB", 13)
               .arg("result", 9);

    const std::optional<Figures> idle = measure("idle", 1);
    struct Mode {
        QString name, label;
    };
    std::vector<Mode> modes{{"reader", "load + parseForToDos (to-dos)"},
                            {"floor", "read + decode UTF-8 only (chars)"}};
#ifdef QUILLO_BENCH_HAVE_LIBICAL
    modes.push_back({"general", "general iCalendar parser (to-dos)"});
#endif
    std::optional<Figures> reader, general;
    for (const Mode& mode : modes) {
        const std::optional<Figures> f = measure(mode.name, runs);
        if (!f) {
            out << mode.label << ": failed\n";
            return 1;
        }
        if (mode.name == "reader")
            reader = f;
        if (mode.name == "general")
            general = f;
        out << QStringLiteral("%1 %2 %3 %4 %5\n")
                   .arg(mode.label, -34)
                   .arg(f->medianMs, 10, 'f', 1)
                   .arg(megabytes / (f->medianMs / 1000.0), 9, 'f', 1)
                   .arg(f->peakMiB, 13, 'f', 1)
                   .arg(f->result, 9);
    }
    if (idle)
        out << "Peak RSS of an idle child (Qt start-up): " << QString::number(idle->peakMiB, 'f', 1)
            << " MiB\n";
    if (reader && general)
        out << "General parser / reader: time "
            << QString::number(general->medianMs / reader->medianMs, 'f', 1)
            << "x, peak RSS above idle "
            << QString::number((general->peakMiB - (idle ? idle->peakMiB : 0)) /
                                   (reader->peakMiB - (idle ? idle->peakMiB : 0)),
                               'f', 1)
            << "x\n";
    return 0;
}
