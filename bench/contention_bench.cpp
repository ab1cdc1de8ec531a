// Lost saves under contention: another process saves a calendar over and over, as a
// calendar application would, while this process completes and reopens to-dos in it
// through the writer. Each of the other process's saves carries a counter at the top
// and at the bottom of the file; before each save it reads the file and counts every
// save of its own that is no longer there (lost) and every file that is not a whole
// calendar (damaged).
// The ways of saving: atomic (a new file renamed over the old one), inplace (truncate,
// then write in pieces), overwrite (write in pieces from the start, truncate last) and
// twice (two atomic saves right after each other).
// Usage: contention_bench [atomic|inplace|overwrite|twice] [seconds] [to-dos]
//                         [pause between saves, µs] [pause before truncating, µs]
#include "menuextra/store/QL_ToDo.h"
#include "menuextra/store/QL_ToDoReader.h"
#include "platform/AtomicFile.h"
#include "platform/TextFile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

QByteArray calendarText(int toDos, qint64 counter) {
    QByteArray out =
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nX-SAVE-COUNTER:" + QByteArray::number(counter) + "\r\n";
    for (int n = 0; n < toDos; ++n)
        out += "BEGIN:VTODO\r\nDTSTAMP:20070110T120000Z\r\nUID:todo-" + QByteArray::number(n) +
               "\r\nSUMMARY:To-do number " + QByteArray::number(n) +
               " with a summary of some length\r\nSTATUS:NEEDS-ACTION\r\nEND:VTODO\r\n";
    out += "BEGIN:VJOURNAL\r\nUID:trailer\r\nX-SAVE-COUNTER:" + QByteArray::number(counter) +
           "\r\nEND:VJOURNAL\r\nEND:VCALENDAR\r\n";
    return out;
}

const QRegularExpression counterLine(QStringLiteral("X-SAVE-COUNTER:(\\d+)\r\n"));

// Both counters and the last line; false when the text is not a whole calendar.
bool readCounters(const QByteArray& bytes, qint64& top, qint64& bottom) {
    const QString text = QString::fromUtf8(bytes);
    if (!text.startsWith(QStringLiteral("BEGIN:VCALENDAR")) ||
        !text.endsWith(QStringLiteral("END:VCALENDAR\r\n")))
        return false;
    auto it = counterLine.globalMatch(text);
    QList<qint64> found;
    while (it.hasNext())
        found.append(it.next().captured(1).toLongLong());
    if (found.size() != 2)
        return false;
    top = found[0];
    bottom = found[1];
    return true;
}

QByteArray withCounter(const QByteArray& bytes, qint64 counter) {
    QString text = QString::fromUtf8(bytes);
    text.replace(counterLine, QStringLiteral("X-SAVE-COUNTER:%1\r\n").arg(counter));
    return text.toUtf8();
}

void pause(long microseconds) {
    const timespec t{0, microseconds * 1000};
    nanosleep(&t, nullptr);
}

// The other application: saves until told to stop, then prints its counts.
enum class Saving { Atomic, InPlace, Overwrite, Twice };

struct Pauses {
    long betweenSaves = 15000;
    long beforeTruncating = 2000;
};

int saver(const QString& path, Saving saving, int toDos, Pauses pauses, int resultFd) {
    qint64 saved = 0;
    qint64 lost = 0;
    qint64 damaged = 0;
    QByteArray memory = calendarText(toDos, 0);
    static volatile std::sig_atomic_t stop = 0;
    std::signal(SIGTERM, [](int) { stop = 1; });
    const QByteArray encoded = QFile::encodeName(path);
    const QByteArray temporary = encoded + ".saver-tmp";
    while (!stop) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            qint64 top = 0;
            qint64 bottom = 0;
            // The counter at the bottom tells a save that reached its end; a top
            // counter that differs from it, a text made of two saves.
            if (!readCounters(bytes, top, bottom) || top != bottom) {
                ++damaged;
            }
            if (readCounters(bytes, top, bottom)) {
                if (bottom < saved)
                    lost += saved - bottom;
                memory = bytes; // take in the other side's changes
            }
        }
        const QByteArray next = withCounter(memory, ++saved);
        if (saving == Saving::InPlace || saving == Saving::Overwrite) {
            // In pieces, as some applications save: after truncating, or over the old
            // text with the truncation last.
            const int flags = saving == Saving::InPlace ? O_TRUNC : 0;
            const int fd = ::open(encoded.constData(), O_WRONLY | flags | O_CLOEXEC);
            if (fd >= 0) {
                constexpr qint64 piece = 4096;
                for (qint64 at = 0; at < next.size(); at += piece) {
                    if (!platform::writeAll(fd, next.constData() + at,
                                            std::min(piece, next.size() - at)))
                        break;
                    pause(20);
                }
                if (saving == Saving::Overwrite) {
                    pause(pauses.beforeTruncating); // the old tail still stands after the new text
                    if (::ftruncate(fd, next.size()) != 0)
                        ++damaged;
                }
                ::close(fd);
            }
        } else {
            auto saveAtomically = [&](const QByteArray& bytes) {
                const int fd =
                    ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd >= 0) {
                    const bool ok = platform::writeAll(fd, bytes.constData(), bytes.size());
                    ::close(fd);
                    if (ok)
                        ::rename(temporary.constData(), encoded.constData());
                }
            };
            saveAtomically(next);
            if (saving == Saving::Twice)
                saveAtomically(withCounter(memory, ++saved));
        }
        pause(pauses.betweenSaves);
    }
    // The last save is checked too.
    QFile file(path);
    qint64 top = 0;
    qint64 bottom = 0;
    if (file.open(QIODevice::ReadOnly)) {
        if (!readCounters(file.readAll(), top, bottom) || top != bottom)
            ++damaged;
        if (bottom < saved)
            lost += saved - bottom;
    }
    const QByteArray line = QByteArray::number(saved) + ' ' + QByteArray::number(lost) + ' ' +
                            QByteArray::number(damaged) + '\n';
    return platform::writeAll(resultFd, line.constData(), line.size()) ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "atomic";
    const Saving saving = std::strcmp(mode, "inplace") == 0     ? Saving::InPlace
                          : std::strcmp(mode, "overwrite") == 0 ? Saving::Overwrite
                          : std::strcmp(mode, "twice") == 0     ? Saving::Twice
                                                                : Saving::Atomic;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    const int toDoCount = argc > 3 ? std::atoi(argv[3]) : 200;
    Pauses pauses;
    if (argc > 4)
        pauses.betweenSaves = std::atol(argv[4]);
    if (argc > 5)
        pauses.beforeTruncating = std::atol(argv[5]);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corestorage.ics"));
    {
        QFile file(path);
        const QByteArray initial = calendarText(toDoCount, 0);
        if (!dir.isValid() || !file.open(QIODevice::WriteOnly) ||
            file.write(initial) != initial.size())
            return 1;
    }
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        _exit(saver(path, saving, toDoCount, pauses, pipeFds[1]));
    }
    ::close(pipeFds[1]);

    // The writer side lives in a core application: failures are logged and alerted
    // (no window without a widget application) like in the menu extra.
    QCoreApplication app(argc, argv);
    qint64 writes = 0;
    qint64 failed = 0;
    qint64 notFound = 0;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < seconds * 1000LL) {
        const std::optional<QString> text = platform::readUtf8File(path);
        if (!text)
            continue;
        std::vector<std::shared_ptr<QL_ToDo>> toDos;
        ql::appendToDos(ql::normalizeLineEndings(*text), {}, toDos);
        if (toDos.empty()) {
            ++notFound;
            continue;
        }
        const std::shared_ptr<QL_ToDo>& toDo = toDos[size_t(writes) % toDos.size()];
        if (toDo->isComplete()) {
            toDo->setCompletedDate(std::nullopt);
            toDo->setStatus(QStringLiteral("NEEDS-ACTION"));
        } else {
            toDo->setCompletedDate(QStringLiteral("20070112T000000Z"));
            toDo->setStatus(QStringLiteral("COMPLETED"));
        }
        ++writes;
        if (!toDo->writeToCalendar(path, QLWriteActionReplace))
            ++failed;
    }
    ::kill(child, SIGTERM);
    char result[128] = {};
    const ssize_t n = ::read(pipeFds[0], result, sizeof result - 1);
    int status = 0;
    ::waitpid(child, &status, 0);
    long long saves = 0;
    long long lost = 0;
    long long damaged = 0;
    if (n <= 0 || std::sscanf(result, "%lld %lld %lld", &saves, &lost, &damaged) != 3)
        return 1;
    std::printf("%s saves for %d s against writeToCalendar, %d to-dos\n", mode, seconds, toDoCount);
    std::printf("other application: %lld saves, %lld lost, %lld damaged files seen\n", saves, lost,
                damaged);
    std::printf("writer: %lld writes, %lld reported failed, %lld reads without to-dos\n", writes,
                failed, notFound);
    return 0;
}
