// Completing one to-do in a 13 MB calendar, next to the floor: reading the same file
// and atomically rewriting its bytes without any processing.
// Usage: writer_bench [megabytes] [runs]. The calendar lies in $TMPDIR: on a memory file
// system (TMPDIR=/dev/shm) the floor is lowest and the ratio the hardest to meet.
#include "menuextra/store/QL_ToDo.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/AtomicFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// A calendar of about the given size: to-dos of every shape between events, lines
// folded as the calendar application folds them.
QByteArray generateCalendar(qint64 bytes) {
    QByteArray out = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Orvane//Bench//EN\r\n";
    for (int n = 0; out.size() < bytes; ++n) {
        if (n % 3 == 0)
            out += QStringLiteral("BEGIN:VEVENT\r\nUID:ev-%1\r\nDTSTART:20070110T090000Z\r\n"
                                  "SUMMARY:Meeting number %1\\, room %2\r\nEND:VEVENT\r\n")
                       .arg(n)
                       .arg(n % 40)
                       .toUtf8();
        out += QStringLiteral("BEGIN:VTODO\r\nDTSTAMP:20070110T120000Z\r\nUID:todo-%1\r\n"
                              "SEQUENCE:%2\r\nSUMMARY:To-do %1: call the garage\\, then the bank "
                              "about the ca\r\n r and its papers\r\nDTSTART;VALUE=DATE:20070110\r\n"
                              "PRIORITY:%3\r\nSTATUS:NEEDS-ACTION\r\nDUE;VALUE=DATE:200701%4\r\n"
                              "CATEGORIES:Home,Errands\r\nX-BENCH-NOTE:kept as it is\r\n")
                   .arg(n)
                   .arg(n % 5)
                   .arg(n % 10)
                   .arg(10 + n % 18)
                   .toUtf8();
        if (n % 2 == 0)
            out += "DESCRIPTION:K\xc3\xbc"
                   "che\\nline two with some more words to make it "
                   "longer than one line of the f\r\n ile\r\n";
        if (n % 4 == 0)
            out += "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n";
        out += "END:VTODO\r\n";
    }
    out += "END:VCALENDAR\r\n";
    return out;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

double millisecondsOf(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const qint64 megabytes = argc > 1 ? QByteArray(argv[1]).toLongLong() : 13;
    const int runs = argc > 2 ? QByteArray(argv[2]).toInt() : 15;

    QTemporaryDir dir;
    const QString path = dir.filePath("corestorage.ics");
    const QByteArray original = generateCalendar(megabytes * 1000 * 1000);
    auto restore = [&] {
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
               file.write(original) == original.size();
    };
    if (!dir.isValid() || !restore()) {
        std::fprintf(stderr, "writer_bench: cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::vector<std::shared_ptr<QL_ToDo>> toDos;
    ql::appendToDos(ql::normalizeLineEndings(QString::fromUtf8(original)), {}, toDos);
    if (toDos.empty())
        return 1;
    // One in the middle, so the search passes half the file before finding it.
    const std::shared_ptr<QL_ToDo> toDo = toDos.at(toDos.size() / 2);
    toDo->setStatus(QStringLiteral("COMPLETED"));
    toDo->setCompletedDate(QStringLiteral("20070112T000000Z"));

    std::vector<double> floor, complete;
    // The floor reads into a buffer kept from run to run, as the writer does.
    platform::FileSnapshot snapshot;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer t;
        t.start();
        if (!platform::readFileSnapshot(path, snapshot) ||
            platform::replaceFileAtomically(path, snapshot.bytes, snapshot.identity) !=
                platform::AtomicReplaceResult::Replaced)
            return 1;
        floor.push_back(millisecondsOf(t));
        // Each timing follows a fresh copy of the calendar, so neither inherits the
        // other's unwritten pages.
        if (!restore())
            return 1;

        t.restart();
        if (!toDo->writeToCalendar(path, QLWriteActionReplace))
            return 1;
        complete.push_back(millisecondsOf(t));
        if (!restore())
            return 1;
    }
    const double f = median(floor);
    const double c = median(complete);
    std::printf("calendar: %.1f MB, %zu to-dos, %d runs\n", double(original.size()) / 1e6,
                toDos.size(), runs);
    std::printf("floor (read + atomic rewrite, no processing): median %.1f ms\n", f);
    std::printf("complete one to-do (writeToCalendar Replace):  median %.1f ms\n", c);
    std::printf("processing (complete - floor):                  %.1f ms\n", c - f);
    std::printf("ratio: %.2f x the floor (goal: under 2x)\n", c / f);
    return 0;
}
