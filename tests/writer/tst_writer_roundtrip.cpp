// Generated calendars, random texts and every kind of change in turn: what lies
// outside the changed to-do stays as it was, and reading back gives what was written.
#include "WriterTestSupport.h"
#include "common/TestEnv.h"

#include "menuextra/store/QL_ToDo.h"
#include "platform/Alert.h"
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <random>

using namespace writertest;

namespace {

// Line breaks come back from the reader as CR.
QString asRead(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\r")).replace(u'\n', u'\r');
}

class Generator {
public:
    explicit Generator(quint32 seed) : m_rng(seed) {}

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(m_rng); }
    bool chance(int percent) { return uniform(1, 100) <= percent; }
    template <typename T> const T& pick(const QList<T>& list) {
        return list.at(uniform(0, int(list.size()) - 1));
    }

    QString codePoint(char32_t lo, char32_t hi) {
        char32_t c;
        do {
            c = char32_t(uniform(int(lo), int(hi)));
        } while (c >= 0xD800 && c <= 0xDFFF);
        return QString::fromUcs4(&c, 1);
    }

    // Any Unicode, the escaped characters, line breaks of every kind, spaces at
    // either end, words a calendar file gives meaning to, and long text.
    QString text() {
        QString out;
        const int pieces = chance(15) ? uniform(40, 120) : uniform(0, 12);
        for (int i = 0; i < pieces; ++i) {
            switch (uniform(0, 11)) {
            case 0:
                out += pick<QString>({"\\", ";", ",", ":", "\"", "\\n", "\\\\", "\\,"});
                break;
            case 1:
                out += pick<QString>({"\r", "\n", "\r\n"});
                break;
            case 2:
                out += QString(uniform(1, 3), u' ');
                break;
            case 3:
                out += codePoint(0x1F300, 0x1FAFF);
                break;
            case 4:
                out += codePoint(0x10000, 0x10FFFF);
                break;
            case 5:
                out += codePoint(0x0000, 0xFFFF);
                break;
            case 6:
                out += pick<QString>({"END:VTODO", "END:VCALENDAR", "BEGIN:VALARM", "\t"});
                break;
            case 7:
                out += codePoint(0x00A0, 0x07FF);
                break;
            default:
                out += pick<QString>({"milk", "Garage", "Küche", "東京", "ok", "x"});
                break;
            }
        }
        return out;
    }

    QString date() {
        return QStringLiteral("2007%1%2")
            .arg(uniform(1, 12), 2, 10, QLatin1Char('0'))
            .arg(uniform(1, 28), 2, 10, QLatin1Char('0'));
    }

    // Folds as another program might: after a random number of code points, never
    // inside a surrogate pair.
    QString foreignFold(const QString& line) {
        QString out;
        int sinceFold = 0;
        const int width = uniform(20, 74);
        for (qsizetype i = 0; i < line.size(); ++i) {
            if (sinceFold >= width && !line.at(i).isLowSurrogate()) {
                out += QStringLiteral("\r\n ");
                sinceFold = 0;
            }
            out += line.at(i);
            ++sinceFold;
        }
        return out;
    }

    // A to-do as the calendar application writes it: its own order, its own folding,
    // properties this program does not know, alarms.
    QString foreignToDo(int n) {
        QStringList lines = {QStringLiteral("UID:gen-%1-%2").arg(n).arg(uniform(0, 1 << 30)),
                             "DTSTAMP:" + date() + "T101500Z",
                             foreignFold(pick<QString>({"SUMMARY:", "SUMMARY;LANGUAGE=de:",
                                                        "summary;X-P=\"a;b:c\":"}) +
                                         escapedForSetter(text()))};
        if (chance(60))
            lines << "SEQUENCE:" + QString::number(uniform(0, 9));
        if (chance(50))
            lines << foreignFold(
                pick<QString>({"DESCRIPTION:", "DESCRIPTION;ALTREP=\"cid:part1@example.org\":"}) +
                escapedForSetter(text()));
        if (chance(30))
            lines << "PERCENT-COMPLETE:" + QString::number(pick<int>({0, 40, 100}));
        if (chance(30))
            lines << "LAST-MODIFIED:" + date() + "T070000Z";
        if (chance(30))
            lines << foreignFold(pick<QString>({"URL;VALUE=URI:", "URL:"}) +
                                 escapedForSetter(text()));
        if (chance(50)) {
            lines << "STATUS:COMPLETED"
                  << pick<QString>({"COMPLETED:", "COMPLETED;TZID=Europe/Berlin:"}) + date() +
                         "T090000";
        } else if (chance(50)) {
            lines << pick<QString>(
                {"STATUS:NEEDS-ACTION", "STATUS;X-FOO=1:IN-PROCESS", "status:needs-action"});
        }
        if (chance(50))
            lines << "PRIORITY:" + QString::number(uniform(0, 9));
        if (chance(50))
            lines << pick<QString>({"DUE;VALUE=DATE:", "DUE:"}) + date();
        if (chance(30))
            lines << "DUE;TZID=Europe/Berlin:" + date() + "T180000";
        if (chance(50))
            lines << pick<QString>({"DTSTART;VALUE=DATE:", "DTSTART:"}) + date();
        if (chance(40))
            lines << "CATEGORIES:Home,Work";
        if (chance(40))
            lines << "CREATED:" + date() + "T080000Z";
        if (chance(40))
            lines << foreignFold("X-GEN-" + QString::number(n) +
                                 ";X-P=1:" + escapedForSetter(text()));
        std::shuffle(lines.begin(), lines.end(), m_rng);
        for (int a = uniform(0, 2); a > 0; --a)
            lines << "BEGIN:VALARM"
                  << "ACTION:DISPLAY"
                  << "TRIGGER:-PT" + QString::number(uniform(1, 90)) + "M"
                  << "END:VALARM";
        return crlfLines(QStringList{"BEGIN:VTODO"} + lines + QStringList{"END:VTODO"});
    }

    QString store() {
        QStringList parts = {"BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//Gen//Test//EN"};
        if (chance(50))
            parts << "BEGIN:VTIMEZONE"
                  << "TZID:Europe/Berlin"
                  << "END:VTIMEZONE";
        const int toDos = uniform(1, 5);
        for (int i = 0; i < toDos; ++i) {
            if (chance(40))
                parts << "BEGIN:VEVENT" << QStringLiteral("UID:ev-%1").arg(i)
                      << foreignFold("SUMMARY:" + escapedForSetter(text())) << "END:VEVENT";
            parts << foreignToDo(i);
        }
        parts << "END:VCALENDAR";
        QString out = crlfLines(parts) + QStringLiteral("\r\n");
        switch (uniform(0, 2)) {
        case 0:
            return out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        case 1:
            return out.replace(QLatin1String("\r\n"), QLatin1String("\r"));
        default:
            return out;
        }
    }

    std::mt19937& engine() { return m_rng; }

private:
    std::mt19937 m_rng;
};

const QString stamp = QStringLiteral("20070112T083000Z"); // the fixed clock in UTC

// The record as the reader will give it back: its texts with CR line breaks, stamped
// as a new revision. A URL is a URI and comes back as it was.
std::shared_ptr<QL_ToDo> expectedOnReading(const QL_ToDo& written) {
    std::shared_ptr<QL_ToDo> expected = written.copyToDo();
    auto reread = [](const QL_ToDo::Text& t) {
        return t ? std::optional(escapedForSetter(asRead(*t))) : std::nullopt;
    };
    expected->setSummary(reread(written.theSummary()));
    expected->setDescription(reread(written.theDescription()));
    expected->setDateStamp(stamp);
    return expected;
}

// The start of the last line "END:VCALENDAR".
qsizetype calendarEnd(const QByteArray& text, const QByteArray& lineEnd) {
    return text.lastIndexOf(lineEnd + "END:VCALENDAR") + lineEnd.size();
}

// The line end a generated store uses throughout.
QByteArray lineEndOf(const QByteArray& bytes) {
    if (bytes.contains("\r\n"))
        return "\r\n";
    return bytes.contains('\n') ? "\n" : "\r";
}

// The logical lines of a component in the file's own bytes, folding kept, the
// BEGIN and END lines and nested blocks included.
QList<QByteArray> logicalLines(const QByteArray& component, const QByteArray& lineEnd) {
    QList<QByteArray> lines;
    for (const QByteArray& line : component.split(lineEnd.back())) {
        const QByteArray physical =
            lineEnd.size() == 2 && line.endsWith('\r') ? line.chopped(1) : line;
        if (!lines.isEmpty() && (physical.startsWith(' ') || physical.startsWith('\t')))
            lines.back() += lineEnd + physical;
        else
            lines.append(physical);
    }
    return lines;
}

// The names of the properties whose values the record holds differently.
QSet<QByteArray> changedNames(const QL_ToDo& a, const QL_ToDo& b) {
    QSet<QByteArray> names;
    auto note = [&](bool differs, const char* name) {
        if (differs)
            names.insert(name);
    };
    note(a.theSummary() != b.theSummary(), "SUMMARY");
    note(a.theUID() != b.theUID(), "UID");
    note(a.theCreationDate() != b.theCreationDate(), "DTSTART");
    note(a.theDescription() != b.theDescription(), "DESCRIPTION");
    note(a.theURL() != b.theURL(), "URL");
    note(a.theStatus() != b.theStatus(), "STATUS");
    note(a.thePriority() != b.thePriority(), "PRIORITY");
    note(a.theCompletedDate() != b.theCompletedDate(), "COMPLETED");
    note(a.theDueDate() != b.theDueDate(), "DUE");
    note(a.isComplete() != b.isComplete(), "PERCENT-COMPLETE");
    return names;
}

// The lines that stand for the same thing before and after a rewrite: all but those of
// the changed properties and the revision lines.
QList<QByteArray> keptLines(const QList<QByteArray>& lines, const QSet<QByteArray>& changed) {
    QList<QByteArray> kept;
    for (const QByteArray& line : lines) {
        QByteArray name = line.left(line.indexOf(':'));
        name = name.left(name.indexOf(';') < 0 ? name.size() : name.indexOf(';')).toUpper();
        if (changed.contains(name) || name == "DTSTAMP" || name == "LAST-MODIFIED" ||
            name == "SEQUENCE")
            continue;
        kept.append(line);
    }
    std::sort(kept.begin(), kept.end());
    return kept;
}

} // namespace

class TestWriterRoundTrip : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        platform::setAlertResponder([](const platform::Alert& alert) {
            qWarning("unexpected alert: %s", qPrintable(alert.title));
            return platform::AlertFirstButton;
        });
        platform::Clock::setFixedNow(QDateTime(QDate(2007, 1, 12), QTime(9, 30)));
    }

    void everyChangeKeepsTheRest() {
        const quint32 seed = qEnvironmentVariableIsSet("QUILLO_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("QUILLO_SEED"))
                                 : std::random_device()();
        Generator gen(seed);
        QTemporaryDir dir;
        const QString path = dir.filePath("corestorage.ics");
        QString context;
        struct Reporter {
            const quint32& seed;
            const QString& context;
            ~Reporter() {
                if (QTest::currentTestFailed())
                    qWarning("seed %u (rerun with QUILLO_SEED=%u); %s", seed, seed,
                             qPrintable(context));
            }
        } reporter{seed, context};

        int changes = 0;
        for (int store = 0; store < 80; ++store) {
            QVERIFY(putFile(path, gen.store().toUtf8()));
            for (std::size_t i = 0; i < readToDosOfFile(path).size(); ++i) {
                const QByteArray beforeBytes = fileBytes(path);
                const QString before = ql::normalizeLineEndings(QString::fromUtf8(beforeBytes));
                const ToDos read = readToDos(before);
                if (i >= read.size())
                    break;
                const int op = gen.uniform(0, 4);
                context = QStringLiteral("store %1, to-do %2, change %3").arg(store).arg(i).arg(op);
                std::shared_ptr<QL_ToDo> toDo = read.at(i)->copyToDo();
                const QString raw = toDo->theRawData().value_or(QString());
                QCOMPARE(before.count(raw), qsizetype(1));
                int action = QLWriteActionReplace;
                switch (op) {
                case 0:
                    toDo->setStatus(QStringLiteral("COMPLETED"));
                    toDo->setCompletedDate(QStringLiteral("20070112T083000Z"));
                    break;
                case 1:
                    toDo->setStatus(std::nullopt);
                    toDo->setCompletedDate(std::nullopt);
                    break;
                case 2:
                    toDo->setSummary(escapedForSetter(gen.text()));
                    toDo->setDescription(gen.chance(70)
                                             ? std::optional(escapedForSetter(gen.text()))
                                             : std::nullopt);
                    toDo->setURL(gen.chance(50) ? std::optional(escapedForSetter(gen.text()))
                                                : std::nullopt);
                    toDo->setSequence(toDo->theSequence().value_or(0) + 1);
                    break;
                case 3:
                    action = QLWriteActionRemove;
                    break;
                default:
                    action = QLWriteActionAdd;
                    toDo = std::make_shared<QL_ToDo>(
                        QStringLiteral("added-%1").arg(changes), escapedForSetter(gen.text()),
                        QStringLiteral("20070112T083000Z"), std::nullopt, std::nullopt, 0.0,
                        QStringLiteral("cal"), QStringLiteral("Cal"), std::nullopt, std::nullopt);
                    if (gen.chance(50))
                        toDo->setDescription(escapedForSetter(gen.text()));
                    if (gen.chance(50))
                        toDo->setDueDate(gen.date());
                    break;
                }
                QVERIFY(toDo->writeToCalendar(path, action));
                ++changes;

                const QByteArray after = fileBytes(path);
                const ToDos back = readToDos(ql::normalizeLineEndings(QString::fromUtf8(after)));
                ToDos expected = read;
                // Outside the changed component every byte is as before, line ends too.
                const QByteArray lineEnd = lineEndOf(beforeBytes);
                if (action == QLWriteActionAdd) {
                    const qsizetype at = calendarEnd(beforeBytes, lineEnd);
                    QVERIFY(after.startsWith(beforeBytes.left(at)));
                    QVERIFY(after.endsWith(beforeBytes.mid(at)));
                    expected.push_back(expectedOnReading(*toDo));
                } else {
                    const QByteArray rawBytes = raw.toUtf8().replace("\r\n", lineEnd);
                    const qsizetype at = beforeBytes.indexOf(rawBytes);
                    const QByteArray suffix = beforeBytes.mid(at + rawBytes.size());
                    QVERIFY(after.startsWith(beforeBytes.left(at)));
                    if (action == QLWriteActionRemove) {
                        QCOMPARE(after, beforeBytes.left(at) + suffix.mid(lineEnd.size()));
                        expected.erase(expected.begin() + qsizetype(i));
                    } else {
                        QVERIFY(after.endsWith(suffix));
                        expected[i] = expectedOnReading(*toDo);
                        // Every line of the component that the change is not about stays
                        // byte for byte, and none is added.
                        const QByteArray component =
                            after.sliced(at, after.size() - at - suffix.size());
                        const QSet<QByteArray> changed = changedNames(*read.at(i), *toDo);
                        const QList<QByteArray> wasKept =
                            keptLines(logicalLines(rawBytes, lineEnd), changed);
                        const QList<QByteArray> isKept =
                            keptLines(logicalLines(component, lineEnd), changed);
                        QCOMPARE(isKept, wasKept);
                        QVERIFY(!component.contains("\r\n") || lineEnd == "\r\n");
                    }
                }
                QCOMPARE(back.size(), expected.size());
                for (std::size_t k = 0; k < back.size(); ++k)
                    QCOMPARE(fieldsOf(*back[k]), fieldsOf(*expected[k]));
            }
        }
        qInfo("seed %u: %d changes written and read back", seed, changes);
        QVERIFY(changes >= 150);
    }
};

QUILLO_TEST_MAIN_CORE(TestWriterRoundTrip)
#include "tst_writer_roundtrip.moc"
