// Times what reminders add to each rebuild of the menu: the alarm instants of every
// to-do read and the timer armed, for a large store where every to-do has an alarm.
//
// Usage: bench_reminders [runs]
#include "menuextra/reminders/QL_Reminders.h"
#include "menuextra/store/QL_ToDoReader.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int toDoCount = 30000;

// Due dates in three forms, triggers relative to both ends and absolute.
QString calendarText() {
    static const char* const dues[] = {"DUE;TZID=Europe/Berlin:20270115T100000",
                                       "DUE:20270115T090000Z", "DUE;VALUE=DATE:20270115"};
    static const char* const triggers[] = {"TRIGGER:-PT15M", "TRIGGER;RELATED=START:-P1DT2H",
                                           "TRIGGER;VALUE=DATE-TIME:20270114T063000Z"};
    QString text = QStringLiteral("BEGIN:VCALENDAR\r\nVERSION:2.0\r\n");
    for (int n = 0; n < toDoCount; ++n)
        text += QStringLiteral("BEGIN:VTODO\r\nUID:bench-%1\r\nSUMMARY:Task %1\r\n"
                               "DTSTART;VALUE=DATE:20270110\r\n%2\r\nBEGIN:VALARM\r\n"
                               "ACTION:DISPLAY\r\n%3\r\nEND:VALARM\r\nEND:VTODO\r\n")
                    .arg(n)
                    .arg(QLatin1String(dues[n % 3]), QLatin1String(triggers[n / 3 % 3]));
    return text + QStringLiteral("END:VCALENDAR\r\n");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    std::vector<std::shared_ptr<QL_ToDo>> toDos;
    ql::appendToDos(calendarText(), {QStringLiteral("bench"), QStringLiteral("Bench"), {}}, toDos);

    QL_Reminders reminders([](const QString& key) { return key; }, [](const QL_ToDo&) {});
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        reminders.schedule(toDos);
        ms.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("reminders armed from %zu to-dos with alarms: median %.2f ms, best %.2f ms "
                "(%.2f us per to-do), next %s\n",
                toDos.size(), ms[ms.size() / 2], ms.front(),
                ms[ms.size() / 2] * 1000 / toDos.size(),
                qPrintable(reminders.nextReminder().value_or(QDateTime()).toString(Qt::ISODate)));
    return 0;
}
