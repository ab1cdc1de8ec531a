#pragma once

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <mutex>

namespace testenv {

// Points HOME and the XDG folders at a fresh temporary tree for the life of the
// process, so no test touches the real user's files. Call before any Qt object exists.
void isolateHome();
QString home();
QString dataHome();   // $XDG_DATA_HOME
QString configHome(); // $XDG_CONFIG_HOME

// Switches the process's time zone (TZ plus tzset) for date tests.
void setTimeZone(const QByteArray& tz);

// Collects the system log lines written while it lives.
class LogRecorder {
public:
    LogRecorder();
    ~LogRecorder();
    LogRecorder(const LogRecorder&) = delete;
    LogRecorder& operator=(const LogRecorder&) = delete;

    QStringList lines() const;
    bool contains(const QString& line) const;
    void clear();

private:
    mutable std::mutex m_mutex;
    QStringList m_lines;
};

// What a program run to its end gave: its exit code (-1 when it did not start, crashed
// or ran past the time allowed) and its output.
struct ProgramRun {
    int code = -1;
    QString out;
    QString err;
};
// Runs a program with input on its standard input, in folder when one is given.
ProgramRun runProgram(const QString& program, const QStringList& args, const QByteArray& input = {},
                      const QString& folder = {});

// Sets or clears the immutable flag of a folder: the one way to make a folder
// unwritable that also holds for the superuser. False when the file system cannot.
bool setImmutable(const QString& folder, bool on);

} // namespace testenv

// QTEST_MAIN with the isolated home set up before the application object.
#define QUILLO_TEST_MAIN(TestClass)                                                                \
    int main(int argc, char** argv) {                                                              \
        testenv::isolateHome();                                                                    \
        QApplication app(argc, argv);                                                              \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestClass tc;                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }

#define QUILLO_TEST_MAIN_CORE(TestClass)                                                           \
    int main(int argc, char** argv) {                                                              \
        testenv::isolateHome();                                                                    \
        QCoreApplication app(argc, argv);                                                          \
        TestClass tc;                                                                              \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
