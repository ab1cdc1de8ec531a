// A folder calendar of one-to-do files against one data file holding the same to-dos:
// the time parseForToDos takes for each, warm cache, median of several runs.
// Usage: bench_folder [to-dos] [runs]
#include "menuextra/store/QL_Calendar.h"
#include "menuextra/store/QL_CalendarStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <ctime>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray toDo(int n) {
    return QStringLiteral("BEGIN:VTODO\r\nUID:item-%1@example.org\r\nDTSTAMP:20250101T000000Z\r\n"
                          "SUMMARY:Item %1: call the garage about the winter tyres\r\n"
                          "STATUS:NEEDS-ACTION\r\nDUE;VALUE=DATE:202501%2\r\nEND:VTODO\r\n")
        .arg(n)
        .arg(n % 28 + 1, 2, 10, QLatin1Char('0'))
        .toUtf8();
}

const QByteArray head = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Bench//EN\r\n";
const QByteArray tail = "END:VCALENDAR\r\n";

bool write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

double cpuMs() {
    timespec t{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Figures {
    double wallMs = -1;
    double cpuMs = -1;
};

// Wall and processor time: on a busy machine the processor time is the steadier.
Figures median(QL_Calendar& calendar, int runs, size_t expected) {
    std::vector<double> walls, cpus;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        const double cpu = cpuMs();
        if (!calendar.parseForToDos() || calendar.arrayOfToDos().size() != expected)
            return {};
        cpus.push_back(cpuMs() - cpu);
        walls.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

// The floor of a folder: opening, reading and closing each file, nothing else.
Figures floor(const QString& folder, int runs) {
    std::vector<double> walls, cpus;
    const QStringList names = QDir(folder).entryList(QDir::Files);
    std::vector<QByteArray> paths;
    for (const QString& name : names)
        paths.push_back(QFile::encodeName(folder + QLatin1Char('/') + name));
    char buffer[65536];
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        const double cpu = cpuMs();
        for (const QByteArray& path : paths) {
            const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0)
                return {};
            struct stat status {};
            ::fstat(fd, &status);
            if (::read(fd, buffer, sizeof buffer) < 0)
                return {};
            ::close(fd);
        }
        cpus.push_back(cpuMs() - cpu);
        walls.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(walls.begin(), walls.end());
    std::sort(cpus.begin(), cpus.end());
    return {walls[walls.size() / 2], cpus[cpus.size() / 2]};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 7;
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    const QString store = ql::applicationSupportFolder() + "/iCal/Sources/";
    QDir().mkpath(store + "file.calendar");
    QDir().mkpath(store + "folder.calendar");
    const QString items = home.filePath("items");
    QDir().mkpath(items);
    QByteArray all = head;
    for (int n = 0; n < count; ++n) {
        all += toDo(n);
        if (!write(items + QStringLiteral("/item-%1.ics").arg(n), head + toDo(n) + tail))
            return 1;
    }
    if (!write(ql::calendarDataPath("file"), all + tail) ||
        !QFile::link(items, ql::calendarItemsPath("folder")))
        return 1;

    QL_Calendar file("file", "file", "File", std::nullopt, std::nullopt, std::nullopt);
    QL_Calendar folder("folder", "folder", "Folder", std::nullopt,
                       ql::folderCalendarType.toString(), std::nullopt);
    const Figures one = median(file, runs, size_t(count));
    const Figures many = median(folder, runs, size_t(count));
    QTextStream out(stdout);
    out << count << " to-dos, median of " << runs << " runs (warm cache), wall / cpu ms\n";
    out << "one data file:           " << QString::number(one.wallMs, 'f', 1) << " / "
        << QString::number(one.cpuMs, 'f', 1) << "\n";
    out << "folder of " << count << " files: " << QString::number(many.wallMs, 'f', 1) << " / "
        << QString::number(many.cpuMs, 'f', 1) << "\n";
    const Figures bare = floor(items, runs);
    out << "floor, open + read + close of each file: " << QString::number(bare.wallMs, 'f', 1)
        << " / " << QString::number(bare.cpuMs, 'f', 1) << "\n";
    out << "ratio (cpu): " << QString::number(many.cpuMs / one.cpuMs, 'f', 2)
        << " x (goal: within 3x)\n";
    return one.cpuMs < 0 || many.cpuMs < 0 ? 1 : 0;
}
