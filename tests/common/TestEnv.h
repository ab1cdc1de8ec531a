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
